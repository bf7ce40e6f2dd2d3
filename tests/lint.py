#!/usr/bin/python3 -B
"""What the test command reads out of files, so that bash only calls programs:
lint.py shell-scripts FILE... prints the FILEs that are shell scripts, by their name or their
first line; lint.py dialect SCRIPT... prints each script whose first line is not the project's
one shell, and fails."""
import re
import sys
from pathlib import Path

SHELL = "#!/usr/bin/env bash"

def is_shell_script(name, first_line):
    return name.endswith(".sh") or re.fullmatch(r"#!.*[/ ](ba)?sh", first_line) is not None

def wrong_dialect(first_lines):
    """The (name, first line) pairs whose first line is not the one shell."""
    return [(name, line) for name, line in first_lines if line != SHELL]

def main(command, *names):
    first = [(name, (Path(name).read_text(errors="replace").splitlines() or [""])[0])
             for name in names if Path(name).is_file()]
    if command == "shell-scripts":
        sys.stdout.writelines(f"{name}\n" for name, line in first if is_shell_script(name, line))
        return 0
    for name, line in wrong_dialect(first):
        print(f"{name}: {line} instead of {SHELL}")
    return int(bool(wrong_dialect(first)))

if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:]))
