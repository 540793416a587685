"""Main window under Wine: counters after traffic, auto-hide, minimise/restore through the
notification icon, the icon menu's "&Beenden", and the stored position pulled onto the screen."""
import time

from uidrive import (SETTINGS_KEY, SM_CXSCREEN, Program, ScriptClient, Ui, check, program_exe, read_section,
                     reset_settings, scaled)
from winetest import main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
SC_MINIMIZE, SC_CLOSE = 0xF020, 0xF060
DBLCLK, RBUTTONDOWN = 515, 516


def counters_autohide_icon(env, ui):
    reset_settings(env)
    # 3 data frames of 10 bytes (14 on the wire each) and a 5-byte frame for an unbound channel.
    sim = ["--start-delay", "1500", "--flood", "3:0:10", "--send", "F0 00 41 00 00"]
    with Program(env, "main1", sim) as prog:
        out = ui.ok("watch", MAIN, int(scaled(9000)))
        check(out.startswith("hidden-after"), "the window hides by itself (%s)" % out.strip())
        ms = int(out.split()[1])
        check(2000 <= ms <= 3200 + scaled(1300), "auto-hide about 3.2 s after showing (%d ms)" % ms)
        check(ui.wait(lambda: ui.text(MAIN, "RXLabel") == "47", 5),
              "RXLabel counts the 47 received bytes (%s)" % ui.text(MAIN, "RXLabel"))
        check(ui.text(MAIN, "TXLabel") == "0", "nothing sent: TXLabel 0")
        check(ui.text(MAIN, "TOLabel") == "0", "no time-out without a sender")

        ui.ok("tray", MAIN, DBLCLK)
        check(ui.wait(lambda: ui.visible(MAIN), 3), "double-click on the icon shows the window")
        ui.ok("tray", MAIN, DBLCLK)
        time.sleep(scaled(0.5))
        check(ui.visible(MAIN), "double-click while visible changes nothing")
        ui.ok("syscommand", MAIN, SC_MINIMIZE)
        check(ui.wait(lambda: not ui.visible(MAIN), 3), "minimise hides the window")
        rect = ui.rect(MAIN)
        check(rect[2] > 0 and rect[0] >= 0, "hidden, not minimised: the window keeps its place %s" % rect)
        ui.ok("tray", MAIN, RBUTTONDOWN)
        ui.ok("menu", "&Wiederherstellen")
        check(ui.wait(lambda: ui.visible(MAIN), 3), "\"&Wiederherstellen\" shows the window")

        rect = ui.rect(MAIN)
        ui.ok("tray", MAIN, RBUTTONDOWN)
        ui.ok("menu", "&Beenden")
        check(prog.ended(20), "\"&Beenden\" ends the program")
    pos = read_section(env, "WindowParams", ["Left", "Top"])
    check(pos == {"Left": str(rect[0]), "Top": str(rect[1])}, "position written at the end %s" % pos)
    port = read_section(env, "ComPort", ["ComPort", "BaudRate"])
    check(port["ComPort"] == "1", "serial settings written at the end %s" % port)


def mouse_move_and_position(env, ui):
    # Stored far right: pulled back so the right edge is on the 1024-pixel screen.
    reset_settings(env, window={"Left": 2000, "Top": 100})
    with Program(env, "main2") as prog:
        # The move must come before the window hides itself (3.2 s): the driver waits for the
        # shown window and moves at once, however slow its own start. Free client area right
        # of the counters, below the icon.
        ui.ok("mouse", MAIN, 165, 112)
        check(ui.visible(MAIN), "window shown")
        left, top, width, height = ui.rect(MAIN)
        check(left == SM_CXSCREEN - width and top == 100,
              "stored Left 2000 puts the right edge on the screen edge (%d,%d w %d)" % (left, top, width))
        out = ui.ok("watch", MAIN, 5000)
        check(out.startswith("visible-for"), "after a mouse move the window stays (%s)" % out.strip())
        ui.ok("toolclick", MAIN, "InfoBtn")
        check(ui.wait(lambda: ui.find("Software by...", 500) and ui.visible("Software by..."), 5),
              "the information button opens the about box")
        ui.ok("syscommand", "Software by...", SC_CLOSE)
        check(ui.wait(lambda: not ui.visible("Software by..."), 3), "the about box closes")
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the close box ends the program")
    pos = read_section(env, "WindowParams", ["Left", "Top"])
    check(pos == {"Left": str(SM_CXSCREEN - width), "Top": "100"}, "the corrected position is stored %s" % pos)


def last_count(client):
    line = client.last("got ")
    return int(line.split()[1]) if line else -1


def declined_end_keeps_running(env, ui):
    """A client still holds an object: declining the server's warning keeps the program
    running with the port open again and the icon back; accepting then ends it."""
    reset_settings(env)
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    with Program(env, "main3", ["--unsolicited", "100:data:1:41"]) as prog:
        ui.ok("mouse", MAIN, 165, 112)
        client = ScriptClient(env, "hold", procedures='Dim n\nn = 0\nSub mvr_Receive(Block)\n  n = n + 1\nEnd Sub\n',
                              setup="o.ConnectChannel 1\n", report='"got " & n')
        try:
            check(ui.wait(lambda: client.has("created"), 20), "the client holds an object (%s)" % client.state())
            check(ui.tray_icon(MAIN), "the icon is there before the close")
            ui.ok("syscommand", MAIN, SC_CLOSE)
            text, buttons = ui.box("Warnung des COM-Servers", "&Nein")
            check(buttons == ["&Ja", "&Nein"], "the server's warning asks Yes/No %s" % buttons)
            # The close took the icon away; declining puts it back as its last step.
            icon_back = ui.wait(lambda: prog.proc.poll() is not None or ui.tray_icon(MAIN), 5)
            check(prog.proc.poll() is None, "declined: the program keeps running")
            check(icon_back, "the icon is back")
            before, after = ui.counter_rises(MAIN, "RXLabel")
            check(after > before, "the port is open again and receives (%d -> %d)" % (before, after))
            got_before = last_count(client)
            check(ui.wait(lambda: last_count(client) > got_before, 5),
                  "the client's channel survived the declined end: Receive events go on (%d -> %d, %s)"
                  % (got_before, last_count(client), client.state()))
            ui.ok("syscommand", MAIN, SC_CLOSE)
            ui.box("Warnung des COM-Servers", "&Ja")
            check(prog.ended(20), "accepted: the program ends")
        finally:
            client.stop()


def test(env):
    ui = Ui(env)
    counters_autohide_icon(env, ui)
    mouse_move_and_position(env, ui)
    declined_end_keeps_running(env, ui)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
