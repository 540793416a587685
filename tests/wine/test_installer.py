"""The release package and its installer, as a user gets them: scripts/package.sh makes the
installer and the zip, and the real installer runs in a fresh prefix of its own: silent
install, the installed server started by COM for the installed VBScript sample, the
uninstaller refusing while the server runs, an update over the installed version, and the
silent uninstall that leaves the user's settings alone."""
import os
import re
import shutil
import subprocess
import sys
import time
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from uidrive import Ui  # noqa: E402
from winetest import ROOT, PtyPair, Simulator, WineEnv, check, report, scaled  # noqa: E402

INSTALL_DIR = r"C:\Program Files\MVR Server"
UNINST_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\MVR Server"
SETTINGS_KEY = r"HKCU\SOFTWARE\Brightloom\MVR Server"
START_MENU = "ProgramData/Microsoft/Windows/Start Menu/Programs/MVR Server"
EXIT_FAILED = 2


def win_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def idl_guids():
    """name -> GUID of the library, the interfaces and the class, from the one IDL."""
    with open(os.path.join(ROOT, "automation", "MVR_Server.idl"), encoding="utf-8") as f:
        idl = f.read()
    found = re.findall(r"uuid\(([0-9A-Fa-f-]{36})\)[^\]]*\]\s*(?:interface|dispinterface|library|coclass)\s+(\w+)",
                       idl)
    return {name: "{" + guid.upper() + "}" for guid, name in found}


class Installed:
    """The installation in the test's own prefix, seen from Linux and through reg.exe."""

    def __init__(self, env, win_dir=INSTALL_DIR):
        self.env = env
        self.win_dir = win_dir
        self.dir = os.path.join(env.prefix, "drive_c", *win_dir[3:].split("\\"))
        self.exe = os.path.join(self.dir, "MVRServ.exe")
        self.guids = idl_guids()

    def files(self):
        out = set()
        for root, _, names in os.walk(self.dir):
            for n in names:
                out.add(os.path.relpath(os.path.join(root, n), self.dir).replace(os.sep, "/"))
        return out

    def unix_path(self, win):
        rc, out = self.env.wine(["winepath", "-u", win])
        return out.strip().splitlines()[-1] if rc == 0 and out.strip() else ""

    def registration(self):
        """The keys the server writes for itself: name -> default value (None when missing)."""
        g = self.guids
        clsid, libid = g["MVR_AutoServ"], g["MVR_Server"]
        d = self.default
        return {
            "ProgID": d(r"HKCR\MVR_Server.MVR_AutoServ\Clsid"),
            "CLSID": d("HKCR\\CLSID\\" + clsid),
            "LocalServer32": d("HKCR\\CLSID\\" + clsid + "\\LocalServer32"),
            "TypeLib": self.env.reg_query("HKCR\\TypeLib\\" + libid),
            "TypeLib path": d("HKCR\\TypeLib\\" + libid + "\\1.0\\0\\" + self.platform_key()),
            "Interface IMVRqmz_trx": self.env.reg_query("HKCR\\Interface\\" + g["IMVRqmz_trx"]),
            "Interface IMVRqmz_trxEvents": self.env.reg_query("HKCR\\Interface\\" + g["IMVRqmz_trxEvents"]),
        }

    def default(self, key):
        """A key's default value; None when the key is missing."""
        rc, text = self.env.wine(["reg", "query", key, "/ve"])
        if rc != 0:
            return None
        for line in text.splitlines():
            parts = line.split(None, 2)
            if len(parts) >= 2 and parts[0].startswith("(") and parts[1].startswith("REG_"):
                return parts[2].strip() if len(parts) == 3 else ""
        return ""

    def platform_key(self):
        return "win32" if self.env.arch == "win32" else "win64"

    def uninstall_entry(self):
        text = self.env.reg_query(UNINST_KEY)
        if text is None:
            return None
        entry = {}
        for line in text.splitlines():
            parts = line.split(None, 2)
            if len(parts) == 3 and parts[1].startswith("REG_"):
                entry[parts[0]] = parts[2].strip()
        return entry

    def bat(self, name, line):
        """A batch file running one command line exactly as written (Wine would quote an
        argument with blanks, and the uninstaller takes "_?=" only unquoted)."""
        with open(os.path.join(self.env.prefix, "drive_c", name), "w") as f:
            f.write("@" + line + "\r\n@exit /b %ERRORLEVEL%\r\n")
        return ["cmd", "/c", "C:\\" + name]

    def run_bat(self, name, line, timeout=120):
        """Runs one command line exactly as written; returns its exit code and output."""
        return self.env.wine(self.bat(name, line), timeout=timeout)


def wizard_with(ui, button):
    """The handle ("#n") of the visible dialog window that shows this button enabled, or None.
    Installer, uninstaller and their message boxes are all dialogs: the button tells them apart."""
    rc, out = ui.run("windows")
    for line in out.splitlines() if rc == 0 else []:
        handle, _, rest = line.partition("\t")
        if not rest.split("\t")[0].endswith("|#32770"):
            continue
        rc, controls = ui.run("list", handle)
        if rc == 0 and any(c.startswith("Button\t\t%s\t" % button) and c.endswith("\t1\t1")
                           for c in controls.splitlines()):
            return handle
    return None


def page_with(ui, button, what, timeout=60):
    """Waits for the wizard page with this button; returns its window."""
    found = []
    check(ui.wait(lambda: found.append(wizard_with(ui, button)) or found[-1], timeout=timeout), what)
    return found[-1]


def click_when_shown(ui, button, what, timeout=60):
    ui.ok("click", page_with(ui, button, what, timeout), button)


def settings_snapshot(env):
    ini = os.path.join(env.prefix, "drive_c", "windows", "MVRServ.Ini")
    with open(ini, "rb") as f:
        ini_text = f.read()
    return env.reg_query(SETTINGS_KEY + r"\ComPort", "InSize"), env.reg_query(SETTINGS_KEY + r"\Probe"), ini_text


def fresh_prefix(env):
    """A prefix of the test's own, made new every run: the installer meets a clean system."""
    env.prefix = os.path.join(env.build_dir, "wineprefix-installer-" + env.arch)
    env.env["WINEPREFIX"] = env.prefix
    if os.path.exists(env.prefix):
        env.wineserver("-k")
        shutil.rmtree(env.prefix)
    env.ensure_prefix()
    env.start_server()


def package_paths(out_dir):
    """The version, the installer and the zip that package.sh makes in out_dir."""
    version = open(os.path.join(ROOT, "VERSION")).read().strip()
    return (version, os.path.join(out_dir, "MVRServ-%s-setup.exe" % version),
            os.path.join(out_dir, "MVRServ-%s.zip" % version))


def make_package(env, out_dir):
    shutil.rmtree(out_dir, ignore_errors=True)
    p = subprocess.run([os.path.join(ROOT, "scripts", "package.sh"), env.win32_dir, out_dir],
                       capture_output=True, text=True)
    print(p.stdout + p.stderr, flush=True)
    check(p.returncode == 0, "package.sh makes the package from %s" % env.win32_dir)
    version, setup, zip_path = package_paths(out_dir)
    check(os.path.isfile(setup) and os.path.isfile(zip_path), "setup.exe and zip are named with version " + version)
    with zipfile.ZipFile(zip_path) as z:
        names = {n[len("MVR Server/"):] for n in z.namelist() if not n.endswith("/")}
        check(all(n.startswith("MVR Server/") for n in z.namelist()), "the zip holds one folder \"MVR Server\"")
        readme = z.read("MVR Server/LiesMich.txt").decode("cp1252")
    check("MVR Server " + version in readme and "\r\n" in readme and "@VERSION@" not in readme,
          "LiesMich.txt names the version, has CRLF line ends")
    for needle in (r"HKEY_CURRENT_USER\SOFTWARE\Brightloom\MVR Server", "MVRServ.Ini", "MVR_Server.MVR_AutoServ",
                   "Port", "64-Bit-Office", "WithEvents"):
        check(needle in readme, "LiesMich.txt tells about %s" % needle)
    # A program built before VERSION changed must not go out under the new number.
    wrong = os.path.join(os.path.dirname(out_dir), "stage-wrong-version")
    p = subprocess.run([sys.executable, os.path.join(ROOT, "installer", "stage.py"), env.win32_dir, "9.8.7.6", wrong],
                       capture_output=True, text=True)
    check(p.returncode != 0 and "carries version %s" % version in p.stderr and not os.path.exists(wrong),
          "staging refuses a program whose version resource differs: " + p.stderr.strip())
    return version, setup, names


def test(env):
    guids = idl_guids()
    check(set(guids) >= {"MVR_AutoServ", "MVR_Server", "IMVRqmz_trx", "IMVRqmz_trxEvents"}, "GUIDs read from the IDL")
    version, setup, zip_files = make_package(env, os.path.join(env.build_dir, "installer-test", "dist"))
    product = os.path.join(env.build_dir, "win32")
    if os.path.abspath(env.win32_dir) != product and os.path.isfile(os.path.join(product, "app", "MVRServ.exe")):
        # The tests run the x86_64 stand-in; the 32-bit product must still package.
        p = subprocess.run([os.path.join(ROOT, "scripts", "package.sh"), product,
                            os.path.join(env.build_dir, "installer-test", "dist-win32")],
                           capture_output=True, text=True)
        check(p.returncode == 0 and "(x86-unicode)" in p.stdout, "the 32-bit product packages as x86-unicode")

    fresh_prefix(env)
    inst = Installed(env)
    ui = Ui(env)
    host = env.exe("tools/win32/scripthost/mvrscript.exe")

    # --- silent install
    t0 = time.time()
    rc, out = env.wine([setup, "/S"], timeout=180)
    check(rc == 0, "silent install ends with 0 (%.1f s) %s" % (time.time() - t0, out.strip()))
    env.end_all()
    files = inst.files()
    check(files == zip_files | {"uninst.exe"}, "installed files are the zip's plus uninst.exe: %s" % sorted(files))
    with open(inst.exe, "rb") as a, open(env.exe("app/MVRServ.exe"), "rb") as b:
        check(a.read() == b.read(), "MVRServ.exe installed unchanged")
    reg = inst.registration()
    print(reg, flush=True)
    check(reg["ProgID"] == guids["MVR_AutoServ"], "ProgID points at the class")
    check(reg["CLSID"] == "MVRqmz_trx Objekt", "class key with its description")
    for name in ("LocalServer32", "TypeLib path"):
        target = inst.unix_path(reg[name] or "")
        check(target and os.path.exists(target) and os.path.samefile(target, inst.exe),
              "%s points at the installed exe (%s)" % (name, reg[name]))
    check(reg["Interface IMVRqmz_trx"] is not None and reg["Interface IMVRqmz_trxEvents"] is not None,
          "interface keys registered")

    entry = inst.uninstall_entry()
    print(entry, flush=True)
    check(entry is not None, "uninstall entry exists")
    size_kb = sum(os.path.getsize(os.path.join(inst.dir, f)) for f in files) / 1024
    check(entry.get("DisplayName") == "MVR Server" and entry.get("DisplayVersion") == version
          and entry.get("Publisher") == "Brightloom", "DisplayName, DisplayVersion, Publisher")
    check(entry.get("DisplayIcon") == INSTALL_DIR + r"\MVRServ.exe,0", "DisplayIcon is the program's icon")
    check(entry.get("InstallLocation") == INSTALL_DIR, "InstallLocation")
    check(entry.get("UninstallString") == '"%s\\uninst.exe"' % INSTALL_DIR, "UninstallString quoted")
    check(entry.get("QuietUninstallString") == '"%s\\uninst.exe" /S' % INSTALL_DIR, "QuietUninstallString")
    check(entry.get("NoModify") == "0x1" and entry.get("NoRepair") == "0x1", "NoModify, NoRepair")
    estimated = int(entry.get("EstimatedSize", "0"), 16)
    check(abs(estimated - size_kb) <= 0.1 * size_kb + 4, "EstimatedSize %d KB for %d KB of files" % (estimated, size_kb))
    menu = os.path.join(env.prefix, "drive_c", START_MENU)
    check(sorted(os.listdir(menu)) == ["Beispiele.lnk", "LiesMich.lnk", "MVR Server deinstallieren.lnk",
                                       "MVR Server.lnk"], "Start-menu entries: program, samples, readme, uninstaller")

    # --- the installed VBScript sample against the installed server, started by COM
    env.reset_settings()
    with PtyPair(env) as pty, Simulator(env, pty) as sim:
        rc, out = env.wine([host, INSTALL_DIR + r"\Beispiele\client.vbs"], timeout=90)
        print(out, flush=True)
        check(rc == 0 and "Kanal 3 verbunden" in out, "installed VBScript sample connects channel 3")
        check('Receive: "A" (1 Zeichen: 41)' in out and 'Receive: "Hallo" (5 Zeichen: 48 61 6C 6C 6F)' in out,
              "installed sample gets both answers from the simulator")
        check(bytes.fromhex("13 41 52") in sim.raw_bytes(), "command frame on the wire")
        env.end_all()

    # --- the server running (started by COM for a client that holds it): nothing may be deleted
    work = os.path.join(env.build_dir, "installer-test")
    ready, stop = os.path.join(work, "holder.ready"), os.path.join(work, "holder.stop")
    for p in (ready, stop):
        if os.path.exists(p):
            os.unlink(p)
    holder = os.path.join(work, "holder.vbs")
    with open(holder, "w") as f:
        f.write('Set trx = WScript.CreateObject("MVR_Server.MVR_AutoServ")\r\n'
                'Set fso = CreateObject("Scripting.FileSystemObject")\r\n'
                'fso.CreateTextFile("%s").Close\r\n'
                'n = 0\r\n'
                'Do While Not fso.FileExists("%s") And n < 1200\r\n'
                '  WScript.Sleep 100\r\n  n = n + 1\r\nLoop\r\n'
                'Set trx = Nothing\r\n' % (win_path(ready), win_path(stop)))
    with PtyPair(env) as pty, Simulator(env, pty):
        holder_proc = env.start([host, win_path(holder)], os.path.join(work, "holder.log"))
        deadline = time.time() + scaled(60)
        while not os.path.exists(ready) and time.time() < deadline and holder_proc.poll() is None:
            time.sleep(0.1)
        check(os.path.exists(ready), "a client holds the installed server")
        try:
            before = inst.files()
            rc, _ = inst.run_bat("uninst-wait.bat", '"%s\\uninst.exe" /S _?=%s' % (INSTALL_DIR, INSTALL_DIR))
            check(rc == EXIT_FAILED and inst.files() == before,
                  "silent uninstall with the server running fails (%s) and deletes nothing" % rc)
            check(inst.registration()["LocalServer32"] is not None, "... and leaves the registration")
            rc, _ = env.wine([setup, "/S"], timeout=120)
            check(rc == EXIT_FAILED and inst.files() == before, "silent update with the server running fails (%s)" % rc)

            # Interactive: a German question with retry and cancel; retry asks again while it runs.
            uninst_ui = inst.bat("uninst-ui.bat", '"%s\\uninst.exe" _?=%s' % (INSTALL_DIR, INSTALL_DIR))
            uninst = env.start(uninst_ui, os.path.join(work, "uninst-ui.log"))
            text, buttons = ui.box("*", timeout_ms=30000)
            print("box:", text.replace("\r\n", " | "), buttons, flush=True)
            check("läuft noch" in text and INSTALL_DIR + r"\MVRServ.exe" in text and "Wiederholen" in text,
                  "the uninstaller says in German that the server runs")
            check(len(buttons) == 2, "two buttons: retry and cancel (%s)" % buttons)
            retry, cancel = buttons
            ui.box("*", retry)
            time.sleep(1)
            text2, _ = ui.box("*", timeout_ms=30000)
            check("läuft noch" in text2, "retry while the server still runs asks again")
            ui.box("*", cancel)
            rc = uninst.wait(timeout=scaled(60))
            check(rc == EXIT_FAILED and inst.files() == before, "cancel ends the uninstaller (%s), nothing deleted" % rc)

            # The user ends the server (its last client lets go) and retries: the uninstall goes on.
            uninst = env.start(uninst_ui, os.path.join(work, "uninst-ui.log"))
            ui.box("*", timeout_ms=30000)
        finally:
            open(stop, "w").close()
        check(holder_proc.wait(timeout=scaled(60)) == 0, "the client let go of the server")
        rc, out = ui.run("wait-gone", "MVR Server|TMVRServMainFm", int(scaled(30000)), timeout=60)
        check(rc == 0, "the server ended with its last client (%s)" % out.strip())
        # A second server process that a client started meanwhile may still wait a few
        # seconds for a client of its own; the uninstaller rightly counts it as running.
        check(ui.wait(lambda: not env.programs("mvrserv.exe"), 30), "no server process left")
        ui.box("*", retry)
        click_when_shown(ui, "&Deinstallieren", "after retry the uninstaller's confirmation page")
        click_when_shown(ui, "&Beenden", "the uninstall runs to its end page")
        rc = uninst.wait(timeout=scaled(60))
        # With "_?=" the uninstaller cannot delete itself.
        check(rc == 0 and inst.files() == {"uninst.exe"}, "after retry the uninstall completes (%s)" % rc)
        check(all(v is None for v in inst.registration().values()), "... and unregisters the server")
        env.end_all()

    # --- installing again, interactively: the German wizard, its folder proposal, the finish page
    setup_proc = env.start([setup], os.path.join(work, "setup-ui.log"))
    click_when_shown(ui, "&Weiter >", "the installer's welcome page")
    wizard = page_with(ui, "&Installieren", "then the folder page")
    check("\t%s\t" % INSTALL_DIR in ui.ok("list", wizard), "the folder page proposes " + INSTALL_DIR)
    ui.ok("click", wizard, "&Installieren")
    wizard = page_with(ui, "&Fertigstellen", "the finish page", timeout=120)
    readme = [line for line in ui.ok("list", wizard).splitlines() if "\tLiesmich-Datei anzeigen\t" in line]
    check(len(readme) == 1, "the finish page offers the readme")
    ui.ok("click", wizard, "Liesmich-Datei anzeigen")  # no editor left running in the prefix
    ui.ok("click", wizard, "&Fertigstellen")
    rc = setup_proc.wait(timeout=scaled(60))
    check(env.end_all(timeout=15), "nothing left running after the finish page (the readme unticked)")
    check(rc == 0 and inst.files() == zip_files | {"uninst.exe"}, "the interactive install ends with 0 (%s)" % rc)
    check(inst.registration()["LocalServer32"] is not None, "... and registers the server")

    # --- update: a changed setting and the profile file survive installing again
    env.reg_add(SETTINGS_KEY + r"\ComPort", "InSize", "2345")
    env.reg_add(SETTINGS_KEY + r"\Probe", "Wert", "bleibt")
    with open(os.path.join(env.prefix, "drive_c", "windows", "MVRServ.Ini"), "w") as f:
        f.write("[TextFm]\r\nLeft=123\r\n")
    settings = settings_snapshot(env)
    rc, _ = env.wine([setup, "/S"], timeout=180)
    env.end_all()
    check(rc == 0 and inst.files() == zip_files | {"uninst.exe"}, "installing again over the installation works")
    check(settings_snapshot(env) == settings and settings[0] == "2345", "the update keeps the user's settings")
    check(inst.registration()["LocalServer32"] is not None, "still registered after the update")

    # --- an update into another folder removes the installed version first
    moved = Installed(env, r"C:\Andere Programme\MVR Server")
    rc, _ = inst.run_bat("setup-moved.bat", '"%s" /S /D=%s' % (win_path(setup), moved.win_dir))
    env.end_all()
    check(rc == 0 and moved.files() == zip_files | {"uninst.exe"}, "update into another folder installs there")
    check(not os.path.exists(inst.dir), "... and removes the old folder")
    target = moved.unix_path(moved.registration()["LocalServer32"] or "")
    check(target and os.path.samefile(target, moved.exe), "the registration points at the new folder")
    check(moved.uninstall_entry()["InstallLocation"] == moved.win_dir, "the uninstall entry names the new folder")
    check(settings_snapshot(env) == settings, "... and the settings are kept")
    inst = moved

    # --- silent uninstall by the entry's QuietUninstallString
    quiet = inst.uninstall_entry()["QuietUninstallString"]
    rc, _ = inst.run_bat("uninst-quiet.bat", quiet)
    env.end_all()
    check(rc == 0, "QuietUninstallString ends with 0")
    check(not os.path.exists(inst.dir), "install folder removed, no file left")
    check(not os.path.exists(os.path.join(env.prefix, "drive_c", START_MENU)), "Start-menu folder removed")
    left = {k: v for k, v in inst.registration().items() if v is not None}
    check(not left, "no class, ProgID, type-library or interface key left: %s" % left)
    check(inst.uninstall_entry() is None, "uninstall entry removed")
    check(settings_snapshot(env) == settings, "the user's settings and MVRServ.Ini untouched")


def main():
    # Not main_wrapper: this test boots its own prefix and needs none of the shared one.
    import argparse
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=None)
    ap.add_argument("--win32", default=None)
    ap.add_argument("--host", default=None)
    ap.add_argument("--arch", choices=("win32", "win64"), default=None, help="default: scripts/wine-arch.sh")
    args = ap.parse_args()
    env = WineEnv(args.build, args.win32, args.host, args.arch)
    report(lambda: test(env), lambda: env.wineserver("-k"))


if __name__ == "__main__":
    main()
