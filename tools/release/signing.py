"""Authenticode signing of the medium's Launch.exe, with a PKCS#12 file or with a key on a
token (PKCS#11, through OpenSSL's engine): the certificate checked before anything is made, the
signature made and verified at once, and the verdict of --check on a signature. With openssl and
osslsigncode (Debian packages; a token also needs libengine-pkcs11-openssl)."""
import os
import re
import shutil
from pathlib import Path
from urllib.parse import unquote

from . import pe as pe_reader
from .errors import Refused, require_tool, run, sha256
from .image import epoch

# How --sign tells a key on a token (RFC 7512) from a PKCS#12 file.
TOKEN = "pkcs11:"

def readable(path):
    return os.path.isfile(path) and os.access(path, os.R_OK)

def password(data):
    """The password in a password file's bytes: its first line without its line end, LF or CR LF
    (a file saved on Windows)."""
    first, newline, _ = data.partition(b"\n")
    return first.removesuffix(b"\r") if newline else first

def check_certificate(options, launch_exe, work):
    """Refuses, before anything is made, a key or a certificate that cannot sign LAUNCH_EXE: a
    PKCS#12 file (options.sign), or a key on a token that a PKCS#11 URI names."""
    for name in ("osslsigncode", "openssl"):
        require_tool(name)
    token = options.sign.startswith(TOKEN)
    key = ("certificate", options.certificate) if token else ("certificate file", options.sign)
    for what, path in (key, ("password file", options.password_file)):
        if path and not readable(path):
            raise Refused(f"{what} not found or not readable: {path}")
    # Into the private work folder: the password or PIN goes from file to signer, never as an
    # argument that "ps" would show.
    (work / "password").write_bytes(password(Path(options.password_file).read_bytes()))
    if token:
        return check_token(options, launch_exe, work)
    pfx = options.sign
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
    check_use(work / "signer.pem", pfx)

def check_use(signer_pem, name):
    signer = ("openssl", "x509", "-in", signer_pem, "-noout")
    # Windows refuses an Authenticode signature whose certificate is not meant for code.
    if "Code Signing" not in run(*signer, "-ext", "extendedKeyUsage").stdout:
        raise Refused("the certificate is not for code signing (no extendedKeyUsage codeSigning):"
                      f" {name}")
    if run(*signer, "-checkend", "0").returncode != 0:
        raise Refused(f"the certificate has expired: {name}")

def check_token(options, launch_exe, work):
    uri, certificate = options.sign, options.certificate
    if problem := token_uri_problem(uri):
        raise Refused(problem)
    if certificate:
        if run("openssl", "x509", "-in", certificate, "-out", work / "signer.pem").returncode:
            raise Refused(f"not a PEM certificate that openssl can read: {certificate}")
        check_use(work / "signer.pem", certificate)
    # Only the token tells whether the PIN, the key and the certificate hold together: a trial
    # signature, in the private work folder.
    trial = osslsigncode(launch_exe, work / "trial.exe", options, work)
    if trial.returncode != 0:
        raise Refused(token_failure(trial.stdout, options) or "signing failed: " + next(
            (line for line in trial.stdout.splitlines() if "error" in line), ""))
    (work / "signature.der").write_bytes(pe_reader.signature(pe_reader.open_pe(work /
                                                                               "trial.exe")))
    run("openssl", "pkcs7", "-inform", "DER", "-in", work / "signature.der", "-print_certs",
        "-out", work / "certificates.pem")
    if not certificate:
        # The token's own certificate, the one the signature carries.
        run("openssl", "x509", "-in", work / "certificates.pem", "-out", work / "signer.pem")
        check_use(work / "signer.pem", uri)

def token_uri_problem(uri):
    """Why URI names no key to sign with (RFC 7512), or None."""
    path, _, query = uri[len(TOKEN):].partition("?")
    attributes = {}
    for part in filter(None, path.split(";")):
        name, equals, value = part.partition("=")
        if not equals or not re.fullmatch(r"[a-z][a-z0-9-]*", name):
            return f"not a PKCS#11 URI (RFC 7512, pkcs11:token=...;object=...): {uri}"
        attributes[name] = unquote(value)
    # A PIN in the URI would stand on osslsigncode's command line, where "ps" shows it.
    if "pin-value" in attributes or re.search(r"(^|&)pin-value=", query):
        return "the PIN goes in --password-file, never in the PKCS#11 URI"
    if not {"object", "id"} & attributes.keys():
        return f"the PKCS#11 URI names no key (no object= or id=): {uri}"
    if attributes.get("type", "private") != "private":
        return f"the PKCS#11 URI names no private key (type={attributes['type']}): {uri}"
    return None

def token_libraries():
    """OpenSSL's PKCS#11 engine and p11-kit's proxy module, from the folder of this machine's
    OpenSSL engines."""
    found = re.search(r'ENGINESDIR: "([^"]*)"', run("openssl", "version", "-e").stdout)
    engines = Path(found.group(1) if found else "/usr/lib/x86_64-linux-gnu/engines-3")
    return engines / "pkcs11.so", engines.parent / "p11-kit-proxy.so"

# What osslsigncode says when a token refuses, the most telling first.
TOKEN_FAILURES = (
    ("Unable to load PKCS#11 module", "the PKCS#11 module does not load: {module}"),
    ("PIN incorrect", "wrong PIN for the token of {uri}"),
    ("PIN locked", "the PIN of the token of {uri} is locked"),
    ("key values mismatch", "the certificate does not belong to the key {uri}: {certificate}"),
    ("failed loading private key", "no key on a token for {uri}"),
    ("object not found", "no key or certificate on a token for {uri} (a certificate the token"
     " does not hold: --certificate PEM)"),
)

def token_failure(output, options):
    module = options.pkcs11_module or token_libraries()[1]
    return next((text.format(uri=options.sign, certificate=options.certificate, module=module)
                 for said, text in TOKEN_FAILURES if said in output), None)

def key_arguments(options):
    """osslsigncode's arguments for the key options.sign names."""
    if not options.sign.startswith(TOKEN):
        return ["-pkcs12", options.sign]
    engine, proxy = token_libraries()
    if not engine.is_file():
        raise Refused("OpenSSL's PKCS#11 engine not found (Debian package"
                      " libengine-pkcs11-openssl)")
    module = options.pkcs11_module or str(proxy)
    if not os.path.isfile(module):
        raise Refused(f"PKCS#11 module not found: {module}")
    # Without a certificate of its own, the token's: the same object, as a certificate.
    certificate = (["-certs", options.certificate] if options.certificate else
                   ["-pkcs11cert", options.sign.replace("type=private", "type=cert")])
    # osslsigncode loads the engine by its name; bookworm's 2.5 fails when given its path.
    return ["-pkcs11module", module, *certificate, "-key", options.sign]

def osslsigncode(source, target, options, work):
    # Without a time-stamp server, the signing time is the image's date, so that the same
    # inputs give the same signed bytes.
    when = ["-ts", options.timestamp] if options.timestamp else ["-time", str(epoch())]
    return run("osslsigncode", "sign", *key_arguments(options), "-readpass", work / "password",
               "-h", "sha256", "-n", "Tessaro Setup Launcher", *when, "-in", source,
               "-out", target, merge=True)

def sign(source, target, options, work):
    signed = osslsigncode(source, target, options, work)
    if signed.returncode != 0 and "timestamping failed" in signed.stdout:
        raise Refused(f"signing failed: no time stamp from {options.timestamp}")
    if signed.returncode != 0:
        raise Refused("signing failed: " + next(
            (line for line in signed.stdout.splitlines() if line != "Failed"), ""))
    # Trusted here: the signer's own certificates, and the system's roots for a bought one.
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
    yield "ok", (f"{exe.name}: signature verifies (signer {subject.group(1) if subject else ''};"
                 f" SHA-256 without the signature {unsigned_digest(exe, pe, work)})")

def unsigned_digest(exe, pe, work):
    """The SHA-256 of EXE without its signature ("" when it cannot be taken off): the file is
    then again the build's, byte for byte, the hash to compare with a rebuild of the commit."""
    if not pe_reader.signature(pe):
        return sha256(exe)
    (work / "unsigned.exe").unlink(missing_ok=True)
    run("osslsigncode", "remove-signature", "-in", exe, "-out", work / "unsigned.exe")
    return sha256(work / "unsigned.exe") if (work / "unsigned.exe").is_file() else ""
