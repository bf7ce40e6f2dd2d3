#!/usr/bin/env bash
# The rehearsal's own checks: each row is a real run of try-medium.sh, from a folder outside
# the work tree, on media made there by make-medium.sh. Needs both builds (scripts/build.sh
# win32 win64) and, for the 32-bit rows, the rig (built on first use).
set -euo pipefail
tessaro_tool=try-medium_test
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
cd "$tessaro_root"
for file in win32/Launch.exe win64/Launch.exe win64/tests/wine/box_answer.exe; do
  [[ -f build/$file ]] || die "build/$file not found: build first"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/try-medium-test.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
sample=$tessaro_root/build/win64/sample
ja="リリース 5.1"
mkdir -p "$work/$ja"
make_medium() {
  bash scripts/make-medium.sh "$sample/Setup.exe" "$sample/$2" "$work/$1" "build/$3/Launch.exe" >/dev/null
}
make_medium "$ja/medium 64" Tessaro-3.10.0.msi win64
make_medium "$ja/medium 32" Tessaro-3.10.0-x86.msi win32
make_medium plain Tessaro-3.10.0.msi win64
make_medium no-ts-inf Tessaro-3.10.0.msi win64 && rm "$work/no-ts-inf/TS_INF"
make_medium cut-short Tessaro-3.10.0.msi win64
# Its header still says x86-64, but Windows cannot load the rest: the box answerer cannot start it.
head -c 2048 build/win64/Launch.exe >"$work/cut-short/Launch.exe"
make_medium 한국어 Tessaro-3.10.0.msi win64
cp "$sample"/Tessaro-3.9.0.msi "$sample"/Tessaro-3.9.0-x86.msi "$sample"/Tessaro-3.10.0.msi "$work/$ja/"

# The text as an extended regular expression that matches only itself.
re() { sed 's/[][\.*^$?+(){}|/]/\\&/g' <<<"$1"; }
# The Windows path of a folder below $work, with Japanese and blanks decoded as the user reads them.
win() { re "Z:${work//\//\\}\\$1"; }

passed=0 failed=0
# row NAME EXIT MEDIUM [MSI] -- PATTERN...: runs try-medium.sh from $work/$ja with MEDIUM and MSI
# as relative paths, under C.UTF-8; it must exit with EXIT, and its output must hold a line
# matching each PATTERN (one starting with ! must match no line).
row() {
  local name=$1 expected=$2 args=() output status=0 pattern
  shift 2
  while [[ $1 != -- ]]; do args+=("$1") && shift; done
  shift
  output=$(cd "$work/$ja" && LC_ALL=C.UTF-8 TESSARO_TRY_OUT="$tessaro_root/build/try-medium-test" \
    bash "$tessaro_root/scripts/try-medium.sh" "${args[@]}" 2>&1) || status=$?
  local wrong=""
  [[ $status == "$expected" ]] || wrong="exit $status, not $expected"
  for pattern in "$@"; do
    if [[ $pattern == !* ]]; then
      ! grep -qE -- "${pattern#!}" <<<"$output" || wrong+="${wrong:+; }a line matches ${pattern#!}"
    else
      grep -qE -- "$pattern" <<<"$output" || wrong+="${wrong:+; }no line matches $pattern"
    fi
  done
  if [[ -z $wrong ]]; then
    passed=$((passed + 1)) && echo "ok    $name"
  else
    failed=$((failed + 1)) && printf 'FAIL  %s: %s\n%s\n' "$name" "$wrong" "$output"
  fi
}

row "64-bit, outside the tree, a blank and Japanese in the path, relative paths" 0 \
  "medium 64" Tessaro-3.9.0.msi -- \
  "^try-medium: running under LC_ALL=ja_JP\.UTF-8" "^Launch\.exe exit code: 0$" \
  '^  "C:\\windows\\system32\\msiexec\.exe" /x ' \
  "^  \"$(win "$ja\\medium 64\\Setup.exe")\" \"/v LAUNCH=Enable\"$" \
  "^  Launch: .*\"$(win "$ja\\medium 64\\Launch.exe")\"" "^After: not installed$" '!^Nothing asked'
row "32-bit, outside the tree, a blank and Japanese in the path, relative paths" 0 \
  "medium 32" Tessaro-3.9.0-x86.msi -- \
  "^try-medium: running under LC_ALL=ja_JP\.UTF-8" "^Launch\.exe exit code: 0$" \
  '^  "C:\\windows\\system32\\msiexec\.exe" /x ' \
  "^  \"$(win "$ja\\medium 32\\Setup.exe")\" \"/v LAUNCH=Enable\"$" \
  "^  Launch: .*\"$(win "$ja\\medium 32\\Launch.exe")\"" "^After: not installed$"
row "no TS_INF: message 106 and exit 4" 0 ../no-ts-inf -- \
  "^box 1: \[Launch\] " "^Launch\.exe exit code: 4$" "^  \(nothing\)$" "^  Launch: " '!^After:'
row "the same version installed: nothing asked, one line says why" 0 ../plain Tessaro-3.10.0.msi -- \
  "^Launch\.exe exit code: 0$" "^After: Tessaro 3\.10\.0 installed$" "^Nothing asked: .*3\.10\.0.*equal" \
  '!msiexec\.exe" /x' '!^box [0-9]+: \[Launch\]'
row "the box answerer cannot start Launch.exe: no exit code of the launcher" 1 ../cut-short -- \
  "^try-medium: .*could not start Launch\.exe.*cannot start " '!exit code'
row "a path neither code page 1252 nor 932 spells: one line naming LC_ALL" 1 ../한국어 -- \
  "^try-medium: .*LC_ALL" '!^Launch\.exe exit code'

echo "try-medium_test: $passed passed, $failed failed"
[[ $failed -eq 0 ]]
