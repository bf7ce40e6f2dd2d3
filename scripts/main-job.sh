#!/usr/bin/env bash
# The main job: builds Launch.exe and runs it under Wine on the bundled sample medium, on a
# machine where the sample Tessaro 3.9.0 is installed and the medium carries 3.10.0.
#
# With a DISPLAY, the boxes appear there and you answer them. Without one, the run happens on
# a virtual display, every box is answered (OK, else Cancel) and saved as a screenshot under
# build/sample-run/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
bash scripts/setup.sh
bash scripts/build.sh win32 win64

# The shipped medium, with the 32-bit Launch.exe.
rm -rf build/medium build/sample-medium build/sample-run
bash scripts/make-medium.sh build/win64/sample/Setup.exe build/win64/sample/Tessaro-3.10.0.msi \
  build/medium build/win32/Launch.exe
# This machine runs no 32-bit code, so Wine runs the same medium with the 64-bit build.
bash scripts/make-medium.sh build/win64/sample/Setup.exe build/win64/sample/Tessaro-3.10.0.msi \
  build/sample-medium build/win64/Launch.exe
mkdir -p build/sample-run

# A prefix of its own, so that the sample installation never meets the tests' packages.
export TESSARO_WINEPREFIX="$PWD/build/wine-prefix-sample"
if [ -n "${DISPLAY:-}" ]; then
  bash scripts/run-sample.sh interactive
else
  xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/run-sample.sh unattended
fi
