"""The Wine a launcher runs in, picked by its bits, behind one interface: session() runs a
command (in place of this process, or giving back its exit status) where Wine, its prefix and a
display are ready (the folder LEND seen there too); inside it, prepare() makes the prefix when
it is not there yet, wine() and wineserver() run Wine's programs. The 32-bit build runs only in
the rig (tools/wine/rig32.sh), the 64-bit one on this machine's Wine."""
import os
import subprocess
from pathlib import Path

from .errors import Refused

WINE_TOOLS = Path(__file__).resolve().parents[1] / "wine"

class Rig32:
    RIG = ["bash", str(WINE_TOOLS / "rig32.sh")]

    def __init__(self, prefix):
        self.prefix = Path(prefix)

    def session(self, command, lend):
        os.environ.update(TESSARO_RIG32_PREFIX=str(self.prefix), TESSARO_RIG32_LEND=str(lend))
        # With a display of your own the rig shows its windows there instead of on its own Xvfb.
        if os.environ.get("DISPLAY"):
            os.environ["TESSARO_RIG32_USE_DISPLAY"] = "1"
        os.execvp("bash", [*self.RIG, "session", *command])

    def prepare(self):
        """The session has made the prefix."""

    def wine(self, *args, **options):
        return subprocess.run([*self.RIG, "wine", *map(str, args)], **options)

    def wineserver(self, *args):
        return subprocess.run([*self.RIG, "wineserver", *args])

class Host64:
    def __init__(self, prefix):
        self.prefix = Path(prefix)
        os.environ.update(TESSARO_WINEPREFIX=str(self.prefix), WINEPREFIX=str(self.prefix))

    def session(self, command, lend):
        # This machine's Wine sees every folder; without a display it gets a virtual one, whose
        # number the X server picks itself, so that runs side by side never pick the same one.
        if os.environ.get("DISPLAY"):
            os.execvp(command[0], command)
        number, told = os.pipe()
        with subprocess.Popen(["Xvfb", "-displayfd", str(told), "-nolisten", "tcp", "-screen",
                               "0", "1280x1024x24"], pass_fds=(told,),
                              stderr=subprocess.DEVNULL) as xvfb:
            os.close(told)
            with os.fdopen(number) as said:
                os.environ["DISPLAY"] = f":{said.readline().strip()}"
            if os.environ["DISPLAY"] == ":":
                raise Refused("Xvfb, the virtual display, did not start")
            try:
                return subprocess.run(command).returncode
            finally:
                xvfb.terminate()

    def prepare(self):
        subprocess.run(["bash", "-c", 'source "$1" && tessaro_wine_prefix', "prepare",
                        str(WINE_TOOLS / "wine-env.sh")], check=True)

    def wine(self, *args, **options):
        # Its own prefix (tools/wine/wine-env.sh), made on first use.
        return subprocess.run(["bash", str(WINE_TOOLS / "run-in-wine.sh"), *map(str, args)],
                              **options)

    def wineserver(self, *args):
        return subprocess.run(["/usr/lib/wine/wineserver", *args])

def runner(bits, prefix):
    return (Rig32 if bits == 32 else Host64)(prefix)
