#!/usr/bin/env bash
# Runs the sample medium under Wine on the current display (called by main-job.sh).
#   run-sample.sh interactive|unattended
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
mode=$1
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
tessaro_wine_prefix

windows_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
product='{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}'
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
installed() { "$TESSARO_WINE" reg query "$key" /reg:64 >/dev/null 2>&1; }

# The customer's machine: Tessaro 3.9.0 installed (anew, whatever an earlier run left).
"$TESSARO_WINE" msiexec /x "$product" /qn >/dev/null 2>&1 || true
"$TESSARO_WINE" msiexec /i "$(windows_path build/win64/sample/Tessaro-3.9.0.msi)" /qn
installed || { echo "run-sample: the sample Tessaro 3.9.0 did not install" >&2; exit 1; }
echo "Sample Tessaro 3.9.0 installed; medium: build/sample-medium (TS_INF: $(tr -d '\r' <build/sample-medium/TS_INF))"

launcher=$(windows_path build/sample-medium/Launch.exe)
set +e
if [ "$mode" = interactive ]; then
  echo "Starting $launcher on $DISPLAY: answer its boxes there."
  "$TESSARO_WINE" "$launcher"
else
  "$TESSARO_WINE" build/win64/tests/wine/box_answer.exe "$(windows_path build/sample-run)" "$launcher"
fi
exit_code=$?
set -e
"$TESSARO_WINESERVER" -w

for bmp in build/sample-run/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
echo
echo "Launch.exe exit code: $exit_code"
if installed; then echo "Tessaro 3.9.0: still installed"; else echo "Tessaro 3.9.0: removed"; fi
ls build/sample-run/*.png >/dev/null 2>&1 && echo "Screenshots: $(ls build/sample-run/*.png | tr '\n' ' ')"
echo "Shipped medium: build/medium (32-bit Launch.exe, $(stat -c %s build/medium/Launch.exe) bytes)"
