// The decoder alone on arbitrary packed data: one entry, and optionally a
// solid entry after it that continues from its window and tables. The plain
// reference of the decode loop runs beside it on a record of its own, and
// any difference in output, window or state is a finding.
//
// Input layout: unpacked size of the first entry (3 bytes, little-endian,
// at most 0x3FFFF), of the second (3 bytes, likewise), the length of the
// first entry's packed data (2 bytes), a flag byte (bit 0: the second
// entry exists, bit 1: skip mode, bit 2: old archive format), then the
// packed data of both entries.
#include <stddef.h>
#include <stdint.h>

#include "archive/checksum.h"
#include "base/stream_posix.h"
#include "fuzz_common.h"
#include "support/reference_decoder.h"

namespace {

uint32_t Get24(const uint8_t* p) { return (p[0] | p[1] << 8 | p[2] << 16) & 0x3FFFF; }

uint32_t CountTaken(void* sink, const uint8_t*, uint32_t count) {
    *static_cast<uint64_t*>(sink) += count;
    return count;
}

// One entry in a stream of its own: the walk's decoding of an entry whose
// block ends where its packed data does; then the reference with the same
// contract on its own record.
void DecodeEntry(UnpackContext* ctx, UnpackContext* plain, const uint8_t* packed, size_t size, uint32_t unpacked,
                 uint32_t solid, bool skip) {
    // fmemopen wants at least one byte; PackedSize 0 keeps it unread.
    static const uint8_t kNothing = 0;
    FileStream* stream = AdoptFile(fmemopen(const_cast<uint8_t*>(size ? packed : &kNothing), size ? size : 1, "rb"));
    if (!stream) abort();
    ctx->ArchiveFile = stream;
    ctx->EntryHeader.PackedSize = static_cast<uint32_t>(size);
    ctx->EntryHeader.UnpackedSize = unpacked;
    ctx->EntryHeader.BlockFlags = static_cast<uint16_t>(kBlockFlagAddSize | solid);
    ctx->NextBlock = static_cast<int32_t>(size);
    ArchiveWalk walk = {};
    walk.Context = ctx;
    EntrySink sink = NullSink();
    DecodeArchiveEntry(&walk, skip ? nullptr : &sink);
    if (ctx->WindowPos > kWindowMask || ctx->FlushedPos != ctx->WindowPos) abort();
    if (!skip && sink.Taken > unpacked + kMaxMatchLength) abort();  // at most one match past the size
    int32_t end = TellFile(stream);
    CloseFile(stream);
    ctx->ArchiveFile = nullptr;

    stream = AdoptFile(fmemopen(const_cast<uint8_t*>(size ? packed : &kNothing), size ? size : 1, "rb"));
    if (!stream) abort();
    uint64_t taken = 0;
    plain->ArchiveFile = plain->InputFile = stream;
    plain->OutputFile = nullptr;
    plain->OutputWrite = skip ? nullptr : CountTaken;
    plain->OutputSink = &taken;
    plain->SkipMode = skip ? 1 : 0;
    plain->DataChecksum = InitialDataChecksum(plain->ArchiveFormat);
    plain->PackedLeft = static_cast<int32_t>(size);
    plain->UnpackedLeft = static_cast<int32_t>(unpacked);
    qvtest::ReferenceDecompressFile(plain, solid);
    bool same = taken == sink.Taken && end == TellFile(stream) && plain->DataChecksum == ctx->DataChecksum &&
                plain->InputPos == ctx->InputPos && plain->InputBit == ctx->InputBit &&
                plain->InputEnd == ctx->InputEnd && plain->WindowPos == ctx->WindowPos &&
                plain->UnpackedLeft == ctx->UnpackedLeft && plain->PrevDistance == ctx->PrevDistance &&
                plain->PrevLength == ctx->PrevLength && plain->RecentCount == ctx->RecentCount &&
                memcmp(plain->RecentDistances, ctx->RecentDistances, sizeof ctx->RecentDistances) == 0 &&
                memcmp(plain->PrevCodeLengths, ctx->PrevCodeLengths, sizeof ctx->PrevCodeLengths) == 0 &&
                memcmp(plain->WindowMemory, ctx->WindowMemory, kWindowSize) == 0;
    CloseFile(stream);
    plain->ArchiveFile = plain->InputFile = nullptr;
    if (!same) {
        fprintf(stderr, "fuzz_decode: the decoder and its reference differ\n");
        abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const size_t kHeader = 9;
    if (size < kHeader) return 0;
    uint32_t size1 = Get24(data), size2 = Get24(data + 3);
    size_t split = static_cast<size_t>(data[6] | data[7] << 8);
    uint8_t flags = data[8];
    const uint8_t* packed = data + kHeader;
    size_t packedSize = size - kHeader;
    if (split > packedSize) split = packedSize;

    // The record and the window are made once and cleared for every input:
    // fresh 1 MB blocks would cost more in page faults than the decoding.
    static UnpackContext* records[2] = {CreateUnpackContext(), CreateUnpackContext()};
    static uint8_t* windows[2] = {static_cast<uint8_t*>(AllocZeroed(kWindowSize)),
                                  static_cast<uint8_t*>(AllocZeroed(kWindowSize))};
    for (int i = 0; i < 2; i++) {
        memset(records[i], 0, sizeof *records[i]);
        BuildCrc32Table(records[i]);
        memset(windows[i], 0, kWindowSize);
        records[i]->WindowMemory = windows[i];
        records[i]->ArchiveFormat = (flags & 4) ? kFormatOldSignature : kFormatMarker;
    }
    UnpackContext* ctx = records[0];
    UnpackContext* plain = records[1];
    bool skip = (flags & 2) != 0;
    DecodeEntry(ctx, plain, packed, split, size1, 0, skip);
    if (flags & 1) DecodeEntry(ctx, plain, packed + split, packedSize - split, size2, kFileFlagSolid, skip);
    return 0;
}
