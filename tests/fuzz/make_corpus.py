#!/usr/bin/env python3
"""Writes the seed inputs of receive_fuzz (layout: see the head of receive_fuzz.cpp)."""
import os
import struct


def crc16(data):
    crc = 0
    for b in data:
        crc ^= b << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021 if crc & 0x8000 else crc << 1) & 0xFFFF
    return crc


def frame(ch, data):
    f = bytes([0xF0 | ch, len(data) - 1]) + bytes(data)
    return f + struct.pack(">H", crc16(f))


def command(ch, value):
    return bytes([0x10 | ch, value, value ^ (0x10 | ch)])


def header(caps, timeout=16, actions=bytes(8)):
    mask = sum(1 << ch for ch in caps)
    out = struct.pack("<H", mask)
    for ch in sorted(caps):
        out += struct.pack("<H", caps[ch])
    return out + bytes([timeout + 1]) + actions


def chunk(data):
    return bytes([0]) + struct.pack("<H", len(data)) + data


def woken(data):
    return bytes([14]) + struct.pack("<H", len(data)) + data


def wait(ms):
    return bytes([15, ms])


def send_command(ch, value):
    return bytes([11, ch, value])


CHECK_TIMEOUT = bytes([12])
ALL = {ch: 256 for ch in range(10)}

seeds = {
    "abc": header(ALL) + send_command(3, 1) + chunk(frame(3, b"abc")) + CHECK_TIMEOUT,
    "mixed": header(ALL) + send_command(2, 0x41)
    + chunk(b"\xfa\x25\x00" + command(2, 0x41) + bytes([0x12, 0x41, 0x54]) + frame(5, b"de")
            + frame(9, bytes(range(256))) + frame(1, b"bad")[:-1] + b"\x00")
    + CHECK_TIMEOUT,
    "split": header(ALL, actions=bytes([1, 2 | 8 * 3, 5, 7, 3 | 8 * 4, 4 | 8 * 5, 6, 0]))
    + send_command(4, 7) + chunk(frame(4, b"hello world")[:6]) + chunk(frame(4, b"hello world")[6:])
    + chunk(frame(3, b"x") + frame(3, b"y") + frame(4, b"z")) + bytes([8, 4, 9, 4, 0x10, 0])
    + chunk(frame(4, b"again")) + bytes([13]) + chunk(frame(0, b"none")),
    "small": header({0: 0, 1: 1, 2: 2, 3: 3}, timeout=-1)
    + chunk(frame(0, b"a") + frame(1, b"ab") + frame(2, b"ab") + frame(3, b"abcd") + command(0, 9)
            + frame(3, b"abc")),
    "trickle": header(ALL) + b"".join(chunk(frame(6, bytes(range(40)))[i:i + 10]) + wait(30) + chunk(b"")
                                      for i in range(0, 44, 10))
    + send_command(6, 1) + woken(frame(6, b"first")) + woken(frame(6, b"second")[:3]) + wait(60) + chunk(b"")
    + woken(frame(6, b"second")[3:]) + chunk(frame(7, b"stray")[:4]) + wait(60) + chunk(b"") + wait(40)
    + chunk(b"") + chunk(frame(7, b"next")) + CHECK_TIMEOUT,
}

here = os.path.join(os.path.dirname(os.path.abspath(__file__)), "corpus")
os.makedirs(here, exist_ok=True)
for name, data in seeds.items():
    with open(os.path.join(here, name), "wb") as f:
        f.write(data)
