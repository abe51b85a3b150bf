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

uint32_t DecodeHuffSymbol(UnpackContext* ctx, const HuffTable* table) {
    uint32_t length;
    uint32_t symbol = HuffDecodeBits(table, PeekBits(ctx), &length);
    SkipBits(ctx, length);
    return symbol;
}

namespace {

uint32_t MakeEntry(uint32_t bits, uint32_t extraBits, uint32_t kind, uint32_t value) {
    return bits | extraBits << 5 | kind << 10 | value << 16;
}

}  // namespace

uint32_t LookupEntry(LookupKind kind, uint32_t symbol, uint32_t codeLength, uint32_t code) {
    if (kind == kLookupSymbol) return MakeEntry(codeLength, 0, 0, symbol);
    if (kind == kLookupDistance) {
        if (symbol >= kDistanceSymbols) symbol = 0;  // never in a table built for the alphabet
        uint32_t extra = DistanceExtraBits[symbol];
        uint32_t base = (DistanceBase[symbol] + 1 - (code << extra)) & 0x1FFFFF;
        return (codeLength + extra) | extra << 5 | base << 11;
    }
    if (kind == kLookupRepeat) {
        if (symbol >= kLengthSlots) symbol = 0;
        uint32_t extra = LengthExtraBits[symbol];
        return MakeEntry(codeLength + extra, extra, 0, (LengthBase[symbol] + kRecentMinLength - (code << extra)) & 0x7FFF);
    }
    if (symbol < kSymbolRepeatLast) return MakeEntry(codeLength, 0, kEntryLiteral, symbol | 0x8000);
    if (symbol == kSymbolRepeatLast) return MakeEntry(codeLength, 0, kEntryRepeatLast, 0);
    if (symbol < kSymbolFirstShort) return MakeEntry(codeLength, 0, kEntryRecent, symbol - kSymbolFirstRecent);
    if (symbol < kSymbolSwitchTables) {
        uint32_t slot = symbol - kSymbolFirstShort;
        uint32_t extra = ShortDistanceExtraBits[slot];
        return MakeEntry(codeLength + extra, extra, kEntryShort, (ShortDistanceBase[slot] + 1u - (code << extra)) & 0x7FFF);
    }
    if (symbol == kSymbolSwitchTables || symbol >= kLiteralSymbols) return MakeEntry(codeLength, 0, kEntrySwitch, 0);
    uint32_t slot = symbol - kSymbolFirstMatch;
    uint32_t extra = LengthExtraBits[slot];
    return MakeEntry(codeLength + extra, extra, kEntryMatch, (LengthBase[slot] + kMatchMinLength - (code << extra)) & 0x7FFF);
}

uint32_t RuleEntry(const HuffTable* table, LookupKind kind, uint32_t bits) {
    uint32_t length;
    uint32_t symbol = HuffDecodeBits(table, bits, &length);
    return LookupEntry(kind, symbol, length, (bits & 0xFFFF) >> (16 - length));
}

void BuildLookup(const HuffTable* table, uint32_t* lookup, uint32_t bits, LookupKind kind) {
    const uint32_t size = 1u << bits;
    // The codes of length L take the 16-bit fields from CodeLimit[L - 1] up
    // to CodeLimit[L] (a limit capped at 0xFFFF reaches to the end), one
    // after the other in the order of SortedSymbols from FirstIndex[L]. Both
    // ends are multiples of 1 << (16 - L): for L up to bits, whole entries.
    uint32_t at = 0;
    for (uint32_t len = 1; len <= bits; len++) {
        uint32_t high = table->CodeLimit[len];
        uint32_t end = high >= 0xFFFF ? size : high >> (16 - bits);
        uint32_t span = 1u << (bits - len);
        for (uint32_t index = table->FirstIndex[len]; at < end; index++) {
            uint32_t symbol = table->SortedSymbols[index < table->SymbolCount ? index : 0];
            uint32_t entry = LookupEntry(kind, symbol, len, at >> (bits - len));
            for (uint32_t stop = at + span; at < stop; at++) lookup[at] = entry;
        }
    }
    // Longer codes: the rule.
    for (; at < size; at++) lookup[at] = 0;
}
