#!/usr/bin/python3 -B
"""A script's usage, from its opening comment, for tools/lib.sh's tessaro_args:
script_usage.py usage SCRIPT prints the comment as --help shows it; script_usage.py names-option
SCRIPT OPTION succeeds when the comment names OPTION."""
import re
import sys
from itertools import takewhile
from pathlib import Path

def opening_comment(text):
    """The comment lines after the first line, up to the first line that is no comment."""
    return list(takewhile(lambda line: line.startswith("#"), text.splitlines()[1:]))

def usage(text):
    """The opening comment without its marks and without shellcheck's directives."""
    return "\n".join("" if line == "#" else line[2:] for line in opening_comment(text)
                     if (line == "#" or line.startswith("# "))
                     and not line.startswith("# shellcheck"))

def names_option(text, option):
    """Whether the opening comment names OPTION (its part before any "=") as a word."""
    words = re.split(r"[\s\[\]|=,.:()]+", "\n".join(line[1:] for line in opening_comment(text)))
    return option.split("=", 1)[0] in words

if __name__ == "__main__":
    command, script, *option = sys.argv[1:]
    text = Path(script).read_text(errors="replace")
    if command == "usage":
        print(usage(text))
    else:
        sys.exit(int(not names_option(text, *option)))
