"""Script and sample clients of the automation server: VBScript and JScript under our own
scripting host (Wine's cscript cannot sink events) and the C++ sample, each in its own
process against the device simulator."""
import os
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import ROOT, PtyPair, Simulator, check, main_wrapper  # noqa: E402


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def test(env):
    env.reset_settings()
    host = env.exe("tools/win32/scripthost/mvrscript.exe")
    samples = os.path.join(ROOT, "samples")
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)

    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        rc, out = env.wine([host, win_path(os.path.join(samples, "client.vbs"))], timeout=60)
        print(out, flush=True)
        check(rc == 0, "VBScript sample ends with 0")
        check("Kanal 3 verbunden" in out and ("SendSPaket(65): Wahr" in out or "SendSPaket(65): True" in out),
              "VBScript: connected and sent")
        check('Receive: "A" (1 Zeichen: 41)' in out, "VBScript: command answer as Receive event")
        check('Receive: "Hallo" (5 Zeichen: 48 61 6C 6C 6F)' in out, "VBScript: block echo as Receive event")
        check(bytes.fromhex("13 41 52") in sim.raw_bytes(), "VBScript: command frame 13 41 52 on the wire")

        rc, out = env.wine([host, win_path(os.path.join(samples, "client.js"))], timeout=60)
        print(out, flush=True)
        check(rc == 0 and "SendSPaket(-1): true" in out, "JScript sample sent")
        check("(1 Zeichen: FF)" in out, "JScript: command 0xFF comes back as one character")
        check('Receive: "Block aus JScript"' in out, "JScript: block echo")
        check(bytes.fromhex("14 FF EB") in sim.raw_bytes(), "JScript: SendSPaket(-1) is 14 FF EB on the wire")

        rc, out = env.wine([env.exe("samples/sample_client.exe")], timeout=60)
        print(out, flush=True)
        check(rc == 0 and "Receive: 1 Zeichen: 41" in out and "Receive: 5 Zeichen: 48 61 6C 6C 6F" in out,
              "C++ sample receives both echoes")
        env.end_all()

    with PtyPair(env) as pty, Simulator(env, pty, ["--silent"]):
        rc, out = env.wine([host, win_path(os.path.join(samples, "client.vbs"))], timeout=60)
        print(out, flush=True)
        check(rc == 0 and out.count("TimeOut") == 1 and "Receive" not in out, "VBScript: one TimeOut, no Receive")
        env.end_all()

    # The host itself: errors give a nonzero exit code with the error text; Quit gives its code.
    work = tempfile.mkdtemp(prefix="mvrscript-")
    bad = os.path.join(work, "bad.vbs")
    with open(bad, "w") as f:
        f.write('WScript.Echo "vor dem Fehler"\nx = 1 / 0\nWScript.Echo "nie"\n')
    rc, out = env.wine([host, win_path(bad)], timeout=60)
    check(rc == 1 and "vor dem Fehler" in out and "line 2" in out and "nie" not in out,
          "script error: exit 1 with its line (%s)" % out.strip())
    quit_js = os.path.join(work, "quit.js")
    with open(quit_js, "w") as f:
        f.write('function f() { WScript.Quit(7); }\nf();\nWScript.Echo("nie");\n')
    rc, out = env.wine([host, win_path(quit_js)], timeout=60)
    check(rc == 7 and "nie" not in out, "Quit(7) ends the script with 7")
    rc, out = env.wine([host, win_path(os.path.join(work, "missing.vbs"))], timeout=60)
    check(rc == 2, "missing script file gives 2")


if __name__ == "__main__":
    main_wrapper(test)
