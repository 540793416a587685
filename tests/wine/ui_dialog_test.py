"""The port dialog and the message boxes under Wine: owned by the main window (also a hidden
one) and brought to the front, Enter on the focused button, and the dialog's stored place
read with the program's integer rules."""
import os
import tempfile

from uidrive import (SETTINGS_KEY, Program, Ui, check, profile_path, program_exe, reset_settings)
from winetest import main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
DLG = "ComPortDialog|TComDlgFm"
VK_TAB, VK_RETURN = 9, 13
STORED = {"ComPort": 1, "BaudRate": 11, "Databits": 4, "Parity": 0, "Stopbits": 0,
          "InSize": 1000, "OutSize": 1000}


def dialog_shown(ui):
    return ui.wait(lambda: ui.find(DLG, 500) and ui.visible(DLG), 10)


def foreground(ui):
    return ui.ok("foreground").split()[0]


def owned_by_hidden_main(env, ui):
    """A client opens the port set-up while the main window is hidden in the notification
    area and another program is in front: the dialog and the boxes belong to the main window
    and come to the front."""
    env.set_port("COM2", "/nonexistent/mvr-com2")
    reset_settings(env, comport=STORED)
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    work = tempfile.mkdtemp(prefix="ui-dialog-")
    script = os.path.join(work, "setup.vbs")
    with open(script, "w") as f:
        f.write('Set o = WScript.CreateObject("MVR_Server.MVR_AutoServ", "mvr_")\n'
                'o.ShowSerialConnectionDlg\nWScript.Echo "returned " & CInt(o.HasSerialConnection)\n')
    out = os.path.join(work, "out.txt")
    with Program(env, "dialog1") as prog:
        main = ui.handle(MAIN)
        check(ui.wait(lambda: ui.find(MAIN, 500) and not ui.visible(MAIN), 15), "the main window hides itself")
        other = env.start(["notepad"], os.path.join(work, "notepad.txt"))
        try:
            check(ui.wait(lambda: ui.find("*|Notepad", 500) and foreground(ui) == ui.find("*|Notepad", 500), 20),
                  "another program is in front")
            host = env.exe(os.path.join("tools", "win32", "scripthost", "mvrscript.exe"))
            client = env.start([host, "Z:" + script.replace("/", "\\")], out)
            check(dialog_shown(ui), "the client's ShowSerialConnectionDlg shows the dialog")
            dlg = ui.handle(DLG)
            check(ui.ok("owner", DLG).strip() == main, "the dialog is owned by the main window")
            check(ui.wait(lambda: foreground(ui) == dlg, 5), "the dialog comes to the front (%s)" % foreground(ui))

            ui.ok("select", DLG, "PortBox", "Com2")
            ui.ok("click", DLG, "OKBtn")
            owner, front = ui.box_facts("Fehler")
            check(owner == main, "the port's error box is owned by the hidden main window (%s)" % owner)
            check(front, "the error box is in front")
            ui.box("Fehler", "OK")
            owner, front = ui.box_facts("Information")
            check(owner == main and front, "the retry question too: owner %s, in front %s" % (owner, front))
            ui.box("Information", "&Ja")
            check(dialog_shown(ui), "Yes shows the dialog again")
            ui.ok("select", DLG, "PortBox", "Com1")
            ui.ok("click", DLG, "OKBtn")
            check(ui.wait(lambda: "returned -1" in open(out, errors="replace").read(), 10),
                  "COM1 opens and the client's call returns")
            client.wait()
        finally:
            other.kill()
            other.wait()
        ui.ok("tray", MAIN, 516)
        ui.ok("menu", "&Beenden")
        check(prog.ended(20), "the program ends")
    env.set_port("COM2", None)


def enter_and_place(env, ui):
    reset_settings(env)
    # Not numbers: both give the default place 10, 10 (the system's reading gave 0 and 500).
    with open(profile_path(env), "w", newline="\r\n") as f:
        f.write("[ComDlgFm]\nLeft=abc\nTop=500x\n")
    with Program(env, "dialog2") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        ui.ok("toolclick", MAIN, "ConSetupBtn")
        check(dialog_shown(ui), "the port dialog opens")
        left, top = ui.rect(DLG)[:2]
        check((left, top) == (10, 10), "\"abc\" and \"500x\" place the dialog at 10, 10 (%d, %d)" % (left, top))

        rate = ui.text(DLG, "BaudrateBox")
        check(ui.ok("focus", DLG).strip() == "OKBtn", "OK has the focus when shown")
        check(ui.ok("defid", DLG).strip() == "OKBtn", "OK is the default button")
        ui.ok("select", DLG, "BaudrateBox", "19200")
        ui.ok("key", DLG, "OKBtn", VK_TAB)
        check(ui.wait(lambda: ui.ok("focus", DLG).strip() == "CancelHelpBtn", 3), "Tab moves to \"Abbrechen\"")
        check(ui.ok("defid", DLG).strip() == "CancelHelpBtn", "the focused button is the default now")
        ui.ok("key", DLG, "CancelHelpBtn", VK_RETURN)
        check(ui.wait(lambda: not ui.visible(DLG), 3), "Enter closes the dialog")
        ui.ok("toolclick", MAIN, "ConSetupBtn")
        check(dialog_shown(ui), "the port dialog opens again")
        check(ui.text(DLG, "BaudrateBox") == rate, "Enter on \"Abbrechen\" cancelled (%s, was %s)"
              % (ui.text(DLG, "BaudrateBox"), rate))

        # The focus on a list: OK is the default again.
        ui.ok("select", DLG, "BaudrateBox", "19200")
        ui.ok("key", DLG, "OKBtn", VK_TAB)
        ui.ok("key", DLG, "CancelHelpBtn", VK_TAB)
        check(ui.wait(lambda: ui.ok("focus", DLG).strip() == "PortBox", 3), "Tab moves on to the port list")
        check(ui.ok("defid", DLG).strip() == "OKBtn", "no button has the focus: OK is the default")
        ui.ok("key", DLG, "PortBox", VK_RETURN)
        check(ui.wait(lambda: not ui.visible(DLG), 3), "Enter closes the dialog")
        ui.ok("toolclick", MAIN, "ConSetupBtn")
        check(dialog_shown(ui), "the port dialog opens again")
        check(ui.text(DLG, "BaudrateBox") == "19200", "Enter on the list is OK (%s)" % ui.text(DLG, "BaudrateBox"))
        ui.ok("click", DLG, "CancelHelpBtn")
        check(ui.wait(lambda: not ui.visible(DLG), 3), "Cancel closes the dialog")
        ui.ok("syscommand", MAIN, 0xF060)
        check(prog.ended(20), "the program ends")


def test(env):
    ui = Ui(env)
    enter_and_place(env, ui)
    owned_by_hidden_main(env, ui)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
