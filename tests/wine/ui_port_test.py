"""Port settings dialog under Wine: what it shows, the size fields' key filter and bounds,
folding, Cancel, OK with new settings (port reopened), and a port that can't be opened."""
import time

from uidrive import (SETTINGS_KEY, SM_CXSCREEN, SM_CYSCREEN, Program, Ui, check, profile_path, read_section,
                     reset_settings)
from winetest import main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
DLG = "ComPortDialog|TComDlgFm"
LISTS = ["PortBox", "BaudrateBox", "DatabitsBox", "ParityBox", "StopbitsBox"]
STORED = {"ComPort": 1, "BaudRate": 11, "Databits": 4, "Parity": 0, "Stopbits": 0,
          "InSize": 1000, "OutSize": 1000}


def open_dialog(ui):
    ui.ok("toolclick", MAIN, "ConSetupBtn")
    check(ui.wait(lambda: ui.find(DLG, 500) and ui.visible(DLG), 10), "the port dialog opens")


def chosen(ui):
    return [ui.text(DLG, name) for name in LISTS]


def height(ui):
    return ui.rect(DLG)[3]


def size_fields(ui):
    cases = [  # (field, action, text, expected)
        ("EditInput", "replace", "7", "10"),       # a single digit is raised to 10
        ("EditInput", "clear", None, "10000"),     # emptied: the fallback
        ("EditOutput", "replace", "3", "5"),
        ("EditOutput", "clear", None, "1000"),
        # Every keystroke is a change: "0" becomes 10 before the next digit arrives.
        ("EditInput", "replace", "0042", "10042"),
        ("EditInput", "replace", "12a-3", "1023"),  # letters and signs are swallowed
        ("EditInput", "paste", "999999", "999999"),
        ("EditInput", "type", "5", "999999"),      # at most 6 characters
    ]
    for field, action, text, expected in cases:
        args = [action, DLG, field] + ([text] if text is not None else [])
        ui.ok(*args)
        got = ui.text(DLG, field)
        check(got == expected, "%s %s %r shows %r (%r)" % (field, action, text, expected, got))


def dialog_and_ok(env, ui):
    # COM3 is wired to the same pty as COM1, so choosing it really reopens the line.
    env.set_port("COM3", env.com1_link)
    reset_settings(env, comport=STORED)
    # A stored place off the right and bottom edges is pulled back onto the screen.
    with open(profile_path(env), "w", newline="\r\n") as f:
        f.write("[ComDlgFm]\nLeft=5000\nTop=700\n")
    with Program(env, "port1", ["--unsolicited", "200:data:1:41"]) as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)  # keep the window from hiding
        open_dialog(ui)
        left, top, width, full = ui.rect(DLG)
        check(left == SM_CXSCREEN - width, "Left 5000 puts the dialog at the right edge (%d, w %d)" % (left, width))
        # Created unfolded (client 313 high): the bottom of that window sits on the screen edge.
        check(SM_CYSCREEN - 340 <= top <= SM_CYSCREEN - 313 - 20,
              "Top 700 is pulled up so the unfolded dialog fits (%d)" % top)
        # Moved low while folded, unfolding moves it up to keep the bottom on the screen.
        ui.ok("move", DLG, 300, 600)
        ui.ok("click", DLG, "SpeedSize")
        check(ui.wait(lambda: ui.rect(DLG)[1] == SM_CYSCREEN - 340, 3),
              "unfolding near the bottom moves the dialog up (%s)" % ui.rect(DLG))
        ui.ok("click", DLG, "SpeedSize")
        check(ui.wait(lambda: height(ui) == 254, 3), "SpeedSize folds in again")
        ui.ok("move", DLG, 20, 30)
        check(chosen(ui) == ["Com1", "57600", "8", "None", "1"], "shows the port's settings %s" % chosen(ui))
        c = ui.controls(DLG)
        check(c["EditInput"][1] == "1000" and c["EditOutput"][1] == "1000", "sizes 1000 and 1000")
        check(not c["EditInput"][3] and not c["BevelSizes"][3], "opens folded in")
        check(height(ui) == 254, "folded height 254 (%d)" % height(ui))
        check(c["PortBox"][2] == (104, 16, 89, c["PortBox"][2][3]), "PortBox at 104/16, 89 wide")
        ui.ok("click", DLG, "SpeedSize")
        check(ui.wait(lambda: height(ui) == 340, 3), "SpeedSize unfolds to 340")
        check(ui.controls(DLG)["EditOutput"][3], "the size fields are shown")
        size_fields(ui)

        # Cancel forgets the choices, and the next showing is folded again.
        for name, row in zip(LISTS, ["Com4", "110", "5", "Odd", "2"]):
            ui.ok("select", DLG, name, row)
        ui.ok("click", DLG, "CancelHelpBtn")
        check(ui.wait(lambda: not ui.visible(DLG), 3), "Cancel closes the dialog")
        open_dialog(ui)
        check(chosen(ui) == ["Com1", "57600", "8", "None", "1"], "after Cancel nothing changed %s" % chosen(ui))
        check(height(ui) == 254, "reopened folded in after closing unfolded")

        # Esc and the close box cancel too; Enter is OK.
        for how in ("esc", "closebox"):
            ui.ok("select", DLG, "PortBox", "Com4")
            if how == "esc":
                ui.ok("key", DLG, "OKBtn", 27)
            else:
                ui.ok("syscommand", DLG, 0xF060)
            check(ui.wait(lambda: not ui.visible(DLG), 3), "%s closes the dialog" % how)
            open_dialog(ui)
            check(ui.text(DLG, "PortBox") == "Com1", "%s changed nothing" % how)
        ui.ok("select", DLG, "BaudrateBox", "19200")
        ui.ok("key", DLG, "OKBtn", 13)
        check(ui.wait(lambda: not ui.visible(DLG), 3), "Enter closes the dialog")
        rc, _ = ui.run("box", "Fehler", "", 1500)
        check(rc != 0, "COM1 reopened without an error box")
        open_dialog(ui)
        check(ui.text(DLG, "BaudrateBox") == "19200", "Enter is OK: the new rate was taken")

        for name, row in zip(LISTS, ["Com3", "9600", "7", "Even", "2"]):
            ui.ok("select", DLG, name, row)
        ui.ok("click", DLG, "SpeedSize")
        ui.ok("paste", DLG, "EditInput", "999999")
        before = int(ui.text(MAIN, "RXLabel"))
        ui.ok("click", DLG, "OKBtn")
        check(ui.wait(lambda: not ui.visible(DLG), 3), "OK closes the dialog")
        rc, _ = ui.run("box", "Fehler", "", 1500)
        check(rc != 0, "COM3 opens without an error box")
        before, after = ui.counter_rises(MAIN, "RXLabel", before)
        check(after > before, "the reopened port receives again (%d -> %d)" % (before, after))
        ui.ok("syscommand", MAIN, 0xF060)
        check(prog.ended(20), "the close box ends the program")
    with open(profile_path(env)) as f:
        profile = f.read().replace("\r", "")
    check("[ComDlgFm]\nLeft=20\nTop=30" in profile, "the last place is written at the end: %r" % profile)
    got = read_section(env, "ComPort", list(STORED))
    want = {"ComPort": "3", "BaudRate": "6", "Databits": "3", "Parity": "2", "Stopbits": "2",
            "InSize": "999999", "OutSize": "1000"}
    check(got == want, "OK gave Port 2 (stored 3), BaudRate 6, DataBits 3, Parity 2, StopBits 2 %s" % got)
    env.set_port("COM3", None)


def port_that_cannot_open(env, ui):
    # COM2 names a device that isn't there.
    env.set_port("COM2", "/nonexistent/mvr-com2")
    reset_settings(env, comport=STORED)
    with Program(env, "port2") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        open_dialog(ui)
        ui.ok("select", DLG, "PortBox", "Com2")
        ui.ok("click", DLG, "OKBtn")
        ui.box("Fehler", "OK")  # the port layer's own error box
        text, buttons = ui.box("Information")
        check(text == "Der COM-Port konnte nicht geöffnet werden\rMöchten Sie einen Anderen wählen?",
              "the Yes/No question %r" % text)
        check(buttons == ["&Ja", "&Nein"], "German Yes/No buttons %s" % buttons)
        ui.box("Information", "&Ja")
        check(ui.wait(lambda: ui.find(DLG, 500) and ui.visible(DLG), 5), "Yes shows the dialog again")
        check(ui.text(DLG, "PortBox") == "Com2", "with the settings just chosen")
        ui.ok("click", DLG, "CancelHelpBtn")
        check(ui.wait(lambda: ui.visible(DLG), 5), "Cancel while the port is closed shows the dialog again")
        ui.ok("click", DLG, "OKBtn")
        ui.box("Fehler", "OK")
        ui.box("Information", "&Nein")
        check(prog.ended(20), "No ends the program")
    env.set_port("COM2", None)


def test(env):
    ui = Ui(env)
    dialog_and_ok(env, ui)
    port_that_cannot_open(env, ui)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
