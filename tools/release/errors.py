"""The one error of the release tools, and what most often raises it."""
import argparse
import hashlib
import shutil
import subprocess
from pathlib import Path

# The repository the tools lie in: its build/ holds the launchers they default to.
ROOT = Path(__file__).resolve().parents[2]

class Refused(Exception):
    """One line on standard error after the tool's name (TOOL, else the command's own), and the
    end of the run with STATUS: 1, or 2 for a command line the tool does not take. Nothing that
    the run was to make is left behind."""
    def __init__(self, text, status=1, tool=None):
        super().__init__(text)
        self.status, self.tool = status, tool

def require_tool(name, package=None):
    if not shutil.which(name):
        raise Refused(f"{name} not found (Debian package {package or name})")

def run(*command, merge=False, **options):
    return subprocess.run(command, stdout=subprocess.PIPE, text=True, errors="replace",
                          stderr=subprocess.STDOUT if merge else subprocess.PIPE, **options)

def sha256(path):
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()

class OneLine(argparse.ArgumentParser):
    """A command line parser whose every complaint is one refusal, status 2."""
    def error(self, message):
        raise Refused(f"{message} (--help tells the usage)", status=2)
