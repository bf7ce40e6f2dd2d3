#!/usr/bin/python3 -B
# The system Python, because Debian's python3-pefile is installed for it.
"""Runs the Python tables beside it (*_test.py), or the modules named (the real runs, each a
stage of its own: medium_runs, rehearsal_runs), and ends with the line the test command counts:
each row of a table (a subTest) is one case.
    run_tables.py [MODULE...]"""
import sys
import unittest
from pathlib import Path

class Rows(unittest.TextTestResult):
    passed = 0

    def addSubTest(self, test, subtest, outcome):
        super().addSubTest(test, subtest, outcome)
        self.passed += outcome is None

here = str(Path(__file__).resolve().parent)
root = Path(here).parent.parent
# The release package and the tools' other modules, and the test command's own.
sys.path[:0] = [here, str(root / "tools"), str(root / "tools/wine"), str(root / "tests")]
loader = unittest.defaultTestLoader
suite = (loader.loadTestsFromNames(sys.argv[1:]) if sys.argv[1:] else
         loader.discover(here, pattern="*_test.py", top_level_dir=here))
result = unittest.TextTestRunner(resultclass=Rows, verbosity=0).run(suite)
# A failed row is one entry of failures or errors; so is a table that could not run at all
# (outside a row), which counts as one failed row.
failed = len(result.failures) + len(result.errors)
print(f"{result.passed} passed, {failed} failed")
sys.exit(int(not result.wasSuccessful()))
