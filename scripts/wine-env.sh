# Sourced: the Wine settings every script and test of the project shares.
tessaro_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${TESSARO_WINEPREFIX:-$tessaro_root/build/wine-prefix}"
export WINEARCH=win64
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono or Gecko installer prompts: nothing here needs them and they cannot be downloaded.
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
TESSARO_WINE=/usr/lib/wine/wine64
TESSARO_WINESERVER=/usr/lib/wine/wineserver

# Creates the prefix once; a lock keeps parallel first uses from building it twice.
tessaro_wine_prefix() {
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/.tessaro-ready" ]; then
      rm -rf "$WINEPREFIX"
      if [ -z "${DISPLAY:-}" ]; then
        xvfb-run -a "$TESSARO_WINE" wineboot -i >/dev/null 2>&1
      else
        "$TESSARO_WINE" wineboot -i >/dev/null 2>&1
      fi
      "$TESSARO_WINESERVER" -w
      touch "$WINEPREFIX/.tessaro-ready"
    fi
  ) 9>"$WINEPREFIX.lock"
}
