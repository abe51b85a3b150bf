// The archive behind the installer image: locating it (marker at offset 0,
// or a scan for the marker or the old signature after the image) and
// walking its blocks. All positions are signed 32-bit offsets from the start
// of the installer file; every multi-byte field is little-endian. Header
// checksums are not enforced.
#include "archive/blockreader.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "base/stream.h"

namespace {

// The fixed fields of a file header: everything before Name.
const size_t kFixedFieldsSize = offsetof(FileBlockHeader, Name);

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

uint32_t HostAttributes(const FileBlockHeader* header) {
    return (header->BlockFlags & kFileDictionaryBits) == kFileDictionaryBits ? kAttrDirectory : kAttrArchive;
}

ArchiveKindCode KindOfMarkerArchive(const UnpackContext* ctx, ArchiveKindCode plain) {
    return (ctx->ArchiveHeader.BlockFlags & kMainFlagVolume) ? kArchiveVolume : plain;
}

// The scan after an image: fills in ArchiveFormat and ArchiveHeader for the
// first signature among the bytes that follow the candidate marker already
// read. Returns the kind (kArchiveNone when none is found).
ArchiveKindCode ScanForArchive(UnpackContext* ctx) {
    uint8_t* buffer = static_cast<uint8_t*>(AllocZeroed(kScanBufferSize));
    if (!buffer) return kArchiveNone;
    int32_t start = TellFile(ctx->ArchiveFile);
    size_t n = ReadBytes(ctx->ArchiveFile, buffer, kScanReadSize);
    ArchiveFormatCode format = kFormatNone;
    int32_t hit = start >= 0 ? FindArchiveSignature(buffer, n, start, &format) : -1;
    FreeAndClear(&buffer);
    if (hit < 0) return kArchiveNone;

    SeekFile(ctx->ArchiveFile, start + hit, kSeekFromStart);
    ctx->ArchiveFormat = format;
    if (format == kFormatMarker && ReadBytes(ctx->ArchiveFile, ctx->Marker, kMarkerSize) != kMarkerSize)
        return kArchiveNone;
    // The main header starts at the old signature itself, or after the marker.
    // A header cut short by the end of the file is no archive, as at offset 0.
    if (ParseBlockHeader(ctx, kBlockMain) != kMainHeaderSize) return kArchiveNone;
    if (format == kFormatMarker) return KindOfMarkerArchive(ctx, kArchiveBehindImage);
    return kArchiveBehindImage;
}

}  // namespace

bool IsPathSeparator(int ch) { return ch == '\\' || ch == '/'; }

int32_t FindArchiveSignature(const uint8_t* buffer, size_t n, int32_t start, ArchiveFormatCode* format) {
    int32_t tagIndex = kOldSignatureTagOffset - start;
    bool tagged = tagIndex >= 0 && tagIndex + static_cast<int32_t>(sizeof kOldSignatureTag) <= kScanBufferSize &&
                  memcmp(buffer + tagIndex, kOldSignatureTag, sizeof kOldSignatureTag) == 0;
    const uint8_t* p = buffer;
    const uint8_t* end = buffer + n;
    while (p < end) {
        p = static_cast<const uint8_t*>(memchr(p, kMarker[0], static_cast<size_t>(end - p)));
        if (!p) break;
        if (tagged && memcmp(p, kOldSignature, kOldSignatureSize) == 0) {
            *format = kFormatOldSignature;
            return static_cast<int32_t>(p - buffer);
        }
        if (memcmp(p, kMarker, kMarkerSize) == 0 && p[kMarkerTypeOffset] == kBlockMain) {
            *format = kFormatMarker;
            return static_cast<int32_t>(p - buffer);
        }
        p++;
    }
    return -1;
}

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
    h->PackedSize = GetU32(b + kAddSizeOffset);
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

ArchiveKindCode LocateArchive(UnpackContext* ctx) {
    ctx->ArchiveKind = kArchiveNone;
    ctx->ArchiveFormat = kFormatNone;
    if (ReadBytes(ctx->ArchiveFile, ctx->Marker, kMarkerSize) < kMarkerSize) return kArchiveNone;
    ArchiveKindCode kind;
    if (memcmp(ctx->Marker, kMarker, kMarkerSize) == 0) {
        ctx->ArchiveFormat = kFormatMarker;
        if (ParseBlockHeader(ctx, kBlockMain) != kMainHeaderSize) return kArchiveNone;
        kind = KindOfMarkerArchive(ctx, kArchiveAtStart);
    } else {
        kind = ScanForArchive(ctx);
        if (kind == kArchiveNone) return kArchiveNone;
    }
    ctx->ArchiveKind = kind;
    ctx->ArchiveHeaderRead = kMainHeaderSize;
    return kind;
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
            if (h->BlockFlags & kBlockFlagAddSize) next += h->PackedSize;
            ctx->NextBlock = static_cast<int32_t>(static_cast<uint32_t>(next));
            // A block must move the walk forward; a sum beyond the signed
            // 32-bit range does not.
            if (next > INT32_MAX || ctx->NextBlock <= ctx->BlockStart) return 0;
        }
        if (n == 0 || wanted == 0 || h->BlockType == wanted || (h->BlockType == kBlockSub && reportSubBlocks))
            break;
        SeekFile(ctx->ArchiveFile, ctx->NextBlock, kSeekFromStart);
    }
    ctx->LastBlockType = h->BlockType;

    if (h->BlockType == wanted && wanted == kBlockFile) {
        if (h->NameLength > kMaxStoredName) h->NameLength = kMaxStoredName;
        // Cleared first, so that a name cut short by the end of the file
        // holds only the bytes that were there.
        memset(h->Name, 0, sizeof h->Name);
        ReadBytes(ctx->ArchiveFile, h->Name, h->NameLength);
        h->Name[h->NameLength] = '\0';
        NormalizeFileHeader(h);
        return n + h->NameLength;
    }

    memcpy(h, saved, kFixedFieldsSize);
    SeekFile(ctx->ArchiveFile, ctx->BlockStart, kSeekFromStart);
    return n;
}

void NormalizeFileHeader(FileBlockHeader* header) {
    if (header->HostSystem > kHostUnix) {
        header->HostSystem = kHostMsDos;
        header->Attributes = HostAttributes(header);
    }
    for (char* p = header->Name; *p; p++)
        if (IsPathSeparator(static_cast<unsigned char>(*p))) *p = '\\';
}

void FixHostAttributes(FileBlockHeader* header) {
    if (header->HostSystem > kHostWin32) header->Attributes = HostAttributes(header);
}
