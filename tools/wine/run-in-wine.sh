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
# A test that ctest runs beside others has a slot ("id:N,slots:1", tests/wine/slots.json): a
# copy of the prefix and a screen of the display, both its own.
slot=${CTEST_RESOURCE_GROUP_0_WINE:-} && slot=${slot#id:}
export TESSARO_E2E_SLOT=${slot%%,*}
wine=(bash "$here/rig32.sh" wine) server=(bash "$here/rig32.sh" wineserver)
if [[ ${TESSARO_E2E_BUILD:-} != win32 ]]; then
  # shellcheck source=tools/wine/wine-env.sh
  source "$here/wine-env.sh"
  tessaro_wine_prefix
  if [[ -n $TESSARO_E2E_SLOT ]]; then
    shared=$WINEPREFIX WINEPREFIX=$WINEPREFIX-slot$TESSARO_E2E_SLOT
    tessaro_make_prefix "$WINEPREFIX" cp -a "$shared" "$WINEPREFIX"
    [[ -z ${DISPLAY:-} ]] || export DISPLAY=${DISPLAY%.*}.$TESSARO_E2E_SLOT
  fi
  [[ -n ${DISPLAY:-} ]] || exec "${tessaro_virtual_screen[@]}" "$TESSARO_WINE" "$@"
  wine=("$TESSARO_WINE") server=("$TESSARO_WINESERVER")
fi
# In a test's slot, Wine's server started here is kept 30 s after its last program (not 3): the
# next test, slow to come on a busy machine, then finds Wine up instead of starting it anew. Not
# elsewhere: a caller that waits for Wine to end (wineserver -w) would wait those 30 s.
[[ -z $TESSARO_E2E_SLOT ]] || "${server[@]}" -p30 </dev/null >/dev/null 2>&1 || true
# The output goes through files: Wine's own processes outlive the program and hold what it was
# given, so that ctest, reading to the end, would wait for them after every test.
out=$(mktemp)
trap 'rm -f "$out" "$out.err"' EXIT
status=0
"${wine[@]}" "$@" >"$out" 2>"$out.err" || status=$?
cat "$out" && cat "$out.err" >&2
exit "$status"
