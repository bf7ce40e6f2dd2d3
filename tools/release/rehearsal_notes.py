"""What a rehearsal reads and decides, apart from running it: the locale that spells the
medium's path, the answers given for the boxes, what to say before the run, and Wine's log
read into the report after it."""
import os
import re
import subprocess

from .errors import Refused
from .msi import read_msi

def code_page(locale):
    """Wine's ANSI code page for a locale: Japanese has 932, C and the Western European languages
    1252; other languages are not known here (None)."""
    language = re.split(r"[_.@]", locale, maxsplit=1)[0]
    return "cp932" if language == "ja" else "cp1252" if language in (
        "C POSIX en de fr es it nl pt da sv nb nn no fi is ca".split()) else None

def is_utf8(locale):
    return subprocess.run(["locale", "charmap"], env={**os.environ, "LC_ALL": locale}, text=True,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL).stdout == "UTF-8\n"

def choose_locale(paths, caller, is_utf8=is_utf8):
    """(locale, notice). Wine hands the path to the launcher, an ANSI program, in the locale's code
    page, and reads Unix file names in the locale's charset: a path that one cannot spell is not
    found at all. A Japanese path is rehearsed as on a Japanese Windows, the only one where it
    works. Refuses with the line to stop on when no locale can."""
    names = [os.fsencode(path) for path in paths]
    if all(32 <= byte < 127 for name in names for byte in name):
        return caller, ""
    missing = None
    for candidate in (caller, "C.UTF-8", "ja_JP.UTF-8"):
        page = code_page(candidate)
        if not page or not spells(names, page):
            continue
        if is_utf8(candidate):
            # What a medium folder whose path only code page 932 spells meets on an English Windows.
            english = "" if page != "cp932" or spells(names, "cp1252") else (
                "; on an English Windows (code page 1252) the launcher could not name its own"
                " folder: it would show message 106 and exit 4")
            return candidate, "" if candidate == caller else (
                f"try-medium: running under LC_ALL={candidate}, whose code page {page[2:]} spells"
                f" the medium's path (under {caller} Wine could not name it){english}")
        missing = missing or candidate
    if missing:
        raise Refused(f"the path needs the locale {missing}, which this machine lacks: generate"
                         f" it (locale-gen) and run with LC_ALL={missing}")
    raise Refused(f"neither code page 1252 nor 932 can spell {paths[0]}: run with LC_ALL set"
                     " to a UTF-8 locale whose Windows code page can")

def spells(names, page):
    """Whether the code page PAGE spells each of NAMES (UTF-8 bytes)."""
    try:
        [name.decode("utf-8").encode(page) for name in names]
    except UnicodeError:
        return False
    return True

def uninstall_key(reg_query, product):
    """The uninstall key of PRODUCT among the subkeys "reg query" printed (in the code page's
    bytes), as Windows finds it: a name equal to the product code but for case, nothing trimmed;
    None for none."""
    for line in reg_query.decode("latin-1").splitlines():
        head, _, name = line.rpartition("\\")
        if head.upper().endswith("\\UNINSTALL") and name.upper() == product.upper():
            return line
    return None

def reg_value(reg_query, name):
    """The string value NAME in what "reg query KEY" printed (in the code page's bytes), or ""; a
    value may hold blanks."""
    for fields in (line.split(None, 2) for line in reg_query.decode("latin-1").splitlines()):
        if fields[:2] == [name, "REG_SZ"] and len(fields) > 2:
            return fields[2]
    return ""

# Wine escapes strings (\\ \" \n \r \t, \xNN for a byte of an ANSI string, \NNNN for a UTF-16
# unit) and cuts long ones ("..." after the closing quote).
CONTROL = {"n": "\n", "r": "\r", "t": "\t"}
# What Wine itself starts from a program, a console or the first window of a session.
WINE_HELPER = re.compile(r"\\(conhost|winemenubuilder|services|plugplay|explorer|rpcss|svchost"
                         r"|winedevice|wineboot)\.exe", re.I)

def unescape(escaped, wide):
    """The text of a UTF-16 string (WIDE) or the bytes of an ANSI one that the log shows."""
    escape = r"\\([0-9a-f]{4}|.)" if wide else r"\\(x[0-9a-f]{2}|.)"
    units = re.sub(escape, lambda m: chr(int(m[1].lstrip("x"), 16)) if len(m[1]) > 1
                   else CONTROL.get(m[1], m[1]), escaped.decode("latin-1"))
    return units.encode("utf-16-le", "surrogatepass").decode("utf-16-le", "replace") if wide \
        else units.encode("latin-1")

def text(data, page):
    return data.decode(page, "replace") if page else data.decode("latin-1").encode(
        "ascii", "backslashreplace").decode()

def read_log(what, log, page):
    """What Wine's log (its lines, bytes) says of the launcher, the process whose debug strings
    start with its caption, "Launch: ": started, its command lines but for Wine's own helpers;
    trace, its debug strings; failure, what box_answer.exe said when it could not start it."""
    if what == "failure":
        return [text(line, page) for line in log if line.startswith(b"cannot start ")]
    pids = [m[1] for m in map(re.compile(rb'([0-9a-f]+):[0-9a-f]+:\w+:debugstr:\w+ "Launch: ')
                                  .match, log) if m]
    found = []
    for line in (line for line in log if pids and line.startswith(pids[0] + b":")):
        cut = " [cut short by Wine]" if line.endswith(b'"...') else ""
        started = re.search(rb":process:CreateProcessInternalW app (.*) cmdline (.*)$", line)
        traced = re.search(rb':debugstr:\w+ "(.*)"', line)
        quoted = started and re.match(rb'L"(.*)"', started[1 + (started[2] != b"(null)")])
        if what == "started" and quoted:
            command = unescape(quoted[1], wide=True)
            found += [] if WINE_HELPER.search(command) else [f"  {command}{cut}"]
        elif what == "trace" and traced:
            traced = text(unescape(traced[1], wide=False), page).removesuffix("\n")
            found.append(f"  {traced}{cut}")
    return found

# The launcher's boxes by message, with the buttons each offers; box_answer.exe tells a box by its
# buttons in control-id order (OK 1, Cancel 2, Retry 4).
MESSAGE_BUTTONS = {104: ("OK",), 106: ("OK",), 107: ("OK", "Cancel"), 108: ("Cancel", "Retry")}

def box_answers(given):
    """box_answer.exe's options for the --answer ID=BUTTON[,BUTTON...] GIVEN, in order. Refuses
    with the line to stop on for a message or button the launcher does not have."""
    options = {}
    for answer in given:
        number, _, buttons = answer.partition("=")
        message = int(number) if number.isdigit() else None
        if message not in MESSAGE_BUTTONS:
            raise Refused(f"--answer {answer}: the launcher's boxes are the messages"
                             f" {', '.join(map(str, MESSAGE_BUTTONS))}")
        offered = MESSAGE_BUTTONS[message]
        for button in buttons.split(","):
            if button not in offered:
                raise Refused(f"--answer {answer}: message {message} offers"
                                 f" {' and '.join(offered)}, not '{button}'")
        options.setdefault(message, []).extend(buttons.split(","))
    return [part for message, buttons in options.items()
            for part in ("--answer", f"{'+'.join(MESSAGE_BUTTONS[message])}={','.join(buttons)}")]

def before_notes(cut, package, installed=None, elsewhere=None):
    """What to say before the run of a medium whose TS_INF the launcher cuts into CUT ((product
    code, version); "": an empty file, which it reads nothing from; None: no TS_INF), with the
    MSI installed first PACKAGE ((ProductCode, ProductVersion, file name), or None), the version
    of TS_INF's product INSTALLED in the launcher's registry view ("": none), and ELSEWHERE (the
    version and the view, in bits, where it is installed instead, or None)."""
    code = cut[0] if cut else ""
    first = package and f"{package[2]} (Tessaro {package[1]}, product {package[0]}) installed first"
    if cut is None:
        notes = ["the medium has no TS_INF (the launcher shows message 106 and exits 4)"]
    elif not cut:
        notes = ["the medium's TS_INF is empty: no product to look for (the launcher shows no"
                 " box and exits 4)"]
    else:
        notes = []
    # Windows finds a key whatever the case of its name, but nothing else.
    if first and not notes and package[0].upper() != code.upper():
        notes.append(f"warning: {first}, but the medium's TS_INF names product \"{code}\": the"
                     f" launcher does not find it and starts Setup.exe beside it (README, Your own"
                     " package)")
    elif first and notes:
        notes.append(first)
    # Without a product code the notes above said what the launcher meets.
    if cut and installed is not None:
        notes.append(f"Tessaro {installed} installed (product {code})" if installed else
                     f"product {code} not installed (in the registry view of the launcher)"
                     + other_view(elsewhere))
    return notes

def other_view(elsewhere):
    """What the launcher does not see: ELSEWHERE, (version, bits of the view) or None."""
    return elsewhere and (
        f"; Tessaro {elsewhere[0]} is installed in the {elsewhere[1]}-bit view, which the launcher"
        f" does not read: its package is {'x64' if elsewhere[1] == 64 else 'x86'}, the launcher"
        f" {96 - elsewhere[1]}-bit (README, Your own package)") or ""

NOTHING_ASKED = (
    "Nothing asked: the installed {0} counted as equal to the medium's {1} (compared field by"
    " field as numbers, as far as the installed version goes): it stays, and Setup.exe ran over"
    " it, which Windows Installer takes as the product already installed (see \"Versions\" in"
    " README.md)")

def report(log, page, exit_code, product, version, before, after, screenshots,
           elsewhere=None):
    """The lines after a run: the launcher's exit code, what it started and traced, what is
    installed after it, and why nothing was asked when the versions counted as equal."""
    started = read_log("started", log, page)
    lines = ["", f"Launch.exe exit code: {exit_code}", "Started by it:",
             *(started or ["  (nothing)"]),
             "Its trace (OutputDebugStringA, from Wine's debugstr channel):",
             *(read_log("trace", log, page) or ["  (nothing)"])]
    if after or product:
        lines.append(f"After: Tessaro {after} installed" if after else "After: not installed"
                     + (f" (in the registry view of the launcher){other_view(elsewhere)}"
                        if elsewhere else ""))
    # Only versions that count as equal end well with no box and no removal.
    if before and before == after and exit_code == "0" and not any(
            'msiexec.exe" /x' in line for line in started):
        lines.append(NOTHING_ASKED.format(before, version))
    if screenshots:
        lines.append(f"Screenshots: {' '.join(screenshots)} ")
    return lines

def read_package(msi):
    """(ProductCode, ProductVersion, file name) of an MSI, read as the medium tool reads it."""
    return *read_msi(msi)[:2], os.path.basename(msi)
