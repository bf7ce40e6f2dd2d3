"""Signing a medium with a key that never leaves its token, run for real: make-medium.sh with a
SoftHSM2 token made here (Debian's softhsm2, filled with OpenSC's pkcs11-tool) and both builds."""
import os
import shutil
import tempfile
import unittest
from pathlib import Path

import tables
from tables import REPO, Run, digest, run

MAKE, BUILD = REPO / "scripts/make-medium.sh", REPO / "build"
SOFTHSM = "/usr/lib/softhsm/libsofthsm2.so"
TOKEN = "pkcs11:token=Tessaro%20Release;object="
URI, BARE, NOKEY = TOKEN + "signer", TOKEN + "bare", TOKEN + "nokey"

@unittest.skipUnless(os.path.isfile(SOFTHSM), "SoftHSM2 not installed: scripts/setup.sh")
class TokenRuns(tables.Tables):
    """Signing with a key that never leaves its token: a SoftHSM2 token in a folder of its own,
    made as a release engineer would fill a hardware one. "signer" holds its key and its
    certificate; "bare" only a key, whose certificate is a file."""
    @classmethod
    def setUpClass(cls):
        cls.work = work = Path(tempfile.mkdtemp(prefix="token-test."))
        cls.addClassCleanup(shutil.rmtree, work)
        (work / "objects").mkdir()
        (work / "softhsm2.conf").write_text(f"directories.tokendir = {work / 'objects'}\n"
                                            "objectstore.backend = file\nlog.level = ERROR\n")
        cls.env = {**os.environ, "SOFTHSM2_CONF": str(work / "softhsm2.conf")}
        for name, text in (("pin", "1234\n"), ("wrong-pin", "4321\n"), ("module.so", "no code")):
            (work / name).write_text(text)
        token = ("--token", "Tessaro Release", "--pin", "1234")
        run("softhsm2-util", "--init-token", "--free", "--label", "Tessaro Release", "--pin",
            "1234", "--so-pin", "87654321", env=cls.env, check=True)
        for key, label, number in (("signer", "signer", "01"), ("bare", "bare", "02")):
            run("openssl", "genpkey", "-algorithm", "RSA", "-out", work / f"{key}.key", check=True)
            run("openssl", "pkcs8", "-topk8", "-nocrypt", "-in", work / f"{key}.key", "-out",
                work / f"{key}.p8", check=True)
            run("softhsm2-util", "--import", work / f"{key}.p8", *token, "--label", label, "--id",
                number, env=cls.env, check=True)
        # Certificates: each key's own for code, the signer's key without the code-signing use.
        for name, key, use in (("signer", "signer", "codeSigning"), ("bare", "bare", "codeSigning"),
                               ("noeku", "signer", "serverAuth")):
            run("openssl", "req", "-x509", "-key", work / f"{key}.key", "-days", "2", "-subj",
                f"/CN=Tessaro Token {name}", "-addext", f"extendedKeyUsage={use}", "-out",
                work / f"{name}.pem", check=True)
        run("openssl", "x509", "-in", work / "signer.pem", "-outform", "DER", "-out",
            work / "signer.der", check=True)
        run("pkcs11-tool", "--module", SOFTHSM, "--token-label", "Tessaro Release", "--login",
            "--pin", "1234", "--write-object", work / "signer.der", "--type", "cert", "--id",
            "01", "--label", "signer", env=cls.env, check=True)
        cls.inputs = (BUILD / "win64/sample/Setup.exe", BUILD / "win64/sample/Tessaro-3.9.0-x86.msi")
        cls.real = digest(BUILD / "win32/Launch.exe")

    def sign(self, *options, out="medium", epoch="1700000000"):
        case = Path(tempfile.mkdtemp(dir=self.work))
        made = run(MAKE, *options, *self.inputs, case / out, BUILD / "win32/Launch.exe",
                   cwd=self.work, env={**self.env, "SOURCE_DATE_EPOCH": epoch})
        return case, made

    def test_signed(self):
        # Each row: what make-medium.sh is given besides the key's URI and the PIN, and the signer
        # --check then names.
        def signed(row):
            case, made = self.sign("--sign", row.args[0], "--password-file", "pin", *row.args[1:])
            self.assertEqual(made.returncode, 0, made.stdout)
            check = run(MAKE, "--check", case / "medium", self.inputs[1], cwd=self.work)
            self.assertEqual(check.returncode, 0, check.stdout)
            self.assertRegex(check.stdout, (rf"(?m)^ok    Launch\.exe: signature verifies \(signer"
                                      rf" .*CN ?= ?{row.lines[0]}; SHA-256 without the signature"
                                      rf" {self.real}\)"))
        self.each(signed, [
            Run("the token's certificate, through p11-kit's proxy", (URI,), 0,
                ("Tessaro Token signer",)),
            Run("the token's certificate, through the module named", (URI, "--pkcs11-module",
                                                                      SOFTHSM), 0,
                ("Tessaro Token signer",)),
            Run("a key whose certificate is a file", (BARE, "--certificate", "bare.pem"), 0,
                ("Tessaro Token bare",))])

    def test_image_signed_twice_is_the_same(self):
        with self.subTest("two images of one SOURCE_DATE_EPOCH, one hash; another, another"):
            sums = [self.sign("--sign", URI, "--password-file", "pin", "--iso", self.work /
                              f"{name}.iso", out="-", epoch=epoch)[1].stdout.split("SHA-256 ")[-1]
                    for name, epoch in (("one", "1700000000"), ("two", "1700000000"),
                                        ("later", "1700000001"))]
            self.assertRegex(sums[0], r"^[0-9a-f]{64}\n$")
            self.assertEqual(sums[0], sums[1])
            self.assertNotEqual(sums[0], sums[2])

    def test_refused(self):
        # Each row: the options, and the one line make-medium.sh refuses them with (its text),
        # nothing written.
        def refused(row):
            case, made = self.sign(*row.args)
            self.assertEqual(made.returncode, row.status, made.stdout)
            self.assertEqual(made.stdout, f"make-medium: {row.lines[0]}\n")
            self.assertEqual(os.listdir(case), [])
        pin = ("--password-file", "pin")
        self.each(refused, [
            Run("a wrong PIN", ("--sign", URI, "--password-file", "wrong-pin"), 1,
                (f"wrong PIN for the token of {URI}",)),
            Run("a URI that names no key", ("--sign", NOKEY, *pin, "--certificate", "bare.pem"),
                1, (f"no key on a token for {NOKEY}",)),
            Run("a URI that names nothing", ("--sign", NOKEY, *pin), 1, (
                f"no key or certificate on a token for {NOKEY} (a certificate the token does not"
                " hold: --certificate PEM)",)),
            Run("a module that does not load", ("--sign", URI, *pin, "--pkcs11-module",
                                                "module.so"), 1,
                ("the PKCS#11 module does not load: module.so",)),
            Run("a module that is not there", ("--sign", URI, *pin, "--pkcs11-module", "gone.so"),
                1, ("PKCS#11 module not found: gone.so",)),
            Run("a certificate of another key", ("--sign", URI, *pin, "--certificate", "bare.pem"),
                1, (f"the certificate does not belong to the key {URI}: bare.pem",)),
            Run("a certificate without the code-signing use", ("--sign", URI, *pin,
                                                               "--certificate", "noeku.pem"), 1,
                ("the certificate is not for code signing (no extendedKeyUsage codeSigning):"
                 " noeku.pem",)),
            Run("a PIN in the URI", ("--sign", f"{URI};pin-value=1234", *pin), 1,
                ("the PIN goes in --password-file, never in the PKCS#11 URI",)),
            Run("a URI without a key's name", ("--sign", "pkcs11:token=Tessaro%20Release", *pin),
                1, ("the PKCS#11 URI names no key (no object= or id=):"
                    " pkcs11:token=Tessaro%20Release",)),
            Run("no PIN", ("--sign", URI), 2, ("--sign pkcs11:URI needs --password-file FILE,"
                                               " whose first line is the token's PIN",)),
            Run("a certificate without a token", ("--certificate", "bare.pem"), 2,
                ("--certificate and --pkcs11-module go with --sign pkcs11:URI",))])
