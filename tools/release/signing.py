"""Authenticode signing of the medium's Launch.exe: the certificate checked before anything is
made, the signature made and verified at once, and the verdict of --check on a signature. With
openssl and osslsigncode (Debian packages)."""
import os
import re
import shutil
from pathlib import Path

from . import pe as pe_reader
from .errors import Refused, require_tool, run, sha256

def readable(path):
    return os.path.isfile(path) and os.access(path, os.R_OK)

def password(data):
    """The password in a password file's bytes: its first line without its line end, LF or CR LF
    (a file saved on Windows)."""
    first, newline, _ = data.partition(b"\n")
    return first.removesuffix(b"\r") if newline else first

def check_certificate(pfx, password_file, work):
    for name in ("osslsigncode", "openssl"):
        require_tool(name)
    for what, path in (("certificate file", pfx), ("password file", password_file)):
        if not readable(path):
            raise Refused(f"{what} not found or not readable: {path}")
    # Into the private work folder: the password goes from file to signer, never as an argument
    # that "ps" would show.
    (work / "password").write_bytes(password(Path(password_file).read_bytes()))
    pkcs12 = ("openssl", "pkcs12", "-in", pfx, "-passin", f"file:{work / 'password'}", "-nokeys")
    opened = run(*pkcs12, "-out", work / "certificates.pem")
    if opened.returncode != 0 and "invalid password" in opened.stderr:
        raise Refused(f"wrong password for the certificate file: {pfx}")
    if opened.returncode != 0:
        raise Refused(f"not a PKCS#12 certificate file that openssl can read: {pfx}")
    own = run(*pkcs12, "-clcerts")
    if own.returncode or run("openssl", "x509", "-out", work / "signer.pem",
                             input=own.stdout).returncode:
        raise Refused(f"no certificate of its own in the certificate file: {pfx}")
    signer = ("openssl", "x509", "-in", work / "signer.pem", "-noout")
    # Windows refuses an Authenticode signature whose certificate is not meant for code.
    if "Code Signing" not in run(*signer, "-ext", "extendedKeyUsage").stdout:
        raise Refused("the certificate is not for code signing (no extendedKeyUsage codeSigning):"
                      f" {pfx}")
    if run(*signer, "-checkend", "0").returncode != 0:
        raise Refused(f"the certificate has expired: {pfx}")

def sign(source, target, pfx, timestamp, work):
    signed = run("osslsigncode", "sign", "-pkcs12", pfx, "-readpass", work / "password",
                 "-h", "sha256", "-n", "Tessaro Setup Launcher",
                 *(["-ts", timestamp] if timestamp else []),
                 "-in", source, "-out", target, merge=True)
    if signed.returncode != 0 and "timestamping failed" in signed.stdout:
        raise Refused(f"signing failed: no time stamp from {timestamp}")
    if signed.returncode != 0:
        raise Refused("signing failed: " + next(
            (line for line in signed.stdout.splitlines() if line != "Failed"), ""))
    # Trusted here: the certificates of PFX itself, and the system's roots for a bought one.
    roots = Path("/etc/ssl/certs/ca-certificates.crt")
    (work / "trust.pem").write_text((work / "certificates.pem").read_text()
                                    + (roots.read_text() if readable(roots) else ""))
    verified = run("osslsigncode", "verify", "-CAfile", work / "trust.pem", "-in", target,
                   merge=True)
    if verified.returncode != 0:
        raise Refused("the signature just made does not verify: " + next(
            (line for line in verified.stdout.splitlines() if "error" in line.lower()), ""))

def signature_verdicts(exe, pe, work, unsigned):
    """"ok" when the signature verifies against the certificates it carries: the file is
    unchanged since it was signed. Whether Windows trusts the signer is its own decision."""
    der = pe_reader.signature(pe)
    if not der:
        return (yield unsigned)
    if not shutil.which("osslsigncode"):
        return (yield "FAIL", f"{exe.name}: signed, but osslsigncode (Debian package) is not"
                " there to verify it")
    (work / "signature.der").write_bytes(der)
    carried = run("openssl", "pkcs7", "-inform", "DER", "-in", work / "signature.der",
                  "-print_certs", "-out", work / "carried.pem")
    verify = carried.returncode == 0 and run("osslsigncode", "verify", "-CAfile",
                                             work / "carried.pem", "-in", exe)
    if not verify or verify.returncode != 0:
        return (yield "FAIL", f"{exe.name}: signed, but the signature does not verify (changed"
                " after signing?)")
    subject = re.search(r"^\s*Subject: (.*)$", verify.stdout, re.M)
    # Without its signature the file is again the build's, byte for byte: that hash is the one to
    # compare with a rebuild of the commit.
    run("osslsigncode", "remove-signature", "-in", exe, "-out", work / "unsigned.exe")
    digest = sha256(work / "unsigned.exe") if (work / "unsigned.exe").is_file() else ""
    yield "ok", (f"{exe.name}: signature verifies (signer {subject.group(1) if subject else ''};"
                 f" SHA-256 without the signature {digest})")
