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

namespace {

void CopyName(char* out, const char* name) {
    TextBuffer text;
    StartText(&text, out, kPathSize);
    AppendText(&text, name);
    FinishText(&text);
}

// Steps over whatever the main header holds beyond its fixed bytes and
// starts the walk at the first block behind it.
void RewindWalk(ArchiveWalk* walk, int32_t firstBlock) {
    UnpackContext* ctx = walk->Context;
    SeekFile(ctx->ArchiveFile, firstBlock, kSeekFromStart);
    walk->SubBlocks = 0;
    walk->Entries = 0;
    walk->FirstEntry = true;
    walk->Delivered = false;
    ctx->ContinuedInNext = 0;
}

// The CRC-32 of the archive's bytes from the marker to the closing block,
// read through the window before any entry is decoded into it.
bool ArchiveCrcMatches(ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    if (SeekFile(ctx->ArchiveFile, walk->ArchiveStart, kSeekFromStart) != 0) return false;
    uint32_t left = static_cast<uint32_t>(ctx->ClosingAt - walk->ArchiveStart);
    uint32_t crc = 0xFFFFFFFFu;
    bool whole = true;
    while (left > 0 && whole) {
        uint32_t take = left < kWindowSize ? left : static_cast<uint32_t>(kWindowSize);
        whole = ReadBytes(ctx->ArchiveFile, ctx->WindowMemory, take) == take;
        crc = Crc32Update(ctx, crc, ctx->WindowMemory, take);
        left -= take;
    }
    memset(ctx->WindowMemory, 0, kWindowSize);
    return whole && ~crc == ctx->ClosingCrc;
}

// Walks every header (no decoding) and fills in the survey; returns the
// step that ended the walk, kWalkEnd when the archive is whole.
WalkStep SurveyArchive(ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    ArchiveSurvey* survey = &walk->Survey;
    memset(survey, 0, sizeof *survey);
    const FileBlockHeader* h = &ctx->EntryHeader;
    WalkStep step;
    while ((step = NextArchiveEntry(walk)) == kWalkFile || step == kWalkDirectory) {
        if (survey->Entries++ == 0) survey->FirstHost = h->HostSystem;
        EntryRefusal refusal = CheckEntry(ctx, h);
        if (refusal != kEntryAccepted && survey->Refused == kEntryAccepted) {
            survey->Refused = refusal;
            CopyName(survey->RefusedName, h->Name);
        }
        if (step == kWalkDirectory) continue;
        survey->Files++;
        survey->Unpacked += h->UnpackedSize;
        uint32_t length = static_cast<uint32_t>(strlen(h->Name));
        uint32_t directory = LastSeparatorPos(h->Name);  // 0, or the directory part with its separator
        // Near the limit the temporary file is "~N" beside the target.
        uint32_t need = length > directory + 2 ? length : directory + 2;
        if (need > survey->LongestPath) {
            survey->LongestPath = need;
            CopyName(survey->LongestName, h->Name);
        }
        if (directory > survey->LongestDirectory) survey->LongestDirectory = directory;
    }
    if (step != kWalkEnd) return step;
    if (ctx->Sealed) {
        if (!ArchiveCrcMatches(walk)) {
            ctx->BlockStop = kStopArchiveChecksum;
            return kWalkDamagedArchive;
        }
        survey->Sealed = true;
        survey->CodePage = ctx->ClosingCodePage;
    }
    return kWalkEnd;
}

// At the end of a sealed archive: the closing block must be there, intact,
// and agree with what the walk found. Sets BlockStop when it does not.
bool ClosingBlockAgrees(const ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    uint32_t stop = kStopNone;
    if (ctx->ClosingAt == 0)
        stop = kStopNoClosingBlock;
    else if (!ctx->ClosingIntact)
        stop = kStopClosingDamaged;
    else if (ctx->ClosingEntries != walk->Entries)
        stop = kStopEntryCount;
    else if (static_cast<uint32_t>(ctx->ClosingAt - walk->ArchiveStart) + kClosingHeaderSize != ctx->ClosingLength)
        stop = kStopArchiveLength;
    if (stop == kStopNone) return true;
    ctx->BlockStop = stop;
    return false;
}

}  // namespace

WalkOpenResult OpenArchiveWalk(ArchiveWalk* walk, UnpackContext* ctx, WalkCheck check) {
    memset(walk, 0, sizeof *walk);
    walk->Context = ctx;
    walk->FirstEntry = true;
    walk->Ending = kWalkEnd;
    ctx->ArchiveFile = OpenFileShared(ctx->ArchivePath, "rb", kShareDenyWrite);
    if (!ctx->ArchiveFile) return kWalkCannotOpen;
    WalkOpenResult result = kWalkOpened;
    if (LocateArchive(ctx) == kArchiveNone) {
        result = kWalkNoArchive;
    } else {
        ctx->WindowMemory = static_cast<uint8_t*>(AllocZeroed(kWindowSize));
        if (!ctx->WindowMemory) result = kWalkNoWindow;
    }
    if (result == kWalkOpened) {
        // LocateArchive stops behind the main header's fixed bytes, which
        // begin behind the marker or at the old signature itself.
        int32_t headerEnd = TellFile(ctx->ArchiveFile);
        walk->ArchiveStart = headerEnd - kMainHeaderSize - (ctx->ArchiveFormat == kFormatMarker ? kMarkerSize : 0);
        // Whatever the main header holds beyond its fixed bytes is passed over.
        int32_t firstBlock = headerEnd + static_cast<int32_t>(ctx->ArchiveHeader.HeaderSize) -
                             static_cast<int32_t>(ctx->ArchiveHeaderRead);
        RewindWalk(walk, firstBlock);
        if (check == kWalkCheckFirst) {
            walk->Ending = SurveyArchive(walk);
            if (walk->Ending != kWalkEnd)
                result = kWalkBroken;
            else
                RewindWalk(walk, firstBlock);
        }
    }
    if (result != kWalkOpened) {
        FreeAndClear(&ctx->WindowMemory);
        CloseFile(ctx->ArchiveFile);
        ctx->ArchiveFile = NULL;
    }
    return result;
}

WalkOpenResult OpenInstallerFile(const char* path, ArchiveWalk* walk, WalkCheck check) {
    memset(walk, 0, sizeof *walk);
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return kWalkNoWindow;
    ctx->ArchivePath = path;
    WalkOpenResult result = OpenArchiveWalk(walk, ctx, check);
    if (result != kWalkOpened) {
        FreeAndClear(&ctx);
        walk->Context = NULL;
        return result;
    }
    walk->OwnsContext = true;
    return result;
}

void CloseInstallerFile(ArchiveWalk* walk) {
    UnpackContext* ctx = walk->Context;
    bool owned = walk->OwnsContext;
    CloseArchiveWalk(walk);
    if (owned) FreeAndClear(&ctx);
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
            if (strict && ctx->Sealed && !ClosingBlockAgrees(walk)) return kWalkDamagedArchive;
            // The archive may be whole while the file was cut inside the
            // padding or the signature behind it.
            if (strict && ctx->SignatureCut) {
                ctx->BlockStop = kStopSignatureCut;
                return kWalkDamagedArchive;
            }
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
    walk->Entries++;
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
    } else if (s->Forward) {
        taken = s->Forward(s->ForwardUser, data, count);
        if (taken > count) taken = count;
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
    EntrySink sink = {file, NULL, 0, NULL, NULL, 0};
    return sink;
}

EntrySink NullSink(void) {
    EntrySink sink = {NULL, NULL, 0, NULL, NULL, 0};
    return sink;
}

EntrySink MemorySink(uint8_t* memory, size_t capacity) {
    EntrySink sink = {NULL, memory, capacity, NULL, NULL, 0};
    return sink;
}

EntrySink ForwardSink(OutputFn fn, void* user) {
    EntrySink sink = {NULL, NULL, 0, fn, user, 0};
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

bool IsSupportedMethod(const UnpackContext* ctx, const FileBlockHeader* header) {
    // Archives with the old signature number their methods otherwise; their
    // data is decoded as it always was.
    if (ctx->ArchiveFormat != kFormatMarker) return true;
    if (header->MethodCode > kMethodStore && header->MethodCode <= kMethodBest) return true;
    return header->MethodCode == kMethodStore ? header->UnpackedSize == 0 : true;
}

EntryRefusal CheckEntry(const UnpackContext* ctx, const FileBlockHeader* header) {
    if (!IsSupportedVersion(header)) return kEntryBadVersion;
    if (IsPassedOverEntry(header)) return kEntryAccepted;
    if (!IsSupportedMethod(ctx, header)) return kEntryBadMethod;
    if (!IsSafeStoredName(header->Name)) return kEntryUnsafeName;
    return kEntryAccepted;
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
