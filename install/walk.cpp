#include "install/walk.h"

#include <string.h>

#include "archive/blockreader.h"
#include "archive/checksum.h"
#include "base/text.h"
#include "install/fileops.h"
#include "unpack/lzdecoder.h"

UnpackContext* CreateUnpackContext(void) {
    UnpackContext* ctx = static_cast<UnpackContext*>(AllocZeroed(sizeof(UnpackContext)));
    if (ctx) BuildCrc32Table(ctx);
    return ctx;
}

WalkOpenResult OpenArchiveWalk(ArchiveWalk* walk, UnpackContext* ctx) {
    memset(walk, 0, sizeof *walk);
    walk->Context = ctx;
    walk->FirstEntry = true;
    ctx->ArchiveFile = OpenFileShared(ctx->ArchivePath, "rb", kShareDenyWrite);
    if (!ctx->ArchiveFile) return kWalkCannotOpen;
    WalkOpenResult result = kWalkOpened;
    if (LocateArchive(ctx) == kArchiveNone) {
        result = kWalkNoArchive;
    } else {
        ctx->WindowMemory = static_cast<uint8_t*>(AllocZeroed(kWindowSize));
        if (!ctx->WindowMemory) result = kWalkNoWindow;
    }
    if (result != kWalkOpened) {
        CloseFile(ctx->ArchiveFile);
        ctx->ArchiveFile = NULL;
        return result;
    }
    // LocateArchive stops behind the main header's fixed bytes, which begin
    // behind the marker or at the old signature itself.
    int32_t headerEnd = TellFile(ctx->ArchiveFile);
    walk->ArchiveStart = headerEnd - kMainHeaderSize - (ctx->ArchiveFormat == kFormatMarker ? kMarkerSize : 0);
    // Whatever the main header holds beyond its fixed bytes is passed over.
    SeekFile(ctx->ArchiveFile,
             static_cast<int32_t>(ctx->ArchiveHeader.HeaderSize) - static_cast<int32_t>(ctx->ArchiveHeaderRead),
             kSeekFromCurrent);
    ctx->ContinuedInNext = 0;
    return kWalkOpened;
}

WalkStep NextArchiveEntry(ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    // The entry before ends at NextBlock, its packed data included; a
    // directory's data, should it carry any, is passed over with it.
    if (walk->Delivered) SeekFile(ctx->ArchiveFile, ctx->NextBlock, kSeekFromStart);
    walk->Delivered = false;
    bool strict = ctx->ArchiveFormat == kFormatMarker;
    for (;;) {
        if (SeekNextBlock(ctx, kFileRequest) <= 0) {
            if (strict && ctx->BlockStop != kStopEndOfData) return kWalkDamagedArchive;
            // The last entry goes on in a next volume, which cannot be had:
            // that entry is incomplete.
            return ctx->ContinuedInNext ? kWalkMissingVolume : kWalkEnd;
        }
        if (ctx->LastBlockType != kBlockSub) break;
        walk->SubBlocks++;
        SeekFile(ctx->ArchiveFile, ctx->NextBlock, kSeekFromStart);
    }
    FileBlockHeader* header = &ctx->EntryHeader;
    if (strict && !ctx->EntryHeaderIntact) return kWalkDamagedEntry;
    FixHostAttributes(header);
    walk->Delivered = true;
    if ((header->BlockFlags & kFileFlagContinuedFromPrevious) && walk->FirstEntry) return kWalkContinuedEntry;
    ctx->ContinuedInNext = header->BlockFlags & kFileFlagContinuedInNext;
    walk->FirstEntry = false;
    return IsPassedOverEntry(header) ? kWalkDirectory : kWalkFile;
}

void CloseArchiveWalk(ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    if (!ctx) return;
    FreeAndClear(&ctx->WindowMemory);
    CloseFile(ctx->ArchiveFile);
    ctx->ArchiveFile = NULL;
    walk->Context = NULL;
}

namespace {

uint32_t WriteToSink(void* sink, const uint8_t* data, uint32_t count) {
    EntrySink* s = static_cast<EntrySink*>(sink);
    uint32_t taken = count;
    if (s->File) {
        taken = static_cast<uint32_t>(WriteBytes(s->File, data, count));
    } else if (s->Memory) {
        uint64_t room = s->Taken < s->Capacity ? s->Capacity - s->Taken : 0;
        if (taken > room) taken = static_cast<uint32_t>(room);
        memcpy(s->Memory + s->Taken, data, taken);
    }
    s->Taken += taken;
    return taken;
}

// The stored checksum of the entry against the one computed over its
// output: the 16-bit rotating sum is stored as it is; the CRC-32 is stored
// complemented, while the running value is never inverted.
bool EntryChecksumMatches(const UnpackContext* ctx) {
    if (ctx->ArchiveFormat == kFormatOldSignature) return ctx->DataChecksum == ctx->EntryHeader.DataCrc;
    if (ctx->ArchiveFormat == kFormatMarker) return ctx->DataChecksum == ~ctx->EntryHeader.DataCrc;
    return false;
}

}  // namespace

EntrySink FileSink(FileStream* file) {
    if (file) SetUnbuffered(file);
    EntrySink sink = {file, NULL, 0, 0};
    return sink;
}

EntrySink NullSink(void) {
    EntrySink sink = {NULL, NULL, 0, 0};
    return sink;
}

EntrySink MemorySink(uint8_t* memory, size_t capacity) {
    EntrySink sink = {NULL, memory, capacity, 0};
    return sink;
}

uint32_t EntryDataOffset(const UnpackContext* ctx) {
    return static_cast<uint32_t>(ctx->NextBlock) - ctx->EntryHeader.PackedSize;
}

bool DecodeArchiveEntry(ArchiveWalk* walk, EntrySink* sink) {
    UnpackContext* ctx = walk->Context;
    const FileBlockHeader* header = &ctx->EntryHeader;
    SeekFile(ctx->ArchiveFile, static_cast<int32_t>(EntryDataOffset(ctx)), kSeekFromStart);

    ctx->SkipMode = sink ? 0 : 1;
    ctx->DataChecksum = InitialDataChecksum(ctx->ArchiveFormat);
    // Nothing behind the archive's end is read as packed data.
    uint32_t packed = header->PackedSize;
    if (ctx->ArchiveEnd > 0) {
        uint32_t end = static_cast<uint32_t>(ctx->ArchiveEnd), from = EntryDataOffset(ctx);
        uint32_t room = from < end ? end - from : 0;
        if (packed > room) packed = room;
    }
    ctx->PackedLeft = static_cast<int32_t>(packed);
    ctx->UnpackedLeft = static_cast<int32_t>(header->UnpackedSize);
    ctx->InputFile = ctx->ArchiveFile;
    ctx->OutputFile = sink ? sink->File : NULL;
    ctx->OutputWrite = sink ? WriteToSink : NULL;
    ctx->OutputSink = sink;
    DecompressFile(ctx, header->BlockFlags & kFileFlagSolid);
    ctx->OutputWrite = NULL;
    ctx->OutputSink = NULL;
    return sink && EntryChecksumMatches(ctx);
}

bool IsSupportedVersion(const FileBlockHeader* header) {
    return header->VersionNeeded >= kMinVersionNeeded && header->VersionNeeded <= kMaxVersionNeeded;
}

bool IsPassedOverEntry(const FileBlockHeader* header) {
    return (header->Attributes & (kAttrDirectory | kAttrVolumeLabel)) != 0;
}

namespace {

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares the first n characters of a component with an upper-case word.
bool SameWord(const char* s, size_t n, const char* word) {
    if (strlen(word) != n) return false;
    for (size_t i = 0; i < n; i++)
        if (UpperAscii(s[i]) != word[i]) return false;
    return true;
}

// Windows opens a device for these names in any directory, whatever
// extension follows and with trailing spaces ignored.
bool IsDeviceName(const char* component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != '.') base++;
    while (base > 0 && component[base - 1] == ' ') base--;
    static const char* const kPlain[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
    for (const char* word : kPlain)
        if (SameWord(component, base, word)) return true;
    if (base == 4 && component[3] >= '1' && component[3] <= '9' &&
        (SameWord(component, 3, "COM") || SameWord(component, 3, "LPT")))
        return true;
    return false;
}

}  // namespace

bool IsSafeStoredName(const char* name) {
    if (name[0] == '\0') return false;
    if (HasChar(name, ':')) return false;  // a drive, or a stream of a file
    const char* start = name;
    for (;;) {
        const char* end = start;
        while (*end && !IsPathSeparator(*end)) end++;
        size_t length = static_cast<size_t>(end - start);
        if (length == 0) return false;  // leading, doubled or trailing separator
        // ".", ".." and anything of dots and spaces alone (Windows trims
        // trailing dots and spaces, so ".. " would climb as well).
        size_t plain = 0;
        while (plain < length && (start[plain] == '.' || start[plain] == ' ')) plain++;
        if (plain == length) return false;
        if (IsDeviceName(start, length)) return false;
        if (*end == '\0') return true;
        start = end + 1;
    }
}
