#!/usr/bin/python3 -B
# The system Python, because Debian's python3-pefile is installed for it.
"""Checks a built Launch.exe for what a medium needs from it but no unit test sees: machine and
subsystem, the DLLs it loads, the security flags of its header, the manifest and version
resources, and its size, all read by tools/release/pe.py.
    check_artifact.py [--arch i386|x86-64] EXE"""
import argparse
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../tools"))
from release import pe as pe_reader  # noqa: E402

MAX_SIZE = 131072
# Anything beyond these is either a mingw runtime DLL that the medium does not carry (libstdc++,
# libgcc, libwinpthread) or a system DLL that was never meant to be loaded.
ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "advapi32.dll", "shlwapi.dll", "msvcrt.dll"}
FLAGS = {"DYNAMIC_BASE": 0x40, "NX_COMPAT": 0x100, "HIGH_ENTROPY_VA": 0x20}

def checks(pe, arch, size):
    """(name, problem) for each check; an empty problem passes."""
    if pe is None:
        return [("a PE image", "not a Windows executable")]
    magic = "PE32+" if arch == "x86-64" else "PE32"
    launcher, flags = pe_reader.launcher_problems(pe), pe.OPTIONAL_HEADER.DllCharacteristics
    found = f"{pe_reader.machine(pe)} {pe_reader.magic(pe)}"
    strings = pe_reader.version_strings(pe)
    wanted = {"ProductName": "Tessaro Setup Launcher", "OriginalFilename": "Launch.exe"}
    dlls = [entry.dll.decode("ascii", "replace").lower()
            for entry in pe_reader.directory(pe, "IMPORT") or []]
    return [
        (f"format {arch} {magic}", launcher["format"] or (found != f"{arch} {magic}" and found)),
        ("console subsystem", launcher["console subsystem"]),
        # No import table at all means the file was not understood, not a clean result.
        ("system DLLs only", "; ".join(f"imports {dll}" for dll in dlls if dll not in ALLOWED_DLLS)
         if "kernel32.dll" in dlls else "no import of KERNEL32.dll found"),
        *((name, "" if flags & flag == flag else f"DllCharacteristics 0x{flags:04x}")
          for name, flag in FLAGS.items() if arch == "x86-64" or name != "HIGH_ENTROPY_VA"),
        # Windows looks for the manifest of an .exe only under id 1, and an ill-formed one keeps
        # the program from starting at all ("side-by-side configuration is incorrect").
        ("manifest requires administrator", launcher["manifest requires administrator"]),
        # GetFileVersionInfo reads the version resource with id 1 only.
        ("version info", "; ".join(f"{key} is {strings.get(key)!r}" for key, value in
                                   wanted.items() if strings.get(key) != value)),
        ("size", "" if size <= MAX_SIZE else f"size {size} bytes, limit {MAX_SIZE}"),
    ]

def main(args):
    parser = argparse.ArgumentParser(prog="check_artifact.py")
    parser.add_argument("--arch", choices=("i386", "x86-64"), default="i386")
    parser.add_argument("exe")
    options = parser.parse_args(args)
    if not os.path.isfile(options.exe):
        parser.error(f"no such file: {options.exe}")
    results = checks(pe_reader.open_pe(options.exe), options.arch, os.path.getsize(options.exe))
    for name, problem in results:
        print(f"FAIL  {name}: {problem}" if problem else f"ok    {name}")
    failed = sum(1 for _, problem in results if problem)
    print(f"{len(results) - failed} passed, {failed} failed")
    return int(failed > 0)

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
