#!/usr/bin/env python3
"""Runs one command in the test guest: boots the image from tests/vm/build-image.sh under
qemu (full-system emulation, so 32-bit x86 code runs on hosts that cannot execute it), with
this project folder shared at /mnt/project, and the command started there. Prints the
command's output as it comes and exits with its exit code; 124 when the time limit ends the
machine, 125 when the guest never ran the command.

    tests/vm/vmrun.py [--timeout SEC] [--quiet-limit SEC] [--env NAME=VALUE]... -- COMMAND [ARG]...

The disk is opened with snapshot=on: every run starts from the image as built, and what the
command writes outside the shared folder is gone afterwards.
"""
import argparse
import os
import shlex
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
GUEST_ROOT = "/mnt/project"


def qemu_command(vm_dir, run_rel, console_log, cpus=2, memory_mb=4096):
    # -cpu max without SMAP: with SMAP the guest kernel kills every 32-bit Wine process (a page
    # fault at an iret in 32-bit user code under TCG).
    accel = os.environ.get("MVR_VM_ACCEL", "tcg,thread=multi")
    return [
        "qemu-system-x86_64", "-machine", "q35", "-accel", accel, "-cpu", "max,-smap",
        "-smp", str(cpus), "-m", str(memory_mb),
        "-display", "none", "-monitor", "none", "-serial", "file:" + console_log,
        "-no-reboot", "-nic", "none",
        "-kernel", os.path.join(vm_dir, "vmlinuz"), "-initrd", os.path.join(vm_dir, "initrd.img"),
        # One serial port, the console: Wine's COM2 and up must find no device, as on a host
        # without serial ports (the kernel's spare ttyS1-3 nodes open without hardware).
        "-append", "console=ttyS0 8250.nr_uarts=1 root=/dev/vda rw init=/sbin/mvr-init panic=-1 quiet mvr.run="
        + run_rel,
        "-drive", "file=%s,format=raw,if=virtio,snapshot=on" % os.path.join(vm_dir, "guest.img"),
        "-virtfs", "local,path=%s,mount_tag=project,security_model=none,id=project" % ROOT,
    ]


class Tail:
    """Prints what a growing file gets, line by line."""

    def __init__(self, path):
        self.path = path
        self.pos = 0
        self.rest = b""

    def poll(self, final=False):
        """Prints what came; returns whether anything did."""
        try:
            with open(self.path, "rb") as f:
                f.seek(self.pos)
                data = f.read()
        except FileNotFoundError:
            return False
        self.pos += len(data)
        data = self.rest + data
        lines = data.split(b"\n")
        self.rest = b"" if final else lines.pop()
        for line in lines if not final else [l for l in lines if l]:
            sys.stdout.write(line.decode("utf-8", "replace") + "\n")
        sys.stdout.flush()
        return bool(data)


def run(command, env_vars, timeout, vm_dir, keep=False, quiet_limit=None):
    for name in ("vmlinuz", "initrd.img", "guest.img"):
        if not os.path.exists(os.path.join(vm_dir, name)):
            print("vmrun: no guest image in %s: run scripts/setup.sh (it calls tests/vm/build-image.sh)" % vm_dir)
            return 125
    if shutil.which("qemu-system-x86_64") is None:
        print("vmrun: qemu-system-x86_64 missing: run scripts/setup.sh")
        return 125
    runs = os.path.join(vm_dir, "runs")
    os.makedirs(runs, exist_ok=True)
    run_dir = os.path.join(runs, "%d-%d" % (int(time.time()), os.getpid()))
    os.makedirs(run_dir)
    run_rel = os.path.relpath(run_dir, ROOT)
    if run_rel.startswith(".."):
        print("vmrun: %s is outside the shared folder %s" % (run_dir, ROOT))
        return 125
    with open(os.path.join(run_dir, "cmd.sh"), "w") as f:
        f.write("cd %s\n" % shlex.quote(GUEST_ROOT))
        for name, value in env_vars:
            f.write("export %s=%s\n" % (name, shlex.quote(value)))
        f.write("exec %s\n" % " ".join(shlex.quote(a) for a in command))
    console = os.path.join(run_dir, "console.log")
    out_path = os.path.join(run_dir, "out.txt")
    rc_path = os.path.join(run_dir, "rc")

    t0 = time.time()
    qemu = subprocess.Popen(qemu_command(vm_dir, run_rel, console), stdin=subprocess.DEVNULL,
                            stdout=open(os.path.join(run_dir, "qemu.log"), "wb"), stderr=subprocess.STDOUT)
    tail = Tail(out_path)
    stopped = None
    last_output = t0
    while qemu.poll() is None:
        now = time.time()
        if tail.poll():
            last_output = now
        if now - t0 > timeout:
            stopped = "time limit of %d s reached" % timeout
        elif quiet_limit and now - last_output > quiet_limit:
            stopped = "no output for %d s" % quiet_limit
        if stopped:
            qemu.kill()
            qemu.wait()
            break
        time.sleep(0.5)
    tail.poll(final=True)
    took = time.time() - t0
    if stopped:
        print("vmrun: %s, machine stopped" % stopped)
        rc = 124
    elif os.path.exists(rc_path):
        rc = int(open(rc_path).read().strip() or 125)
    else:
        print("vmrun: the guest did not run the command (qemu exit %s); console:" % qemu.returncode)
        for name in ("qemu.log", "console.log"):
            path = os.path.join(run_dir, name)
            if os.path.exists(path):
                print("".join(open(path, errors="replace").readlines()[-40:]))
        rc = 125
    print("vmrun: exit %d after %.0f s in the guest" % (rc, took), flush=True)
    if rc == 0 and not keep:
        shutil.rmtree(run_dir, ignore_errors=True)
    else:
        print("vmrun: logs kept in", run_dir)
    return rc


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--timeout", type=float, default=1800, help="seconds before the machine is stopped")
    ap.add_argument("--quiet-limit", type=float, help="stop the machine when the command prints nothing this long")
    ap.add_argument("--env", action="append", default=[], metavar="NAME=VALUE", help="set in the guest")
    ap.add_argument("--vm-dir", default=os.path.join(ROOT, "build", "vm"))
    ap.add_argument("--keep", action="store_true", help="keep the run's folder even when it passed")
    ap.add_argument("command", nargs=argparse.REMAINDER)
    args = ap.parse_args()
    command = args.command[1:] if args.command[:1] == ["--"] else args.command
    if not command:
        ap.error("no command")
    env_vars = [tuple(e.split("=", 1)) for e in args.env]
    sys.exit(run(command, env_vars, args.timeout, os.path.abspath(args.vm_dir), args.keep, args.quiet_limit))


if __name__ == "__main__":
    main()
