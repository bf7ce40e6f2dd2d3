"""The rehearsal's run, inside the session of the launcher's Wine (rehearsal.py starts it there
with named options): the drive of an image, the product as the medium should meet it, the
launcher under box_answer.exe, and the report."""
import contextlib
import os
import subprocess
import sys
from pathlib import Path

from . import image, ts_inf, wine
from .errors import OneLine, Refused
from .rehearsal_notes import before_notes, box_answers, code_page, read_log, read_package
from .rehearsal_notes import reg_value, report, uninstall_key

BOX_ANSWER = "build/win64/tools/windows/box_answer.exe"
DRIVES = "HKLM\\Software\\Wine\\Drives"
UNINSTALL = "HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"

def windows_path(path):
    """The name Wine gives a Unix path, on its drive Z:."""
    return "Z:" + os.path.realpath(path).replace("/", "\\")

class Run:
    """One rehearsal: OPTIONS as rehearsal.py gives them, the Wine RUNNER."""
    def __init__(self, options, runner):
        self.options, self.runner, self.bits = options, runner, options.bits
        self.medium, self.out = Path(options.medium), Path(options.out)
        # TS_INF as the launcher cuts it, in the code page it runs under.
        self.page = code_page(os.environ.get("LC_ALL") or "C")
        try:
            data = (self.medium / "TS_INF").read_bytes()[:4096]
        except OSError:
            data = None
        self.cut = None if data is None else ts_inf.fields(data, self.page) or ""
        self.product, self.version = self.cut or ("", "")

    def installed(self, value="DisplayVersion", bits=None, product=None):
        """VALUE of the product's uninstall key in the registry view of BITS, by default the one
        the launcher reads ("": none). The key is found as Windows finds it, not as reg.exe
        takes a name given to it."""
        view = f"/reg:{bits or self.bits}"
        def query(key):
            return self.runner.wine("reg", "query", key, view, stdout=subprocess.PIPE,
                                    stderr=subprocess.DEVNULL).stdout
        product = product or self.product
        key = product and uninstall_key(query(UNINSTALL.rstrip("\\")), product)
        return reg_value(query(key), value) if key else ""

    def elsewhere(self):
        """(version, bits) of the product in the registry view the launcher does not read."""
        other = 96 - self.bits
        version = self.installed(bits=other)
        return (version, other) if version else None

    def meet(self, msi):
        """The machine as the medium should meet it: its product not installed, or installed by
        MSI. The MSI's own product too: a package with another product code than TS_INF's is no
        longer removed by the medium's runs, and would stand in the way of installing it again."""
        for code in (self.product, msi and read_package(msi)[0]):
            if code:
                self.runner.wine("msiexec", "/x", code, "/qn", stdout=subprocess.DEVNULL,
                                 stderr=subprocess.DEVNULL)
        if msi and self.runner.wine("msiexec", "/i", windows_path(msi), "/qn").returncode:
            raise Refused(f"msiexec /i {msi} failed")
        before = self.installed()
        elsewhere = None if before else self.elsewhere()
        for note in before_notes(self.cut, msi and read_package(msi) or None, before, elsewhere):
            print(f"Before: {note}")
        return before

    def launch(self, launcher):
        """Runs the launcher under box_answer.exe; its exit code, Wine's log (lines) on it."""
        command = [BOX_ANSWER, *box_answers(self.options.answer)]
        if self.options.hold:
            location = self.installed("InstallLocation")
            if not location:
                raise Refused("--product-running: the installed product has no InstallLocation")
            # Named as the launcher names it: InstallLocation and the file name, nothing between.
            command += ["--hold", f"{location}Tessaro.exe"]
        if self.options.display:
            print(f"Starting {launcher} on {self.options.display}: answer its boxes there.")
            command.append("--watch")
        # Wine reports every process start on its "process" channel and OutputDebugString on
        # "debugstr"; with "pid" each line names its process, which tells the launcher's apart.
        with open(self.out / "wine.log", "wb") as log:
            ran = self.runner.wine(*command, windows_path(self.out), launcher, stderr=log,
                                   stdout=subprocess.PIPE,
                                   env={**os.environ, "WINEDEBUG": "+pid,+process,+debugstr"})
        self.runner.wineserver("-w")
        # The screenshots are kept as PNG: the lines that name them name those.
        said = ran.stdout.decode(self.page if self.page else "latin-1", "replace")
        for bmp in sorted(self.out.glob("*.bmp")):
            if not subprocess.run(["convert", bmp, bmp.with_suffix(".png")]).returncode:
                bmp.unlink()
                said = said.replace(bmp.name, bmp.with_suffix(".png").name)
        print(said, end="")
        return ran.returncode, (self.out / "wine.log").read_bytes().split(b"\n")

    def rehearse(self, launcher):
        """The run, what it did and the product after it, on standard output and in "result"."""
        before, page = self.meet(self.options.msi), self.page
        exit_code, log = self.launch(launcher)
        failure = "\n".join(read_log("failure", log, page))
        if exit_code == 98 and failure:
            raise Refused("box_answer.exe, which answers the boxes, could not start Launch.exe,"
                          f" so the launcher never ran: {failure}")
        after = self.installed()
        screenshots = sorted(str(png) for png in self.out.glob("*.png"))
        for line in report(log, page, str(exit_code), self.product, self.version, before, after,
                           screenshots, None if after else self.elsewhere()):
            print(line)
        # The package installed first, when the launcher looked for another product.
        first = self.options.msi and read_package(self.options.msi)
        if first and first[0].upper() != self.product.upper():
            kept = self.installed(product=first[0])
            print(f"After: {first[2]} (Tessaro {first[1]}, product {first[0]})"
                  + (f" still installed: Tessaro {kept}" if kept else " not installed"))
        (self.out / "result").write_text(f"exit_code={exit_code}\nbefore={before}\n"
                                         f"after={after}\n")

@contextlib.contextmanager
def drive(runner, files):
    """The image's FILES as a CD-ROM drive of the prefix, the launcher's own, for one run: the
    launcher's path there."""
    letter = image.drive_letter(os.listdir(runner.prefix / "dosdevices"))
    if not letter:
        raise Refused("no free drive letter")
    name, link = letter.upper(), runner.prefix / "dosdevices" / letter
    link.symlink_to(files)
    try:
        runner.wine("reg", "add", DRIVES, "/v", letter, "/d", "cdrom", "/f",
                    stdout=subprocess.DEVNULL)
        # Wine learns the drives and their types when its mount manager starts: after this.
        runner.wineserver("-w")
        # As Windows programs see it, not as it was meant.
        disks = runner.wine("wmic", "logicaldisk", "get", "drivetype,name",
                            stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        kind = image.drive_type(disks.stdout, letter) or "unknown"
        if kind != "CD-ROM":
            raise Refused(f"Wine took drive {name} for {kind}, not for a CD-ROM drive")
        before = [f"  {line}" for line in image.listing(files)]
        print(f"Drive {name} ({kind}, read-only) holds the image's files (SHA-256, size,"
              " name):", *before, sep="\n")
        yield f"{name}\\Launch.exe"
    finally:
        link.unlink(missing_ok=True)
    after = [f"  {line}" for line in image.listing(files)]
    runner.wine("reg", "delete", DRIVES, "/v", letter, "/f", stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL)
    if after != before:
        print(f"Drive {name} CHANGED by the run; now it holds:", *after, sep="\n")
        sys.exit(1)
    print(f"Drive {name} unchanged: the same names, sizes and SHA-256 after the run as before")

def main(args):
    parser = OneLine(prog="rehearsal_run", add_help=False, allow_abbrev=False)
    for name in ("--medium", "--out", "--prefix", "--msi", "--image", "--display"):
        parser.add_argument(name, default="")
    parser.add_argument("--bits", type=int, choices=(32, 64), required=True)
    parser.add_argument("--hold", action="store_true")
    parser.add_argument("--answer", action="append", default=[])
    options = parser.parse_args(args)
    runner = wine.runner(options.bits, options.prefix)
    runner.prepare()
    run = Run(options, runner)
    if not options.image:
        return run.rehearse(windows_path(run.medium / "Launch.exe"))
    with drive(runner, run.medium) as launcher:
        return run.rehearse(launcher)

if __name__ == "__main__":
    sys.stdout.reconfigure(encoding="utf-8", errors="replace", line_buffering=True)
    try:
        sys.exit(main(sys.argv[1:]))
    except Refused as refusal:
        sys.exit(f"try-medium: {refusal}")
