"""The main loop run again after a quit that a modal form saw (the server does so for a client
that came during its end): the quit is used up, and modal forms open again."""
import os
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winetest import check, main_wrapper  # noqa: E402


def test(env):
    rc, text = env.wine([env.exe("tests/wine/programs/modal_again.exe")], timeout=60)
    print(text, flush=True)
    check("first run: modal result 2, terminated 1" in text,
          "the quit ends the modal form of the first run (cancel) and is seen by the loop")
    check(rc == 0 and "second run: modal result 1, shown 1" in text,
          "in the second run the modal form is shown and ends with its button")
    check(env.end_all(), "the program ended")


if __name__ == "__main__":
    main_wrapper(test)
