"""What every table of the release tools' tests shares: a row is what a function is given (a
tuple: its arguments) and what it must give back; the tables of real runs take named rows."""
import subprocess
import unittest
from concurrent.futures import ThreadPoolExecutor
from dataclasses import dataclass
from pathlib import Path

REPO = Path(__file__).resolve().parent.parent.parent
# The sample's product code, and the new one of a next release.
CODE, NEW_CODE = "{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}", "{5D1E0C4B-7A2F-4E39-9B6C-1F0A2B3C4D5E}"

class Tables(unittest.TestCase):
    def call(self, function, given):
        return function(*given if isinstance(given, tuple) else (given,))

    def equal(self, function, table):
        """Each row: what FUNCTION is given, then what it returns."""
        for given, expected in table:
            with self.subTest(given=given):
                self.assertEqual(self.call(function, given), expected)

    def rows(self, function, table):
        """Each row: what FUNCTION is given, then a fragment its result holds (a text), the whole
        result (anything else), or None."""
        for given, expected in table:
            with self.subTest(given=given):
                result = self.call(function, given)
                if expected is None:
                    self.assertFalse(result)
                elif isinstance(expected, str):
                    self.assertIn(expected, result or "")
                else:
                    self.assertEqual(result, expected)

    def each(self, check, table):
        """Each row a named record, which CHECK runs and asserts on."""
        for row in table:
            with self.subTest(row=row):
                check(row)

    def holds(self, output, lines=(), absent=()):
        """OUTPUT has a line matching each pattern of LINES, and none matching one of ABSENT."""
        for pattern in lines:
            self.assertRegex(output, f"(?m){pattern}")
        for pattern in absent:
            self.assertNotRegex(output, f"(?m){pattern}")

    def runs(self, command, table, slot=None, **options):
        """Each row a Run of COMMAND followed by the row's ARGS, checked in their order. SLOT,
        given a row, gives the queue of the slots it may run in, each slot the options its rows
        are given besides OPTIONS: then the rows run at once, one in each slot at a time."""
        def both(row):
            free = slot(row) if slot else None
            mine = free.get() if free else {}
            try:
                given = {**options, **mine}
                return (row.first and run(*command, *row.first, **given),
                        run(*command, *row.args, **given))
            finally:
                if free:
                    free.put(mine)

        with ThreadPoolExecutor(len(table) if slot else 1) as pool:
            ran = dict(zip(table, pool.map(both, table)))

        def check(row):
            first, result = ran[row]
            if first:
                self.assertEqual(first.returncode, 0, first.stdout)
            self.assertEqual(result.returncode, row.status, result.stdout)
            self.holds(result.stdout, row.lines, row.absent)
        self.each(check, table)

@dataclass(frozen=True)
class Run:
    """A command's exit status on ARGS, and its output: a line matching each pattern of LINES,
    none matching one of ABSENT. FIRST: the arguments of a run before it, for the machine that
    run leaves behind."""
    name: str
    args: tuple
    status: int
    lines: tuple = ()
    absent: tuple = ()
    first: tuple = ()

def refusal(function, refused):
    """FUNCTION, giving back what it raises of the kind REFUSED as "refused: " and its text."""
    def call(*given):
        try:
            return function(*given)
        except refused as error:
            return f"refused: {error}"
    return call

def run(*command, merge=True, **options):
    """COMMAND's run, without input; its output in stdout (with stderr, unless not MERGE)."""
    return subprocess.run([str(word) for word in command], stdin=subprocess.DEVNULL, text=True,
                          errors="replace", stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT if merge else subprocess.PIPE, **options)
