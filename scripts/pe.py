#!/usr/bin/python3
"""Facts of a Windows executable's headers, read through pefile.

The one PE reader of the project's scripts: import it, or ask it from a shell with
    pe.py machine FILE      -> i386, x86-64 or arm64
"""
import sys

import pefile

MACHINES = {0x14C: "i386", 0x8664: "x86-64", 0xAA64: "arm64"}


def open_pe(path):
    """The parsed headers, or None when the file is no PE image."""
    try:
        return pefile.PE(path, fast_load=True)
    except (pefile.PEFormatError, OSError):
        return None


def machine(pe):
    value = pe.FILE_HEADER.Machine
    return MACHINES.get(value, f"0x{value:04x}")


def main(argv):
    if len(argv) != 3 or argv[1] != "machine":
        print("usage: pe.py machine FILE", file=sys.stderr)
        return 2
    pe = open_pe(argv[2])
    if pe is None:
        print(f"pe.py: {argv[2]} is not a Windows executable", file=sys.stderr)
        return 1
    print(machine(pe))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
