"""The about box, the system information and the text viewer under Wine, as a person works
them: the Information button, the clicks on icon, logo and software label, the viewer's popup
menu, the profile file written at the end and read back, the log file, and files that can't
be written."""
import os
import re
import shutil
import subprocess
import tempfile
import time

from uidrive import SETTINGS_KEY, Failure, Program, Ui, check, profile_path, read_section, reset_settings, scaled
from winetest import ROOT, main_wrapper

MAIN = "MVR Server|TMVRServMainFm"
ABOUT = "Software by...|TAboutBoxFm"
SYSINFO = "Systeminformationen|TSysInfoFm"
VIEWER = "*|TTextFm"
MENU = "*|#32768"
SC_CLOSE = 0xF060
WS_HSCROLL = 0x00100000


def product_version():
    with open(os.path.join(ROOT, "VERSION")) as f:
        return f.read().strip()


def version_string(file_version):
    parts = (file_version.split(".") + ["", "", ""])[:3]
    major, minor, release = (int(p) if p.isdigit() else 0 for p in parts)
    if 1 <= release <= 26:
        return "V%d.%d%s" % (major, minor, chr(96 + release))
    return "V%d.%d.%d" % (major, minor, release)


class Screen:
    """The Xvfb screen read back through ImageMagick."""

    def __init__(self):
        self.work = tempfile.mkdtemp(prefix="screen-")
        self.path = os.path.join(self.work, "root.png")

    def grab(self):
        subprocess.run(["import", "-window", "root", self.path], check=True)
        return self

    def pixel(self, x, y):
        out = subprocess.run(["convert", self.path, "-format", "%[fx:int(255*r)] %[fx:int(255*g)] %[fx:int(255*b)]",
                              "-crop", "1x1+%d+%d" % (x, y), "info:"], capture_output=True, text=True, check=True)
        return tuple(int(v) for v in out.stdout.split())

    def signature(self, x, y, w, h):
        """A hash of the pixels of a rectangle: equal pictures, equal hashes."""
        out = subprocess.run(["convert", self.path, "-crop", "%dx%d+%d+%d" % (w, h, x, y), "+repage",
                              "-format", "%#", "info:"], capture_output=True, text=True, check=True)
        return out.stdout.strip()

    def close(self):
        shutil.rmtree(self.work, ignore_errors=True)


def menu_shown(ui):
    rc, out = ui.run("find", MENU, 200)
    return rc == 0 and out.split()[1] == "1"


def menu_rows(ui, screen):
    """Signatures of the popup menu's four rows: (left margin where the check mark goes, text)."""
    check(ui.wait(lambda: menu_shown(ui), 5), "the popup menu opens")
    time.sleep(0.4)
    x, y, w, h = ui.rect(MENU)
    screen.grab()
    rows = []
    inner = h - 6  # a 3-pixel frame above and below
    for i in range(4):
        top = y + 3 + i * inner // 4
        rows.append((screen.signature(x + 3, top + 2, 14, inner // 4 - 4),
                     screen.signature(x + 20, top + 2, w - 26, inner // 4 - 4)))
    return rows


def memo_lines(ui, title):
    return ui.text(title, "Memo").split("\n")


def pe_resources(path):
    """{type id: [(name or id, data bytes)]} of a PE file's resources, in directory order."""
    import struct
    data = open(path, "rb").read()
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    sections, opt_size = struct.unpack_from("<H", data, pe + 6)[0], struct.unpack_from("<H", data, pe + 20)[0]
    opt = pe + 24
    dirs = opt + (96 if struct.unpack_from("<H", data, opt)[0] == 0x10B else 112)
    res_rva = struct.unpack_from("<I", data, dirs + 2 * 8)[0]
    table = [struct.unpack_from("<IIII", data, opt + opt_size + 40 * i + 8) for i in range(sections)]

    def offset(rva):
        for vsize, vaddr, rawsize, rawptr in table:
            if vaddr <= rva < vaddr + max(vsize, rawsize):
                return rva - vaddr + rawptr
        raise Failure("RVA %x outside the sections" % rva)

    base = offset(res_rva)

    def entries(at):
        named, ids = struct.unpack_from("<HH", data, base + at + 12)
        return [struct.unpack_from("<II", data, base + at + 16 + 8 * i) for i in range(named + ids)]

    out = {}
    for type_id, type_off in entries(0):
        for name, name_off in entries(type_off & 0x7FFFFFFF):
            key = ("named", name) if name & 0x80000000 else name
            lang_off = entries(name_off & 0x7FFFFFFF)[0][1]
            rva, size = struct.unpack_from("<II", data, base + lang_off)
            out.setdefault(type_id, []).append((key, data[offset(rva):offset(rva) + size]))
    return out


def resources_in_the_exe(env):
    res = pe_resources(env.exe(os.path.join("app", "MVRServ.exe")))
    groups = res.get(14, [])
    check(groups and groups[0][0] == 1, "the first icon group is the application icon, id 1 (%s)"
          % [g[0] for g in groups])
    grp = groups[0][1]
    sizes = sorted(grp[6 + 14 * i] or 256 for i in range(grp[4] | grp[5] << 8))
    check(sizes == [16, 32], "the application icon comes in 16 and 32 pixels (%s)" % sizes)
    logo = dict(res.get(10, [])).get(210, b"")
    check(logo[:2] == b"\xff\xd8" and logo[-2:] == b"\xff\xd9", "the logo is embedded as a JPEG (%d bytes)" % len(logo))
    version = res.get(16, [(None, b"")])[0][1]
    check(product_version().encode("utf-16-le") in version, "the version resource carries VERSION's number")


def about_box_and_views(env, ui):
    version = version_string(product_version())
    reset_settings(env)
    if os.path.exists(profile_path(env)):
        os.unlink(profile_path(env))
    log_file = os.path.splitext(env.exe(os.path.join("app", "MVRServ.exe")))[0] + ".log"
    for p in (log_file, log_file[:-4] + ".Log"):
        if os.path.exists(p):
            os.unlink(p)
    screen = Screen()
    with Program(env, "aux1", ["--unsolicited", "200:data:1:41"]) as prog:
        ui.find(MAIN, 30000)
        ui.ok("mouse", MAIN, 165, 112)  # keep the window from hiding
        ui.ok("toolclick", MAIN, "InfoBtn")
        check(ui.wait(lambda: ui.find(ABOUT, 500) and ui.visible(ABOUT), 10), "the Information button opens the about box")
        c = ui.controls(ABOUT)
        check(c["LabelSoftware"][1] == "MVR Server " + version,
              "software label %r is the title and the version of VERSION (%s)" % (c["LabelSoftware"][1], version))
        contacts = ["Firma", "Autor", "Strasse", "Ort", "Telefon", "Fax", "Email", "Web"]
        check(all(c[n][1] for n in contacts), "the eight contact fields have texts")
        check(c["BevelSoftware"][3], "with a history the frame around the software label shows")
        check(c["ImageLogo"][2] == (145, 25, 222, 64), "the logo at 145/25, 222 x 64 (%s)" % (c["ImageLogo"][2],))

        # The logo is drawn: its pixels are the logo's dark blue and yellow, not the background.
        time.sleep(0.5)
        lx, ly, lw, lh = (int(v) for v in ui.ok("screenrect", ABOUT, "ImageLogo").split())
        screen.grab()
        blue = screen.pixel(lx + 4, ly + 4)
        bar = screen.pixel(lx + 50, ly + 45)
        background = screen.pixel(lx - 8, ly + 30)
        check(blue[2] > blue[0] + 40 and blue != background,
              "logo pixel %s is the logo's blue, not the background %s" % (blue, background))
        check(bar[0] > 180 and bar[1] > 120 and bar[2] < 100, "logo bar pixel %s is yellow" % (bar,))
        # The frames are closed at the bottom: the panel's and the software label's lowest
        # line is the shadow, not the light that vanishes against the background.
        for frame in ("AboutPanel", "BevelSoftware"):
            fx, fy, fw, fh = (int(v) for v in ui.ok("screenrect", ABOUT, frame).split())
            edge = screen.pixel(fx + fw // 2, fy + fh - 1)
            check(sum(edge) < sum(background) - 120, "%s's bottom line %s is darker than the background %s"
                  % (frame, edge, background))

        # The link goes on while the box is open.
        before, after = ui.counter_rises(MAIN, "RXLabel")
        check(after > before, "frames are received while the about box is shown (%d -> %d)" % (before, after))

        # Icon: the log with its start line only, and nothing added to it.
        for attempt in range(2):
            ui.ok("tap", ABOUT, "ImageIcon")
            check(ui.wait(lambda: ui.find("Logfile|TTextFm", 500) and ui.visible("Logfile|TTextFm"), 10),
                  "the icon opens the \"Logfile\" viewer")
            lines = [l for l in memo_lines(ui, "Logfile|TTextFm") if l]
            check(len(lines) == 1 and re.fullmatch(r"\d\d:\d\d:\d\d %s MVRServ started \d{4}-\d\d-\d\d" % re.escape(version),
                                                    lines[0]),
                  "the log holds the start line only %r" % lines)
            if attempt == 0:
                viewer_menu(env, ui, screen, "Logfile|TTextFm")
            x, y, w, h = ui.rect("Logfile|TTextFm")
            check(w == 640 and h == 150 and x == (1024 - 640) // 2,
                  "one line: 640 x 150, centred (%d,%d %dx%d)" % (x, y, w, h))
            ui.ok("syscommand", "Logfile|TTextFm", SC_CLOSE)
            check(ui.wait(lambda: ui.find("Logfile|TTextFm", 200) is None, 5), "the log viewer is freed when closed")

        # Logo: the system information, filled afresh at every showing.
        ui.ok("tap", ABOUT, "ImageLogo")
        check(ui.wait(lambda: ui.find(SYSINFO, 500) and ui.visible(SYSINFO), 10), "the logo opens the system information")
        rows = [line.split("\t") for line in ui.ok("grid", SYSINFO, "SgInfo").splitlines()]
        names = [r[0] for r in rows]
        want = ["Name", "Programm", "Version", "Copyright", "Autor", "Computer", "Bezeichnung", "Benutzer", "System",
                "OS", "Speicher", "Auslastung", "Total Phys.", "Frei Phys.", "Total Page", "Frei Page",
                "Total Virtual", "Frei Virtual", "Windows Directory", "System Directory", "Bildschirm",
                "Auflösung", "PixelPerInch", "Farben"]
        check(names == want, "the rows in order with the author row (%s)" % names)
        value = dict((r[0], r[1] if len(r) > 1 else "") for r in rows)
        check(value["Name"] == "MVR Server" and value["Programm"].lower().endswith("\\mvrserv.exe"),
              "title and program path %r %r" % (value["Name"], value["Programm"]))
        check(value["Version"] == product_version(), "Version is the file version %r" % value["Version"])
        check(value["Copyright"].startswith("Copyright") and value["Autor"], "holder and author from the resource")
        check(all(value[h] == "" for h in ("Computer", "Speicher", "Bildschirm")), "headings have no value")
        check(value["System"].startswith("Windows NT ") and "(Build " in value["System"], "System %r" % value["System"])
        check(value["OS"] == "Windows_NT", "OS variable %r" % value["OS"])
        check(re.fullmatch(r"\d{1,3}%", value["Auslastung"]) is not None, "memory load %r" % value["Auslastung"])
        for n in ("Total Phys.", "Frei Phys.", "Total Page", "Frei Page", "Total Virtual", "Frei Virtual"):
            check(re.fullmatch(r"[ \d]{1,4}\d[.,]\d{3}MB", value[n]) is not None and len(value[n]) >= 7,
                  "%s %r in %%5.3fMB" % (n, value[n]))
        check(value["Windows Directory"].lower() == "c:\\windows", "Windows folder %r" % value["Windows Directory"])
        check(value["Auflösung"] == "1024×768", "resolution %r" % value["Auflösung"])
        check(re.fullmatch(r"\d+Bit", value["Farben"]) is not None and value["PixelPerInch"].isdigit(),
              "colours %r, pixels per inch %r" % (value["Farben"], value["PixelPerInch"]))
        ui.ok("syscommand", SYSINFO, SC_CLOSE)
        check(ui.wait(lambda: not ui.visible(SYSINFO), 5), "the system information closes")
        ui.ok("tap", ABOUT, "ImageLogo")
        check(ui.wait(lambda: ui.visible(SYSINFO), 10), "the logo shows it again")
        again = ui.ok("grid", SYSINFO, "SgInfo").splitlines()
        check(len(again) == len(rows) == 24, "a second showing adds no rows (%d, %d)" % (len(rows), len(again)))
        ui.ok("syscommand", SYSINFO, SC_CLOSE)
        check(ui.wait(lambda: not ui.visible(SYSINFO), 5), "closed again")

        # Software label: the release report.
        report = "Report of %s MVRServ|TTextFm" % version
        ui.ok("tap", ABOUT, "LabelSoftware")
        check(ui.wait(lambda: ui.find(report, 500) and ui.visible(report), 10), "the label opens %r" % report)
        lines = [l for l in memo_lines(ui, report) if l]
        check(len(lines) == 7 and all(re.match(r"\d{4}-\d\d-\d\d  v\d\.\d[a-z ]  \S", l) for l in lines),
              "the release history's seven lines %r" % lines)
        # The prefix finds Wine's own fonts: the viewer's Courier, Marlett for the caption buttons.
        for face in ("Courier", "Marlett"):
            got = ui.ok("fontface", face).strip()
            check(got == face, "a font asking for %s gets %s" % (face, got))
        ui.ok("syscommand", report, SC_CLOSE)
        check(ui.wait(lambda: ui.find(report, 200) is None, 5), "the report viewer is freed")

        ui.ok("click", ABOUT, "Exit")
        check(ui.wait(lambda: not ui.visible(ABOUT), 5), "OK closes the about box")
        ui.ok("toolclick", MAIN, "InfoBtn")
        check(ui.wait(lambda: ui.visible(ABOUT), 10), "the about box opens again")
        ui.ok("key", ABOUT, "Exit", 27)
        check(ui.wait(lambda: not ui.visible(ABOUT), 5), "Esc closes the about box")
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the close box ends the program")
        check(prog.proc.returncode == 0, "exit code 0 (%s)" % prog.proc.returncode)
    screen.close()
    check(not os.path.exists(log_file) and not os.path.exists(log_file[:-4] + ".Log"),
          "viewing the about box and its views writes no log file")
    with open(profile_path(env), errors="replace") as f:
        profile = f.read().replace("\r", "")
    want = ("[TextFm]\nState=0\nLeft=10\nTop=10\nWidth=640\nHeight=150\nWrap=1\nFont=Courier\nSize=8\nStyle=0\n"
            "FontColor=0\nBackColor=-2147483643\n")
    check(want in profile, "the start-up viewer writes its defaults at the end: %r" % profile)
    check("TextFm_1" not in profile, "the viewers that showed texts write nothing")


def viewer_menu(env, ui, screen, title):
    """Popup menu of a viewer: Copy greyed without a selection, Wrap checked and toggled,
    Copy puts the selection on the clipboard."""
    ui.ok("setclipboard", "marker")
    ui.ok("setsel", title, "Memo", 0, 0)
    ui.ok("context", title, "Memo")
    plain = menu_rows(ui, screen)
    ui.ok("menu", 3)  # Copy, greyed: nothing happens
    check(ui.wait(lambda: not menu_shown(ui), 5), "the menu closes")
    time.sleep(0.3)
    check(ui.ok("clipboard").strip() == "marker", "Copy without a selection leaves the clipboard alone")

    ui.ok("setsel", title, "Memo", 0, 8)
    ui.ok("context", title, "Memo")
    selected = menu_rows(ui, screen)
    check(selected[3][1] != plain[3][1] and selected[0] == plain[0],
          "Copy is greyed without a selection and enabled with one")
    ui.ok("menu", 3)
    check(ui.wait(lambda: ui.ok("clipboard").strip() == ui.text(title, "Memo")[:8], 5),
          "Copy puts the selected text on the clipboard (%r)" % ui.ok("clipboard").strip())

    style = int(ui.ok("style", title, "Memo"), 16)
    check(not style & WS_HSCROLL, "word wrap on: no horizontal scroll bar")
    ui.ok("context", title, "Memo")
    ui.ok("menu", 1)  # Wrap
    check(ui.wait(lambda: int(ui.ok("style", title, "Memo"), 16) & WS_HSCROLL, 5),
          "Wrap switched off: both scroll bars")
    ui.ok("setsel", title, "Memo", 0, 8)
    ui.ok("context", title, "Memo")
    unwrapped = menu_rows(ui, screen)
    check(unwrapped[1][0] != selected[1][0] and unwrapped[2][0] == selected[2][0],
          "the check mark by Wrap goes with word wrap")
    ui.ok("menu", 1)
    check(ui.wait(lambda: not int(ui.ok("style", title, "Memo"), 16) & WS_HSCROLL, 5), "Wrap switched on again")
    check(ui.text(title, "Memo").startswith(ui.ok("clipboard").strip()), "the text survives the switch")

    # Font and Color open the platform's dialogs; the link goes on meanwhile.
    for index, caption, button in ((0, "Font", "OK"), (2, "Color", "Cancel")):
        ui.ok("context", title, "Memo")
        check(ui.wait(lambda: menu_shown(ui), 5), "the popup menu opens for %s" % caption)
        ui.ok("menu", index)
        check(ui.wait(lambda: ui.find(caption + "|#32770", 500) and ui.visible(caption + "|#32770"), 10),
              "%s opens the platform's dialog" % caption)
        before, after = ui.counter_rises(MAIN, "RXLabel")
        check(after > before, "frames are received while the %s dialog is open (%d -> %d)" % (caption, before, after))
        ui.box(caption, button)
        check(ui.wait(lambda: not ui.find(caption + "|#32770", 300), 5), "%s closes with %s" % (caption, button))


def profile_read_back(env, ui):
    """Edited values of the start-up viewer's section are read back clamped and written at
    the end; a maximised state leaves the bounds alone."""
    reset_settings(env)
    with open(profile_path(env), "w", newline="\r\n") as f:
        f.write("[TextFm]\nWidth=0x200\nHeight=abc\nLeft=5000\nTop=-20\nSize=100\nStyle=31\nWrap=0\n"
                "Font=Arial\nFontColor=0xFF\n[TextFm_1]\nSize=20\n")
    with Program(env, "aux2") as prog:
        ui.find(MAIN, 30000)
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the program ends")
    with open(profile_path(env)) as f:
        profile = f.read().replace("\r", "")
    want = ("[TextFm]\nWidth=512\nHeight=150\nLeft=512\nTop=0\nSize=72\nStyle=15\nWrap=0\nFont=Arial\n"
            "FontColor=255\nState=0\nBackColor=-2147483643\n")
    check(want in profile, "edited values come back clamped: %r" % profile)
    check("[TextFm_1]\nSize=20\n" in profile, "a temporary viewer's section is left alone")
    with open(profile_path(env), "w", newline="\r\n") as f:
        f.write("[TextFm]\nState=5\nLeft=77\nSize=2\n")
    with Program(env, "aux3") as prog:
        ui.find(MAIN, 30000)
        ui.ok("syscommand", MAIN, SC_CLOSE)
        check(prog.ended(20), "the program ends")
    with open(profile_path(env)) as f:
        profile = f.read().replace("\r", "")
    check(profile.startswith("[TextFm]\nState=2\nLeft=77\nSize=4\n") and "Width=" not in profile,
          "State 5 is read as 2 (maximised: bounds not written), Size 2 as 4: %r" % profile)


def unwritable_profile(env, ui):
    """A profile file that can't be written: the error boxes, then a clean end."""
    reset_settings(env)
    path = profile_path(env)
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.unlink(path)
    os.makedirs(path)  # a folder of that name: no file can be made there
    try:
        with Program(env, "aux4") as prog:
            ui.find(MAIN, 30000)
            ui.ok("move", MAIN, 300, 200)
            ui.ok("syscommand", MAIN, SC_CLOSE)
            texts = []
            deadline = time.time() + scaled(30)
            while prog.proc.poll() is None and time.time() < deadline:
                rc, out = ui.run("box", "Fehler", "OK", 2000)
                if rc == 0:
                    texts.append(out.splitlines()[0][6:])
            check(prog.ended(10), "the program ends after the error boxes")
            check(prog.proc.returncode == 0, "exit code 0 (%s)" % prog.proc.returncode)
        check("nach MVRServ.Ini kann nicht geschrieben werden" in texts,
              "the viewer's write failure is shown: %r" % texts)
        pos = read_section(env, "WindowParams", ["Left", "Top"])
        check(pos == {"Left": "300", "Top": "200"}, "the registry settings are stored all the same %s" % pos)
    finally:
        shutil.rmtree(path, ignore_errors=True)


def log_file(env, ui):
    """The log list in a process that logs something: written at the end with CR LF, by
    SaveLog too, and an unwritable file gives the error box and a clean end."""
    exe = env.exe(os.path.join("tests", "wine", "programs", "logwriter.exe"))
    log = os.path.splitext(exe)[0] + ".Log"
    for p in (log,):
        if os.path.isdir(p):
            shutil.rmtree(p)
        elif os.path.exists(p):
            os.unlink(p)
    rc, out = env.wine([exe], timeout=60)
    check(rc == 0 and not os.path.exists(log), "only the start line logged: no file (%s)" % out.strip())
    rc, out = env.wine([exe, "Logfile", "Report"], timeout=60)
    check(rc == 0, "logwriter ends (%s)" % out.strip())
    with open(log, "rb") as f:
        data = f.read()
    lines = data.split(b"\r\n")
    check(len(lines) == 5 and lines[-1] == b"" and b"\n" not in data.replace(b"\r\n", b""),
          "four lines, each ended by CR LF: %r" % data)
    version = version_string(product_version())
    check(re.fullmatch(rb"\d\d:\d\d:\d\d " + version.encode() + rb" logwriter started \d{4}-\d\d-\d\d", lines[0])
          is not None, "start line %r" % lines[0])
    check([l[9:] for l in lines[1:4]] == [b"Logfile", b"Report", b"closed."], "logged lines %r" % lines[1:4])
    # SaveLog writes what there is at that moment, replacing the file.
    saved = os.path.join(env.build_dir, "saved.log")
    with open(saved, "w") as f:
        f.write("old contents that must go, much longer than the log\n" * 20)
    rc, out = env.wine([exe, "SysInfo", "--save", "Z:" + saved.replace("/", "\\")], timeout=60)
    with open(saved, "rb") as f:
        data = f.read()
    os.unlink(saved)
    check(rc == 0 and data.count(b"\r\n") == 2 and data.endswith(b" SysInfo\r\n"),
          "SaveLog writes the start line and SysInfo: %r" % data)
    os.unlink(log)
    os.makedirs(log)
    try:
        proc = env.start([exe, "Report"], os.path.join(env.build_dir, "logwriter.out"))
        text, buttons = ui.box("Fehler", "OK", 30000)
        check(text.startswith("Datei ") and text.endswith("logwriter.Log kann nicht erstellt werden"),
              "the error box names the file %r" % text)
        proc.wait(timeout=30)
        check(proc.returncode == 0, "a log that can't be written still ends cleanly (%s)" % proc.returncode)
        # SaveLog to the same file (".log": the same file without regard to case), then the
        # end: one error box, not two.
        lower = "Z:" + (os.path.splitext(exe)[0] + ".log").replace("/", "\\")
        proc = env.start([exe, "Report", "--save", lower], os.path.join(env.build_dir, "logwriter.out"))
        text, _ = ui.box("Fehler", "OK", 30000)
        check(text.endswith("logwriter.log kann nicht erstellt werden"), "SaveLog's failure is shown %r" % text)
        rc, _ = ui.run("box", "Fehler", "", 2500)
        check(rc != 0, "the end's failure on the same file is not shown again")
        proc.wait(timeout=30)
        check(proc.returncode == 0, "and the process ends with 0 (%s)" % proc.returncode)
    finally:
        shutil.rmtree(log, ignore_errors=True)


def test(env):
    ui = Ui(env)
    resources_in_the_exe(env)
    about_box_and_views(env, ui)
    profile_read_back(env, ui)
    unwritable_profile(env, ui)
    log_file(env, ui)
    env.reg_delete(SETTINGS_KEY)
    if os.path.exists(profile_path(env)):
        os.unlink(profile_path(env))


if __name__ == "__main__":
    main_wrapper(test)
