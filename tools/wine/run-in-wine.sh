#!/usr/bin/env bash
# Runs a Windows program under Wine 64 in the project's own prefix (made on first use). Without
# a DISPLAY it gets a private virtual one, so that message boxes always have a screen.
#
# With TESSARO_E2E_BUILD=win32 (the end-to-end tests of the shipped 32-bit build) the program
# runs in the 32-bit rig instead, which only it can start 32-bit programs in (tools/wine/rig32.sh).
#
#   tools/wine/run-in-wine.sh PROGRAM [ARG...]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=tools/lib.sh
source "$here/../lib.sh"
# The arguments after PROGRAM are the program's own.
tessaro_args "${1-}"
[[ $# -ge 1 ]] || tessaro_usage_error "no program given"
[[ ${TESSARO_E2E_BUILD:-} != win32 ]] || exec bash "$here/rig32.sh" wine "$@"
# shellcheck source=tools/wine/wine-env.sh
source "$here/wine-env.sh"
tessaro_wine_prefix
exec "${tessaro_on_screen[@]}" "$TESSARO_WINE" "$@"
