// The archive behind the installer image: locating it (marker at offset 0,
// or a scan for the marker or the old signature after the image) and
// walking its blocks. All positions are signed 32-bit offsets from the start
// of the installer file; every multi-byte field is little-endian.
//
// An archive with the marker is held to its own rules: a main header whose
// checksum disagrees is no archive, and the walk tells why it stopped, so
// that a damaged block (a header size below 7, a block that does not move
// forward or reaches beyond the archive's end, a type the format does not
// define, a file header whose type byte was damaged into another type) is
// not taken for the end. File header checksums are checked and reported
// with the entry. Archives found by the old signature have no such
// rules and are walked as they always were.
#include "archive/blockreader.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "archive/checksum.h"
#include "archive/peimage.h"
#include "base/littleendian.h"
#include "base/stream.h"

namespace {

enum { kSignaturePadding = 8 };

// The fixed fields of a file header: everything before Name.
const size_t kFixedFieldsSize = offsetof(FileBlockHeader, Name);

uint32_t HostAttributes(const FileBlockHeader* header) {
    return (header->BlockFlags & kFileDictionaryBits) == kFileDictionaryBits ? kAttrDirectory : kAttrArchive;
}

// Reads up to count bytes, never at or behind ArchiveEnd.
size_t ReadArchiveBytes(UnpackContext* ctx, void* buffer, size_t count) {
    if (ctx->ArchiveEnd > 0) {
        int32_t pos = TellFile(ctx->ArchiveFile);
        if (pos < 0 || pos >= ctx->ArchiveEnd) return 0;
        size_t room = static_cast<size_t>(ctx->ArchiveEnd - pos);
        if (count > room) count = room;
    }
    return ReadBytes(ctx->ArchiveFile, buffer, count);
}

// Where the archive's bytes end: the end of the file, or the start of the
// certificate table of a signed PE image, which signing appends behind
// everything. A table entry that does not describe the file's tail is not
// taken; one that reaches past the end of the file tells a signed
// installer cut short (*cut). Leaves the stream at offset 0.
int32_t FindArchiveEnd(FileStream* stream, bool* cut) {
    *cut = false;
    int32_t end = 0;
    if (SeekFile(stream, 0, kSeekFromEnd) == 0) {
        int32_t length = TellFile(stream);
        end = length > 0 ? length : 0;
    }
    uint32_t offset, size;
    if (end > 0 && FindCertificateTable(stream, &offset, &size) && offset < static_cast<uint32_t>(end) &&
        size <= static_cast<uint32_t>(end) - offset && offset + size == static_cast<uint32_t>(end))
        end = static_cast<int32_t>(offset);
    else if (end > 0 && FindCertificateTable(stream, &offset, &size) &&
             (offset >= static_cast<uint32_t>(end) || size > static_cast<uint32_t>(end) - offset))
        *cut = true;
    SeekFile(stream, 0, kSeekFromStart);
    return end;
}

// Decodes the 7 bytes every block starts with.
template <typename Header>
void DecodeBlockStart(const uint8_t* b, Header* h) {
    h->HeaderCrc = LoadU16(b + kFieldHeaderCrc);
    h->BlockType = b[kFieldBlockType];
    h->BlockFlags = LoadU16(b + kFieldBlockFlags);
    h->HeaderSize = LoadU16(b + kFieldHeaderSize);
}

// Decodes the 13 fixed bytes of a main header from raw.
void DecodeMainHeader(const uint8_t* b, MainBlockHeader* h) {
    DecodeBlockStart(b, h);
    h->Reserved16 = LoadU16(b + kMainFieldReserved16);
    h->Reserved32 = LoadU32(b + kMainFieldReserved32);
}

// Reads a main header at the current position into ArchiveHeader; true
// when all 13 bytes were there and, in an archive with the marker, its
// checksum agrees.
bool ReadMainHeader(UnpackContext* ctx, ArchiveFormatCode format) {
    uint8_t b[kMainHeaderSize];
    memset(b, 0, sizeof b);
    size_t n = ReadArchiveBytes(ctx, b, sizeof b);
    DecodeMainHeader(b, &ctx->ArchiveHeader);
    if (n != kMainHeaderSize) return false;
    return format != kFormatMarker || HeaderChecksum(ctx, b, sizeof b, NULL, 0) == ctx->ArchiveHeader.HeaderCrc;
}

// Reads up to 32 header bytes at the current position into raw (zeros
// beyond those read) and decodes them into the fixed fields of EntryHeader.
int ReadFileHeader(UnpackContext* ctx, uint8_t* raw) {
    memset(raw, 0, kFileHeaderSize);  // bytes past the end decode as zero
    int n = static_cast<int>(ReadArchiveBytes(ctx, raw, kFileHeaderSize));
    FileBlockHeader* h = &ctx->EntryHeader;
    DecodeBlockStart(raw, h);
    h->PackedSize = LoadU32(raw + kFileFieldPackedSize);
    h->UnpackedSize = LoadU32(raw + kFileFieldUnpackedSize);
    h->HostSystem = raw[kFileFieldHostSystem];
    h->DataCrc = LoadU32(raw + kFileFieldDataCrc);
    h->DosDateTime = LoadU32(raw + kFileFieldDosDateTime);
    h->VersionNeeded = raw[kFileFieldVersionNeeded];
    h->MethodCode = raw[kFileFieldMethodCode];
    h->NameLength = LoadU16(raw + kFileFieldNameLength);
    h->Attributes = LoadU32(raw + kFileFieldAttributes);
    return n;
}

// Reads count more bytes of a header from the archive stream into the
// running checksum; false when the stream ends first.
bool ChecksumFurtherBytes(UnpackContext* ctx, uint32_t* crc, uint32_t count) {
    while (count > 0) {
        uint8_t chunk[256];
        uint32_t take = count < sizeof chunk ? count : static_cast<uint32_t>(sizeof chunk);
        size_t got = ReadArchiveBytes(ctx, chunk, take);
        *crc = Crc32Update(ctx, *crc, chunk, static_cast<uint32_t>(got));
        if (got != take) return false;
        count -= take;
    }
    return true;
}

// Reads the name of the file header in raw (NameLength bytes; Name keeps at
// most kMaxStoredName of them) and tells whether the header's checksum
// agrees, over the fixed bytes and the whole name as stored.
bool ReadNameAndCheck(UnpackContext* ctx, const uint8_t* raw) {
    FileBlockHeader* h = &ctx->EntryHeader;
    uint32_t stored = h->NameLength;
    uint32_t kept = stored > kMaxStoredName ? static_cast<uint32_t>(kMaxStoredName) : stored;
    // Cleared first, so that a name cut short by the end of the file holds
    // only the bytes that were there.
    memset(h->Name, 0, sizeof h->Name);
    size_t got = ReadArchiveBytes(ctx, h->Name, kept);
    uint32_t crc = 0xFFFFFFFFu;
    crc = Crc32Update(ctx, crc, raw + kChecksumFrom, kFileHeaderSize - kChecksumFrom);
    crc = Crc32Update(ctx, crc, h->Name, static_cast<uint32_t>(got));
    // The rest of a longer name counts for the checksum only.
    bool whole = got == kept && ChecksumFurtherBytes(ctx, &crc, stored - kept);
    h->NameLength = static_cast<uint16_t>(kept);
    h->Name[kept] = '\0';
    return whole && static_cast<uint16_t>(~crc) == h->HeaderCrc;
}

// Whether the block in raw (n bytes read, at BlockStart) is a file header
// with a damaged type byte: with the type set back to a file's, the header
// checksum over the fixed bytes and the name agrees. Leaves the stream
// anywhere.
bool IsRetypedFileHeader(UnpackContext* ctx, const uint8_t* raw, int n) {
    const FileBlockHeader* h = &ctx->EntryHeader;
    if (n < kFileHeaderSize || h->HeaderSize < kFileHeaderSize + h->NameLength) return false;
    uint8_t fixed[kFileHeaderSize];
    memcpy(fixed, raw, sizeof fixed);
    fixed[kFieldBlockType] = kBlockFile;
    uint32_t crc = Crc32Update(ctx, 0xFFFFFFFFu, fixed + kChecksumFrom, kFileHeaderSize - kChecksumFrom);
    return ChecksumFurtherBytes(ctx, &crc, h->NameLength) && static_cast<uint16_t>(~crc) == h->HeaderCrc;
}

// Takes the fields of a sealed archive's closing block from raw (n bytes
// read at BlockStart). A second closing block is damage like a bad one.
void NoteClosingBlock(UnpackContext* ctx, const uint8_t* raw, int n) {
    bool first = ctx->ClosingAt == 0 || ctx->ClosingAt == ctx->BlockStart;
    ctx->ClosingAt = ctx->BlockStart;
    ctx->ClosingEntries = LoadU32(raw + kClosingFieldEntries);
    ctx->ClosingLength = LoadU32(raw + kClosingFieldLength);
    ctx->ClosingCrc = LoadU32(raw + kClosingFieldArchiveCrc);
    ctx->ClosingCodePage = LoadU16(raw + kClosingFieldCodePage);
    const FileBlockHeader* h = &ctx->EntryHeader;
    ctx->ClosingIntact = first && n >= kClosingHeaderSize && h->HeaderSize == kClosingHeaderSize &&
                         !(h->BlockFlags & kBlockFlagAddSize) &&
                         HeaderChecksum(ctx, raw, kClosingHeaderSize, NULL, 0) == h->HeaderCrc;
}

bool AllZero(const uint8_t* p, int n) {
    for (int i = 0; i < n; i++)
        if (p[i]) return false;
    return true;
}

ArchiveKindCode KindOfMarkerArchive(UnpackContext* ctx, ArchiveKindCode plain) {
    const MainBlockHeader* h = &ctx->ArchiveHeader;
    ctx->Sealed = !(h->BlockFlags & kMainFlagAuthenticity) && h->Reserved32 == kSealedArchiveTag;
    return (ctx->ArchiveHeader.BlockFlags & kMainFlagVolume) ? kArchiveVolume : plain;
}

// The scan after an image: fills in ArchiveFormat and ArchiveHeader for the
// first signature among the bytes that follow the candidate marker already
// read. A marker whose main header's checksum disagrees is passed over, so
// marker bytes inside the image are never taken for the archive. Returns
// the kind (kArchiveNone when none is found).
ArchiveKindCode ScanForArchive(UnpackContext* ctx) {
    uint8_t* buffer = static_cast<uint8_t*>(AllocZeroed(kScanBufferSize));
    if (!buffer) return kArchiveNone;
    int32_t start = TellFile(ctx->ArchiveFile);
    size_t n = start >= 0 ? ReadArchiveBytes(ctx, buffer, kScanReadSize) : 0;
    ArchiveKindCode kind = kArchiveNone;
    int32_t from = 0;
    while (kind == kArchiveNone && static_cast<size_t>(from) < n) {
        ArchiveFormatCode format = kFormatNone;
        int32_t hit = FindArchiveSignature(buffer, n, start, static_cast<size_t>(from), &format);
        if (hit < 0) break;
        from = hit + 1;
        SeekFile(ctx->ArchiveFile, start + hit, kSeekFromStart);
        ctx->ArchiveFormat = format;
        if (format == kFormatMarker &&
            ReadArchiveBytes(ctx, ctx->Marker, kMarkerSize) != static_cast<size_t>(kMarkerSize))
            break;
        // The main header starts at the old signature itself, or after the
        // marker. One cut short by the end of the file is no archive, as at
        // offset 0.
        if (!ReadMainHeader(ctx, format)) {
            if (format == kFormatMarker) continue;  // a damaged or false marker: look further
            break;
        }
        kind = format == kFormatMarker ? KindOfMarkerArchive(ctx, kArchiveBehindImage) : kArchiveBehindImage;
    }
    FreeAndClear(&buffer);
    if (kind == kArchiveNone) ctx->ArchiveFormat = kFormatNone;
    return kind;
}

}  // namespace

bool IsPathSeparator(int ch) { return ch == '\\' || ch == '/'; }

int32_t FindArchiveSignature(const uint8_t* buffer, size_t n, int32_t start, size_t from, ArchiveFormatCode* format) {
    int32_t tagIndex = kOldSignatureTagOffset - start;
    bool tagged = tagIndex >= 0 && tagIndex + static_cast<int32_t>(sizeof kOldSignatureTag) <= kScanBufferSize &&
                  memcmp(buffer + tagIndex, kOldSignatureTag, sizeof kOldSignatureTag) == 0;
    const uint8_t* p = buffer + (from < n ? from : n);
    const uint8_t* end = buffer + n;
    while (p < end) {
        while (p < end && *p != kMarker[0]) p++;
        if (p == end) break;
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
    if (kind == kBlockMain) {
        uint8_t b[kMainHeaderSize];
        memset(b, 0, sizeof b);  // bytes past the end of the file decode as zero
        int n = static_cast<int>(ReadArchiveBytes(ctx, b, kMainHeaderSize));
        DecodeMainHeader(b, &ctx->ArchiveHeader);
        return n;
    }
    if (kind != kBlockFile) return 0;
    uint8_t raw[kFileHeaderSize];
    return ReadFileHeader(ctx, raw);
}

ArchiveKindCode LocateArchive(UnpackContext* ctx) {
    ctx->ArchiveKind = kArchiveNone;
    ctx->ArchiveFormat = kFormatNone;
    ctx->Sealed = false;
    ctx->ClosingAt = 0;
    ctx->ArchiveEnd = FindArchiveEnd(ctx->ArchiveFile, &ctx->SignatureCut);
    if (ReadArchiveBytes(ctx, ctx->Marker, kMarkerSize) < static_cast<size_t>(kMarkerSize)) return kArchiveNone;
    ArchiveKindCode kind;
    if (memcmp(ctx->Marker, kMarker, kMarkerSize) == 0) {
        ctx->ArchiveFormat = kFormatMarker;
        if (!ReadMainHeader(ctx, kFormatMarker)) return kArchiveNone;
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
    bool strict = ctx->ArchiveFormat == kFormatMarker;
    int64_t end = ctx->ArchiveEnd > 0 ? ctx->ArchiveEnd : INT32_MAX;
    ctx->BlockStop = kStopNone;

    uint8_t raw[kFileHeaderSize];
    int n;
    for (;;) {
        ctx->BlockStart = TellFile(ctx->ArchiveFile);
        if (ctx->BlockStart < 0) {  // position unknown: nothing to walk
            ctx->BlockStop = kStopNoProgress;
            return 0;
        }
        n = ReadFileHeader(ctx, raw);
        if (n == 0) {
            ctx->BlockStop = kStopEndOfData;
            break;
        }
        if (h->HeaderSize < kBlockHeaderMinimum) {
            // Up to 7 zero bytes before the end pad the archive (signing
            // aligns the signature behind it to 8 bytes); anything else is
            // no header.
            bool padding = n < kSignaturePadding && AllZero(raw, n);
            ctx->BlockStop = padding ? kStopEndOfData : kStopShortHeader;
            return 0;
        }
        int64_t next = static_cast<int64_t>(ctx->BlockStart) + h->HeaderSize;
        if (h->BlockFlags & kBlockFlagAddSize) next += h->PackedSize;
        ctx->NextBlock = static_cast<int32_t>(static_cast<uint32_t>(next));
        // A block must move the walk forward; a sum beyond the signed 32-bit
        // range does not.
        if (next > INT32_MAX || ctx->NextBlock <= ctx->BlockStart) {
            ctx->BlockStop = kStopNoProgress;
            return 0;
        }
        if (strict && next > end) {
            ctx->BlockStop = kStopPastEnd;
            return 0;
        }
        // A block behind the closing block means the closing block is not
        // the archive's end.
        if (strict && ctx->ClosingAt != 0 && ctx->BlockStart > ctx->ClosingAt) {
            ctx->BlockStop = kStopClosingDamaged;
            return 0;
        }
        bool closing = strict && ctx->Sealed && h->BlockType == kBlockClosing;
        if (closing) NoteClosingBlock(ctx, raw, n);
        if (strict && !closing && !IsKnownBlockType(h->BlockType)) {
            ctx->BlockStop = kStopUnknownType;
            return 0;
        }
        // Another block is stepped over by its size: a file header turned
        // into one by a damaged type byte would vanish from the walk.
        if (strict && h->BlockType != kBlockFile && IsRetypedFileHeader(ctx, raw, n)) {
            ctx->BlockStop = kStopRetypedFile;
            return 0;
        }
        if (wanted == 0 || h->BlockType == wanted || (h->BlockType == kBlockSub && reportSubBlocks)) break;
        SeekFile(ctx->ArchiveFile, ctx->NextBlock, kSeekFromStart);
    }
    ctx->LastBlockType = h->BlockType;

    if (n > 0 && h->BlockType == wanted && wanted == kBlockFile) {
        ctx->EntryHeaderIntact = ReadNameAndCheck(ctx, raw);
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
