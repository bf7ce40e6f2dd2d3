"""The Wine a launcher runs in, picked by its bits, behind one interface: session() replaces this
process with a command run where Wine, its prefix and a display are ready (the folder LEND seen
there too); inside it, prepare() makes the prefix when it is not there yet, wine() and
wineserver() run Wine's programs. The 32-bit build runs only in the rig (tools/wine/rig32.sh),
the 64-bit one on this machine's Wine."""
import os
import subprocess
from pathlib import Path

WINE_TOOLS = Path(__file__).resolve().parents[1] / "wine"
RIG = ["bash", str(WINE_TOOLS / "rig32.sh")]
# As tools/lib.sh's: the screen every Xvfb of the project has.
VIRTUAL_SCREEN = ["xvfb-run", "-a", "-s", "-screen 0 1280x1024x24"]

class Wine:
    def __init__(self, bits, prefix):
        self.rig, self.prefix = bits == 32, Path(prefix)
        if not self.rig:
            os.environ.update(TESSARO_WINEPREFIX=str(self.prefix), WINEPREFIX=str(self.prefix))

    def session(self, command, lend):
        if self.rig:
            os.environ.update(TESSARO_RIG32_PREFIX=str(self.prefix), TESSARO_RIG32_LEND=str(lend))
            # With a display of your own the rig shows its windows there instead of on its own
            # Xvfb.
            if os.environ.get("DISPLAY"):
                os.environ["TESSARO_RIG32_USE_DISPLAY"] = "1"
            command = [*RIG, "session", *command]
        elif not os.environ.get("DISPLAY"):
            # This machine's Wine sees every folder; without a display it gets a virtual one.
            command = [*VIRTUAL_SCREEN, *command]
        os.execvp(command[0], command)

    def prepare(self):
        # The rig's session has made its prefix; this machine's Wine makes it on first use.
        if not self.rig:
            subprocess.run(["bash", "-c", 'source "$1" && tessaro_wine_prefix', "prepare",
                            str(WINE_TOOLS / "wine-env.sh")], check=True)

    def wine(self, *args, **options):
        # This machine's: its own prefix (tools/wine/wine-env.sh), made on first use.
        wine = [*RIG, "wine"] if self.rig else ["bash", str(WINE_TOOLS / "run-in-wine.sh")]
        return subprocess.run([*wine, *map(str, args)], **options)

    def wineserver(self, *args):
        server = [*RIG, "wineserver"] if self.rig else ["/usr/lib/wine/wineserver"]
        return subprocess.run([*server, *args])
