"""Round trips through the real server under Wine, against the device simulator on the pty:
the raw COM1 floor, one client's SendSPaket -> Receive and 256-character SendLPaket ->
Receive (median, p90), exchanges a second for one and for ten clients, and the server's CPU
share while idle. Prints figures; not a test.

  python3 tests/bench/wine_bench.py [--server PATH/TO/MVRServ.exe]
"""
import argparse
import os
import re
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
from winetest import PtyPair, Simulator, WineEnv  # noqa: E402


def client(env, *args, timeout=300):
    rc, out = env.wine([env.exe("tests/wine/programs/traffic_client.exe")] + [str(a) for a in args],
                       timeout=timeout)
    if rc != 0 or "DONE" not in out:
        print(out)
        raise SystemExit("traffic_client %s failed (rc=%s)" % (" ".join(map(str, args)), rc))
    return out


def figure(out, key):
    m = re.search(re.escape(key) + r"(?:_ms)? median=([\d.]+) p90=([\d.]+)", out)
    return (float(m.group(1)), float(m.group(2))) if m else (float("nan"), float("nan"))


BAUD_RATES = [110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200, 128000,
              230400, 256000]


def line_rate(env, index):
    env.reg_add(r"HKCU\SOFTWARE\Brightloom\MVR Server\ComPort", "BaudRate", index)
    rate = BAUD_RATES[index]
    print("line %d baud: a 260-byte frame takes %.1f ms, a command %.2f ms"
          % (rate, 2600000.0 / rate, 30000.0 / rate), flush=True)


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def wait_for_log(path, text, timeout=60):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(path) and text in open(path, errors="replace").read():
            return
        time.sleep(0.05)
    raise SystemExit("timed out waiting for %r in %s" % (text, path))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", help="the MVRServ.exe to measure (default: this build's)")
    ap.add_argument("--count", type=int, default=200)
    ap.add_argument("--seconds", type=float, default=5)
    ap.add_argument("--idle-seconds", type=float, default=20)
    args = ap.parse_args()
    env = WineEnv()
    env.ensure_prefix()
    server = os.path.abspath(args.server) if args.server else env.exe("app/MVRServ.exe")
    env.reset_settings()
    # Frames go at the line's pace: the fastest rate, so that the figures are the server's.
    line_rate(env, 15)
    env.wine([server, "/regserver"], timeout=60)
    results = []

    with PtyPair(env) as pty, Simulator(env, pty):
        out = client(env, "raw-floor", args.count)
        results.append(("raw COM1 round trip (command frame)", figure(out, "raw_COM1")))
        env.end_all()

    with PtyPair(env) as pty, Simulator(env, pty):
        # Started by hand, the server stays when its clients go.
        log = os.path.join(env.build_dir, "bench-server.log")
        srv = env.start([server], log)
        time.sleep(4)
        # Idle: no client yet, the device silent; the server's own CPU time over a while.
        c0, t0 = cpu_seconds(srv.pid), time.time()
        time.sleep(args.idle_seconds)
        idle = 100.0 * (cpu_seconds(srv.pid) - c0) / (time.time() - t0)
        out = client(env, "bench", 3, args.count)
        results.append(("SendSPaket -> Receive", figure(out, "SendSPaket")))
        results.append(("SendLPaket(256) -> Receive", figure(out, "SendLPaket256")))
        out = client(env, "rate", 3, args.seconds)
        one = float(re.search(r"per_s=([\d.]+)", out).group(1))

        go = os.path.join(env.build_dir, "bench-go")
        if os.path.exists(go):
            os.unlink(go)
        procs, logs = [], []
        for ch in range(10):
            logs.append(os.path.join(env.build_dir, "bench-rate-%d.log" % ch))
            procs.append(env.start([env.exe("tests/wine/programs/traffic_client.exe"), "rate", str(ch),
                                    str(args.seconds), "Z:" + go.replace("/", "\\")], logs[-1]))
        for log in logs:
            wait_for_log(log, "ready")
        open(go, "w").close()
        starts, ends, total = [], [], 0
        for p, log in zip(procs, logs):
            p.wait(timeout=300)
            m = re.search(r"exchanges=(\d+) t_start=([\d.]+) t_end=([\d.]+)", open(log).read())
            total += int(m.group(1))
            starts.append(float(m.group(2)))
            ends.append(float(m.group(3)))
        ten = total * 1000.0 / (max(ends) - min(starts))

        srv.terminate()
        env.end_all()

    print("server: %s" % server)
    for name, (median, p90) in results:
        print("%-38s median %7.2f ms   p90 %7.2f ms" % (name, median, p90))
    print("%-38s %7.1f" % ("exchanges/s, one client", one))
    print("%-38s %7.1f" % ("exchanges/s, ten clients", ten))
    print("%-38s %7.2f %% of one core" % ("server CPU while idle", idle))


if __name__ == "__main__":
    main()
