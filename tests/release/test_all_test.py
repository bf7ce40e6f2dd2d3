"""The test command's tally: each stage's count line, and the end-to-end tests run again, as
tables. The ctest lines are as ctest 3.25 writes them with --repeat until-pass:2."""
import tables
import test_all

PASSED = "1/3 Test #2: good .............................   Passed    0.03 sec\n"
FAILED = "2/3 Test #1: flaky ............................***Failed    0.09 sec\n"
AGAIN = "    Test #1: flaky ............................   Passed    0.06 sec\n"
TIMEOUT = "    Test #1: flaky ............................***Timeout 180.01 sec\n"

class Tables(tables.Tables):
    def test_tally(self):
        self.equal(test_all.tally, [
            (("12 passed, 3 failed\n", 1), (12, 3)), (("3 passed, 0 failed\n", 0), (3, 0)),
            (("1 passed, 0 failed\nok\n65 passed, 2 failed\n", 1), (65, 2)),
            # A failed exit counts, even when the lines say nothing failed.
            (("5 passed, 0 failed\n", 2), (5, 1)), (("", 1), (0, 1)), (("clean\n", 0), (1, 0)),
            # Only a whole line counts: not a row's own words, nor ctest's line.
            (("FAIL  row: 9 passed, 9 failed\n", 0), (1, 0)),
            (("100% tests passed, 0 tests failed out of 35\n", 0), (1, 0))])

    def test_ctest_tally(self):
        self.equal(test_all.ctest_tally, [
            (PASSED + FAILED, ("1 passed, 1 failed", [])),
            (PASSED + FAILED + AGAIN, ("2 passed, 0 failed", ["flaky"])),
            (FAILED + TIMEOUT, ("0 passed, 1 failed", [])),
            ("No tests were found!!!\n", ("0 passed, 0 failed", []))])

    def test_choose(self):
        self.equal(test_all.choose, [
            (["host"], ([("host", "")], [])), (["win32:^A.B$"], ([("win32", "^A.B$")], [])),
            (["tables", "win64:Console"], ([("tables", ""), ("win64", "Console")], [])),
            (["tables:x"], ([("tables", "x")], ["--only tables:x"])),
            (["wine"], ([("wine", "")], ["--only wine"])),
            ([], ([(name, "") for name in test_all.STAGES], []))])
