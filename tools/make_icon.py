#!/usr/bin/env python3
"""Builds a 32 x 32, 16-colour .ico from a text picture.

The picture has 32 lines of 32 characters: '.' is transparent, a hex digit 0-f is
that entry of the standard 16-colour palette. Keeping icons as text keeps them
reviewable in the repository instead of opaque binaries.
"""
import struct
import sys

PALETTE = [  # (R, G, B), the standard Windows 16-colour order
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
SIZE = 32


def read_picture(path):
    rows = [line.rstrip("\n") for line in open(path, encoding="ascii")
            if line.strip() and not line.startswith("#")]
    if len(rows) != SIZE or any(len(r) != SIZE for r in rows):
        sys.exit(f"{path}: need {SIZE} rows of {SIZE} characters")
    for r in rows:
        bad = set(r) - set(".0123456789abcdef")
        if bad:
            sys.exit(f"{path}: unexpected characters {sorted(bad)}")
    return rows


def icon_bytes(rows):
    # Bitmaps are stored bottom-up: colour rows at 4 bits a pixel, then the
    # transparency mask at 1 bit a pixel, each row padded to 4 bytes.
    xor = bytearray()
    mask = bytearray()
    for r in reversed(rows):
        for x in range(0, SIZE, 2):
            hi, lo = (0 if c == "." else int(c, 16) for c in r[x:x + 2])
            xor.append(hi << 4 | lo)
        bits = 0
        for x, c in enumerate(r):
            if c == ".":
                bits |= 1 << (SIZE - 1 - x)
        mask += bits.to_bytes(4, "big")
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(xor) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(xor) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: make_icon.py PICTURE.txt OUT.ico")
    with open(sys.argv[2], "wb") as out:
        out.write(icon_bytes(read_picture(sys.argv[1])))


if __name__ == "__main__":
    main()
