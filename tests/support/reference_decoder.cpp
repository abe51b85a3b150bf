#include "support/reference_decoder.h"

#include "unpack/bitinput.h"
#include "unpack/codetables.h"
#include "unpack/huffman.h"
#include "unpack/lzdecoder.h"

namespace qvtest {

namespace {

uint32_t ReadNumber(UnpackContext* ctx, uint32_t bits) {
    if (bits == 0) return 0;
    uint32_t value = PeekBits(ctx) >> (16 - bits);
    SkipBits(ctx, bits);
    return value;
}

void CopyMatch(UnpackContext* ctx, uint32_t length, uint32_t distance) {
    ctx->RecentDistances[ctx->RecentCount & 3] = distance;
    ctx->RecentCount++;
    ctx->PrevDistance = distance;
    ctx->PrevLength = static_cast<int32_t>(length);
    ctx->UnpackedLeft = static_cast<int32_t>(static_cast<uint32_t>(ctx->UnpackedLeft) - length);
    uint8_t* window = ctx->WindowMemory;
    for (uint32_t i = 0; i < length; i++) {
        window[ctx->WindowPos] = window[(ctx->WindowPos - distance) & kWindowMask];
        ctx->WindowPos = (ctx->WindowPos + 1) & kWindowMask;
    }
}

}  // namespace

void ReferenceDecompressFile(UnpackContext* ctx, uint32_t solid) {
    ResetDecoder(ctx, solid);
    FillInputBuffer(ctx, true);
    if (!solid) ReadCodeTables(ctx);
    ctx->UnpackedLeft = static_cast<int32_t>(static_cast<uint32_t>(ctx->UnpackedLeft) - 1);
    while (ctx->UnpackedLeft >= 0) {
        if (ctx->InputPos > kInputBufferSize - 30) FillInputBuffer(ctx, false);
        // Every meaningful byte consumed: the entry ends early.
        if (ctx->InputPos >= ctx->InputEnd) break;
        if (((ctx->FlushedPos - ctx->WindowPos) & kWindowMask) < 270 && ctx->FlushedPos != ctx->WindowPos)
            FlushWindow(ctx);
        uint32_t s = DecodeHuffSymbol(ctx, &ctx->LiteralTable);
        if (s < 256) {
            ctx->WindowMemory[ctx->WindowPos] = static_cast<uint8_t>(s);
            ctx->WindowPos = (ctx->WindowPos + 1) & kWindowMask;
            ctx->UnpackedLeft--;
        } else if (s == kSymbolRepeatLast) {
            CopyMatch(ctx, static_cast<uint32_t>(ctx->PrevLength), ctx->PrevDistance);
        } else if (s < kSymbolFirstShort) {
            uint32_t distance = ctx->RecentDistances[(static_cast<uint32_t>(ctx->RecentCount) - s) & 3];
            uint32_t r = DecodeHuffSymbol(ctx, &ctx->RepeatTable);
            uint32_t length = LengthBase[r] + 2 + ReadNumber(ctx, LengthExtraBits[r]);
            if (distance >= 0x101) length++;
            if (distance >= 0x2000) length++;
            if (distance >= 0x40000) length++;
            CopyMatch(ctx, length, distance);
        } else if (s < kSymbolSwitchTables) {
            uint32_t i = s - kSymbolFirstShort;
            uint32_t distance = ShortDistanceBase[i] + 1 + ReadNumber(ctx, ShortDistanceExtraBits[i]);
            CopyMatch(ctx, 2, distance);
        } else if (s == kSymbolSwitchTables) {
            ReadCodeTables(ctx);
        } else {
            uint32_t i = s - kSymbolFirstMatch;
            uint32_t length = LengthBase[i] + 3 + ReadNumber(ctx, LengthExtraBits[i]);
            uint32_t d = DecodeHuffSymbol(ctx, &ctx->DistanceTable);
            uint32_t distance = DistanceBase[d] + 1 + ReadNumber(ctx, DistanceExtraBits[d]);
            if (distance >= 0x2000) length++;
            if (distance >= 0x40000) length++;
            CopyMatch(ctx, length, distance);
        }
    }
    CheckTrailingTables(ctx);
    FlushWindow(ctx);
}

}  // namespace qvtest
