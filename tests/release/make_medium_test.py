"""The medium tool's checks, one table per function, called directly."""
import os
import tempfile
from pathlib import Path
from types import SimpleNamespace

import tables
from release import assemble, check, image, msi, signing, ts_inf
from release.errors import Refused
from tables import CODE, NEW_CODE

class Tables(tables.Tables):
    def test_version(self):
        self.rows(ts_inf.version_problem, [
            ("3.9.0", None), ("255.255.65535", None), ("10.0.00.65535", None),
            # The last more than the launcher's line buffer of 260 bytes holds.
            *((version, "three or four fields") for version in ("7", "3.9", "3.9.0.0.1",
                                                                "1." * 108 + "1234")),
            ("256.0.0", "major and minor at most 255"), ("3.0256.0", "major and minor at most 255"),
            ("3.9.65536", "build and the fourth at most 65535"),
            *((version, f"digits separated by single dots: '{version}'") for version in
              ("", "1..2", ".1.2", "1.2.", "1.2a", "1,2", "-1.2", "1.2 ", "1.2\n", "١.٢.٣"))])
        self.rows(ts_inf.version_warning, [
            ("10.0.00.65535", "over an installed 10.0.00 nothing is asked"), ("3.9.0", None)])

    def test_product_code(self):
        self.rows(ts_inf.code_problem, [
            (CODE, None), ("{0A1B2C3D-0000-FFFF-9999-ABCDEF012345}", None),
            *((code, f"not a braced upper-case GUID: '{code}'") for code in (
                CODE.lower(), CODE[1:-1], CODE[:-2] + "G}", "{6F1C2A3B4-D5E" + CODE[14:],
                CODE[:-2] + "}", CODE + " ", ""))])

    def test_platform_and_launcher(self):
        self.rows(msi.platform_problem, [
            (("i386", "Intel"), None), (("x86-64", "x64"), None),
            (("i386", "x64"), "Launch.exe (i386) cannot see a package built for x64"),
            (("x86-64", "Intel"), "Launch.exe (x86-64) cannot see a package built for Intel"),
            (("i386", "Arm64"), "cannot see a package built for Arm64"),
            (("x86-64", "Arm64"), "cannot see a package built for Arm64"),
            (("arm64", "Intel"), "Launch.exe (arm64) cannot see")])

    def test_package_line(self):
        def verdicts(data, with_msi):
            with tempfile.TemporaryDirectory() as folder:
                path = Path(folder, "TS_INF")
                if data is not None:
                    path.write_bytes(data)
                checks = check.check_package_line(path, with_msi)
                return " | ".join(f"{verdict} {text}" for verdict, text in checks)
        line = f"{CODE},3.9.0"
        self.rows(verdicts, [
            ((f"{line}\r\n".encode(), False), f"ok TS_INF: {line}"),
            ((f"{line}\r\nmore\r\n".encode(), False), f"ok TS_INF: {line}"),
            ((f"{line}\r\n".encode(), True), None),
            ((None, False), "FAIL TS_INF: missing"),
            ((f"{line}\n".encode(), False), "FAIL TS_INF: the first line does not end in CR LF"),
            ((f"{line}".encode(), False), "FAIL TS_INF: the first line does not end in CR LF"),
            ((f"{CODE};3.9.0\r\n".encode(), False), "no comma after the 38-character product code"),
            ((f"{CODE[:-1]},3.9.0\r\n".encode(), False), "not a braced upper-case GUID"),
            ((f"{CODE},3.9\r\n".encode(), False), "FAIL TS_INF: ProductVersion is not one"),
            ((f"{CODE},3.9.0.1\r\n".encode(), False), "warn TS_INF: ProductVersion 3.9.0.1 has"),
            ((f"{CODE},3.9.\xe9\r\n".encode("latin-1"), False), "3.9.\xe9'"),
            ((b"", False), "FAIL TS_INF: empty: the launcher reads no product from it"),
            ((f"{line}\r\n".encode("utf-16"), False), "FAIL TS_INF: saved as UTF-16 (little-endian)"),
            ((f"{line}\r\n".encode("utf-16-be"), False), "CR LF"),
            ((b"\xfe\xff" + f"{line}\r\n".encode("utf-16-be"), True), "UTF-16 (big-endian)"),
            ((f"{line}\r\n".encode("utf-8-sig"), True), "saved as UTF-8 with a byte-order mark")])

    def test_token_uri(self):
        self.rows(signing.token_uri_problem, [
            ("pkcs11:token=Tessaro%20Release;object=signer", None),
            ("pkcs11:model=SoftHSM%20v2;id=%01;type=private?module-name=softhsm2", None),
            ("pkcs11:object=signer?pin-value=1234", "the PIN goes in --password-file"),
            ("pkcs11:object=signer;pin-value=1234", "the PIN goes in --password-file"),
            ("pkcs11:token=Tessaro", "names no key (no object= or id=)"),
            ("pkcs11:object=signer;type=cert", "names no private key (type=cert)"),
            ("pkcs11:object", "not a PKCS#11 URI"), ("pkcs11:Object=signer", "not a PKCS#11 URI")])
        options = SimpleNamespace(sign="pkcs11:object=k", certificate="c.pem", pkcs11_module="m.so")
        self.rows(lambda said: signing.token_failure(said, options), [
            ("error:PIN incorrect:p11_slot.c\nfailed loading private key", "wrong PIN for the token"),
            ("Unable to load PKCS#11 module\nfailed loading private key", "module does not load: m.so"),
            ("object not found:eng_back.c\nfailed loading private key", "no key on a token for pkcs11:"),
            ("Failed to read key or certificates\nobject not found", "no key or certificate on a"),
            ("X509_check_private_key:key values mismatch", "does not belong to the key pkcs11:"
             "object=k: c.pem"), ("Failed", None)])

    def test_provenance(self):
        # The launcher on the medium against the one it should be, both signatures aside.
        self.rows(lambda *given: " ".join(check.same_build(*given)), [
            (("1a", "b/Launch.exe", "1a"), "ok Launch.exe: b/Launch.exe, byte for byte but for"),
            (("1a", "b/Launch.exe", "2b"), "FAIL Launch.exe: SHA-256 1a (its signature aside) is"
             " not b/Launch.exe's 2b: not the launcher it should be"),
            (("1a", "b/Launch.exe", None), "is not b/Launch.exe's (not a Windows executable)"),
            (("", "b/Launch.exe", ""), "FAIL Launch.exe: SHA-256  (its")])
        self.rows(lambda built: check.provenance(None, None, built, None), [
            ("/nonexistent/Launch.exe", ("note", "Launch.exe: no build to compare it with"
                                         " (/nonexistent/Launch.exe): name the launcher it should"
                                         " be with --launcher EXE")),
            (None, ("note", "Launch.exe: no build to compare it with (none of its machine): name"
                    " the launcher it should be with --launcher EXE"))])

    def test_install_location(self):
        def problem(*edits):
            tables = {
                "Property": [{"Property": "ProductName", "Value": "Tessaro"}],
                "CustomAction": [{"Action": "SetArpInstallLocation", "Type": "51",
                                  "Source": "ARPINSTALLLOCATION", "Target": "[INSTALLDIR]"}],
                "InstallExecuteSequence": [
                    {"Action": action, "Sequence": str(sequence)} for action, sequence in (
                        ("CostFinalize", 1000), ("SetArpInstallLocation", 1001),
                        ("RegisterProduct", 6100))],
                "Directory": [{"Directory": "TARGETDIR", "DefaultDir": "SourceDir"},
                              {"Directory": "ProgramFilesFolder", "DefaultDir": "."},
                              {"Directory": "INSTALLDIR", "DefaultDir": "Tessaro"}],
                "Component": [{"Component": "TessaroExe", "Directory_": "INSTALLDIR"}],
                "File": [{"File": "TessaroExeFile", "Component_": "TessaroExe",
                          "FileName": "Tessaro.exe"}]}
            for table, column, value in edits:
                for row in tables[table] if column else ():
                    row[column] = value
                tables[table] = tables[table] if column else value
            return msi.install_location_problem(tables)
        typed_in = ("Property", None, [{"Property": "ARPINSTALLLOCATION",
                                        "Value": "C:\\Program Files (x86)\\Tessaro\\"}])
        no_action = ("CustomAction", None, [])
        sequence = ("InstallExecuteSequence", "Sequence")
        self.rows(problem, [
            ((), None), ((("CustomAction", "Type", "2099"),), None),
            ((("File", "FileName", "TESSARO.EXE|Tessaro.exe"),), None),
            ((no_action, typed_in), None),
            ((no_action,), "sets no ARPINSTALLLOCATION"),
            ((("CustomAction", "Type", "35"),), "sets no ARPINSTALLLOCATION"),
            *(((sequence + (value,),), "does not run between CostFinalize and RegisterProduct")
              for value in ("6601", "950")),
            ((("InstallExecuteSequence", None, []),),
             "does not run between CostFinalize and RegisterProduct"),
            ((("CustomAction", "Target", "[ProgramFilesFolder]"),), "holds no Tessaro.exe"),
            ((("Component", "Directory_", "ProgramFilesFolder"),), "holds no Tessaro.exe directly"),
            ((("File", "FileName", "Tessaro64.exe"),), "holds no Tessaro.exe directly"),
            ((no_action, ("Property", None, [{"Property": "ARPINSTALLLOCATION",
                                               "Value": "C:\\Program Files (x86)\\Other\\"}])),
             "(C:\\Program Files (x86)\\Other\\) that holds no Tessaro.exe directly"),
            ((("CustomAction", "Target", "[ProgramFilesFolder]Tessaro"),), "cannot be told")])

    def test_added_names(self):
        with tempfile.TemporaryDirectory() as folder:
            self.addCleanup(os.chdir, os.getcwd())
            os.chdir(folder)
            for path in ("extra/docs/sub", "other/docs"):
                os.makedirs(path)
            for path in ("extra/Tessaro-3.9.0.msi", "extra/setup.exe"):
                Path(path).write_text("file")
            self.rows(tables.refusal(lambda *paths: " ".join(assemble.added_names(paths).values()),
                                     Refused), [
                (("extra/Tessaro-3.9.0.msi",), "Tessaro-3.9.0.msi"), (("extra/docs",), "docs"),
                (("extra/Tessaro-3.9.0.msi", "extra/docs/"), "Tessaro-3.9.0.msi docs"),
                (("extra/setup.exe",), "would take the place of the medium's own setup.exe"),
                (("none.msi",), "refused: --add: not found: none.msi"),
                (("extra/docs", "other/docs"), "two of the paths given have the name docs"),
                ((".",), "has no name of its own"), (("extra/..",), "has no name of its own")])

    def test_password_line_ends(self):
        self.equal(signing.password, [
            (b"test password\n", b"test password"), (b"test password\r\n", b"test password"),
            (b"test password", b"test password"), (b"test password\r", b"test password\r"),
            (b"one\r\ntwo\n", b"one"), (b"\n", b""), (b"", b"")])

    def test_previous_release(self):
        old = (CODE, "3.10.0", "{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}")
        def verdict(row=None, sequence=("FindRelatedProducts", "RemoveExistingProducts"),
                    code=NEW_CODE):
            row = {"UpgradeCode": old[2], "VersionMin": "", "VersionMax": "3.11.0",
                   "Attributes": "0", **(row or {})}
            text = msi.previous_verdict((code, "3.11.0", old[2]), old, [row], sequence)
            return " ".join(text)
        self.rows(lambda call: verdict(**call), [
            ({"code": CODE}, "ok --previous: the same ProductCode"),
            ({}, "note --previous: ProductCode {5D1E0C4B"),
            ({"row": {"UpgradeCode": old[2].lower()}}, "the package removes it itself"),
            ({"row": {"VersionMin": "3.0.0", "Attributes": "256"}}, "removes it itself"),
            ({"row": {"VersionMax": "3.10.0", "Attributes": "512"}}, "removes it itself"),
            ({"sequence": ("FindRelatedProducts",)}, "warn --previous: ProductCode {5D1E0C4B"),
            ({"row": {"UpgradeCode": NEW_CODE}}, "installed beside it"),
            ({"row": {"Attributes": "2"}}, "does not remove it"),
            ({"row": {"VersionMax": "3.10.0"}}, "does not remove it"),
            ({"row": {"VersionMin": "3.10.0"}}, "does not remove it"),
            ({"row": {"VersionMin": "3.10.1", "Attributes": "256"}}, "does not remove it")])

    def test_package_and_setup_on_medium(self):
        with tempfile.TemporaryDirectory() as folder:
            msi = Path(folder, "Tessaro-3.11.0.msi")
            msi.write_bytes(b"the package")
            def found(placed, required=False):
                medium = Path(tempfile.mkdtemp(dir=folder))
                (medium / "packages").mkdir()
                for path, data in placed:
                    (medium / path).write_bytes(data)
                return " ".join(check.package_on_medium(medium, msi, required))
            self.rows(found, [
                (([("Tessaro-3.11.0.msi", b"the package")],), "ok MSI: on the medium as Tess"),
                (([("packages/t.msi", b"the package")],), "ok MSI: on the medium as packages/t."),
                (([],), "warn MSI: Tessaro-3.11.0.msi is not on the medium (make it with --add"),
                (([],), "unless it carries its own"),
                (([("Tessaro-3.11.0.msi", b"the packagE")],), "warn MSI: Tessaro-3.11.0.msi is"),
                (([], True), "FAIL MSI: Tessaro-3.11.0.msi is not on the medium")])
        self.rows(lambda machine: " ".join(check.setup_platform(machine)), [
            ("x86-64", "note Setup.exe: a 64-bit program: it starts on 64-bit Windows only"),
            ("x86-64", "message 104"),
            ("i386", "note Setup.exe: a 32-bit program: it starts on 32")])

    def test_volume_label(self):
        # Each label expected is one a volume takes: 1 to 16 of A-Z, 0-9 and _.
        self.equal(image.volume_label, [
            (("Tessaro", "3.10.0"), "TESSARO_3_10_0"), (("Tessaro", "3.9.0.1"), "TESSARO_3_9_0_1"),
            (("Tessaro Studio", "3.10.0"), "TESSARO_S_3_10_0"),
            (("Tessaro", "255.255.65535.9"), "255_255_65535_9"),
            (("Tessaro", "10.0.65535"), "TESSA_10_0_65535"), (("Tessaro X", "3.0.1"), "TESSARO_X_3_0_1"),
            (("Ü-Tessaro!", "3.9.0"), "TESSARO_3_9_0"), (("", "3.9.0"), "3_9_0"),
            (("Tessaro", "255.255.65535.65535"), "255_255_65535_65"), (("…", ""), "MEDIUM")])

    def test_autorun(self):
        self.rows(lambda data: " ".join(image.autorun_verdicts(data)), [
            (image.autorun_inf("Tessaro", "3.10.0"),
             "ok autorun.inf: open=Launch.exe, icon=Launch.exe, label=Tessaro 3.10.0"),
            (image.autorun_inf("Tessaro Ü", "3.10.0"), "label=Tessaro Ü 3.10.0"),
            (b"[AutoRun]\nOPEN = launch.EXE\nicon=Launch.exe\nlabel=x", "ok autorun.inf"),
            (b"[autorun]\r\nopen=Setup.exe\r\n", "FAIL"),
            (b"[other]\r\nopen=Launch.exe\r\n", "FAIL autorun.inf: does not open Launch.exe (no [autorun] open=)"),
            (b"[autorun]\r\n;open=Launch.exe\r\nopen=Launch.exe\r\n", "warn autorun.inf: open=Launch.exe, but no icon and no label"),
            (None, "FAIL")])
        self.assertTrue(image.autorun_inf("Tessaro Ü", "1").startswith(b"\xff\xfe"))

    def test_drive_letter(self):
        self.rows(image.drive_letter, [
            (["c:", "z:"], "d:"), (["c:", "d:", "d::", "z:"], "e:"), (["c:", "D:"], "e:"),
            (["c:", "e:"], "d:"), ([f"{chr(n)}:" for n in range(ord("c"), ord("z"))], None)])

    def test_drive_type(self):
        report = "DriveType  Name  \r\n3          C:    \r\n5          D:    \r\n3          Z:    \r\n"
        self.rows(lambda data, letter: image.drive_type(data, letter), [
            ((b"\xff\xfe" + report.encode("utf-16-le"), "d:"), "CD-ROM"),
            ((report.encode(), "D:"), "CD-ROM"), ((report.encode(), "c:"), "fixed"),
            ((report.replace("5 ", "7 ").encode(), "d:"), "type 7"),
            ((report.encode(), "e:"), None), ((b"", "d:"), None)])
