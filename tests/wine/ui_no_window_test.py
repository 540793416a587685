"""A window that cannot be created (here: no display at all): the program says so and ends
with a failure code instead of running on invisibly for ever."""
import os
import subprocess
import time

from uidrive import program_exe
from winetest import Failure, check, main_wrapper


def test(env):
    env.end_all()
    run_env = dict(env.env)
    run_env.pop("DISPLAY", None)
    # Wine 8 logs OutputDebugString on this channel.
    run_env["WINEDEBUG"] = "-all,warn+seh"
    log = os.path.join(env.build_dir, "no-window.log")
    t0 = time.time()
    with open(log, "wb") as f:
        p = subprocess.Popen([env.loader, program_exe(env)], env=run_env, stdout=f,
                             stderr=subprocess.STDOUT, stdin=subprocess.DEVNULL)
        try:
            rc = p.wait(timeout=60)
        except subprocess.TimeoutExpired:
            p.kill()
            p.wait()
            env.end_all()
            raise Failure("the program ran on for 60 s without its window")
    text = open(log, encoding="utf-8", errors="replace").read()
    print(text[-2000:], flush=True)
    check(rc not in (0, None), "it ends with a failure code (%s) after %.1f s" % (rc, time.time() - t0))
    check('Das Fenster \\"MVR Server\\" konnte nicht erstellt werden' in text or
          'Das Fenster "MVR Server" konnte nicht erstellt werden' in text,
          "the error names the window")
    env.end_all()


if __name__ == "__main__":
    main_wrapper(test)
