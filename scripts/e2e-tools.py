#!/usr/bin/env python3
"""Helpers of the installer's end-to-end runs (standard library only).

  e2e-tools.py backdrop SHOT.png X Y W H   check the backdrop's gradient and
                                           title around the dialog at X,Y,W,H
  e2e-tools.py corrupt QVINSTALL IN OUT NAME
                                           copy an installer, flipping one
                                           byte in the middle of the packed
                                           data of the entry NAME, which
                                           QVINSTALL's list locates
  e2e-tools.py cut QVINSTALL IN OUT NAME end|middle
                                           copy an installer up to the end
                                           of the packed data of the entry
                                           NAME (an entry boundary: the next
                                           block's header is missing) or up
                                           to the middle of it, as a download
                                           that stopped there
  e2e-tools.py kernel9x IN OUT             copy an installer, importing from
                                           KERNEL9X.dll (the Windows 95/98
                                           stand-in) instead of KERNEL32.dll
  e2e-tools.py kernelnt IN OUT             the same with KERNELNT.dll (the
                                           Windows NT stand-in)

`backdrop` prints one line per check, "ok NAME" or "FAIL NAME: why", and
exits 1 when any failed.
"""
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from peimage import Image  # noqa: E402

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


def entry_data(qvinstall, installer, name):
    """(data offset, packed size) of the entry NAME, from the JSON lines of
    `qvinstall list --format json`."""
    listing = subprocess.run([qvinstall, "list", "--format", "json", installer], check=True,
                             stdout=subprocess.PIPE).stdout.decode("utf-8")
    for line in listing.splitlines():
        entry = json.loads(line)
        if entry["name"] == name:
            return entry["data_offset"], entry["packed"]
    raise ValueError(f"{name}: no such entry")


def corrupt(qvinstall, source, target, name):
    offset, size = entry_data(qvinstall, source, name)
    if size < 4:
        raise ValueError(f"{name}: too little packed data to damage")
    data = bytearray(open(source, "rb").read())
    data[offset + size // 2] ^= 0x5A
    open(target, "wb").write(data)
    return 0


def cut(qvinstall, source, target, name, where):
    offset, size = entry_data(qvinstall, source, name)
    data = open(source, "rb").read()
    if where == "end":
        length = offset + size
    elif where == "middle" and size >= 2:
        length = offset + size // 2
    else:
        raise ValueError(f"{name}: cannot cut at '{where}'")
    if length >= len(data):
        raise ValueError(f"{name}: its data ends the file, a cut behind it is no cut")
    open(target, "wb").write(data[:length])
    return 0


def import_stand_in(source, target, name):
    data = open(source, "rb").read()
    open(target, "wb").write(Image(data).rename_import("KERNEL32.dll", name))
    return 0


def main(argv):
    try:
        if len(argv) == 7 and argv[1] == "backdrop":
            return backdrop(argv[2], *(int(v) for v in argv[3:7]))
        if len(argv) == 6 and argv[1] == "corrupt":
            return corrupt(*argv[2:6])
        if len(argv) == 7 and argv[1] == "cut":
            return cut(*argv[2:7])
        if len(argv) == 4 and argv[1] in ("kernel9x", "kernelnt"):
            return import_stand_in(argv[2], argv[3], argv[1].upper() + ".dll")
    except (OSError, ValueError, subprocess.CalledProcessError) as error:
        print(f"e2e-tools: {error}", file=sys.stderr)
        return 2
    print(__doc__.strip(), file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
