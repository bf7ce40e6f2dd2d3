#!/usr/bin/python3 -B
# The system Python for Debian's python3-pefile, as pe.py says; -B: no __pycache__ in the tree.
"""Lays out an installation medium in OUT_DIR: Launch.exe (LAUNCH_EXE, by default the
repository's build/win32/Launch.exe), Setup.exe, and the TS_INF that tells the launcher which
product the package installs and in which version, read from the MSI. Refuses a pairing of
launcher and package that cannot work and a version Windows Installer does not take. OUT_DIR
must not exist or be empty; the medium is assembled beside it and renamed into place at the
end, so on any error nothing is left behind. Signs the medium's Launch.exe on request, writes
it as an ISO image as well (--iso), and checks a finished medium or image."""
import argparse
import hashlib
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
from pathlib import Path

import medium_image
import pe as pe_reader
from ts_inf import code_problem, first_line, line_problem, version_problem, version_warning

REPO_ROOT = Path(__file__).resolve().parent.parent
UMASK = os.umask(0o022)
os.umask(UMASK)
class Refused(Exception):
    """One line for standard error; the medium is not made."""

def run(*command, merge=False, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, text=True, errors="replace",
                          stderr=subprocess.STDOUT if merge else subprocess.PIPE, **options)

def require_tool(name, package=None):
    if not shutil.which(name):
        raise Refused(f"{name} not found (Debian package {package or name})")

def readable(path):
    return os.path.isfile(path) and os.access(path, os.R_OK)

def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()

def windows_executable(path):
    """The parsed headers, or None for anything that is no PE image of a known machine: a
    renamed text, an MSI, a DOS program."""
    pe = pe_reader.open_pe(path) if os.path.isfile(path) else None
    return pe if pe and pe.FILE_HEADER.Machine in pe_reader.MACHINES else None

def require_pe_file(what, path):
    if not os.path.isfile(path):
        raise Refused(f"{what} not found: {path}")
    # Catches swapped arguments (the MSI given as Setup.exe) before a broken medium ships.
    pe = windows_executable(path)
    if not pe:
        raise Refused(f"{what} is not a Windows executable (no PE header of a known machine):"
                      f" {path}")
    return pe_reader.machine(pe)

def msiinfo(command, msi, *rest):
    # msiinfo knows no "--", so keep a name starting with "-" from being read as an option.
    return run("msiinfo", command, "./" + msi if msi.startswith("-") else msi, *rest)

def msi_table(msi, table):
    # msiinfo export writes a text archive: a header of three lines (column names, column types,
    # table name and key), then one row per line, tab-separated, CR LF line ends.
    result = msiinfo("export", msi, table)
    lines = result.stdout.replace("\r", "").split("\n")
    if result.returncode != 0 or len(lines) < 3:
        return []
    columns = lines[0].split("\t")
    return [dict(zip(columns, line.split("\t", len(columns) - 1))) for line in lines[3:] if line]

def read_msi(msi):
    if not os.path.isfile(msi):
        raise Refused(f"MSI not found: {msi}")
    rows = msi_table(msi, "Property")
    if not rows or list(rows[0]) != ["Property", "Value"]:
        raise Refused(f"not a Windows Installer database with a Property table: {msi}")
    properties = {row["Property"]: row.get("Value", "") for row in rows}
    for name in ("ProductCode", "ProductVersion"):
        if name not in properties:
            raise Refused(f"MSI has no {name} property: {msi}")
    # The summary information's Template is "<platform>;<languages>"; no platform means Intel.
    template = re.search(r"^Template: ([^;\n]*)", msiinfo("suminfo", msi).stdout, re.M)
    platform = template and template.group(1) or "Intel"
    return properties["ProductCode"], properties["ProductVersion"], platform

def platform_problem(machine, platform):
    # The 32-bit launcher reads the 32-bit registry view, where only x86 packages register their
    # uninstall key; the 64-bit build reads the 64-bit view. Any other pairing silently skips the
    # removal of an installed product.
    if (machine, platform) in (("i386", "Intel"), ("x86-64", "x64")):
        return None
    return (f"Launch.exe ({machine}) cannot see a package built for {platform}: the 32-bit"
            " launcher sees x86 (Intel) packages only, the 64-bit build x64 packages only")

def long_name(value):
    """The long name of a Directory's DefaultDir (its target part) or of a File's FileName."""
    return value.split(":")[0].split("|")[-1]

def msi_tables(msi):
    return {name: msi_table(msi, name) for name in (
        "Property", "CustomAction", "InstallExecuteSequence", "Directory", "Component", "File")}

def install_location_problem(tables):
    """Why the installed product would have no InstallLocation holding Tessaro.exe, or None,
    from the package's TABLES (msi_tables).

    The launcher tests whether the installed Tessaro.exe is in use only in the folder the
    uninstall key's InstallLocation names, and Windows Installer writes that value only from
    ARPINSTALLLOCATION; without it message 108 can never appear, and nothing else says so.
    """
    fix = ("set it to [INSTALLDIR] by a type 51 custom action between CostFinalize and"
           " RegisterProduct (README, Making a medium)")
    sequence = {row["Action"]: int(row["Sequence"] or 0)
                for row in tables["InstallExecuteSequence"]}
    # Type 51 sets a property to formatted text; the bits above 63 only say how it runs.
    setters = sorted((row for row in tables["CustomAction"] if row["Source"] == "ARPINSTALLLOCATION"
                      and int(row["Type"] or 0) & 0x3F == 51),
                     key=lambda row: row["Action"] not in sequence)
    value = next((row["Value"] for row in tables["Property"]
                  if row["Property"] == "ARPINSTALLLOCATION"), None)
    if setters:
        action, target = setters[0]["Action"], setters[0]["Target"]
        # Folder properties hold a path only after CostFinalize; RegisterProduct writes the key.
        if not (sequence.get("CostFinalize", 1000) < sequence.get(action, 0)
                < sequence.get("RegisterProduct", 6100)):
            return (f"the custom action {action} that sets ARPINSTALLLOCATION does not run between"
                    " CostFinalize and RegisterProduct in InstallExecuteSequence, so Windows"
                    f" Installer records no InstallLocation: {fix}")
        folder = re.fullmatch(r"\[(\w+)\]\\?", target)
        if not folder:
            return (f"ARPINSTALLLOCATION is set to '{target}', not to one folder of the Directory"
                    f" table, so the folder of Tessaro.exe cannot be told: {fix}")
        folders = {folder.group(1)}
    elif value is not None:
        # A path written into the package: the folders of that name are the candidates.
        name = value.rstrip("\\").rsplit("\\", 1)[-1].lower()
        folders = {row["Directory"] for row in tables["Directory"]
                   if long_name(row["DefaultDir"]).lower() == name}
    else:
        return ("the package sets no ARPINSTALLLOCATION, so Windows Installer records no"
                " InstallLocation and the launcher never tests whether Tessaro is in use"
                f" (message 108): {fix}")
    components = {row["Component"] for row in tables["Component"] if row["Directory_"] in folders}
    if not any(long_name(row["FileName"]).lower() == "tessaro.exe"
               and row["Component_"] in components for row in tables["File"]):
        return (f"ARPINSTALLLOCATION names a folder ({', '.join(sorted(folders)) or value}) that"
                " holds no Tessaro.exe directly, the one file the launcher tests for being in"
                " use: set it to the folder of Tessaro.exe")
    return None

def medium_executable(exe):
    """Yields the FAIL line of an EXE on the medium that is none; returns its parsed headers."""
    pe = windows_executable(exe)
    if not pe:
        yield "FAIL", f"{exe.name}: " + ("not a Windows executable" if exe.is_file() else "missing")
    return pe

def check_signature(exe, pe, work, unsigned):
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

def check_launcher(exe, work):
    pe = yield from medium_executable(exe)
    if not pe:
        return None
    machine, magic = pe_reader.machine(pe), pe_reader.magic(pe)
    problems = pe_reader.launcher_problems(pe)
    if not any(problems.values()):
        yield "ok", (f"Launch.exe: the {pe_reader.LAUNCHER_BITS[machine, magic]} console launcher"
                     f" ({magic}, {machine}, manifest requireAdministrator)")
    else:
        elevated = not problems["manifest requires administrator"]
        yield "FAIL", (f"Launch.exe: not the console launcher ({machine}, magic"
                       f" {pe.OPTIONAL_HEADER.Magic}, subsystem {pe.OPTIONAL_HEADER.Subsystem},"
                       f" {'' if elevated else 'no '}manifest requireAdministrator)")
    unsigned = ("note", f"Launch.exe: unsigned (SHA-256 {sha256(exe)})")
    yield from check_signature(exe, pe, work, unsigned)
    return machine

def check_package_line(path, with_msi):
    """Yields the verdicts on a medium's TS_INF; returns its line when the launcher can use it."""
    line = first_line(path) if path.is_file() else None
    if line is None:
        return (yield "FAIL", "TS_INF: missing")
    if not line.endswith("\r"):
        return (yield "FAIL", "TS_INF: the first line does not end in CR LF")
    line = line[:-1]
    if problem := line_problem(line):
        return (yield "FAIL", f"TS_INF: {problem}")
    if not with_msi:
        yield "ok", f"TS_INF: {line}"
    if warning := version_warning(line[39:]):
        yield "warn", f"TS_INF: {warning}"
    return line

def check_medium(medium, msi, work, previous=None, package_required=False):
    """The verdicts on MEDIUM, a folder or an image (and whether it fits MSI, and follows the
    PREVIOUS package): (ok, note, warn or FAIL, text) each."""
    if medium.is_file():
        files, verdicts = work / "image", check_image(medium, msi, work)
    elif medium.is_dir():
        files, verdicts = medium, list(medium_verdicts(medium, msi, work))
    else:
        raise Refused(f"not a directory: {medium}")
    if msi and os.path.isfile(msi):
        verdicts.append(package_on_medium(files, msi, package_required))
    if msi and previous:
        try:
            verdicts.append(previous_check(msi, previous))
        except Refused as error:
            verdicts.append(("FAIL", f"--previous: {error}"))
    return verdicts

def check_image(image, msi, work):
    """A folder's verdicts on the image's files, read without mounting it, then the image's own:
    its labels, the names Windows shows (Joliet) and autorun.inf."""
    require_tool("xorriso")
    files = work / "image"
    if not medium_image.extract(image, files):
        raise Refused(f"not a directory, nor an ISO 9660 image that xorriso can read: {image}")
    verdicts = list(medium_verdicts(files, msi, work, own=(medium_image.AUTORUN,)))
    primary, joliet = medium_image.image_labels(image)
    if joliet is None:
        verdicts.append(("FAIL", f"image: label {primary}, but no Joliet names: Windows would show"
                         " the short upper-case names of ISO 9660"))
    else:
        verdicts.append(("ok", f"image: label {joliet} (ISO 9660 {primary}), Joliet names: "
                         + ", ".join(medium_image.names(files))))
    autorun = files / medium_image.AUTORUN
    verdicts.append(medium_image.autorun_verdicts(autorun.read_bytes() if autorun.is_file()
                                                  else None))
    return verdicts

def medium_verdicts(medium, msi, work, own=()):
    machine = yield from check_launcher(medium / "Launch.exe", work)
    if setup := (yield from medium_executable(medium / "Setup.exe")):
        yield "ok", f"Setup.exe: a Windows executable ({pe_reader.machine(setup)})"
        yield setup_platform(pe_reader.machine(setup))
        # Not a failure: a rehearsal is made with unsigned builds.
        yield from check_signature(medium / "Setup.exe", setup, work, ("warn", "Setup.exe:"
                                   " unsigned, so nothing shows the customer whose installer the"
                                   " launcher starts"))
    if others := sorted(set(os.listdir(medium)) - {"Launch.exe", "Setup.exe", "TS_INF", *own}):
        yield "note", f"also on the medium: {', '.join(others)}"
    line = yield from check_package_line(medium / "TS_INF", msi)
    if not msi:
        return
    try:
        code, version, platform = read_msi(msi)
    except Refused as error:
        return (yield "FAIL", f"MSI: {error}")
    if line is not None and line == f"{code},{version}":
        yield "ok", f"TS_INF: {line} names the MSI's ProductCode and ProductVersion"
    elif line is not None:
        yield "FAIL", f"TS_INF: {line} does not name the MSI's {code},{version}"
    if problem := machine and platform_problem(machine, platform):
        yield "FAIL", problem
    elif machine:
        yield "ok", f"Launch.exe ({machine}) sees the MSI's {platform} package"
    if problem := install_location_problem(msi_tables(msi)):
        yield "FAIL", f"MSI: {problem}"
    else:
        yield "ok", ("MSI: ARPINSTALLLOCATION is the folder of Tessaro.exe, so the launcher can"
                     " test whether Tessaro is in use")

def version_key(version):
    return tuple(int(field) for field in re.findall(r"[0-9]+", version or ""))

def takes_previous(row, upgrade_code, version):
    """Whether an Upgrade table ROW finds the previous package (UPGRADE_CODE, VERSION) to remove:
    its UpgradeCode, a version in its range (bound 0x100 and 0x200 make the ends inclusive), and
    not only detected (0x2)."""
    attributes = int(row.get("Attributes") or 0)
    low, high, mine = row.get("VersionMin"), row.get("VersionMax"), version_key(version)
    return (row.get("UpgradeCode", "").upper() == upgrade_code.upper() and not attributes & 0x2
            and (not low or mine > version_key(low)
                 or attributes & 0x100 and mine == version_key(low))
            and (not high or mine < version_key(high)
                 or attributes & 0x200 and mine == version_key(high)))

def previous_verdict(new, previous, upgrade_rows, sequence):
    """The verdict on a release after PREVIOUS; NEW and PREVIOUS: the packages' (ProductCode,
    ProductVersion, UpgradeCode); UPGRADE_ROWS and SEQUENCE: the new one's Upgrade table and its
    InstallExecuteSequence actions. The launcher finds the installed version by the medium's
    product code only."""
    (code, version, _), (old_code, old_version, old_upgrade) = new, previous
    if code == old_code:
        return "ok", (f"--previous: the same ProductCode {code} as {old_version}, so the launcher"
                      f" finds an installed {old_version}")
    removes = old_upgrade and "RemoveExistingProducts" in sequence and any(
        takes_previous(row, old_upgrade, old_version) for row in upgrade_rows)
    if removes:
        return "note", (f"--previous: ProductCode {code} is not {old_version}'s {old_code}: the"
                        f" launcher does not see an installed {old_version}, but the package's"
                        " Upgrade table takes its UpgradeCode, so the package removes it itself")
    return "warn", (f"--previous: ProductCode {code} is not {old_version}'s {old_code}, and the"
                    " package's Upgrade table does not remove it: the launcher never sees an"
                    f" installed {old_version}, and {version} is installed beside it (README,"
                    " Your own package)")

def previous_check(msi, previous):
    def package(path):
        code, version, _ = read_msi(path)
        upgrade = {row["Property"]: row.get("Value") for row in msi_table(path, "Property")}
        return code, version, upgrade.get("UpgradeCode", "")
    sequence = {row["Action"] for row in msi_table(msi, "InstallExecuteSequence")}
    return previous_verdict(package(msi), package(previous), msi_table(msi, "Upgrade"), sequence)

def package_on_medium(medium, msi, required):
    """Whether the MSI's own bytes lie on MEDIUM (anywhere below it): without them Setup.exe has
    nothing to install, unless it carries the package itself."""
    digest = sha256(msi)
    for folder, _, names in os.walk(medium):
        for name in names:
            path = Path(folder, name)
            if path.stat().st_size == os.path.getsize(msi) and sha256(path) == digest:
                return "ok", f"MSI: on the medium as {path.relative_to(medium)}"
    return ("FAIL" if required else "warn"), (
        f"MSI: {os.path.basename(msi)} is not on the medium (make it with --add MSI), so"
        " Setup.exe finds no package" + ("" if required else ", unless it carries its own"))

def setup_platform(machine):
    return "note", ("Setup.exe: a 64-bit program: it starts on 64-bit Windows only (on 32-bit"
                    " Windows the launcher shows message 104)" if machine == "x86-64" else
                    "Setup.exe: a 32-bit program: it starts on 32-bit and 64-bit Windows")

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

def added_names(paths):
    """The name each --add PATH takes on the medium; refuses a clash, which Windows's case-blind
    names would make of "setup.exe" as well."""
    names = {}
    for path in paths:
        name = os.path.basename(os.path.normpath(path))
        if not os.path.exists(path):
            raise Refused(f"--add: not found: {path}")
        if name in ("", ".", ".."):
            raise Refused(f"--add: {path} has no name of its own to take on the medium")
        if name.lower() in ("launch.exe", "setup.exe", "ts_inf"):
            raise Refused(f"--add: {path} would take the place of the medium's own {name}")
        if name.lower() in (known.lower() for known in names.values()):
            raise Refused(f"--add: two of the paths given have the name {name}")
        names[path] = name
    return names

def make_medium(setup_exe, msi, out_dir, launch_exe, options, work, leftovers):
    require_pe_file("Setup.exe", setup_exe)
    machine = require_pe_file("Launch.exe", launch_exe)
    code, version, platform = read_msi(msi)
    added = added_names(options.add)
    if options.iso:
        image_target(options.iso, added)
    folder = out_dir != "-"
    if not folder:
        # The image alone: the folder is only its staging, in the private work folder.
        out_dir = str(work / "medium")

    # Leave the root alone, but "out/" and "out" are the same medium.
    out_dir = out_dir.rstrip("/") or out_dir[:1]
    parent = os.path.dirname(out_dir) or "."
    if os.path.islink(out_dir):
        raise Refused(f"OUT_DIR is a symbolic link: {out_dir}")
    if os.path.isdir(out_dir) and os.listdir(out_dir):
        raise Refused(f"OUT_DIR exists and is not empty: {out_dir}")
    if os.path.exists(out_dir) and not os.path.isdir(out_dir):
        raise Refused(f"OUT_DIR exists and is not a directory: {out_dir}")
    # The folders to make (only after every check has passed), the outermost first.
    missing_top = missing_folder(parent)

    problem = code_problem(code) or version_problem(version) or platform_problem(machine, platform)
    if problem:
        raise Refused(problem)
    if options.sign:
        check_certificate(options.sign, options.password_file, work)
    for warning in (version_warning(version), install_location_problem(msi_tables(msi))):
        if warning:
            print(f"make-medium: warning: {warning}", file=sys.stderr)
    if options.previous:
        verdict, text = previous_check(msi, options.previous)
        if verdict != "ok":
            print(f"make-medium: {'warning' if verdict == 'warn' else verdict}: {text}",
                  file=sys.stderr)

    if missing_top:
        os.makedirs(parent)
        leftovers.append(missing_top)
    staging = Path(tempfile.mkdtemp(prefix=f".{os.path.basename(out_dir)}.", dir=parent))
    leftovers.append(staging)
    if options.sign:
        sign(launch_exe, staging / "Launch.exe", options.sign, options.timestamp, work)
    else:
        shutil.copyfile(launch_exe, staging / "Launch.exe")
    shutil.copyfile(setup_exe, staging / "Setup.exe")
    (staging / "TS_INF").write_bytes(f"{code},{version}\r\n".encode("latin-1"))
    for path, name in added.items():
        if os.path.isdir(path):
            shutil.copytree(path, staging / name, copy_function=shutil.copyfile)
        else:
            shutil.copyfile(path, staging / name)
    # mkdtemp makes the folder private; a medium is meant to be read by everyone the umask allows.
    for path in (staging, staging / "Launch.exe", staging / "Setup.exe"):
        os.chmod(path, 0o777 & ~UMASK)
    # Of the signed Launch.exe, and before the folder takes its place, so that a failure leaves
    # neither.
    image = options.iso and make_image(staging, options.iso, msi, version, work, leftovers)

    # A rename replaces only an empty directory, so files that appeared in OUT_DIR meanwhile make
    # it fail instead of being mixed into the medium.
    try:
        os.rename(staging, out_dir)
    except OSError:
        raise Refused(f"could not move the medium into place: {out_dir}") from None
    if image:
        os.rename(image, options.iso)
    leftovers.clear()
    made = f"TS_INF = {code},{version}" + (", Launch.exe signed" if options.sign else "")
    if folder:
        print(f"{out_dir}: {made}")
    if image:
        print(f"{options.iso}: {made}, label {medium_image.image_labels(options.iso)[1]},"
              f" SHA-256 {sha256(options.iso)}")

def image_target(image, added):
    """Refuses an IMAGE that cannot be written as a new file, or an --add that takes the name of
    its autorun.inf."""
    require_tool("xorriso")
    if any(name.lower() == medium_image.AUTORUN for name in added.values()):
        raise Refused(f"--add: a path would take the place of the image's own"
                      f" {medium_image.AUTORUN}")
    if os.path.lexists(image):
        raise Refused(f"IMAGE exists: {image}")
    missing_folder(os.path.dirname(image) or ".")

def missing_folder(folder):
    """The outermost folder of FOLDER's path that does not exist yet (None: FOLDER exists), once
    the nearest one that does exist has been seen to be a directory."""
    existing, missing_top = folder, None
    while not os.path.exists(existing):
        missing_top, existing = existing, os.path.dirname(existing) or "."
    if not os.path.isdir(existing):
        raise Refused(f"not a directory: {existing}")
    return missing_top

def make_image(staging, target, msi, version, work, leftovers):
    """The medium in STAGING, and an autorun.inf, as an ISO image beside TARGET, whose name it
    takes once all is made; the image's Joliet names are checked to be the medium's own."""
    name = next((row["Value"] for row in msi_table(msi, "Property")
                 if row["Property"] == "ProductName"), "Tessaro")
    (work / medium_image.AUTORUN).write_bytes(medium_image.autorun_inf(name, version))
    # Its folder as the folder medium's: made as needed, and taken away again on a failure.
    missing_top = missing_folder(os.path.dirname(target) or ".")
    if missing_top:
        os.makedirs(os.path.dirname(target))
        leftovers.append(missing_top)
    image = Path(tempfile.mkstemp(prefix=f".{os.path.basename(target)}.",
                                  dir=os.path.dirname(target) or ".")[1])
    leftovers.append(image)
    image.unlink()
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        epoch = medium_image.DEFAULT_EPOCH
    problem = medium_image.make_image(
        staging, [(medium_image.AUTORUN, work / medium_image.AUTORUN)], image,
        medium_image.volume_label(name, version), epoch)
    if problem:
        raise Refused(f"xorriso could not make the image: {' '.join(problem)}")
    if not medium_image.extract(image, work / "image") or medium_image.names(work / "image") != \
            sorted(medium_image.names(staging) + [medium_image.AUTORUN]):
        raise Refused("the image does not keep every name of the medium (Joliet cuts a name"
                      " of more than about 100 characters)")
    shutil.rmtree(work / "image")
    os.chmod(image, 0o666 & ~UMASK)
    return image

def usage_error(problem):
    print(f"make-medium: {problem}", file=sys.stderr)
    sys.exit(2)

def parse(args):
    parser = argparse.ArgumentParser(prog="make-medium", description=__doc__, allow_abbrev=False,
                                     usage="""\
make-medium.sh [--sign PFX --password-file FILE [--timestamp URL]] [--add PATH]...
                      [--previous MSI] [--iso IMAGE] SETUP_EXE MSI OUT_DIR|- [LAUNCH_EXE]
       make-medium.sh --check [--previous MSI] [--package-on-medium] MEDIUM|IMAGE [MSI]""")
    parser.add_argument("--sign", metavar="PFX", help="sign the medium's copy of Launch.exe"
                        " (Authenticode, SHA-256) with the PKCS#12 file PFX, and verify it")
    parser.add_argument("--password-file", metavar="FILE", help="its first line: PFX's password")
    parser.add_argument("--timestamp", metavar="URL", help="an RFC 3161 time-stamp server, so"
                        " that the signature outlives the certificate")
    parser.add_argument("--add", metavar="PATH", action="append", default=[], help="a file or"
                        " folder the medium also holds, such as the MSI that Setup.exe installs")
    parser.add_argument("--iso", metavar="IMAGE", help="also an ISO 9660 image with Joliet and"
                        " autorun.inf, the same bytes from the same inputs (OUT_DIR -: only the"
                        " image); dated SOURCE_DATE_EPOCH")
    parser.add_argument("--check", action="store_true", help="one line on each part of MEDIUM"
                        " (and whether it fits MSI); exit 0 only when all hold")
    parser.add_argument("--previous", metavar="MSI", help="the package of the release before:"
                        " ok when the product code stays, a note when the new package removes it"
                        " by its Upgrade table, else a warning")
    parser.add_argument("--package-on-medium", action="store_true", help="with --check: FAIL,"
                        " not warn, when MSI is not on the medium (a Setup.exe that does not"
                        " carry its own package)")
    parser.add_argument("files", nargs="*", help=argparse.SUPPRESS)
    options = parser.parse_args(args)
    if len(options.files) not in ((1, 2) if options.check else (3, 4)):
        parser.error("wrong number of arguments")
    if options.check and (options.sign or options.password_file or options.timestamp
                          or options.add or options.iso):
        usage_error("--check takes no --sign, --password-file, --timestamp, --add or --iso")
    if options.package_on_medium and not (options.check and len(options.files) == 2):
        usage_error("--package-on-medium goes with --check MEDIUM MSI")
    if options.previous and options.check and len(options.files) != 2:
        usage_error("--check --previous MSI needs the MSI of the medium too: --check MEDIUM MSI")
    if not options.check and options.files[2] == "-" and not options.iso:
        usage_error("OUT_DIR - (no folder) goes with --iso IMAGE")
    if options.sign and not options.password_file:
        usage_error("--sign PFX needs --password-file FILE, whose first line is PFX's password")
    if not options.sign and (options.password_file or options.timestamp):
        usage_error("--password-file and --timestamp go with --sign PFX")
    return options

def main(args):
    # A signal ends the run through the clean-up below, as any error does.
    for number in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(number, lambda number, _: sys.exit(128 + number))
    options = parse(args)
    leftovers = []  # what a failure takes away: the staging folder, the folders made for it
    work = Path(tempfile.mkdtemp(prefix="make-medium."))
    try:
        require_tool("msiinfo", "msitools")
        files = options.files
        if options.check:
            verdicts = check_medium(Path(files[0]), files[1] if len(files) > 1 else None, work,
                                    options.previous, options.package_on_medium)
            for verdict, text in verdicts:
                print(f"{verdict:<5} {text}")
            return int(any(verdict == "FAIL" for verdict, _ in verdicts))
        launch_exe = files[3] if len(files) > 3 else str(REPO_ROOT / "build/win32/Launch.exe")
        make_medium(*files[:3], launch_exe, options, work, leftovers)
        return 0
    except Refused as error:
        print(f"make-medium: {error}", file=sys.stderr)
    except OSError as error:
        print(f"make-medium: {error.strerror}: {error.filename}", file=sys.stderr)
    finally:
        for path in [work, *leftovers]:
            shutil.rmtree(path, ignore_errors=True)
    return 1

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
