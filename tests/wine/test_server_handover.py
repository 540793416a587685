"""Clients that come while the server starts or ends: under Wine every client that finds no
class object starts a server of its own, and a server that ends for its last client can still
be found by the next one. Every client must be served, whenever it comes, and every server
process must end by itself afterwards."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import PtyPair, Simulator, check, main_wrapper, scaled  # noqa: E402


def test(env):
    env.reset_settings()
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)
    client = env.exe("tests/wine/programs/automation_client.exe")
    n = [0]

    def is_served(proc, log):
        rc, text = env.finish(proc, log)
        if rc != 0 or "DONE" not in text:
            print(text, flush=True)
            return False
        return True

    def start():
        n[0] += 1
        log = os.path.join(env.build_dir, "handover%d.log" % n[0])
        return env.start([client, "brief"], log), log

    with PtyPair(env) as pty, Simulator(env, pty):
        t0 = time.time()
        for round_ in range(2):
            pair = [start(), start()]
            served = [is_served(p, log) for p, log in pair]
            check(all(served), "round %d: two clients started together are both served" % round_)
            check(env.end_all(), "round %d: every server process ended by itself" % round_)

        served = []
        for _ in range(3):
            served.append(is_served(*start()))
        check(all(served), "three clients one after the other, each as the last ended: all served")
        check(env.end_all(), "back to back: every server process ended by itself")

        # The second client comes while the first one's server is starting, serving or
        # ending: the delays spread its arrival over the first one's whole run.
        for delay in (0.3, 1.0, 2.0, 3.0):
            first = start()
            time.sleep(scaled(delay))
            second = start()
            served = [is_served(*first), is_served(*second)]
            check(all(served), "second client %.1f s after the first: both served" % delay)
            check(env.end_all(), "after the %.1f s pair: every server process ended by itself" % delay)
        print("handover rounds took %.1f s" % (time.time() - t0), flush=True)


if __name__ == "__main__":
    main_wrapper(test)
