#!/usr/bin/env bash
# Builds Launch.exe twice from copies of this checkout in two different folders, a few seconds
# apart, and compares the results byte for byte: a release team must be able to prove that the
# Launch.exe on a medium is the one built from a given commit. Only the Launch target is built.
#   reproducible-build_test.sh [PRESET...]     (default: win32 win64)
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/reproducible.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

[[ $# -gt 0 ]] || set -- win32 win64
for preset; do
  start "$preset Launch.exe reproducible"
  # Folders of different lengths, so that a path in the file would also move what follows.
  for copy in first second-copy; do
    dir=$work/$preset/$copy
    mkdir -p "$dir/src"
    tar -C "$tessaro_root" --exclude=./build --exclude=./.git -cf - . | tar -C "$dir/src" -xf -
    # The Windows tests are not part of Launch.exe and would only cost build time here.
    (cd "$dir/src" && cmake --preset "$preset" -B "$dir/build" -DTESSARO_WINDOWS_TESTS=OFF &&
      cmake --build "$dir/build" --target Launch) >"$dir/build.log" 2>&1 ||
      die "FAIL $preset: the $copy build failed: $(tail -n 20 "$dir/build.log")"
    # The PE time stamp counts seconds: make sure that the two links fall in different ones.
    [[ $copy != first ]] || sleep 2
  done
  read -r first _ second _ <<<"$(sha256sum "$work/$preset"/*/build/Launch.exe | xargs)"
  must "differs: sha256 $first and $second; differing bytes:" \
    cmp "$work/$preset"/{first,second-copy}/build/Launch.exe
  [[ $case_failed == "$cases" ]] || echo "ok    $case_name: sha256 $first"
done
summary
