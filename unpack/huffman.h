// Canonical Huffman decode tables with code lengths of at most 15 bits: how
// a table is built from code lengths, the decode rule, and the lookup that
// answers the rule's question for short codes in one step.
//
// HuffDecodeBits is the decode rule itself. A FastHuffTable resolves codes
// of at most kFastBits bits with one lookup on the leading bits; its answers
// are exactly those of the rule, and a zero entry (also the state of a
// zero-filled table) sends the decode to the rule.
#ifndef QUORVANEL_UNPACK_HUFFMAN_H
#define QUORVANEL_UNPACK_HUFFMAN_H

#include <stdint.h>

#include "base/context.h"

// Builds table from count code lengths (each taken AND 15). No length set is
// rejected: one that over- or under-fills the code space builds all the same.
void BuildHuffTable(const uint8_t* lengths, HuffTable* table, uint32_t count);
// Fills fast from a built table.
void BuildFastTable(const HuffTable* table, FastHuffTable* fast);
// Decodes the code at the current bit position and consumes it.
uint32_t DecodeHuffSymbol(UnpackContext* ctx, const HuffTable* table);

// Code length of the 16-bit field w (lowest bit clear): the smallest L of
// 1..14 with w below CodeLimit[L], else 15. The limits never decrease with L,
// so a balanced search of at most four comparisons finds it.
static inline uint32_t HuffCodeLength(const HuffTable* table, uint32_t w) {
    const uint32_t* limit = table->CodeLimit;
    if (w < limit[8]) {
        if (w < limit[4]) {
            if (w < limit[2]) return w < limit[1] ? 1 : 2;
            return w < limit[3] ? 3 : 4;
        }
        if (w < limit[6]) return w < limit[5] ? 5 : 6;
        return w < limit[7] ? 7 : 8;
    }
    if (w < limit[12]) {
        if (w < limit[10]) return w < limit[9] ? 9 : 10;
        return w < limit[11] ? 11 : 12;
    }
    if (w < limit[14]) return w < limit[13] ? 13 : 14;
    return 15;
}

// Decodes the code standing at the top of the 16-bit field bits; stores the
// number of bits it takes in *length. A position outside the table gives
// the symbol at position 0.
static inline uint32_t HuffDecodeBits(const HuffTable* table, uint32_t bits, uint32_t* length) {
    uint32_t w = bits & 0xFFFE;  // the lowest bit never belongs to a code
    uint32_t len = HuffCodeLength(table, w);
    uint32_t index = ((w - table->CodeLimit[len - 1]) >> (16 - len)) + table->FirstIndex[len];
    if (index >= table->SymbolCount) index = 0;
    *length = len;
    return table->SortedSymbols[index];
}

// The same result as HuffDecodeBits, by lookup where the leading bits allow.
static inline uint32_t FastHuffDecode(const FastHuffTable* fast, const HuffTable* table, uint32_t bits,
                                      uint32_t* length) {
    uint32_t entry = fast->Entry[bits >> (16 - kFastBits)];
    if (entry) {
        *length = entry & 15;
        return entry >> 4;
    }
    return HuffDecodeBits(table, bits, length);
}

#endif
