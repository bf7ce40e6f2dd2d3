#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan) and runs each for a few seconds, so
# that a crash or a broken invariant fails the test command. FUZZ_SECONDS sets the time.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/../.."
seconds=${FUZZ_SECONDS:-10}
out=build/fuzz
# With the library's bounds assertions, as the shipped build has them: an index past a string's
# end aborts here as it would abort the launcher.
flags=(-std=c++17 -g -O1 -I. "-fsanitize=fuzzer,address,undefined" -fno-sanitize-recover=all
  -D_GLIBCXX_ASSERTIONS -Wall -Wextra -Werror)
sources=(launcher/{package_info,module_directory,trace,version}.cpp)  # what either target reaches
passed=0 failed=0
for fuzzer in package_line_fuzzer versions_fuzzer; do
  mkdir -p "$out/$fuzzer-corpus"
  clang++ "${flags[@]}" -o "$out/$fuzzer" "tests/fuzz/$fuzzer.cpp" "${sources[@]}"
  if "$out/$fuzzer" -max_total_time="$seconds" -print_final_stats=1 \
    "$out/$fuzzer-corpus" >"$out/$fuzzer.log" 2>&1; then
    runs=$(grep -Eo 'Done [0-9]+ runs' "$out/$fuzzer.log" | grep -Eo '[0-9]+' || echo '?')
    echo "fuzz $fuzzer: $runs executions in ${seconds}s, no finding"
    passed=$((passed + 1))
  else
    echo "fuzz $fuzzer: FAILED"
    tail -40 "$out/$fuzzer.log"
    failed=$((failed + 1))
  fi
done
echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
