"""Settings a person edited by hand: a DWORD where the program keeps text, a value of a type
that can't be a number, and a position far off the screen. Every readable value loads, the
port opens, the window is on the screen, and the end stores what was loaded."""
from uidrive import (SETTINGS_KEY, Program, Ui, check, read_section, reset_settings)
from winetest import main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
SC_CLOSE = 0xF060


def test(env):
    ui = Ui(env)
    reset_settings(env, window={"Left": -99999}, comport={"BaudRate": 4, "InSize": 5000})
    env.reg_add(SETTINGS_KEY + r"\WindowParams", "Top", 0xFFFE7961, "REG_DWORD")  # -99999 as a DWORD
    env.reg_add(SETTINGS_KEY + r"\ComPort", "ComPort", 1, "REG_DWORD")
    env.reg_add(SETTINGS_KEY + r"\ComPort", "Parity", "0102", "REG_BINARY")
    # The device speaks on its own, so the counters show whether the port is open.
    with Program(env, "settings", ["--unsolicited", "100:data:0:41"]) as prog:
        check(ui.find(MAIN) is not None, "the main window is there")
        # The move waits for the shown window and keeps it from hiding itself (3.2 s after
        # showing), however long the checks before take on a busy machine.
        ui.ok("mouse", MAIN, 165, 112)
        rc, out = ui.run("box", "Fehler", "", 2000)
        check(rc != 0, "no error box at start (%s)" % out.strip())
        check(ui.wait(lambda: ui.visible(MAIN), 10), "window shown")
        left, top, width, height = ui.rect(MAIN)
        check(left == 0 and top == 0, "-99999 pulled onto the screen: %d,%d" % (left, top))
        check(ui.wait(lambda: int(ui.text(MAIN, "RXLabel")) > 0, 5),
              "the port opened: RXLabel %s" % ui.text(MAIN, "RXLabel"))
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the close box ends the program")
    window = read_section(env, "WindowParams", ["Left", "Top"])
    check(window == {"Left": "0", "Top": "0"}, "the position on the screen is what is stored %s" % window)
    port = read_section(env, "ComPort", ["ComPort", "BaudRate", "InSize", "Parity"])
    check(port == {"ComPort": "1", "BaudRate": "4", "InSize": "5000", "Parity": "0"},
          "the DWORD read as 1, the other values kept, the unreadable one at its default %s" % port)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
