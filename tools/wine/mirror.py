#!/usr/bin/python3 -B
"""Prints the Debian mirror of this machine's apt sources, the one the 32-bit rig is built from
(rig32.sh); fails when they name none."""
import re
import sys
from pathlib import Path

# A one-line "deb URI suite" entry or a deb822 "URIs:" field naming a Debian archive.
MIRROR = re.compile(r"(?:URIs:|^deb)[ \t]+(https?://\S+/debian/?)(?=[ \t]|$)", re.M)

def debian_mirror(texts):
    """The first Debian archive that the apt sources name, or None."""
    return next((found.group(1) for text in texts for found in [MIRROR.search(text)] if found),
                None)

def apt_sources():
    paths = [Path("/etc/apt/sources.list"), *sorted(Path("/etc/apt/sources.list.d").rglob("*"))]
    return [path.read_text(errors="replace") for path in paths if path.is_file()]

if __name__ == "__main__":
    mirror = debian_mirror(apt_sources())
    if mirror is None:
        sys.exit(1)
    print(mirror)
