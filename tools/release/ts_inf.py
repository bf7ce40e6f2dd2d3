"""TS_INF's first line, the package line "{PRODUCT-CODE},VERSION" and CR LF that tells the launcher
which product a medium installs and in which version: the one reader of it for the project's
tools, and the checks of what the launcher and Windows Installer take."""
import re

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

def fields(line):
    """The product code and the version a line names, as a tool looking them up reads them."""
    code, _, version = (line or "").removesuffix("\r").partition(",")
    return code, version

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
