#!/usr/bin/python3 -B
"""The stages of scripts/test-all.sh (see there) and their tally."""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
SCRIPTS = "git ls-files -z | xargs -0 tests/lint.py shell-scripts | xargs -d '\\n'"
PYTHON = "git ls-files -z '*.py' | xargs -0"
COMPILE = ("/usr/bin/python3 -c 'import sys; "
           "[compile(open(f).read(), f, \"exec\") for f in sys.argv[1:]]'")
# Three end-to-end tests at once, each in a slot of its own (tests/wine/CMakeLists.txt).
WINE = f"-j 3 --resource-spec-file {shlex.quote(str(ROOT))}/tests/wine/slots.json TESTS"
# Each stage: the builds it needs and its bash command, run from the repository; TESTS in a
# ctest command becomes the -R of --only NAME:TEST. One stage a line, so that one is swapped
# for another without touching the rest.
STAGES = {
    "shellcheck": ("", f"{SCRIPTS} shellcheck -x -S warning"),
    "dialect": ("", f"{SCRIPTS} tests/lint.py dialect"),
    "clang-format": ("", "git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -n -Werror"),
    "compile": ("", f"{PYTHON} {COMPILE}"),
    "pyflakes": ("", f"{PYTHON} pyflakes3"),
    "host": ("host", "ctest --preset host TESTS"),
    "fuzzing": ("", "bash tests/fuzz/run-fuzzers.sh"),
    "cppcheck": ("", "bash tests/cppcheck.sh"),
    "artifact-win32": ("win32", "tests/artifact/check_artifact.py build/win32/Launch.exe"),
    "artifact-win64": ("win64",
                       "tests/artifact/check_artifact.py --arch x86-64 build/win64/Launch.exe"),
    "tables": ("", "tests/release/run_tables.py"),
    "reproducible": ("win32 win64", "bash tests/release/reproducible-build_test.sh"),
    "medium": ("win32 win64", "tests/release/run_tables.py medium_runs"),
    "rehearsal": ("win32 win64", "tests/release/run_tables.py rehearsal_runs"),
    # On this machine's Wine, and in the 32-bit rig (built on first use).
    "win64": ("win64", "source tools/lib.sh && \"${tessaro_virtual_screen[@]}\" "
              f"ctest --preset win64 {WINE}"),
    "win32": ("win32 win64", f"bash tools/wine/rig32.sh session ctest --preset win32 {WINE}"),
}
# The slots' Wine prefixes of each Wine stage, copied from the stage's own on first use.
SLOTS = {"win64": "build/wine-prefix-slot*", "win32": "build/wine-prefix-rig32-slot*"}

def new_slots(stage):
    """Removes the slots' prefixes of a Wine stage, so that its tests start from copies of the
    prefix made anew, whatever a run before left in them (a product installed by a test that was
    stopped, a registry saved half-way). This machine's Wine is ended in each first, as a test
    would end it; the rig's ended with the rig's session."""
    for prefix in ROOT.glob(SLOTS[stage]) if stage in SLOTS else []:
        if prefix.suffix == ".lock":
            continue
        if stage == "win64":
            subprocess.run(["/usr/lib/wine/wineserver", "-k"], env={**os.environ, "WINEPREFIX":
                           str(prefix)}, stderr=subprocess.DEVNULL, check=False)
        shutil.rmtree(prefix)

def ctest_tally(text):
    """The count line of ctest's output, and the tests that passed only when run again: each
    test's last result decides it, and ctest marks every failed result with "***"."""
    last, retried = {}, []
    for name, result in re.findall(r"^ *(?:[0-9]+/[0-9]+ )?Test +#[0-9]+: (\S+) [ .]*(\S+)",
                                   text, re.M):
        if last.get(name, "").startswith("***") and not result.startswith("***"):
            retried.append(name)
        last[name] = result
    failed = sum(result.startswith("***") for result in last.values())
    return f"{len(last) - failed} passed, {failed} failed", retried

def tally(text, status):
    """(passed, failed) by the last count line of a stage's output; a stage without one is one
    case, and one that failed without counting a failure counts one failed more."""
    found = re.findall(r"^([0-9]+) passed, ([0-9]+) failed$", text, re.M)
    passed, failed = map(int, found[-1]) if found else (int(status == 0), 0)
    return passed, failed + int(status != 0 and failed == 0)

def choose(only):
    """The (stage, TEST) pairs that --only NAME[:TEST] picks, every stage without one, and the
    first that names no stage or gives a TEST to a stage that is not ctest's."""
    chosen = [one.partition(":")[::2] for one in only] or [(name, "") for name in STAGES]
    wrong = [f"--only {name}:{test}".rstrip(":") for name, test in chosen
             if "TESTS" not in STAGES.get(name, ("", ""))[1] and (test or name not in STAGES)]
    return chosen, wrong[:1]

def run(command):
    """Runs a bash command from the repository: its exit status, output, the processor seconds
    of it and of what it waited for, and the seconds it took."""
    started = time.monotonic()
    with tempfile.TemporaryFile() as out:
        child = subprocess.Popen(["bash", "-c", command], cwd=ROOT, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return (child.returncode, out.read().decode(errors="replace"),
                usage.ru_utime + usage.ru_stime, time.monotonic() - started)

def main(args):
    parser = argparse.ArgumentParser(prog="test-all.sh", add_help=False)
    parser.add_argument("--only", action="append", default=[])
    options, extra = parser.parse_known_args(args)
    chosen, wrong = choose(options.only)
    if extra or wrong:
        print(f"test-all: {'takes no arguments' if extra else 'cannot run ' + wrong[0]} (stages: "
              f"{' '.join(STAGES)}; a TEST only for host, win64, win32)", file=sys.stderr)
        return 2
    started, lock, build_lock, builds = time.monotonic(), threading.Lock(), threading.Lock(), {}
    totals, retried = [0, 0, 0.0], []

    def report(name, status, output, cpu, seconds, counted=True):
        passed, failed = tally(output, status) if counted else (0, int(status != 0))
        with lock:
            totals[:] = totals[0] + passed, totals[1] + failed, totals[2] + cpu
            print(f"=== {name}{' FAILED' if failed else ''}: " +
                  (f"{passed} passed, {failed} failed, " if counted else "") +
                  f"{seconds:.0f} s (cpu {cpu:.0f} s)")
            print(output if counted or failed else "", end="", flush=True)

    order = [one for one in ("win32", "win64", "host")
             if any(one in STAGES[name][0].split() for name, _ in chosen)]

    def built(preset):
        """Builds PRESET, and the builds the Wine stages wait for before it, when a stage first
        needs it; one build at a time."""
        with build_lock:
            for one in [one for one in order[:order.index(preset) + 1] if one not in builds]:
                builds[one] = run(f"bash scripts/build.sh {one}")
                report(f"build {one}", *builds[one], counted=False)
        return builds[preset][0] == 0

    def stage(name, test):
        needs, command = STAGES[name]
        # A stage that needs no build waits for the Wine stages' builds all the same, so as not
        # to slow them: those stages wait longest.
        waits = needs.split() or [one for one in order if one != "host"]
        if not all([built(one) for one in waits]):
            return report(name, 1, "not run: its build failed\n", 0, 0)
        new_slots(name)
        status, output, cpu, seconds = run(command.replace(
            "TESTS", f"--no-tests=error -R {shlex.quote(test)}" if test else ""))
        if "TESTS" in command:
            count, again = ctest_tally(output)
            output += count + "\n"
            retried.extend(f"{name} {test}" for test in again)
        report(name, status, output, cpu, seconds)

    with ThreadPoolExecutor(len(chosen)) as pool:
        list(pool.map(lambda one: stage(*one), chosen))
    print(f"time: {time.monotonic() - started:.0f} s, cpu {totals[2]:.0f} s "
          f"({os.cpu_count()} processors)")
    print(f"retried: {', '.join(retried) or 'none'}")
    print(f"test-all: {totals[0]} passed, {totals[1]} failed")
    return int(totals[1] > 0)

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
