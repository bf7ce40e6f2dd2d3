"""Rehearses an installation medium under Wine as a customer would run its Launch.exe, on a Wine
prefix of its own, optionally after installing an MSI (so that an older version is found);
README.md, "Trying your own medium", tells what it prints.

  scripts/try-medium.sh [--answer ID=BUTTON[,BUTTON...]]... [--product-running]
                        MEDIUM_DIR|IMAGE [MSI_TO_INSTALL_FIRST]
  scripts/try-medium.sh --remove-prefixes

--answer: the answers to the launcher's message ID (107: OK, Cancel; 108: Retry, Cancel), used
in order, each one printed; a box without one gets OK where it has one, else Cancel.
--product-running: starts the installed Tessaro.exe (from the uninstall key's InstallLocation)
before the launcher and ends it once message 108 shows, so that a Retry finds it ended.
--remove-prefixes: removes every Wine prefix the project makes under build/ (the tests', the
rig's, the rehearsals', 0.7 to 1.4 GB each) and the one TESSARO_TRY_PREFIX names.

An ISO image is rehearsed as a disc: its files, read from it without mounting it, become a
read-only drive of type CD-ROM (D: or the next free letter), and the launcher starts from there.

TESSARO_TRY_PREFIX names the Wine prefix (default build/wine-prefix-try32 or -try64), kept
between runs; TESSARO_TRY_OUT the output folder, made anew (default: a folder of its own under
build/try-runs, kept, the newest also named build/try-runs/newest): "result" (exit_code=,
before=, after=: the installed version, empty for none), Wine's whole log "wine.log" and the
screenshots. Both lie in the work tree, where the rig can see them; relative paths, here and
in the variables, are taken from the caller's folder."""
# The docstring above is the --help text of scripts/try-medium.sh, which runs this.
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

from . import image, wine
from . import pe as pe_reader
from .errors import ROOT, OneLine, Refused
from .rehearsal_notes import box_answers, choose_locale
from .rehearsal_run import BOX_ANSWER

OPTIONS = ("--answer", "--product-running", "--remove-prefixes")

def usage(text):
    return Refused(f"{text} (--help tells the usage)", status=2)

def parse(args):
    """The options and paths of ARGS; --help ends the run with the usage."""
    if "-h" in args or "--help" in args:
        print(__doc__)
        sys.exit(0)
    for arg in args:
        if arg.startswith("-") and arg.split("=", 1)[0] not in OPTIONS:
            raise usage(f"unknown option: {arg}")
    parser = OneLine(prog="try-medium", add_help=False, allow_abbrev=False)
    parser.add_argument("--answer", action="append", default=[])
    parser.add_argument("--product-running", action="store_true")
    parser.add_argument("--remove-prefixes", action="store_true")
    parser.add_argument("files", nargs="*")
    try:
        options, extra = parser.parse_known_args(args)
    except Refused:
        raise usage("--answer needs ID=BUTTON") from None
    if options.remove_prefixes and len(args) != 1:
        raise usage("--remove-prefixes takes nothing else")
    options.files += extra
    return options

def remove(path):
    if os.path.isdir(path) and not os.path.islink(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.unlink(path)

def remove_prefixes():
    freed = 0
    mine = os.environ.get("TESSARO_TRY_PREFIX")
    made = (str(path) for path in sorted((ROOT / "build").glob("wine-prefix*"))
            if path.is_dir() and not path.is_symlink())
    for prefix in dict.fromkeys([*made, *([os.path.realpath(mine)] if mine else [])]):
        if os.path.exists(prefix):
            size = subprocess.run(["du", "-sh", "--", prefix], stdout=subprocess.PIPE, text=True)
            print(f"try-medium: removing {prefix} ({size.stdout.split(chr(9))[0]})")
            remove(prefix)
            remove(f"{prefix}.lock")
            freed += 1
    print(f"try-medium: {freed} prefixes removed; the next rehearsal makes its prefix anew")
    return 0

def paths(files, hold):
    """The medium and the MSI (or "") as absolute paths, the output folder and the prefix."""
    # An MSI first and a folder after it: the two the other way round.
    if len(files) == 2 and (os.path.isdir(files[1]) or files[0].lower().endswith(".msi")):
        raise usage("the medium comes first, then the MSI to install first")
    for path, what in zip(files, ("medium folder or image", "MSI")):
        if not (os.path.isfile(path) or what != "MSI" and os.path.isdir(path)):
            raise Refused(f"no such {what}: {path}" + ("" if os.path.isabs(path) else
                                                       f" (in {os.getcwd()})"))
    if hold and len(files) != 2:
        raise Refused("--product-running needs an installed product: give the MSI to install"
                      " first")
    runs = f"{time.strftime('%Y%m%d-%H%M%S')}-{os.getpid()}"
    out = os.path.realpath(os.environ.get("TESSARO_TRY_OUT") or f"{ROOT}/build/try-runs/{runs}")
    prefix = os.environ.get("TESSARO_TRY_PREFIX") and os.path.realpath(
        os.environ["TESSARO_TRY_PREFIX"])
    for folder in (out, prefix):
        if folder and not folder.startswith(f"{ROOT}/"):
            raise Refused(f"the output folder and the prefix must lie in {ROOT}: {folder}")
    msi = os.path.realpath(files[1]) if len(files) > 1 and files[1] else ""
    return os.path.realpath(files[0]), msi, Path(out), prefix

def call(*command, **options):
    """Runs COMMAND; its failure ends the run with its status (it has said why)."""
    status = subprocess.run(command, **options).returncode
    if status:
        sys.exit(status)

def open_medium(medium, out):
    """The medium's folder (an image's files, read into OUT) and image ("" for a folder), and
    the bits of its Launch.exe."""
    remove(out)
    out.mkdir(parents=True)
    drive_image = ""
    if os.path.isfile(medium):
        # The drive's files lie in the output folder, where the rig sees them too.
        drive_image, medium = medium, str(out / "drive")
        if not image.extract(drive_image, medium, (0o555, 0o444)):
            raise Refused(f"not an ISO 9660 image that xorriso can read: {drive_image}")
    launch_exe = f"{medium}/Launch.exe"
    if not os.path.isfile(launch_exe):
        raise Refused(f"the medium has no Launch.exe: {medium}")
    pe = pe_reader.open_pe(launch_exe)
    if not pe:
        raise Refused(f"{launch_exe} is not a Windows executable", tool="pe.py")
    machine = pe_reader.machine(pe)
    if machine not in ("i386", "x86-64"):
        raise Refused("Launch.exe is neither a 32-bit nor a 64-bit x86 program (machine"
                      f" {machine})")
    return medium, drive_image, 32 if machine == "i386" else 64

def prepare_machine(medium, out):
    """This machine's part: its packages, the locale the run is under, box_answer.exe."""
    # Before the locale is chosen: on a new machine it generates the Japanese one.
    call("bash", "scripts/setup.sh")
    caller = os.environ.get("LC_ALL") or os.environ.get("LC_CTYPE") or os.environ.get("LANG")
    locale, notice = choose_locale([medium, str(out)], caller or "C")
    if notice:
        print(notice)
    os.environ["LC_ALL"] = locale
    if not os.access(BOX_ANSWER, os.X_OK):
        call("bash", "scripts/build.sh", "win64", stdout=subprocess.DEVNULL)
    if not os.environ.get("TESSARO_TRY_OUT"):
        newest = out.parent / "newest"
        remove(newest)
        newest.symlink_to(out.name)

def main(args):
    """try-medium.sh: checks what it is given and sets the run up here, then runs the rest
    (rehearsal_run) in the Wine of the launcher's bits."""
    options = parse(args)
    if options.remove_prefixes:
        return remove_prefixes()
    box_answers(options.answer)
    if not 1 <= len(options.files) <= 2:
        raise usage("one medium folder or image and at most one MSI")
    medium, msi, out, prefix = paths(options.files, options.product_running)
    os.chdir(ROOT)
    medium, drive_image, bits = open_medium(medium, out)
    prepare_machine(medium, out)
    # The rig sees the work tree and the medium's folder, lent to it where it lies; an MSI from
    # elsewhere is only installed, so it is copied in rather than lent.
    if bits == 32 and msi and not msi.startswith(f"{ROOT}/"):
        msi = str(shutil.copy(msi, out))
        print(f"try-medium: the MSI is installed from a copy in {out} (the rig sees only the"
              " work tree and the medium)")
    print(f"try-medium: {bits}-bit Launch.exe, medium {drive_image or medium}"
          + (f", installing {msi} first" if msi else ""))
    runner = wine.runner(bits, prefix or f"{ROOT}/build/wine-prefix-try{bits}")
    inside = [sys.executable, "-B", "-m", "release.rehearsal_run", "--bits", str(bits),
              "--medium", medium, "--out", str(out), "--prefix", str(runner.prefix),
              "--msi", msi, "--image", drive_image, "--display", os.environ.get("DISPLAY", ""),
              *(["--hold"] if options.product_running else []),
              *(f"--answer={answer}" for answer in options.answer)]
    sys.stdout.flush()
    return runner.session(inside, lend=medium)
