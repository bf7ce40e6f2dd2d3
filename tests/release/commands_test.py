"""Every command answers --help with its usage and refuses a word it does not take, in one line
with status 2, before it does anything (bench.sh once took --help for a number of runs)."""
import tables
from tables import REPO, Run

class Commands(tables.Tables):
    def test_help_and_refusal(self):
        # Each row: a script and its arguments. A refusal that failed would run the whole
        # command: the time limit ends it.
        self.runs(("bash",), [
            Run("usage", ("scripts/bench.sh", "--help"), 0, (r"^  scripts/bench\.sh \[RUNS",)),
            Run("usage", ("scripts/build.sh", "--help"), 0, (r"^  scripts/build\.sh \[host",)),
            Run("usage", ("tests/cppcheck.sh", "--help"), 0, (r"^  tests/cppcheck\.sh",)),
            Run("usage", ("scripts/main-job.sh", "--help"), 0, (r"^  scripts/main-job\.sh$",)),
            Run("usage", ("tools/wine/rig32.sh", "--help"), 0, (r"^  rig32\.sh wineserver",)),
            Run("usage", ("tools/wine/run-in-wine.sh", "--help"), 0,
                (r"^  tools/wine/run-in-wine\.sh PROGRAM",)),
            Run("usage", ("scripts/setup.sh", "--help"), 0, (r"^  scripts/setup\.sh$",)),
            Run("usage", ("scripts/test-all.sh", "--help"), 0, (r"^  scripts/test-all\.sh$",)),
            Run("usage", ("scripts/try-medium.sh", "--help"), 0,
                (r"^  scripts/try-medium\.sh --remove-prefixes$",)),
            Run("usage", ("scripts/make-medium.sh", "--help"), 0, (r"^usage: make-medium\.sh",)),
            Run("refused", ("scripts/bench.sh", "--runs"), 2, ("^bench: unknown option: --runs ",)),
            Run("refused", ("scripts/bench.sh", "1", "2", "3"), 2,
                ("^bench: at most two arguments",)),
            Run("refused", ("scripts/build.sh", "--debug"), 2, ("^build: unknown option: --debug",)),
            Run("refused", ("scripts/build.sh", "debug"), 2, ("^build: no such preset: debug",)),
            Run("refused", ("scripts/bench.sh", "ten"), 2,
                ("^bench: not a positive whole number: ten",)),
            Run("refused", ("scripts/main-job.sh", "-x"), 2, ("^main-job: unknown option: -x ",)),
            Run("refused", ("scripts/test-all.sh", "wine"), 2, ("^test-all: takes no arguments",)),
            Run("refused", ("scripts/test-all.sh", "--bogus"), 2,
                ("^test-all: unknown option: --bogus",)),
            Run("refused", ("scripts/setup.sh", "--yes"), 2, ("^setup: unknown option: --yes",)),
            Run("refused", ("tools/wine/run-in-wine.sh",), 2, ("^run-in-wine: no program given",)),
            Run("refused", ("tools/wine/run-in-wine.sh", "--bogus"), 2,
                ("^run-in-wine: unknown option: --bogus",)),
            Run("refused", ("tools/wine/rig32.sh", "--bogus"), 2,
                ("^rig32: unknown option: --bogus",)),
            Run("refused", ("scripts/make-medium.sh", "--bogus", "x", "y", "z"), 2,
                ("unrecognized arguments: --bogus",)),
            Run("refused", ("scripts/try-medium.sh", "--answers", "107=OK", "medium 64"), 2,
                ("^try-medium: unknown option: --answers",)),
        ], cwd=REPO, timeout=120)
