"""Writes the windows' small 16-colour icons (16x16) from the pixel pictures below, and the
application icon app.ico (the transceiver at 32x32, doubled, and at 16x16).
Run: python3 make_icons.py  (writes the .ico files next to this script)."""
import os
import struct

# The 16 standard colours; '.' is transparent.
PALETTE = [0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
           0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF]

PICTURES = {
    # transceiver: antenna, box, dial and display
    "tna": [
        "..........0.....",
        "..........0.....",
        "..........0.....",
        "..........0.....",
        "..........0.....",
        ".00000000000000.",
        ".0CCCCCCCCCCCC0.",
        ".0CAAAAAAC77C70.",
        ".0CA0A0A0C7C770.",
        ".0CAAAAAAC77C70.",
        ".0CCCCCCCCCCCC0.",
        ".0C9C9C9CC000C0.",
        ".0CCCCCCCC0F0C0.",
        ".0CCCCCCCC000C0.",
        ".00000000000000.",
        "................",
    ],
    # serial plug with its pins
    "setup": [
        "................",
        "................",
        "................",
        ".00000000000000.",
        ".07777777777770.",
        "..070707070770..",
        "..077777777770..",
        "...0707070770...",
        "...0000000000...",
        "......0000......",
        "......0CC0......",
        "......0CC0......",
        "......0CC0......",
        "......0CC0......",
        "......0CC0......",
        "................",
    ],
    # information: white i on a blue disc
    "info": [
        "................",
        ".....444444.....",
        "...4444444444...",
        "..444444FF4444..",
        "..444444FF4444..",
        ".44444444444444.",
        ".4444444FF44444.",
        ".444444FFF44444.",
        ".4444444FF44444.",
        ".4444444FF44444.",
        ".4444444FF44444.",
        "..44444FFFF444..",
        "..444444444444..",
        "...4444444444...",
        ".....444444.....",
        "................",
    ],
    # green tick
    "ok": [
        "................",
        "................",
        "..............2.",
        ".............22.",
        "............222.",
        "...........222..",
        "..........222...",
        ".2.......222....",
        ".22.....222.....",
        ".222...222......",
        "..222.222.......",
        "...22222........",
        "....222.........",
        ".....2..........",
        "................",
        "................",
    ],
    # red cross
    "cancel": [
        "................",
        "................",
        "..99........99..",
        "..999......999..",
        "...999....999...",
        "....999..999....",
        ".....999999.....",
        "......9999......",
        "......9999......",
        ".....999999.....",
        "....999..999....",
        "...999....999...",
        "..999......999..",
        "..99........99..",
        "................",
        "................",
    ],
    # stacked buffer blocks with a fold-out arrow
    "sizes": [
        "................",
        ".000000000000...",
        ".0EEEEEEEEEE0...",
        ".000000000000...",
        ".0EEEEEEEEEE0...",
        ".000000000000...",
        ".0EEEEEEEEEE0...",
        ".000000000000...",
        "................",
        "......000.......",
        "......040.......",
        "......040.......",
        "....0004000.....",
        ".....04440......",
        "......040.......",
        ".......0........",
    ],
}


def image(rows, size=16):
    """One 4-bit icon image (header, palette, colour bits, mask), rows of `size` pixels."""
    rows = [r[:size].ljust(size, ".") for r in rows]
    xor = bytearray()
    mask = bytearray()
    for r in reversed(rows):
        nib = [0 if c == "." else int(c, 16) for c in r]
        for i in range(0, size, 2):
            xor.append((nib[i] << 4) | nib[i + 1])
        bits = 0
        for c in r:
            bits = (bits << 1) | (1 if c == "." else 0)
        row_mask = bits.to_bytes(size // 8, "big")
        mask += row_mask + b"\0" * (-len(row_mask) % 4)
    pal = b"".join(struct.pack("<BBBB", c & 0xFF, (c >> 8) & 0xFF, c >> 16, 0) for c in PALETTE)
    hdr = struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, 4, 0, len(xor) + len(mask), 0, 0, 16, 0)
    return hdr + pal + bytes(xor) + bytes(mask)


def ico_file(images):
    """An icon file of (size, image bytes) pairs."""
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, img in images:
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(img), offset)
        offset += len(img)
    return out + b"".join(img for _, img in images)


def ico(rows):
    return ico_file([(16, image(rows))])


def doubled(rows):
    return [r2 for r in rows for r2 in ("".join(c + c for c in r),) * 2]


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    for name, rows in PICTURES.items():
        with open(os.path.join(here, name + ".ico"), "wb") as f:
            f.write(ico(rows))
    # The application icon: the first icon group of the program (Explorer, taskbar, captions).
    with open(os.path.join(here, "app.ico"), "wb") as f:
        f.write(ico_file([(32, image(doubled(PICTURES["tna"]), 32)), (16, image(PICTURES["tna"]))]))
