"""What the shell scripts have read for them: usage, options (tools/script_usage.py), dialect
(tests/lint.py), the mirror (tools/wine/mirror.py), as tables."""
import lint
import mirror
import script_usage
import tables

SCRIPT = """#!/usr/bin/env bash
# Builds things.
#
#   scripts/x.sh [--runs N] [--mode=fast|slow] FILE
# shellcheck source=scripts/lib.sh
#no blank after the mark
set -euo pipefail
# a comment of the body
"""

class Tables(tables.Tables):
    def test_usage(self):
        self.equal(script_usage.usage, [
            (SCRIPT, "Builds things.\n\n  scripts/x.sh [--runs N] [--mode=fast|slow] FILE"),
            ("#!/usr/bin/env bash\nset -e\n# late\n", ""),
            ("#!/usr/bin/env bash\n# one\n\n# after a blank line\n", "one"), ("", "")])

    def test_names_option(self):
        self.equal(lambda option: script_usage.names_option(SCRIPT, option), [
            ("--runs", True), ("--mode=slow", True), ("--mode", True), ("--run", False),
            ("--body", False), ("-h", False), ("--shellcheck", False), ("fast", True)])

    def test_dialect(self):
        self.equal(lambda line: lint.wrong_dialect([("f.sh", line)]) != [], [
            ("#!/usr/bin/env bash", False), ("#!/bin/bash", True), ("#!/bin/sh", True),
            ("#!/usr/bin/env bash ", True), ("", True)])

    def test_shell_scripts(self):
        self.equal(lint.is_shell_script, [
            (("a.sh", ""), True), (("a", "#!/usr/bin/env bash"), True), (("a", "#!/bin/sh"), True),
            (("a", "#!/bin/bash -e"), False), (("a.py", "#!/usr/bin/python3 -B"), False),
            (("a.shx", "#!/usr/bin/env zsh"), False), (("a", "# sh"), False)])

    def test_mirror(self):
        one_line = "deb http://a.example/debian bookworm main\n"
        self.equal(mirror.debian_mirror, [
            ([one_line], "http://a.example/debian"),
            (["# deb http://old.example/debian x\n", one_line], "http://a.example/debian"),
            (["Types: deb\nURIs: https://b.example/debian/\nSuites: bookworm\n"],
             "https://b.example/debian/"),
            (["deb http://c.example/debian-security bookworm-security main\n"], None),
            (["deb-src http://c.example/debian bookworm main\n"], None),
            (["deb [arch=amd64] http://c.example/debian bookworm main\n"], None),
            (["deb http://c.example/debian-security x\n", one_line], "http://a.example/debian"),
            ([], None)])
