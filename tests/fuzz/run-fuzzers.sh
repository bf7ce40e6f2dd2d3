#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (ASan and UBSan) and runs each for a few seconds, so
# that a crash or a broken invariant fails the test command. FUZZ_SECONDS sets the time.
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../../tools/lib.sh"
cd "$tessaro_root"
seconds=${FUZZ_SECONDS:-10}
out=build/fuzz
# With the library's bounds assertions, as the shipped build has them: an index past a string's
# end aborts here as it would abort the launcher.
flags=(-std=c++17 -g -O1 -I. "-fsanitize=fuzzer,address,undefined" -fno-sanitize-recover=all
  -D_GLIBCXX_ASSERTIONS -Wall -Wextra -Werror)
# What either target reaches.
sources=(launcher/{decimal_text,module_directory,package_info,trace,traced_actions,version}.cpp)
# fuzz NAME: runs fuzzer NAME, its log kept; says the end of the log when it fails.
fuzz() {
  "$out/$1" -max_total_time="$seconds" -print_final_stats=1 "$out/$1-corpus" >"$out/$1.log" 2>&1 ||
    { tail -40 "$out/$1.log" && return 1; }
}
for fuzzer in package_line_fuzzer versions_fuzzer; do
  start "fuzz $fuzzer"
  mkdir -p "$out/$fuzzer-corpus"
  clang++ "${flags[@]}" -o "$out/$fuzzer" "tests/fuzz/$fuzzer.cpp" "${sources[@]}"
  must "FAILED" fuzz "$fuzzer"
  runs=$(grep -Eo 'Done [0-9]+ runs' "$out/$fuzzer.log" | grep -Eo '[0-9]+' || echo '?')
  [[ $case_failed == "$cases" ]] || echo "fuzz $fuzzer: $runs executions in ${seconds}s, no finding"
done
summary
