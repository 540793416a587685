"""Runs the MVR Server as a user would: the device simulator on a pty wired to COM1,
MVRServ.exe under Wine, the VBScript sample as a client; prints the events the sample got and
the frames on the wire, then ends the server through its notification-icon menu."""
import os
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
from winetest import PtyPair, Simulator, WineEnv  # noqa: E402

MAIN = "MVR Server|TMVRServMainFm"


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    env = WineEnv()
    env.ensure_prefix()
    server = env.exe("app/MVRServ.exe")
    script_host = env.exe("tools/win32/scripthost/mvrscript.exe")
    driver = env.exe("tools/win32/uidriver/uidriver.exe")
    env.wine([server, "/regserver"], timeout=60, check_rc=True)
    env.end_all()  # let the prefix settle before the real start

    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        log = os.path.join(env.build_dir, "MVRServ.log")
        proc = env.start([server], log)
        rc, _ = env.wine([driver, "find", MAIN, "60000"])
        if rc != 0:
            print("MVRServ.exe did not show its window; see", log)
            return 1
        print("MVRServ.exe läuft, COM1 -> %s, Simulator auf %s" % (pty.com_end, pty.dev_end), flush=True)

        rc, out = env.wine([script_host, win_path(os.path.join(ROOT, "samples", "client.vbs"))], timeout=60)
        print("--- samples/client.vbs (exit %s) ---" % rc)
        print(out.replace("\r", "").strip())
        print("--- frames seen by the device simulator ---")
        print("\n".join(sim.frames()))

        time.sleep(0.5)  # the counters refresh every 400 ms
        counters = []
        for name in ("TXLabel", "RXLabel", "CRCErrLabel", "TOLabel"):
            _, text = env.wine([driver, "text", MAIN, name])
            counters.append("%s=%s" % (name, text.strip()))
        print("--- main window ---")
        print(" ".join(counters))

        env.wine([driver, "tray", MAIN, "516"])       # right click on the icon
        env.wine([driver, "menu", "&Beenden"])
        try:
            server_rc = proc.wait(timeout=30)
        except Exception:
            proc.kill()
            server_rc = "killed"
        env.end_all()
        print("MVRServ.exe beendet (exit %s)" % server_rc)
    return 0 if rc == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
