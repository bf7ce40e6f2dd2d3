#!/usr/bin/env bash
# Sourced: the Wine settings every script and test of the project shares.
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
export WINEPREFIX="${TESSARO_WINEPREFIX:-$tessaro_root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts: nothing here needs them and they cannot be downloaded.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
TESSARO_WINE=/usr/lib/wine/wine64
TESSARO_WINESERVER=/usr/lib/wine/wineserver

tessaro_boot_wine() {
  "${tessaro_on_screen[@]}" "$TESSARO_WINE" wineboot -i >/dev/null 2>&1 &&
    "$TESSARO_WINESERVER" -w
}

tessaro_wine_prefix() { tessaro_make_prefix "$WINEPREFIX" tessaro_boot_wine; }
