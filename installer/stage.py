"""Collects the release files of a Windows build into one folder, the layout of the install
folder, and prints the NSIS target that fits the program's machine type.

    stage.py BUILD_DIR VERSION STAGE_DIR

Fails when the program's version resource does not carry VERSION: the package name, the
installer and the program must name the same version.
"""
import os
import shutil
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

# The NSIS target for each PE machine type.
TARGETS = {0x014C: "x86-unicode", 0x8664: "amd64-unicode"}
RT_VERSION = 16
VS_FIXEDFILEINFO_SIGNATURE = 0xFEEF04BD

# The samples, and the headers the C++ sample is built with (the last two are widl's output).
SAMPLES = ["samples/client.vbs", "samples/client.js", "samples/client.cpp", "automation/OleBase.h"]
GENERATED = ["automation/MVR_Server.h", "automation/MVR_Server_i.c"]


class PeError(Exception):
    pass


def u16(data, off):
    if off < 0 or off + 2 > len(data):
        raise PeError("truncated at %d" % off)
    return struct.unpack_from("<H", data, off)[0]


def u32(data, off):
    if off < 0 or off + 4 > len(data):
        raise PeError("truncated at %d" % off)
    return struct.unpack_from("<I", data, off)[0]


def pe_info(path):
    """Returns (machine, file version "a.b.c.d" or None) of a PE file."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:2] != b"MZ":
        raise PeError("not a PE file")
    pe = u32(data, 0x3C)
    if data[pe:pe + 4] != b"PE\0\0":
        raise PeError("no PE signature")
    machine = u16(data, pe + 4)
    nsections = u16(data, pe + 6)
    opt_size = u16(data, pe + 20)
    opt = pe + 24
    magic = u16(data, opt)
    dirs = opt + (96 if magic == 0x10B else 112)
    if u32(data, dirs - 4) <= 2:
        return machine, None
    rsrc_rva = u32(data, dirs + 2 * 8)
    if rsrc_rva == 0:
        return machine, None
    sections = []
    for i in range(nsections):
        s = opt + opt_size + 40 * i
        vsize, va, rawsize, rawptr = struct.unpack_from("<IIII", data, s + 8)
        sections.append((va, max(vsize, rawsize), rawptr))

    def file_offset(rva):
        for va, size, rawptr in sections:
            if va <= rva < va + size:
                return rawptr + rva - va
        raise PeError("RVA 0x%x outside every section" % rva)

    root = file_offset(rsrc_rva)

    def entries(table):
        named, ids = u16(data, table + 12), u16(data, table + 14)
        for i in range(named + ids):
            e = table + 16 + 8 * i
            yield u32(data, e), u32(data, e + 4)

    def first_leaf(off):
        # Down the name and language levels to the first data entry.
        for _, target in entries(off):
            if target & 0x80000000:
                return first_leaf(root + (target & 0x7FFFFFFF))
            return root + target
        return None

    for ident, target in entries(root):
        if ident == RT_VERSION and target & 0x80000000:
            leaf = first_leaf(root + (target & 0x7FFFFFFF))
            if leaf is None:
                return machine, None
            data_rva, size = u32(data, leaf), u32(data, leaf + 4)
            block = data[file_offset(data_rva):file_offset(data_rva) + size]
            # VS_VERSIONINFO: header, key L"VS_VERSION_INFO", padding, VS_FIXEDFILEINFO.
            fixed = (6 + len("VS_VERSION_INFO\0") * 2 + 3) & ~3
            if u32(block, fixed) != VS_FIXEDFILEINFO_SIGNATURE:
                raise PeError("version resource without VS_FIXEDFILEINFO")
            ms, ls = u32(block, fixed + 8), u32(block, fixed + 12)
            return machine, "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)
    return machine, None


def copy_text(src, dst, version=None, encoding=None):
    with open(src, encoding="utf-8") as f:
        text = f.read()
    if version is not None:
        text = text.replace("@VERSION@", version)
    text = text.replace("\r\n", "\n").replace("\n", "\r\n")
    with open(dst, "wb") as f:
        f.write(text.encode(encoding or "utf-8"))


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    build, version, stage = sys.argv[1:]
    exe = os.path.join(build, "app", "MVRServ.exe")
    try:
        machine, file_version = pe_info(exe)
    except (OSError, PeError) as e:
        sys.exit("stage: %s: %s" % (exe, e))
    if machine not in TARGETS:
        sys.exit("stage: %s: machine type 0x%04x has no NSIS target" % (exe, machine))
    if file_version != version:
        sys.exit("stage: %s carries version %s, VERSION says %s: rebuild" % (exe, file_version, version))

    if os.path.exists(stage):
        shutil.rmtree(stage)
    samples = os.path.join(stage, "Beispiele")
    os.makedirs(samples)
    shutil.copy2(exe, os.path.join(stage, "MVRServ.exe"))
    # Notepad on a German Windows reads the system code page.
    copy_text(os.path.join(ROOT, "installer", "LiesMich.txt"), os.path.join(stage, "LiesMich.txt"),
              version, "cp1252")
    for rel in SAMPLES:
        copy_text(os.path.join(ROOT, rel), os.path.join(samples, os.path.basename(rel)))
    for rel in GENERATED:
        copy_text(os.path.join(build, rel), os.path.join(samples, os.path.basename(rel)))
    print(TARGETS[machine])


if __name__ == "__main__":
    main()
