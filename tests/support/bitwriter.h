// Test-side bit stream writer for the packed data format: bits most
// significant first, canonical codes from length lists, table sets and
// symbols with their extra bits, so tests can assemble any stream by hand.
#ifndef QUORVANEL_TESTS_SUPPORT_BITWRITER_H
#define QUORVANEL_TESTS_SUPPORT_BITWRITER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "support/bytes.h"

namespace qvtest {

using Lengths = std::vector<uint8_t>;

struct BitWriter {
    Bytes bytes;
    uint32_t bitCount = 0;
    void Put(uint32_t value, int count);  // the low count bits, most significant first
    // Pads the last byte with zero bits and appends padBytes zero bytes.
    Bytes Finish(size_t padBytes = 0) const;
};

// Code lengths (at most maxLength, 1 for a lone symbol, 0 for unused ones)
// of a Huffman code for the given symbol frequencies.
Lengths HuffmanLengths(const std::vector<uint32_t>& frequencies, int maxLength = 15);

struct Code {
    uint32_t bits = 0;
    int length = 0;  // 0: the symbol has no code
};
std::vector<Code> CanonicalCodes(const Lengths& lengths);
void PutSymbol(BitWriter& out, const std::vector<Code>& codes, int symbol);

// A table set: audio flag 0, keep flag as given, the 19 pre-code lengths and
// the coded lengths (deltas against previous when keep is set; zero runs and
// repeats coded with 17/18/16 where the writer finds them).
void PutTableSet(BitWriter& out, const Lengths& lengths, const Lengths& previous, bool keep);
// An audio table set of channels x 257 lengths.
void PutAudioTableSet(BitWriter& out, const Lengths& lengths, const Lengths& previous, bool keep,
                      int channels);

// An LZ stream under construction, with the literal/distance/repeat codes of
// the table set last written.
struct LzWriter {
    BitWriter out;
    Lengths current;  // the 374 lengths in force (zeros before the first set)
    void Use(const Lengths& lengths) { current = lengths; }  // tables already in force (solid)
    void Tables(const Lengths& lengths, bool keep = false);  // a table set, no 269
    void SwitchTables(const Lengths& lengths, bool keep = false);  // symbol 269 + set
    void Literal(uint8_t byte);
    void RepeatLast();  // symbol 256: the last match again
    // 257..260: the recent distance which (0 the newest .. 3), a length slot
    // of the repeat table and its extra bits.
    void RecentMatch(int which, int lengthSlot, uint32_t extra);
    void ShortMatch(uint32_t distance);      // 261..268, distance 1..256
    void Match(uint32_t length, uint32_t distance);  // 270..297 with the bonuses
    void Symbol(int literalTableSymbol);     // any raw symbol of the literal table
    Bytes Finish(size_t padBytes = 0) const { return out.Finish(padBytes); }

    // Codes of current, refreshed whenever current changes.
    Lengths codedFor;
    std::vector<Code> literalCodes, distanceCodes, repeatCodes;
    void RefreshCodes();
};

// Match length and distance slots as the format defines them.
struct Slot {
    uint32_t base;
    int extraBits;
};
Slot LengthSlot(int slot);         // 0..27
Slot DistanceSlot(int slot);       // 0..47
Slot ShortDistanceSlot(int slot);  // 0..7 (symbols 261..268)

// Lengths under which every symbol an encoder needs has a code: literals and
// all control symbols, distance and repeat slots (a valid, full code space).
Lengths GeneralLengths();

// A valid packed stream for data made of literals only; with solid, no table
// set at the start (the tables of the entry before are used).
Bytes PackLiterals(const uint8_t* data, size_t size, bool solid);

}  // namespace qvtest

#endif
