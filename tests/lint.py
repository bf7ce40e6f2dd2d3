#!/usr/bin/python3 -B
"""What the test command reads out of files and output, so that bash only calls programs:
lint.py shell-scripts FILE... prints the FILEs that are shell scripts, by their name or their
first line; lint.py dialect SCRIPT... prints each script whose first line is not the project's
one shell, and fails; lint.py counts LOG prints the passed and failed cases a test stage's
output LOG reports, and fails when it reports none."""
import re
import sys
from pathlib import Path

SHELL = "#!/usr/bin/env bash"

def is_shell_script(name, first_line):
    return name.endswith(".sh") or re.fullmatch(r"#!.*[/ ](ba)?sh", first_line) is not None

def wrong_dialect(first_lines):
    """The (name, first line) pairs whose first line is not the one shell."""
    return [(name, line) for name, line in first_lines if line != SHELL]

def counts(text):
    """(passed, failed) by the last count line of a stage's output, ctest's or the project's own
    "N passed, M failed"; None when it has none."""
    ctest = re.findall(r"[0-9]+% tests passed, ([0-9]+) tests failed out of ([0-9]+)", text)
    own = re.findall(r"^([0-9]+) passed, ([0-9]+) failed", text, re.M)
    if ctest:
        failed, total = map(int, ctest[-1])
        return total - failed, failed
    return tuple(map(int, own[-1])) if own else None

def main(command, *names):
    if command == "counts":
        found = counts(Path(names[0]).read_text(errors="replace"))
        if found:
            print(*found)
        return int(found is None)
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
