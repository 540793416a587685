"""The port's device goes away and comes back (an adapter pulled and plugged in again): the
pty pair behind COM1 is closed under the running server and made again under the same name.
Ten streaming clients carry on by themselves; the port away for a minute costs almost
nothing; a port that never returns does not keep the program from ending."""
import os
import re
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from traffic_test import client_exe, fastest_line, finish_clients, start_clients, wait_for, win_path  # noqa: E402
from uidrive import Program, Ui, program_exe, reset_settings, scaled  # noqa: E402
from winetest import Failure, PtyPair, Simulator, check, main_wrapper  # noqa: E402

MAIN = "MVR Server|TMVRServMainFm"
SC_CLOSE = 0xF060
DBLCLK = 515
CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def wineserver_pid(env):
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            if not os.path.basename(os.readlink("/proc/%s/exe" % pid)).startswith("wineserver"):
                continue
            with open("/proc/%s/environ" % pid, "rb") as f:
                if ("WINEPREFIX=" + env.prefix).encode() in f.read().split(b"\0"):
                    return int(pid)
        except OSError:
            continue
    return None


def fds_and_rss(pid):
    """The program's open file descriptors and resident memory in kB, as Linux sees them."""
    with open("/proc/%d/status" % pid) as f:
        rss = next(int(line.split()[1]) for line in f if line.startswith("VmRSS:"))
    return len(os.listdir("/proc/%d/fd" % pid)), rss


def server_handles(env):
    rc, out = env.wine([client_exe(env), "server-handles"], timeout=60)
    m = re.search(r"handles=(\d+)", out)
    if rc != 0 or not m:
        raise Failure("the server's handle count: %s" % out.strip())
    return int(m.group(1))


def shown(ui):
    """The main window found and kept on the screen, even where its start outlasted auto-hide."""
    if not ui.find(MAIN, 60000):
        raise Failure("the main window did not come")
    ui.ok("mouse", MAIN, 165, 112)
    if not ui.visible(MAIN):
        ui.ok("tray", MAIN, DBLCLK)
    check(ui.wait(lambda: ui.visible(MAIN), 5), "the main window is shown")


def close_pty(pty, sim):
    """The far end goes: the simulator and the pty pair with it."""
    sim.__exit__(None, None, None)
    pty.__exit__(None, None, None)


def ten_clients_carry_on(env, ui):
    files = {k: os.path.join(env.build_dir, "gap-" + k) for k in ("go", "stop")}
    for f in files.values():
        if os.path.exists(f):
            os.unlink(f)
    pty = PtyPair(env).__enter__()
    sim = Simulator(env, pty).__enter__()
    try:
        procs, logs = start_clients(env, "gap", [["gap", ch, win_path(files["go"]), win_path(files["stop"])]
                                                 for ch in range(10)])
        open(files["go"], "w").close()
        time.sleep(scaled(2))
        close_pty(pty, sim)
        gone_at = time.time()
        text, _ = ui.box("Fehler", "", 15000)
        time.sleep(max(0.0, 3 - (time.time() - gone_at)))
        pty = PtyPair(env).__enter__()
        back_at = time.time()
        sim = Simulator(env, pty, name="back").__enter__()
        for log in logs:
            wait_for("a client's report", lambda: "gap ch=" in open(log, errors="replace").read(), scaled(120))
        # Nobody clicked: the one box is still the only one.
        ui.box("Fehler", "OK", 5000)
        check(not ui.find("Fehler", 2000), "one box for the lost port, however many sends and reads failed")
        open(files["stop"], "w").close()
        texts = finish_clients(procs, logs)
        rx = sum(1 for f in sim.frames() if f.startswith("RX data") and "len=256" in f and f.endswith("crc=ok"))
    finally:
        close_pty(pty, sim)
    check(re.match(r"(Receive: 109|Transmit: 21)! ", text), "the port's box names the failed step: %r" % text)
    results = [re.search(r"gap ch=(\d+) before_sent=(\d+) before_echoed=(\d+) saw_gone=(\d) gap_sends=(\d+) "
                         r"gap_accepted=(\d+) back=(\d) after_sent=(\d+) after_intact=(\d+) after_again=(\d+) "
                         r"after_other=(\d+) back_unix=([\d.]+) first_echo_unix=([\d.]+)", t) for t in texts]
    check(all(results), "every client reported")
    for m in results:
        print(m.group(0), flush=True)
    check(all(int(m.group(3)) > 0 for m in results), "every client streamed before the loss")
    check(all(m.group(4) == "1" for m in results), "every client saw HasSerialConnection false in the gap")
    check(all(int(m.group(5)) > 0 and m.group(6) == "0" for m in results),
          "every send in the gap answered false (%d sends)" % sum(int(m.group(5)) for m in results))
    check(all(m.group(7) == "1" for m in results), "every client saw HasSerialConnection true again")
    check(all(m.group(9) == "20" and m.group(10) == "0" and m.group(11) == "0" for m in results),
          "after the return every client's 20 blocks came back intact, in order, nothing again")
    check(rx >= 200, "the device behind the new pty received the 200 blocks (%d)" % rx)
    seen = max(float(m.group(12)) for m in results) - back_at
    first = min(float(m.group(13)) for m in results) - back_at
    print("measure: port gone -> pty back %.1f s; pty back -> clients see the port %.2f s; "
          "-> first echo %.2f s" % (back_at - gone_at, seen, first), flush=True)
    check(seen < scaled(5), "the port was back within a few seconds of the device (%.2f s)" % seen)
    env.end_all()


def away_a_minute(env, ui):
    reset_settings(env)
    with Program(env, "away") as prog:
        shown(ui)
        time.sleep(scaled(3))
        pid = env.programs("mvrserv.exe")[0]
        server = wineserver_pid(env)
        t0, c0, s0, h0 = time.time(), cpu_seconds(pid), cpu_seconds(server), server_handles(env)
        time.sleep(15)
        idle = (cpu_seconds(pid) - c0) / (time.time() - t0) * 100
        idle_server = (cpu_seconds(server) - s0) / (time.time() - t0) * 100

        close_pty(prog.pty, prog.sim)
        ui.box("Fehler", "", 15000)  # left open, as nobody is there to click
        state = "COM1 getrennt \u2013 Versuch l\u00e4uft"
        check(ui.wait(lambda: ui.controls(MAIN)["PortStateLabel"][1:4:2] == (state, True), 5),
              "the main window says the port is away and tried again: %r" % (ui.controls(MAIN)["PortStateLabel"],))
        h1, (f1, m1) = server_handles(env), fds_and_rss(pid)
        t1, c1, s1 = time.time(), cpu_seconds(pid), cpu_seconds(server)
        time.sleep(60)
        away = (cpu_seconds(pid) - c1) / (time.time() - t1) * 100
        away_server = (cpu_seconds(server) - s1) / (time.time() - t1) * 100
        h2, (f2, m2) = server_handles(env), fds_and_rss(pid)
        print("measure: CPU %% of a core, program / wineserver: idle %.2f / %.2f, port away 60 s %.2f / %.2f; "
              "handles: open %d, away at start %d, after 60 s %d; fds %d -> %d; RSS %d -> %d kB"
              % (idle, idle_server, away, away_server, h0, h1, h2, f1, f2, m1, m2), flush=True)
        check(away - idle <= 1.0 and away_server - idle_server <= 1.0,
              "the port away costs at most 1 %% of a core beyond idle (%.2f %%, wineserver %.2f %%)"
              % (away - idle, away_server - idle_server))
        check(h2 <= h1 and f2 <= f1, "no handle growth while away (handles %d -> %d, fds %d -> %d)"
              % (h1, h2, f1, f2))

        # Back after the minute: found by the attempts that went on all the time.
        prog.pty = PtyPair(env, "away").__enter__()
        prog.sim = Simulator(env, prog.pty, name="away2").__enter__()
        check(ui.wait(lambda: not ui.controls(MAIN)["PortStateLabel"][3], 5),
              "the state line is gone once the port is back")
        ui.box("Fehler", "OK", 5000)
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the program ends")


def never_back(env, ui):
    reset_settings(env)
    with Program(env, "never") as prog:
        shown(ui)
        close_pty(prog.pty, prog.sim)
        prog.pty = prog.sim = None
        ui.box("Fehler", "OK", 15000)
        time.sleep(3)  # attempts go on
        check(prog.proc.poll() is None, "the program runs on while the port is away")
        t0 = time.time()
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(10), "the program ends when asked")
        took = time.time() - t0
        print("measure: end with the port away took %.2f s" % took, flush=True)
        check(took < scaled(3), "at once (%.2f s)" % took)


def test(env):
    env.reset_settings()
    fastest_line(env)  # ten clients stream: the stored 9600 baud would take 2.7 s a round
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    ui = Ui(env)
    ten_clients_carry_on(env, ui)
    away_a_minute(env, ui)
    never_back(env, ui)
    env.reg_delete(r"HKCU\SOFTWARE\Brightloom\MVR Server")


if __name__ == "__main__":
    main_wrapper(test)
