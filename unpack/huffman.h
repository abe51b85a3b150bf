// Canonical Huffman decode tables with code lengths of at most 15 bits: how
// a table is built from code lengths, the decode rule, and the lookup tables
// that answer the rule for short codes in one step.
//
// HuffDecodeBits is the decode rule itself. A lookup table has one 32-bit
// entry for each pattern of its leading bits. An entry describes what the
// code standing there means for the decode loop, with everything a step
// needs at once:
//
//   bits  0..4   bits the entry takes: the code, plus the extra bits that
//                follow it for a length or distance symbol; 0 marks an entry
//                that the leading bits do not settle (a code longer than the
//                lookup): the decode rule answers there
//   bits  5..9   how many of them are extra bits
//   bits 10..12  (literal table) what the symbol is, an EntryKind
//   bits 16..31  (literal and repeat tables) the value: a literal (bits
//                16..23, with bit 31 set, so that a literal entry is one
//                whose sign bit is set), which recent distance (0 the
//                newest); or for a number with extra bits (a length, a short
//                distance) its base less the code shifted above the extra
//                bits, modulo 1 << 15, so that adding all the bits the entry
//                takes gives the number (EntryNumber)
//   bits 11..31  (distance table) the same for the distance, modulo 1 << 21
//
// Entries give exactly what the rule gives for every pattern they cover.
#ifndef QUORVANEL_UNPACK_HUFFMAN_H
#define QUORVANEL_UNPACK_HUFFMAN_H

#include <stdint.h>

#include "base/context.h"

// Builds table from count code lengths (each taken AND 15). No length set is
// rejected: one that over- or under-fills the code space builds all the same.
void BuildHuffTable(const uint8_t* lengths, HuffTable* table, uint32_t count);
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

// --- Lookup tables ---------------------------------------------------------

// Which alphabet a lookup serves; it decides what its entries say.
enum LookupKind {
    kLookupLiteral,   // the literal table: literals, matches, control symbols
    kLookupDistance,  // distance slots: base + 1 and extra bits
    kLookupRepeat,    // length slots of recent-distance matches: base + 2 and extra bits
    kLookupSymbol     // any alphabet: the symbol itself as the value
};

// What a literal-table entry stands for.
enum EntryKind {
    kEntryLiteral = 0,     // 0..255
    kEntryMatch = 1,       // 270..297: length base + 3 and its extra bits; a distance code follows
    kEntryShort = 2,       // 261..268: short distance base + 1 and its extra bits; length 2
    kEntryRecent = 3,      // 257..260: which recent distance, 0 the newest; a repeat-table code follows
    kEntryRepeatLast = 4,  // 256
    kEntrySwitch = 5       // 269
};

static inline uint32_t EntryBits(uint32_t entry) { return entry & 31; }
static inline uint32_t EntryExtraBits(uint32_t entry) { return (entry >> 5) & 31; }
static inline uint32_t EntryKindOf(uint32_t entry) { return (entry >> 10) & 7; }
static inline uint32_t EntryValue(uint32_t entry) { return entry >> 16; }
static inline bool IsLiteralEntry(uint32_t entry) { return (entry >> 31) != 0; }
static inline uint8_t EntryLiteral(uint32_t entry) { return static_cast<uint8_t>(entry >> 16); }
// The number an entry of a length or distance gives with the bits at the
// top of buf, the entry's own bits among them.
static inline uint32_t EntryNumber(uint64_t buf, uint32_t entry) {
    return (EntryValue(entry) + static_cast<uint32_t>(buf >> (64 - EntryBits(entry)))) & 0x7FFF;
}
static inline uint32_t DistanceNumber(uint64_t buf, uint32_t entry) {
    return ((entry >> 11) + static_cast<uint32_t>(buf >> (64 - EntryBits(entry)))) & 0x1FFFFF;
}

// The entry for symbol with the code of the given length (its bits in the
// low codeLength bits of code).
uint32_t LookupEntry(LookupKind kind, uint32_t symbol, uint32_t codeLength, uint32_t code);
// Fills the 1 << bits entries of lookup (bits 1..14) from a built table.
void BuildLookup(const HuffTable* table, uint32_t* lookup, uint32_t bits, LookupKind kind);
// The entry the decode rule gives for the 16-bit field bits.
uint32_t RuleEntry(const HuffTable* table, LookupKind kind, uint32_t bits);

// The entry for the leading bits of a 16-bit field, by lookup where that
// settles it and by the rule otherwise.
static inline uint32_t LookupOrRule(const uint32_t* lookup, uint32_t lookupBits, const HuffTable* table,
                                    LookupKind kind, uint32_t bits) {
    uint32_t entry = lookup[bits >> (16 - lookupBits)];
    return entry ? entry : RuleEntry(table, kind, bits);
}

#endif
