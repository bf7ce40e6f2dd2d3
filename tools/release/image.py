"""The medium as a disc image: ISO 9660 with Joliet, made and read by xorriso (Debian package
xorriso), never written here by hand."""
import os
import re
from pathlib import Path

from .errors import run, sha256

# Windows shows the Joliet label, of at most 16 characters; ISO 9660's own allows [A-Z0-9_] only.
LABEL_LENGTH = 16
# The dates an image carries when SOURCE_DATE_EPOCH does not give them (2000-01-01 UTC): without
# a date of its own, an image made twice still comes out byte for byte the same.
DEFAULT_EPOCH = 946684800
AUTORUN = "autorun.inf"

def epoch():
    """The date of everything a medium carries: SOURCE_DATE_EPOCH, else DEFAULT_EPOCH."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "")
    return int(value) if value.isdigit() else DEFAULT_EPOCH
SECTOR = 2048

def volume_label(name, version):
    """TESSARO_3_10_0 of "Tessaro" and "3.10.0": the name is shortened, never the version."""
    def cleaned(text):
        return re.sub(r"[^A-Z0-9]+", "_", text.upper()).strip("_")
    version = cleaned(version)[:LABEL_LENGTH]
    name = cleaned(name)[:max(0, LABEL_LENGTH - len(version) - 1)].rstrip("_")
    return "_".join(part for part in (name, version) if part) or "MEDIUM"

def autorun_inf(name, version):
    """What lets AutoPlay offer the launcher; UTF-16 with its mark when ANSI cannot spell it."""
    text = f"[autorun]\r\nopen=Launch.exe\r\nicon=Launch.exe\r\nlabel={name} {version}\r\n"
    try:
        return text.encode("ascii")
    except UnicodeError:
        return b"\xff\xfe" + text.encode("utf-16-le")

def autorun_verdicts(data):
    """The verdict on an autorun.inf's bytes (None: there is none): (ok, warn or FAIL, text)."""
    if data is None:
        return "FAIL", f"{AUTORUN}: missing, so AutoPlay does not offer the launcher"
    text = data[2:].decode("utf-16-le", "replace") if data[:2] == b"\xff\xfe" else \
        data.decode("cp1252", "replace")
    section, keys = None, {}
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            section = line[1:-1].strip().lower()
        elif section == "autorun" and "=" in line and not line.startswith(";"):
            key, value = line.split("=", 1)
            keys.setdefault(key.strip().lower(), value.strip())
    shown = ", ".join(f"{key}={keys[key]}" for key in ("open", "icon", "label") if key in keys)
    if keys.get("open", "").lower() != "launch.exe":
        return "FAIL", f"{AUTORUN}: does not open Launch.exe ({shown or 'no [autorun] open='})"
    missing = [key for key in ("icon", "label") if key not in keys]
    if missing:
        return "warn", f"{AUTORUN}: {shown}, but no {' and no '.join(missing)}"
    return "ok", f"{AUTORUN}: {shown}"

def image_labels(image):
    """(ISO 9660 label, Joliet label or None) of IMAGE, from its volume descriptors (sector 16
    on); Joliet's is the supplementary one with a UCS-2 escape."""
    with open(image, "rb") as file:
        head = file.read(32 * SECTOR)
    primary, joliet = None, None
    for start in range(16 * SECTOR, len(head) - SECTOR + 1, SECTOR):
        kind, descriptor = head[start], head[start:start + SECTOR]
        if descriptor[1:6] != b"CD001" or kind == 255:
            break
        if kind == 1:
            primary = descriptor[40:72].decode("ascii", "replace").rstrip()
        elif kind == 2 and descriptor[88:91] in (b"%/@", b"%/C", b"%/E"):
            joliet = descriptor[40:72].decode("utf-16-be", "replace").rstrip()
    return primary, joliet

def xorriso(*commands, **options):
    # No startup files, no patterns in paths: a name given is that name, whatever it holds.
    return run("xorriso", "-no_rc", "-report_about", "SORRY", "-abort_on", "FAILURE",
               "-iso_rr_pattern", "off", "-disk_pattern", "off", *commands, merge=True, **options)

def make_image(folder, extras, image, label, epoch):
    """Writes the files of FOLDER and EXTRAS ((name, path) each, at the root) as IMAGE; returns
    xorriso's complaint, or None. Owners, modes and every date are fixed, and xorriso lays the
    files out by name, so the same files give the same image byte for byte."""
    maps = [argument for name, path in extras for argument in ("-map", path, "/" + name)]
    made = xorriso("-outdev", f"stdio:{image}", "-volid", label, "-joliet", "on",
                   "-compliance", "joliet_long_names", "-map", folder, "/", *maps,
                   "-chown_r", "0", "/", "--", "-chgrp_r", "0", "/", "--",
                   "-find", "/", "-type", "d", "-exec", "chmod", "0555", "--",
                   "-find", "/", "-type", "f", "-exec", "chmod", "0444", "--",
                   "-alter_date_r", "b", f"={epoch}", "/", "--",
                   "-volume_date", "all_file_dates", f"={epoch}", "-commit",
                   env={**os.environ, "SOURCE_DATE_EPOCH": str(epoch)})
    return None if made.returncode == 0 else made.stdout.strip().splitlines()[-1:]

def extract(image, folder, modes=(0o755, 0o644)):
    """The Joliet tree of IMAGE, the names Windows shows, into FOLDER (which must not exist), its
    folders and files given MODES: by default writable, so that whoever made the copy can remove
    it again (0o555, 0o444: read-only as on a disc). False when xorriso cannot read IMAGE as an
    ISO 9660 image."""
    # xorriso takes a file without a volume descriptor for a blank disc, with nothing to extract.
    if image_labels(image)[0] is None:
        return False
    read = xorriso("-read_fs", "norock", "-indev", f"stdio:{image}", "-osirrox", "on",
                   "-extract", "/", folder)
    if read.returncode == 0 and os.path.isdir(folder):
        for path in [*names(folder, dirs=True), "."]:
            os.chmod(Path(folder, path), modes[0] if Path(folder, path).is_dir() else modes[1])
        return True
    return False

def names(folder, dirs=False):
    """Every name below FOLDER, as a path from it, in a fixed order."""
    return sorted(os.path.relpath(os.path.join(top, name), folder) for top, folders, files
                  in os.walk(folder) for name in files + (folders if dirs else []))

def listing(folder):
    """One line a file: its SHA-256, size and path; what shows a drive unchanged by a run."""
    return [f"{sha256(Path(folder, path))}  {Path(folder, path).stat().st_size:>9}  {path}"
            for path in names(folder)]

def drive_letter(taken):
    """The first letter from D: that none of TAKEN (a prefix's dosdevices entries) uses."""
    used = {name[:2].lower() for name in taken}
    return next((f"{letter}:" for letter in "defghijklmnopqrstuvwxy" if f"{letter}:" not in used),
                None)

# Win32_LogicalDisk's DriveType values.
DRIVE_TYPES = {2: "removable", 3: "fixed", 4: "network", 5: "CD-ROM", 6: "RAM disk"}

def drive_type(report, letter):
    """What "wmic logicaldisk get drivetype,name" (REPORT, its bytes) says LETTER is, or None."""
    text = report.decode("utf-16" if report[:2] == b"\xff\xfe" else "latin-1", "replace")
    for fields in map(str.split, text.splitlines()):
        if len(fields) == 2 and fields[0].isdigit() and fields[1].lower() == letter.lower():
            return DRIVE_TYPES.get(int(fields[0]), f"type {fields[0]}")
    return None
