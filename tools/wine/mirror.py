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

if __name__ == "__main__":
    paths = [Path("/etc/apt/sources.list"), *sorted(Path("/etc/apt/sources.list.d").rglob("*"))]
    mirror = debian_mirror(path.read_text(errors="replace") for path in paths if path.is_file())
    if mirror is None:
        sys.exit(1)
    print(mirror)
