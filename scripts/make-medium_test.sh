#!/bin/bash
# Runs make-medium.sh against small MSIs built with wixl and patched with msibuild. Needs wixl,
# msibuild and msiinfo (msitools), no Wine.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
for tool in wixl msibuild msiinfo; do
    command -v "$tool" >/dev/null || { echo "$0: $tool not found (msitools, wixl)" >&2; exit 2; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/make-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

readonly good_code='{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}'

# The script is run from a copy in a repository of its own, so that the default Launch.exe is
# one the test controls and not whatever the last build left.
repo=$work/repo
mkdir -p "$repo/scripts" "$repo/build/win32"
cp "$here/make-medium.sh" "$repo/scripts/"
printf 'MZ default launcher' >"$repo/build/win32/Launch.exe"
printf 'MZ explicit launcher' >"$work/Launch.exe"
printf 'MZ setup' >"$work/Setup.exe"
printf 'not an executable\r\n' >"$work/text.txt"

cat >"$work/product.wxs" <<EOF
<?xml version="1.0" encoding="utf-8"?>
<Wix xmlns="http://schemas.microsoft.com/wix/2006/wi">
  <Product Id="$good_code" Name="Tessaro" Manufacturer="Tessaro Test" Version="3.9.0"
           UpgradeCode="{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}" Language="1033">
    <Package InstallerVersion="200" Compressed="yes"/>
  </Product>
</Wix>
EOF
wixl -o "$work/good.msi" "$work/product.wxs"

# Turns an MSI column of the table below into a file: "good", "none" (no such file), "text",
# "del:PROPERTY" or "set:PROPERTY=VALUE" (VALUE with printf escapes).
make_msi() {
    local kind=$1 out=$2
    case $kind in
        good) cp "$work/good.msi" "$out" ;;
        none) ;;
        text) cp "$work/text.txt" "$out" ;;
        del:*)
            cp "$work/good.msi" "$out"
            msibuild "$out" -q "DELETE FROM Property WHERE Property='${kind#del:}'"
            ;;
        set:*)
            local assignment=${kind#set:} value
            value=$(printf '%b' "${assignment#*=}")
            cp "$work/good.msi" "$out"
            msibuild "$out" -q "UPDATE Property SET Value='$value' WHERE Property='${assignment%%=*}'"
            ;;
        *) echo "bad msi kind: $kind" >&2; exit 2 ;;
    esac
}

passed=0
failed=0
fail() {
    echo "FAIL $name: $*"
    failed=$((failed + 1))
}

listing() { (cd "$1" && find . -mindepth 1 -printf '%p %s\n' | sort); }

# name | msi | setup | launch | out | expected status | TS_INF bytes, or a part of stderr
#   setup:  pe, none, text        launch: explicit, default, none, text
#   out:    new, spaced (a name with spaces), empty (existing empty directory), full (holds a
#           file), file (a regular file), orphan (parent missing), slash (given with a "/")
cases=$(cat <<'EOF'
typical version           | good                               | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
default launcher          | good                               | pe   | default  | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
one field                 | set:ProductVersion=7               | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},7\r\n
four fields, zeros        | set:ProductVersion=10.0.00.65535   | pe   | explicit | new    | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},10.0.00.65535\r\n
other product code        | set:ProductCode={0A1B2C3D-0000-FFFF-9999-ABCDEF012345} | pe | explicit | new | ok | {0A1B2C3D-0000-FFFF-9999-ABCDEF012345},3.9.0\r\n
name with spaces          | good                               | pe   | explicit | spaced | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
trailing slash            | good                               | pe   | explicit | slash  | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
existing empty directory  | good                               | pe   | explicit | empty  | ok   | {6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8},3.9.0\r\n
missing Setup.exe         | good                               | none | explicit | new    | fail | Setup.exe not found
Setup.exe not a program   | good                               | text | explicit | new    | fail | Setup.exe is not a Windows executable
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
version too long          | set:ProductVersion=LONG_VERSION    | pe   | explicit | new    | fail | longer than 219 characters
OUT_DIR not empty         | good                               | pe   | explicit | full   | fail | OUT_DIR exists and is not empty
OUT_DIR a file            | good                               | pe   | explicit | file   | fail | OUT_DIR exists and is not a directory
OUT_DIR parent missing    | good                               | pe   | explicit | orphan | fail | parent directory of OUT_DIR does not exist
EOF
)

# 219 characters fit the launcher's line buffer, one more does not (checked in both directions).
long_ok=$(printf '1.%.0s' {1..108})123
long_bad=${long_ok}4
cases+=$'\n'"longest version           | set:ProductVersion=$long_ok | pe | explicit | new | ok | $good_code,$long_ok\\r\\n"
cases=${cases//LONG_VERSION/$long_bad}

trim() {
    local s=$1
    s=${s#"${s%%[! ]*}"}
    printf '%s' "${s%"${s##*[! ]}"}"
}

case_number=0
while IFS='|' read -r name msi_spec setup launch out status expected; do
    name=$(trim "$name")
    msi_spec=$(trim "$msi_spec")
    setup=$(trim "$setup")
    launch=$(trim "$launch")
    out=$(trim "$out")
    status=$(trim "$status")
    expected=$(trim "$expected")
    case_number=$((case_number + 1))
    dir=$work/case$case_number
    mkdir -p "$dir/in" "$dir/parent"

    make_msi "$msi_spec" "$dir/in/product.msi"
    case $setup in
        pe) cp "$work/Setup.exe" "$dir/in/Setup.exe" ;;
        text) cp "$work/text.txt" "$dir/in/Setup.exe" ;;
        none) ;;
    esac
    args=("$dir/in/Setup.exe" "$dir/in/product.msi")
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
    launch_source=$work/Launch.exe
    case $launch in
        explicit) args+=("$work/Launch.exe") ;;
        default) launch_source=$repo/build/win32/Launch.exe ;;
        none) args+=("$dir/in/Launch.exe") ;;
        text) args+=("$work/text.txt") ;;
    esac

    before=$(listing "$dir/parent")
    rc=0
    (cd "$dir" && "$repo/scripts/make-medium.sh" "${args[@]}") >"$dir/stdout" 2>"$dir/stderr" || rc=$?

    failures_before=$failed
    if [[ $status == ok ]]; then
        if [[ $rc -ne 0 ]]; then
            fail "exit status $rc: $(cat "$dir/stderr")"
        elif [[ $(cd "$out_dir" && find . -mindepth 1 | sort | tr '\n' ' ') != "./Launch.exe ./Setup.exe ./TS_INF " ]]; then
            fail "unexpected medium contents: $(cd "$out_dir" && find . -mindepth 1 | sort | tr '\n' ' ')"
        elif ! cmp -s <(printf '%b' "$expected") "$out_dir/TS_INF"; then
            fail "TS_INF is $(od -An -c "$out_dir/TS_INF" | tr -s ' \n' ' ')"
        elif ! cmp -s "$launch_source" "$out_dir/Launch.exe" || ! cmp -s "$dir/in/Setup.exe" "$out_dir/Setup.exe"; then
            fail "Launch.exe or Setup.exe differ from their sources"
        elif [[ $(find "$dir/parent" -mindepth 1 -maxdepth 1 | wc -l) -ne 1 ]]; then
            fail "staging directory left behind: $(ls -A "$dir/parent")"
        fi
    else
        if [[ $rc -eq 0 ]]; then
            fail "succeeded, expected an error"
        elif ! grep -qF -- "$expected" "$dir/stderr"; then
            fail "stderr lacks '$expected': $(cat "$dir/stderr")"
        elif [[ $(listing "$dir/parent") != "$before" ]]; then
            fail "wrote something: $(listing "$dir/parent")"
        fi
    fi
    [[ $failed -eq $failures_before ]] && passed=$((passed + 1))
done <<<"$cases"

# A wrong number of arguments is answered with the usage text and status 2, before anything is
# looked at.
for count in 0 1 2 5; do
    name="usage with $count arguments"
    args=()
    for ((i = 0; i < count; i++)); do args+=("$work/arg$i"); done
    rc=0
    "$repo/scripts/make-medium.sh" "${args[@]}" >/dev/null 2>"$work/usage.err" || rc=$?
    if [[ $rc -ne 2 ]] || ! grep -q '^usage:' "$work/usage.err"; then
        fail "status $rc, stderr: $(cat "$work/usage.err")"
    else
        passed=$((passed + 1))
    fi
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
