"""What the shell scripts have read for them: usage, options, dialect, mirror, counts, as
tables."""
import unittest

import script_text

SCRIPT = """#!/usr/bin/env bash
# Builds things.
#
#   scripts/x.sh [--runs N] [--mode=fast|slow] FILE
# shellcheck source=scripts/lib.sh
#no blank after the mark
set -euo pipefail
# a comment of the body
"""

class Tables(unittest.TestCase):
    def test_usage(self):
        for text, expected in (
                (SCRIPT, "Builds things.\n\n  scripts/x.sh [--runs N] [--mode=fast|slow] FILE"),
                ("#!/usr/bin/env bash\nset -e\n# late\n", ""),
                ("#!/usr/bin/env bash\n# one\n\n# after a blank line\n", "one"),
                ("", "")):
            with self.subTest(text=text):
                self.assertEqual(script_text.usage(text), expected)

    def test_names_option(self):
        for option, expected in (("--runs", True), ("--mode=slow", True), ("--mode", True),
                                 ("--run", False), ("--body", False), ("-h", False),
                                 ("--shellcheck", False), ("fast", True)):
            with self.subTest(option=option):
                self.assertEqual(script_text.names_option(SCRIPT, option), expected)

    def test_dialect(self):
        for line, wrong in (("#!/usr/bin/env bash", False), ("#!/bin/bash", True),
                            ("#!/bin/sh", True), ("#!/usr/bin/env bash ", True), ("", True)):
            with self.subTest(line=line):
                self.assertEqual(script_text.wrong_dialect([("f.sh", line)]) != [], wrong)

    def test_shell_scripts(self):
        for name, line, expected in (
                ("a.sh", "", True), ("a", "#!/usr/bin/env bash", True), ("a", "#!/bin/sh", True),
                ("a", "#!/bin/bash -e", False), ("a.py", "#!/usr/bin/python3 -B", False),
                ("a.shx", "#!/usr/bin/env zsh", False), ("a", "# sh", False)):
            with self.subTest(name=name, line=line):
                self.assertEqual(script_text.is_shell_script(name, line), expected)

    def test_mirror(self):
        one_line = "deb http://a.example/debian bookworm main\n"
        for texts, expected in (
                ([one_line], "http://a.example/debian"),
                (["# deb http://old.example/debian x\n", one_line], "http://a.example/debian"),
                (["Types: deb\nURIs: https://b.example/debian/\nSuites: bookworm\n"],
                 "https://b.example/debian/"),
                (["deb http://c.example/debian-security bookworm-security main\n"], None),
                (["deb-src http://c.example/debian bookworm main\n"], None),
                (["deb [arch=amd64] http://c.example/debian bookworm main\n"], None),
                (["deb http://c.example/debian-security x\n", one_line],
                 "http://a.example/debian"),
                ([], None)):
            with self.subTest(texts=texts):
                self.assertEqual(script_text.debian_mirror(texts), expected)

    def test_counts(self):
        ctest = "97% tests passed, 1 tests failed out of 30\n"
        for text, expected in (
                ("100% tests passed, 0 tests failed out of 35\n\nTotal Test time\n", (35, 0)),
                (ctest, (29, 1)), ("12 passed, 3 failed\n", (12, 3)),
                ("1 passed, 0 failed\nok\n65 passed, 2 failed\n", (65, 2)),
                # The test program's own lines may hold the words too, but not at a line's start.
                ("FAIL  row: 9 passed, 9 failed\n", None), (f"3 passed, 0 failed\n{ctest}", (29, 1)),
                ("=== lint\nclean\n", None), ("", None)):
            with self.subTest(text=text):
                self.assertEqual(script_text.counts(text), expected)

if __name__ == "__main__":
    unittest.main()
