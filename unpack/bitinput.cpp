#include "unpack/bitinput.h"

#include <string.h>

#include "install/context.h"
#include "install/fileops.h"
#include "unpack/huffdecode.h"

enum {
    kCarriedBytes = 32,  // bytes kept at the start of the buffer by a refill
    kRefillBytes = kInputBufferSize - kCarriedBytes
};

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

void FillInputBuffer(UnpackContext* ctx, int firstFill) {
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

uint32_t PeekBits(UnpackContext* ctx) {
    const uint8_t* p = ctx->InputBuffer + ctx->InputPos;
    uint32_t v = (static_cast<uint32_t>(p[0]) << 16) | (static_cast<uint32_t>(p[1]) << 8) | p[2];
    v = (v >> (8 - ctx->InputBit)) & 0xFFFF;
    ctx->LastBits = v;
    return v;
}

void SkipBits(UnpackContext* ctx, uint32_t count) {
    uint32_t bit = ctx->InputBit + count;
    ctx->InputPos += bit >> 3;
    ctx->InputBit = bit & 7;
}

void BuildHuffTable(const uint8_t* lengths, HuffTable* table, uint32_t count) {
    uint32_t lengthCount[16] = {0};
    uint32_t nextIndex[16];
    for (uint32_t i = 0; i < count; i++) lengthCount[lengths[i] & 15]++;
    lengthCount[0] = 0;

    table->CodeLimit[0] = 0;
    table->FirstIndex[0] = 0;
    uint32_t n = 0;
    for (uint32_t len = 1; len < 16; len++) {
        n = (n + lengthCount[len]) * 2;
        uint32_t limit = n << (15 - len);
        table->CodeLimit[len] = limit > 0xFFFF ? 0xFFFF : limit;
        table->FirstIndex[len] = table->FirstIndex[len - 1] + lengthCount[len - 1];
        nextIndex[len] = table->FirstIndex[len];
    }
    for (uint32_t i = 0; i < count; i++) {
        uint32_t len = lengths[i] & 15;
        if (len != 0) table->SortedSymbols[nextIndex[len]++] = i;
    }
    table->SymbolCount = count;
}

uint32_t DecodeHuffSymbol(UnpackContext* ctx, const HuffTable* table) {
    uint32_t length;
    uint32_t symbol = HuffDecodeBits(table, PeekBits(ctx), &length);
    SkipBits(ctx, length);
    ctx->LastSymbol = symbol;
    return symbol;
}

void BuildFastTable(const HuffTable* table, FastHuffTable* fast) {
    const uint32_t span = 1u << (16 - kFastBits);  // 16-bit fields per entry
    for (uint32_t p = 0; p < kFastSize; p++) {
        fast->Entry[p] = 0;
        uint32_t low = p * span, high = low + span - 2;  // even fields only
        uint32_t length = HuffCodeLength(table, low);
        // Settled only when the code fits in the leading bits and both ends
        // of the range give the same length and position: the limits never
        // decrease, so every field between them then agrees too.
        if (length > kFastBits || HuffCodeLength(table, high) != length) continue;
        uint32_t base = table->CodeLimit[length - 1];
        uint32_t index = ((low - base) >> (16 - length)) + table->FirstIndex[length];
        if (index != ((high - base) >> (16 - length)) + table->FirstIndex[length]) continue;
        uint32_t symbol = table->SortedSymbols[index < table->SymbolCount ? index : 0];
        if (symbol >= 0x1000) continue;
        fast->Entry[p] = static_cast<uint16_t>(symbol << 4 | length);
    }
}
