"""Facts of a Windows executable's headers and resources, read through pefile: the one PE
reader of the project's tools and checks, which import it."""
import os
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

def windows_executable(path):
    """The parsed headers, or None for anything that is no PE image of a known machine: a
    renamed text, an MSI, a DOS program."""
    pe = open_pe(path) if os.path.isfile(path) else None
    return pe if pe and pe.FILE_HEADER.Machine in MACHINES else None

def machine(pe):
    return MACHINES.get(pe.FILE_HEADER.Machine, f"0x{pe.FILE_HEADER.Machine:04x}")

def magic(pe):
    return MAGICS.get(pe.OPTIONAL_HEADER.Magic, str(pe.OPTIONAL_HEADER.Magic))

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

# The two builds of the launcher, each the pairing of machine and header its loader needs.
LAUNCHER_BITS = {("i386", "PE32"): "32-bit", ("x86-64", "PE32+"): "64-bit"}

def launcher_problems(pe):
    """What keeps PE from being the console launcher a medium needs: for each of the checks
    "format", "console subsystem" and "manifest requires administrator", a problem or "". """
    try:
        levels, manifest = execution_levels(pe), ""
    except ValueError as error:
        levels, manifest = [], str(error)
    return {
        "format": "" if (machine(pe), magic(pe)) in LAUNCHER_BITS else
                  f"{machine(pe)} {magic(pe)} is neither launcher build",
        "console subsystem": "" if pe.OPTIONAL_HEADER.Subsystem == CONSOLE else
                             f"subsystem {pe.OPTIONAL_HEADER.Subsystem}",
        "manifest requires administrator": "" if levels == ["requireAdministrator"] else
                  manifest or f"requestedExecutionLevel: {' '.join(levels) or 'none'}",
    }
