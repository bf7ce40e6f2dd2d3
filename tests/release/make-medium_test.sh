#!/usr/bin/env bash
# Runs make-medium.sh for real (make, sign, check, refuse, tamper) on the sample's packages of
# Tessaro 3.9.0, patched with msibuild, signing with a certificate made here; its pure checks are
# the Python tables of make_medium_test.py. Needs msitools, openssl, osslsigncode, xorriso, the
# build of both presets, and Wine for one signed medium.
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
scripts=$tessaro_root/scripts build=$tessaro_root/build
for tool in msibuild msiinfo openssl osslsigncode wixl xorriso; do
  command -v "$tool" >/dev/null || { echo "$0: $tool not found (scripts/setup.sh)" >&2; exit 2; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/make-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
# The files of the words setup:KIND and launch:KIND, and the sample's packages as the README asks
# for them: Tessaro.exe in INSTALLDIR, and ARPINSTALLLOCATION set to that folder by the type 51
# action SetArpInstallLocation between CostFinalize and RegisterProduct.
for file in win32/Launch.exe:launch-real.exe win64/Launch.exe:launch-x64.exe \
  win64/sample/Setup.exe:setup-pe.exe win64/sample/Tessaro-3.9.0-x86.msi:good.msi \
  win64/sample/Tessaro-3.9.0.msi:x64.msi win64/tests/wine/stand_in.exe:stand_in.exe; do
  [[ -f $build/${file%:*} ]] || { echo "$0: build/${file%:*} not found: build first" >&2; exit 2; }
  cp "$build/${file%:*}" "$work/${file#*:}"
done
real_sha256=$(sha256sum <"$work/launch-real.exe" | cut -d' ' -f1)
# The script is run from a copy in a repository of its own, so that the default Launch.exe is
# one the test controls and not whatever the last build left. The 32-bit launchers carry a line
# after the image, so that the default one, the one given and the build's own (real) differ.
repo=$work/repo make_medium=$work/repo/scripts/make-medium.sh
mkdir -p "$repo/scripts" "$repo/tools" "$repo/build/win32"
cp "$scripts/make-medium.sh" "$repo/scripts/" && cp -r "$tessaro_root/tools/release" "$repo/tools/"
for kind in default explicit; do
  { cat "$work/launch-real.exe" && echo "$kind launcher"; } >"$work/launch-$kind.exe"
done
cp "$work/launch-default.exe" "$repo/build/win32/Launch.exe"
printf 'MZ but no PE header after it, as in a DOS program%100s' '' >"$work/setup-mz.exe"
printf 'not an executable\r\n' |
  tee "$work/setup-text.exe" "$work/launch-text.exe" "$work/text.pfx" >"$work/text.msi"
# The package changes of the words code:, version:, del:PROPERTY and sql:QUERY (@: the KIND).
declare -A changes=([code]="UPDATE Property SET Value='@' WHERE Property='ProductCode'" [sql]=@
  [version]="UPDATE Property SET Value='@' WHERE Property='ProductVersion'"
  [del]="DELETE FROM Property WHERE Property='@'")
readonly good_code='{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}'
# The next release with a new product code, once as a major upgrade of the good package (its
# Upgrade table takes the sample's UpgradeCode, and RemoveExistingProducts runs), once not.
readonly new_code='{5D1E0C4B-7A2F-4E39-9B6C-1F0A2B3C4D5E}'
for kind in upgrade newcode; do
  cp "$work/good.msi" "$work/$kind.msi"
  msibuild "$work/$kind.msi" -q "${changes[code]//@/$new_code}"
done
msibuild "$work/upgrade.msi" -q "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax, \
Attributes, ActionProperty) VALUES ('{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}', '1.0.0', '3.9.0', \
768, 'OLDER')" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES \
('FindRelatedProducts', 25)" -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES \
('RemoveExistingProducts', 1450)"

# Throwaway certificates as a release engineer would make them, one without the code-signing use,
# and password files: the PFX.pfx and password-PASSWORD of the rows' sign:PFX/PASSWORD.
printf 'test password\n' >"$work/password-good" && printf 'wrong password\n' >"$work/password-wrong"
for kind in good:codeSigning noeku:serverAuth; do
  openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Tessaro Test ${kind%:*}" \
    -addext "extendedKeyUsage=${kind#*:}" -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
  openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" \
    -passout "file:$work/password-good" -out "$work/${kind%:*}.pfx"
done
osslsigncode sign -pkcs12 "$work/good.pfx" -readpass "$work/password-good" -h sha256 \
  -in "$build/win32/Launch.exe" -out "$work/setup-signed.exe" >/dev/null
# What --add is given: a file, a folder, and a name that clashes with the medium's; the paths of
# each add:KIND, from $work (where make-medium.sh runs).
mkdir -p "$work/extra/docs/sub"
cp "$work/good.msi" "$work/extra/Tessaro-3.9.0.msi" && cp "$work/setup-pe.exe" "$work/extra/setup.exe"
echo 'read me' >"$work/extra/docs/readme.txt" && echo 'deeper' >"$work/extra/docs/sub/a.txt"
echo '[autorun]' >"$work/extra/AutoRun.inf"
long=extra/$(printf 'long_name_%.0s' {1..12}).txt # 124 characters, more than Joliet keeps
echo 'long' >"$work/$long"
declare -A added=([file]=extra/Tessaro-3.9.0.msi [folder]=extra/docs [clash]=extra/setup.exe
  [both]="extra/Tessaro-3.9.0.msi extra/docs/" [autorun]=extra/AutoRun.inf [long]=$long)

listing() { (cd "$1" && find . -mindepth 1 -printf '%p %s\n' | sort); }

# run_case RESULT WORD...: makes a medium of what the WORDs give and checks RESULT (see the table).
run_case() {
  local result=$1 word args=() adds=() slash="" rc=0 check_status=0 before said
  local -A opt=([msi]=good [setup]=pe [launch]=explicit [out]=new [sign]="" [add]="" [arp]="")
  shift
  start "$* | $result"
  for word; do opt[${word%%:*}]=${word#*:}; done
  local dir=$work/case$cases launch_source=$work/launch-${opt[launch]}.exe
  local out_dir=$dir/parent/medium iso=$dir/parent/medium.iso
  mkdir -p "$dir/in" "$dir/parent"
  [[ ${opt[msi]} == none ]] || cp "$work/${opt[msi]}.msi" "$dir/in/product.msi"
  for word in "${!changes[@]}"; do
    [[ ! -v opt[$word] ]] || msibuild "$dir/in/product.msi" -q "${changes[$word]//@/${opt[$word]}}"
  done
  [[ ${opt[setup]} == none ]] || cp "$work/setup-${opt[setup]}.exe" "$dir/in/Setup.exe"
  [[ -z ${opt[sign]} ]] || args+=(--sign "$work/${opt[sign]%/*}.pfx")
  [[ ${opt[sign]} != */?* ]] || args+=(--password-file "$work/password-${opt[sign]#*/}")
  [[ ! -v opt[tsa] ]] || args+=(--timestamp "http://${opt[tsa]}/")
  [[ -z ${opt[add]} ]] || read -r -a adds <<<"${added[${opt[add]}]}"
  for word in "${adds[@]}"; do args+=(--add "$word"); done
  [[ ! -v opt[previous] ]] || args+=(--previous "$work/${opt[previous]}.msi")
  case ${opt[out]} in
    spaced) out_dir="$dir/parent/my medium 1" ;;
    slash) slash=/ ;;
    empty) mkdir "$out_dir" ;;
    full) mkdir "$out_dir" && echo keep >"$out_dir/old.txt" ;;
    file) echo keep >"$out_dir" ;;
    orphan) out_dir=$dir/parent/missing/medium ;;
    -) out_dir=- ;;
  esac
  [[ ${opt[iso]-} != orphan ]] || iso=$dir/parent/missing/medium.iso
  [[ ${opt[iso]-} != exists ]] || echo keep >"$iso"
  [[ ! -v opt[iso] ]] || args+=(--iso "$iso")
  args+=("$dir/in/Setup.exe" "$dir/in/product.msi" "$out_dir$slash")
  [[ ${opt[launch]} == default ]] || args+=("$launch_source")
  before=$(listing "$dir/parent")
  (cd "$work" && "$make_medium" "${args[@]}") >/dev/null 2>"$dir/stderr" || rc=$?
  said="stderr: $(cat "$dir/stderr")"
  if [[ $result != made && $result != warns ]]; then
    must "succeeded, expected an error" test "$rc" -ne 0
    must "$said" grep -qF -- "$result" "$dir/stderr"
    must "more than one line on $said" test "$(grep -vc '^make-medium: warning: ' "$dir/stderr")" -eq 1
    must "wrote something: $(listing "$dir/parent")" test "$(listing "$dir/parent")" = "$before"
    return
  fi
  # The parent as the row gives it: the medium alone, with Launch.exe unless a signing changed it.
  local medium=$dir/expected/${out_dir#"$dir/parent/"}
  mkdir -p "$medium"
  (cd "$work" && cp -r "$dir/in/Setup.exe" "${adds[@]}" "$medium/")
  [[ -n ${opt[sign]} ]] || cp "$launch_source" "$medium/Launch.exe"
  printf '%s,%s\r\n' "${opt[code]-$good_code}" "${opt[version]-3.9.0}" >"$medium/TS_INF"
  must "exit status $rc: $said" test "$rc" -eq 0
  must "the medium is not the one given, or not alone" \
    diff -r ${opt[sign]:+--exclude=Launch.exe} "$dir/expected" "$dir/parent"
  if [[ $result == warns ]]; then
    [[ -v opt[said] ]] || must "$said" grep -qF -- "${opt[arp]}" <(grep warning "$dir/stderr")
    must "$said" grep -qF -- "${opt[said]:-}" "$dir/stderr"
  else
    must "$said" test ! -s "$dir/stderr"
  fi
  # The medium's launcher, signature aside, is the one given: not the repository's default here.
  "$make_medium" --check --launcher "$launch_source" \
    ${opt[previous]:+--previous "$work/${opt[previous]}.msi"} "$out_dir" \
    "$dir/in/product.msi" >"$dir/check" 2>&1 || check_status=$?
  [[ -z ${opt[sign]} ]] || must "--check: $(cat "$dir/check")" test "$check_status" -eq 0
  # The report's lines: each starts with the part before "|" and holds the part after it. Only
  # add:file and add:both put the package on the medium (the good one's bytes).
  local lines=("ok    MSI: ARPINSTALLLOCATION is the folder of Tessaro.exe|" "warn  Setup.exe: unsigned|"
    "warn  MSI: product.msi is not on the medium|--add MSI"
    "note  Setup.exe: a 64-bit program|on 32-bit Windows the launcher shows message 104")
  [[ -z ${opt[arp]} ]] || lines[0]="FAIL  MSI: |${opt[arp]}"
  [[ ${opt[setup]} != signed ]] || lines[1]="ok    Setup.exe: signature verifies|" \
    lines[3]="note  Setup.exe: a 32-bit program|32-bit and 64-bit"
  [[ ${opt[add]} != file && ${opt[add]} != both ]] || lines[2]="ok    MSI: on the medium as |Tessaro-3.9.0.msi"
  for word in "${adds[@]}"; do lines+=("note  also on the medium: |$(basename -- "$word")"); done
  [[ ! -v opt[verdict] ]] || lines+=("${opt[verdict]}")
  [[ -z ${opt[sign]} ]] || lines+=("ok    Launch.exe: signature verifies|$real_sha256")
  for word in "${lines[@]}"; do
    must "--check: $(cat "$dir/check")" grep -qF -- "${word#*|}" <(grep "^${word%%|*}" "$dir/check")
  done
  [[ -z ${opt[sign]} ]] || signed_medium=$out_dir
  [[ -z ${opt[sign]} ]] || must "signing changed the Launch.exe given" \
    cmp "$build/win32/Launch.exe" "$launch_source"
}

# One row per case: what make-medium.sh is given, as words KEY:KIND ("-": only the defaults) |
# what it must do. A KIND names a fixture above ("none": one that is not there) or an arm of
# run_case; code: and version: give the package that ProductCode or ProductVersion; sign:PFX/
# PASSWORD signs with PFX.pfx and password-PASSWORD (no PASSWORD: no --password-file); tsa: names
# the time-stamp server. made: exit 0, nothing on stderr, a medium of exactly the Launch.exe given
# (or its signed copy), Setup.exe, TS_INF "CODE,VERSION" CR LF and the added paths, nothing else
# beside it, and --check reporting it right; warns: the same with a warning; any other text: the
# one-line refusal that must hold it, with a non-zero exit and nothing written.
while IFS='|' read -r given result; do
  read -r -a words <<<"$given"
  run_case "${result# }" "${words[@]}" </dev/null
done <<'EOF'
-                      | made
launch:default         | made
out:spaced             | made
out:slash              | made
out:empty              | made
out:orphan             | made
setup:signed           | made
setup:none             | Setup.exe not found
setup:text             | Setup.exe is not a Windows executable
setup:mz               | Setup.exe is not a Windows executable
launch:none            | Launch.exe not found
launch:text            | Launch.exe is not a Windows executable
msi:none               | MSI not found
msi:text               | not a Windows Installer database
del:ProductCode        | no ProductCode property
del:ProductVersion     | no ProductVersion property
out:full               | OUT_DIR exists and is not empty
out:file               | OUT_DIR exists and is not a directory
msi:x64 launch:x64     | made
msi:x64                | Launch.exe (i386) cannot see a package built for x64
msi:x64 launch:default | Launch.exe (i386) cannot see a package built for x64
launch:x64             | Launch.exe (x86-64) cannot see a package built for Intel
version:10.0.00.65535  | warns
version:1..2           | digits separated by single dots
code:{6f1c2a3b-4d5e-4f60-8172-93a4b5c6d7e8} | not a braced upper-case GUID
launch:real sign:good/good out:orphan                 | made
launch:real sign:good/good                            | made
launch:real sign:good/wrong out:orphan                | wrong password for the certificate file
launch:real sign:none/good                            | certificate file not found
launch:real sign:text/good                            | not a PKCS#12 certificate file
launch:real sign:noeku/good                           | not for code signing
launch:real sign:good/none                            | password file not found
launch:real sign:good/                                | --sign PFX needs --password-file FILE
launch:real sign:good/good tsa:127.0.0.1:9 out:orphan | no time stamp from http://127.0.0.1:9/
add:file                           | made
add:folder out:spaced              | made
add:both launch:default out:orphan | made
add:clash                          | would take the place of the medium's own setup.exe
add:both launch:real sign:good/good out:orphan                 | made
add:both launch:real sign:good/good tsa:127.0.0.1:9 out:orphan | no time stamp from
iso:exists                         | IMAGE exists
iso:new add:autorun                | would take the place of the image's own autorun.inf
iso:new msi:x64 out:-              | Launch.exe (i386) cannot see a package built for x64
launch:real sign:good/wrong iso:new | wrong password for the certificate file
out:-                              | OUT_DIR - (no folder) goes with --iso IMAGE
iso:orphan add:long out:-          | the image does not keep every name of the medium
EOF
# The release before: the same product code is ok; a new one is a note when the package removes
# the previous one itself, else a warning (the words with blanks are given one by one).
run_case made previous:good add:file "verdict:ok    --previous: |the same ProductCode" </dev/null
run_case warns msi:upgrade "code:$new_code" previous:good "said:note: --previous: ProductCode" \
  "verdict:note  --previous: |the package removes it itself" </dev/null
run_case warns msi:newcode "code:$new_code" previous:good "said:is installed beside it" \
  "verdict:warn  --previous: |the launcher never sees an installed 3.9.0" </dev/null
# An install location that Windows Installer does not record: a warning, and --check fails.
run_case warns "sql:DELETE FROM CustomAction" "arp:sets no ARPINSTALLLOCATION" </dev/null

# The cases that are not a medium of the table: expect NAME STATUS [PATTERN...] -- COMMAND...
# runs COMMAND, whose exit status must pass the test STATUS ("-ne 0": any failure), and which
# must print a line of each PATTERN.
expect() {
  local name=$1 status=$2 patterns=() pattern rc=0
  shift 2
  while [[ $1 != -- ]]; do patterns+=("$1") && shift; done
  start "$name"
  "${@:2}" >"$work/out" 2>&1 </dev/null || rc=$?
  read -r -a status <<<"$status"
  must "status $rc: $(cat "$work/out")" test "$rc" "${status[@]}"
  for pattern in "${patterns[@]}"; do
    must "no line '$pattern': $(cat "$work/out")" grep -q -- "$pattern" "$work/out"
  done
}
stderr_only() { { "$@" >/dev/null; } 2>&1; }
# flip FILE LAUNCH: turns over one byte of the code, well inside the signed part of the
# Launch.exe LAUNCH, where it lies in FILE.
flip() {
  python3 -c 'import sys; data = bytearray(open(sys.argv[1], "rb").read())
data[data.index(open(sys.argv[2], "rb").read()) + 4200] ^= 0xff
open(sys.argv[1], "wb").write(data)' "$@"
}

# A medium made without --add MSI: --check warns, and fails with --package-on-medium.
"$make_medium" "$work/setup-pe.exe" "$work/good.msi" "$work/nopackage" >/dev/null 2>&1
for row in "warn 0" "FAIL 1 --package-on-medium"; do
  read -r verdict status flag <<<"$row"
  expect "--check ${flag:+$flag }of a medium without its package: $verdict, exit $status" "-eq $status" \
    "^$verdict  MSI: good.msi is not on the medium" -- "$make_medium" --check ${flag:+"$flag"} \
    "$work/nopackage" "$work/good.msi"
done
# A wrong number of arguments: the usage text and status 2, before anything is looked at.
for count in 0 1 2 5; do
  mapfile -t args < <(seq -f "$work/arg%g" "$count")
  expect "usage with $count arguments" "-eq 2" '^usage:' -- stderr_only "$make_medium" "${args[@]}"
done

# The signed medium from the table: its Launch.exe is still the program that ships (imports,
# manifest, size), and one changed byte is found.
expect "signed Launch.exe passes the artifact checks" "-eq 0" -- \
  "$tessaro_root/tests/artifact/check_artifact.py" "$signed_medium/Launch.exe"
cp -r "$signed_medium" "$work/tampered" && flip "$work/tampered/Launch.exe" "$signed_medium/Launch.exe"
expect "signed Launch.exe changed after signing" '-ne 0' \
  '^FAIL  Launch.exe: signed, but the signature does not verify' -- "$make_medium" --check "$work/tampered"

# A signed 64-bit medium (the Wine here runs 64-bit programs only) starts its installer: a
# stand-in that records its command line. The product code is one no test installs.
msibuild "$work/x64.msi" -q "${changes[code]//@/$new_code}"
wine_medium() {
  "$make_medium" --sign "$work/good.pfx" --password-file "$work/password-good" \
    "$work/stand_in.exe" "$work/x64.msi" "$work/wine" "$work/launch-x64.exe" &&
    "$make_medium" --check "$work/wine" "$work/x64.msi" &&
    timeout 120 bash "$tessaro_root/tools/wine/run-in-wine.sh" "$work/wine/Launch.exe" && cat "$work/wine/Setup.record"
}
expect "signed medium starts the installer under Wine" "-eq 0" \
  'command_line="Z:.*Setup\.exe" "/v LAUNCH=Enable"' -- wine_medium

# The sample's packaging with a product of one's own: its names and codes land in the package,
# which the medium tool takes as it takes the sample's. A maker's name with & is refused.
own() {
  bash "$tessaro_root/sample/build_msi.sh" --name "Acme Viewer" --manufacturer "$1" \
    --upgrade-code "$new_code" "$work/own.msi" "$work/launch-real.exe" 2.0.1 "$good_code" x86
}
own_medium() {
  own "Acme Ltd" && "$make_medium" "$work/setup-pe.exe" "$work/own.msi" "$work/own" \
    "$work/launch-real.exe" >/dev/null && msiinfo export "$work/own.msi" Property | tr -d '\r'
}
expect "build_msi.sh with a maker's name that holds &" '-ne 0' 'a name may not be empty or hold' -- \
  own "Acme & Sons"
expect "build_msi.sh with a version make-medium refuses" "-eq 1" "^build_msi: ProductVersion is not one .*'3\.11'$" \
  -- bash "$tessaro_root/sample/build_msi.sh" "$work/two.msi" "$work/launch-real.exe" 3.11 "$good_code"
expect "build_msi.sh with a name, a maker and an upgrade code of one's own" "-eq 0" \
  "^ProductName	Acme Viewer$" "^Manufacturer	Acme Ltd$" "^UpgradeCode	$new_code$" \
  "^ProductCode	$good_code$" "^ProductVersion	2.0.1$" -- own_medium

# The medium as an image. Made twice from the same files, it is the same bytes; its dates are
# SOURCE_DATE_EPOCH's.
# image NAME OUT_DIR LAUNCH [OPTION...]: makes NAME.iso (and OUT_DIR) of the good package.
image() {
  "$make_medium" --iso "$work/$1.iso" "${@:4}" "$work/setup-pe.exe" "$work/good.msi" "$2" "$3"
}
not() { ! "$@"; }
docs=("$work/launch-explicit.exe" --add "$work/extra/docs")
start "an image made twice is the same bytes, dated by SOURCE_DATE_EPOCH"
must "make-medium" image once - "${docs[@]}"
must "make-medium" image twice "$work/twice" "${docs[@]}"
SOURCE_DATE_EPOCH=1700000000 must "SOURCE_DATE_EPOCH" image dated - "${docs[@]}"
must "twice: $(sha256sum "$work"/{once,twice}.iso)" cmp "$work/once.iso" "$work/twice.iso"
must "SOURCE_DATE_EPOCH is not honoured" not cmp -s "$work/once.iso" "$work/dated.iso"
must "the folder beside the image" test -f "$work/twice/Launch.exe" -a ! -e "$work/twice/autorun.inf"

# A signed image and the folder made with it: --check reads the signature inside the image.
signed_image() {
  image signed "$work/signed" "$work/launch-real.exe" --sign "$work/good.pfx" \
    --password-file "$work/password-good" --add "$work/good.msi" >/dev/null &&
    "$make_medium" --check --launcher "$work/launch-real.exe" "$work/signed.iso" "$work/good.msi"
}
expect "--check on a signed image" "-eq 0" "^ok    Launch.exe: signature verifies .*$real_sha256" \
  "^ok    image: label TESSARO_3_9_0 " "^note  also on the medium: good.msi$" \
  "^ok    image: .*, Joliet names: Launch.exe, Setup.exe, TS_INF, autorun.inf, good.msi$" \
  "^ok    autorun.inf: open=Launch.exe, icon=Launch.exe, label=Tessaro 3.9.0$" -- signed_image

# A medium that fails --check as a folder fails it as an image, with the same lines (but for the
# image's own): a changed byte in Launch.exe, and a package its launcher cannot see.
# same_lines MEDIUM ARG...: so it is for the folder MEDIUM and MEDIUM.iso; prints the image's.
same_lines() {
  "$make_medium" --check "$work/$1" "${@:2}" >"$work/folder.out" 2>&1 && return 1
  "$make_medium" --check "$work/$1.iso" "${@:2}" >"$work/image.out" 2>&1 && return 1
  grep -v '^[a-zA-Z]* *\(image\|autorun\.inf\):' "$work/image.out" | diff "$work/folder.out" - &&
    cat "$work/image.out"
}
flip "$work/signed.iso" "$work/signed/Launch.exe" && flip "$work/signed/Launch.exe" "$work/signed/Launch.exe"
expect "an image whose Launch.exe changed after signing" "-eq 0" \
  '^FAIL  Launch.exe: signed, but the signature does not verify' -- same_lines signed
expect "an image whose launcher cannot see the package" "-eq 0" '^FAIL  Launch.exe (i386) cannot see' -- \
  same_lines twice "$work/x64.msi"
expect "--check on a file that is neither a folder nor an image" "-eq 1" \
  "^make-medium: not a directory, nor an ISO 9660 image that xorriso can read: $work/good.msi$" -- \
  stderr_only "$make_medium" --check "$work/good.msi"

summary
