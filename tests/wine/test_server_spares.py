"""Spare servers: under Wine every client that finds no class object starts a server of its
own, and all but one wait, invisible. When clients start together, the spares end with the
server that served them (5 s after it at most), not one after another; and a process that
waits beside a server that never lets go ends once no client can be waiting for it."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import PtyPair, Simulator, check, main_wrapper, scaled  # noqa: E402

# The README's figures: the serving process ends 3 s after its last client; a spare waits
# 5 s after that for a client that still needs it.
SERVER_END_S = 3
SPARE_WAIT_S = 5
# A process waiting for the claim gives up after the longest time a client waits for a class
# object (120 s under Windows).
CLAIM_LIMIT_S = 120


def watch_servers(env, until, interval=0.05):
    """Polls the prefix's MVRServ.exe processes until until() holds and none is left, or 60 s
    pass; returns {pid: (first seen, last seen)}."""
    seen = {}
    deadline = time.time() + scaled(60)
    while time.time() < deadline:
        now = time.time()
        pids = env.programs("mvrserv.exe")
        for pid in pids:
            first = seen.get(pid, (now, now))[0]
            seen[pid] = (first, now)
        if until() and not pids:
            break
        time.sleep(interval)
    return seen


def clients_at_once(env, client, n=4):
    procs = []
    for i in range(n):
        log = os.path.join(env.build_dir, "spares%d.log" % i)
        procs.append((env.start([client, "brief"], log), log))
    t0 = time.time()
    ended = {}

    def clients_done():
        for p, _ in procs:
            if p.poll() is not None and p not in ended:
                ended[p] = time.time()
        return len(ended) == len(procs)

    seen = watch_servers(env, clients_done)
    served = []
    for p, log in procs:
        rc, text = env.finish(p, log)
        served.append(rc == 0 and "DONE" in text)
        if not served[-1]:
            print(text, flush=True)
    check(all(served), "%d clients started together are all served" % n)
    last_client = max(ended.values())
    ends = sorted(last - last_client for _, last in seen.values())
    print("server processes: %d; lifetimes from the start: %s s; ends after the last client: %s s"
          % (len(seen), ", ".join("%.1f" % (last - t0) for _, last in sorted(seen.values())),
             ", ".join("%.1f" % e for e in ends)), flush=True)
    check(not env.programs("mvrserv.exe"), "every server process ended by itself")
    limit = SERVER_END_S + SPARE_WAIT_S + scaled(2)
    check(ends[-1] <= limit, "the last server process ended %.1f s after the last client (at most %.0f s)"
          % (ends[-1], limit))
    check(env.end_all(), "every process ended")


def beside_a_stuck_server(env, client):
    """A process COM started while another holds the claim for good (stuck in a box at its
    end): it shows nothing and ends by itself once no client can still be waiting for it."""
    holder_log = os.path.join(env.build_dir, "spares-holder.log")
    holder = env.start([client, "claim", str(CLAIM_LIMIT_S + 60)], holder_log)
    try:
        deadline = time.time() + scaled(30)
        while time.time() < deadline and "holding the server claim" not in open(holder_log, errors="replace").read():
            time.sleep(0.1)
        check("ok: holding the server claim" in open(holder_log, errors="replace").read(),
              "a stand-in for a stuck server holds the claim")
        spare_log = os.path.join(env.build_dir, "spares-waiting.log")
        t0 = time.time()
        spare = env.start([env.exe("app/MVRServ.exe"), "-Embedding"], spare_log)
        try:
            rc = spare.wait(timeout=scaled(CLAIM_LIMIT_S + 20))
        except Exception:
            spare.kill()
            spare.wait()
            rc = None
        waited = time.time() - t0
        print("the waiting process ended after %.1f s (rc %s)" % (waited, rc), flush=True)
        check(rc is not None, "the process waiting beside the stuck server ended by itself")
        check(waited >= CLAIM_LIMIT_S - 1, "it waited as long as a client may wait for it (%.0f s)" % waited)
        check(holder.poll() is None, "the stuck server still held the claim")
    finally:
        holder.kill()
        holder.wait()
    check(env.end_all(), "every process ended")


def test(env):
    env.reset_settings()
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)
    client = env.exe("tests/wine/programs/automation_client.exe")
    with PtyPair(env) as pty, Simulator(env, pty):
        for round_ in range(2):
            print("round %d" % round_, flush=True)
            clients_at_once(env, client)
    beside_a_stuck_server(env, client)


if __name__ == "__main__":
    main_wrapper(test)
