#!/usr/bin/env python3
"""Writes a 32 x 32, 16-colour Windows icon (.ico) from a text pixel map.

Usage: mkico.py MAP OUT.ico

The map has 32 rows of 32 characters, one per pixel, top row first. A hex
digit 0-F picks a colour of the standard 16-colour palette; '.' is
transparent. Lines starting with '#' and blank lines are ignored.
"""
import struct
import sys

SIZE = 32
# The standard 16-colour palette, in index order, as (red, green, blue).
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]


def read_map(path):
    rows = []
    with open(path, encoding="ascii") as f:
        for number, line in enumerate(f, 1):
            line = line.rstrip("\r\n")
            if not line or line.startswith("#"):
                continue
            if len(line) != SIZE:
                raise ValueError(f"{path}:{number}: row has {len(line)} pixels, not {SIZE}")
            for ch in line:
                if ch != "." and ch not in "0123456789ABCDEFabcdef":
                    raise ValueError(f"{path}:{number}: unknown pixel {ch!r}")
            rows.append(line.upper())
    if len(rows) != SIZE:
        raise ValueError(f"{path}: {len(rows)} rows, not {SIZE}")
    return rows


def icon_bytes(rows):
    # Colour plane: 4 bits per pixel, rows bottom-up, each row 16 bytes (already
    # a multiple of four). Transparent pixels are black there and set in the mask.
    colour = bytearray()
    mask = bytearray()
    for line in reversed(rows):
        indices = [0 if ch == "." else int(ch, 16) for ch in line]
        for x in range(0, SIZE, 2):
            colour.append(indices[x] << 4 | indices[x + 1])
        bits = 0
        for ch in line:
            bits = bits << 1 | (1 if ch == "." else 0)
        mask += bits.to_bytes(SIZE // 8, "big")  # 4 bytes: row already aligned
    header = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 4, 0,
                         len(colour) + len(mask), 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    image = header + palette + bytes(colour) + bytes(mask)
    directory = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: mkico.py MAP OUT.ico\n")
        return 2
    try:
        data = icon_bytes(read_map(argv[1]))
    except (OSError, ValueError) as error:
        sys.stderr.write(f"mkico: {error}\n")
        return 1
    with open(argv[2], "wb") as f:
        f.write(data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
