"""Every command answers --help with its usage and refuses a word it does not take, in one line
with status 2, before it does anything (bench.sh once took --help for a number of runs)."""
from dataclasses import dataclass

import tables
from tables import REPO, run

@dataclass(frozen=True)
class Command:
    """scripts/SCRIPT given ARGS: its exit status, and a pattern one line of its output matches."""
    script: str
    args: tuple
    status: int
    line: str

class Commands(tables.Tables):
    def test_help_and_refusal(self):
        def command(row):
            # A refusal that failed would run the whole command: the time limit ends it.
            result = run("bash", REPO / "scripts" / row.script, *row.args, timeout=120)
            self.assertEqual(result.returncode, row.status, result.stdout)
            self.holds(result.stdout, [row.line])
        self.each(command, [
            Command("bench.sh", ("--help",), 0, r"^  scripts/bench\.sh \[RUNS"),
            Command("build.sh", ("--help",), 0, r"^  scripts/build\.sh \[host"),
            Command("cppcheck.sh", ("--help",), 0, r"^  scripts/cppcheck\.sh"),
            Command("main-job.sh", ("--help",), 0, r"^  scripts/main-job\.sh$"),
            Command("rig32.sh", ("--help",), 0, r"^  rig32\.sh teardown"),
            Command("run-in-wine.sh", ("--help",), 0, r"^  scripts/run-in-wine\.sh PROGRAM"),
            Command("setup.sh", ("--help",), 0, r"^  scripts/setup\.sh$"),
            Command("test-all.sh", ("--help",), 0, r"^  scripts/test-all\.sh$"),
            Command("try-medium.sh", ("--help",), 0, r"^  scripts/try-medium\.sh --remove-prefixes$"),
            Command("make-medium.sh", ("--help",), 0, r"^usage: make-medium\.sh"),
            Command("bench.sh", ("--runs",), 2, "^bench: unknown option: --runs "),
            Command("bench.sh", ("1", "2", "3"), 2, "^bench: at most two arguments"),
            Command("build.sh", ("--debug",), 2, "^build: unknown option: --debug"),
            Command("build.sh", ("debug",), 2, "^build: no such preset: debug"),
            Command("bench.sh", ("ten",), 2, "^bench: not a positive whole number: ten"),
            Command("main-job.sh", ("-x",), 2, "^main-job: unknown option: -x "),
            Command("test-all.sh", ("wine",), 2, "^test-all: takes no arguments"),
            Command("test-all.sh", ("--bogus",), 2, "^test-all: unknown option: --bogus"),
            Command("setup.sh", ("--yes",), 2, "^setup: unknown option: --yes"),
            Command("run-in-wine.sh", (), 2, "^run-in-wine: no program given"),
            Command("run-in-wine.sh", ("--bogus",), 2, "^run-in-wine: unknown option: --bogus"),
            Command("rig32.sh", ("--bogus",), 2, "^rig32: unknown option: --bogus"),
            Command("make-medium.sh", ("--bogus", "x", "y", "z"), 2,
                    "unrecognized arguments: --bogus"),
            Command("try-medium.sh", ("--answers", "107=OK", "medium 64"), 2,
                    "^try-medium: unknown option: --answers")])
