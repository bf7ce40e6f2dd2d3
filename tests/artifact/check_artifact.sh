#!/bin/bash
# Checks a built Launch.exe for what a medium needs from it but no unit test sees: machine and
# subsystem, the DLLs it loads, the security flags of its header, the manifest and version
# resources, and its size. Needs binutils-mingw-w64-x86-64 (objdump, windres) and python3.
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
    i386) expected_format=pei-i386 expected_magic=010b ;;
    x86-64) expected_format=pei-x86-64 expected_magic=020b ;;
    *) usage ;;
esac
[[ -f $exe ]] || { echo "$0: no such file: $exe" >&2; exit 2; }

# The x86-64 binutils read 32-bit images as well, so one set of tools serves both builds.
objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
windres=${WINDRES:-x86_64-w64-mingw32-windres}
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

# A file the tools cannot read leaves these empty, and every check below then fails on its own.
headers=$("$objdump" -p "$exe" 2>/dev/null) || headers=
resources=$("$windres" --input-format=coff --output-format=rc -i "$exe" 2>/dev/null) || resources=

header_field() { awk -v key="$1" '$1 == key { print $2; exit }' <<<"$headers"; }

# Prints the statements of one resource: from its "NAME TYPE" line up to the END in column 0.
resource_block() {
    awk -v head="$1" 'index($0, head) == 1 { on = 1 } on { print } on && /^END$/ { exit }' \
        <<<"$resources"
}

is_pe_format() {
    grep -q "file format $expected_format\$" <<<"$headers" &&
        [[ $(header_field Magic) == "$expected_magic" ]]
}

is_console() { [[ $(header_field Subsystem) == 00000003 ]]; }

has_dll_characteristics() {
    local value
    value=$(header_field DllCharacteristics)
    [[ $value =~ ^[0-9a-fA-F]+$ ]] && (((16#$value & $1) == $1))
}

imports_only_allowed_dlls() {
    local dlls dll ok=0
    dlls=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr '[:upper:]' '[:lower:]')
    # No import table at all means objdump did not understand the file, not a clean result.
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
# program from starting at all ("side-by-side configuration is incorrect"), so the XML is parsed
# rather than searched.
manifest_requires_administrator() {
    resource_block '1 24 ' | python3 -c '
import re, sys
import xml.etree.ElementTree as ET

def unquote(literal):
    text = literal[1:-1].replace("\"\"", "\"")
    return re.sub(r"\\([0-7]{1,3}|.)",
                  lambda m: chr(int(m.group(1), 8)) if m.group(1).isdigit()
                  else {"n": "\n", "r": "\r", "t": "\t"}.get(m.group(1), m.group(1)), text)

literals = re.findall(r"^\s*(\".*\")\s*$", sys.stdin.read(), re.M)
if not literals:
    sys.exit("  no RT_MANIFEST resource with id 1")
try:
    root = ET.fromstring("".join(unquote(l) for l in literals).encode("utf-8"))
except ET.ParseError as error:
    sys.exit(f"  manifest is not well-formed XML: {error}")
levels = [e.get("level") for e in root.iter("{urn:schemas-microsoft-com:asm.v3}requestedExecutionLevel")]
if levels != ["requireAdministrator"]:
    sys.exit(f"  requestedExecutionLevel: {levels}")
' 2>&1
}

# GetFileVersionInfo reads the version resource with id 1 only.
version_value() {
    resource_block '1 VERSIONINFO' | grep -qF "VALUE \"$1\", \"$2\""
}

has_version_info() {
    version_value ProductName "Tessaro Setup Launcher" &&
        version_value OriginalFilename Launch.exe
}

size=$(stat -c %s -- "$exe")
is_small_enough() {
    echo "  size $size bytes, limit $max_size"
    ((size <= max_size))
}

check "format $expected_format" is_pe_format
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
