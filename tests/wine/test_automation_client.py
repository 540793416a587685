"""The automation server in its own process, started by COM for C++ clients in other
processes; the device simulator on COM1 checks the bytes on the wire."""
import os
import shutil
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uidrive import Ui  # noqa: E402
from winetest import Failure, PtyPair, Simulator, check, main_wrapper, scaled  # noqa: E402

CLSID = "{70020767-BED6-4A11-B50A-A606C6F119F6}"
LIBID = "{07A253A7-A00B-446B-BA87-129A6A9A138B}"
PROGID = "MVR_Server.MVR_AutoServ"
MAIN = "MVR Server|TMVRServMainFm"
SC_CLOSE = 0xF060


def run_client(env, *args, timeout=60):
    t0 = time.time()
    rc, out = env.wine([env.exe("tests/wine/programs/automation_client.exe")] + list(args), timeout=timeout)
    print(out, flush=True)
    print("client %s ran %.1f s" % (args[0], time.time() - t0), flush=True)
    if rc != 0 or "FAIL:" in out or "DONE" not in out:
        raise Failure("automation_client %s: rc=%s" % (" ".join(args), rc))
    return out


def registry_keys(env):
    q = env.reg_query
    return {
        "clsid": q(r"HKCR\CLSID" + "\\" + CLSID),
        "server": q(r"HKCR\CLSID" + "\\" + CLSID + r"\LocalServer32"),
        "progid_sub": q(r"HKCR\CLSID" + "\\" + CLSID + r"\ProgID"),
        "version": q(r"HKCR\CLSID" + "\\" + CLSID + r"\Version"),
        "typelib": q(r"HKCR\CLSID" + "\\" + CLSID + r"\TypeLib"),
        "progid": q("HKCR\\" + PROGID),
        "progid_clsid": q("HKCR\\" + PROGID + r"\Clsid"),
        "lib409": q(r"HKCR\TypeLib" + "\\" + LIBID + r"\1.0\409"),
        "lib0": q(r"HKCR\TypeLib" + "\\" + LIBID + r"\1.0\0"),
    }


def subkeys(text, key):
    """Names of the direct subkeys in a `reg query` listing of key."""
    prefix = key.upper().replace("HKCR\\", "HKEY_CLASSES_ROOT\\") + "\\"
    return sorted(line.strip()[len(prefix):] for line in (text or "").splitlines()
                  if line.strip().upper().startswith(prefix))


def test(env):
    env.reset_settings()
    server = env.exe("app/MVRServ.exe")
    platform = "win64" if env.arch == "win64" else "win32"

    # Unregistering first: a clean slate, and a second unregistration must not fail.
    for _ in range(2):
        rc, out = env.wine([server, "/UnRegServer"], timeout=60)
        check(rc == 0, "unregserver exits 0 (%s)" % out.strip())
    keys = registry_keys(env)
    check(all(v is None for v in keys.values()), "unregistered: no keys left %r" %
          [k for k, v in keys.items() if v is not None])

    t0 = time.time()
    rc, out = env.wine([server, "-regserver"], timeout=60)
    check(rc == 0, "regserver exits 0 in %.1f s (%s)" % (time.time() - t0, out.strip()))
    keys = registry_keys(env)
    check(keys["clsid"] and "MVRqmz_trx Objekt" in keys["clsid"], "CLSID key with the description")
    check(subkeys(keys["clsid"], r"HKCR\CLSID" + "\\" + CLSID) == ["LocalServer32", "ProgID", "TypeLib", "Version"],
          "class key has exactly LocalServer32, ProgID, TypeLib, Version")
    check(subkeys(keys["progid"], "HKCR\\" + PROGID) == ["Clsid"], "ProgID key has exactly Clsid")
    check(keys["server"] and "MVRServ.exe" in keys["server"] and " " not in keys["server"].split("REG_SZ")[-1].strip(),
          "LocalServer32 holds the exe path")
    check(keys["progid_sub"] and PROGID in keys["progid_sub"], "CLSID\\ProgID")
    check(keys["version"] and "1.0" in keys["version"], "CLSID\\Version 1.0")
    check(keys["typelib"] and LIBID in keys["typelib"].upper(), "CLSID\\TypeLib holds the LIBID")
    check(keys["progid"] and "MVRqmz_trx Objekt" in keys["progid"], "ProgID key with the description")
    check(keys["progid_clsid"] and CLSID in keys["progid_clsid"].upper(), "ProgID\\Clsid")
    check(keys["lib409"] is not None and keys["lib0"] is not None, "type library under lcid 409 and 0")
    lib0 = env.reg_query(r"HKCR\TypeLib" + "\\" + LIBID + r"\1.0\0" + "\\" + platform)
    check(lib0 is not None and "MVRServ.exe" in lib0, "lcid 0 names the exe for " + platform)

    # From a folder with a blank: LocalServer32 must still be one word on the command line.
    blank_dir = os.path.join(env.build_dir, "mit Leerzeichen")
    os.makedirs(blank_dir, exist_ok=True)
    shutil.copy(server, os.path.join(blank_dir, "MVRServ.exe"))
    env.wine(["Z:" + os.path.join(blank_dir, "MVRServ.exe").replace("/", "\\"), "/regserver"], timeout=60,
             check_rc=True)
    path = env.reg_query(r"HKCR\CLSID" + "\\" + CLSID + r"\LocalServer32")
    short = (path or "").split("REG_SZ")[-1].strip()
    check(short.upper().endswith("MVRSERV.EXE") and " " not in short, "short LocalServer32 path: " + short)
    env.wine([server, "/regserver"], timeout=60, check_rc=True)
    shutil.rmtree(blank_dir)

    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        out = run_client(env, "basic")
        wire = sim.raw_bytes()
        check(bytes.fromhex("F3 02 61 62 63 A1 3A") in wire, "SendLPaket(abc) on channel 3 on the wire")
        check(bytes.fromhex("12 41") + bytes([0x12 ^ 0x41]) in wire, "late-bound DISPID 3 with 65 sent 12 41 53")
        check(bytes.fromhex("12 C8 DA") in wire, "SendSPaket(-56) on channel 2 gives 12 C8 DA")
        check(b"xxxxxxxxxx" not in wire, "the 257-character block never went out")
        env.end_all()

    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        # Two clients started at once, channels 3 and 5; each must get only its own echoes.
        # Under Wine each client that finds no class object starts a server itself: only one
        # of them may serve (two would both open COM1 and each read part of the answers), and
        # the other must end by itself without failing its client.
        logs = [os.path.join(env.build_dir, "client%d.log" % i) for i in (1, 2)]
        client = env.exe("tests/wine/programs/automation_client.exe")
        procs = [env.start([client, "channel", "3", "first", "15"], logs[0]),
                 env.start([client, "channel", "5", "second", "15"], logs[1])]
        for p, log in zip(procs, logs):
            rc, text = env.finish(p, log, timeout=120)
            print(text, flush=True)
            check(rc == 0 and "DONE" in text and "FAIL:" not in text, "client in %s" % os.path.basename(log))
        frames = sim.frames()
        check(sum(f.startswith("RX data ch=3 len=5 66 69 72 73 74 ") for f in frames) == 15 and
              sum(f.startswith("RX data ch=5 len=6 73 65 63 6F 6E 64 ") for f in frames) == 15,
              "15 frames of each client reached the device on its channel")
        check(env.end_all(), "every server process ended by itself after the clients")

    with PtyPair(env) as pty, Simulator(env, pty):
        # The same crossing made certain: a start by COM while a server is running shows
        # nothing, and when the running one ends it waits a few seconds for a client of its
        # own and then ends too (had it opened its window and COM1, it would wait for ever).
        ui = Ui(env)
        first = env.start([server], os.path.join(env.build_dir, "server-first.log"))
        check(ui.find(MAIN, 30000) is not None, "the first server shows its window")
        second = env.start([server, "-Embedding"], os.path.join(env.build_dir, "server-second.log"))
        time.sleep(scaled(3))
        check(second.poll() is None, "the second start waits while the first one serves")
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(ui.wait(lambda: first.poll() is not None, 20), "the first server ends on its close box")
        check(ui.wait(lambda: second.poll() is not None, 20) and second.returncode == 0,
              "then the second one ends by itself with 0 (%s)" % second.returncode)
        check(env.end_all(), "nothing left running")

    with PtyPair(env) as pty, Simulator(env, pty, ["--silent"]) as sim:
        run_client(env, "timeout")
        env.end_all()

    with PtyPair(env) as pty, Simulator(env, pty):
        t0 = time.time()
        run_client(env, "closebox")
        check(time.time() - t0 < scaled(30), "closing with the warning box took %.1f s" % (time.time() - t0))
        env.end_all()

    rc, out = env.wine([server, "/unregserver"], timeout=60)
    keys = registry_keys(env)
    check(rc == 0 and all(v is None for v in keys.values()), "unregserver removes every key")
    check(env.reg_query(r"HKCR\Interface\{85EB46C2-E166-43A8-BE36-B63F14C76D2B}") is None,
          "interface registration gone")
    # Leave the server registered for the other tests.
    env.wine([server, "/regserver"], timeout=60, check_rc=True)


if __name__ == "__main__":
    main_wrapper(test)
