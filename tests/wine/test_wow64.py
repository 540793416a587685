"""The shipped 32-bit server for 64-bit clients, in a 64-bit prefix (WoW64), all in one prefix:
the 32-bit installer puts it into the 32-bit program folder and registers it in both registry
views (MVRServ.exe /regserver); then four clients at once, each on its own channel, all served
by one server against the simulator: a 64-bit early-bound C++ client with events and a 32-bit
one, a 64-bit late-bound script under Wine's own script host, and the installed VBScript
sample under our script host built for x86_64 (events); then the uninstaller (MVRServ.exe
/unregserver), which leaves neither view with a trace.

Needs the 32-bit build (--win32), the x86_64 clients (--win64) and the package, which is made
here from the 32-bit build unless given (--package: the test guest has no makensis)."""
import argparse
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from test_installer import Installed, idl_guids, package_paths, win_path  # noqa: E402
from winetest import ROOT, PtyPair, Simulator, WineEnv, check, report  # noqa: E402

sys.path.insert(0, os.path.join(ROOT, "installer"))
from stage import pe_info  # noqa: E402

INSTALL_DIR = r"C:\Program Files (x86)\MVR Server"
PROGID = "MVR_Server.MVR_AutoServ"
UNINST_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MVR Server"
PSOA = "{00020424-0000-0000-C000-000000000046}"
PSDISPATCH = "{00020420-0000-0000-C000-000000000046}"
I386, AMD64 = 0x014C, 0x8664
VIEWS = ("64", "32")

# Late-bound from Wine's 64-bit script host, which can neither sink events nor sleep (both
# stubs): the device's log shows what arrived and what it answered.
LATE_BOUND_VBS = """Set trx = CreateObject("MVR_Server.MVR_AutoServ")
WScript.Echo "HasSerialConnection: " & trx.HasSerialConnection
WScript.Echo "ConnectChannel(4): " & trx.ConnectChannel(4)
WScript.Echo "SendSPaket(66): " & trx.SendSPaket(66)
WScript.Echo "SendLPaket(64 Bit): " & trx.SendLPaket("64 Bit")
WScript.Echo "DisconnectChannel: " & trx.DisconnectChannel
"""


def class_keys(guids):
    """Our keys below HKEY_CLASSES_ROOT, the same in both views."""
    return ["CLSID\\" + guids["MVR_AutoServ"], PROGID, "Interface\\" + guids["IMVRqmz_trx"],
            "Interface\\" + guids["IMVRqmz_trxEvents"], "TypeLib\\" + guids["MVR_Server"]]


def registry_views(env, guids):
    """Our keys as the 64-bit and the 32-bit reg.exe see them, each in its own view: what
    clients of that bitness find. (Wine's `reg /reg:32` looks only below Wow6432Node and
    misses the keys that both views share, like the ProgID, which a 32-bit process finds.)
    All in one Wine program: view -> {key path below its root, upper case: {value name: data}}."""
    keys = ["HKCR\\" + k for k in class_keys(guids)] + [UNINST_KEY]
    reg = {"64": r"C:\windows\system32\reg.exe", "32": r"C:\windows\syswow64\reg.exe"}
    lines = []
    for view in VIEWS:
        for key in keys:
            lines += ["@echo ==== %s" % view, '@%s query "%s" /s' % (reg[view], key)]
    with open(os.path.join(env.prefix, "drive_c", "mvr-views.bat"), "w") as f:
        f.write("\r\n".join(lines) + "\r\n")
    t0 = time.time()
    rc, out = env.wine(["cmd", "/c", r"C:\mvr-views.bat"], timeout=120)
    print("registry views read in %.1f s" % (time.time() - t0), flush=True)
    views = {v: {} for v in VIEWS}
    view = key = None
    for line in out.replace("\r", "").splitlines():
        if line.startswith("==== "):
            view, key = line[5:].strip(), None
        elif line.startswith("HKEY_"):
            key = line.split("\\", 1)[1].strip().upper()
            views[view][key] = {}
        elif key and view:
            m = re.match(r"\s+(.+?)\s{4}(REG_\w+)(?:\s{4}(.*))?$", line)
            if m:
                views[view][key][m.group(1)] = (m.group(3) or "").strip()
    for view in VIEWS:
        print("%s-bit view:" % view, flush=True)
        for key in sorted(views[view]):
            print("  %s %s" % (key, views[view][key]), flush=True)
    return views


def ours(view, guids):
    """The keys of ours a view has (the class keys and the uninstall entry)."""
    roots = [k.upper() for k in class_keys(guids)] + [UNINST_KEY.split("\\", 1)[1].upper()]
    return sorted(k for k in view if any(k == r or k.startswith(r + "\\") for r in roots))


def subtree(view, root):
    root = root.upper()
    return {k[len(root):]: v for k, v in view.items() if k == root or k.startswith(root + "\\")}


def check_registered(views, guids, exe, what):
    """Both views have what a client of their bitness needs; the 64-bit view also names the
    type library for win64."""
    clsid, libid = guids["MVR_AutoServ"], guids["MVR_Server"]
    lib = "TYPELIB\\%s\\1.0" % libid
    for view in VIEWS:
        keys = views[view]
        cls = subtree(keys, "CLSID\\" + clsid)
        server = cls.get("\\LOCALSERVER32", {}).get("(Default)", "")
        check(cls.get("", {}).get("(Default)") == "MVRqmz_trx Objekt"
              and server.upper().endswith("\\MVRSERV.EXE") and " " not in server
              and cls.get("\\PROGID", {}).get("(Default)") == PROGID
              and cls.get("\\VERSION", {}).get("(Default)") == "1.0"
              and cls.get("\\TYPELIB", {}).get("(Default)", "").upper() == libid,
              "%s, %s-bit view: the class with LocalServer32 %s, ProgID, Version, TypeLib" % (what, view, server))
        check(keys.get(PROGID.upper() + "\\CLSID", {}).get("(Default)", "").upper() == clsid,
              "%s, %s-bit view: the ProgID names the class" % (what, view))
        for name, proxies in (("IMVRqmz_trx", (PSOA,)), ("IMVRqmz_trxEvents", (PSDISPATCH, PSOA))):
            key = "INTERFACE\\" + guids[name]
            proxy = keys.get(key + "\\PROXYSTUBCLSID32", {}).get("(Default)", "").upper()
            tlb = keys.get(key + "\\TYPELIB", {})
            check(proxy in proxies and tlb.get("(Default)", "").upper() == libid and tlb.get("Version") == "1.0",
                  "%s, %s-bit view: %s marshalled by %s from the type library" % (what, view, name, proxy))
        platforms = ("win32", "win64") if view == "64" else ("win32",)
        paths = {"%s\\%s" % (lcid, p): keys.get("%s\\%s\\%s" % (lib, lcid, p.upper()), {}).get("(Default)", "")
                 for lcid in ("0", "409") for p in platforms}
        check(all(p.upper() == exe.upper() for p in paths.values()),
              "%s, %s-bit view: the type library for %s: %s" % (what, view, " and ".join(platforms), paths))
    check(subtree(views["64"], "CLSID\\" + clsid) == subtree(views["32"], "CLSID\\" + clsid)
          and subtree(views["64"], PROGID) == subtree(views["32"], PROGID),
          "%s: class and ProgID the same in both views" % what)


def check_unregistered(views, guids, what):
    left = {v: [k for k in ours(views[v], guids) if not k.startswith("SOFTWARE\\")] for v in VIEWS}
    check(not left["64"] and not left["32"], "%s: no key of ours left in either view %s" % (what, left))


def finish_client(env, proc, log, what, t0, timeout=150):
    """Waits for a client start() began; prints its output and how long it ran."""
    rc, out = env.finish(proc, log, timeout=timeout)
    print(out, flush=True)
    print("%s done after %.1f s" % (what, time.time() - t0), flush=True)
    return rc, out


def test(env, win64_dir, package_dir):
    guids = {k: v.upper() for k, v in idl_guids().items()}
    server32 = env.exe("app/MVRServ.exe")
    client32 = env.exe("tests/wine/programs/automation_client.exe")
    client64 = os.path.join(win64_dir, "tests", "wine", "programs", "automation_client.exe")
    host64 = os.path.join(win64_dir, "tools", "win32", "scripthost", "mvrscript.exe")
    cscript = os.path.join(env.prefix, "drive_c", "windows", "system32", "cscript.exe")
    for path, machine, what in ((server32, I386, "the server"), (client32, I386, "the 32-bit client"),
                                (client64, AMD64, "the 64-bit C++ client"), (host64, AMD64, "our 64-bit script host"),
                                (cscript, AMD64, "Wine's cscript")):
        check(os.path.isfile(path) and pe_info(path)[0] == machine,
              "%s is %s-bit: %s" % (what, "32" if machine == I386 else "64", path))
    if not package_dir:
        package_dir = os.path.join(env.build_dir, "wow64-test", "dist")
        p = subprocess.run([os.path.join(ROOT, "scripts", "package.sh"), env.win32_dir, package_dir],
                           capture_output=True, text=True)
        check(p.returncode == 0 and "(x86-unicode)" in p.stdout, "the 32-bit product packages: " + p.stderr.strip())
    _, setup, _ = package_paths(package_dir)
    inst = Installed(env, INSTALL_DIR)
    exe = INSTALL_DIR + r"\MVRServ.exe"
    env.reset_settings()
    timings = []

    # --- the 32-bit installer on the 64-bit system (it runs MVRServ.exe /regserver)
    t0 = time.time()
    rc, out = env.wine([setup, "/S"], timeout=240)
    check(rc == 0, "silent install ends with 0 %s" % out.strip())
    env.end_all()
    with open(inst.exe, "rb") as a, open(server32, "rb") as b:
        check(a.read() == b.read(), "MVRServ.exe installed unchanged in " + INSTALL_DIR)
    check(not os.path.exists(os.path.join(env.prefix, "drive_c", "Program Files", "MVR Server")),
          "nothing in the 64-bit program folder")
    views = registry_views(env, guids)
    check_registered(views, guids, exe, "installed")
    uninst = subtree(views["32"], UNINST_KEY.split("\\", 1)[1])
    check(uninst.get("", {}).get("InstallLocation") == INSTALL_DIR, "uninstall entry in the 32-bit view")
    timings.append(("install and both views", time.time() - t0))

    # --- 64-bit clients and a 32-bit one, all served by the one 32-bit server
    t0 = time.time()
    work = os.path.join(env.build_dir, "wow64-test")
    os.makedirs(work, exist_ok=True)
    vbs = os.path.join(work, "late64.vbs")
    with open(vbs, "w") as f:
        f.write(LATE_BOUND_VBS.replace("\n", "\r\n"))
    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        # Four clients at once, one server for all: early-bound C++ clients, 64-bit and 32-bit,
        # on channels 5 and 6, Wine's 64-bit cscript late-bound on 4 and the installed sample
        # under our 64-bit script host on 3.
        logs = {name: os.path.join(work, name + ".log") for name in ("client64", "client32", "cscript", "sample")}
        procs = {"client64": env.start([client64, "channel", "5", "first", "10"], logs["client64"]),
                 "client32": env.start([client32, "channel", "6", "second", "10"], logs["client32"]),
                 "cscript": env.start(["cscript", "//nologo", win_path(vbs)], logs["cscript"]),
                 "sample": env.start([host64, INSTALL_DIR + r"\Beispiele\client.vbs"], logs["sample"])}
        out = {}
        for name, what in (("cscript", "cscript (64-bit, late-bound)"), ("sample", "client.vbs under mvrscript (64-bit)"),
                           ("client64", "64-bit C++ client"), ("client32", "32-bit C++ client")):
            out[name] = finish_client(env, procs[name], logs[name], what, t0)

        rc, text = out["cscript"]
        answers = [line.split(": ", 1)[-1].strip() for line in text.splitlines() if ": " in line]
        check(rc == 0 and len(answers) == 5 and all(a in ("True", "Wahr") for a in answers),
              "Wine's 64-bit cscript: object, channel 4, both sends, disconnect: %s" % answers)
        frames = sim.frames()
        check(any(f.startswith("TX cmd ch=4 val=42") for f in frames)
              and any(f.startswith("TX data ch=4 len=6 36 34 20 42 69 74") for f in frames),
              "the device answered the 64-bit script's command and block on channel 4")

        rc, text = out["sample"]
        check(rc == 0 and "Kanal 3 verbunden" in text and 'Receive: "A" (1 Zeichen: 41)' in text
              and 'Receive: "Hallo" (5 Zeichen: 48 61 6C 6C 6F)' in text,
              "the installed VBScript sample from a 64-bit process gets both echoes as events")

        for bits in (64, 32):
            rc, text = out["client%d" % bits]
            check(rc == 0 and "DONE" in text and "FAIL:" not in text,
                  "the %d-bit early-bound client gets its 10 echoes as events" % bits)
        frames = sim.frames()
        check(sum(f.startswith("RX data ch=5 len=5 66 69 72 73 74 ") for f in frames) == 10
              and sum(f.startswith("RX data ch=6 len=6 73 65 63 6F 6E 64 ") for f in frames) == 10,
              "10 frames of each client reached the device, the 64-bit one's on 5, the 32-bit one's on 6")
        check(env.end_all(), "every server process ended by itself after its clients")
    timings.append(("clients", time.time() - t0))

    # --- the uninstaller (it runs MVRServ.exe /unregserver), as "Programs and Features" calls it
    t0 = time.time()
    quiet = uninst[""].get("QuietUninstallString", "")
    rc, _ = inst.run_bat("uninst-quiet.bat", quiet)
    check(rc == 0, "QuietUninstallString ends with 0: " + quiet)
    check(env.end_all(timeout=120), "the uninstaller ended")
    check(not os.path.exists(inst.dir), "install folder removed")
    views = registry_views(env, guids)
    check_unregistered(views, guids, "after the uninstall")
    check(not ours(views["64"], guids) and not ours(views["32"], guids), "no uninstall entry in either view")
    timings.append(("uninstall and both views", time.time() - t0))
    print("wow64 timings: " + ", ".join("%s %.0f s" % t for t in timings), flush=True)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=None)
    ap.add_argument("--win32", default=None, help="the 32-bit build")
    ap.add_argument("--win64", default=None, help="the x86_64 build's clients (default: BUILD/win64)")
    ap.add_argument("--host", default=None)
    ap.add_argument("--package", default=None, help="folder with the 32-bit installer (default: made here)")
    args = ap.parse_args()
    env = WineEnv(args.build, args.win32, args.host, "wow64")
    win64_dir = os.path.abspath(args.win64 or os.path.join(env.build_dir, "win64"))

    def body():
        t0 = time.time()
        env.ensure_prefix()
        env.start_server()
        print("wow64 prefix ready after %.0f s" % (time.time() - t0), flush=True)
        test(env, win64_dir, args.package)

    report(body, lambda: env.wineserver("-k"))


if __name__ == "__main__":
    main()
