// The archive walk alone: locating the archive in arbitrary bytes and
// stepping through its entries as the driver and qvinstall do. Every entry
// it delivers under a name the installer takes (IsSafeStoredName) must
// name a path that Windows resolves inside the target: judged here by
// resolving the name as Windows does, not by the installer's own rule.
// Nothing is decoded.
#include <ctype.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "fuzz_common.h"

namespace {

// A real file, as the installer reads: unlike a memory stream it lets the
// walk seek past its end (the next read then finds nothing).
std::string gRoot;
std::string gArchive;

bool SameUpper(const std::string& a, const char* word) {
    if (a.size() != strlen(word)) return false;
    for (size_t i = 0; i < a.size(); i++)
        if (toupper(static_cast<unsigned char>(a[i])) != word[i]) return false;
    return true;
}

// Where Windows would put name below a target: it trims trailing dots and
// spaces of each part, reads '/' as '\\', a ':' as a drive or a stream, and
// opens a device for its reserved names whatever extension follows. False
// when the path would leave the target or reach a device.
bool ResolvesInsideTarget(const char* name) {
    std::string path = name;
    if (path.empty() || path.size() >= kPathSize || path.find(':') != std::string::npos) return false;
    size_t start = 0;
    for (;;) {
        size_t end = path.find_first_of("\\/", start);
        std::string part = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        while (!part.empty() && (part.back() == '.' || part.back() == ' ')) part.pop_back();
        if (part.empty()) return false;  // "", ".", "..", "..." and the like
        std::string base = part.substr(0, part.find('.'));
        while (!base.empty() && base.back() == ' ') base.pop_back();
        for (const char* device : {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"})
            if (SameUpper(base, device)) return false;
        if (base.size() == 4 && base[3] >= '1' && base[3] <= '9' &&
            (SameUpper(base.substr(0, 3), "COM") || SameUpper(base.substr(0, 3), "LPT")))
            return false;
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRoot = qvfuzz::MakeScratchDir();
    gArchive = gRoot + "/archive.bin";
    atexit([] { qvfuzz::RemoveTree(gRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::WriteInput(gArchive, data, size);

    // The check before the first entry and the walk as it goes agree: what
    // the check lets through, the walk reaches the end of.
    ArchiveWalk check;
    bool checked = OpenInstallerFile(gArchive.c_str(), &check, kWalkCheckFirst) == kWalkOpened;
    if (checked) CloseInstallerFile(&check);

    ArchiveWalk walk;
    if (OpenInstallerFile(gArchive.c_str(), &walk, kWalkAsItGoes) == kWalkOpened) {
        UnpackContext* ctx = walk.Context;
        int32_t previous = -1;
        WalkStep step;
        while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory ||
               step == kWalkContinuedEntry) {
            // Every entry lies behind the one before and ends behind its start.
            if (ctx->NextBlock <= ctx->BlockStart || ctx->BlockStart <= previous) abort();
            previous = ctx->BlockStart;
            if (strlen(ctx->EntryHeader.Name) >= kPathSize) abort();
            if (IsSafeStoredName(ctx->EntryHeader.Name) && !ResolvesInsideTarget(ctx->EntryHeader.Name)) {
                fprintf(stderr, "taken as safe, but Windows would put it elsewhere: %s\n", ctx->EntryHeader.Name);
                abort();
            }
            LastSeparatorPos(ctx->EntryHeader.Name);
            if (step == kWalkContinuedEntry) break;
        }
        if (checked && step != kWalkEnd) {
            fprintf(stderr, "the check let through an archive whose walk ends in step %d\n", static_cast<int>(step));
            abort();
        }
        CloseInstallerFile(&walk);
    } else if (checked) {
        abort();  // the check opened what the walk cannot
    }
    return 0;
}
