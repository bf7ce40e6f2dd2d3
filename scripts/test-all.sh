#!/usr/bin/env bash
# Every test of the project: lint, host unit tests and fuzzers, static analysis, checks on the
# built artifacts, the medium assembly and its rehearsal, and the Windows end-to-end tests under
# Wine against both builds of Launch.exe. Each stage starts once the builds it needs are made
# (each build only once), beside every other stage; its lines are printed together when it ends.
# Ends with the time and processor time taken, "retried: " and the end-to-end tests that passed
# only when run again (or none), and the line "test-all: N passed, M failed"; exits non-zero
# when anything failed.
#
#   scripts/test-all.sh
#   scripts/test-all.sh --only NAME[:TEST]...
#   scripts/test-all.sh --list
#
# --only runs the stage NAME alone (given more than once, those stages), after building what it
# tests; --list prints the names. For the ctest stages (host; win64 on this machine's Wine; win32
# in the 32-bit rig) TEST picks the tests by ctest's -R, for example
#   scripts/test-all.sh --only win32:PackageInfo.MessageWhenTsInfIsMissing
set -uo pipefail
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
tessaro_args "$@"
cd "$tessaro_root" || exit 1
bash scripts/setup.sh || exit 1
exec scripts/test_all.py "$@"
