#!/usr/bin/env bash
# Checks a built Launch.exe for what a medium needs from it but no unit test sees: machine and
# subsystem, the DLLs it loads, the security flags of its header, the manifest and version
# resources, and its size, all read by scripts/pe.py (Debian package python3-pefile).
set -euo pipefail

arch=i386
case ${1-} in
  --arch=*) arch=${1#--arch=} && shift ;;
  --arch) arch=${2-} && [[ $# -ge 2 ]] && shift 2 ;;
esac
magic=PE32
[[ $arch != x86-64 ]] || magic=PE32+
[[ $# -eq 1 && $arch =~ ^(i386|x86-64)$ ]] ||
  { echo "usage: $0 [--arch i386|x86-64] EXE" >&2; exit 2; }
exe=$1
[[ -f $exe ]] || { echo "$0: no such file: $exe" >&2; exit 2; }

readonly max_size=131072
# Anything beyond these is either a mingw runtime DLL that the medium does not carry
# (libstdc++, libgcc, libwinpthread) or a system DLL that was never meant to be loaded.
readonly allowed_dlls=" kernel32.dll user32.dll advapi32.dll shlwapi.dll msvcrt.dll "

# One "NAME VALUE" line per fact; a file that is no PE image leaves this empty, and every check
# below then fails on its own. The system Python, because python3-pefile is installed for it.
facts=$(/usr/bin/python3 -B "$(dirname "${BASH_SOURCE[0]}")/../../scripts/pe.py" facts "$exe") ||
  facts=
# Every value of fact NAME, one a line; whether the facts hold every line given.
fact() { awk -v name="$1" '$1 == name { sub(/^[^ ]* /, ""); print }' <<<"$facts"; }
has() { local line; for line; do grep -qxF -- "$line" <<<"$facts" || return; done; }

has_dll_characteristics() {
  local value
  value=$(fact dll_characteristics)
  [[ -n $value ]] && (((value & $1) == $1))
}

imports_only_allowed_dlls() {
  local dll ok=0
  # No import table at all means the file was not understood, not a clean result.
  fact import | grep -qix kernel32.dll || { echo "  no import of KERNEL32.dll found"; return 1; }
  for dll in $(fact import | tr '[:upper:]' '[:lower:]'); do
    [[ $allowed_dlls == *" $dll "* ]] || { echo "  imports $dll" && ok=1; }
  done
  return $ok
}

# Windows looks for the manifest of an .exe only under id 1, and an ill-formed one keeps the
# program from starting at all ("side-by-side configuration is incorrect"): pe.py parses it.
manifest_requires_administrator() {
  local problem levels
  problem=$(fact manifest_error)
  levels=$(fact execution_level | tr '\n' ' ')
  [[ -z $problem && $levels == "requireAdministrator " ]] && return
  echo "  ${problem:-requestedExecutionLevel: ${levels:-none}}"
  return 1
}

size=$(stat -c %s -- "$exe")
is_small_enough() {
  echo "  size $size bytes, limit $max_size"
  ((size <= max_size))
}

checks=0 failed=0
# check NAME COMMAND...: PASS or FAIL NAME, as COMMAND succeeds or not.
check() {
  checks=$((checks + 1))
  "${@:2}" && echo "PASS $1" && return
  echo "FAIL $1" && failed=$((failed + 1))
}
check "format $arch $magic" has "machine $arch" "magic $magic"
check "console subsystem" has "subsystem console"
check "system DLLs only" imports_only_allowed_dlls
check "DYNAMIC_BASE" has_dll_characteristics 0x40
check "NX_COMPAT" has_dll_characteristics 0x100
[[ $arch != x86-64 ]] || check "HIGH_ENTROPY_VA" has_dll_characteristics 0x20
check "manifest requires administrator" manifest_requires_administrator
# GetFileVersionInfo reads the version resource with id 1 only.
check "version info" has "version ProductName=Tessaro Setup Launcher" \
  "version OriginalFilename=Launch.exe"
check "size" is_small_enough

echo "$((checks - failed)) passed, $failed failed"
[[ $failed -eq 0 ]]
