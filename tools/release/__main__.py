"""The release tools' one entry: python3 -m release make|check|try ARG... (tools/ on the module
path); scripts/make-medium.sh runs make (which also takes --check), scripts/try-medium.sh try."""
import argparse
import shutil
import signal
import sys
import tempfile
from pathlib import Path

from . import assemble, check, rehearsal
from .errors import ROOT, OneLine, Refused, require_tool

MAKE = """\
Lays out an installation medium in OUT_DIR: Launch.exe (LAUNCH_EXE, by default the
repository's build/win32/Launch.exe), Setup.exe, and the TS_INF that tells the launcher which
product the package installs and in which version, read from the MSI. Refuses a pairing of
launcher and package that cannot work and a version Windows Installer does not take. OUT_DIR
must not exist or be empty; the medium is assembled beside it and renamed into place at the
end, so on any error nothing is left behind. Signs the medium's Launch.exe on request, writes
it as an ISO image as well (--iso), and checks a finished medium or image."""

def make_options(args):
    parser = argparse.ArgumentParser(prog="make-medium", description=MAKE, allow_abbrev=False,
                                     usage="""\
make-medium.sh [--sign PFX|pkcs11:URI --password-file FILE [--certificate PEM]
                      [--pkcs11-module PATH] [--timestamp URL]] [--add PATH]...
                      [--previous MSI] [--iso IMAGE] SETUP_EXE MSI OUT_DIR|- [LAUNCH_EXE]
       make-medium.sh --check [--strict] [--launcher EXE] [--previous MSI] [--package-on-medium]
                      MEDIUM|IMAGE [MSI]""")
    parser.add_argument("--sign", metavar="PFX|pkcs11:URI", help="sign the medium's copy of"
                        " Launch.exe (Authenticode, SHA-256) with the PKCS#12 file PFX, or with"
                        " the key on a token that a PKCS#11 URI names (RFC 7512:"
                        " pkcs11:token=LABEL;object=KEY), and verify it; signed at"
                        " SOURCE_DATE_EPOCH unless --timestamp")
    parser.add_argument("--password-file", metavar="FILE", help="its first line: PFX's password,"
                        " or the token's PIN")
    parser.add_argument("--certificate", metavar="PEM", help="with a token: the certificate of"
                        " its key (first) and its chain, when the token does not hold it")
    parser.add_argument("--pkcs11-module", metavar="PATH", help="with a token: the PKCS#11"
                        " module that reaches it (default: p11-kit's proxy, which loads every"
                        " module this machine registers, such as SoftHSM2's or OpenSC's)")
    parser.add_argument("--timestamp", metavar="URL", help="an RFC 3161 time-stamp server, so"
                        " that the signature outlives the certificate")
    parser.add_argument("--add", metavar="PATH", action="append", default=[], help="a file or"
                        " folder the medium also holds, such as the MSI that Setup.exe installs")
    parser.add_argument("--iso", metavar="IMAGE", help="also an ISO 9660 image with Joliet and"
                        " autorun.inf, the same bytes from the same inputs (OUT_DIR -: only the"
                        " image); dated SOURCE_DATE_EPOCH")
    parser.add_argument("--check", action="store_true", help="one line on each part of MEDIUM"
                        " (and whether it fits MSI); exit 0 when no line is FAIL (with --strict:"
                        " no line is FAIL or warn)")
    parser.add_argument("--strict", action="store_true", help="with --check: every warn is a"
                        " failure too, printed as FAIL (for a release pipeline)")
    parser.add_argument("--launcher", metavar="EXE", help="with --check: the Launch.exe the"
                        " medium's must be, its signature aside (default: build/win32/Launch.exe,"
                        " or build/win64/Launch.exe for a 64-bit one, when it is there)")
    parser.add_argument("--previous", metavar="MSI", help="the package of the release before:"
                        " ok when the product code stays, a note when the new package removes it"
                        " by its Upgrade table, else a warning")
    parser.add_argument("--package-on-medium", action="store_true", help="with --check: FAIL,"
                        " not warn, when MSI is not on the medium (a Setup.exe that does not"
                        " carry its own package)")
    parser.add_argument("files", nargs="*", help=argparse.SUPPRESS)
    options = parser.parse_args(args)
    files, checking = options.files, options.check
    if len(files) not in ((1, 2) if checking else (3, 4)):
        parser.error("wrong number of arguments")
    # Each: when the command line is wrong, and what to say.
    for wrong, text in (
            (checking and (options.sign or options.password_file or options.timestamp
                           or options.add or options.iso),
             "--check takes no --sign, --password-file, --timestamp, --add or --iso"),
            ((options.strict or options.launcher) and not checking,
             "--strict and --launcher go with --check"),
            (options.package_on_medium and not (checking and len(files) == 2),
             "--package-on-medium goes with --check MEDIUM MSI"),
            (options.previous and checking and len(files) != 2,
             "--check --previous MSI needs the MSI of the medium too: --check MEDIUM MSI"),
            (not checking and files[2] == "-" and not options.iso,
             "OUT_DIR - (no folder) goes with --iso IMAGE"),
            ((options.sign or "").startswith("pkcs11:") and not options.password_file,
             "--sign pkcs11:URI needs --password-file FILE, whose first line is the token's PIN"),
            (options.sign and not options.password_file,
             "--sign PFX needs --password-file FILE, whose first line is PFX's password"),
            ((options.certificate or options.pkcs11_module)
             and not (options.sign or "").startswith("pkcs11:"),
             "--certificate and --pkcs11-module go with --sign pkcs11:URI"),
            (not options.sign and (options.password_file or options.timestamp),
             "--password-file and --timestamp go with --sign PFX")):
        if wrong:
            raise Refused(text, status=2)
    return options

def make(args):
    """make-medium.sh: makes a medium, or with --check judges one."""
    options = make_options(args)
    leftovers = []  # what a failure takes away: the staging folder, the folders made for it
    work = Path(tempfile.mkdtemp(prefix="make-medium."))
    try:
        require_tool("msiinfo", "msitools")
        files = options.files
        if options.check:
            return check.check(files[0], files[1] if len(files) > 1 else None, options.previous,
                               options.package_on_medium, work, options.strict, options.launcher)
        launch_exe = files[3] if len(files) > 3 else str(ROOT / "build/win32/Launch.exe")
        assemble.make_medium(*files[:3], launch_exe, options, work, leftovers)
        return 0
    except OSError as error:
        raise Refused(f"{error.strerror}: {error.filename}") from None
    finally:
        for path in [work, *leftovers]:
            shutil.rmtree(path, ignore_errors=True)

# Each subcommand: what it runs, and the name its messages start with.
COMMANDS = {"make": (make, "make-medium"), "check": (lambda args: make(["--check", *args]),
                                                     "make-medium"),
            "try": (rehearsal.main, "try-medium")}

def main(args):
    """Runs the subcommand ARGS name; its exit status."""
    parser = OneLine(prog="release", description=__doc__)
    parser.add_argument("command", choices=COMMANDS)
    parser.add_argument("args", nargs=argparse.REMAINDER)
    tool = "release"
    try:
        given = parser.parse_args(args)
        command, tool = COMMANDS[given.command]
        return command(given.args)
    except Refused as refusal:
        print(f"{refusal.tool or tool}: {refusal}", file=sys.stderr)
        return refusal.status

if __name__ == "__main__":
    # A signal ends the run through the clean-ups, as any error does.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda number, _: sys.exit(128 + number))
    sys.stdout.reconfigure(encoding="utf-8", errors="replace", line_buffering=True)
    sys.exit(main(sys.argv[1:]))
