"""Clients killed while they hold channels. A streaming holder: the next frame for it finds the
client gone. Idle holders that kept their connection points and an enumerator: a client that
asks for such a channel gets it at once, the regular check finds the others, and the server
ends after its last live client."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import Failure, PtyPair, Simulator, check, main_wrapper, scaled  # noqa: E402


def wait_for(path, text, timeout):
    deadline = time.time() + scaled(timeout)
    while time.time() < deadline:
        if os.path.exists(path) and text in open(path, errors="replace").read():
            return True
        time.sleep(0.05)
    return False


def value(text, name):
    for line in text.splitlines():
        if line.startswith(name + "="):
            return float(line.split("=", 1)[1])
    return None


def finish_taker(env, taker, log, what):
    try:
        rc = taker.wait(timeout=scaled(60))
    except Exception:
        taker.kill()
        raise Failure("the second client did not finish")
    text = open(log, errors="replace").read()
    print(text, flush=True)
    check(rc == 0 and "DONE" in text and "FAIL:" not in text, what)
    return text


def streaming_holder(env, client):
    holder_log = os.path.join(env.build_dir, "dead-holder.log")
    taker_log = os.path.join(env.build_dir, "dead-taker.log")
    # The device sends on channel 4 on its own, every 200 ms.
    with PtyPair(env) as pty, Simulator(env, pty, ["--unsolicited", "200:data:4:41 42"]):
        holder = env.start([client, "hold", "4"], holder_log)
        try:
            check(wait_for(holder_log, "ok: holding the channel", 30), "the first client holds channel 4")
            taker = env.start([client, "take", "4", "20"], taker_log)
            check(wait_for(taker_log, "refused while the other client holds it", 30),
                  "a second client is refused channel 4 while it is held")
            time.sleep(1.0)
            check(holder.poll() is None, "the holder is still alive before the kill")
        finally:
            holder.kill()
            holder.wait()
        t0 = time.time()
        finish_taker(env, taker, taker_log,
                     "after the kill the second client got channel 4 and its frames (%.1f s)" % (time.time() - t0))
        check(env.end_all(), "every process ended")


def idle_holders(env, client):
    """No frame comes on the dead clients' channels; they kept their connection points."""
    logs = [os.path.join(env.build_dir, "idle-holder%d.log" % ch) for ch in (4, 5)]
    taker_log = os.path.join(env.build_dir, "idle-taker.log")
    with PtyPair(env) as pty, Simulator(env, pty):
        holders = []
        try:
            for ch, log in zip((4, 5), logs):
                holders.append(env.start([client, "hold", str(ch), "keep"], log))
                check(wait_for(log, "ok: holding the channel", 30), "a client holds channel %d with its connection "
                      "point and an enumerator" % ch)
            taker = env.start([client, "take", "4", "15"], taker_log)
            check(wait_for(taker_log, "refused while the other client holds it", 30),
                  "a second client is refused channel 4 while it is held")
        finally:
            for h in holders:
                h.kill()
                h.wait()
        t0 = time.time()
        granted = wait_for(taker_log, "ok: the channel is granted", 15)
        kill_to_grant = time.time() - t0
        check(granted, "channel 4 is granted %.2f s after its idle holder was killed" % kill_to_grant)
        # The holder of channel 5 is asked by nobody: only the regular check finds it, and
        # the server can end only when both dead objects are gone.
        text = finish_taker(env, taker, taker_log, "the second client used channel 4, and the server ended "
                            "after it although two killed clients had held its objects")
        print("kill_to_grant_s=%.2f server_end_after_release_s=%.2f"
              % (kill_to_grant, (value(text, "server_end_ms") or -1000) / 1000), flush=True)
        check(env.end_all(), "every process ended")


def test(env):
    env.reset_settings()
    client = env.exe("tests/wine/programs/automation_client.exe")
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)
    streaming_holder(env, client)
    idle_holders(env, client)


if __name__ == "__main__":
    main_wrapper(test)
