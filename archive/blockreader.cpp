// The archive behind the installer image: locating it (marker at offset 0,
// or a scan for the marker or the old signature after the image) and
// walking its blocks. All positions are signed 32-bit offsets from the start
// of the installer file; every multi-byte field is little-endian. Header
// checksums are not enforced.
#include "archive/blockreader.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "install/context.h"
#include "install/fileops.h"

namespace {

const uint8_t kMarkerBytes[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};  // "Rar!" 1A 07 00
const uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};                   // "RE~^"
const uint8_t kRsfx[4] = {0x52, 0x53, 0x46, 0x58};                           // "RSFX"

enum {
    kMainHeaderSize = 13,
    kFileHeaderSize = 32,
    kBlockHeaderMinimum = 7,
    kRsfxOffset = 28,        // absolute file offset of "RSFX" in old installers
    kMarkerTypeOffset = 9,   // main-header type byte, counted from the marker
    kAddSizeFlag = 0x8000,   // a 32-bit add-size follows at offset 7
    kVolumeFlag = 0x01,      // main header: one volume of a set
    kDictionaryBits = 0xE0,  // file header: all three set mark a directory
    kMaxNameLength = kPathSize - 1,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20
};

// The fixed fields of a file header: everything before Name.
const size_t kFixedFieldsSize = offsetof(FileBlockHeader, Name);

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t HostAttributes(const FileBlockHeader* header) {
    return (header->BlockFlags & kDictionaryBits) == kDictionaryBits ? kAttrDirectory
                                                                     : kAttrArchive;
}

// Looks through the n bytes scanned from file offset start for the first
// signature. buffer holds kScanBufferSize bytes, zero beyond the n read, so
// the comparisons may reach past the data. Returns the buffer index of the
// hit and its format (1 old signature, 2 marker), or -1.
int32_t FindSignature(const uint8_t* buffer, size_t n, int32_t start, uint32_t* format) {
    int32_t rsfxIndex = kRsfxOffset - start;
    bool rsfx = rsfxIndex >= 0 && rsfxIndex + 4 <= kScanBufferSize &&
                memcmp(buffer + rsfxIndex, kRsfx, 4) == 0;
    const uint8_t* p = buffer;
    const uint8_t* end = buffer + n;
    while (p < end) {
        p = static_cast<const uint8_t*>(memchr(p, kMarkerBytes[0], static_cast<size_t>(end - p)));
        if (!p) break;
        if (rsfx && memcmp(p, kOldSignature, 4) == 0) {
            *format = 1;
            return static_cast<int32_t>(p - buffer);
        }
        if (memcmp(p, kMarkerBytes, 7) == 0 && p[kMarkerTypeOffset] == kBlockMain) {
            *format = 2;
            return static_cast<int32_t>(p - buffer);
        }
        p++;
    }
    return -1;
}

// The scan after an image: fills in ArchiveFormat, ArchiveHeader and
// ArchiveKind for the first signature among the bytes that follow the
// candidate marker already read. Returns ArchiveKind (0 when none is found).
int ScanForArchive(UnpackContext* ctx) {
    uint8_t* buffer = static_cast<uint8_t*>(AllocZeroed(kScanBufferSize));
    if (!buffer) return 0;
    int32_t start = TellFile(ctx->ArchiveFile);
    size_t n = ReadBytes(ctx->ArchiveFile, buffer, kScanReadSize);
    uint32_t format = 0;
    int32_t hit = start >= 0 ? FindSignature(buffer, n, start, &format) : -1;
    FreeAndClear(&buffer);
    if (hit < 0) return 0;

    SeekFile(ctx->ArchiveFile, start + hit, 0);
    ctx->ArchiveFormat = format;
    if (format == 2 && ReadBytes(ctx->ArchiveFile, ctx->Marker, 7) != 7) return 0;
    // The main header starts at the old signature itself, or after the marker.
    // A header cut short by the end of the file is no archive, as at offset 0.
    if (ParseBlockHeader(ctx, kBlockMain) != kMainHeaderSize) return 0;
    if (format == 2 && (ctx->ArchiveHeader.BlockFlags & kVolumeFlag)) return 2;
    return 3;
}

}  // namespace

int IsPathSeparator(int ch) { return ch == '\\' || ch == '/' ? 1 : 0; }

int ParseBlockHeader(UnpackContext* ctx, int kind) {
    uint8_t b[kFileHeaderSize];
    memset(b, 0, sizeof b);  // bytes past the end of the file decode as zero
    if (kind == kBlockMain) {
        int n = static_cast<int>(ReadBytes(ctx->ArchiveFile, b, kMainHeaderSize));
        MainBlockHeader* h = &ctx->ArchiveHeader;
        h->HeaderCrc = GetU16(b);
        h->BlockType = b[2];
        h->BlockFlags = GetU16(b + 3);
        h->HeaderSize = GetU16(b + 5);
        h->Reserved16 = GetU16(b + 7);
        h->Reserved32 = GetU32(b + 9);
        return n;
    }
    if (kind != kBlockFile) return 0;
    int n = static_cast<int>(ReadBytes(ctx->ArchiveFile, b, kFileHeaderSize));
    FileBlockHeader* h = &ctx->EntryHeader;
    h->HeaderCrc = GetU16(b);
    h->BlockType = b[2];
    h->BlockFlags = GetU16(b + 3);
    h->HeaderSize = GetU16(b + 5);
    h->PackedSize = GetU32(b + 7);
    h->UnpackedSize = GetU32(b + 11);
    h->HostSystem = b[15];
    h->DataCrc = GetU32(b + 16);
    h->DosDateTime = GetU32(b + 20);
    h->VersionNeeded = b[24];
    h->MethodCode = b[25];
    h->NameLength = GetU16(b + 26);
    h->Attributes = GetU32(b + 28);
    return n;
}

int LocateArchive(UnpackContext* ctx) {
    ctx->ArchiveKind = 0;
    ctx->ArchiveFormat = 0;
    if (ReadBytes(ctx->ArchiveFile, ctx->Marker, 7) < 7) return 0;
    if (memcmp(ctx->Marker, kMarkerBytes, 7) == 0) {
        ctx->ArchiveFormat = 2;
        if (ParseBlockHeader(ctx, kBlockMain) != kMainHeaderSize) return 0;
        ctx->ArchiveKind = (ctx->ArchiveHeader.BlockFlags & kVolumeFlag) ? 2 : 1;
    } else {
        ctx->ArchiveKind = static_cast<uint32_t>(ScanForArchive(ctx));
        if (ctx->ArchiveKind == 0) return 0;
    }
    ctx->ArchiveHeaderRead = kMainHeaderSize;
    return static_cast<int>(ctx->ArchiveKind);
}

int SeekNextBlock(UnpackContext* ctx, int request) {
    FileBlockHeader* h = &ctx->EntryHeader;
    uint8_t saved[kFixedFieldsSize];
    memcpy(saved, h, kFixedFieldsSize);
    int wanted = request & 0xFF;
    bool reportSubBlocks = (request & kRequestSubBlocks) != 0;

    int n;
    for (;;) {
        ctx->BlockStart = TellFile(ctx->ArchiveFile);
        if (ctx->BlockStart < 0) return 0;  // position unknown: nothing to walk
        n = ParseBlockHeader(ctx, kBlockFile);
        if (n > 0) {
            if (h->HeaderSize < kBlockHeaderMinimum) return 0;
            int64_t next = static_cast<int64_t>(ctx->BlockStart) + h->HeaderSize;
            if (h->BlockFlags & kAddSizeFlag) next += h->PackedSize;
            ctx->NextBlock = static_cast<int32_t>(static_cast<uint32_t>(next));
            // A block must move the walk forward; a sum beyond the signed
            // 32-bit range does not.
            if (next > INT32_MAX || ctx->NextBlock <= ctx->BlockStart) return 0;
        }
        if (n == 0 || wanted == 0 || h->BlockType == wanted ||
            (h->BlockType == kBlockSub && reportSubBlocks))
            break;
        SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    }
    ctx->LastBlockType = h->BlockType;

    if (h->BlockType == wanted && wanted == kBlockFile) {
        if (h->NameLength > kMaxNameLength) h->NameLength = kMaxNameLength;
        // Cleared first, so that a name cut short by the end of the file
        // holds only the bytes that were there.
        memset(h->Name, 0, sizeof h->Name);
        ReadBytes(ctx->ArchiveFile, h->Name, h->NameLength);
        h->Name[h->NameLength] = '\0';
        NormalizeFileHeader(h);
        return n + h->NameLength;
    }

    memcpy(h, saved, kFixedFieldsSize);
    SeekFile(ctx->ArchiveFile, ctx->BlockStart, 0);
    return n;
}

void NormalizeFileHeader(FileBlockHeader* header) {
    if (header->HostSystem > 3) {
        header->HostSystem = 0;
        header->Attributes = HostAttributes(header);
    }
    for (char* p = header->Name; *p; p++)
        if (IsPathSeparator(static_cast<unsigned char>(*p))) *p = '\\';
}

void FixHostAttributes(FileBlockHeader* header) {
    if (header->HostSystem > 2) header->Attributes = HostAttributes(header);
}
