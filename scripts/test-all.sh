#!/usr/bin/env bash
# Every test of the project: lint, host unit tests and fuzzers, static analysis, checks on the
# built artifacts, the medium assembly and its rehearsal, and the Windows end-to-end tests under
# Wine against both builds of Launch.exe, all stages at once, each after the builds it needs
# (the stages: tools/test_all.py). Ends with the time taken, the end-to-end tests that passed
# only when run again ("retried:"), and "test-all: N passed, M failed"; exits non-zero when
# anything failed.
#
#   scripts/test-all.sh
#   scripts/test-all.sh --only NAME[:TEST]...
#
# --only runs the stage NAME alone (as often as given), after building what it tests; for the
# ctest stages host, win64 (this machine's Wine) and win32 (the rig) TEST picks tests by ctest's
# -R, e.g. scripts/test-all.sh --only 'win32:^PackageInfo.MessageWhenTsInfIsMissing$'
set -uo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
cd "$tessaro_root" || exit 1
bash scripts/setup.sh || exit 1
exec tools/test_all.py "$@"
