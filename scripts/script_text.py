#!/usr/bin/python3 -B
"""What the shell scripts read out of text, so that bash only calls programs:
script_text.py usage SCRIPT | names-option SCRIPT OPTION | shell-scripts FILE... | dialect
SCRIPT... | mirror.
usage prints a script's opening comment as --help shows it; names-option succeeds when that
comment names OPTION; shell-scripts prints the FILEs that are shell scripts, by their name or
their first line; dialect prints each script whose first line is not the project's one shell
and fails; mirror prints the Debian mirror of this machine's apt sources."""
import re
import sys
from pathlib import Path

SHELL = "#!/usr/bin/env bash"
# A one-line "deb URI suite" entry or a deb822 "URIs:" field naming a Debian archive.
MIRROR = re.compile(r"(?:URIs:|^deb)[ \t]+(https?://\S+/debian/?)(?=[ \t]|$)", re.M)

def opening_comment(text):
    """The comment lines after the first line, up to the first line that is no comment."""
    comment = []
    for line in text.splitlines()[1:]:
        if not line.startswith("#"):
            break
        comment.append(line)
    return comment

def usage(text):
    """The opening comment without its marks and without shellcheck's directives."""
    return "\n".join("" if line == "#" else line[2:] for line in opening_comment(text)
                     if (line == "#" or line.startswith("# "))
                     and not line.startswith("# shellcheck"))

def names_option(text, option):
    """Whether the opening comment names OPTION (its part before any "=") as a word."""
    words = re.split(r"[\s\[\]|=,.:()]+", "\n".join(line[1:] for line in opening_comment(text)))
    return option.split("=", 1)[0] in words

def is_shell_script(name, first_line):
    return name.endswith(".sh") or re.fullmatch(r"#!.*[/ ](ba)?sh", first_line) is not None

def wrong_dialect(first_lines):
    """The (name, first line) pairs whose first line is not the one shell."""
    return [(name, line) for name, line in first_lines if line != SHELL]

def debian_mirror(texts):
    """The first Debian archive that the apt sources name, or None."""
    return next((found.group(1) for text in texts for found in [MIRROR.search(text)] if found),
                None)

def apt_sources():
    paths = [Path("/etc/apt/sources.list"), *sorted(Path("/etc/apt/sources.list.d").rglob("*"))]
    return [path.read_text(errors="replace") for path in paths if path.is_file()]

def main(args):
    if args[:1] == ["usage"] and len(args) == 2:
        print(usage(Path(args[1]).read_text(errors="replace")))
    elif args[:1] == ["names-option"] and len(args) == 3:
        return int(not names_option(Path(args[1]).read_text(errors="replace"), args[2]))
    elif args[:1] in (["dialect"], ["shell-scripts"]):
        first = [(name, (Path(name).read_text(errors="replace").splitlines() or [""])[0])
                 for name in args[1:] if Path(name).is_file()]
        if args[0] == "shell-scripts":
            sys.stdout.writelines(f"{name}\n" for name, line in first
                                  if is_shell_script(name, line))
            return 0
        for name, line in wrong_dialect(first):
            print(f"{name}: {line} instead of {SHELL}")
        return int(bool(wrong_dialect(first)))
    elif args == ["mirror"]:
        mirror = debian_mirror(apt_sources())
        if mirror is None:
            return 1
        print(mirror)
    else:
        print(__doc__, file=sys.stderr)
        return 2
    return 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
