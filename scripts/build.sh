#!/usr/bin/env bash
# Configures and builds the given presets (default: all three) in build/PRESET.
#
#   scripts/build.sh [host|win32|win64]...
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
for one in "$@"; do
  [[ $one == host || $one == win32 || $one == win64 ]] ||
    tessaro_usage_error "no such preset: $one (host, win32 or win64)"
done
cd "$tessaro_root"
read -r -a presets <<<"${*:-host win32 win64}"
for one in "${presets[@]}"; do
  cmake --preset "$one" >/dev/null
  cmake --build --preset "$one"
done
