"""A Windows Installer package as the medium needs it: its properties and platform, whether the
launcher can see it and test the installed Tessaro.exe, and how it follows the release before.
Read with msiinfo (Debian package msitools)."""
import os
import re

from .errors import Refused, run

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
    """(ProductCode, ProductVersion, platform) of MSI; refuses a file that has them not."""
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

def property_value(msi, name, default=None):
    return next((row.get("Value") for row in msi_table(msi, "Property")
                 if row["Property"] == name), default)

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
           " RegisterProduct (README, Your own package)")
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
        return *read_msi(path)[:2], property_value(path, "UpgradeCode", "")
    sequence = {row["Action"] for row in msi_table(msi, "InstallExecuteSequence")}
    return previous_verdict(package(msi), package(previous), msi_table(msi, "Upgrade"), sequence)
