#!/usr/bin/env bash
# The rehearsal's own checks: each row is a real run of try-medium.sh, from a folder outside
# the work tree, on media made there by make-medium.sh. Needs both builds (scripts/build.sh
# win32 win64) and, for the 32-bit rows, the rig (built on first use).
set -euo pipefail
tessaro_tool=try-medium_test
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
cd "$tessaro_root"
for file in win32/Launch.exe win64/Launch.exe win64/tools/windows/box_answer.exe win64/tests/wine/stand_in.exe; do
  [[ -f build/$file ]] || die "build/$file not found: build first"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/try-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
sample=$tessaro_root/build/win64/sample
ja="リリース 5.1"
mkdir -p "$work/$ja"
cp "$sample"/{Tessaro-3.9.0.msi,Tessaro-3.9.0-x86.msi,Tessaro-3.10.0.msi} "$work/$ja/"
# The media: the sample's Setup.exe and 3.10.0 package with the Launch.exe that sees it (the
# 32-bit one sees x86 packages only).
declare -A x86=([64]="" [32]=-x86)
for medium in "$ja/medium 64" "$ja/medium 32" plain no-ts-inf cut-short 한국어; do
  bits=64
  [[ $medium != *32 ]] || bits=32
  bash scripts/make-medium.sh "$sample/Setup.exe" "$sample/Tessaro-3.10.0${x86[$bits]}.msi" \
    "$work/$medium" "build/win$bits/Launch.exe" >/dev/null
done
rm "$work/no-ts-inf/TS_INF"
cp -r "$work/plain" "$work/empty-ts-inf" && : >"$work/empty-ts-inf/TS_INF"
# Its header still says x86-64, but Windows cannot load the rest: the box answerer cannot start it.
head -c 2048 build/win64/Launch.exe >"$work/cut-short/Launch.exe"
# For each build: a 3.11.0 whose package got a new product code (the medium's TS_INF names that
# one), and the image of the medium. Then the images of one without TS_INF (which make-medium.sh
# does not make), and of one whose Setup.exe writes beside itself (the stand-in records its
# command line there).
for bits in 64 32; do
  package=$sample/Tessaro-3.10.0${x86[$bits]}.msi new=$work/new-code${x86[$bits]}
  cp "$package" "$new.msi"
  msibuild "$new.msi" -q "UPDATE Property SET Value='3.11.0' WHERE Property='ProductVersion'" \
    -q "UPDATE Property SET Value='{5D1E0C4B-7A2F-4E39-9B6C-1F0A2B3C4D5E}' WHERE Property='ProductCode'"
  bash scripts/make-medium.sh "$sample/Setup.exe" "$new.msi" "$new" "build/win$bits/Launch.exe" \
    >/dev/null 2>&1
  bash scripts/make-medium.sh --iso "$work/$ja/medium $bits.iso" --add "$package" \
    "$sample/Setup.exe" "$package" - "build/win$bits/Launch.exe" >/dev/null
done
xorriso -no_rc -report_about SORRY -outdev "stdio:$work/no-ts-inf.iso" -joliet on \
  -map "$work/no-ts-inf" / -commit 2>/dev/null
bash scripts/make-medium.sh --iso "$work/writes.iso" build/win64/tests/wine/stand_in.exe \
  "$sample/Tessaro-3.10.0.msi" - build/win64/Launch.exe >/dev/null

# The Windows path of a folder below $work, as an extended regular expression that matches only it.
win() { sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$(windows_path "$work/$1")"; }

# row NAME EXIT MEDIUM [MSI] -- PATTERN...: runs try-medium.sh (or the script $script names) from
# $work/$ja with MEDIUM and MSI as relative paths, under C.UTF-8; it must exit with EXIT, and its
# output must hold a line matching each PATTERN (one starting with ! must match no line).
row() {
  local expected=$2 args=() output status=0 pattern none said
  start "$1"
  shift 2
  while [[ $1 != -- ]]; do args+=("$1") && shift; done
  shift
  output=$(cd "$work/$ja" && LC_ALL=C.UTF-8 TESSARO_TRY_OUT="$tessaro_root/build/try-medium-test" \
    bash "$tessaro_root/${script:-scripts/try-medium.sh}" "${args[@]}" 2>&1) || status=$?
  must "exit $status, not $expected" test "$status" == "$expected"
  for pattern; do
    none=() said="no line"
    [[ $pattern != !* ]] || none=(not) said="a line"
    must "$said matches ${pattern#!}" "${none[@]}" grep -qE -- "${pattern#!}" <<<"$output"
  done
  [[ $case_failed == "$cases" ]] && echo "$output" || echo "ok    $case_name"
}
not() { ! "$@"; }

for bits in 64 32; do
  row "$bits-bit, outside the tree, a blank and Japanese in the path, relative paths" 0 \
    "medium $bits" "Tessaro-3.9.0${x86[$bits]}.msi" -- \
    "^try-medium: running under LC_ALL=ja_JP\.UTF-8" "^Launch\.exe exit code: 0$" \
    '^  "C:\\windows\\system32\\msiexec\.exe" /x ' \
    "^  \"$(win "$ja/medium $bits/Setup.exe")\" \"/v LAUNCH=Enable\"$" \
    "^  Launch: .*\"$(win "$ja/medium $bits/Launch.exe")\"" "^After: not installed$" \
    '!^Nothing asked'
done
row "no TS_INF: message 106 and exit 4" 0 ../no-ts-inf -- \
  "^box 1: \[Launch\] " "^Launch\.exe exit code: 4$" "^  \(nothing\)$" "^  Launch: " '!^After:'
row "the same version installed: nothing asked, one line says why" 0 ../plain \
  Tessaro-3.10.0.msi -- "^Launch\.exe exit code: 0$" "^After: Tessaro 3\.10\.0 installed$" \
  "^Nothing asked: .*3\.10\.0.*equal" '!msiexec\.exe" /x' '!^box [0-9]+: \[Launch\]'
row "the box answerer cannot start Launch.exe: no exit code of the launcher" 1 ../cut-short -- \
  "^try-medium: .*could not start Launch\.exe.*cannot start " '!exit code'
row "a path neither code page 1252 nor 932 spells: one line naming LC_ALL" 1 ../한국어 -- \
  "^try-medium: .*LC_ALL" '!^Launch\.exe exit code'
for bits in 64 32; do
  row "$bits-bit image: a CD-ROM drive, the installer started from its root, the drive unchanged" 0 \
    "medium $bits.iso" "Tessaro-3.9.0${x86[$bits]}.msi" -- "^Drive D: \(CD-ROM, read-only\) holds " \
    '^  [0-9a-f]{64} +[0-9]+  autorun\.inf$' '^  "C:\\windows\\system32\\msiexec\.exe" /x ' \
    '^  "D:\\Setup\.exe" "/v LAUNCH=Enable"$' '^  Launch: module path "D:\\Launch\.exe"$' \
    "^After: not installed$" "^Drive D: unchanged: " '!CHANGED'
done
row "image without TS_INF: message 106 from drive D:" 0 ../no-ts-inf.iso -- \
  "^box 1: \[Launch\] " "^Launch\.exe exit code: 4$" '^  Launch: module path "D:\\Launch\.exe"$' \
  "^Drive D: unchanged: "
row "image whose installer writes to the drive: the run fails, showing the new file" 1 \
  ../writes.iso -- '^  "D:\\Setup\.exe" "/v LAUNCH=Enable"$' "^Drive D: CHANGED by the run" \
  '^  [0-9a-f]{64} +[0-9]+  Setup\.record$' '!^Drive D: unchanged'

# The answers given, the product held in use, the product code the medium does not name.
for bits in 64 32; do
  row "$bits-bit: Cancel on 107 keeps the installed version, exit 4" 0 --answer 107=Cancel \
    "medium $bits" "Tessaro-3.9.0${x86[$bits]}.msi" -- "^  -> Cancel, as given " \
    "^  Launch: exit 4: Cancel in message 107$" "^Launch\.exe exit code: 4$" \
    "^After: Tessaro 3\.9\.0 installed$" '!msiexec\.exe" /x'
  row "$bits-bit: in use, 108, Retry: removed" 0 --product-running --answer=108=Retry \
    "medium $bits" "Tessaro-3.9.0${x86[$bits]}.msi" -- "^holding C:.*Tessaro\.exe " \
    "^  Launch: lock test: .* in use$" "^  \(ended C:.*Tessaro\.exe, which held" \
    "^  -> Retry, as given " "^  Launch: lock test: .* opens for writing: not in use$" \
    '^  "C:\\windows\\system32\\msiexec\.exe" /x ' "^After: not installed$"
  row "$bits-bit: a new product code: warned before, Setup.exe beside the old one" 0 \
    "../new-code${x86[$bits]}" "Tessaro-3.9.0${x86[$bits]}.msi" -- \
    "^Before: warning: Tessaro-3\.9\.0${x86[$bits]}\.msi .* installed first, but the medium's TS_INF" \
    "^  Launch: uninstall key .* not found" "^Launch\.exe exit code: 0$" '!msiexec\.exe" /x'
done
row "64-bit: in use, 108, Cancel: exit 4" 0 --product-running --answer 108=Cancel "medium 64" \
  Tessaro-3.9.0.msi -- "^  Launch: exit 4: Cancel in message 108$" "^After: Tessaro 3\.9\.0"
row "an empty TS_INF: no box, exit 4, the MSI installed first named" 0 ../empty-ts-inf \
  Tessaro-3.9.0.msi -- "^Before: the medium's TS_INF is empty" \
  "^Before: Tessaro-3\.9\.0\.msi \(Tessaro 3\.9\.0, product \{6F1C" "^Launch\.exe exit code: 4$" \
  '!^box '
row "no TS_INF: the MSI installed first named" 0 ../no-ts-inf Tessaro-3.9.0.msi -- \
  "^Before: the medium has no TS_INF \(the launcher shows message 106" "^Before: Tessaro-3\.9\.0"
# 3.9.0 stays installed from the row before; a medium that does not name its product code still
# has it removed, so that 3.10.0 of the same product code can be installed first.
row "the package installed first removed before, also when TS_INF names another product" 0 \
  ../new-code Tessaro-3.10.0.msi -- "^Before: warning: Tessaro-3\.10\.0\.msi " \
  "^Launch\.exe exit code: 0$" '!msiexec /i'
row "an answer the message has not: one line, nothing run" 1 --answer 107=Retry "medium 64" -- \
  "^try-medium: --answer 107=Retry: message 107 offers OK and Cancel" '!^Before'
row "--product-running without an MSI to install first" 1 --product-running "medium 64" -- \
  "^try-medium: --product-running needs an installed product" '!^Before'
row "an unknown option" 2 --answers 107=OK "medium 64" -- "^try-medium: unknown option: --answers"

# Every script answers --help with its usage and refuses what it does not take, in one line and
# before it does anything (bench.sh once took --help for a number of runs). Each row: the
# script, its exit status, a pattern ("_" for a blank) one line must match, its arguments.
while read -r script status pattern args; do
  read -r -a words <<<"${args//none/}"
  row "$script $args: exit $status" "$status" ${words[@]+"${words[@]}"} -- "${pattern//_/ }"
done <<'EOF'
scripts/bench.sh 0 ^__scripts/bench\.sh_\[RUNS --help
scripts/build.sh 0 ^__scripts/build\.sh_\[host --help
tests/cppcheck.sh 0 ^__tests/cppcheck\.sh --help
scripts/main-job.sh 0 ^__scripts/main-job\.sh$ --help
tools/wine/rig32.sh 0 ^__rig32\.sh_wineserver --help
tools/wine/run-in-wine.sh 0 ^__tools/wine/run-in-wine\.sh_PROGRAM --help
scripts/setup.sh 0 ^__scripts/setup\.sh$ --help
scripts/test-all.sh 0 ^__scripts/test-all\.sh$ --help
scripts/try-medium.sh 0 ^__scripts/try-medium\.sh_--remove-prefixes$ --help
scripts/make-medium.sh 0 ^usage:_make-medium\.sh --help
scripts/bench.sh 2 ^bench:_unknown_option:_--runs_ --runs
scripts/bench.sh 2 ^bench:_at_most_two_arguments 1 2 3
scripts/build.sh 2 ^build:_unknown_option:_--debug --debug
scripts/build.sh 2 ^build:_no_such_preset:_debug debug
scripts/bench.sh 2 ^bench:_not_a_positive_whole_number:_ten ten
scripts/main-job.sh 2 ^main-job:_unknown_option:_-x_ -x
scripts/test-all.sh 2 ^test-all:_takes_no_arguments wine
scripts/setup.sh 2 ^setup:_unknown_option:_--yes --yes
tools/wine/run-in-wine.sh 2 ^run-in-wine:_no_program_given none
tools/wine/rig32.sh 2 ^rig32:_unknown_option:_--bogus --bogus
scripts/make-medium.sh 2 unrecognized_arguments:_--bogus --bogus x y z
EOF

summary
