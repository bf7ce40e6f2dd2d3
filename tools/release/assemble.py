"""Lays out an installation medium: Launch.exe, Setup.exe, the TS_INF read from the MSI and what
--add names, staged beside OUT_DIR and renamed into place at the end, so that on any error
nothing is left behind; signs the medium's Launch.exe and writes the ISO image on request."""
import os
import shutil
import sys
import tempfile
from pathlib import Path

from . import image as medium_image
from . import pe as pe_reader
from .errors import Refused, require_tool, sha256
from .msi import install_location_problem, msi_tables, platform_problem, previous_check
from .msi import property_value, read_msi
from .signing import check_certificate, sign
from .ts_inf import code_problem, version_problem, version_warning

UMASK = os.umask(0o022)
os.umask(UMASK)

def require_pe_file(what, path):
    if not os.path.isfile(path):
        raise Refused(f"{what} not found: {path}")
    # Catches swapped arguments (the MSI given as Setup.exe) before a broken medium ships.
    pe = pe_reader.windows_executable(path)
    if not pe:
        raise Refused(f"{what} is not a Windows executable (no PE header of a known machine):"
                      f" {path}")
    return pe_reader.machine(pe)

def added_names(paths):
    """The name each --add PATH takes on the medium; refuses a clash, which Windows's case-blind
    names would make of "setup.exe" as well."""
    names = {}
    for path in paths:
        name = os.path.basename(os.path.normpath(path))
        if not os.path.exists(path):
            raise Refused(f"--add: not found: {path}")
        if name in ("", ".", ".."):
            raise Refused(f"--add: {path} has no name of its own to take on the medium")
        if name.lower() in ("launch.exe", "setup.exe", "ts_inf"):
            raise Refused(f"--add: {path} would take the place of the medium's own {name}")
        if name.lower() in (known.lower() for known in names.values()):
            raise Refused(f"--add: two of the paths given have the name {name}")
        names[path] = name
    return names

def make_medium(setup_exe, msi, out_dir, launch_exe, options, work, leftovers):
    """OUT_DIR ("-": the image alone) of the inputs; LEFTOVERS gets what a failure takes away."""
    folder = out_dir != "-"
    # The image alone: the folder is only its staging, in the private work folder.
    package_line, added, (out_dir, parent, _) = check_inputs(
        setup_exe, msi, out_dir if folder else str(work / "medium"), launch_exe, options, work)
    missing_folder(parent, leftovers)
    staging = Path(tempfile.mkdtemp(prefix=f".{os.path.basename(out_dir)}.", dir=parent))
    leftovers.append(staging)
    stage(staging, launch_exe, setup_exe, package_line, added, options, work)
    # Of the signed Launch.exe, and before the folder takes its place, so that a failure leaves
    # neither.
    version = package_line.split(",", 1)[1]
    image = options.iso and make_image(staging, options.iso, msi, version, work, leftovers)

    # A rename replaces only an empty directory, so files that appeared in OUT_DIR meanwhile make
    # it fail instead of being mixed into the medium.
    try:
        os.rename(staging, out_dir)
    except OSError:
        raise Refused(f"could not move the medium into place: {out_dir}") from None
    if image:
        os.rename(image, options.iso)
    leftovers.clear()
    made = f"TS_INF = {package_line}" + (", Launch.exe signed" if options.sign else "")
    if folder:
        print(f"{out_dir}: {made}")
    if image:
        print(f"{options.iso}: {made}, label {medium_image.image_labels(options.iso)[1]},"
              f" SHA-256 {sha256(options.iso)}")

def check_inputs(setup_exe, msi, out_dir, launch_exe, options, work):
    """Refuses what cannot make a medium that works, before anything is written, and warns of
    what may not; the package line, the names of --add and out_target's answer."""
    require_pe_file("Setup.exe", setup_exe)
    machine = require_pe_file("Launch.exe", launch_exe)
    code, version, platform = read_msi(msi)
    added = added_names(options.add)
    if options.iso:
        # The image must be a new file, and no --add may take the name of its autorun.inf.
        require_tool("xorriso")
        if any(name.lower() == medium_image.AUTORUN for name in added.values()):
            raise Refused(f"--add: a path would take the place of the image's own"
                          f" {medium_image.AUTORUN}")
        if os.path.lexists(options.iso):
            raise Refused(f"IMAGE exists: {options.iso}")
        missing_folder(os.path.dirname(options.iso) or ".")
    target = out_target(out_dir)
    problem = code_problem(code) or version_problem(version) or platform_problem(machine, platform)
    if problem:
        raise Refused(problem)
    if options.sign:
        check_certificate(options, launch_exe, work)
    # What does not stop the medium but may well stop the launcher, on standard error.
    for warning in (version_warning(version), install_location_problem(msi_tables(msi))):
        if warning:
            print(f"make-medium: warning: {warning}", file=sys.stderr)
    if options.previous:
        verdict, text = previous_check(msi, options.previous)
        if verdict != "ok":
            print(f"make-medium: {'warning' if verdict == 'warn' else verdict}: {text}",
                  file=sys.stderr)
    return f"{code},{version}", added, target

def out_target(out_dir):
    """OUT_DIR as it is written, its parent folder and the outermost folder to make for it."""
    # Leave the root alone, but "out/" and "out" are the same medium.
    out_dir = out_dir.rstrip("/") or out_dir[:1]
    parent = os.path.dirname(out_dir) or "."
    if os.path.islink(out_dir):
        raise Refused(f"OUT_DIR is a symbolic link: {out_dir}")
    if os.path.isdir(out_dir) and os.listdir(out_dir):
        raise Refused(f"OUT_DIR exists and is not empty: {out_dir}")
    if os.path.exists(out_dir) and not os.path.isdir(out_dir):
        raise Refused(f"OUT_DIR exists and is not a directory: {out_dir}")
    # The folders to make (only after every check has passed), the outermost first.
    return out_dir, parent, missing_folder(parent)

def stage(staging, launch_exe, setup_exe, package_line, added, options, work):
    """The medium's files in the folder STAGING."""
    if options.sign:
        sign(launch_exe, staging / "Launch.exe", options, work)
    else:
        shutil.copyfile(launch_exe, staging / "Launch.exe")
    shutil.copyfile(setup_exe, staging / "Setup.exe")
    (staging / "TS_INF").write_bytes(f"{package_line}\r\n".encode("latin-1"))
    for path, name in added.items():
        if os.path.isdir(path):
            shutil.copytree(path, staging / name, copy_function=shutil.copyfile)
        else:
            shutil.copyfile(path, staging / name)
    # mkdtemp makes the folder private; a medium is meant to be read by everyone the umask allows.
    for path in (staging, staging / "Launch.exe", staging / "Setup.exe"):
        os.chmod(path, 0o777 & ~UMASK)

def missing_folder(folder, leftovers=None):
    """The outermost folder of FOLDER's path that does not exist yet (None: FOLDER exists), once
    the nearest one that does exist has been seen to be a directory; with LEFTOVERS, the missing
    folders are made and the outermost recorded there, for a failure to take away."""
    existing, missing_top = folder, None
    while not os.path.exists(existing):
        missing_top, existing = existing, os.path.dirname(existing) or "."
    if not os.path.isdir(existing):
        raise Refused(f"not a directory: {existing}")
    if missing_top and leftovers is not None:
        os.makedirs(folder)
        leftovers.append(missing_top)
    return missing_top

def make_image(staging, target, msi, version, work, leftovers):
    """The medium in STAGING, and an autorun.inf, as an ISO image beside TARGET, whose name it
    takes once all is made; the image's Joliet names are checked to be the medium's own."""
    name = property_value(msi, "ProductName", "Tessaro")
    (work / medium_image.AUTORUN).write_bytes(medium_image.autorun_inf(name, version))
    # Its folder as the folder medium's: made as needed, and taken away again on a failure.
    missing_folder(os.path.dirname(target) or ".", leftovers)
    image = Path(tempfile.mkstemp(prefix=f".{os.path.basename(target)}.",
                                  dir=os.path.dirname(target) or ".")[1])
    leftovers.append(image)
    image.unlink()
    problem = medium_image.make_image(
        staging, [(medium_image.AUTORUN, work / medium_image.AUTORUN)], image,
        medium_image.volume_label(name, version), medium_image.epoch())
    if problem:
        raise Refused(f"xorriso could not make the image: {' '.join(problem)}")
    if not medium_image.extract(image, work / "image") or medium_image.names(work / "image") != \
            sorted(medium_image.names(staging) + [medium_image.AUTORUN]):
        raise Refused("the image does not keep every name of the medium (Joliet cuts a name"
                      " of more than about 100 characters)")
    shutil.rmtree(work / "image")
    os.chmod(image, 0o666 & ~UMASK)
    return image
