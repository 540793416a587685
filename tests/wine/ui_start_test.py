"""Start without a usable COM1: the port layer's box, then the program's own box with the
single "&Abbrechen" button, the end, and the stored settings left as they were."""
import re

from uidrive import (SETTINGS_KEY, Program, Ui, check, read_section, reset_settings)
from winetest import main_wrapper

STORED_WINDOW = {"Left": 123, "Top": 45}
STORED_PORT = {"ComPort": 2, "BaudRate": 6, "Databits": 3, "Parity": 2, "Stopbits": 1,
               "InSize": 5000, "OutSize": 4000}


def test(env):
    ui = Ui(env)
    reset_settings(env, window=STORED_WINDOW, comport=STORED_PORT)
    # No pty: COM1 points at a path that does not exist.
    with Program(env, "start", with_pty=False) as prog:
        first = ui.find("Fehler|#32770", 20000)
        text, buttons = ui.box("Fehler", "OK")
        check(re.match(r"(Create|Setup|Times|Timet|DCBrd|DCBwr): \d+! ", text) and buttons == ["OK"],
              "the port layer reports first: tag, number, the system's text %r %s" % (text, buttons))
        # The next box has the same caption: it is read once this one is gone.
        check(ui.wait(lambda: not ui.visible(first), 10), "OK closes the port layer's box")
        text, buttons = ui.box("Fehler", "", 10000)
        check(text == "Serielle Schnittstelle konnte nicht geöffnet werden!", "then the program's box %r" % text)
        check(buttons == ["&Abbrechen"], "with the single button \"&Abbrechen\" %s" % buttons)
        ui.box("Fehler", "&Abbrechen")
        check(prog.ended(20), "the program ends")
    window = read_section(env, "WindowParams", list(STORED_WINDOW))
    port = read_section(env, "ComPort", list(STORED_PORT))
    check(window == {k: str(v) for k, v in STORED_WINDOW.items()}, "stored position untouched %s" % window)
    check(port == {k: str(v) for k, v in STORED_PORT.items()}, "stored serial settings untouched %s" % port)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
