"""Takes the screenshots in docs/: the main window after some traffic, the port settings
dialog folded and unfolded, the about box, the system information, the release report in
the text viewer, and the main window while the port's device is away. Runs the real program
under Wine on the display in $DISPLAY (use xvfb-run) and cuts each window out of a
root-window capture (ImageMagick)."""
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from winetest import PtyPair, Simulator, WineEnv  # noqa: E402

MAIN = "MVR Server|TMVRServMainFm"
DLG = "ComPortDialog|TComDlgFm"
ABOUT = "Software by...|TAboutBoxFm"
SYSINFO = "Systeminformationen|TSysInfoFm"

def report_viewer():
    """The release report's caption: "Report of V1.2c MVRServ" for the version in VERSION."""
    with open(os.path.join(ROOT, "VERSION")) as f:
        parts = (f.read().strip().split(".") + ["", "", ""])[:3]
    major, minor, release = (int(p) if p.isdigit() else 0 for p in parts)
    v = "V%d.%d%s" % (major, minor, chr(96 + release)) if 1 <= release <= 26 else "V%d.%d.%d" % (major, minor, release)
    return "Report of %s MVRServ|TTextFm" % v


VIEWER = report_viewer()
SC_CLOSE = 0xF060


def main():
    env = WineEnv()
    env.ensure_prefix()
    env.reset_settings()
    driver = env.exe("tools/win32/uidriver/uidriver.exe")
    docs = os.path.join(ROOT, "docs")
    work = tempfile.mkdtemp(prefix="shots-")

    def ui(*args):
        rc, out = env.wine([driver] + [str(a) for a in args])
        if rc != 0:
            raise SystemExit("uidriver %s: %s" % (args, out))
        return out

    def shoot(win, name):
        x, y, w, h = (int(v) for v in ui("rect", win).split())
        full = os.path.join(work, "root.png")
        subprocess.run(["import", "-window", "root", full], check=True)
        subprocess.run(["convert", full, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                        os.path.join(docs, name)], check=True)
        print("docs/" + name, "%dx%d" % (w, h))

    with PtyPair(env) as pty, Simulator(env, pty, ["--flood", "4:3:255", "--start-delay", "1500"]):
        proc = env.start([env.exe("app/MVRServ.exe")], os.path.join(work, "server.log"))
        ui("find", MAIN, 60000)
        ui("mouse", MAIN, 165, 112)  # keeps the window from hiding itself
        time.sleep(2.5)  # the flood arrives and the counters refresh
        shoot(MAIN, "main-window.png")
        ui("toolclick", MAIN, "ConSetupBtn")
        ui("find", DLG, 10000)
        time.sleep(0.5)
        shoot(DLG, "port-dialog.png")
        ui("click", DLG, "SpeedSize")
        time.sleep(0.5)
        shoot(DLG, "port-dialog-unfolded.png")
        ui("click", DLG, "CancelHelpBtn")
        ui("toolclick", MAIN, "InfoBtn")
        ui("find", ABOUT, 10000)
        time.sleep(0.8)
        shoot(ABOUT, "about-box.png")
        ui("tap", ABOUT, "ImageLogo")
        ui("find", SYSINFO, 10000)
        time.sleep(0.8)
        shoot(SYSINFO, "system-information.png")
        ui("syscommand", SYSINFO, SC_CLOSE)
        time.sleep(0.5)
        ui("tap", ABOUT, "LabelSoftware")
        ui("find", VIEWER, 10000)
        time.sleep(0.8)
        shoot(VIEWER, "text-viewer.png")
        ui("syscommand", VIEWER, SC_CLOSE)
        time.sleep(0.5)
        ui("click", ABOUT, "Exit")
        time.sleep(0.5)
        # The adapter pulled: the port's box, then the window says the port is being awaited.
        pty.__exit__(None, None, None)
        ui("box", "Fehler", "OK", 15000)
        time.sleep(1.5)
        shoot(MAIN, "main-window-port-away.png")
        ui("tray", MAIN, 516)
        ui("menu", "&Beenden")
        proc.wait(timeout=30)
        env.end_all()


if __name__ == "__main__":
    main()
