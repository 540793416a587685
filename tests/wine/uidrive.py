"""The program's windows as a person works them: the UI driver (a Win32 program of ours)
finds windows, reads control texts, clicks, types and answers message boxes."""
import os
import subprocess
import tempfile
import time

from winetest import Failure, PtyPair, Simulator, check, scaled  # noqa: F401  (re-exported for the tests)

SETTINGS_KEY = r"HKCU\SOFTWARE\Brightloom\MVR Server"
SM_CXSCREEN = 1024
SM_CYSCREEN = 768


def program_exe(env):
    """The real program once it carries the windows; the windows' own start before that."""
    if os.environ.get("MVR_UI_EXE"):
        return os.environ["MVR_UI_EXE"]
    for rel in (os.path.join("app", "MVRServ.exe"), os.path.join("tools", "win32", "MVRServUi.exe")):
        if os.path.exists(env.exe(rel)):
            return env.exe(rel)
    raise Failure("no program found in " + env.win32_dir)


class Ui:
    def __init__(self, env):
        self.env = env
        self.driver = env.exe(os.path.join("tools", "win32", "uidriver", "uidriver.exe"))

    def run(self, *args, timeout=60):
        rc, out = self.env.wine([self.driver] + [str(a) for a in args], timeout=timeout)
        return rc, out.replace("\r", "")

    def ok(self, *args, **kw):
        rc, out = self.run(*args, **kw)
        if rc != 0:
            raise Failure("uidriver %s failed (%s): %s" % (" ".join(map(str, args)), rc, out.strip()))
        return out

    def find(self, win, timeout_ms=30000):
        """The window's handle as "#n", or None; by default as long as a program just started
        may take to make its window."""
        rc, out = self.run("find", win, int(scaled(timeout_ms)))
        return out.split()[0] if rc == 0 else None

    def visible(self, win):
        return self.ok("visible", win).strip() == "1"

    def tray_icon(self, win):
        """Whether the window's notification-area icon is there."""
        return self.ok("trayicon", win).strip() == "1"

    def rect(self, win):
        return [int(v) for v in self.ok("rect", win).split()]

    def text(self, win, ctrl):
        return self.ok("text", win, ctrl).rstrip("\n")

    def controls(self, win):
        """name -> (class, text, (x, y, w, h), visible)"""
        out = {}
        for line in self.ok("list", win).splitlines():
            parts = line.split("\t")
            if len(parts) >= 6 and parts[0] != "ToolButton":
                x, y, w, h = (int(v) for v in parts[3].split(","))
                out[parts[1]] = (parts[0], parts[2], (x, y, w, h), parts[4] == "1")
            elif parts and parts[0] == "ToolButton":
                out[parts[1]] = ("ToolButton", "", None, True)
        return out

    def box(self, caption, button="", timeout_ms=10000):
        """Waits for a message box; returns (text, [buttons]) and presses button when given."""
        rc, out = self.run("box", caption, button, int(scaled(timeout_ms)))
        if rc != 0:
            raise Failure("no message box %r (%s)" % (caption, out.strip()))
        text, buttons = "", []
        for line in out.splitlines():
            if line.startswith("text: "):
                text = line[6:].replace("\\r", "\r").replace("\\n", "\n")
            elif line.startswith("buttons:"):
                buttons = [b.strip("[]") for b in line[8:].split("] [")]
                buttons = [b.strip(" []") for b in buttons]
        return text, buttons

    def box_facts(self, caption, timeout_ms=10000):
        """A message box's owner ("#handle", "#0" for none) and whether it is the foreground
        window, without answering it."""
        rc, out = self.run("box", caption, "", int(scaled(timeout_ms)))
        if rc != 0:
            raise Failure("no message box %r (%s)" % (caption, out.strip()))
        facts = dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)
        return facts.get("owner"), facts.get("foreground") == "1"

    def handle(self, win):
        """A window's handle as "#n", shown or hidden."""
        found = self.find(win)
        if not found:
            raise Failure("no window %r" % win)
        return found

    def counter_rises(self, win, ctrl, before=None, timeout=5.0):
        """Waits for a counter to pass before (default: the value it shows now); returns
        (before, the value last seen)."""
        if before is None:
            before = int(self.text(win, ctrl))
        seen = [before]

        def risen():
            seen[0] = int(self.text(win, ctrl))
            return seen[0] > before
        self.wait(risen, timeout)
        return before, seen[0]

    def wait(self, cond, timeout=10.0, step=0.2):
        """Polls cond until it holds; timeout is scaled for slow machines."""
        deadline = time.time() + scaled(timeout)
        while time.time() < deadline:
            if cond():
                return True
            time.sleep(step)
        return cond()


class Program:
    """The program under Wine with COM1 on a fresh pty (or none) and the simulator."""

    def __init__(self, env, name, sim_args=(), with_pty=True):
        self.env = env
        self.name = name
        self.sim_args = list(sim_args)
        self.with_pty = with_pty
        self.proc = None
        self.pty = None
        self.sim = None
        self.log = os.path.join(env.build_dir, "ui-%s.log" % name)

    def __enter__(self):
        if self.with_pty:
            self.pty = PtyPair(self.env, self.name).__enter__()
            self.sim = Simulator(self.env, self.pty, self.sim_args, self.name).__enter__()
        else:
            if os.path.lexists(self.env.com1_link):
                os.unlink(self.env.com1_link)
        self.proc = self.env.start([program_exe(self.env)], self.log)
        return self

    def ended(self, timeout=15):
        try:
            self.proc.wait(timeout=scaled(timeout))
            return True
        except subprocess.TimeoutExpired:
            return False

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        self.env.end_all(timeout=20)
        if self.sim:
            self.sim.__exit__(*exc)
        if self.pty:
            self.pty.__exit__(*exc)


class ScriptClient:
    """A VBScript client in its own process that holds an automation object (its events go to
    the script's mvr_ procedures): it runs setup, prints "created", runs then, and prints
    report every 250 ms until the test stops it, however long the test takes."""

    def __init__(self, env, name, setup="", then="", report='"alive"', procedures=""):
        self.work = tempfile.mkdtemp(prefix="ui-client-")
        self.out = os.path.join(self.work, "out.txt")
        script = os.path.join(self.work, name + ".vbs")
        with open(script, "w") as f:
            f.write(procedures + 'Set o = WScript.CreateObject("MVR_Server.MVR_AutoServ", "mvr_")\n' + setup +
                    'WScript.Echo "created"\n' + then +
                    'Do\n  WScript.Echo %s\n  WScript.Sleep 250\nLoop\n' % report)
        host = env.exe(os.path.join("tools", "win32", "scripthost", "mvrscript.exe"))
        self.proc = env.start([host, "Z:" + script.replace("/", "\\")], self.out)

    def lines(self):
        with open(self.out, errors="replace") as f:
            return [line.strip() for line in f]

    def has(self, text):
        return text in self.lines()

    def last(self, prefix):
        """The last line that starts with prefix, or None."""
        found = [line for line in self.lines() if line.startswith(prefix)]
        return found[-1] if found else None

    def state(self):
        """For a failure's message: whether the client runs, and what it printed last."""
        rc = self.proc.poll()
        lines = self.lines()
        return "client %s, %d lines, last %r" % ("running" if rc is None else "ended with %s" % rc, len(lines),
                                                 "\n".join(lines[-3:]))

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def reset_settings(env, window=None, comport=None):
    """Clears the program's registry key, then stores the given sections."""
    env.reset_settings()
    for section, values in (("WindowParams", window), ("ComPort", comport)):
        for name, value in (values or {}).items():
            env.reg_add(SETTINGS_KEY + "\\" + section, name, value)


def read_section(env, section, names):
    return {n: env.reg_query(SETTINGS_KEY + "\\" + section, n) for n in names}


def profile_path(env):
    base = os.path.splitext(os.path.basename(program_exe(env)))[0]
    return os.path.join(env.prefix, "drive_c", "windows", base + ".Ini")
