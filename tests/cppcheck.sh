#!/usr/bin/env bash
# Static analysis of the launcher sources; exits non-zero on any finding.
#
#   tests/cppcheck.sh [extra cppcheck options]
#
# System and Windows headers are left out on purpose: cppcheck would otherwise parse the
# mingw headers with its own, incomplete idea of the target and report on them.
set -euo pipefail

# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_passes_options=1 tessaro_args "$@"
cd "$tessaro_root"
command -v cppcheck >/dev/null || die "cppcheck not found (Debian package cppcheck)"

# googletest teaches cppcheck the TEST macros, which it otherwise reports as syntax errors;
# windows gives it the Win32 API the platform layer calls.
cppcheck --enable=warning,performance,portability --error-exitcode=1 --inline-suppr --std=c++17 \
  --language=c++ --suppress=missingIncludeSystem --library=googletest --library=windows \
  --template='{file}:{line}: {severity}: {message} [{id}]' --quiet \
  -I . "$@" launcher platform tests tools/windows
echo "cppcheck: no findings"
