// The archive walk alone: locating the archive in arbitrary bytes and
// stepping through its blocks as the driver and qvinstall do, judging each
// entry's name on the way.
#include <stddef.h>
#include <stdint.h>

#include "fuzz_common.h"

namespace {

// A real file, as the installer reads: unlike a memory stream it lets the
// walk seek past its end (the next read then finds nothing).
FILE* gStream = nullptr;

FILE* Load(const uint8_t* data, size_t size) {
    if (!gStream) gStream = tmpfile();
    if (!gStream || ftruncate(fileno(gStream), 0) != 0) abort();
    rewind(gStream);
    if (fwrite(data, 1, size, gStream) != size || fflush(gStream) != 0) abort();
    rewind(gStream);
    return gStream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    FILE* stream = Load(data, size);
    UnpackContext* ctx = static_cast<UnpackContext*>(AllocZeroed(sizeof(UnpackContext)));
    ctx->ArchiveFile = stream;
    if (LocateArchive(ctx) != 0) {
        SeekFile(stream, static_cast<int32_t>(ctx->ArchiveHeader.HeaderSize) -
                             static_cast<int32_t>(ctx->ArchiveHeaderRead), 1);
        // The request the driver uses; the last byte picks the plain file
        // request or "any block" now and then.
        int request = kFileRequest;
        if (data[size - 1] == 0xA5) request = 0x0074;
        if (data[size - 1] == 0x5A) request = 0;
        int32_t previous = -1;
        while (SeekNextBlock(ctx, request) > 0) {
            if (ctx->NextBlock <= ctx->BlockStart || ctx->BlockStart <= previous) abort();
            previous = ctx->BlockStart;
            if (ctx->LastBlockType == kBlockFile) {
                FixHostAttributes(&ctx->EntryHeader);
                if (strlen(ctx->EntryHeader.Name) >= kPathSize) abort();
                IsSafeStoredName(ctx->EntryHeader.Name);
                LastSeparatorPos(ctx->EntryHeader.Name);
            }
            SeekFile(stream, ctx->NextBlock, 0);
        }
    }
    FreeAndClear(&ctx);
    return 0;
}
