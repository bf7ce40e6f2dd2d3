#!/usr/bin/env bash
# Configures and builds the given presets (default: all three).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
for preset in "${@:-host win32 win64}"; do
  for one in $preset; do
    cmake --preset "$one" >/dev/null
    cmake --build --preset "$one"
  done
done
