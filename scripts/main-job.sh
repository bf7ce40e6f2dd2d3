#!/usr/bin/env bash
# The main job: builds Launch.exe, lays out the shipped medium (the 32-bit Launch.exe with the
# x86 package of the sample Tessaro 3.10.0) and runs it, in the 32-bit rig, on a machine where
# the x86 sample Tessaro 3.9.0 is installed: message 107, the removal, the sample installer.
# With a DISPLAY you answer the boxes; without one each is answered and saved under
# build/sample-run/, and the job fails unless the run removed 3.9.0 and ended with 0.
#
#   scripts/main-job.sh
set -euo pipefail
# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../tools/lib.sh"
tessaro_args "$@"
[[ $# -eq 0 ]] || tessaro_usage_error "takes no arguments"
cd "$tessaro_root"
bash scripts/setup.sh
bash scripts/build.sh win32 win64

rm -rf build/medium build/sample-run
# The 32-bit launcher reads the 32-bit registry view, where only an x86 package registers.
bash scripts/make-medium.sh build/win64/sample/Setup.exe build/win64/sample/Tessaro-3.10.0-x86.msi \
  build/medium build/win32/Launch.exe

# A prefix of its own, so that the sample installation never meets the tests' packages.
export TESSARO_TRY_PREFIX="$PWD/build/wine-prefix-sample32" TESSARO_TRY_OUT=build/sample-run
bash scripts/try-medium.sh build/medium build/win64/sample/Tessaro-3.9.0-x86.msi
echo "Shipped medium: build/medium (32-bit Launch.exe, $(stat -c %s build/medium/Launch.exe) bytes)"
if [[ -z ${DISPLAY:-} ]] &&
  ! { grep -qx 'exit_code=0' build/sample-run/result && grep -qx 'after=' build/sample-run/result; }; then
  die "the unattended run did not remove Tessaro 3.9.0 and end with 0"
fi
