#!/usr/bin/env python3
"""Audits the installer program's image: what it imports and its manifest.

    check-setup-image.py SETUP.EXE [--imports LIST]

Imports: only from KERNEL32, USER32, GDI32 and ADVAPI32 (SHELL32 is loaded
from the system directory when needed), no C runtime DLL, by name (no ordinals), no wide-character ("W") functions; with
--imports, every imported function must be on LIST (dll, function, note per
line; '#' starts a comment), the functions both Windows 95 and NT 4.0 export.

Manifest: resource type 24, id 1, well-formed, naming the program, asking
for requireAdministrator in a trustInfo element that declares its namespace
once, listing Vista through 10/11 as supported and declaring DPI awareness.

Prints one line per finding and "ok: ..." lines; exits 1 on any finding.
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "lib"))
from peimage import Image  # noqa: E402

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "GDI32.DLL", "ADVAPI32.DLL"}
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
ASM_V3 = "urn:schemas-microsoft-com:asm.v3"
COMPAT = "urn:schemas-microsoft-com:compatibility.v1"
SETTINGS_2005 = "http://schemas.microsoft.com/SMI/2005/WindowsSettings"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}
RT_MANIFEST = 24


def load_list(path):
    allowed = {}
    for line in open(path, encoding="utf-8"):
        line = line.split("#", 1)[0].strip()
        if not line:
            continue
        dll, name, *note = line.split(None, 2)
        allowed[(dll.upper() + ".DLL", name)] = note[0] if note else ""
    return allowed


def check_imports(image, allowed, problems):
    imports = image.imports()
    if not imports:
        problems.append("no imports found")
    for dll in sorted({dll for dll, _ in imports if dll.upper() not in ALLOWED_DLLS}):
        problems.append("imports from %s (only KERNEL32, USER32, GDI32 and ADVAPI32 may be)" % dll)
    for dll, name in imports:
        if name is None:
            problems.append("imports by ordinal from %s" % dll)
            continue
        if re.search(r"[a-z0-9]W$", name):
            problems.append("imports the wide-character function %s" % name)
        if allowed is not None and (dll.upper(), name) not in allowed:
            problems.append("imports %s!%s, which is not on the Windows 95 / NT 4.0 list" % (dll, name))
    dlls = sorted({dll.upper() for dll, _ in imports})
    print("ok: %d functions imported from %s" % (len(imports), ", ".join(dlls)) if not problems else
          "imports: %d functions from %s" % (len(imports), ", ".join(dlls)))


def check_manifest(image, problems):
    raw = image.resource(RT_MANIFEST, 1)
    if raw is None:
        problems.append("no manifest (resource type 24, id 1)")
        return
    text = raw.decode("utf-8")
    try:
        root = ET.fromstring(raw)
    except ET.ParseError as e:
        problems.append("manifest is not well-formed: %s" % e)
        return
    before = len(problems)
    if root.tag != "{%s}assembly" % ASM_V1 or root.get("manifestVersion") != "1.0":
        problems.append("manifest root is not an asm.v1 assembly of version 1.0")
    identity = root.find("{%s}assemblyIdentity" % ASM_V1)
    if identity is None or not all(identity.get(a) for a in ("type", "name", "version")):
        problems.append("manifest lacks an assemblyIdentity with type, name and version (Windows XP needs them)")
    level = root.find("{%s}trustInfo/{%s}security/{%s}requestedPrivileges/{%s}requestedExecutionLevel" %
                      (ASM_V3, ASM_V3, ASM_V3, ASM_V3))
    if level is None or level.get("level") != "requireAdministrator" or level.get("uiAccess") != "false":
        problems.append("manifest does not ask for requireAdministrator (asm.v3 trustInfo)")
    for tag in re.findall(r"<[^>]*trustInfo[^>]*>", text):
        if not tag.startswith("</") and tag.count("xmlns") != 1:
            problems.append("trustInfo declares %d namespaces; Windows XP SP2 restarts on two" % tag.count("xmlns"))
    ids = {os.get("Id", "").lower() for os in root.iter("{%s}supportedOS" % COMPAT)}
    missing = [name for guid, name in SUPPORTED_OS.items() if guid not in ids]
    if missing:
        problems.append("manifest does not list as supported: Windows %s" % ", ".join(missing))
    aware = root.find("{%s}application/{%s}windowsSettings/{%s}dpiAware" % (ASM_V3, ASM_V3, SETTINGS_2005))
    if aware is None or aware.text.strip().lower() != "true":
        problems.append("manifest does not declare DPI awareness")
    if len(problems) == before:
        print("ok: manifest (%d bytes): requireAdministrator, Vista to 10/11, DPI aware" % len(raw))


def main(argv):
    args = argv[1:]
    if not args or args[0] in ("-h", "--help"):
        print(__doc__.strip())
        return 0 if args else 64
    path = args[0]
    allowed = None
    if len(args) == 3 and args[1] == "--imports":
        allowed = load_list(args[2])
    elif len(args) != 1:
        print("check-setup-image: bad arguments (see --help)", file=sys.stderr)
        return 64
    try:
        image = Image(open(path, "rb").read())
    except (OSError, ValueError, struct.error) as e:
        print("check-setup-image: %s: %s" % (path, e), file=sys.stderr)
        return 2
    problems = []
    check_imports(image, allowed, problems)
    check_manifest(image, problems)
    for p in problems:
        print("FAIL " + p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
