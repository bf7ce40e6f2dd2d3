#!/usr/bin/env bash
# Builds Launch.exe twice from copies of this checkout in two different folders, a few seconds
# apart, and compares the results byte for byte: a release team must be able to prove that the
# Launch.exe on a medium is the one built from a given commit. Only the Launch target is built.
#   reproducible-build_test.sh [PRESET...]     (default: win32 win64)
set -euo pipefail

# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
work=$(mktemp -d "${TMPDIR:-/tmp}/reproducible.XXXXXX")
trap 'rm -rf -- "$work"' EXIT

passed=0
failed=0
read -r -a presets <<<"${*:-win32 win64}"
for one in "${presets[@]}"; do
  for copy in first second; do
    # Different lengths as well, so that a path in the file would also move what follows.
    [[ $copy == first ]] && dir=$work/$one/a || dir=$work/$one/second-copy
    mkdir -p "$dir/src"
    tar -C "$tessaro_root" --exclude=./build --exclude=./.git -cf - . | tar -C "$dir/src" -xf -
    # The Windows tests are not part of Launch.exe and would only cost build time here.
    (cd "$dir/src" && cmake --preset "$one" -B "$dir/build" -DTESSARO_WINDOWS_TESTS=OFF \
      >"$dir/configure.log" 2>&1 &&
      cmake --build "$dir/build" --target Launch >"$dir/build.log" 2>&1) || {
      echo "FAIL $one: the $copy build failed, see below"
      tail -n 20 "$dir/configure.log" "$dir/build.log" 2>/dev/null
      exit 1
    }
    # The PE time stamp counts seconds: make sure that the two links fall in different ones.
    [[ $copy == second ]] || sleep 2
  done
  first=$(sha256sum <"$work/$one/a/build/Launch.exe" | cut -d' ' -f1)
  second=$(sha256sum <"$work/$one/second-copy/build/Launch.exe" | cut -d' ' -f1)
  if [[ $first == "$second" ]]; then
    echo "PASS $one Launch.exe reproducible: sha256 $first"
    passed=$((passed + 1))
  else
    echo "FAIL $one Launch.exe differs: sha256 $first and $second; differing bytes:"
    cmp -l "$work/$one/a/build/Launch.exe" "$work/$one/second-copy/build/Launch.exe" | head -n 10
    failed=$((failed + 1))
  fi
done

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
