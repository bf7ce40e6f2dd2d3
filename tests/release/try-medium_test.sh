#!/usr/bin/env bash
# The rehearsal's own checks: each row is a real run of try-medium.sh, from a folder outside
# the work tree, on media made there by make-medium.sh. Needs both builds (scripts/build.sh
# win32 win64) and, for the 32-bit rows, the rig (built on first use).
set -euo pipefail
tessaro_tool=try-medium_test
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../scripts/lib.sh"
cd "$tessaro_root"
for file in win32/Launch.exe win64/Launch.exe win64/tests/wine/{box_answer,stand_in}.exe; do
  [[ -f build/$file ]] || die "build/$file not found: build first"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/try-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
sample=$tessaro_root/build/win64/sample
ja="リリース 5.1"
mkdir -p "$work/$ja"
cp "$sample"/{Tessaro-3.9.0.msi,Tessaro-3.9.0-x86.msi,Tessaro-3.10.0.msi} "$work/$ja/"
# The media: the sample's Setup.exe and 3.10.0 package with the Launch.exe that sees it.
for medium in "$ja/medium 64" "$ja/medium 32" plain no-ts-inf cut-short 한국어; do
  preset=win64 x86=""
  [[ $medium != *32 ]] || preset=win32 x86=-x86
  bash scripts/make-medium.sh "$sample/Setup.exe" "$sample/Tessaro-3.10.0$x86.msi" \
    "$work/$medium" "build/$preset/Launch.exe" >/dev/null
done
rm "$work/no-ts-inf/TS_INF"
# Its header still says x86-64, but Windows cannot load the rest: the box answerer cannot start it.
head -c 2048 build/win64/Launch.exe >"$work/cut-short/Launch.exe"
# The images: of both media, of one without TS_INF (which make-medium.sh does not make), and of
# one whose Setup.exe writes beside itself (the stand-in records its command line there).
for bits in 64 32; do
  preset=win$bits x86=-x86
  [[ $bits == 32 ]] || x86=""
  bash scripts/make-medium.sh --iso "$work/$ja/medium $bits.iso" --add "$sample/Tessaro-3.10.0$x86.msi" \
    "$sample/Setup.exe" "$sample/Tessaro-3.10.0$x86.msi" - "build/$preset/Launch.exe" >/dev/null
done
xorriso -no_rc -report_about SORRY -outdev "stdio:$work/no-ts-inf.iso" -joliet on \
  -map "$work/no-ts-inf" / -commit 2>/dev/null
bash scripts/make-medium.sh --iso "$work/writes.iso" build/win64/tests/wine/stand_in.exe \
  "$sample/Tessaro-3.10.0.msi" - build/win64/Launch.exe >/dev/null

# The Windows path of a folder below $work, as an extended regular expression that matches only it.
win() { sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$(windows_path "$work/$1")"; }

# row NAME EXIT MEDIUM [MSI] -- PATTERN...: runs try-medium.sh from $work/$ja with MEDIUM and MSI
# as relative paths, under C.UTF-8; it must exit with EXIT, and its output must hold a line
# matching each PATTERN (one starting with ! must match no line).
row() {
  local expected=$2 args=() output status=0 pattern
  start "$1"
  shift 2
  while [[ $1 != -- ]]; do args+=("$1") && shift; done
  shift
  output=$(cd "$work/$ja" && LC_ALL=C.UTF-8 TESSARO_TRY_OUT="$tessaro_root/build/try-medium-test" \
    bash "$tessaro_root/scripts/try-medium.sh" "${args[@]}" 2>&1) || status=$?
  must "exit $status, not $expected" test "$status" == "$expected"
  for pattern; do
    if [[ $pattern == !* ]]; then
      must "a line matches ${pattern#!}" not_found "${pattern#!}" <<<"$output"
    else
      must "no line matches $pattern" grep -qE -- "$pattern" <<<"$output"
    fi
  done
  [[ $case_failed == "$cases" ]] && echo "$output" || echo "ok    $case_name"
}
not_found() { ! grep -qE -- "$1"; }

for bits in 64 32; do
  x86=-x86
  [[ $bits == 32 ]] || x86=""
  row "$bits-bit, outside the tree, a blank and Japanese in the path, relative paths" 0 \
    "medium $bits" "Tessaro-3.9.0$x86.msi" -- \
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
  x86=-x86
  [[ $bits == 32 ]] || x86=""
  row "$bits-bit image: a CD-ROM drive, the installer started from its root, the drive unchanged" 0 \
    "medium $bits.iso" "Tessaro-3.9.0$x86.msi" -- "^Drive D: \(CD-ROM, read-only\) holds " \
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

summary
