#!/usr/bin/env python3
"""Helpers of the installer's end-to-end runs (standard library only).

  e2e-tools.py backdrop SHOT.png X Y W H   check the backdrop's gradient and
                                           title around the dialog at X,Y,W,H
  e2e-tools.py corrupt IN OUT NAME         copy an installer, flipping one
                                           byte in the middle of the packed
                                           data of the entry NAME

`backdrop` prints one line per check, "ok NAME" or "FAIL NAME: why", and
exits 1 when any failed.
"""
import struct
import subprocess
import sys

MARKER = b"Rar!\x1a\x07\x00"


def read_screen(path):
    ppm = subprocess.run(["convert", path, "-depth", "8", "ppm:-"], check=True,
                         stdout=subprocess.PIPE).stdout
    # P6 header: magic, width, height, maximum, each followed by white space.
    fields = []
    pos = 0
    while len(fields) < 4:
        while ppm[pos:pos + 1].isspace():
            pos += 1
        start = pos
        while not ppm[pos:pos + 1].isspace():
            pos += 1
        fields.append(ppm[start:pos])
    pos += 1
    if fields[0] != b"P6" or fields[3] != b"255":
        raise ValueError("unexpected screen format")
    width, height = int(fields[1]), int(fields[2])
    return width, height, ppm[pos:pos + width * height * 3]


def backdrop(shot, dx, dy, dw, dh):
    width, height, pixels = read_screen(shot)

    def at(x, y):
        i = (y * width + x) * 3
        return tuple(pixels[i:i + 3])

    def in_dialog(x, y):
        return dx <= x < dx + dw and dy <= y < dy + dh

    results = []

    def check(name, failure):
        results.append(("ok " + name) if failure is None else f"FAIL {name}: {failure}")

    band = max(height >> 8, 1)

    def expected(y):
        return (0, 0, min(y // band, 255))

    # The title sits at one eighth of width and height; it is the only thing
    # on the backdrop that is not pure blue.
    title_x, title_y = width >> 3, height >> 3
    lit = [(x, y) for y in range(height) for x in range(width)
           if not in_dialog(x, y) and at(x, y)[0] > 128]

    failure = None
    for x in range(width):
        if not in_dialog(x, 0) and at(x, 0) != (0, 0, 0):
            failure = f"pixel {x},0 is {at(x, 0)}"
            break
    check("top row black", failure)

    failure = None
    for x in (1, width // 2, width - 2):
        for y in range(height):
            if in_dialog(x, y) or any(abs(lx - x) < 2 and ly == y for lx, ly in lit):
                continue
            if at(x, y) != expected(y):
                failure = f"pixel {x},{y} is {at(x, y)}, expected {expected(y)} (band height {band})"
                break
        if failure:
            break
    check(f"gradient rises band by band ({band} rows a band, blue 0 to {min((height - 1) // band, 255)})",
          failure)

    if not lit:
        check("title drawn", "no light pixels on the backdrop")
    else:
        left = min(x for x, _ in lit)
        top = min(y for _, y in lit)
        right = max(x for x, _ in lit)
        bottom = max(y for _, y in lit)
        failure = None
        if not (title_x <= left <= title_x + 8 and title_y <= top <= title_y + 20):
            failure = f"text starts at {left},{top}, expected just right of and below {title_x},{title_y}"
        elif right - left < 150 or not 12 <= bottom - top <= 60:
            failure = f"text spans {left},{top} to {right},{bottom}: not one line of large letters"
        elif any(at(x, y) != (255, 255, 255) and at(x, y)[2] < 128 for x, y in lit):
            failure = "the title is not white"
        check(f"title at one eighth of width and height ({left},{top} to {right},{bottom})", failure)
    for line in results:
        print(line)
    return 0 if all(line.startswith("ok ") for line in results) else 1


def entries(data):
    """(name, data offset, packed size) of every file block of the archive
    that runs from some marker to exactly the end of the data."""
    start = data.find(MARKER)
    while start >= 0:
        found = []
        pos = start + len(MARKER)
        try:
            while pos < len(data):
                kind, flags, size = struct.unpack_from("<BHH", data, pos + 2)
                if size < 7:
                    raise ValueError
                extra = struct.unpack_from("<I", data, pos + 7)[0] if flags & 0x8000 else 0
                if kind == 0x74:
                    name_length = struct.unpack_from("<H", data, pos + 26)[0]
                    name = data[pos + 32:pos + 32 + name_length].decode("latin-1")
                    found.append((name, pos + size, extra))
                pos += size + extra
            if pos == len(data) and found:
                return found
        except (struct.error, ValueError):
            pass
        start = data.find(MARKER, start + 1)
    raise ValueError("no archive found")


def corrupt(source, target, name):
    data = bytearray(open(source, "rb").read())
    for stored, offset, size in entries(bytes(data)):
        if stored.replace("/", "\\") == name:
            if size < 4:
                raise ValueError(f"{name}: too little packed data to damage")
            data[offset + size // 2] ^= 0x5A
            open(target, "wb").write(data)
            return 0
    raise ValueError(f"{name}: no such entry")


def main(argv):
    try:
        if len(argv) == 7 and argv[1] == "backdrop":
            return backdrop(argv[2], *(int(v) for v in argv[3:7]))
        if len(argv) == 5 and argv[1] == "corrupt":
            return corrupt(argv[2], argv[3], argv[4])
    except (OSError, ValueError, subprocess.CalledProcessError) as error:
        print(f"e2e-tools: {error}", file=sys.stderr)
        return 2
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
