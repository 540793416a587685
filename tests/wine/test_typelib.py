"""The type library embedded in MVRServ.exe, checked attribute by attribute after loading
it from the exe's resource."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import check, main_wrapper  # noqa: E402


def test(env):
    rc, out = env.wine([env.exe("tests/wine/programs/typelib_check.exe"), env.exe("app/MVRServ.exe")], timeout=60)
    print(out, flush=True)
    check(out.count("ok:") > 100, "%d attributes checked" % out.count("ok:"))
    check(rc == 0 and "FAIL:" not in out and "DONE" in out, "every attribute as published")


if __name__ == "__main__":
    main_wrapper(test)
