#!/usr/bin/env python3
"""qvpack builds on the installer program of this build and on nothing else.

    check-stub-refusals.py QVPACK SETUP.EXE CONSOLE.EXE LIBRARY.DLL

Packs a small tree behind SETUP.EXE (must work), then behind what is not the
installer program: an empty file, 2 KB of text, SETUP.EXE cut to 1,000 and
20,000 bytes, SETUP.EXE with its mark changed, a console program and a DLL of
the same build. Each must be refused with exit 2 and the reason, leaving no
output and no temporary file. Exits 77 (skipped) when QVPACK is not built.
"""
import os
import re
import subprocess
import sys
import tempfile

REASON = "not an installer program: "
FORMAT_H = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "base", "format.h")
MARK = re.search(r'#define QV_INSTALLER_MARK "([^"]+)"', open(FORMAT_H).read()).group(1).encode()


def main():
    qvpack, setup, console, library = sys.argv[1:5]
    if not os.access(qvpack, os.X_OK):
        print(f"skipped: no native qvpack at {qvpack}")
        return 77
    problems = 0
    with tempfile.TemporaryDirectory() as work:
        tree = os.path.join(work, "tree")
        os.mkdir(tree)
        with open(os.path.join(tree, "file.txt"), "w") as f:
            f.write("a file to pack\n")
        image = open(setup, "rb").read()
        at = image.find(MARK)
        cases = [
            ("the installer program", image, None),
            ("an empty file", b"", "no PE image"),
            ("2 KB of text", (b"Not a program, a line of text.\n" * 70)[:2048], "no PE image"),
            ("setup.exe cut to 1,000 bytes", image[:1000], "cut short (sections reach past the end of the file)"),
            ("setup.exe cut to 20,000 bytes", image[:20000], "cut short (sections reach past the end of the file)"),
            ("setup.exe with another mark", image[:at] + MARK[:-1] + b"?" + image[at + len(MARK):] if at >= 0 else b"",
             "does not carry the installer's mark"),
            ("a console program", open(console, "rb").read(), "a console program"),
            ("a DLL", open(library, "rb").read(), "a DLL"),
        ]
        for what, data, reason in cases:
            stub, out = os.path.join(work, "stub.exe"), os.path.join(work, "out.exe")
            with open(stub, "wb") as f:
                f.write(data)
            run = subprocess.run([qvpack, "-q", "--stub", stub, "-o", out, tree], capture_output=True, text=True)
            left = sorted(n for n in os.listdir(work) if n.startswith("out.exe"))
            if reason is None:
                ok = run.returncode == 0 and left == ["out.exe"]
            else:
                ok = run.returncode == 2 and f"{stub}: {REASON}{reason}" in run.stderr and not left
            print(f"{'ok' if ok else 'FAIL'}: {what}: exit {run.returncode} {run.stderr.strip()}"
                  + ("" if ok or not left else f" (left {left})"))
            problems += not ok
            for name in left:
                os.remove(os.path.join(work, name))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
