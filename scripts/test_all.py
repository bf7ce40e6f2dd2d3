#!/usr/bin/python3 -B
"""The stages of scripts/test-all.sh and their tally: each stage starts once the builds it needs
are made, beside every other, and its output is printed whole when it ends.
    test_all.py [--only NAME[:TEST]]... | --list"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile
import threading
import time
from collections import namedtuple
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
Stage = namedtuple("Stage", "name builds command")
SCRIPTS = "git ls-files -z | xargs -0 scripts/script_text.py shell-scripts | xargs -d '\\n'"
PYTHON = "git ls-files -z '*.py' | xargs -0"
COMPILE = "python3 -c 'import sys; [compile(open(f).read(), f, \"exec\") for f in sys.argv[1:]]'"
# Three end-to-end tests at once, each in a slot of its own (tests/wine/CMakeLists.txt).
WINE = f"-j 3 --resource-spec-file {shlex.quote(str(ROOT))}/tests/wine/slots.json"
# Each command is bash, run from the repository; TESTS in a ctest command becomes the -R of
# --only NAME:TEST.
STAGES = [
    Stage("shellcheck", (), f"{SCRIPTS} shellcheck -x -S warning"),
    Stage("dialect", (), f"{SCRIPTS} scripts/script_text.py dialect"),
    Stage("clang-format", (), "git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format -n -Werror"),
    Stage("compile", (), f"{PYTHON} {COMPILE}"),
    Stage("pyflakes", (), f"{PYTHON} pyflakes3"),
    Stage("host", ("host",), "ctest --preset host TESTS"),
    Stage("fuzzing", (), "bash tests/fuzz/run-fuzzers.sh"),
    Stage("cppcheck", (), "bash scripts/cppcheck.sh"),
    Stage("artifact-win32", ("win32",), "tests/artifact/check_artifact.py build/win32/Launch.exe"),
    Stage("artifact-win64", ("win64",),
          "tests/artifact/check_artifact.py --arch x86-64 build/win64/Launch.exe"),
    Stage("tables", (), "tests/release/run_tables.py"),
    Stage("reproducible", ("win32", "win64"), "bash tests/release/reproducible-build_test.sh"),
    Stage("medium", ("win32", "win64"), "bash tests/release/make-medium_test.sh"),
    Stage("rehearsal", ("win32", "win64"), "bash tests/release/try-medium_test.sh"),
    # On this machine's Wine, then in the 32-bit rig (built on first use).
    Stage("win64", ("win64",),
          f'source scripts/lib.sh && "${{tessaro_virtual_screen[@]}}" ctest --preset win64 {WINE} TESTS'),
    Stage("win32", ("win32", "win64"), f"bash scripts/rig32.sh session ctest --preset win32 {WINE} TESTS"),
]

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

def run(command):
    """Runs a bash command from the repository: its exit status, output and processor seconds
    (its own and those of the processes it waited for)."""
    with tempfile.TemporaryFile() as out:
        child = subprocess.Popen(["bash", "-c", command], cwd=ROOT, stdin=subprocess.DEVNULL,
                                 stdout=out, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(child.pid, 0)
        child.returncode = os.waitstatus_to_exitcode(status)
        out.seek(0)
        return child.returncode, out.read().decode(errors="replace"), usage.ru_utime + usage.ru_stime

def main(args):
    parser = argparse.ArgumentParser(prog="test-all.sh", add_help=False)
    parser.add_argument("--only", action="append", default=[])
    parser.add_argument("--list", action="store_true")
    options, extra = parser.parse_known_args(args)
    stages = {stage.name: stage for stage in STAGES}
    chosen = [only.partition(":")[::2] for only in options.only] or [(name, "") for name in stages]
    wrong = [f"no stage {name}" for name, _ in chosen if name not in stages] + [
        f"{name} runs no ctest" for name, test in chosen if test and name in stages
        and "TESTS" not in stages[name].command]
    if extra or wrong:
        print(f"test-all: {'; '.join(wrong) or 'takes no arguments'} (--help tells the usage)",
              file=sys.stderr)
        return 2
    if options.list:
        print(*stages)
        return 0
    started, lock, totals, retried = time.monotonic(), threading.Lock(), [0, 0, 0.0], []
    builds = [one for one in ("win32", "win64", "host") if any(
        one in stages[name].builds for name, _ in chosen)]
    built = {one: threading.Event() for one in builds}
    failed_builds = set()

    def report(name, status, output, cpu, since, counted=True):
        passed, failed = tally(output, status) if counted else (0, int(status != 0))
        with lock:
            totals[:] = totals[0] + passed, totals[1] + failed, totals[2] + cpu
            print(f"=== {name}{' FAILED' if failed else ''}: " +
                  (f"{passed} passed, {failed} failed, " if counted else "") +
                  f"{time.monotonic() - since:.0f} s (cpu {cpu:.0f} s)")
            print(output if counted or failed else "", end="", flush=True)

    def build():
        for one in builds:
            since = time.monotonic()
            status, output, cpu = run(f"bash scripts/build.sh {one}")
            report(f"build {one}", status, output, cpu, since, counted=False)
            if status != 0:
                failed_builds.add(one)
            built[one].set()

    def stage(name, test):
        for one in stages[name].builds:
            built[one].wait()
        since, command = time.monotonic(), stages[name].command
        if failed_builds.intersection(stages[name].builds):
            return report(name, 1, "not run: its build failed\n", 0, since)
        status, output, cpu = run(command.replace(
            "TESTS", f"--no-tests=error -R {shlex.quote(test)}" if test else ""))
        if "TESTS" in command:
            count, again = ctest_tally(output)
            output += count + "\n"
            retried.extend(f"{name} {test}" for test in again)
        report(name, status, output, cpu, since)

    with ThreadPoolExecutor(len(chosen) + 1) as pool:
        for future in [pool.submit(build)] + [pool.submit(stage, *one) for one in chosen]:
            future.result()
    print(f"time: {time.monotonic() - started:.0f} s, cpu {totals[2]:.0f} s "
          f"({os.cpu_count()} processors)")
    print(f"retried: {', '.join(retried) or 'none'}")
    print(f"test-all: {totals[0]} passed, {totals[1]} failed")
    return int(totals[1] > 0)

if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
