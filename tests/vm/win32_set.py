#!/usr/bin/env python3
"""The 32-bit program's test set: the Wine tests that exercise what only the shipped i686
build does (type library and registration under win32, the 32-bit COM call paths, the
notification icon, the windows) run against build/win32 under 32-bit Wine, one after the
other in one session: one display, one win32 prefix, one persistent wineserver. The wow64
test runs the same program for the x86_64 clients in a 64-bit prefix of its own.

Runs in the test guest (tests/vm/vmrun.py) on machines that cannot execute 32-bit code, and
directly on machines that can. Each test's output and exit code go to the results folder,
where the CTest entries win32.<name> pick them up.
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import winetest  # noqa: E402

# name -> script in tests/wine; the order puts the cheap checks first.
TESTS = [
    ("typelib", "test_typelib.py"),
    ("automation_client", "test_automation_client.py"),
    ("automation_scripts", "test_automation_scripts.py"),
    ("server_handover", "test_server_handover.py"),
    ("ui_start", "ui_start_test.py"),
    ("ui_main", "ui_main_test.py"),
    ("ui_end", "ui_end_test.py"),
    ("wow64", "test_wow64.py"),
]
# The test that runs the 32-bit program for 64-bit clients, in a 64-bit prefix of its own.
WOW64 = "wow64"


def start_display():
    """An Xvfb of our own when there is no display (the guest has none)."""
    if os.environ.get("DISPLAY"):
        return None
    for n in range(90, 100):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            break
    proc = subprocess.Popen(["Xvfb", ":%d" % n, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    deadline = time.time() + 60 * winetest.SLOW
    while not os.path.exists("/tmp/.X11-unix/X%d" % n):
        if proc.poll() is not None or time.time() > deadline:
            raise SystemExit("win32 set: Xvfb did not start")
        time.sleep(0.1)
    os.environ["DISPLAY"] = ":%d" % n
    return proc


def cache_file(env, cache_dir):
    return os.path.join(cache_dir, "prefix-%s.tar" % env.arch) if cache_dir else None


def restore_prefix(env, cache):
    """Unpacks a prefix an earlier run saved: making one costs minutes in the guest."""
    if not cache or not os.path.exists(cache) or not os.path.exists(cache + ".key"):
        return False
    if open(cache + ".key").read().strip() != env.recipe_key():
        return False
    shutil.rmtree(env.prefix, ignore_errors=True)
    os.makedirs(env.build_dir, exist_ok=True)
    return subprocess.run(["tar", "-xf", cache, "-C", env.build_dir]).returncode == 0


# Wine's own DLLs, of which a prefix holds byte-for-byte copies.
BUILTINS = {"i386": "/usr/lib/i386-linux-gnu/wine/i386-windows",
            "x86_64": "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows"}


def link_builtins(env):
    """Turns the prefix's copies of Wine's own DLLs into links to them (Wine follows the
    links): a WoW64 prefix shrinks from 1.3 GB to under 100 MB, which saves minutes of
    writing it to and reading it from the shared folder."""
    windows = os.path.join(env.prefix, "drive_c", "windows")
    folders = {"system32": "i386"} if env.arch == "win32" else {"system32": "x86_64", "syswow64": "i386"}
    for folder, machine in folders.items():
        here, there = os.path.join(windows, folder), BUILTINS[machine]
        if not os.path.isdir(here) or not os.path.isdir(there):
            continue
        for name in os.listdir(here):
            copy, builtin = os.path.join(here, name), os.path.join(there, name)
            if (os.path.isfile(copy) and not os.path.islink(copy) and os.path.isfile(builtin)
                    and filecmp.cmp(copy, builtin, shallow=False)):
                os.unlink(copy)
                os.symlink(builtin, copy)


def save_prefix(env, cache):
    if not cache:
        return
    link_builtins(env)
    os.makedirs(os.path.dirname(os.path.abspath(cache)), exist_ok=True)
    rel = os.path.relpath(env.prefix, env.build_dir)
    if subprocess.run(["tar", "-cf", cache + ".tmp", "-C", env.build_dir, rel]).returncode == 0:
        os.replace(cache + ".tmp", cache)
        with open(cache + ".key", "w") as f:
            f.write(env.recipe_key() + "\n")


def copy_files(src_dir, dst_dir, names):
    for name in names:
        os.makedirs(os.path.dirname(os.path.join(dst_dir, name)), exist_ok=True)
        shutil.copy2(os.path.join(src_dir, name), os.path.join(dst_dir, name))


def local_copies(state, win32_dir, host_dir, win64_dir, package_dir):
    """Copies the programs out of the shared folder: Wine started from the guest's 9p mount
    crashes at MVRServ.exe's first instruction (a page fault reading 00000002), the same
    file copied to the guest's own disk runs."""
    win32_copy = os.path.join(state, "win32")
    shutil.rmtree(win32_copy, ignore_errors=True)
    shutil.copytree(win32_dir, win32_copy, ignore=shutil.ignore_patterns("CMakeFiles", "*.obj", "*.a"))
    host_copy = os.path.join(state, "host")
    copy_files(host_dir, host_copy, [os.path.join("tools", "mvrsim", "mvrsim")])
    win64_copy = package_copy = None
    if win64_dir:
        win64_copy = os.path.join(state, "win64")
        copy_files(win64_dir, win64_copy, WIN64_CLIENTS)
    if package_dir:
        package_copy = os.path.join(state, "package")
        shutil.rmtree(package_copy, ignore_errors=True)
        shutil.copytree(package_dir, package_copy)
    return win32_copy, host_copy, win64_copy, package_copy


# The x86_64 clients the wow64 test runs against the 32-bit server.
WIN64_CLIENTS = [os.path.join("tests", "wine", "programs", "automation_client.exe"),
                 os.path.join("tools", "win32", "scripthost", "mvrscript.exe")]


def program_logs(state, since):
    """The logs the programs of a failed test wrote in the state folder, which the guest loses."""
    text = ""
    for name in sorted(os.listdir(state)):
        path = os.path.join(state, name)
        # The wineserver's log holds only its object dump at -k.
        if name.endswith(".log") and name != "wineserver.log" and os.path.isfile(path) and os.path.getmtime(path) >= since:
            with open(path, "rb") as f:
                text += "--- %s ---\n%s\n" % (name, f.read()[-4000:].decode("utf-8", "replace"))
    return text


def still_running(env):
    """The prefix's programs a failed test left running (a server its client gave up on, say)."""
    lines = []
    for pid in env.programs():
        try:
            with open("/proc/%d/cmdline" % pid, "rb") as f:
                lines.append(f.read().replace(b"\0", b" ").decode("utf-8", "replace").strip())
        except OSError:
            pass
    return "--- still running ---\n%s\n" % "\n".join(lines) if lines else ""


def run_test(cmd, log, quiet_limit, limit):
    """Runs one test with its output in log. A test prints a line for every check, so one that
    prints nothing for quiet_limit seconds is stuck, however slow the machine: it is stopped
    then, or at limit in any case. Returns the exit code (124 when stopped) and why it stopped."""
    with open(log, "wb") as f:
        p = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=f, stderr=subprocess.STDOUT)
    start = last_output = time.time()
    size = 0
    while p.poll() is None:
        now = time.time()
        if os.path.getsize(log) != size:
            size, last_output = os.path.getsize(log), now
        if now - last_output > quiet_limit or now - start > limit:
            p.kill()
            p.wait()
            why = "no output for %d s" % quiet_limit if now - last_output > quiet_limit else "%d s" % limit
            return 124, "\nwin32 set: stopped after %s\n" % why
        time.sleep(1)
    return p.returncode, ""


def write_result(results, name, rc, text):
    with open(os.path.join(results, name + ".log"), "w") as f:
        f.write(text)
    with open(os.path.join(results, name + ".rc"), "w") as f:
        f.write("%d\n" % rc)


def main():
    ap = argparse.ArgumentParser(description="Runs the 32-bit test set under 32-bit Wine.")
    ap.add_argument("--list", action="store_true", help="print the test names and end")
    ap.add_argument("--results", help="folder for <name>.log and <name>.rc")
    ap.add_argument("--state", help="folder for the prefix, ptys and logs (not shared)")
    ap.add_argument("--build", default=os.path.join(ROOT, "build"), help="holds win32/ and host/")
    ap.add_argument("--quiet-limit", type=float, default=900, help="stop a test that prints nothing this long")
    ap.add_argument("--test-timeout", type=float, default=2400, help="stop a test that runs this long")
    ap.add_argument("--prefix-cache", help="folder to keep the made prefixes in (prefix-<arch>.tar) for later runs")
    ap.add_argument("--win64", help="x86_64 build with the 64-bit clients (default: BUILD/win64)")
    ap.add_argument("--package", help="folder with the 32-bit installer made by scripts/package.sh")
    ap.add_argument("--local-copy", action="store_true", help="run copies of the programs in --state")
    ap.add_argument("only", nargs="*", help="names of tests to run (default: all)")
    args = ap.parse_args()
    if args.list:
        print("\n".join(name for name, _ in TESTS))
        return 0
    if not args.results or not args.state:
        ap.error("--results and --state are needed")

    t_start = time.time()
    os.environ["MVR_WINE_ARCH"] = "win32"
    os.environ["MVR_WINESERVER_PERSISTENT"] = "1"
    results = os.path.abspath(args.results)
    shutil.rmtree(results, ignore_errors=True)
    os.makedirs(results)
    os.makedirs(args.state, exist_ok=True)
    tests = [(n, s) for n, s in TESTS if not args.only or n in args.only]
    wow64 = any(n == WOW64 for n, _ in tests)
    win32_dir = os.path.join(args.build, "win32")
    host_dir = os.path.join(args.build, "host")
    win64_dir = (args.win64 or os.path.join(args.build, "win64")) if wow64 else None
    package_dir = args.package if wow64 else None
    if args.local_copy:
        win32_dir, host_dir, win64_dir, package_dir = local_copies(args.state, win32_dir, host_dir, win64_dir,
                                                                  package_dir)
    print("win32 set: %s against %s, slow factor %g" % (" ".join(n for n, _ in tests), win32_dir, winetest.SLOW),
          flush=True)

    display = start_display()
    env = winetest.WineEnv(args.state, win32_dir, host_dir)
    wow64_env = winetest.WineEnv(args.state, win32_dir, host_dir, "wow64")
    win32 = any(n != WOW64 for n, _ in tests)
    envs = ([env] if win32 else []) + ([wow64_env] if wow64 else [])
    passed = failed = 0
    try:
        t0 = time.time()
        to_make = []
        for e in envs:
            if restore_prefix(e, cache_file(e, args.prefix_cache)):
                print("win32 set: %s prefix restored after %.0f s" % (e.arch, time.time() - t0), flush=True)
            else:
                to_make.append(e)
        # Two prefixes are made side by side: each boot keeps about one processor busy.
        makers = []
        for e in to_make[1:]:
            with open(os.path.join(args.state, "prefix-%s.out" % e.arch), "wb") as out:
                makers.append(subprocess.Popen([sys.executable, winetest.__file__, "--init", "--arch", e.arch,
                                                "--build", args.state, "--win32", win32_dir, "--host", host_dir],
                                               stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT))
        for e in to_make[:1]:
            e.ensure_prefix()
        for p in makers:
            p.wait()
        for e in to_make:
            e.ensure_prefix()  # made by now; makes it here if the side one failed
            print("win32 set: %s prefix made after %.0f s" % (e.arch, time.time() - t0), flush=True)
            save_prefix(e, cache_file(e, args.prefix_cache))
            print("win32 set: %s prefix saved after %.0f s" % (e.arch, time.time() - t0), flush=True)
        t0 = time.time()
        if win32:
            env.start_server()
        print("win32 set: wineserver ready after %.0f s" % (time.time() - t0), flush=True)
        for name, script in tests:
            t0 = time.time()
            cmd = [sys.executable, os.path.join(ROOT, "tests", "wine", script),
                   "--build", args.state, "--win32", win32_dir, "--host", host_dir]
            if name == WOW64:
                cmd += ["--win64", win64_dir] + (["--package", package_dir] if package_dir else [])
            log = os.path.join(args.state, name + ".out")
            rc, stopped = run_test(cmd, log, args.quiet_limit, args.test_timeout)
            text = open(log, "rb").read().decode("utf-8", "replace") + stopped
            test_env = wow64_env if name == WOW64 else env
            if rc != 0:
                text += program_logs(args.state, t0) + still_running(test_env)
            # Whatever a failed test left must not spoil the next one: what runs, and the class
            # object of a server it killed, which Wine's COM service would go on handing out.
            # (The wow64 test ends its prefix's wineserver itself.)
            if test_env is env:
                env.end_all(timeout=20)
                if rc != 0:
                    env.restart_server()
            took = time.time() - t0
            text += "win32 set: %s took %.0f s\n" % (name, took)
            write_result(results, name, rc, text)
            passed += rc == 0
            failed += rc != 0
            print("win32 set: %-20s %s in %.0f s" % (name, "passed" if rc == 0 else "FAILED (%d)" % rc, took),
                  flush=True)
    finally:
        for e in envs or [env]:
            e.wineserver("-k")
        if display:
            display.terminate()
            display.wait()
    print("win32 set: %d of %d passed in %.0f s" % (passed, passed + failed, time.time() - t_start), flush=True)
    # The set itself succeeded when every test ran; win32.<name> reports each one's result.
    return 0 if passed + failed == len(tests) else 1


if __name__ == "__main__":
    sys.exit(main())
