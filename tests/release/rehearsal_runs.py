"""The rehearsal run for real: each row runs try-medium.sh from a folder outside the work tree, on
media made there by make-medium.sh. Needs both builds and, for the 32-bit rows, the rig (built
on first use); slow, so a stage of its own (run_tables.py rehearsal_runs). Its pure reads are
try_medium_test.py."""
import os
import queue
import re
import shutil
import tempfile
from pathlib import Path

import tables
from medium_runs import MAKE, msibuild, set_property
from tables import CODE, NEW_CODE, REPO, Run, run

SAMPLE, BUILD = REPO / "build/win64/sample", REPO / "build"
JA = "リリース 5.1"
X86 = {64: "", 32: "-x86"}  # the package a build's launcher sees
# Rows run at once, in slots of their own for each build (the run mostly waits on Wine): two
# for the 64-bit rows, one for the fewer 32-bit ones.
SLOTS = {64: 2, 32: 1}
# Lines of the report: the launcher's exit, the removal it started (or a sign of it), the
# installer and the launcher on drive D:, and the product after the run.
EXIT_0, EXIT_4 = r"^Launch\.exe exit code: 0$", r"^Launch\.exe exit code: 4$"
REMOVAL, REMOVED = r'^  "C:\\windows\\system32\\msiexec\.exe" /x ', r'msiexec\.exe" /x'
SETUP_D = r'^  "D:\\Setup\.exe" "/v LAUNCH=Enable"$'
LAUNCH_D = r'^  Launch: module path "D:\\Launch\.exe"$'
NOT_INSTALLED = "^After: not installed$"

class RehearsalRuns(tables.Tables):
    @classmethod
    def setUpClass(cls):
        cls.work = work = Path(tempfile.mkdtemp(prefix="try-medium-test."))
        cls.addClassCleanup(shutil.rmtree, work)
        cls.make_slots()
        (work / JA).mkdir()
        for msi in ("Tessaro-3.9.0.msi", "Tessaro-3.9.0-x86.msi", "Tessaro-3.10.0.msi"):
            shutil.copyfile(SAMPLE / msi, work / JA / msi)
        # The media: the sample's Setup.exe and 3.10.0 package with the Launch.exe that sees it.
        for medium in (f"{JA}/medium 64", f"{JA}/medium 32", "plain", "no-ts-inf", "cut-short",
                       "한국어"):
            bits = 32 if medium.endswith("32") else 64
            run(MAKE, SAMPLE / "Setup.exe", SAMPLE / f"Tessaro-3.10.0{X86[bits]}.msi",
                work / medium, BUILD / f"win{bits}/Launch.exe", check=True)
        (work / "no-ts-inf/TS_INF").unlink()
        # TS_INF empty, its product code in lower case, and two blanks after the code.
        for name, code in (("empty-ts-inf", ""), ("lower-case", CODE.lower()),
                           ("blanks", f"{CODE}  ")):
            shutil.copytree(work / "plain", work / name)
            (work / name / "TS_INF").write_text(code and f"{code},3.10.0\r\n", newline="")
        # Its header still says x86-64, but Windows cannot load the rest: the box answerer
        # cannot start it.
        (work / "cut-short/Launch.exe").write_bytes((BUILD / "win64/Launch.exe").read_bytes()
                                                    [:2048])
        # For each build: a 3.11.0 whose package got a new product code (the medium's TS_INF
        # names that one), and the image of the medium.
        for bits, x86 in X86.items():
            package, new = SAMPLE / f"Tessaro-3.10.0{x86}.msi", work / f"new-code{x86}"
            shutil.copyfile(package, f"{new}.msi")
            msibuild(f"{new}.msi", set_property("ProductVersion", "3.11.0"),
                     set_property("ProductCode", NEW_CODE))
            run(MAKE, SAMPLE / "Setup.exe", f"{new}.msi", new, BUILD / f"win{bits}/Launch.exe",
                check=True)
            run(MAKE, "--iso", work / JA / f"medium {bits}.iso", "--add", package,
                SAMPLE / "Setup.exe", package, "-", BUILD / f"win{bits}/Launch.exe", check=True)
        # The images of one without TS_INF (which make-medium.sh does not make), and of one whose
        # Setup.exe writes beside itself (the stand-in records its command line there).
        run("xorriso", "-no_rc", "-report_about", "SORRY", "-outdev", f"stdio:{work}/no-ts-inf.iso",
            "-joliet", "on", "-map", work / "no-ts-inf", "/", "-commit", check=True)
        run(MAKE, "--iso", work / "writes.iso", BUILD / "win64/tests/wine/stand_in.exe",
            SAMPLE / "Tessaro-3.10.0.msi", "-", BUILD / "win64/Launch.exe", check=True)

    def win(self, path):
        """The Windows path of PATH below the work folder, as a pattern that matches only it."""
        return re.escape("Z:" + os.path.realpath(self.work / path).replace("/", "\\"))

    def test_rehearse(self):
        # Each row: try-medium.sh's arguments, paths taken from the folder JA.
        self.runs(("bash", REPO / "scripts/try-medium.sh"), [
            *(Run(f"{bits}-bit, outside the tree, a blank and Japanese in the path, relative paths",
                  (f"medium {bits}", f"Tessaro-3.9.0{x86}.msi"), 0, (
                      r"^try-medium: running under LC_ALL=ja_JP\.UTF-8", EXIT_0, REMOVAL,
                      rf'^  "{self.win(f"{JA}/medium {bits}/Setup.exe")}" "/v LAUNCH=Enable"$',
                      rf'^  Launch: .*"{self.win(f"{JA}/medium {bits}/Launch.exe")}"',
                      NOT_INSTALLED), ("^Nothing asked",)) for bits, x86 in X86.items()),
            Run("no TS_INF: message 106 and exit 4", ("../no-ts-inf",), 0, (
                r"^box 1: \[Launch\] ", EXIT_4, r"^  \(nothing\)$", "^  Launch: "), ("^After:",)),
            Run("the same version installed: nothing asked, one line says why",
                ("../plain", "Tessaro-3.10.0.msi"), 0, (
                    EXIT_0, r"^After: Tessaro 3\.10\.0 installed$",
                    r"^Nothing asked: .*3\.10\.0.*equal"), (REMOVED, r"^box [0-9]+: \[Launch\]")),
            Run("the box answerer cannot start Launch.exe: no exit code of the launcher",
                ("../cut-short",), 1,
                (r"^try-medium: .*could not start Launch\.exe.*cannot start ",), ("exit code",)),
            Run("a path neither code page 1252 nor 932 spells: one line naming LC_ALL",
                ("../한국어",), 1, ("^try-medium: .*LC_ALL",), (r"^Launch\.exe exit code",)),
            *(Run(f"{bits}-bit image: a CD-ROM drive, the installer started from its root, the"
                  " drive unchanged", (f"medium {bits}.iso", f"Tessaro-3.9.0{x86}.msi"), 0, (
                      r"^Drive D: \(CD-ROM, read-only\) holds ", REMOVAL, SETUP_D, LAUNCH_D,
                      r"^  [0-9a-f]{64} +[0-9]+  autorun\.inf$", NOT_INSTALLED,
                      "^Drive D: unchanged: "), ("CHANGED",)) for bits, x86 in X86.items()),
            Run("image without TS_INF: message 106 from drive D:", ("../no-ts-inf.iso",), 0, (
                r"^box 1: \[Launch\] ", EXIT_4, LAUNCH_D, "^Drive D: unchanged: ")),
            Run("image whose installer writes to the drive: the run fails, showing the new file",
                ("../writes.iso",), 1, (SETUP_D, "^Drive D: CHANGED by the run",
                                        r"^  [0-9a-f]{64} +[0-9]+  Setup\.record$"),
                ("^Drive D: unchanged",)),
            # The answers given, the product held in use, the product code the medium does not
            # name.
            *(row for bits, x86 in X86.items() for row in (
                Run(f"{bits}-bit: Cancel on 107 keeps the installed version, exit 4",
                    ("--answer", "107=Cancel", f"medium {bits}", f"Tessaro-3.9.0{x86}.msi"), 0, (
                        "^  -> Cancel, as given ", "^  Launch: exit 4: Cancel in message 107$",
                        EXIT_4, r"^After: Tessaro 3\.9\.0 installed$"), (REMOVED,)),
                Run(f"{bits}-bit: in use, 108, Retry: removed", ("--product-running",
                    "--answer=108=Retry", f"medium {bits}", f"Tessaro-3.9.0{x86}.msi"), 0, (
                        r"^holding C:.*Tessaro\.exe ", "^  Launch: lock test: .* in use$",
                        r"^  \(ended C:.*Tessaro\.exe, which held", "^  -> Retry, as given ",
                        "^  Launch: lock test: .* opens for writing: not in use$", REMOVAL,
                        NOT_INSTALLED)),
                Run(f"{bits}-bit: a new product code: warned before, Setup.exe beside the old one",
                    (f"../new-code{x86}", f"Tessaro-3.9.0{x86}.msi"), 0, (
                        rf"^Before: warning: Tessaro-3\.9\.0{x86}\.msi .* installed first, but"
                        " the medium's TS_INF", "^  Launch: uninstall key .* not found", EXIT_0),
                    (REMOVED,)))),
            Run("64-bit: in use, 108, Cancel: exit 4", ("--product-running", "--answer",
                "108=Cancel", "medium 64", "Tessaro-3.9.0.msi"), 0, (
                    "^  Launch: exit 4: Cancel in message 108$", r"^After: Tessaro 3\.9\.0")),
            Run("an empty TS_INF: no box, exit 4, the MSI installed first named",
                ("../empty-ts-inf", "Tessaro-3.9.0.msi"), 0, (
                    "^Before: the medium's TS_INF is empty", EXIT_4,
                    r"^Before: Tessaro-3\.9\.0\.msi \(Tessaro 3\.9\.0, product \{6F1C"), ("^box ",)),
            Run("no TS_INF: the MSI installed first named", ("../no-ts-inf", "Tessaro-3.9.0.msi"),
                0, (r"^Before: the medium has no TS_INF \(the launcher shows message 106",
                    r"^Before: Tessaro-3\.9\.0")),
            # With 3.9.0 left installed by a run before, a medium that does not name its product
            # code still has it removed, so that 3.10.0 of the same product code can be installed.
            Run("the package installed first removed before, also when TS_INF names another"
                " product", ("../new-code", "Tessaro-3.10.0.msi"), 0,
                (r"^Before: warning: Tessaro-3\.10\.0\.msi ", EXIT_0), ("msiexec /i",),
                first=("../no-ts-inf", "Tessaro-3.9.0.msi")),
            # Windows finds the uninstall key whatever its case, but nothing else.
            Run("a product code in lower case: found and removed", ("../lower-case",
                "Tessaro-3.9.0.msi"), 0, (r"^Before: Tessaro 3\.9\.0 installed \(product \{6f1c",
                                          REMOVAL, NOT_INSTALLED), ("^Before: warning",)),
            Run("two blanks after the code: not found, a warning, and the trace says why",
                ("../blanks", "Tessaro-3.9.0.msi"), 0, (
                    r'^Before: warning: .* names product "\{6F1C[-0-9A-F]*\}  ": the launcher'
                    " does not find it", "^  Launch: TS_INF malformed: blanks after the product"
                    " code$"), (REMOVED,)),
            Run("an x64 package before a 32-bit medium: in the 64-bit view, before and after",
                ("medium 32", "Tessaro-3.9.0.msi"), 0, tuple(
                    rf"^{when}: .*not installed \(in the registry view of the launcher\); Tessaro"
                    r" 3\.9\.0 is installed in the 64-bit view" for when in ("Before", "After"))),
            Run("an answer the message has not: one line, nothing run",
                ("--answer", "107=Retry", "medium 64"), 1,
                ("^try-medium: --answer 107=Retry: message 107 offers OK and Cancel",), ("^Before",)),
            Run("--product-running without an MSI to install first",
                ("--product-running", "medium 64"), 1,
                ("^try-medium: --product-running needs an installed product",), ("^Before",)),
        ], slot=self.slot, cwd=self.work / JA)

    def slot(self, row):
        """The slots a row may run in: those of its bits, by the medium or package it names (32
        for the x86 ones)."""
        return self.slots[32 if any(re.search("32|x86", str(arg)) for arg in row.args) else 64]

    @classmethod
    def make_slots(cls):
        """A slot: a prefix and an output folder of its own. Not the caller's display, on
        which the rehearsal would leave the boxes to a person."""
        env = {key: value for key, value in os.environ.items() if key != "DISPLAY"}
        cls.slots = {bits: queue.SimpleQueue() for bits in SLOTS}
        for bits, count in SLOTS.items():
            for number in range(count):
                cls.slots[bits].put({"env": {
                    **env, "LC_ALL": "C.UTF-8",
                    "TESSARO_TRY_PREFIX": str(BUILD / f"wine-prefix-try{bits}-slot{number}"),
                    "TESSARO_TRY_OUT": str(BUILD / f"try-medium-test-{bits}-{number}")}})
