"""The verdicts of make-medium --check on a finished medium, a folder or an ISO image: one line
on each part, (ok, note, warn or FAIL, text) each."""
import os
from pathlib import Path

from . import image as medium_image
from . import pe as pe_reader
from .errors import ROOT, Refused, require_tool, sha256
from .msi import install_location_problem, msi_tables, platform_problem, previous_check, read_msi
from .signing import signature_verdicts, unsigned_digest
from .ts_inf import first_line, line_problem, version_warning

def medium_executable(exe):
    """Yields the FAIL line of an EXE on the medium that is none; returns its parsed headers."""
    pe = pe_reader.windows_executable(exe)
    if not pe:
        yield "FAIL", f"{exe.name}: " + ("not a Windows executable" if exe.is_file() else "missing")
    return pe

def check_launcher(exe, work, built=None):
    pe = yield from medium_executable(exe)
    if not pe:
        return None
    machine, magic = pe_reader.machine(pe), pe_reader.magic(pe)
    problems = pe_reader.launcher_problems(pe)
    if not any(problems.values()):
        yield "ok", (f"Launch.exe: the {pe_reader.LAUNCHER_BITS[machine, magic]} console launcher"
                     f" ({magic}, {machine}, manifest requireAdministrator)")
    else:
        elevated = not problems["manifest requires administrator"]
        yield "FAIL", (f"Launch.exe: not the console launcher ({machine}, magic"
                       f" {pe.OPTIONAL_HEADER.Magic}, subsystem {pe.OPTIONAL_HEADER.Subsystem},"
                       f" {'' if elevated else 'no '}manifest requireAdministrator)")
    unsigned = ("warn", f"Launch.exe: unsigned (SHA-256 {sha256(exe)})")
    yield from signature_verdicts(exe, pe, work, unsigned)
    yield provenance(exe, pe, built or BUILT.get(machine), work)
    return machine

# The launcher a medium's should be, by its machine, unless --launcher names one.
BUILT = {"i386": ROOT / "build/win32/Launch.exe", "x86-64": ROOT / "build/win64/Launch.exe"}

def provenance(exe, pe, built, work):
    """Whether EXE, its signature aside, is the launcher BUILT, byte for byte."""
    if not built or not os.path.isfile(built):
        return "note", (f"Launch.exe: no build to compare it with ({built or 'none of its machine'}):"
                        " name the launcher it should be with --launcher EXE")
    reference = pe_reader.windows_executable(built)
    return same_build(unsigned_digest(exe, pe, work), built,
                      reference and unsigned_digest(Path(built), reference, work))

def same_build(mine, built, theirs):
    """The verdict on a launcher whose bytes, signature aside, hash to MINE, where the launcher
    BUILT's hash to THEIRS (None: it is no Windows executable)."""
    if mine and mine == theirs:
        return "ok", f"Launch.exe: {built}, byte for byte but for the signature (SHA-256 {mine})"
    return "FAIL", (f"Launch.exe: SHA-256 {mine} (its signature aside) is not {built}'s"
                    f" {theirs or '(not a Windows executable)'}: not the launcher it should be")

# Files that the launcher, reading ANSI bytes, misreads from their first bytes on.
ENCODINGS = ((b"\xff\xfe", "UTF-16 (little-endian)"), (b"\xfe\xff", "UTF-16 (big-endian)"),
             (b"\xef\xbb\xbf", "UTF-8 with a byte-order mark"))

def check_package_line(path, with_msi):
    """Yields the verdicts on a medium's TS_INF; returns its line when the launcher can use it."""
    line = first_line(path) if path.is_file() else None
    if line is None:
        return (yield "FAIL", "TS_INF: missing")
    if not line:
        return (yield "FAIL", "TS_INF: empty: the launcher reads no product from it, shows no box"
                " and exits 4")
    for mark, encoding in ENCODINGS:
        if line.encode("latin-1").startswith(mark):
            return (yield "FAIL", f"TS_INF: saved as {encoding}: the launcher reads one byte a"
                    " character and finds no product code in it; it must be ANSI text, as"
                    " make-medium writes it")
    if not line.endswith("\r"):
        return (yield "FAIL", "TS_INF: the first line does not end in CR LF")
    line = line[:-1]
    if problem := line_problem(line):
        return (yield "FAIL", f"TS_INF: {problem}")
    if not with_msi:
        yield "ok", f"TS_INF: {line}"
    if warning := version_warning(line[39:]):
        yield "warn", f"TS_INF: {warning}"
    return line

def check(medium, msi, previous, package_required, work, strict=False, built=None):
    """Prints the verdicts on MEDIUM, a folder or an image (and whether it fits MSI, and follows
    the PREVIOUS package); 1 when one of them is a FAIL, or STRICT and a warn, which it then
    prints as a FAIL."""
    medium = Path(medium)
    if medium.is_file():
        files, verdicts = work / "image", check_image(medium, msi, work, built)
    elif medium.is_dir():
        files, verdicts = medium, list(medium_verdicts(medium, msi, work, built=built))
    else:
        raise Refused(f"not a directory: {medium}")
    if msi and os.path.isfile(msi):
        verdicts.append(package_on_medium(files, msi, package_required))
    if msi and previous:
        try:
            verdicts.append(previous_check(msi, previous))
        except Refused as error:
            verdicts.append(("FAIL", f"--previous: {error}"))
    failed = ("FAIL", "warn") if strict else ("FAIL",)
    for verdict, text in verdicts:
        print(f"{'FAIL' if verdict in failed else verdict:<5} {text}")
    return int(any(verdict in failed for verdict, _ in verdicts))

def check_image(image, msi, work, built=None):
    """A folder's verdicts on the image's files, read without mounting it, then the image's own:
    its labels, the names Windows shows (Joliet) and autorun.inf."""
    require_tool("xorriso")
    files = work / "image"
    if not medium_image.extract(image, files):
        raise Refused(f"not a directory, nor an ISO 9660 image that xorriso can read: {image}")
    verdicts = list(medium_verdicts(files, msi, work, own=(medium_image.AUTORUN,), built=built))
    primary, joliet = medium_image.image_labels(image)
    if joliet is None:
        verdicts.append(("FAIL", f"image: label {primary}, but no Joliet names: Windows would show"
                         " the short upper-case names of ISO 9660"))
    else:
        verdicts.append(("ok", f"image: label {joliet} (ISO 9660 {primary}), Joliet names: "
                         + ", ".join(medium_image.names(files))))
    autorun = files / medium_image.AUTORUN
    verdicts.append(medium_image.autorun_verdicts(autorun.read_bytes() if autorun.is_file()
                                                  else None))
    return verdicts

def medium_verdicts(medium, msi, work, own=(), built=None):
    machine = yield from check_launcher(medium / "Launch.exe", work, built)
    if setup := (yield from medium_executable(medium / "Setup.exe")):
        yield "ok", f"Setup.exe: a Windows executable ({pe_reader.machine(setup)})"
        yield setup_platform(pe_reader.machine(setup))
        # Not a failure: a rehearsal is made with unsigned builds.
        yield from signature_verdicts(medium / "Setup.exe", setup, work, ("warn", "Setup.exe:"
                                   " unsigned, so nothing shows the customer whose installer the"
                                   " launcher starts"))
    if others := sorted(set(os.listdir(medium)) - {"Launch.exe", "Setup.exe", "TS_INF", *own}):
        yield "note", f"also on the medium: {', '.join(others)}"
    line = yield from check_package_line(medium / "TS_INF", msi)
    if not msi:
        return
    try:
        code, version, platform = read_msi(msi)
    except Refused as error:
        return (yield "FAIL", f"MSI: {error}")
    if line is not None and line == f"{code},{version}":
        yield "ok", f"TS_INF: {line} names the MSI's ProductCode and ProductVersion"
    elif line is not None:
        yield "FAIL", f"TS_INF: {line} does not name the MSI's {code},{version}"
    if problem := machine and platform_problem(machine, platform):
        yield "FAIL", problem
    elif machine:
        yield "ok", f"Launch.exe ({machine}) sees the MSI's {platform} package"
    if problem := install_location_problem(msi_tables(msi)):
        yield "FAIL", f"MSI: {problem}"
    else:
        yield "ok", ("MSI: ARPINSTALLLOCATION is the folder of Tessaro.exe, so the launcher can"
                     " test whether Tessaro is in use")

def package_on_medium(medium, msi, required):
    """Whether the MSI's own bytes lie on MEDIUM (anywhere below it): without them Setup.exe has
    nothing to install, unless it carries the package itself."""
    digest = sha256(msi)
    for folder, _, names in os.walk(medium):
        for name in names:
            path = Path(folder, name)
            if path.stat().st_size == os.path.getsize(msi) and sha256(path) == digest:
                return "ok", f"MSI: on the medium as {path.relative_to(medium)}"
    return ("FAIL" if required else "warn"), (
        f"MSI: {os.path.basename(msi)} is not on the medium (make it with --add MSI), so"
        " Setup.exe finds no package" + ("" if required else ", unless it carries its own"))

def setup_platform(machine):
    return "note", ("Setup.exe: a 64-bit program: it starts on 64-bit Windows only (on 32-bit"
                    " Windows the launcher shows message 104)" if machine == "x86-64" else
                    "Setup.exe: a 32-bit program: it starts on 32-bit and 64-bit Windows")
