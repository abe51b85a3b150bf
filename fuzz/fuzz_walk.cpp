// The archive walk alone: locating the archive in arbitrary bytes and
// stepping through its entries as the driver and qvinstall do, judging each
// entry's name on the way. Nothing is decoded.
#include <stddef.h>
#include <stdint.h>

#include "fuzz_common.h"

namespace {

// A real file, as the installer reads: unlike a memory stream it lets the
// walk seek past its end (the next read then finds nothing).
std::string gRoot;
std::string gArchive;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRoot = qvfuzz::MakeScratchDir();
    gArchive = gRoot + "/archive.bin";
    atexit([] { qvfuzz::RemoveTree(gRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::WriteInput(gArchive, data, size);

    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) abort();
    ctx->ArchivePath = gArchive.c_str();
    ArchiveWalk walk;
    if (OpenArchiveWalk(&walk, ctx) == kWalkOpened) {
        int32_t previous = -1;
        WalkStep step;
        while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory ||
               step == kWalkContinuedEntry) {
            // Every entry lies behind the one before and ends behind its start.
            if (ctx->NextBlock <= ctx->BlockStart || ctx->BlockStart <= previous) abort();
            previous = ctx->BlockStart;
            if (strlen(ctx->EntryHeader.Name) >= kPathSize) abort();
            IsSafeStoredName(ctx->EntryHeader.Name);
            LastSeparatorPos(ctx->EntryHeader.Name);
            if (step == kWalkContinuedEntry) break;
        }
        CloseArchiveWalk(&walk);
    }
    FreeAndClear(&ctx);
    return 0;
}
