#include "install/entry.h"

#include <string.h>

#include "archive/blockreader.h"
#include "install/context.h"
#include "install/fileops.h"

int BeginArchiveWalk(UnpackContext* ctx) {
    // Others may read the file meanwhile but not change it.
    ctx->ArchiveFile = OpenFileShared(ctx->ArchivePath, "rb", 1);
    if (!ctx->ArchiveFile) return 0;
    if (LocateArchive(ctx) == 0) {
        CloseFile(ctx->ArchiveFile);
        ctx->ArchiveFile = NULL;
        return 0;
    }
    // Whatever the main header holds beyond its fixed bytes is passed over.
    SeekFile(ctx->ArchiveFile,
             static_cast<int32_t>(ctx->ArchiveHeader.HeaderSize) -
                 static_cast<int32_t>(ctx->ArchiveHeaderRead),
             1);
    return 1;
}

int IsSupportedVersion(const FileBlockHeader* header) {
    return header->VersionNeeded >= kMinVersionNeeded && header->VersionNeeded <= kMaxVersionNeeded;
}

int IsPassedOverEntry(const FileBlockHeader* header) {
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

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

}  // namespace

int IsSafeStoredName(const char* name) {
    if (name[0] == '\0') return 0;
    if (strchr(name, ':')) return 0;  // a drive, or a stream of a file
    const char* start = name;
    for (;;) {
        const char* end = start;
        while (*end && !IsSeparator(*end)) end++;
        size_t length = static_cast<size_t>(end - start);
        if (length == 0) return 0;  // leading, doubled or trailing separator
        // ".", ".." and anything of dots and spaces alone (Windows trims
        // trailing dots and spaces, so ".. " would climb as well).
        size_t plain = 0;
        while (plain < length && (start[plain] == '.' || start[plain] == ' ')) plain++;
        if (plain == length) return 0;
        if (IsDeviceName(start, length)) return 0;
        if (*end == '\0') return 1;
        start = end + 1;
    }
}

void PrepareEntryDecoding(UnpackContext* ctx, FILE* output, int skip) {
    ctx->SkipMode = skip ? 1 : 0;
    ctx->DataChecksum = ctx->ArchiveFormat == 1 ? 0 : 0xFFFFFFFFu;
    ctx->PackedLeft = static_cast<int32_t>(ctx->EntryHeader.PackedSize);
    ctx->UnpackedLeft = static_cast<int32_t>(ctx->EntryHeader.UnpackedSize);
    ctx->InputFile = ctx->ArchiveFile;
    ctx->OutputFile = skip ? NULL : output;
}

int EntryChecksumMatches(const UnpackContext* ctx) {
    // The 16-bit rotating sum is stored as it is; the CRC-32 is stored
    // complemented, while the running value is never inverted.
    if (ctx->ArchiveFormat == 1) return ctx->DataChecksum == ctx->EntryHeader.DataCrc;
    if (ctx->ArchiveFormat == 2) return ctx->DataChecksum == ~ctx->EntryHeader.DataCrc;
    return 0;
}
