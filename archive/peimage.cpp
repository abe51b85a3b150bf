#include "archive/peimage.h"

#include <string.h>

#include "base/littleendian.h"
#include "base/stream.h"

namespace {

enum {
    kDosHeaderSize = 0x40,
    kNewHeaderPointer = 0x3C,  // e_lfanew: file offset of "PE\0\0"
    kCoffHeaderSize = 20,
    kOptionalHeaderSizeOffset = 16,  // in the COFF header
    kMagicPe32 = 0x10B,
    kMagicPe32Plus = 0x20B,
    // In the optional header of each kind: the number of data directories
    // and where they begin; each is 8 bytes, the certificate table the fifth.
    kDirectoryCountPe32 = 92,
    kDirectoriesPe32 = 96,
    kDirectoryCountPe32Plus = 108,
    kDirectoriesPe32Plus = 112,
    kCertificateDirectory = 4,
    kDirectorySize = 8,
    kMaxNewHeader = 0x10000  // where the PE header may begin at the latest
};

bool ReadAt(FileStream* stream, uint32_t offset, uint8_t* buffer, size_t count) {
    return SeekFile(stream, static_cast<int32_t>(offset), kSeekFromStart) == 0 &&
           ReadBytes(stream, buffer, count) == count;
}

}  // namespace

bool FindCertificateTableEntry(FileStream* stream, uint32_t* entryOffset) {
    uint8_t dos[kDosHeaderSize];
    if (!ReadAt(stream, 0, dos, sizeof dos) || dos[0] != 'M' || dos[1] != 'Z') return false;
    uint32_t pe = LoadU32(dos + kNewHeaderPointer);
    if (pe < kDosHeaderSize || pe > kMaxNewHeader) return false;
    // Signature, COFF header and the optional header up to the end of the
    // certificate table's entry in the larger of the two layouts.
    enum { kOptionalNeeded = kDirectoriesPe32Plus + (kCertificateDirectory + 1) * kDirectorySize };
    uint8_t h[4 + kCoffHeaderSize + kOptionalNeeded];
    memset(h, 0, sizeof h);
    if (SeekFile(stream, static_cast<int32_t>(pe), kSeekFromStart) != 0) return false;
    size_t got = ReadBytes(stream, h, sizeof h);
    if (got < 4 + kCoffHeaderSize + 2 || memcmp(h, "PE\0\0", 4) != 0) return false;
    const uint8_t* coff = h + 4;
    const uint8_t* optional = coff + kCoffHeaderSize;
    uint32_t optionalSize = LoadU16(coff + kOptionalHeaderSizeOffset);
    uint32_t countAt, directories;
    switch (LoadU16(optional)) {
        case kMagicPe32: countAt = kDirectoryCountPe32; directories = kDirectoriesPe32; break;
        case kMagicPe32Plus: countAt = kDirectoryCountPe32Plus; directories = kDirectoriesPe32Plus; break;
        default: return false;
    }
    uint32_t entry = directories + kCertificateDirectory * kDirectorySize;
    if (optionalSize < entry + kDirectorySize || got < 4 + kCoffHeaderSize + entry + kDirectorySize) return false;
    if (LoadU32(optional + countAt) <= kCertificateDirectory) return false;
    *entryOffset = pe + 4 + kCoffHeaderSize + entry;
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
