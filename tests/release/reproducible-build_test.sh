#!/usr/bin/env bash
# Builds Launch.exe once more, from a copy of this checkout in another folder and seconds after
# the build in build/PRESET (brought up to date first), and compares the two byte for byte: a
# release team must be able to prove that the Launch.exe on a medium is the one built from a
# given commit. Only the Launch target is built.
#   reproducible-build_test.sh [PRESET...]     (default: win32 win64)
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/reproducible.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

[[ $# -gt 0 ]] || set -- win32 win64
for preset; do
  start "$preset Launch.exe reproducible"
  main=$tessaro_root/build/$preset dir=$work/$preset
  cmake --build "$main" --target Launch >"$work/$preset.log" 2>&1 ||
    die "FAIL $preset: build/$preset does not build: $(tail -n 20 "$work/$preset.log")"
  # The PE time stamp counts seconds: make sure that the two links fall in different ones.
  sleep 2
  # A folder of another length, so that a path in the file would also move what follows.
  mkdir -p "$dir/src"
  tar -C "$tessaro_root" --exclude=./build --exclude=./.git -cf - . | tar -C "$dir/src" -xf -
  # The Windows tests are not part of Launch.exe and would only cost build time here.
  (cd "$dir/src" && cmake --preset "$preset" -B "$dir/build" -DTESSARO_WINDOWS_TESTS=OFF &&
    cmake --build "$dir/build" --target Launch) >"$dir/build.log" 2>&1 ||
    die "FAIL $preset: the copy's build failed: $(tail -n 20 "$dir/build.log")"
  read -r first _ second _ <<<"$(sha256sum "$main/Launch.exe" "$dir/build/Launch.exe" | xargs)"
  must "differs: sha256 $first and $second; differing bytes:" \
    cmp "$main/Launch.exe" "$dir/build/Launch.exe"
  [[ $case_failed == "$cases" ]] || echo "ok    $case_name: sha256 $first"
done
summary
