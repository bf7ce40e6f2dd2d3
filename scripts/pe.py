#!/usr/bin/python3
# The system Python on purpose: Debian's python3-pefile is installed for it, and a python3 that
# comes first on PATH (pyenv, a virtualenv) usually lacks pefile.
"""Facts of a Windows executable's headers and resources, read through pefile.

The one PE reader of the project's scripts: import it, or ask it from a shell with
    pe.py machine FILE      -> i386, x86-64 or arm64
    pe.py facts FILE        -> one "NAME VALUE" line per fact the artifact checks look at
"""
import sys
import xml.etree.ElementTree as ET

import pefile

MACHINES = {0x14C: "i386", 0x8664: "x86-64", 0xAA64: "arm64", 0x1C4: "arm"}
MAGICS = {pefile.OPTIONAL_HEADER_MAGIC_PE: "PE32", pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS: "PE32+"}
CONSOLE = pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"]
# The header of each certificate table entry; the signature (PKCS#7, DER) follows it.
WIN_CERTIFICATE = ("WIN_CERTIFICATE", ("I,dwLength", "H,wRevision", "H,wCertificateType"))
ASM_V3 = "{urn:schemas-microsoft-com:asm.v3}"

def open_pe(path):
    """The parsed headers, or None when the file is no PE image."""
    try:
        return pefile.PE(path, fast_load=True)
    except (pefile.PEFormatError, OSError):
        return None

def machine(pe):
    return MACHINES.get(pe.FILE_HEADER.Machine, f"0x{pe.FILE_HEADER.Machine:04x}")

def magic(pe):
    return MAGICS.get(pe.OPTIONAL_HEADER.Magic, str(pe.OPTIONAL_HEADER.Magic))

def is_console(pe):
    return pe.OPTIONAL_HEADER.Subsystem == CONSOLE

def signature(pe):
    """The first signature of the certificate table (DER bytes), b"" for an unsigned file."""
    index = pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]
    directories = pe.OPTIONAL_HEADER.DATA_DIRECTORY
    if len(directories) <= index or directories[index].Size == 0:
        return b""
    # This one directory holds a file offset, not an address in the loaded image.
    start = directories[index].VirtualAddress
    header = pefile.Structure(WIN_CERTIFICATE, file_offset=start)
    header.__unpack__(pe.__data__[start : start + header.sizeof()])
    return bytes(pe.__data__[start + header.sizeof() : start + header.dwLength])

def directory(pe, name):
    """What pefile made of data directory NAME, IMPORT or RESOURCE (fast_load reads none)."""
    attribute = f"DIRECTORY_ENTRY_{name}"
    if not hasattr(pe, attribute):
        pe.parse_data_directories(directories=[pefile.DIRECTORY_ENTRY[f"IMAGE_{attribute}"]])
    return getattr(pe, attribute, None)

def resource(pe, kind, number):
    """The bytes of resource KIND (an RT_ name) with id NUMBER, first language; None if absent."""
    types = directory(pe, "RESOURCE")
    for entry in (e for k in types.entries if k.id == pefile.RESOURCE_TYPE[kind]
                  for e in k.directory.entries) if types else ():
        if entry.id == number and entry.directory.entries:
            data = entry.directory.entries[0].data.struct
            return pe.get_data(data.OffsetToData, data.Size)
    return None

def execution_levels(pe):
    """The requestedExecutionLevel values of the manifest. Windows reads it from id 1 only, and
    one that is not well-formed keeps the program from starting at all: both raise ValueError."""
    text = resource(pe, "RT_MANIFEST", 1)
    if text is None:
        raise ValueError("no RT_MANIFEST resource with id 1")
    try:
        root = ET.fromstring(text)
    except ET.ParseError as error:
        raise ValueError(f"manifest is not well-formed XML: {error}") from None
    return [e.get("level") for e in root.iter(ASM_V3 + "requestedExecutionLevel")]

def version_strings(pe):
    """The StringFileInfo values of the version resource; GetFileVersionInfo reads id 1 only."""
    if resource(pe, "RT_VERSION", 1) is None:
        return {}
    return {key.decode("utf-8", "replace"): value.decode("utf-8", "replace")
            for info in getattr(pe, "FileInfo", []) for block in info
            for table in getattr(block, "StringTable", []) for key, value in table.entries.items()}

def facts(pe):
    yield "machine", machine(pe)
    yield "magic", magic(pe)
    yield "subsystem", "console" if is_console(pe) else str(pe.OPTIONAL_HEADER.Subsystem)
    yield "dll_characteristics", f"0x{pe.OPTIONAL_HEADER.DllCharacteristics:04x}"
    for entry in directory(pe, "IMPORT") or []:
        yield "import", entry.dll.decode("ascii", "replace")
    try:
        for level in execution_levels(pe):
            yield "execution_level", level
    except ValueError as error:
        yield "manifest_error", str(error)
    for key, value in version_strings(pe).items():
        yield "version", f"{key}={value}"

def main(argv):
    if len(argv) != 3 or argv[1] not in ("machine", "facts"):
        print("usage: pe.py machine|facts FILE", file=sys.stderr)
        return 2
    pe = open_pe(argv[2])
    if pe is None:
        print(f"pe.py: {argv[2]} is not a Windows executable", file=sys.stderr)
        return 1
    if argv[1] == "machine":
        print(machine(pe))
    for name, value in facts(pe) if argv[1] == "facts" else ():
        print(name, value)
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv))
