#!/usr/bin/env bash
# Runs a Windows program under Wine 64 in the project's own prefix (made on first use). Without
# a DISPLAY it gets a private virtual one, so that message boxes always have a screen.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
# shellcheck source=scripts/wine-env.sh
source "$here/wine-env.sh"
tessaro_wine_prefix
if [ -z "${DISPLAY:-}" ]; then
  exec xvfb-run -a -s "-screen 0 1280x1024x24" "$TESSARO_WINE" "$@"
fi
exec "$TESSARO_WINE" "$@"
