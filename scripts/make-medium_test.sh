#!/usr/bin/env bash
# Runs make-medium.sh against small MSIs built with wixl and patched with msibuild, and signs
# media with a certificate made here. Needs wixl, msibuild and msiinfo (msitools), openssl,
# osslsigncode, the built Launch.exe of both presets, and Wine for one signed medium.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in wixl msibuild msiinfo openssl osslsigncode; do
  command -v "$tool" >/dev/null || { echo "$0: $tool not found (scripts/setup.sh)" >&2; exit 2; }
done
build=$here/../build
for file in win32/Launch.exe win64/Launch.exe win64/tests/wine/stand_in.exe; do
  [[ -f $build/$file ]] || { echo "$0: build/$file not found: build first" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/make-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

# The script is run from a copy in a repository of its own, so that the default Launch.exe is
# one the test controls and not whatever the last build left.
repo=$work/repo
mkdir -p "$repo/scripts" "$repo/build/win32"
cp "$here/make-medium.sh" "$here/make-medium.py" "$here/pe.py" "$repo/scripts/"
# The smallest file that passes for a Windows executable: "MZ", the offset of the PE header at
# 0x3c, "PE\0\0" there, a file header with a machine (i386 4c01, x86-64 6486) and no sections,
# an optional header of zeros but its magic (PE32 0b01, PE32+ 0b02), then a marker of its own.
# The files the table's setup and launch columns name are $work/setup-KIND.exe and
# $work/launch-KIND.exe; there is none for "none".
fake_pe() {
  {
    printf 'MZ%58s\x40\0\0\0PE\0\0' ''
    printf %b "\\x${1:0:2}\\x${1:2:2}" && head -c 14 /dev/zero
    printf %b "\\xf0\\0\\x02\\0\\x${2:0:2}\\x${2:2:2}" && head -c 238 /dev/zero
    printf '%s' "$4"
  } >"$3"
}
fake_pe 4c01 0b01 "$repo/build/win32/Launch.exe" 'default launcher'
fake_pe 4c01 0b01 "$work/launch-explicit.exe" 'explicit launcher'
fake_pe 6486 0b02 "$work/launch-x64.exe" '64-bit launcher'
fake_pe 4c01 0b01 "$work/setup-pe.exe" setup
printf 'MZ but no PE header after it, as in a DOS program%100s' '' >"$work/setup-mz.exe"
printf 'not an executable\r\n' |
  tee "$work/setup-text.exe" "$work/launch-text.exe" "$work/textpfx.pfx" >"$work/text.txt"
# The real launcher, to sign; the build's own copy must stay as it is.
cp "$build/win32/Launch.exe" "$work/launch-real.exe"

# Throwaway certificates as a release engineer would make them, one without the code-signing use;
# they and the password files are named after the sign: option of the table that uses them.
printf 'test password\n' >"$work/password-good"
printf 'wrong password\n' >"$work/password-wrongpass"
# As an editor on Windows saves it, without a line end, and with a CR that is part of it.
printf 'test password\r\n' >"$work/password-crlf"
printf 'test password' >"$work/password-nonl"
printf 'test password\r' >"$work/password-cronly"
for kind in good noeku; do
  eku=codeSigning
  [[ $kind == good ]] || eku=serverAuth
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessaro Test $kind" \
    -addext "extendedKeyUsage=$eku" -keyout "$work/$kind.key" -out "$work/$kind.crt" 2>/dev/null
  openssl pkcs12 -export -inkey "$work/$kind.key" -in "$work/$kind.crt" \
    -passout "file:$work/password-good" -out "$work/$kind.pfx"
done

# A package as the README asks for one: Tessaro.exe in INSTALLDIR, and ARPINSTALLLOCATION set to
# that folder by a type 51 action between CostFinalize (1000) and RegisterProduct (6100).
printf 'the product\r\n' >"$work/Tessaro.exe"
cat >"$work/product.wxs" <<'EOF'
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}" Name="Tessaro" Manufacturer="Tessaro Test"
           Version="3.9.0" UpgradeCode="{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}" Language="1033">
    <Package InstallerVersion="200" Compressed="yes"/>
    <Media Id="1" Cabinet="product.cab" EmbedCab="yes"/>
    <Directory Id="TARGETDIR" Name="SourceDir">
      <Directory Id="ProgramFilesFolder">
        <Directory Id="INSTALLDIR" Name="Tessaro">
          <Component Id="Main" Guid="{2B8E4C1A-6D3F-4A70-9E15-7C0B3D9A1F42}">
            <File Id="TessaroExe" Name="Tessaro.exe" Source="Tessaro.exe" KeyPath="yes"/>
          </Component>
        </Directory>
      </Directory>
    </Directory>
    <Feature Id="Main" Level="1"><ComponentRef Id="Main"/></Feature>
    <CustomAction Id="SetArpInstallLocation" Property="ARPINSTALLLOCATION" Value="[INSTALLDIR]"
                  Impersonate="yes"/>
    <InstallExecuteSequence><Custom Action="SetArpInstallLocation" Sequence="1001"/></InstallExecuteSequence>
  </Product>
</Wix>
EOF
wixl -o "$work/good.msi" "$work/product.wxs"
wixl -a x64 -o "$work/x64.msi" "$work/product.wxs"
# What --add is given: a file, a folder, and names that clash with one of them or the medium's.
mkdir -p "$work/extra/docs/sub" "$work/other/docs"
cp "$work/good.msi" "$work/extra/Tessaro-3.9.0.msi"
echo 'read me' >"$work/extra/docs/readme.txt" && echo 'deeper' >"$work/extra/docs/sub/a.txt"
cp "$work/setup-pe.exe" "$work/extra/setup.exe"
# A signed Setup.exe: the real launcher stands in for one.
osslsigncode sign -pkcs12 "$work/good.pfx" -readpass "$work/password-good" -h sha256 \
  -in "$build/win32/Launch.exe" -out "$work/setup-signed.exe" >/dev/null

# Turns an MSI column of the table below into a file: "good" (x86), "x64", "arm64", "none" (no
# such file), "text", "del:PROPERTY", "set:PROPERTY=VALUE" or "sql:QUERY[;QUERY]..." run on
# "good" (VALUE and QUERY with printf escapes).
make_msi() {
  local kind=$1 out=$2
  case $kind in
    good | x64) cp "$work/$kind.msi" "$out" ;;
    arm64) cp "$work/good.msi" "$out" &&
      msibuild "$out" -s "Installation Database" "Tessaro Test" "Arm64;1033" ;;
    none) ;;
    text) cp "$work/text.txt" "$out" ;;
    del:*) make_msi "sql:DELETE FROM Property WHERE Property='${kind#del:}'" "$out" ;;
    set:*)
      local property=${kind#set:} value=${kind#set:*=}
      make_msi "sql:UPDATE Property SET Value='$value' WHERE Property='${property%%=*}'" "$out"
      ;;
    sql:*)
      local queries query msibuild_args=()
      IFS=';' read -r -a queries <<<"${kind#sql:}"
      for query in "${queries[@]}"; do msibuild_args+=(-q "$(printf '%b' "$query")"); done
      cp "$work/good.msi" "$out" && msibuild "$out" "${msibuild_args[@]}" >/dev/null
      ;;
    *) echo "bad msi kind: $kind" >&2; exit 2 ;;
  esac
}

# Each case calls start, then fail at most once: a case that does not fail has passed.
case_number=0
failed=0
start() {
  name=$1
  case_number=$((case_number + 1))
}
fail() {
  echo "FAIL $name: $*"
  failed=$((failed + 1))
}

listing() { (cd "$1" && find . -mindepth 1 -printf '%p %s\n' | sort); }

# Whether --check on the medium just made passes, if it is signed, and reports what the row
# expects of the MSI's install location (options "arp=TEXT": a failure saying TEXT, also warned
# about when it was made), of Setup.exe's signature, and of the files added.
checked() {
  local name arp=${options#*arp=} setup_line='^warn  Setup.exe: unsigned'
  [[ $setup != signed ]] || setup_line='^ok    Setup.exe: signature verifies'
  "$repo/scripts/make-medium.sh" --check "$out_dir" "$dir/in/product.msi" >"$dir/check" 2>&1 ||
    [[ $options != *sign:* ]] || return 1
  if [[ $options == *arp=* ]]; then
    grep '^FAIL  MSI: ' "$dir/check" | grep -qF "$arp" && grep -qF "$arp" "$dir/stderr"
  else
    grep -qF 'ok    MSI: ARPINSTALLLOCATION is the folder of Tessaro.exe' "$dir/check"
  fi && grep -q "$setup_line" "$dir/check" || return 1
  for name in "${names[@]}"; do
    grep '^note  also on the medium: ' "$dir/check" | grep -qF "$name" || return 1
  done
}

# Whether every path given to --add is on the medium as it was.
added_intact() {
  local add
  for add in "${adds[@]}"; do diff -r -- "$add" "$out_dir/$(basename -- "$add")" >/dev/null || return 1; done
}

# name | msi | setup | launch | out | expected status | TS_INF bytes, or a part of stderr
#   [| options]
#   setup:  pe, signed (a signed one), none, text, mz (only starts with "MZ")
#   launch: explicit, default, none, text, x64 (a 64-bit one), real (build/win32/Launch.exe)
#   out:    new, spaced (a name with spaces), empty (existing empty directory), full (holds a
#           file), file (a regular file), orphan (parent missing), slash (given with a "/")
#   options: warns (a warning on stderr), sign:KIND with KIND one of good, wrongpass, nopfx,
#           textpfx, noeku, nopass, badtsa (an unreachable time-stamp server), crlf, nonl, cronly
#           (password files), noopt (no --password-file); add:KIND with KIND one of file, folder,
#           both, clash (named setup.exe), missing, twice (two folders named docs), dot ("."); last
#           arp=TEXT (the warning and --check's failure on the install location say TEXT)
cases=$(cat <<'EOF'
typical version           | good                               | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
default launcher          | good                               | pe   | default  | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
one field                 | set:ProductVersion=7               | pe   | explicit | new    | fail | three or four fields
four fields, zeros        | set:ProductVersion=10.0.00.65535   | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},10.0.00.65535\r\n | warns
largest fields            | set:ProductVersion=255.255.65535   | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},255.255.65535\r\n
two fields                | set:ProductVersion=3.9             | pe   | explicit | new    | fail | three or four fields
five fields               | set:ProductVersion=3.9.0.0.1       | pe   | explicit | new    | fail | three or four fields
major too large           | set:ProductVersion=256.0.0         | pe   | explicit | new    | fail | major and minor at most 255
minor too large           | set:ProductVersion=3.0256.0        | pe   | explicit | new    | fail | major and minor at most 255
build too large           | set:ProductVersion=3.9.65536       | pe   | explicit | new    | fail | build and the fourth at most 65535
x64 package, 64-bit build | x64                                | pe   | x64      | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
x64 package, 32-bit build | x64                                | pe   | explicit | new    | fail | Launch.exe (i386) cannot see a package built for x64
x64 package, default      | x64                                | pe   | default  | new    | fail | Launch.exe (i386) cannot see a package built for x64
x86 package, 64-bit build | good                               | pe   | x64      | new    | fail | Launch.exe (x86-64) cannot see a package built for Intel
Arm64 package             | arm64                              | pe   | explicit | new    | fail | cannot see a package built for Arm64
signed                    | good                               | pe   | real     | orphan | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | sign:good
wrong password            | good                               | pe   | real     | orphan | fail | wrong password for the certificate file | sign:wrongpass
missing certificate file  | good                               | pe   | real     | new    | fail | certificate file not found            | sign:nopfx
certificate file no PFX   | good                               | pe   | real     | new    | fail | not a PKCS#12 certificate file        | sign:textpfx
no code-signing usage     | good                               | pe   | real     | new    | fail | not for code signing                  | sign:noeku
missing password file     | good                               | pe   | real     | new    | fail | password file not found               | sign:nopass
time-stamp server down    | good                               | pe   | real     | orphan | fail | no time stamp from http://127.0.0.1:9/ | sign:badtsa
other product code        | set:ProductCode={0A1B2C3D-0000-FFFF-9999-ABCDEF012345} | pe | explicit | new | ok | {0A1B2C3D-0000-FFFF-9999-ABCDEF012345},3.9.0\r\n
name with spaces          | good                               | pe   | explicit | spaced | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
trailing slash            | good                               | pe   | explicit | slash  | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
existing empty directory  | good                               | pe   | explicit | empty  | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
missing Setup.exe         | good                               | none | explicit | new    | fail | Setup.exe not found
Setup.exe not a program   | good                               | text | explicit | new    | fail | Setup.exe is not a Windows executable
Setup.exe only says MZ    | good                               | mz   | explicit | new    | fail | Setup.exe is not a Windows executable
missing Launch.exe        | good                               | pe   | none     | new    | fail | Launch.exe not found
Launch.exe not a program  | good                               | pe   | text     | new    | fail | Launch.exe is not a Windows executable
missing MSI               | none                               | pe   | explicit | new    | fail | MSI not found
not an MSI                | text                               | pe   | explicit | new    | fail | not a Windows Installer database
no ProductCode            | del:ProductCode                    | pe   | explicit | new    | fail | no ProductCode property
no ProductVersion         | del:ProductVersion                 | pe   | explicit | new    | fail | no ProductVersion property
lower-case code           | set:ProductCode={6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8} | pe | explicit | new | fail | not a braced upper-case GUID
code without braces       | set:ProductCode=6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8 | pe | explicit | new | fail | not a braced upper-case GUID
code with a non-hex digit | set:ProductCode={6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7EG} | pe | explicit | new | fail | not a braced upper-case GUID
code grouped wrongly      | set:ProductCode={6F1C2A3B4-D5E-4F60-8172-93A4B5C6D7E8} | pe | explicit | new | fail | not a braced upper-case GUID
code one digit short      | set:ProductCode={6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E} | pe | explicit | new | fail | not a braced upper-case GUID
code with trailing space  | set:ProductCode={6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}\x20 | pe | explicit | new | fail | not a braced upper-case GUID
empty version             | set:ProductVersion=                | pe   | explicit | new    | fail | digits separated by single dots
two dots in a row         | set:ProductVersion=1..2            | pe   | explicit | new    | fail | digits separated by single dots
leading dot               | set:ProductVersion=.1.2            | pe   | explicit | new    | fail | digits separated by single dots
trailing dot              | set:ProductVersion=1.2.            | pe   | explicit | new    | fail | digits separated by single dots
letter in version         | set:ProductVersion=1.2a            | pe   | explicit | new    | fail | digits separated by single dots
comma in version          | set:ProductVersion=1,2             | pe   | explicit | new    | fail | digits separated by single dots
sign in version           | set:ProductVersion=-1.2            | pe   | explicit | new    | fail | digits separated by single dots
trailing space in version | set:ProductVersion=1.2\x20         | pe   | explicit | new    | fail | digits separated by single dots
version too long          | set:ProductVersion=LONG_VERSION    | pe   | explicit | new    | fail | three or four fields
OUT_DIR not empty         | good                               | pe   | explicit | full   | fail | OUT_DIR exists and is not empty
OUT_DIR a file            | good                               | pe   | explicit | file   | fail | OUT_DIR exists and is not a directory
OUT_DIR parent missing    | good                               | pe   | explicit | orphan | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
no ARPINSTALLLOCATION     | sql:DELETE FROM CustomAction       | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=sets no ARPINSTALLLOCATION
ARPINSTALLLOCATION, type 35 | sql:UPDATE CustomAction SET Type=35 | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=sets no ARPINSTALLLOCATION
type 51 not impersonating | sql:UPDATE CustomAction SET Type=2099 | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
ARPINSTALLLOCATION too late | sql:UPDATE InstallExecuteSequence SET Sequence=6601 WHERE Action='SetArpInstallLocation' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=does not run between CostFinalize and RegisterProduct
ARPINSTALLLOCATION too early | sql:UPDATE InstallExecuteSequence SET Sequence=950 WHERE Action='SetArpInstallLocation' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=does not run between CostFinalize and RegisterProduct
ARPINSTALLLOCATION unscheduled | sql:DELETE FROM InstallExecuteSequence WHERE Action='SetArpInstallLocation' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=does not run between CostFinalize and RegisterProduct
ARPINSTALLLOCATION elsewhere | sql:UPDATE CustomAction SET Target='[ProgramFilesFolder]' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=holds no Tessaro.exe directly
ARPINSTALLLOCATION a path | sql:UPDATE CustomAction SET Target='[ProgramFilesFolder]Tessaro' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=cannot be told
Tessaro.exe one folder up | sql:UPDATE Component SET Directory_='ProgramFilesFolder' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=holds no Tessaro.exe directly
Tessaro.exe renamed       | sql:UPDATE File SET FileName='Tessaro64.exe' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=holds no Tessaro.exe directly
Tessaro.exe, short name too | sql:UPDATE File SET FileName='TESSARO.EXE\x7cTessaro.exe' | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
ARPINSTALLLOCATION property | sql:DELETE FROM CustomAction;INSERT INTO Property (Property, Value) VALUES ('ARPINSTALLLOCATION', 'C:\\Program Files (x86)\\Tessaro\\') | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
property names elsewhere  | sql:DELETE FROM CustomAction;INSERT INTO Property (Property, Value) VALUES ('ARPINSTALLLOCATION', 'C:\\Program Files (x86)\\Other\\') | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | arp=holds no Tessaro.exe directly
added file                | good                               | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | add:file
added folder              | good                               | pe   | explicit | spaced | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | add:folder
added file and folder     | good                               | pe   | default  | orphan | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | add:both
added and signed          | good                               | pe   | real     | orphan | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | sign:good add:both
added, no time stamp      | good                               | pe   | real     | orphan | fail | no time stamp from | sign:badtsa add:both
added as setup.exe        | good                               | pe   | explicit | new    | fail | would take the place of the medium's own setup.exe | add:clash
added path missing        | good                               | pe   | explicit | new    | fail | --add: not found | add:missing
added name twice          | good                               | pe   | explicit | new    | fail | two of the paths given have the name docs | add:twice
added path without a name | good                               | pe   | explicit | new    | fail | has no name of its own | add:dot
signed Setup.exe          | good                               | signed | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
password with CR LF       | good                               | pe   | real     | orphan | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | sign:crlf
password without line end | good                               | pe   | real     | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n | sign:nonl
password with a CR of its own | good                               | pe   | real     | new    | fail | wrong password for the certificate file | sign:cronly
--sign alone              | good                               | pe   | real     | new    | fail | --sign PFX needs --password-file FILE | sign:noopt
EOF
)

# More than the launcher's line buffer of 260 bytes holds.
cases=${cases//LONG_VERSION/$(printf '1.%.0s' {1..108})1234}

signed_medium=
shopt -s extglob
while IFS='|' read -r -a row; do
  # The columns without the blanks that line them up.
  row=("${row[@]##+( )}") && row=("${row[@]%%+( )}")
  start "${row[0]}"
  msi_spec=${row[1]} setup=${row[2]} launch=${row[3]} out=${row[4]}
  status=${row[5]} expected=${row[6]} options=${row[7]-}
  dir=$work/case$case_number
  mkdir -p "$dir/in" "$dir/parent"

  make_msi "$msi_spec" "$dir/in/product.msi"
  [[ $setup == none ]] || cp "$work/setup-$setup.exe" "$dir/in/Setup.exe"
  args=()
  if [[ $options =~ sign:([a-z]+) ]]; then
    sign=${BASH_REMATCH[1]} pfx=$work/good.pfx password=$work/password-good
    case $sign in
      wrongpass | crlf | nonl | cronly) password=$work/password-$sign ;;
      textpfx | noeku) pfx=$work/$sign.pfx ;;
      nopfx) pfx=$dir/in/none.pfx ;;
      nopass) password=$dir/in/none.txt ;;
      badtsa) args+=(--timestamp http://127.0.0.1:9/) ;;
      noopt) password= ;;
    esac
    args+=(--sign "$pfx" ${password:+--password-file "$password"})
  fi
  case $options in
    *add:file*) adds=("$work/extra/Tessaro-3.9.0.msi") ;;
    *add:folder*) adds=("$work/extra/docs") ;;
    *add:both*) adds=("$work/extra/Tessaro-3.9.0.msi" "$work/extra/docs/") ;;
    *add:clash*) adds=("$work/extra/setup.exe") ;;
    *add:missing*) adds=("$dir/in/none.msi") ;;
    *add:twice*) adds=("$work/extra/docs" "$work/other/docs") ;;
    *add:dot*) adds=(.) ;;
    *) adds=() ;;
  esac
  names=()
  for add in "${adds[@]}"; do
    args+=(--add "$add")
    names+=("$(basename -- "$add")")
  done
  args+=("$dir/in/Setup.exe" "$dir/in/product.msi")
  out_dir=$dir/parent/medium
  case $out in
    new) ;;
    spaced) out_dir="$dir/parent/my medium 1" ;;
    slash) args+=("$out_dir/") ;;
    empty) mkdir "$out_dir" ;;
    full) mkdir "$out_dir" && echo keep >"$out_dir/old.txt" ;;
    file) echo keep >"$out_dir" ;;
    orphan) out_dir=$dir/parent/missing/medium ;;
  esac
  [[ $out == slash ]] || args+=("$out_dir")
  if [[ $launch == default ]]; then
    launch_source=$repo/build/win32/Launch.exe
  else
    launch_source=$work/launch-$launch.exe
    args+=("$launch_source")
  fi

  before=$(listing "$dir/parent")
  rc=0
  (cd "$dir" && "$repo/scripts/make-medium.sh" "${args[@]}") >"$dir/stdout" 2>"$dir/stderr" || rc=$?

  if [[ $status == ok ]]; then
    if [[ $rc -ne 0 ]]; then
      fail "exit status $rc: $(cat "$dir/stderr")"
    elif [[ $(find "$out_dir" -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ') != \
      "$(printf '%s\n' Launch.exe Setup.exe TS_INF "${names[@]}" | sort | tr '\n' ' ')" ]]; then
      fail "unexpected medium contents: $(find "$out_dir" -mindepth 1 -maxdepth 1 -printf '%f ')"
    elif ! added_intact; then
      fail "an added path differs on the medium"
    elif ! cmp -s <(printf '%b' "$expected") "$out_dir/TS_INF"; then
      fail "TS_INF is $(od -An -c "$out_dir/TS_INF" | tr -s ' \n' ' ')"
    elif [[ $options != *sign:* ]] && ! cmp -s "$launch_source" "$out_dir/Launch.exe"; then
      fail "Launch.exe differs from its source"
    elif ! cmp -s "$dir/in/Setup.exe" "$out_dir/Setup.exe"; then
      fail "Setup.exe differs from its source"
    elif [[ $(find "$dir/parent" -mindepth 1 -maxdepth 1 | wc -l) -ne 1 ]]; then
      fail "staging directory left behind: $(ls -A "$dir/parent")"
    elif [[ $options == *warns* || $options == *arp=* ]] && ! grep -q warning "$dir/stderr" ||
      [[ $options != *warns* && $options != *arp=* && -s $dir/stderr ]]; then
      fail "stderr: $(cat "$dir/stderr")"
    elif ! checked; then
      fail "--check: $(cat "$dir/check")"
    elif [[ $options == *sign:* ]] &&
      ! grep -qF "$(sha256sum <"$build/win32/Launch.exe" | cut -d' ' -f1)" "$dir/check"; then
      fail "the check does not give the build's SHA-256: $(cat "$dir/check")"
    elif [[ $options == *sign:* ]] && ! cmp -s "$build/win32/Launch.exe" "$launch_source"; then
      fail "signing changed the Launch.exe it was given"
    fi
    [[ $options == *sign:* ]] && signed_medium=$out_dir
  else
    if [[ $rc -eq 0 ]]; then
      fail "succeeded, expected an error"
    elif ! grep -qF -- "$expected" "$dir/stderr"; then
      fail "stderr lacks '$expected': $(cat "$dir/stderr")"
    elif [[ $(grep -vc '^make-medium: warning: ' "$dir/stderr") -ne 1 ]]; then
      fail "more than one line on stderr: $(cat "$dir/stderr")"
    elif [[ $(listing "$dir/parent") != "$before" ]]; then
      fail "wrote something: $(listing "$dir/parent")"
    fi
  fi
done <<<"$cases"

# A wrong number of arguments is answered with the usage text and status 2, before anything is
# looked at.
for count in 0 1 2 5; do
  start "usage with $count arguments"
  mapfile -t args < <(seq -f "$work/arg%g" "$count")
  rc=0
  "$repo/scripts/make-medium.sh" "${args[@]}" >/dev/null 2>"$work/usage.err" || rc=$?
  if [[ $rc -ne 2 ]] || ! grep -q '^usage:' "$work/usage.err"; then
    fail "status $rc, stderr: $(cat "$work/usage.err")"
  fi
done

# The signed medium from the table: its Launch.exe is still the program that ships (imports,
# manifest, size), and one changed byte is found.
start "signed Launch.exe passes the artifact checks"
if [[ -z $signed_medium ]]; then
  fail "no signed medium was made"
elif ! bash "$here/../tests/artifact/check_artifact.sh" "$signed_medium/Launch.exe" >"$work/artifact" 2>&1; then
  fail "$(grep -v ^PASS "$work/artifact")"
fi
start "signed Launch.exe changed after signing"
tampered=$work/tampered
cp -r "$signed_medium" "$tampered"
# A byte of the code, well inside the signed part of the file.
printf '\x90' | dd of="$tampered/Launch.exe" bs=1 seek=4200 conv=notrunc status=none
if cmp -s "$signed_medium/Launch.exe" "$tampered/Launch.exe"; then
  printf '\xcc' | dd of="$tampered/Launch.exe" bs=1 seek=4200 conv=notrunc status=none
fi
rc=0
"$repo/scripts/make-medium.sh" --check "$tampered" >"$work/tampered.out" 2>&1 || rc=$?
if [[ $rc -eq 0 ]] || ! grep -q '^FAIL  Launch.exe: signed, but the signature does not verify' "$work/tampered.out"; then
  fail "status $rc: $(cat "$work/tampered.out")"
fi

# A signed 64-bit medium (the Wine here runs 64-bit programs only) starts its installer: a
# stand-in that records its command line. The product code is one no test installs.
start "signed medium starts the installer under Wine"
wine_case=$work/wine
mkdir -p "$wine_case/in"
msibuild "$work/x64.msi" -q \
  "UPDATE Property SET Value='{5D1E0C4B-7A2F-4E39-9B6C-1F0A2B3C4D5E}' WHERE Property='ProductCode'"
cp "$build/win64/tests/wine/stand_in.exe" "$wine_case/in/Setup.exe"
if ! "$repo/scripts/make-medium.sh" --sign "$work/good.pfx" --password-file "$work/password-good" \
  "$wine_case/in/Setup.exe" "$work/x64.msi" "$wine_case/medium" "$build/win64/Launch.exe" \
  >"$wine_case/make.out" 2>&1; then
  fail "$(cat "$wine_case/make.out")"
elif ! "$repo/scripts/make-medium.sh" --check "$wine_case/medium" "$work/x64.msi" \
  >"$wine_case/check.out" 2>&1; then
  fail "check: $(cat "$wine_case/check.out")"
elif ! timeout 120 bash "$here/run-in-wine.sh" "$wine_case/medium/Launch.exe" \
  >"$wine_case/run.out" 2>&1; then
  fail "run-in-wine.sh: $(cat "$wine_case/run.out")"
elif ! grep -qF 'command_line="Z:' "$wine_case/medium/Setup.record" ||
  ! grep -qF 'Setup.exe" "/v LAUNCH=Enable"' "$wine_case/medium/Setup.record"; then
  fail "record: $(cat "$wine_case/medium/Setup.record" 2>&1)"
fi

echo "$((case_number - failed)) passed, $failed failed"
[[ $failed -eq 0 ]]
