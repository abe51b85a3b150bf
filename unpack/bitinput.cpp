#include "unpack/bitinput.h"

#include <string.h>

#include "base/stream.h"

uint32_t ReadPackedBytes(UnpackContext* ctx, uint8_t* destination, uint32_t count) {
    if (count == 0 || !ctx->ArchiveFile || !ctx->InputFile) return 0;
    uint32_t total = 0;
    // A packed size that does not fit the signed count (2 GB or more) leaves
    // nothing to read rather than an unbounded request.
    while (count > 0 && ctx->PackedLeft > 0) {
        uint32_t take = count < static_cast<uint32_t>(ctx->PackedLeft)
                            ? count
                            : static_cast<uint32_t>(ctx->PackedLeft);
        uint32_t got = static_cast<uint32_t>(ReadBytes(ctx->InputFile, destination, take));
        if (got == 0) break;  // the stream ended early: return what there is
        total += got;
        ctx->PackedLeft -= static_cast<int32_t>(got);
        count -= got;
        destination += got;
    }
    return total;
}

void FillInputBuffer(UnpackContext* ctx, bool firstFill) {
    uint8_t* buffer = ctx->InputBuffer;
    if (firstFill) {
        ctx->InputEnd = ReadPackedBytes(ctx, buffer, kInputBufferSize);
        ctx->InputPos = 0;
        return;
    }
    // Meaningful bytes among the 32 carried to the front.
    uint32_t carried = ctx->InputEnd > kRefillBytes ? ctx->InputEnd - kRefillBytes : 0;
    memcpy(buffer, buffer + kRefillBytes, kCarriedBytes);
    ctx->InputPos &= kCarriedBytes - 1;  // the same byte as before the move
    uint32_t got = ReadPackedBytes(ctx, buffer + kCarriedBytes, kRefillBytes);
    if (got > 0)
        ctx->InputEnd = got + kCarriedBytes;
    else  // nothing new: what was carried over is all that lies ahead
        ctx->InputEnd = carried > ctx->InputPos ? carried : ctx->InputPos;
}

uint32_t PeekBits(const UnpackContext* ctx) {
    const uint8_t* p = ctx->InputBuffer + ctx->InputPos;
    uint32_t v = (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    return (v >> (8 - ctx->InputBit)) & 0xFFFF;
}

void SkipBits(UnpackContext* ctx, uint32_t count) {
    uint32_t bit = ctx->InputBit + count;
    ctx->InputPos += bit >> 3;
    ctx->InputBit = bit & 7;
}
