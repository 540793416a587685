"""Ten clients bursting through the real server under Wine, against the device simulator:
each sends its blocks as fast as SendLPaket takes them, the device echoes every one. Per round
and channel: blocks the device echoed, Receive calls the client took (S_OK), blocks lost,
sends refused. Rounds with clients whose message filter refuses event calls now and then make
the server retry. Then a light client's command round trip, idle and beside nine bursting
clients. Prints figures; not a test.

  python3 tests/bench/traffic_bench.py [--rounds 5] [--blocks 300] [--server EXE]
"""
import argparse
import os
import re
import signal
import sys
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "wine"))
from wine_bench import line_rate, wait_for_log  # noqa: E402
from winetest import PtyPair, Simulator, WineEnv  # noqa: E402


def win_path(path):
    return "Z:" + path.replace("/", "\\")


def start_clients(env, name, arg_lists):
    """One traffic_client per argument list, the first alone until it is ready (it starts
    the server). Returns (processes, logs)."""
    client = env.exe("tests/wine/programs/traffic_client.exe")
    procs, logs = [], []
    for i, args in enumerate(arg_lists):
        log = os.path.join(env.build_dir, "%s-%d.log" % (name, i))
        if os.path.exists(log):
            os.unlink(log)
        procs.append(env.start([client] + [str(a) for a in args], log))
        logs.append(log)
        if i == 0:
            wait_for_log(log, "ready")
    for log in logs:
        wait_for_log(log, "ready")
    return procs, logs


def finish(procs, logs, timeout=600):
    texts = []
    for p, log in zip(procs, logs):
        p.wait(timeout=timeout)
        texts.append(open(log, errors="replace").read())
    return texts


def fresh(path):
    if os.path.exists(path):
        os.unlink(path)
    return path


class Freezer:
    """A busy machine: every `every` seconds the whole test bed (the server, its clients,
    Wine's server, the pty relay and the device) stops for `ms` milliseconds; Wine gets the
    processor back 40 ms before the relay and the device do."""

    def __init__(self, env, pty, sim, ms, every):
        self.wine = lambda: wineservers(env) + env.programs()
        self.line = [pty.proc.pid, sim.proc.pid]
        self.ms, self.every = ms, every
        self.stop = threading.Event()
        self.count = 0
        self.thread = threading.Thread(target=self.run, daemon=True)

    def __enter__(self):
        if self.ms > 0:
            self.thread.start()
        return self

    def __exit__(self, *exc):
        self.stop.set()
        if self.thread.is_alive():
            self.thread.join()

    @staticmethod
    def signal_all(pids, sig):
        for pid in pids:
            try:
                os.kill(pid, sig)
            except OSError:
                pass

    def run(self):
        while not self.stop.wait(self.every):
            wine = self.wine()
            self.signal_all(self.line + wine, signal.SIGSTOP)
            time.sleep(self.ms / 1000.0)
            self.signal_all(wine, signal.SIGCONT)
            time.sleep(0.04)
            self.signal_all(self.line, signal.SIGCONT)
            self.count += 1


def wineservers(env):
    pids = []
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.path.basename(os.readlink("/proc/%s/exe" % pid)) == "wineserver" and \
                    ("WINEPREFIX=" + env.prefix).encode() in open("/proc/%s/environ" % pid, "rb").read().split(b"\0"):
                pids.append(int(pid))
        except OSError:
            pass
    return pids


def echoed_per_channel(sim):
    counts = [0] * 10
    for f in sim.frames():
        m = re.match(r"TX data ch=(\d) .*crc=ok$", f)
        if m:
            counts[int(m.group(1))] += 1
    return counts


def burst_round(env, blocks, reject_run, sleep=False, slow=(0, 0), sim_args=(), freeze=(0, 0)):
    """Ten bursting clients; returns per channel (echoed, received, lost, refused, rejected)
    and the round's seconds."""
    go = fresh(os.path.join(env.build_dir, "burst-go"))
    with PtyPair(env) as pty, Simulator(env, pty, sim_args) as sim:
        procs, logs = start_clients(env, "burst", [["burst", ch, blocks, 256, win_path(go), reject_run,
                                                    1 if sleep else 0, slow[0], slow[1]] for ch in range(10)])
        t0 = time.time()
        with Freezer(env, pty, sim, *freeze):
            open(go, "w").close()
            texts = finish(procs, logs)
        took = time.time() - t0
        env.end_all()
        echoed = echoed_per_channel(sim)
    rows = []
    for ch, text in enumerate(texts):
        b = re.search(r"burst ch=\d+ sent=\d+ refused=(\d+) rejected=(\d+)", text)
        e = re.search(r"echoes ch=\d+ received=(\d+) in_order=(\d+) lost=(\d+) stray=(\d+)(?: missing=(\S+))?", text)
        if not b or not e:
            print(text)
            raise SystemExit("client %d did not report" % ch)
        rows.append({"echoed": echoed[ch], "received": int(e.group(1)), "lost": int(e.group(3)),
                     "stray": int(e.group(4)), "refused": int(b.group(1)), "rejected": int(b.group(2)),
                     "missing": e.group(5) or ""})
    return rows, took


def light_round(env, count, interval_ms, bursting, blocks):
    """The light client on channel 9, alone or beside nine bursting clients; returns its line."""
    go = fresh(os.path.join(env.build_dir, "light-go"))
    stop = fresh(os.path.join(env.build_dir, "light-stop"))
    with PtyPair(env) as pty, Simulator(env, pty):
        # Beside the bursts it runs until they are done.
        args = [["light", 9, 1000000 if bursting else count, interval_ms, win_path(go), win_path(stop)]]
        if bursting:
            args += [["burst", ch, blocks, 256, win_path(go)] for ch in range(9)]
        procs, logs = start_clients(env, "light", args)
        open(go, "w").close()
        if bursting:
            burst_texts = finish(procs[1:], logs[1:])
            open(stop, "w").close()
        texts = finish(procs[:1], logs[:1])
        env.end_all()
    m = re.search(r"light ch=9 n=(\d+) lost=(\d+) refused=(\d+) p50=([\d.]+) p90=([\d.]+) p99=([\d.]+) "
                  r"max=([\d.]+)", texts[0])
    if not m:
        print(texts[0])
        raise SystemExit("the light client did not report")
    burst_lost = burst_refused = 0
    if bursting:
        for text in burst_texts:
            b = re.search(r"refused=(\d+)", text)
            e = re.search(r"lost=(\d+)", text)
            burst_refused += int(b.group(1)) if b else 1
            burst_lost += int(e.group(1)) if e else 1
    return m, burst_lost, burst_refused


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--server", help="the MVRServ.exe to measure (default: this build's)")
    ap.add_argument("--rounds", type=int, default=5)
    ap.add_argument("--blocks", type=int, default=300)
    ap.add_argument("--reject-run", type=int, default=2,
                    help="event calls a retrying client refuses in a row before it takes one")
    ap.add_argument("--light-count", type=int, default=400)
    ap.add_argument("--light-interval", type=int, default=10)
    ap.add_argument("--kinds", default="plain,retrying", help="which rounds: plain, retrying or both")
    ap.add_argument("--sleep", action="store_true",
                    help="clients wait for a refused send in Sleep, not pumping messages")
    ap.add_argument("--slow", default="0:0", help="EVERY:MS: every EVERY-th Receive handler takes MS")
    ap.add_argument("--sim", default="", help="options for the device simulator, e.g. \"--split 5\"")
    ap.add_argument("--freeze", default="0:0",
                    help="MS:SECONDS: the whole test bed stops for MS every SECONDS (a busy machine)")
    ap.add_argument("--baud", type=int, default=15,
                    help="the port's baud rate index for the bursting rounds (15: 256000)")
    ap.add_argument("--light-baud", type=int, default=11,
                    help="the baud rate index for the light client's rounds (11: 57600, the default)")
    ap.add_argument("--skip-light", action="store_true")
    args = ap.parse_args()
    env = WineEnv()
    env.ensure_prefix()
    server = os.path.abspath(args.server) if args.server else env.exe("app/MVRServ.exe")
    env.reset_settings()
    env.wine([server, "/regserver"], timeout=60)
    print("server: %s" % server, flush=True)
    line_rate(env, args.baud)

    totals = {}
    kinds = args.kinds.split(",")
    for kind, reject_run in (("plain", 0), ("retrying", args.reject_run)):
        if kind not in kinds:
            continue
        for r in range(args.rounds):
            rows, took = burst_round(env, args.blocks, reject_run, args.sleep,
                                     tuple(int(x) for x in args.slow.split(":")), args.sim.split(),
                                     (int(args.freeze.split(":")[0]), float(args.freeze.split(":")[1])))
            lost = sum(x["lost"] for x in rows)
            refused = sum(x["refused"] for x in rows)
            mismatch = [ch for ch, x in enumerate(rows) if x["echoed"] != x["received"]]
            rejected = sum(x["rejected"] for x in rows)
            t = totals.setdefault(kind, [0, 0, 0, 0])
            t[0] += sum(x["received"] for x in rows)
            t[1] += lost
            t[2] += refused
            t[3] += len(mismatch)
            print("%-8s round %d: 10 x %d blocks in %5.1f s, echoed %d, Receive S_OK %d, lost %d, refused %d, "
                  "event calls refused by clients %d, channels with echoed != received: %s"
                  % (kind, r + 1, args.blocks, took, sum(x["echoed"] for x in rows),
                     sum(x["received"] for x in rows), lost, refused, rejected, mismatch or "none"), flush=True)
            for ch, x in enumerate(rows):
                if x["lost"] or x["stray"] or x["echoed"] != x["received"]:
                    print("    ch %d: echoed %d received %d lost %d stray %d missing %s"
                          % (ch, x["echoed"], x["received"], x["lost"], x["stray"], x["missing"]), flush=True)
    for kind, (received, lost, refused, mismatched) in totals.items():
        print("%-8s total: %d Receive S_OK, %d lost, %d refused, %d channel rounds with echoed != received"
              % (kind, received, lost, refused, mismatched), flush=True)

    if args.skip_light:
        return
    line_rate(env, args.light_baud)
    idle, _, _ = light_round(env, args.light_count, args.light_interval, False, args.blocks)
    loaded, blost, brefused = light_round(env, args.light_count, args.light_interval, True, args.blocks)
    print("light client round trip (SendSPaket -> Receive, ms), idle vs beside 9 x %d bursting blocks:"
          % args.blocks)
    print("  %-7s %6s %6s %8s %8s %8s %8s %8s" % ("", "n", "lost", "p50", "p90", "p99", "max", "refused"))
    for name, m in (("idle", idle), ("loaded", loaded)):
        print("  %-7s %6s %6s %8s %8s %8s %8s %8s" % (name, m.group(1), m.group(2), m.group(4), m.group(5),
                                                      m.group(6), m.group(7), m.group(3)))
    print("  bursting clients beside it: %d lost, %d refused" % (blost, brefused))


if __name__ == "__main__":
    main()
