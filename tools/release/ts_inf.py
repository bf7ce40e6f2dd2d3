"""TS_INF's first line, the package line "{PRODUCT-CODE},VERSION" and CR LF that tells the launcher
which product a medium installs and in which version: the one reader of it for the project's
tools, and the checks of what the launcher and Windows Installer take."""
import re
import sys

# The launcher takes the version to start at byte 39 and builds the uninstall key name from the
# code, so the code must be exactly a braced GUID. Windows Installer requires upper case.
GUID = re.compile(r"\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}")

def first_line(path):
    """The first line byte for byte, as the launcher reads it (one character a byte), its CR
    kept; None when there is no such file."""
    try:
        with open(path, "rb") as file:
            return file.readline().decode("latin-1").removesuffix("\n")
    except (FileNotFoundError, NotADirectoryError, IsADirectoryError):
        return None

# The launcher reads at most this many bytes of the line (a buffer of 260 with its NUL).
LINE_BYTES = 259
# The lead bytes of code page 932's double-byte characters; 1252 has none.
LEAD_BYTES = {"cp932": set(range(0x81, 0xA0)) | set(range(0xE0, 0xFD))}

def fields(data, page="cp1252"):
    """The product code and the package version exactly as the launcher cuts them from TS_INF's
    bytes DATA in the code page PAGE, as text (one character a byte); None for a file it reads
    nothing from. Its rules: text mode (CR LF is LF, Ctrl-Z ends the file), the first line of at
    most 259 bytes, ended by a NUL; the code up to the first comma that is not the trail byte of
    a double-byte character; the version after the first 39 bytes, trimmed on the right only."""
    line = bytearray()
    for i, byte in enumerate(data[:LINE_BYTES + 1]):
        if byte == 0x1A or len(line) == LINE_BYTES:
            break
        if data[i:i + 2] == b"\r\n":
            line += b"\n"
            break
        line.append(byte)
        if byte == 0x0A:
            break
    if not line:
        return None
    line = bytes(line).split(b"\0")[0]
    comma, lead = 0, LEAD_BYTES.get(page, set())
    while comma < len(line) and line[comma] != ord(","):
        comma += 2 if line[comma] in lead and comma + 1 < len(line) else 1
    version = line[39:].rstrip(b" \t\n\v\f\r")
    return line[:comma].decode("latin-1"), version.decode("latin-1")

def code_problem(code):
    if not GUID.fullmatch(code):
        return f"ProductCode is not a braced upper-case GUID: '{code}'"

def version_problem(version):
    # The launcher reads every dot-separated field as a number and an empty field as 0, so "1..2",
    # ".1" or "1." would compare equal to versions they are not; an empty version even makes it
    # skip removing the installed product. Only non-empty digit runs joined by single dots are safe.
    if not re.fullmatch(r"[0-9]+(\.[0-9]+)*", version, re.ASCII):
        return f"ProductVersion must be digits separated by single dots: '{version}'"
    # Windows Installer refuses to install any other version (the fourth field it ignores).
    fields, limits = version.split("."), [(3, 255), (3, 255), (5, 65535), (5, 65535)]
    if 3 <= len(fields) <= 4 and all(len(field) <= digits and int(field) <= top
                                     for field, (digits, top) in zip(fields, limits)):
        return None
    return ("ProductVersion is not one Windows Installer takes (three or four fields; major and"
            f" minor at most 255, build and the fourth at most 65535): '{version}'")

def version_warning(version):
    match = re.fullmatch(r"([0-9]+\.[0-9]+\.[0-9]+)\.[0-9]+", version, re.ASCII)
    return match and (
        f"ProductVersion {version} has a fourth field: Windows Installer ignores it, and the"
        " launcher compares only the fields the installed version has, so over an installed"
        f" {match.group(1)} nothing is asked and Windows Installer then refuses (1638)")

def line_problem(line):
    """Why the launcher cannot use LINE, the package line without its CR LF, or None."""
    no_comma = line[38:39] != "," and "no comma after the 38-character product code"
    return code_problem(line[:38]) or no_comma or version_problem(line[39:])

if __name__ == "__main__":  # sample/build_msi.sh refuses its VERSION as the medium tool would
    sys.exit(version_problem(sys.argv[1]))
