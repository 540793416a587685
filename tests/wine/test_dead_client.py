"""A client killed while it holds a channel: the next frame for it finds the client gone, the
server lets go of its object, and another client gets the channel."""
import os
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import Failure, PtyPair, Simulator, check, main_wrapper  # noqa: E402


def wait_for(path, text, timeout):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if os.path.exists(path) and text in open(path, errors="replace").read():
            return True
        time.sleep(0.05)
    return False


def test(env):
    env.reset_settings()
    client = env.exe("tests/wine/programs/automation_client.exe")
    env.wine([env.exe("app/MVRServ.exe"), "/regserver"], timeout=60, check_rc=True)
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
        try:
            rc = taker.wait(timeout=60)
        except Exception:
            taker.kill()
            raise Failure("the second client did not finish")
        text = open(taker_log, errors="replace").read()
        print(text, flush=True)
        check(rc == 0 and "DONE" in text and "FAIL:" not in text,
              "after the kill the second client got channel 4 and its frames (%.1f s)" % (time.time() - t0))
        env.end_all()


if __name__ == "__main__":
    main_wrapper(test)
