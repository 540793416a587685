"""The program's end under Wine: told to end while the port dialog is up (from "Config" and
from a client's ShowSerialConnectionDlg), "Nein" to the retry question with a client alive,
and the end of the session."""
import time

from uidrive import (SETTINGS_KEY, Program, ScriptClient, Ui, check, program_exe, read_section, reset_settings,
                     scaled)
from winetest import main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
DLG = "ComPortDialog|TComDlgFm"
SC_CLOSE = 0xF060
WM_CLOSE = 0x0010
WM_QUERYENDSESSION, WM_ENDSESSION = 0x0011, 0x0016
RBUTTONDOWN = 516
STORED = {"ComPort": 1, "BaudRate": 11, "Databits": 4, "Parity": 0, "Stopbits": 0,
          "InSize": 1000, "OutSize": 1000}


def dialog_shown(ui):
    return ui.wait(lambda: ui.find(DLG, 500) and ui.visible(DLG), 10)


def ended(ui, prog, timeout):
    """Whether the program ended; if not, what is on the screen."""
    if prog.ended(timeout):
        return True
    print("still running; windows shown:\n" + ui.run("windows")[1], flush=True)
    return False


def ends_normally(env, ui, prog, started, what, limit=5.0):
    """The program ends by itself within limit seconds, with exit code 0 and the settings
    written (the test cleared them before)."""
    check(ended(ui, prog, limit + 10), "%s: the program ends" % what)
    took = time.time() - started
    print("%s: ended %.2f s after the request" % (what, took), flush=True)
    check(took <= scaled(limit), "%s: within %.0f s (%.2f s)" % (what, scaled(limit), took))
    check(prog.proc.returncode == 0, "%s: exit code 0 (%s)" % (what, prog.proc.returncode))
    pos = read_section(env, "WindowParams", ["Left", "Top"])
    port = read_section(env, "ComPort", ["ComPort"])
    check(pos["Left"] is not None and pos["Top"] is not None and port["ComPort"] == "1",
          "%s: position and serial settings written %s %s" % (what, pos, port))


def holding_client(env, name, then=""):
    """A client that holds an object and reports HasSerialConnection every 250 ms ("conn -1")."""
    return ScriptClient(env, name, then=then, report='"conn " & CInt(o.HasSerialConnection)')


def end_while_dialog_up(env, ui):
    # From "Config": the icon menu's "&Beenden", then a close sent to the main window (the
    # dialog disables it, so the close comes from outside, as a task manager sends it).
    for how in ("menu", "close"):
        reset_settings(env)
        with Program(env, "end-" + how) as prog:
            ui.find(MAIN)
            ui.ok("mouse", MAIN, 165, 112)
            ui.ok("toolclick", MAIN, "ConSetupBtn")
            check(dialog_shown(ui), "%s: the port dialog is up" % how)
            env.reset_settings()  # whatever is stored now was written by the end
            if how == "menu":
                ui.ok("tray", MAIN, RBUTTONDOWN)
                ui.ok("menu", "&Beenden")
            else:
                ui.ok("post", MAIN, WM_CLOSE)
            t0 = time.time()  # the request is made: the driver's own start is not the program's end
            ends_normally(env, ui, prog, t0, "%s with the dialog up" % how)

    # From a client's ShowSerialConnectionDlg: the object is alive, so the server asks first.
    reset_settings(env)
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    with Program(env, "end-client") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        client = holding_client(env, "dialog", then='o.ShowSerialConnectionDlg\nWScript.Echo "dialog returned"\n')
        try:
            check(ui.wait(lambda: client.has("created"), 20), "the client holds an object (%s)" % client.state())
            check(dialog_shown(ui), "ShowSerialConnectionDlg shows the port dialog")
            env.reset_settings()
            ui.ok("tray", MAIN, RBUTTONDOWN)
            ui.ok("menu", "&Beenden")
            ui.box("Warnung des COM-Servers", "&Ja")
            t0 = time.time()
            ends_normally(env, ui, prog, t0, "close during the client's dialog")
        finally:
            client.stop()


def no_to_retry_with_client(env, ui):
    """"Nein" to the retry question ends the program the main window's way: with an object
    alive the server's warning is asked, and declining keeps the program running."""
    env.set_port("COM2", "/nonexistent/mvr-com2")
    reset_settings(env, comport=STORED)
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    with Program(env, "end-retry") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        client = holding_client(env, "hold")
        try:
            check(ui.wait(lambda: client.last("conn ") == "conn -1", 20),
                  "the client sees the port open (%s)" % client.state())
            ui.ok("toolclick", MAIN, "ConSetupBtn")
            check(dialog_shown(ui), "the port dialog is up")
            ui.ok("select", DLG, "PortBox", "Com2")
            ui.ok("click", DLG, "OKBtn")
            ui.box("Fehler", "OK")
            ui.box("Information", "&Nein")
            text, buttons = ui.box("Warnung des COM-Servers", "&Nein")
            check(buttons == ["&Ja", "&Nein"], "\"Nein\" asks the server's warning first %s" % buttons)
            # The end took the icon away; declining puts it back as its last step.
            icon_back = ui.wait(lambda: prog.proc.poll() is not None or ui.tray_icon(MAIN), 5)
            check(prog.proc.poll() is None, "declined: the program keeps running")
            check(not ui.visible(DLG), "the dialog is not shown again")
            check(ui.wait(lambda: client.last("conn ") == "conn 0", 5),
                  "the client is told: HasSerialConnection false (%s)" % client.state())
            check(icon_back, "the icon is back")

            # The port can be chosen again; then the end is asked once more and accepted.
            ui.ok("toolclick", MAIN, "ConSetupBtn")
            check(dialog_shown(ui), "the port dialog opens again")
            ui.ok("select", DLG, "PortBox", "Com1")
            ui.ok("click", DLG, "OKBtn")
            check(ui.wait(lambda: client.last("conn ") == "conn -1", 5), "COM1 open again")
            ui.ok("toolclick", MAIN, "ConSetupBtn")
            check(dialog_shown(ui), "the port dialog is up")
            ui.ok("select", DLG, "PortBox", "Com2")
            ui.ok("click", DLG, "OKBtn")
            ui.box("Fehler", "OK")
            ui.box("Information", "&Nein")
            ui.box("Warnung des COM-Servers", "&Ja")
            t0 = time.time()
            check(ended(ui, prog, 15), "accepted: the program ends")
            print("retry declined then end accepted: ended %.2f s after" % (time.time() - t0), flush=True)
            check(prog.proc.returncode == 0, "exit code 0 (%s)" % prog.proc.returncode)
        finally:
            client.stop()
    env.set_port("COM2", None)


def session_end(env, ui):
    """A restarted shell gets the icon again; the end of the session ends the program as a
    close does, with the position and settings written and the icon gone, without asking."""
    reset_settings(env)
    with Program(env, "end-session") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        ui.ok("move", MAIN, 300, 200)
        check(ui.wait(lambda: ui.tray_icon(MAIN), 5), "the icon is there")
        ui.ok("untray", MAIN)
        check(not ui.tray_icon(MAIN), "the shell lost the icon")
        ui.ok("broadcast", "TaskbarCreated")
        check(ui.wait(lambda: ui.tray_icon(MAIN), 5), "\"TaskbarCreated\" adds the icon again")

        answer = ui.ok("send", MAIN, WM_QUERYENDSESSION, 0, 0).split()
        check(answer[0] == "1", "the session may end (%s)" % answer)
        env.reset_settings()
        t0 = time.time()
        answer = ui.ok("send", MAIN, WM_ENDSESSION, 1, 0).splitlines()
        check(answer[1] == "icon: 0", "the icon is gone when the end of the session is answered %s" % answer)
        ends_normally(env, ui, prog, t0, "end of the session")
    pos = read_section(env, "WindowParams", ["Left", "Top"])
    check(pos == {"Left": "300", "Top": "200"}, "the window's position is written %s" % pos)

    # The session ends while the server's warning is up: nobody answers it, the program ends.
    env.wine([program_exe(env), "/regserver"], timeout=60, check_rc=True)
    with Program(env, "end-session-box") as prog:
        ui.find(MAIN)
        ui.ok("mouse", MAIN, 165, 112)
        client = holding_client(env, "hold")
        try:
            check(ui.wait(lambda: client.has("created"), 20), "the client holds an object (%s)" % client.state())
            ui.ok("syscommand", MAIN, SC_CLOSE)
            ui.box("Warnung des COM-Servers")
            env.reset_settings()
            t0 = time.time()
            answer = ui.ok("send", MAIN, WM_ENDSESSION, 1, 0).splitlines()
            check(answer[1] == "icon: 0", "the icon is gone %s" % answer)
            ends_normally(env, ui, prog, t0, "end of the session during the warning")
        finally:
            client.stop()


def test(env):
    ui = Ui(env)
    session_end(env, ui)
    end_while_dialog_up(env, ui)
    no_to_retry_with_client(env, ui)
    env.reg_delete(SETTINGS_KEY)


if __name__ == "__main__":
    main_wrapper(test)
