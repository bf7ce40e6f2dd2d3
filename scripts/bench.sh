#!/usr/bin/env bash
# Measures the launcher's cost under Wine: start-up on the way to the installer, CPU time while
# the installer runs, and the size of both builds.
#   scripts/bench.sh [RUNS (default 10)] [IDLE_MS (default 5000)]
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
[[ $# -le 2 ]] || tessaro_usage_error "at most two arguments: RUNS and IDLE_MS"
runs=${1:-10}
idle=${2:-5000}
for number in "$runs" "$idle"; do
  [[ $number =~ ^[1-9][0-9]{0,5}$ ]] || tessaro_usage_error "not a positive whole number: $number"
done
cd "$tessaro_root"
bash scripts/setup.sh
bash scripts/build.sh win32 win64 >/dev/null
work=$PWD/build/bench
rm -rf "$work" && mkdir -p "$work"
cp build/win64/Launch.exe "$work/"
cp build/win64/tests/wine/stand_in.exe "$work/Setup.exe"
# A product code nobody has installed: the launcher goes straight to the installer.
printf '{0B8C1D2E-3F40-4A5B-8C6D-7E8F9A0B1C2D},3.10\r\n' >"$work/TS_INF"
export TESSARO_WINEPREFIX="$PWD/build/wine-prefix-bench"
"${tessaro_virtual_screen[@]}" bash tools/wine/run-in-wine.sh build/win64/tools/windows/bench.exe \
  "Z:${work//\//\\}" "$runs" "$idle"
echo
echo "Launch.exe size: win32 $(stat -c %s build/win32/Launch.exe) bytes, win64 $(stat -c %s build/win64/Launch.exe) bytes"
