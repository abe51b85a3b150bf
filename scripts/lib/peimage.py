"""A PE image as the scripts need it: sections, imports, resources, and
the name a DLL is imported by (standard library only)."""
import struct


class Image:
    """A PE image: its sections and data directories."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        sections, optional_size = struct.unpack_from("<2xH12xH", data, pe + 4)
        optional = pe + 24
        magic = struct.unpack_from("<H", data, optional)[0]
        if magic not in (0x10B, 0x20B):
            raise ValueError("unknown optional header magic %#x" % magic)
        self.wide = magic == 0x20B
        directories = optional + (112 if self.wide else 96)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [struct.unpack_from("<II", data, directories + 8 * i) for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            vsize, vaddr, rsize, raw = struct.unpack_from("<8xIIII", data, table + 40 * i)
            self.sections.append((vaddr, max(vsize, rsize), raw))

    def offset(self, rva):
        for vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError("address %#x lies in no section" % rva)

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imports(self):
        """[(dll, name or None for an ordinal)]"""
        rva, size = self.directories[1]
        found = []
        if not rva:
            return found
        at = self.offset(rva)
        while True:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                break
            dll = self.cstring(name)
            entry = self.offset(lookup or thunks)
            step, fmt, flag = (8, "<Q", 1 << 63) if self.wide else (4, "<I", 1 << 31)
            while True:
                value = struct.unpack_from(fmt, self.data, entry)[0]
                if not value:
                    break
                found.append((dll, None if value & flag else self.cstring((value & 0x7FFFFFFF) + 2)))
                entry += step
            at += 20
        return found

    def resource(self, kind, ident):
        """The bytes of the first language of resource (kind, ident), or None."""
        base_rva = self.directories[2][0]
        if not base_rva:
            return None
        base = self.offset(base_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<12xHH", self.data, directory)
            for i in range(named + numbered):
                key, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                yield key, target

        def child(directory, key):
            for k, target in entries(directory):
                if k == key and target & 0x80000000:
                    return base + (target & 0x7FFFFFFF)
            return None

        kinds = child(base, kind)
        names = kinds and child(kinds, ident)
        if not names:
            return None
        for _, target in entries(names):
            data_rva, size = struct.unpack_from("<II", self.data, base + target)
            at = self.offset(data_rva)
            return self.data[at:at + size]
        return None

    def rename_import(self, old, new):
        """The image with the DLL imported as OLD imported as NEW instead
        (a name of the same length); ValueError when OLD is not imported."""
        if len(old) != len(new):
            raise ValueError("the new name must be as long as the old one")
        rva = self.directories[1][0]
        at = self.offset(rva) if rva else None
        while at is not None:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if not (lookup or name or thunks):
                break
            if self.cstring(name).upper() == old.upper():
                data = bytearray(self.data)
                start = self.offset(name)
                data[start:start + len(new)] = new.encode("ascii")
                return bytes(data)
            at += 20
        raise ValueError("%s is not imported" % old)
