#!/usr/bin/env python3
"""Post-step for the widl-made type library: widl cannot give a dispinterface a version,
so every type description gets version 1.0 here, and widl's own custom data (compiler
version and time stamp) is dropped; the library's fixed attributes are checked so that a
changed widl cannot slip a different library into the program.

usage: finish_tlb.py IN.tlb OUT.tlb win32|win64
"""
import struct
import sys
import uuid

TKIND_DISPATCH, TKIND_COCLASS = 4, 5
EXPECTED = [
    # name, kind, type flags, GUID
    ("IMVRqmz_trx", TKIND_DISPATCH, 0x40 | 0x100 | 0x1000, "85EB46C2-E166-43A8-BE36-B63F14C76D2B"),
    ("IMVRqmz_trxEvents", TKIND_DISPATCH, 0x1000, "9C9C966A-D8B9-472C-B21A-C5EC4E6B7FA6"),
    ("MVR_AutoServ", TKIND_COCLASS, 0x2, "70020767-BED6-4A11-B50A-A606C6F119F6"),
]
LIBID = "07A253A7-A00B-446B-BA87-129A6A9A138B"
SYSKIND = {"win32": 1, "win64": 3}
TYPEINFO_SIZE = 0x64


def fail(what):
    sys.exit("finish_tlb: " + what)


def main(src, dst, platform):
    data = bytearray(open(src, "rb").read())
    (magic1, magic2, posguid, lcid, lcid2, varflags, version, flags, ntypes) = struct.unpack_from("<9i", data, 0)
    if magic1 != 0x5446534D or magic2 != 0x00010002:
        fail("not an MSFT type library")
    if (lcid, lcid2) != (0x409, 0x409):
        fail("locale %#x/%#x" % (lcid, lcid2))
    if varflags & 0xF != SYSKIND[platform]:
        fail("target system %d" % (varflags & 0xF))
    if version != 1 or flags != 0:
        fail("library version %#x flags %#x" % (version, flags))
    if ntypes != len(EXPECTED):
        fail("%d type descriptions" % ntypes)
    struct.pack_into("<i", data, 0x40, -1)  # no custom data on the library
    pos = 0x54 + (4 if varflags & 0x100 else 0)
    offsets = struct.unpack_from("<%di" % ntypes, data, pos)
    segdir = pos + 4 * ntypes
    seg = [struct.unpack_from("<2i", data, segdir + 16 * i) for i in range(15)]
    typeinfo_base, guid_base, name_base = seg[0][0], seg[5][0], seg[7][0]

    def guid_at(off):
        return str(uuid.UUID(bytes_le=bytes(data[guid_base + off:guid_base + off + 16]))).upper()

    def name_at(off):
        n = data[name_base + off + 8]
        return data[name_base + off + 12:name_base + off + 12 + n].decode("ascii")

    if guid_at(posguid) != LIBID:
        fail("LIBID " + guid_at(posguid))
    for i, (name, kind, tflags, guid) in enumerate(EXPECTED):
        base = typeinfo_base + offsets[i]
        if offsets[i] != i * TYPEINFO_SIZE:
            fail("type description %d at %#x" % (i, offsets[i]))
        got_kind, = struct.unpack_from("<i", data, base)
        got_guid, got_flags, got_name = struct.unpack_from("<3i", data, base + 0x2C)
        got = (name_at(got_name), got_kind & 0xF, got_flags, guid_at(got_guid))
        if got != (name, kind, tflags, guid):
            fail("type description %d is %r, expected %r" % (i, got, (name, kind, tflags, guid)))
        if struct.unpack_from("<i", data, base + 0x48)[0] != -1:
            fail("custom data on type description %d" % i)
        struct.pack_into("<i", data, base + 0x38, 1)  # major 1, minor 0
    open(dst, "wb").write(data)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[3] not in SYSKIND:
        sys.exit(__doc__)
    main(*sys.argv[1:])
