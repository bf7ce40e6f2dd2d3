"""make-medium.sh run for real: made, signed, checked, refused and tampered media of the sample's
packages, patched with msibuild, signed with a certificate made here or a key that never leaves
its token (a SoftHSM2 token made here, filled with OpenSC's pkcs11-tool). Needs msitools,
openssl, osslsigncode, xorriso, softhsm2, opensc, both builds and Wine; slow, so a stage of its
own (run_tables.py medium_runs). Its pure checks are make_medium_test.py."""
import os
import re
import shutil
import tempfile
from dataclasses import dataclass
from pathlib import Path

import tables
from release.errors import sha256
from tables import CODE, NEW_CODE, REPO, Run, run

MAKE, BUILD = REPO / "scripts/make-medium.sh", REPO / "build"
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN = "pkcs11:token=Tessaro%20Release;object="
URI, BARE, NOKEY = TOKEN + "signer", TOKEN + "bare", TOKEN + "nokey"
LONG = "extra/" + "long_name_" * 12 + ".txt"  # 124 characters, more than Joliet keeps
# What --add is given: a file, a folder, and names that clash with the medium's or the image's.
ADDED = {"file": ("extra/Tessaro-3.9.0.msi",), "folder": ("extra/docs",),
         "both": ("extra/Tessaro-3.9.0.msi", "extra/docs/"), "clash": ("extra/setup.exe",),
         "autorun": ("extra/AutoRun.inf",), "long": (LONG,)}

def set_property(name, value):
    return f"UPDATE Property SET Value='{value}' WHERE Property='{name}'"

def msibuild(msi, *queries):
    run("msibuild", msi, *(word for query in queries for word in ("-q", query)), check=True)

def tree(folder):
    """Every path below FOLDER, with the SHA-256 of each file (None for a folder)."""
    return {str(path.relative_to(folder)): sha256(path) if path.is_file() else None
            for path in Path(folder).rglob("*")}

def flip(data, launcher):
    """DATA with one byte of the code turned over, well inside the signed part of the Launch.exe
    LAUNCHER, where it lies in DATA."""
    data = bytearray(data)
    data[data.index(launcher) + 4200] ^= 0xFF
    return bytes(data)

@dataclass(frozen=True)
class Medium:
    """What make-medium.sh is given (fixtures of setUpClass, "none": one not there), and what it
    must do. "made": exit 0, nothing on stderr, a medium of exactly the Launch.exe given (or its
    signed copy), Setup.exe, TS_INF and the added paths, alone in its folder, and --check
    reporting it right; "warns": the same with a warning holding SAID (else ARP); any other
    text: the one-line refusal holding it, a non-zero exit and nothing written."""
    result: str
    msi: str = "good"  # good, x64, upgrade, newcode, text, none
    setup: str = "pe"  # pe, signed, mz, text, none
    launch: str = "explicit"  # explicit, real, x64, text, none; default: none given
    out: str = "new"  # new, spaced, slash, empty, full, file, orphan; -: none
    iso: str = ""  # --iso: new, exists, orphan
    add: str = ""  # --add: the paths of ADDED[add]
    pfx: str = ""  # --sign PFX.pfx: good, noeku, text, none
    token: tuple = ()  # --sign pkcs11:URI and the options that go with it, as given
    password: str = ""  # --password-file password-PASSWORD: good, wrong, none
    tsa: str = ""  # --timestamp http://TSA/
    previous: str = ""  # --previous PREVIOUS.msi
    code: str = ""  # the package's ProductCode changed to this
    version: str = ""  # its ProductVersion changed to this
    drop: str = ""  # this property taken out of it
    sql: str = ""  # this query run on it
    said: str = ""  # what the warning holds
    verdict: str = ""  # a line --check prints
    arp: str = ""  # what --check fails on the install location, and the warning says
    status: int = 0  # a refusal's exit status (0: any but 0)

class MediumRuns(tables.Tables):
    @classmethod
    def setUpClass(cls):
        cls.work = work = Path(tempfile.mkdtemp(prefix="make-medium-test."))
        cls.addClassCleanup(shutil.rmtree, work)
        cls.env = {**os.environ, "SOFTHSM2_CONF": str(work / "softhsm2.conf")}
        def given(*command):
            run(*command, cwd=work, env=cls.env, check=True)
        # The sample's packages as the README asks for them: Tessaro.exe in INSTALLDIR, and
        # ARPINSTALLLOCATION set to that folder by a type 51 action between CostFinalize and
        # RegisterProduct. The 32-bit launcher given carries a line after the image, so that it
        # and the build's own (real, and the default) differ.
        real, good, setup = ((BUILD / path).read_bytes() for path in (
            "win32/Launch.exe", "win64/sample/Tessaro-3.9.0-x86.msi", "win64/sample/Setup.exe"))
        text = b"not an executable\r\n"
        for path, data in {
                "launch-real.exe": real, "launch-explicit.exe": real + b"explicit launcher\n",
                "launch-x64.exe": (BUILD / "win64/Launch.exe").read_bytes(),
                "setup-pe.exe": setup, "good.msi": good, "upgrade.msi": good, "newcode.msi": good,
                "x64.msi": (BUILD / "win64/sample/Tessaro-3.9.0.msi").read_bytes(),
                "stand_in.exe": (BUILD / "win64/tests/wine/stand_in.exe").read_bytes(),
                "setup-mz.exe": b"MZ but no PE header after it, as in a DOS program" + b" " * 100,
                "setup-text.exe": text, "launch-text.exe": text, "text.pfx": text, "text.msi": text,
                "softhsm2.conf": f"directories.tokendir = {work / 'objects'}\n"
                "objectstore.backend = file\nlog.level = ERROR\n".encode(),
                "pin": b"1234\n", "wrong-pin": b"4321\n", "module.so": b"no code",
                "password-good": b"good password\n", "password-wrong": b"wrong password\n",
                "extra/Tessaro-3.9.0.msi": good, "extra/setup.exe": setup,
                "extra/docs/readme.txt": b"read me\n", "extra/docs/sub/a.txt": b"deeper\n",
                "extra/AutoRun.inf": b"[autorun]\n", LONG: b"long\n"}.items():
            (work / path).parent.mkdir(parents=True, exist_ok=True)
            (work / path).write_bytes(data)
        (work / "objects").mkdir()
        cls.real = sha256(work / "launch-real.exe")
        # The next release with a new product code, once as a major upgrade of the good package
        # (its Upgrade table takes the sample's UpgradeCode, and RemoveExistingProducts runs).
        for kind in ("upgrade", "newcode"):
            msibuild(work / f"{kind}.msi", set_property("ProductCode", NEW_CODE))
        sequence = "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES"
        msibuild(work / "upgrade.msi", "INSERT INTO Upgrade (UpgradeCode, VersionMin, VersionMax,"
                 " Attributes, ActionProperty) VALUES ('{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}',"
                 " '1.0.0', '3.9.0', 768, 'OLDER')", f"{sequence} ('FindRelatedProducts', 25)",
                 f"{sequence} ('RemoveExistingProducts', 1450)")
        # The token, made as a release engineer would fill a hardware one: "signer" holds its
        # key and its certificate; "bare" only a key, whose certificate is a file.
        token = ("--token", "Tessaro Release", "--pin", "1234")
        given("softhsm2-util", "--init-token", "--free", "--label", "Tessaro Release", "--pin",
              "1234", "--so-pin", "87654321")
        for key, number in (("signer", "01"), ("bare", "02")):
            given("openssl", "genpkey", "-algorithm", "RSA", "-out", f"{key}.key")
            given("softhsm2-util", "--import", f"{key}.key", *token, "--label", key, "--id", number)
        # Certificates: each key's own for code, the signer's key without the code-signing use;
        # the signer's two also as certificate files, as a release engineer makes them.
        for name, key, use in (("signer", "signer", "codeSigning"), ("bare", "bare", "codeSigning"),
                               ("noeku", "signer", "serverAuth")):
            given("openssl", "req", "-x509", "-key", f"{key}.key", "-days", "2", "-subj",
                  f"/CN=Tessaro Token {name}", "-addext", f"extendedKeyUsage={use}", "-out",
                  f"{name}.pem")
        for kind, certificate in (("good", "signer"), ("noeku", "noeku")):
            given("openssl", "pkcs12", "-export", "-inkey", "signer.key", "-in",
                  f"{certificate}.pem", "-passout", "file:password-good", "-out", f"{kind}.pfx")
        given("pkcs11-tool", "--module", SOFTHSM, "--token-label", "Tessaro Release", "--login",
              "--pin", "1234", "--write-object", "signer.pem", "--type", "cert", "--id", "01",
              "--label", "signer")
        cls.sign = ("--sign", "good.pfx", "--password-file", "password-good")
        given("osslsigncode", "sign", "-pkcs12", "good.pfx", "-readpass", "password-good", "-h",
              "sha256", "-in", "launch-real.exe", "-out", "setup-signed.exe")
        # The media the checks read, none changed by a row: one without its package; a signed
        # one (folder and image) with it, and a copy of both changed after signing; and an
        # unsigned image with a folder.
        for args in (("setup-pe.exe", "good.msi", "nopackage"),
                     ("--iso", "signed.iso", *cls.sign, "--add", "good.msi", "setup-signed.exe",
                      "good.msi", "signed", "launch-real.exe"),
                     ("--iso", "image.iso", "--add", "extra/docs", "setup-pe.exe", "good.msi",
                      "image", "launch-explicit.exe")):
            given(MAKE, *args)
        shutil.copytree(work / "signed", work / "tampered")
        signed = (work / "signed/Launch.exe").read_bytes()
        for path in ("/Launch.exe", ".iso"):
            data = flip((work / f"signed{path}").read_bytes(), signed)
            (work / f"tampered{path}").write_bytes(data)
        # The build it should have been, one byte changed; TS_INF empty, and saved as UTF-16.
        (work / "launch-changed.exe").write_bytes(flip(real, real))
        for name, text in (("empty", b""), ("utf16", f"{CODE},3.9.0\r\n".encode("utf-16"))):
            shutil.copytree(work / "nopackage", work / name)
            (work / name / "TS_INF").write_bytes(text)

    def make(self, row):
        case = Path(tempfile.mkdtemp(dir=self.work))
        parent, msi, setup = case / "parent", case / "in/product.msi", case / "in/Setup.exe"
        for folder in (parent, msi.parent):
            folder.mkdir()
        if row.msi != "none":
            shutil.copyfile(self.work / f"{row.msi}.msi", msi)
        if row.setup != "none":
            shutil.copyfile(self.work / f"setup-{row.setup}.exe", setup)
        queries = [query for query in (
            row.code and set_property("ProductCode", row.code),
            row.version and set_property("ProductVersion", row.version),
            row.drop and f"DELETE FROM Property WHERE Property='{row.drop}'", row.sql) if query]
        if queries:
            msibuild(msi, *queries)
        launch = self.work / f"launch-{row.launch}.exe"
        out = {"-": "-", "spaced": parent / "my medium 1", "orphan": parent / "missing/medium"
               }.get(row.out, parent / "medium")
        if row.out in ("empty", "full"):
            out.mkdir()
        if row.out in ("full", "file"):
            (out / "old.txt" if row.out == "full" else out).write_text("keep\n")
        iso = parent / ("missing/medium.iso" if row.iso == "orphan" else "medium.iso")
        if row.iso == "exists":
            iso.write_text("keep\n")
        previous = ("--previous", f"{row.previous}.msi") if row.previous else ()
        added = ADDED.get(row.add, ())
        options = [("--sign", row.pfx and f"{row.pfx}.pfx"), ("--iso", row.iso and iso),
                   ("--password-file", row.password and f"password-{row.password}"),
                   ("--timestamp", row.tsa and f"http://{row.tsa}/"),
                   *(("--add", path) for path in added)]
        launcher = () if row.launch == "default" else (launch,)
        before = tree(parent)
        made = run(MAKE, *(word for option in options if option[1] for word in option),
                   *row.token, *previous, setup, msi, f"{out}/" if row.out == "slash" else out,
                   *launcher, cwd=self.work, merge=False, env=self.env)
        said, signed = f"stderr: {made.stderr}", row.pfx or row.token
        if row.result not in ("made", "warns"):
            self.assertIn(made.returncode, [row.status] if row.status else range(1, 256), said)
            self.assertIn(row.result, made.stderr)
            self.assertEqual(len([line for line in made.stderr.splitlines()
                                  if not line.startswith("make-medium: warning: ")]), 1, said)
            self.assertEqual(tree(parent), before, "wrote something")
            return
        # The parent as the row gives it: the medium alone, with Launch.exe unless signed.
        medium = case / "expected" / out.relative_to(parent)
        medium.mkdir(parents=True)
        shutil.copyfile(setup, medium / "Setup.exe")
        for path in added:
            copy = shutil.copytree if os.path.isdir(self.work / path) else shutil.copyfile
            copy(self.work / path, medium / Path(path).name)
        if not signed:
            shutil.copyfile(BUILD / "win32/Launch.exe" if row.launch == "default" else launch,
                            medium / "Launch.exe")
        (medium / "TS_INF").write_text(f"{row.code or CODE},{row.version or '3.9.0'}\r\n")
        self.assertEqual(made.returncode, 0, said)
        made_tree, expected = tree(parent), tree(case / "expected")
        for files in (made_tree, expected) if signed else ():
            files.pop(str(out.relative_to(parent) / "Launch.exe"), None)
        self.assertEqual(made_tree, expected, "the medium is not the one given, or not alone")
        if row.result == "warns":
            warnings = [line for line in made.stderr.splitlines() if "warning" in line]
            self.assertTrue(row.said or any(row.arp in line for line in warnings), said)
            self.assertIn(row.said, made.stderr)
        else:
            self.assertEqual(made.stderr, "")
        # The medium's launcher, signature aside, is the one given (else the build's own).
        given = ("--launcher", launch) if row.launch != "default" else ()
        check = run(MAKE, "--check", *given, *previous, out, msi, cwd=self.work, env=self.env)
        if signed:
            self.assertEqual(check.returncode, 0, check.stdout)
            self.assertEqual(sha256(launch), sha256(BUILD / "win32/Launch.exe"),
                             "signing changed the Launch.exe given")
        # Only the added package puts it on the medium (the good one's bytes).
        on_medium = "Tessaro-3.9.0.msi" in [Path(path).name for path in added]
        signed_setup = row.setup == "signed"
        self.holds(check.stdout, [
            f"^FAIL  MSI: .*{row.arp}" if row.arp else
            r"^ok    MSI: ARPINSTALLLOCATION is the folder of Tessaro\.exe",
            r"^ok    Setup\.exe: signature verifies" if signed_setup else
            r"^warn  Setup\.exe: unsigned",
            r"^note  Setup\.exe: a 32-bit program.*32-bit and 64-bit" if signed_setup else
            r"^note  Setup\.exe: a 64-bit program.*on 32-bit Windows the launcher shows message 104",
            r"^ok    MSI: on the medium as .*Tessaro-3\.9\.0\.msi" if on_medium else
            r"^warn  MSI: product\.msi is not on the medium.*--add MSI",
            *(f"^note  also on the medium: .*{Path(path).name}" for path in added),
            *([row.verdict] if row.verdict else []),
            rf"^ok    Launch\.exe: signature verifies.*{self.real}" if signed else
            r"^warn  Launch\.exe: unsigned", r"^ok    Launch\.exe: .*, byte for byte but for the"])

    def test_make(self):
        signed = {"launch": "real", "pfx": "good", "password": "good"}
        pin = ("--password-file", "pin")
        def refused(result, *token, status=1):
            return Medium(result, launch="real", status=status, token=token)
        self.each(self.make, [
            Medium("made"), Medium("made", launch="default"), Medium("made", out="spaced"),
            Medium("made", out="slash"), Medium("made", out="empty"), Medium("made", out="orphan"),
            Medium("made", setup="signed"), Medium("Setup.exe not found", setup="none"),
            Medium("Setup.exe is not a Windows executable", setup="text"),
            Medium("Setup.exe is not a Windows executable", setup="mz"),
            Medium("Launch.exe not found", launch="none"),
            Medium("Launch.exe is not a Windows executable", launch="text"),
            Medium("MSI not found", msi="none"),
            Medium("not a Windows Installer database", msi="text"),
            Medium("no ProductCode property", drop="ProductCode"),
            Medium("no ProductVersion property", drop="ProductVersion"),
            Medium("OUT_DIR exists and is not empty", out="full"),
            Medium("OUT_DIR exists and is not a directory", out="file"),
            Medium("made", msi="x64", launch="x64"),
            Medium("Launch.exe (i386) cannot see a package built for x64", msi="x64"),
            Medium("Launch.exe (i386) cannot see a package built for x64", msi="x64",
                   launch="default"),
            Medium("Launch.exe (x86-64) cannot see a package built for Intel", launch="x64"),
            Medium("warns", version="10.0.00.65535"),
            Medium("digits separated by single dots", version="1..2"),
            Medium("not a braced upper-case GUID", code=CODE.lower()),
            Medium("made", **signed, out="orphan"), Medium("made", **signed),
            Medium("wrong password for the certificate file", launch="real", pfx="good",
                   password="wrong", out="orphan"),
            Medium("certificate file not found", launch="real", pfx="none", password="good"),
            Medium("not a PKCS#12 certificate file", launch="real", pfx="text", password="good"),
            Medium("not for code signing", launch="real", pfx="noeku", password="good"),
            Medium("password file not found", launch="real", pfx="good", password="none"),
            Medium("--sign PFX needs --password-file FILE", launch="real", pfx="good"),
            Medium("no time stamp from http://127.0.0.1:9/", **signed, tsa="127.0.0.1:9",
                   out="orphan"),
            Medium("made", add="file"), Medium("made", add="folder", out="spaced"),
            Medium("made", add="both", launch="default", out="orphan"),
            Medium("would take the place of the medium's own setup.exe", add="clash"),
            Medium("made", add="both", **signed, out="orphan"),
            Medium("no time stamp from", add="both", **signed, tsa="127.0.0.1:9", out="orphan"),
            Medium("IMAGE exists", iso="exists"),
            Medium("would take the place of the image's own autorun.inf", iso="new",
                   add="autorun"),
            Medium("Launch.exe (i386) cannot see a package built for x64", iso="new", msi="x64",
                   out="-"),
            Medium("wrong password for the certificate file", launch="real", pfx="good",
                   password="wrong", iso="new"),
            Medium("OUT_DIR - (no folder) goes with --iso IMAGE", out="-"),
            Medium("the image does not keep every name of the medium", iso="orphan", add="long",
                   out="-"),
            # The release before: the same product code is ok; a new one is a note when the
            # package removes the previous one itself, else a warning.
            Medium("made", previous="good", add="file",
                   verdict="^ok    --previous: .*the same ProductCode"),
            Medium("warns", msi="upgrade", code=NEW_CODE, previous="good",
                   said="note: --previous: ProductCode",
                   verdict="^note  --previous: .*the package removes it itself"),
            Medium("warns", msi="newcode", code=NEW_CODE, previous="good",
                   said="is installed beside it",
                   verdict=r"^warn  --previous: .*the launcher never sees an installed 3\.9\.0"),
            # An install location that Windows Installer does not record: a warning, and --check
            # fails.
            Medium("warns", sql="DELETE FROM CustomAction", arp="sets no ARPINSTALLLOCATION"),
            # Through a token: its own certificate, by p11-kit's proxy or by the module named, or
            # one in a file; --check names the signer.
            *(Medium("made", launch="real", token=("--sign", key, *pin, *given), verdict=(
                rf"^ok    Launch\.exe: signature verifies \(signer .*CN ?= ?Tessaro Token {cn};"))
              for key, given, cn in ((URI, (), "signer"), (URI, ("--pkcs11-module", SOFTHSM),
                                     "signer"), (BARE, ("--certificate", "bare.pem"), "bare"))),
            refused(f"wrong PIN for the token of {URI}", "--sign", URI, "--password-file",
                    "wrong-pin"),
            refused(f"no key on a token for {NOKEY}", "--sign", NOKEY, *pin, "--certificate",
                    "bare.pem"),
            refused(f"no key or certificate on a token for {NOKEY} (a certificate the token does"
                    " not hold: --certificate PEM)", "--sign", NOKEY, *pin),
            refused("the PKCS#11 module does not load: module.so", "--sign", URI, *pin,
                    "--pkcs11-module", "module.so"),
            refused("PKCS#11 module not found: gone.so", "--sign", URI, *pin, "--pkcs11-module",
                    "gone.so"),
            refused(f"the certificate does not belong to the key {URI}: bare.pem", "--sign", URI,
                    *pin, "--certificate", "bare.pem"),
            refused("the certificate is not for code signing (no extendedKeyUsage codeSigning):"
                    " noeku.pem", "--sign", URI, *pin, "--certificate", "noeku.pem"),
            refused("the PIN goes in --password-file, never in the PKCS#11 URI", "--sign",
                    f"{URI};pin-value=1234", *pin),
            refused("the PKCS#11 URI names no key (no object= or id=):"
                    " pkcs11:token=Tessaro%20Release", "--sign", "pkcs11:token=Tessaro%20Release",
                    *pin),
            refused("--sign pkcs11:URI needs --password-file FILE, whose first line is the"
                    " token's PIN", "--sign", URI, status=2),
            refused("--certificate and --pkcs11-module go with --sign pkcs11:URI", "--certificate",
                    "bare.pem", status=2)])

    def test_check(self):
        self.runs((MAKE,), [
            # Without --add MSI: --check warns, and fails with --package-on-medium or --strict.
            *(Run(" ".join(("--check", *flag, "of a medium without its package")),
                  ("--check", *flag, "nopackage", "good.msi"), status,
                  (f"^{verdict}  MSI: good.msi is not on the medium",))
              for flag, status, verdict in (((), 0, "warn"), (("--package-on-medium",), 1, "FAIL"),
                                            (("--strict",), 1, "FAIL"))),
            Run("--check --strict on a signed medium with its package", (
                "--check", "--strict", "signed", "good.msi"), 0, (), ("^(FAIL|warn) ",)),
            Run("--check of a launcher one byte apart from the build it should be", (
                "--check", "--launcher", "launch-changed.exe", "signed"), 1, (
                    r"^FAIL  Launch\.exe: SHA-256 \w{64} \(its signature aside\) is not"
                    r" launch-changed\.exe's \w{64}",)),
            *(Run(f"--check of a TS_INF {name}", ("--check", name), 1, (f"^FAIL  TS_INF: {said}",))
              for name, said in (("empty", "empty: "), ("utf16", r"saved as UTF-16 \(little"))),
            # A wrong number of arguments: the usage text, before anything is looked at.
            *(Run(f"usage with {count} arguments", tuple(f"arg{n}" for n in range(count)), 2,
                  ("^usage:",)) for count in (0, 1, 2, 5)),
            Run("signed Launch.exe changed after signing", ("--check", "tampered"), 1,
                ("^FAIL  Launch.exe: signed, but the signature does not verify",)),
            Run("--check on a signed image", ("--check", "signed.iso", "good.msi"), 0, (
                rf"^ok    Launch\.exe: signature verifies .*{self.real}",
                "^ok    image: label TESSARO_3_9_0 ", "^note  also on the medium: good.msi$",
                r"^ok    image: .*, Joliet names: Launch\.exe, Setup\.exe, TS_INF, autorun\.inf,"
                r" good\.msi$",
                r"^ok    autorun\.inf: open=Launch\.exe, icon=Launch\.exe, label=Tessaro 3\.9\.0$")),
            Run("--check on a file that is neither a folder nor an image", ("--check", "good.msi"),
                1, ("^make-medium: not a directory, nor an ISO 9660 image that xorriso can read:"
                    " good.msi$",))], cwd=self.work)

    def test_image_fails_as_its_folder(self):
        # A medium that fails --check as a folder fails it as an image, with the same lines but
        # for the image's own. Each row: the folder (and its image, beside it) and the MSI.
        def same_lines(row):
            folder, image = (run(MAKE, "--check", name, *row.args[1:], cwd=self.work)
                             for name in (row.args[0], f"{row.args[0]}.iso"))
            self.assertEqual((folder.returncode, image.returncode), (row.status,) * 2, image.stdout)
            self.assertEqual(folder.stdout.splitlines(), [
                line for line in image.stdout.splitlines()
                if not re.match(r"[a-zA-Z]* *(image|autorun\.inf):", line)])
            self.holds(image.stdout, row.lines)
        self.each(same_lines, [
            Run("an image whose Launch.exe changed after signing", ("tampered",), 1,
                ("^FAIL  Launch.exe: signed, but the signature does not verify",)),
            Run("an image whose launcher cannot see the package", ("image", "x64.msi"), 1,
                (r"^FAIL  Launch\.exe \(i386\) cannot see",))])

    def test_signed_launcher_is_the_program_that_ships(self):
        with self.subTest("its imports, manifest and size"):
            checked = run(REPO / "tests/artifact/check_artifact.py", self.work / "signed/Launch.exe")
            self.assertEqual(checked.returncode, 0, checked.stdout)

    def test_image_is_reproducible(self):
        with self.subTest("made twice the same bytes, dated by SOURCE_DATE_EPOCH"):
            case = Path(tempfile.mkdtemp(dir=self.work))
            for name, epoch in (("again", {}), ("dated", {"SOURCE_DATE_EPOCH": "1700000000"})):
                run(MAKE, "--iso", case / f"{name}.iso", "--add", "extra/docs", "setup-pe.exe",
                    "good.msi", "-", "launch-explicit.exe", cwd=self.work, check=True,
                    env={**os.environ, **epoch})
            self.assertEqual(sha256(case / "again.iso"), sha256(self.work / "image.iso"))
            self.assertNotEqual(sha256(case / "dated.iso"), sha256(self.work / "image.iso"))
            self.assertEqual(sorted(os.listdir(self.work / "image")),
                             ["Launch.exe", "Setup.exe", "TS_INF", "docs"])
        with self.subTest("two images of one SOURCE_DATE_EPOCH, one hash; another, another"):
            sums = [run(MAKE, "--sign", URI, "--password-file", "pin", "--iso", f"{name}.iso",
                        "setup-pe.exe", "good.msi", "-", "launch-real.exe", cwd=self.work,
                        env={**self.env, "SOURCE_DATE_EPOCH": epoch}).stdout.split("SHA-256 ")[-1]
                    for name, epoch in (("one", "1700000000"), ("two", "1700000000"),
                                        ("later", "1700000001"))]
            self.assertRegex(sums[0], r"^[0-9a-f]{64}\n$")
            self.assertEqual(sums[0], sums[1])
            self.assertNotEqual(sums[0], sums[2])

    def test_signed_medium_under_wine(self):
        # A 64-bit medium (the Wine here runs 64-bit programs only) starts its installer: a
        # stand-in that records its command line.
        with self.subTest("a signed medium starts the installer under Wine"):
            case = Path(tempfile.mkdtemp(dir=self.work))
            shutil.copyfile(self.work / "x64.msi", case / "x64.msi")
            msibuild(case / "x64.msi", set_property("ProductCode", NEW_CODE))
            for args in ((*self.sign, "stand_in.exe", case / "x64.msi", case / "medium",
                          "launch-x64.exe"), ("--check", case / "medium", case / "x64.msi")):
                made = run(MAKE, *args, cwd=self.work)
                self.assertEqual(made.returncode, 0, made.stdout)
            ran = run("bash", REPO / "tools/wine/run-in-wine.sh", case / "medium/Launch.exe",
                      timeout=120)
            self.assertEqual(ran.returncode, 0, ran.stdout)
            self.holds((case / "medium/Setup.record").read_text(errors="replace"),
                       [r'command_line="Z:.*Setup\.exe" "/v LAUNCH=Enable"'])

    def test_own_product(self):
        # The sample's packaging with a product of one's own: its names and codes land in the
        # package, which the medium tool takes as it takes the sample's; a version the medium tool
        # would refuse is refused at once. Each row: the maker and the version.
        def own(row):
            case = Path(tempfile.mkdtemp(dir=self.work))
            built = run("bash", REPO / "sample/build_msi.sh", "--name", "Acme Viewer",
                        "--manufacturer", row.args[0], "--upgrade-code", NEW_CODE, case / "own.msi",
                        self.work / "launch-real.exe", row.args[1], CODE, "x86")
            self.assertEqual(built.returncode, row.status, built.stdout)
            if row.status == 0:
                made = run(MAKE, "setup-pe.exe", case / "own.msi", case / "own",
                           "launch-real.exe", cwd=self.work)
                self.assertEqual(made.returncode, 0, made.stdout)
                built = run("msiinfo", "export", case / "own.msi", "Property")
            self.holds(built.stdout.replace("\r", ""), row.lines)
        self.each(own, [
            Run("a maker's name that holds &", ("Acme & Sons", "2.0.1"), 1,
                ("a name may not be empty or hold",)),
            Run("a version make-medium refuses", ("Acme Ltd", "3.11"), 1,
                (r"^build_msi: ProductVersion is not one .*'3\.11'$",)),
            Run("a name, a maker and an upgrade code of one's own", ("Acme Ltd", "2.0.1"), 0, (
                "^ProductName\tAcme Viewer$", "^Manufacturer\tAcme Ltd$",
                f"^UpgradeCode\t{NEW_CODE}$", f"^ProductCode\t{CODE}$",
                r"^ProductVersion\t2\.0\.1$"))])
