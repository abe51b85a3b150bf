#include "archive/peimage.h"

#include <string.h>

#include "base/littleendian.h"
#include "base/stream.h"

namespace {

enum {
    kDosHeaderSize = 0x40,
    kNewHeaderPointer = 0x3C,  // e_lfanew: file offset of "PE\0\0"
    kMaxNewHeader = 0x10000,   // where the PE header may begin at the latest
    kCoffHeaderSize = 20,
    // In the COFF header.
    kCoffMachine = 0,
    kCoffSectionCount = 2,
    kCoffOptionalHeaderSize = 16,
    kCoffCharacteristics = 18,
    // In the optional header of each kind: the subsystem, the number of data
    // directories and where they begin; each directory is 8 bytes.
    kOptionalSubsystem = 68,
    kDirectoryCountPe32 = 92,
    kDirectoriesPe32 = 96,
    kDirectoryCountPe32Plus = 108,
    kDirectoriesPe32Plus = 112,
    kDirectorySize = 8,
    kSectionHeaderSize = 40,
    // Resource directories: a 16-byte table whose last two u16 count the
    // named and the numbered entries, then 8-byte entries (name or id, and
    // the offset of a subdirectory, top bit set, or of a data entry).
    kResourceTableSize = 16,
    kResourceEntrySize = 8,
    kResourceSubdirectory = 0x80000000u
};

bool ReadAt(FileStream* stream, uint32_t offset, uint8_t* buffer, size_t count) {
    return offset <= 0x7FFFFFFFu && SeekFile(stream, static_cast<int32_t>(offset), kSeekFromStart) == 0 &&
           ReadBytes(stream, buffer, count) == count;
}

// The file offset of size bytes at rva, when they lie within the bytes a
// section has in the file.
bool FileOffsetOf(FileStream* stream, const PeHeaders* pe, uint32_t rva, uint32_t size, uint32_t* offset) {
    for (uint32_t i = 0; i < pe->SectionCount; i++) {
        PeSection s;
        if (!ReadPeSection(stream, pe, i, &s)) return false;
        if (rva >= s.VirtualAddress && rva - s.VirtualAddress <= s.RawSize &&
            size <= s.RawSize - (rva - s.VirtualAddress)) {
            *offset = s.RawOffset + (rva - s.VirtualAddress);
            return true;
        }
    }
    return false;
}

// The resources as laid out in the file: the root directory's offset and
// the size of the area every offset in it is counted within.
struct ResourceArea {
    FileStream* Stream;
    uint32_t Root;
    uint32_t Size;
};

bool ReadResource(const ResourceArea* area, uint64_t at, uint8_t* buffer, uint32_t count) {
    return at + count <= area->Size && ReadAt(area->Stream, static_cast<uint32_t>(area->Root + at), buffer, count);
}

// The value of the entry for id (any entry when anyId) in the resource
// directory at `at`: a subdirectory's offset with the top bit, or a data
// entry's offset.
bool FindResourceEntry(const ResourceArea* area, uint32_t at, uint32_t id, bool anyId, uint32_t* value) {
    uint8_t table[kResourceTableSize];
    if (!ReadResource(area, at, table, sizeof table)) return false;
    uint32_t named = LoadU16(table + 12), numbered = LoadU16(table + 14);
    for (uint32_t i = anyId ? 0 : named; i < named + numbered; i++) {
        uint8_t entry[kResourceEntrySize];
        if (!ReadResource(area, uint64_t(at) + kResourceTableSize + i * kResourceEntrySize, entry, sizeof entry))
            return false;
        if (anyId || LoadU32(entry) == id) {
            *value = LoadU32(entry + 4);
            return true;
        }
    }
    return false;
}

}  // namespace

bool ReadPeHeaders(FileStream* stream, PeHeaders* pe) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadAt(stream, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t at = LoadU32(dos + kNewHeaderPointer);
    if (at < kDosHeaderSize || at > kMaxNewHeader) return false;
    // Signature, COFF header and the optional header up to its data
    // directories in the larger of the two layouts.
    uint8_t h[4 + kCoffHeaderSize + kDirectoriesPe32Plus];
    if (!ReadAt(stream, at, h, sizeof h) || memcmp(h, "PE\0\0", 4) != 0) return false;
    const uint8_t* coff = h + 4;
    const uint8_t* optional = coff + kCoffHeaderSize;
    pe->Magic = LoadU16(optional);
    uint32_t countAt, directories;
    switch (pe->Magic) {
        case kPeMagicPe32: countAt = kDirectoryCountPe32; directories = kDirectoriesPe32; break;
        case kPeMagicPe32Plus: countAt = kDirectoryCountPe32Plus; directories = kDirectoriesPe32Plus; break;
        default: return false;
    }
    uint32_t optionalSize = LoadU16(coff + kCoffOptionalHeaderSize);
    if (optionalSize < directories) return false;
    pe->Machine = LoadU16(coff + kCoffMachine);
    pe->Characteristics = LoadU16(coff + kCoffCharacteristics);
    pe->Subsystem = LoadU16(optional + kOptionalSubsystem);
    pe->SectionCount = LoadU16(coff + kCoffSectionCount);
    pe->SectionsAt = at + 4 + kCoffHeaderSize + optionalSize;
    pe->DirectoriesAt = at + 4 + kCoffHeaderSize + directories;
    // Only the directories the optional header has room for.
    pe->DirectoryCount = LoadU32(optional + countAt);
    uint32_t room = (optionalSize - directories) / kDirectorySize;
    if (pe->DirectoryCount > room) pe->DirectoryCount = room;
    return true;
}

bool ReadPeSection(FileStream* stream, const PeHeaders* pe, uint32_t index, PeSection* section) {
    uint8_t b[kSectionHeaderSize];
    if (index >= pe->SectionCount || !ReadAt(stream, pe->SectionsAt + index * kSectionHeaderSize, b, sizeof b))
        return false;
    section->VirtualSize = LoadU32(b + 8);
    section->VirtualAddress = LoadU32(b + 12);
    section->RawSize = LoadU32(b + 16);
    section->RawOffset = LoadU32(b + 20);
    return true;
}

bool FindPeResource(FileStream* stream, const PeHeaders* pe, uint32_t type, uint32_t id, uint32_t* offset,
                    uint32_t* size) {
    uint8_t directory[kDirectorySize];
    if (pe->DirectoryCount <= kPeDirectoryResources ||
        !ReadAt(stream, pe->DirectoriesAt + kPeDirectoryResources * kDirectorySize, directory, sizeof directory))
        return false;
    ResourceArea area = {stream, 0, LoadU32(directory + 4)};
    if (!FileOffsetOf(stream, pe, LoadU32(directory), area.Size, &area.Root)) return false;
    // Type, then id, then the first language: two subdirectories and a
    // data entry (the data's address and size).
    uint32_t byType, byId, data;
    uint8_t entry[8];
    if (!FindResourceEntry(&area, 0, type, false, &byType) || !(byType & kResourceSubdirectory) ||
        !FindResourceEntry(&area, byType & ~kResourceSubdirectory, id, false, &byId) ||
        !(byId & kResourceSubdirectory) ||
        !FindResourceEntry(&area, byId & ~kResourceSubdirectory, 0, true, &data) ||
        (data & kResourceSubdirectory) || !ReadResource(&area, data, entry, sizeof entry))
        return false;
    *size = LoadU32(entry + 4);
    return FileOffsetOf(stream, pe, LoadU32(entry), *size, offset);
}

bool FindCertificateTableEntry(FileStream* stream, uint32_t* entryOffset) {
    PeHeaders pe;
    if (!ReadPeHeaders(stream, &pe) || pe.DirectoryCount <= kPeDirectoryCertificates) return false;
    *entryOffset = pe.DirectoriesAt + kPeDirectoryCertificates * kDirectorySize;
    return true;
}

bool FindCertificateTable(FileStream* stream, uint32_t* offset, uint32_t* size) {
    uint32_t entry;
    uint8_t b[kDirectorySize];
    if (!FindCertificateTableEntry(stream, &entry) || !ReadAt(stream, entry, b, sizeof b)) return false;
    *offset = LoadU32(b);
    *size = LoadU32(b + 4);
    return *offset != 0 && *size != 0;
}
