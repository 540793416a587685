"""Wine test bed: the project's own Wine prefix, a fresh pty pair per test with COM1 wired
to one end, the device simulator on the other, and Win32 programs run as real processes.

Output of Wine programs goes to files, never pipes: Wine's helper processes inherit pipes
and keep them open.
"""
import hashlib
import inspect
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

# Every wait of the Wine tests is a limit on how long a condition may take, never a fixed
# delay; on slow machines (the emulated guest is 4-6x slower) they all scale by this factor.
SLOW = max(1.0, float(os.environ.get("MVR_SLOW_FACTOR") or 1))


def scaled(seconds):
    return seconds * SLOW


class Failure(Exception):
    pass


def check(cond, what):
    if not cond:
        raise Failure(what)
    print("ok:", what, flush=True)


class WineEnv:
    """The prefix lives in the build folder, never in ~/.wine."""

    def __init__(self, build_dir=None, win32_dir=None, host_dir=None, arch=None):
        self.build_dir = os.path.abspath(build_dir or os.environ.get("MVR_BUILD", os.path.join(ROOT, "build")))
        # Machines that cannot execute 32-bit x86 code run the x86_64 build of the same
        # sources under 64-bit Wine; scripts/wine-arch.sh decides unless told (the 32-bit set
        # in the test guest says win32).
        self.arch = arch or os.environ.get("MVR_WINE_ARCH") or subprocess.run(
            [os.path.join(ROOT, "scripts", "wine-arch.sh")], capture_output=True, text=True).stdout.strip()
        # "wow64": a 64-bit prefix that runs the 32-bit program (Wine's WoW64) for 64-bit clients.
        self.win32_dir = os.path.abspath(win32_dir or os.path.join(
            self.build_dir, "win64" if self.arch == "win64" else "win32"))
        self.loader = "/usr/lib/wine/wine" if self.arch == "win32" else "/usr/lib/wine/wine64"
        self.host_dir = os.path.abspath(host_dir or os.path.join(self.build_dir, "host"))
        self.prefix = os.path.join(self.build_dir, "wineprefix-" + self.arch)
        # COM1 points here for good; each test makes this link name a fresh pty.
        self.com1_link = os.path.join(self.build_dir, "com1")
        # A wineserver kept running between programs (`wineserver -p`) saves most of Wine's
        # start-up on slow machines; then "all ended" means the prefix's programs, not the server.
        self.persistent = os.environ.get("MVR_WINESERVER_PERSISTENT") == "1"
        self.env = dict(os.environ)
        self.env.update({
            "WINEPREFIX": self.prefix,
            "WINEARCH": "win32" if self.arch == "win32" else "win64",
            "WINELOADER": self.loader,
            "WINEDEBUG": os.environ.get("WINEDEBUG", "-all"),
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
        })

    def exe(self, relpath):
        return os.path.join(self.win32_dir, relpath)

    def wine(self, args, timeout=120, out=None, check_rc=False):
        """Runs a Wine program to its end; returns (rc, output text)."""
        timeout = scaled(timeout)
        fd, path = tempfile.mkstemp(prefix="wineout", suffix=".txt")
        os.close(fd)
        try:
            with open(path, "wb") as f:
                p = subprocess.Popen([self.loader] + list(args), env=self.env, stdout=f, stderr=subprocess.STDOUT,
                                     stdin=subprocess.DEVNULL)
                try:
                    rc = p.wait(timeout=timeout)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
                    rc = None
            with open(path, "rb") as f:
                text = f.read().decode("utf-8", "replace")
        finally:
            os.unlink(path)
        if out:
            with open(out, "w") as f:
                f.write(text)
        if check_rc and rc != 0:
            raise Failure("%s exited with %s:\n%s" % (args, rc, text))
        return rc, text

    def start(self, args, log_path):
        """Starts a Wine program in the background, its output in log_path."""
        f = open(log_path, "wb")
        p = subprocess.Popen([self.loader] + list(args), env=self.env, stdout=f, stderr=subprocess.STDOUT,
                             stdin=subprocess.DEVNULL)
        f.close()
        return p

    def finish(self, proc, log_path, timeout=90):
        """Waits for a program start() began; kills it after timeout. Returns (rc, its output)."""
        try:
            rc = proc.wait(timeout=scaled(timeout))
        except subprocess.TimeoutExpired:
            proc.kill()
            rc = proc.wait()
        with open(log_path, errors="replace") as f:
            return rc, f.read()

    def wineserver(self, *args):
        subprocess.run(["/usr/lib/wine/wineserver"] + list(args), env=self.env, check=False)

    def start_server(self):
        """Starts the persistent wineserver when asked for one (MVR_WINESERVER_PERSISTENT=1)."""
        if self.persistent:
            with open(os.path.join(self.build_dir, "wineserver.log"), "ab") as log:
                subprocess.run(["/usr/lib/wine/wineserver", "-p"], env=self.env, stdout=log, stderr=log,
                               stdin=subprocess.DEVNULL, check=False)

    def restart_server(self):
        """Ends every program of the prefix and the wineserver with its services; starts a new
        persistent one where one is kept. Wine's COM service keeps the class object of a server
        that was killed and hands it to the next client, whose creation then fails ("ActiveX
        component can't create object"): after a kill only a new wineserver serves again."""
        self.wineserver("-k")
        self.wineserver("-w")
        self.start_server()

    def reg_add(self, key, name, value, kind="REG_SZ"):
        self.wine(["reg", "add", key, "/v", name, "/t", kind, "/d", str(value), "/f"], check_rc=True)

    def reg_delete(self, key, name=None):
        args = ["reg", "delete", key, "/f"] if name is None else ["reg", "delete", key, "/v", name, "/f"]
        self.wine(args)

    def reg_query(self, key, name=None):
        """Returns the value's data as text, or None when it is missing."""
        args = ["reg", "query", key] + (["/v", name] if name else [])
        rc, text = self.wine(args)
        if rc != 0:
            return None
        if name is None:
            return text
        for line in text.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].lower() == name.lower():
                return parts[2].strip() if len(parts) == 3 else ""
        return None

    def set_port(self, name, target):
        """Maps a COM port name to a device path (None: removes the mapping). Wine's device
        manager reads the mapping when the wineserver starts, so this ends every program of
        the prefix and, where the wineserver is kept running, starts a new one."""
        if target is None:
            self.reg_delete(r"HKLM\Software\Wine\Ports", name)
        else:
            self.reg_add(r"HKLM\Software\Wine\Ports", name, target)
        self.end_all()
        if self.persistent:
            self.restart_server()

    def reset_settings(self):
        """Forgets the program's stored settings, so a test starts from the built-in ones."""
        self.reg_delete(r"HKCU\SOFTWARE\Brightloom\MVR Server")

    def recipe_key(self):
        """What a made prefix depends on: the steps that make it, Wine's version, its place
        and where COM1 points. A prefix made otherwise is made again."""
        version = subprocess.run([self.loader, "--version"], capture_output=True, text=True).stdout
        text = (inspect.getsource(WineEnv.ensure_prefix) + inspect.getsource(wine_font_dir) + version
                + self.prefix + self.com1_link)
        return hashlib.sha256(text.encode()).hexdigest()

    def ensure_prefix(self):
        marker = os.path.join(self.prefix, ".mvr-ready")
        key = self.recipe_key()
        if os.path.exists(marker) and open(marker).read().strip() == key:
            return
        fonts = wine_font_dir(self.loader)
        if not fonts:
            raise Failure("Wine's own fonts (marlett.ttf) are missing: install fonts-wine")
        if os.path.exists(self.prefix):
            self.wineserver("-k")
            shutil.rmtree(self.prefix)
        os.makedirs(self.build_dir, exist_ok=True)
        t0 = time.time()
        self.wine(["wineboot", "--init"], timeout=400)
        self.wineserver("-w")
        windows_fonts = os.path.join(self.prefix, "drive_c", "windows", "Fonts")
        os.makedirs(windows_fonts, exist_ok=True)
        for name in os.listdir(fonts):
            if not os.path.exists(os.path.join(windows_fonts, name)):
                shutil.copy2(os.path.join(fonts, name), windows_fonts)
        # Virtual desktop: without a window manager destroying a shown window costs ~2 s.
        self.reg_add(r"HKCU\Software\Wine\Explorer", "Desktop", "Default")
        self.reg_add(r"HKCU\Software\Wine\Explorer\Desktops", "Default", "1024x768")
        self.reg_add(r"HKCU\Software\Wine\WineDbg", "ShowCrashDialog", 0, "REG_DWORD")
        self.reg_add(r"HKLM\Software\Wine\Ports", "COM1", self.com1_link)
        self.wineserver("-k")
        self.wineserver("-w")
        with open(marker, "w") as f:
            f.write(key + "\n")
        print("wine prefix ready in %.1f s" % (time.time() - t0), flush=True)

    def programs(self, name=None):
        """Process ids of the prefix's programs, without the wineserver and Wine's own
        services, which a persistent wineserver keeps; only those of one program file
        (like "mvrserv.exe") when name is given."""
        pids = []
        for pid in os.listdir("/proc"):
            if not pid.isdigit():
                continue
            try:
                exe = os.path.basename(os.readlink("/proc/%s/exe" % pid))
                with open("/proc/%s/environ" % pid, "rb") as f:
                    environ = f.read().split(b"\0")
                with open("/proc/%s/cmdline" % pid, "rb") as f:
                    cmdline = f.read().split(b"\0")[0].decode("utf-8", "replace")
            except OSError:
                continue
            if not exe.startswith("wine") or exe.startswith("wineserver"):
                continue
            if ("WINEPREFIX=" + self.prefix).encode() not in environ:
                continue
            program = cmdline.replace("\\", "/").rsplit("/", 1)[-1].lower()
            if program in WINE_SERVICES or (name and program != name.lower()):
                continue
            pids.append(int(pid))
        return pids

    def end_all(self, timeout=30):
        """Waits for every process of the prefix; kills what is left after timeout.
        Returns True when everything ended by itself."""
        timeout = scaled(timeout)
        if self.persistent:
            deadline = time.time() + timeout
            while self.programs():
                if time.time() > deadline:
                    self.restart_server()
                    return False
                time.sleep(0.1)
            return True
        p = subprocess.Popen(["/usr/lib/wine/wineserver", "-w"], env=self.env)
        try:
            p.wait(timeout=timeout)
            return True
        except subprocess.TimeoutExpired:
            self.wineserver("-k")
            p.wait()
            return False


def wine_font_dir(loader):
    """Wine's own fonts: Marlett draws the caption buttons, Courier and Tahoma are faces that
    programs ask for. Wine looks for them in its data folder, which it names from the
    loader's ("/usr/lib/wine/../../share/wine" on Debian), and a folder named with ".." is
    never opened, so a prefix has none of them. They are found in the prefix's own font
    folder (C:\\windows\\Fonts), the only place from which Wine also takes the bitmap fonts
    that its font list names (Courier is coure.fon): the prefix gets copies there."""
    for rel in (("..", "..", "share", "wine", "fonts"), ("..", "share", "wine", "fonts")):
        folder = os.path.realpath(os.path.join(os.path.dirname(loader), *rel))
        if os.path.isfile(os.path.join(folder, "marlett.ttf")):
            return folder
    return None


# Wine's own processes that a persistent wineserver keeps running between programs.
WINE_SERVICES = {"services.exe", "winedevice.exe", "plugplay.exe", "svchost.exe", "rpcss.exe", "explorer.exe"}


class PtyPair:
    """A fresh socat pty pair: one end where COM1 points, the other for the simulator."""

    def __init__(self, env, name="dev"):
        self.com_end = env.com1_link
        self.dev_end = os.path.join(env.build_dir, "pty-" + name)
        self.proc = None

    def __enter__(self):
        for path in (self.com_end, self.dev_end):
            if os.path.lexists(path):
                os.unlink(path)
        self.proc = subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + self.com_end, "pty,raw,echo=0,link=" + self.dev_end],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + scaled(10)
        while not (os.path.exists(self.com_end) and os.path.exists(self.dev_end)):
            if time.time() > deadline or self.proc.poll() is not None:
                raise Failure("socat did not create the pty pair")
            time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait()


class Simulator:
    """The device simulator on the far pty end, logging decoded frames and raw bytes."""

    def __init__(self, env, pty, args=(), name="sim"):
        self.exe = os.path.join(env.host_dir, "tools", "mvrsim", "mvrsim")
        self.pty = pty
        self.args = list(args)
        self.workdir = tempfile.mkdtemp(prefix="mvrsim-" + name + "-")
        self.log = os.path.join(self.workdir, "frames.log")
        self.raw_log = os.path.join(self.workdir, "raw.log")
        self.proc = None

    def __enter__(self):
        self.proc = subprocess.Popen([self.exe, "--port", self.pty.dev_end, "--log", self.log,
                                      "--raw-log", self.raw_log] + self.args,
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=open(os.path.join(self.workdir, "stderr.log"), "wb"))
        deadline = time.time() + scaled(5)
        while not os.path.exists(self.log) and time.time() < deadline:
            time.sleep(0.02)
        return self

    def __exit__(self, *exc):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(timeout=scaled(5))
            except subprocess.TimeoutExpired:
                self.proc.kill()
        if exc[0] is None:
            shutil.rmtree(self.workdir, ignore_errors=True)
        else:
            print("simulator logs kept in", self.workdir, file=sys.stderr)

    def frames(self):
        with open(self.log) as f:
            return [line.rstrip("\n") for line in f if line.strip()]

    def raw_bytes(self):
        """Every byte the simulator received, in order."""
        data = bytearray()
        if os.path.exists(self.raw_log):
            with open(self.raw_log) as f:
                for line in f:
                    data.extend(bytes.fromhex("".join(line.split()[-1:]) if False else line.replace(" ", "").strip()))
        return bytes(data)


def main_wrapper(test):
    """Runs test(env) and turns a Failure into exit code 1 with its message."""
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=None)
    ap.add_argument("--win32", default=None)
    ap.add_argument("--host", default=None)
    ap.add_argument("--arch", choices=("win32", "win64", "wow64"), default=None, help="default: scripts/wine-arch.sh")
    args = ap.parse_args()
    env = WineEnv(args.build, args.win32, args.host, args.arch)
    env.ensure_prefix()
    report(lambda: test(env))


def report(body, finally_=None):
    """Runs body() and prints PASSED; a Failure ends the process with exit code 1 and its
    message. finally_ runs in either case (a test with a prefix of its own ends its wineserver)."""
    try:
        body()
    except Failure as e:
        print("FAILED:", e, flush=True)
        sys.exit(1)
    finally:
        if finally_:
            finally_()
    print("PASSED", flush=True)


if __name__ == "__main__":
    # `winetest.py --init`: creates the prefix (the fixture every Wine test needs).
    if "--init" in sys.argv:
        sys.argv.remove("--init")
        main_wrapper(lambda env: None)
