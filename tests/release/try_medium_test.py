"""The rehearsal's reading of Wine's log, its choice of locale and its other reads, and the
release tool's command line, as tables."""
import codecs
import contextlib
import io

import tables
from release import __main__ as entry
from release import rehearsal_notes as notes
from release import ts_inf
from release.errors import Refused
from tables import CODE, NEW_CODE

LAUNCH = (rb'0030:0034:warn:debugstr:OutputDebugStringA "Launch: module path'
          rb' \"Z:\\m\\Launch.exe\"\n"')
# Lines on process starts: by the launcher, with its command line or not, and by another process.
START = rb"0030:0034:trace:process:CreateProcessInternalW app "
RUN, OTHER = START + b"(null) cmdline ", START.replace(b"0030", b"0040") + b"(null) cmdline "

class Tables(tables.Tables):
    def test_wine_log(self):
        self.equal(lambda what, page, lines: notes.read_log(what, lines, page), [
            (("started", None, [LAUNCH, RUN + rb'L"\"C:\\windows\\msiexec.exe\" /x {A}"']),
             ['  "C:\\windows\\msiexec.exe" /x {A}']),
            # Before the launcher's first trace line, and from another process: both its own.
            (("started", None, [START + rb'L"C:\\a.exe" cmdline (null)', LAUNCH,
                                OTHER + rb'L"C:\\b.exe"']), ["  C:\\a.exe"]),
            (("started", None, [LAUNCH, RUN + rb'L"Z:\\\30ea\d83d\de00\\S.exe"...']),
             ["  Z:\\\u30ea\U0001f600\\S.exe [cut short by Wine]"]),
            (("started", None, [LAUNCH, RUN + rb'L"C:\\windows\\system32\\CONHOST.exe 0x4"',
                                RUN + rb'L"C:\\w\\wineboot.exe"']), []),
            (("started", None, [OTHER + rb'L"C:\\b.exe"']), []),
            (("trace", None, [LAUNCH]), ['  Launch: module path "Z:\\m\\Launch.exe"']),
            (("trace", "cp932", [LAUNCH.replace(rb"\\m", rb"\\\x83\x8a\t")]),
             ['  Launch: module path "Z:\\\u30ea\t\\Launch.exe"']),
            (("trace", None, [LAUNCH.replace(rb"\\m", rb"\\\x83\x8a")]),
             ['  Launch: module path "Z:\\\\x83\\x8a\\Launch.exe"']),
            (("trace", "cp1252", [LAUNCH[:60] + b'"...']), ["  Launch: module p [cut short by Wine]"]),
            (("failure", "cp932", [b"cannot start Z:\\\x83\x8a: 193", LAUNCH]),
             ["cannot start Z:\\\u30ea: 193"]),
            (("failure", None, [b"cannot start Z:\\\x83: 193"]), ["cannot start Z:\\\\x83: 193"])])

    def test_locale(self):
        everywhere = {"C.UTF-8", "ja_JP.UTF-8", "de_DE.UTF-8"}
        def spelled(locale, page, caller):
            return locale, (f"try-medium: running under LC_ALL={locale}, whose code page {page} spells"
                            f" the medium's path (under {caller} Wine could not name it)")
        self.rows(tables.refusal(lambda paths, caller, available: notes.choose_locale(
            paths, caller, available.__contains__), Refused), [
            ((["/tmp/m 1", "/w/out"], "POSIX", set()), ("POSIX", "")),
            ((["/tmp/caf\xe9", "/w/out"], "de_DE.UTF-8", everywhere), ("de_DE.UTF-8", "")),
            ((["/tmp/caf\xe9", "/w/out"], "de_DE", everywhere), spelled("C.UTF-8", 1252, "de_DE")),
            ((["/tmp/caf\xe9", "/w/out"], "ja_JP.UTF-8", everywhere),
             spelled("C.UTF-8", 1252, "ja_JP.UTF-8")),
            ((["/tmp/\u30ea", "/w/out"], "C.UTF-8", everywhere), (
                "ja_JP.UTF-8", spelled("ja_JP.UTF-8", 932, "C.UTF-8")[1] + "; on an English"
                " Windows (code page 1252) the launcher could not name its own folder: it would"
                " show message 106 and exit 4")),
            ((["/tmp/\u30ea", "/w/out"], "C.UTF-8", {"C.UTF-8"}),
             "refused: the path needs the locale ja_JP.UTF-8, which this machine lacks"),
            ((["/tmp/\u30ea", "/w/\xe9"], "C.UTF-8", everywhere),
             "refused: neither code page 1252 nor 932 can spell /tmp/\u30ea:"),
            ((["/tmp/\ud55c", "/w/out"], "ko_KR.UTF-8", everywhere), "refused: neither code page")])

    def test_registry_and_package(self):
        self.equal(notes.reg_value, [
            ((b"\r\nHKEY\\X\r\n    DisplayVersion    REG_SZ    3.9.0\r\n"
              b"    DisplayName    REG_SZ    \x83\x8a\r\n", "DisplayVersion"), "3.9.0"),
            ((b"reg: Unable to find the specified registry key\n", "X"), ""),
            ((b"    InstallLocation    REG_SZ    C:\\Program Files (x86)\\T\\"
              b"\r\n    DisplayVersion    REG_SZ    3.9.0\r\n", "InstallLocation"),
             "C:\\Program Files (x86)\\T\\"),
            ((b"    InstallLocation    REG_SZ    \r\n", "InstallLocation"), "")])
        listing = (b"\r\nHKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\r\n"
                   + b"".join(b"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion"
                              b"\\Uninstall\\" + name + b"\r\n" for name in (b"Wine Mono", CODE.encode())))
        self.equal(notes.uninstall_key, [
            ((listing, CODE), listing.decode().splitlines()[-1]),
            ((listing, CODE.lower()), listing.decode().splitlines()[-1]),
            ((listing, CODE + "  "), None), ((listing, CODE[:-1]), None), ((listing, ""), None),
            ((listing, "Uninstall"), None), ((b"", CODE), None)])

    def test_package_line_as_the_launcher_cuts_it(self):
        # The launcher's own table of lines, which its host tests read too.
        def unescaped(text):
            return codecs.decode(text.encode("latin-1"), "unicode_escape")
        cases = [line.split("\t") for line in (tables.REPO / "tests/data/ts_inf_lines.tsv")
                 .read_text(encoding="utf-8").splitlines() if line and not line.startswith("#")]
        self.assertGreater(len(cases), 20)
        self.equal(ts_inf.fields, [
            (unescaped(data).encode("latin-1"), (unescaped(code), unescaped(version)))
            for _, data, code, version, _ in cases] + [
            # A lead byte of code page 932 takes the next byte with it, a comma too.
            ((b"AB\x82,CD,3.1\n", "cp932"), ("AB\x82,CD", "")),
            ((b"AB\x82,CD,3.1\n", "cp1252"), ("AB\x82", "")), (b"", None), (b"\x1a3.1", None),
            ((b"a" * 258 + b"\r\nrest"), ("a" * 258 + "\n", "a" * 219))])
        self.equal(ts_inf.first_line, [("/nonexistent/TS_INF", None), ("/", None)])

    def test_answers(self):
        self.rows(tables.refusal(notes.box_answers, Refused), [
            (["107=Cancel"], ["--answer", "OK+Cancel=Cancel"]),
            (["107=Cancel", "108=Retry,Cancel"],
             ["--answer", "OK+Cancel=Cancel", "--answer", "Cancel+Retry=Retry,Cancel"]),
            (["108=Retry", "107=OK", "108=Cancel"],
             ["--answer", "Cancel+Retry=Retry,Cancel", "--answer", "OK+Cancel=OK"]),
            (["106=OK"], ["--answer", "OK=OK"]),
            (["107=Retry"], "message 107 offers OK and Cancel, not 'Retry'"),
            (["108=Retry,,Cancel"], "message 108 offers Cancel and Retry, not ''"),
            (["108=retry"], "not 'retry'"), (["107"], "not ''"),
            (["109=OK"], "the launcher's boxes are the messages 104, 106, 107, 108"),
            (["=OK"], "the launcher's boxes"), (["+107=OK"], "the launcher's boxes")])

    def test_before_the_run(self):
        old = (CODE, "3.9.0", "Tessaro-3.9.0.msi")
        none = "the medium has no TS_INF (the launcher shows message 106 and exits 4)"
        empty = ("the medium's TS_INF is empty: no product to look for (the launcher shows no box"
                 " and exits 4)")
        first = f"Tessaro-3.9.0.msi (Tessaro 3.9.0, product {CODE}) installed first"
        def warned(named):
            return [f"warning: {first}, but the medium's TS_INF names product \"{named}\": the"
                    " launcher does not find it and starts Setup.exe beside it (README, Your own"
                    " package)"]
        absent = f"product {CODE} not installed (in the registry view of the launcher)"
        self.equal(notes.before_notes, [
            ((None, None), [none]), (("", None), [empty]), (("", old), [empty, first]),
            ((None, old), [none, first]),
            (((CODE, "3.10.0"), old), []), (((CODE, "3.10.0"), None), []),
            (((NEW_CODE, "3.11.0"), old), warned(NEW_CODE)),
            # Windows finds a key whatever its case, and only by its whole name.
            (((CODE.lower(), "3.10.0"), old), []),
            (((CODE + "  ", " ,3.10.0"), old, ""), [*warned(CODE + "  "), absent.replace(
                CODE, CODE + "  ")]),
            (((CODE, "3.10.0"), old, "3.9.0"), [f"Tessaro 3.9.0 installed (product {CODE})"]),
            (((CODE, "3.10.0"), None, ""), [absent]),
            (((CODE, "3.10.0"), None, "", ("3.9.0", 64)), [
                absent + "; Tessaro 3.9.0 is installed in the 64-bit view, which the launcher does"
                " not read: its package is x64, the launcher 32-bit (README, Your own package)"]),
            (((CODE, "3.10.0"), None, "", ("3.9.0", 32)), [
                absent + "; Tessaro 3.9.0 is installed in the 32-bit view, which the launcher does"
                " not read: its package is x86, the launcher 64-bit (README, Your own package)"]),
            (("", None, ""), [empty]), ((None, old, ""), [none, first])])

    def test_report(self):
        removal = RUN + rb'L"\"C:\\windows\\msiexec.exe\" /x {A}"'
        nothing_asked = "Nothing asked: the installed 3.10.0 counted as equal to the medium's 3.10.0"
        for log, given, expected, absent in (
            ([], ("0", "{A}", "3.10.0", "", ""), ["Launch.exe exit code: 0", "Started by it:",
             "  (nothing)", "Its trace (OutputDebugStringA, from Wine's debugstr channel):",
             "  (nothing)", "After: not installed"], "Nothing asked"),
            ([LAUNCH], ("4", "", "", "", ""), ['  Launch: module path "Z:\\m\\Launch.exe"'],
             "After:"),
            ([], ("0", "{A}", "3.10.0", "3.10.0", "3.10.0"), ["After: Tessaro 3.10.0 installed",
                                                              nothing_asked], None),
            ([], ("4", "{A}", "3.10.0", "3.10.0", "3.10.0"), [], "Nothing asked"),
            ([], ("0", "{A}", "3.10.0", "3.9.0", "3.10.0"), [], "Nothing asked"),
            ([LAUNCH, removal], ("0", "{A}", "3.10.0", "3.10.0", "3.10.0"),
             ['  "C:\\windows\\msiexec.exe" /x {A}'], "Nothing asked"),
            ([], ("0", "{A}", "3.10.0", "", "", "/o/box 1.png", "/o/box 2.png"),
             ["Screenshots: /o/box 1.png /o/box 2.png "], None),
        ):
            with self.subTest(log=log, given=given):
                lines = notes.report(log, None, *given[:5], given[5:])
                for start in expected:
                    self.assertTrue(any(line.startswith(start) for line in lines), (start, lines))
                self.assertFalse(absent and any(line.startswith(absent) for line in lines), lines)

    def test_command_line(self):
        def refusal(*args):
            said = io.StringIO()
            with contextlib.redirect_stderr(said):
                status = entry.main(list(args))
            return status, said.getvalue()
        usage = " (--help tells the usage)\n"
        self.equal(refusal, [
            (("instaled", "FILE"), (2, "release: argument command: invalid choice: 'instaled'"
                                       " (choose from 'make', 'check', 'try')" + usage)),
            (("try", "--bogus", "m"), (2, "try-medium: unknown option: --bogus" + usage)),
            (("try", "m", "--answers=107=OK"), (2, "try-medium: unknown option: --answers=107=OK"
                                                + usage)),
            (("try", "--answer"), (2, "try-medium: --answer needs ID=BUTTON" + usage)),
            (("try", "--remove-prefixes", "m"), (2, "try-medium: --remove-prefixes takes nothing"
                                                 " else" + usage)),
            (("try",), (2, "try-medium: one medium folder or image and at most one MSI" + usage)),
            (("try", "m", "a.msi", "b.msi"), (2, "try-medium: one medium folder or image and at"
                                              " most one MSI" + usage)),
            (("try", "--answer", "109=OK", "m"), (1, "try-medium: --answer 109=OK: the launcher's"
                                                  " boxes are the messages 104, 106, 107, 108\n")),
            (("check", "--sign", "x.pfx", "m"), (2, "make-medium: --check takes no --sign,"
                                                 " --password-file, --timestamp, --add or --iso\n"))])
