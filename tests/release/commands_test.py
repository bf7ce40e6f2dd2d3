"""Every command answers --help with its usage and refuses a word it does not take, in one line
with status 2, before it does anything (bench.sh once took --help for a number of runs)."""
import tables
from tables import REPO, Run

class Commands(tables.Tables):
    def test_help_and_refusal(self):
        # Each row: a script and its arguments. A refusal that failed would run the whole
        # command: the time limit ends it.
        self.runs(("bash",), [
            *(Run("usage", (script, "--help"), 0, (usage,)) for script, usage in (
                ("scripts/bench.sh", r"^  scripts/bench\.sh \[RUNS"),
                ("scripts/build.sh", r"^  scripts/build\.sh \[host"),
                ("tests/cppcheck.sh", r"^  tests/cppcheck\.sh"),
                ("scripts/main-job.sh", r"^  scripts/main-job\.sh$"),
                ("tools/wine/rig32.sh", r"^  rig32\.sh wineserver"),
                ("tools/wine/run-in-wine.sh", r"^  tools/wine/run-in-wine\.sh PROGRAM"),
                ("scripts/setup.sh", r"^  scripts/setup\.sh$"),
                ("scripts/test-all.sh", r"^  scripts/test-all\.sh$"),
                ("scripts/try-medium.sh", r"^  scripts/try-medium\.sh --remove-prefixes$"),
                ("scripts/make-medium.sh", r"^usage: make-medium\.sh"))),
            *(Run("refused", args, 2, (said,)) for args, said in (
                (("scripts/bench.sh", "--runs"), "^bench: unknown option: --runs "),
                (("scripts/bench.sh", "1", "2", "3"), "^bench: at most two arguments"),
                (("scripts/build.sh", "--debug"), "^build: unknown option: --debug"),
                (("scripts/build.sh", "debug"), "^build: no such preset: debug"),
                (("scripts/bench.sh", "ten"), "^bench: not a positive whole number: ten"),
                (("scripts/main-job.sh", "-x"), "^main-job: unknown option: -x "),
                (("scripts/test-all.sh", "wine"), "^test-all: takes no arguments"),
                (("scripts/test-all.sh", "--bogus"), "^test-all: unknown option: --bogus"),
                (("scripts/setup.sh", "--yes"), "^setup: unknown option: --yes"),
                (("tools/wine/run-in-wine.sh",), "^run-in-wine: no program given"),
                (("tools/wine/run-in-wine.sh", "--bogus"), "^run-in-wine: unknown option: --bogus"),
                (("tools/wine/rig32.sh", "--bogus"), "^rig32: unknown option: --bogus"),
                (("scripts/make-medium.sh", "--bogus", "x", "y", "z"),
                 "unrecognized arguments: --bogus"),
                (("scripts/try-medium.sh", "--answers", "107=OK", "medium 64"),
                 "^try-medium: unknown option: --answers"))),
        ], cwd=REPO, timeout=120)
