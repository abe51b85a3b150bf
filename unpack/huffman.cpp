#include "unpack/huffman.h"

#include "unpack/bitinput.h"

void BuildHuffTable(const uint8_t* lengths, HuffTable* table, uint32_t count) {
    uint32_t lengthCount[16] = {0};
    uint32_t nextIndex[16];
    for (uint32_t i = 0; i < count; i++) lengthCount[lengths[i] & 15]++;
    lengthCount[0] = 0;

    table->CodeLimit[0] = 0;
    table->FirstIndex[0] = 0;
    uint32_t n = 0;
    for (uint32_t len = 1; len <= kMaxCodeBits; len++) {
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

uint32_t DecodeHuffSymbol(UnpackContext* ctx, const HuffTable* table) {
    uint32_t length;
    uint32_t symbol = HuffDecodeBits(table, PeekBits(ctx), &length);
    SkipBits(ctx, length);
    return symbol;
}
