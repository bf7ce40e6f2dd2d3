#!/usr/bin/env bash
# Configures and builds the given presets (default: all three).
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
read -r -a presets <<<"${*:-host win32 win64}"
for one in "${presets[@]}"; do
  cmake --preset "$one" >/dev/null
  cmake --build --preset "$one"
done
