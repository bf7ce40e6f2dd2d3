#!/usr/bin/env bash
# Checks a built Launch.exe for what a medium needs from it but no unit test sees: machine and
# subsystem, the DLLs it loads, the security flags of its header, the manifest and version
# resources, and its size, all read by scripts/pe.py (Debian package python3-pefile).
set -euo pipefail

usage() {
  echo "usage: $0 [--arch i386|x86-64] EXE" >&2
  exit 2
}

arch=i386
case ${1-} in
  --arch)
    [[ $# -ge 2 ]] || usage
    arch=$2
    shift 2
    ;;
  --arch=*)
    arch=${1#--arch=}
    shift
    ;;
esac
[[ $# -eq 1 ]] || usage
exe=$1
case $arch in
  i386) expected_magic=PE32 ;;
  x86-64) expected_magic=PE32+ ;;
  *) usage ;;
esac
[[ -f $exe ]] || { echo "$0: no such file: $exe" >&2; exit 2; }

readonly max_size=131072
# Anything beyond these is either a mingw runtime DLL that the medium does not carry
# (libstdc++, libgcc, libwinpthread) or a system DLL that was never meant to be loaded.
readonly allowed_dlls=" kernel32.dll user32.dll advapi32.dll shlwapi.dll msvcrt.dll "

passed=0
failed=0
check() {
  local name=$1
  shift
  if "$@"; then
    echo "PASS $name"
    passed=$((passed + 1))
  else
    echo "FAIL $name"
    failed=$((failed + 1))
  fi
}

# One "NAME VALUE" line per fact; a file that is no PE image leaves this empty, and every check
# below then fails on its own. The system Python, because python3-pefile is installed for it.
facts=$(/usr/bin/python3 -B "$(dirname "${BASH_SOURCE[0]}")/../../scripts/pe.py" facts "$exe") ||
  facts=
# Every value of fact NAME, one a line.
fact() { awk -v name="$1" '$1 == name { sub(/^[^ ]* /, ""); print }' <<<"$facts"; }

is_pe_format() { [[ $(fact machine) == "$arch" && $(fact magic) == "$expected_magic" ]]; }

is_console() { [[ $(fact subsystem) == console ]]; }

has_dll_characteristics() {
  local value
  value=$(fact dll_characteristics)
  [[ -n $value ]] && (((value & $1) == $1))
}

imports_only_allowed_dlls() {
  local dlls dll ok=0
  dlls=$(fact import | tr '[:upper:]' '[:lower:]')
  # No import table at all means the file was not understood, not a clean result.
  grep -qx kernel32.dll <<<"$dlls" || { echo "  no import of KERNEL32.dll found"; return 1; }
  for dll in $dlls; do
    if [[ $allowed_dlls != *" $dll "* ]]; then
      echo "  imports $dll"
      ok=1
    fi
  done
  return $ok
}

# Windows looks for the manifest of an .exe only under id 1, and an ill-formed one keeps the
# program from starting at all ("side-by-side configuration is incorrect"): pe.py parses it.
manifest_requires_administrator() {
  local levels problem
  problem=$(fact manifest_error)
  [[ -z $problem ]] || { echo "  $problem"; return 1; }
  levels=$(fact execution_level | tr '\n' ' ')
  [[ $levels == "requireAdministrator " ]] || {
    echo "  requestedExecutionLevel: ${levels:-none}"
    return 1
  }
}

# GetFileVersionInfo reads the version resource with id 1 only.
version_value() { fact version | grep -qxF "$1=$2"; }

has_version_info() {
  version_value ProductName "Tessaro Setup Launcher" &&
    version_value OriginalFilename Launch.exe
}

size=$(stat -c %s -- "$exe")
is_small_enough() {
  echo "  size $size bytes, limit $max_size"
  ((size <= max_size))
}

check "format $arch $expected_magic" is_pe_format
check "console subsystem" is_console
check "system DLLs only" imports_only_allowed_dlls
check "DYNAMIC_BASE" has_dll_characteristics 0x40
check "NX_COMPAT" has_dll_characteristics 0x100
if [[ $arch == x86-64 ]]; then
  check "HIGH_ENTROPY_VA" has_dll_characteristics 0x20
fi
check "manifest requires administrator" manifest_requires_administrator
check "version info" has_version_info
check "size" is_small_enough

echo "$passed passed, $failed failed"
[[ $failed -eq 0 ]]
