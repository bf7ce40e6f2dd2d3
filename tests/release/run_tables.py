#!/usr/bin/python3 -B
# The system Python, because Debian's python3-pefile is installed for it.
"""Runs the Python tables beside it (*_test.py) and ends with the line the test command
counts: each row of a table (a subTest) is one case."""
import sys
import unittest
from pathlib import Path

class Rows(unittest.TextTestResult):
    rows = failed = 0

    def addSubTest(self, test, subtest, outcome):
        super().addSubTest(test, subtest, outcome)
        self.rows, self.failed = self.rows + 1, self.failed + (outcome is not None)

    # Outside a row: a table that could not run at all counts as one failed row.
    def addError(self, test, error):
        super().addError(test, error)
        self.rows, self.failed = self.rows + 1, self.failed + 1

    def addFailure(self, test, error):
        super().addFailure(test, error)
        self.rows, self.failed = self.rows + 1, self.failed + 1

here = str(Path(__file__).resolve().parent)
sys.path.insert(0, str(Path(here).parent.parent / "scripts"))
suite = unittest.defaultTestLoader.discover(here, pattern="*_test.py", top_level_dir=here)
result = unittest.TextTestRunner(resultclass=Rows, verbosity=0).run(suite)
print(f"{result.rows - result.failed} passed, {result.failed} failed")
sys.exit(int(not result.wasSuccessful()))
