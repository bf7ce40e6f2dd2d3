#!/usr/bin/env bash
# Every test of the project: lint, host unit tests and fuzzers, static analysis, checks on the
# built artifacts, the medium assembly and its rehearsal, and the Windows end-to-end tests under
# Wine against both builds of Launch.exe. Builds first.
# Ends with one line "test-all: N passed, M failed"; exits non-zero when anything failed.
#
#   scripts/test-all.sh
set -uo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
[[ $# -eq 0 ]] || tessaro_usage_error "takes no arguments"
cd "$tessaro_root" || exit 1

bash scripts/setup.sh || exit 1
bash scripts/build.sh host win32 win64 || { echo "test-all: build failed"; exit 1; }

passed=0 failed=0 stage_failed=0
log=$(mktemp)
trap 'rm -rf "$log" "$log.pycache"' EXIT

# Runs a stage, shows its output, and adds its own counts to the totals.
stage() {
  local name=$1
  shift
  echo "=== $name"
  "$@" 2>&1 | tee "$log"
  local status=${PIPESTATUS[0]} counts="" stage_passed stage_failed_cases
  if counts=$(tests/lint.py counts "$log"); then
    read -r stage_passed stage_failed_cases <<<"$counts"
    passed=$((passed + stage_passed)) failed=$((failed + stage_failed_cases))
  elif [[ $status -eq 0 ]]; then
    passed=$((passed + 1))
  fi
  if [[ $status -ne 0 ]]; then
    echo "=== $name FAILED (exit $status)"
    # A stage that failed without counting its failures still counts as one.
    [[ -n $counts ]] || failed=$((failed + 1))
    stage_failed=1
  fi
}

# Lint, on the files git tracks; a shell script is known by its name or by its first line.
mapfile -t shell_scripts < <(git ls-files -z | xargs -0 tests/lint.py shell-scripts)
stage "shellcheck, ${#shell_scripts[@]} scripts" shellcheck -x -S warning "${shell_scripts[@]}"
stage "one shell dialect" tests/lint.py dialect "${shell_scripts[@]}"
stage "clang-format" bash -c 'git ls-files -z "*.cpp" "*.h" | xargs -0 clang-format --dry-run -Werror'
mapfile -t python < <(git ls-files "*.py")
stage "Python compiles" \
  env PYTHONPYCACHEPREFIX="$log.pycache" /usr/bin/python3 -m py_compile "${python[@]}"
stage "pyflakes" pyflakes3 "${python[@]}"
stage "host unit tests" ctest --preset host
stage "fuzzing" bash tests/fuzz/run-fuzzers.sh
stage "cppcheck" bash tests/cppcheck.sh
stage "artifact build/win32/Launch.exe" tests/artifact/check_artifact.py build/win32/Launch.exe
stage "artifact build/win64/Launch.exe" \
  tests/artifact/check_artifact.py --arch x86-64 build/win64/Launch.exe
stage "release tools' Python tables" tests/release/run_tables.py
stage "reproducible Launch.exe" bash tests/release/reproducible-build_test.sh win32 win64
stage "medium assembly" tests/release/run_tables.py medium_runs
stage "rehearsal" tests/release/run_tables.py rehearsal_runs
stage "Wine end-to-end tests, build/win64/Launch.exe on this machine's Wine" \
  "${tessaro_virtual_screen[@]}" ctest --preset win64
bash -c 'source tools/wine/wine-env.sh; "$TESSARO_WINESERVER" -k' 2>/dev/null
# The same tests against the shipped program; the rig is built on first use.
stage "Wine end-to-end tests, build/win32/Launch.exe in the 32-bit rig" \
  bash tools/wine/rig32.sh session ctest --preset win32

echo "test-all: $passed passed, $failed failed"
[[ $failed -eq 0 && $stage_failed -eq 0 ]]
