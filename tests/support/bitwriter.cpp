#include "support/bitwriter.h"

#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <queue>

namespace qvtest {

namespace {

[[noreturn]] void Fail(const char* what, long value) {
    fprintf(stderr, "bit writer: %s (%ld)\n", what, value);
    abort();
}

enum { kLiteralCount = 298, kDistanceCount = 48, kRepeatCount = 28, kLzSetSize = 374 };

// Bases follow from the extra-bit counts: each slot starts where the one
// before it ends.
Slot SlotOf(int slot, int (*extraOf)(int)) {
    uint32_t base = 0;
    for (int i = 0; i < slot; i++) base += 1u << extraOf(i);
    return Slot{base, extraOf(slot)};
}
int LengthExtra(int slot) { return slot < 8 ? 0 : (slot - 4) / 4; }
int DistanceExtra(int slot) { return slot < 4 ? 0 : std::min((slot - 2) / 2, 16); }
int ShortExtra(int slot) {
    static const int extra[8] = {2, 2, 3, 4, 5, 6, 6, 6};
    return extra[slot];
}

// Finds the slot whose range holds value.
int FindSlot(uint32_t value, int count, Slot (*slotOf)(int)) {
    for (int i = count - 1; i >= 0; i--) {
        Slot s = slotOf(i);
        if (value >= s.base) {
            if (value - s.base >= (1u << s.extraBits)) break;
            return i;
        }
    }
    Fail("value has no slot", static_cast<long>(value));
}

void PutSlotValue(BitWriter& out, const Slot& slot, uint32_t value) {
    if (slot.extraBits) out.Put(value - slot.base, slot.extraBits);
}

// The coded lengths of a set after its header: pre-code lengths, then the
// pre-code symbols with their extra bits.
void PutSetBody(BitWriter& out, const Lengths& lengths, const Lengths& previous, bool keep) {
    struct Token {
        int symbol;
        uint32_t extra;
        int extraBits;
    };
    std::vector<Token> tokens;
    const size_t n = lengths.size();
    for (size_t i = 0; i < n;) {
        if (lengths[i] > 15) Fail("code length above 15", lengths[i]);
        size_t run = 1;
        while (i + run < n && lengths[i + run] == lengths[i]) run++;
        if (lengths[i] == 0 && run >= 3) {
            run = std::min<size_t>(run, 138);
            if (run >= 11)
                tokens.push_back({18, static_cast<uint32_t>(run - 11), 7});
            else
                tokens.push_back({17, static_cast<uint32_t>(run - 3), 3});
            i += run;
            continue;
        }
        if (i > 0 && lengths[i] == lengths[i - 1]) {
            // run counts from i; repeat the length before it
            if (run >= 3) {
                run = std::min<size_t>(run, 6);
                tokens.push_back({16, static_cast<uint32_t>(run - 3), 2});
                i += run;
                continue;
            }
        }
        uint8_t base = keep && i < previous.size() ? previous[i] : 0;
        tokens.push_back({(lengths[i] - base) & 15, 0, 0});
        i++;
    }

    std::vector<uint32_t> frequencies(19, 0);
    for (const Token& t : tokens) frequencies[t.symbol]++;
    Lengths preLengths = HuffmanLengths(frequencies, 15);
    for (int s = 0; s < 19; s++) out.Put(preLengths[s], 4);
    std::vector<Code> codes = CanonicalCodes(preLengths);
    for (const Token& t : tokens) {
        PutSymbol(out, codes, t.symbol);
        if (t.extraBits) out.Put(t.extra, t.extraBits);
    }
}

}  // namespace

Slot LengthSlot(int slot) { return SlotOf(slot, LengthExtra); }
Slot DistanceSlot(int slot) { return SlotOf(slot, DistanceExtra); }
Slot ShortDistanceSlot(int slot) { return SlotOf(slot, ShortExtra); }

void BitWriter::Put(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; i--) {
        if (bitCount % 8 == 0) bytes.push_back(0);
        if ((value >> i) & 1) bytes.back() |= static_cast<uint8_t>(0x80 >> (bitCount % 8));
        bitCount++;
    }
}

Bytes BitWriter::Finish(size_t padBytes) const {
    Bytes result = bytes;
    result.insert(result.end(), padBytes, 0);
    return result;
}

Lengths HuffmanLengths(const std::vector<uint32_t>& frequencies, int maxLength) {
    const size_t n = frequencies.size();
    std::vector<uint64_t> weight(frequencies.begin(), frequencies.end());
    Lengths lengths(n, 0);
    std::vector<size_t> used;
    for (size_t i = 0; i < n; i++)
        if (weight[i]) used.push_back(i);
    if (used.empty()) return lengths;
    if (used.size() == 1) {
        lengths[used[0]] = 1;
        return lengths;
    }
    for (;;) {
        // Nodes 0..n-1 are the symbols, later ones the merged pairs.
        std::vector<size_t> parent(n, 0);
        using Item = std::pair<uint64_t, size_t>;
        std::priority_queue<Item, std::vector<Item>, std::greater<Item>> queue;
        for (size_t i : used) queue.push({weight[i], i});
        while (queue.size() > 1) {
            Item a = queue.top();
            queue.pop();
            Item b = queue.top();
            queue.pop();
            size_t node = parent.size();
            parent.push_back(0);
            parent[a.second] = node;
            parent[b.second] = node;
            queue.push({a.first + b.first, node});
        }
        const size_t root = parent.size() - 1;
        int longest = 0;
        for (size_t i : used) {
            int depth = 0;
            for (size_t at = i; at != root; at = parent[at]) depth++;
            lengths[i] = static_cast<uint8_t>(std::min(depth, 255));
            longest = std::max(longest, depth);
        }
        if (longest <= maxLength) return lengths;
        for (size_t i : used) weight[i] = (weight[i] + 1) / 2;  // flatten and try again
    }
}

std::vector<Code> CanonicalCodes(const Lengths& lengths) {
    uint32_t count[16] = {0};
    for (uint8_t len : lengths) {
        if (len > 15) Fail("code length above 15", len);
        count[len]++;
    }
    count[0] = 0;
    uint32_t next[16] = {0};
    uint32_t code = 0;
    for (int len = 1; len < 16; len++) {
        code = (code + count[len - 1]) << 1;
        next[len] = code;
    }
    std::vector<Code> codes(lengths.size());
    for (size_t s = 0; s < lengths.size(); s++) {
        if (lengths[s] == 0) continue;
        codes[s].bits = next[lengths[s]]++;
        codes[s].length = lengths[s];
    }
    return codes;
}

void PutSymbol(BitWriter& out, const std::vector<Code>& codes, int symbol) {
    if (symbol < 0 || static_cast<size_t>(symbol) >= codes.size() || codes[symbol].length == 0)
        Fail("symbol has no code", symbol);
    out.Put(codes[symbol].bits, codes[symbol].length);
}

void PutTableSet(BitWriter& out, const Lengths& lengths, const Lengths& previous, bool keep) {
    out.Put(0, 1);
    out.Put(keep ? 1 : 0, 1);
    PutSetBody(out, lengths, previous, keep);
}

void PutAudioTableSet(BitWriter& out, const Lengths& lengths, const Lengths& previous, bool keep,
                      int channels) {
    if (channels < 1 || channels > 4) Fail("channel count", channels);
    if (lengths.size() != static_cast<size_t>(channels) * 257) Fail("audio set size", static_cast<long>(lengths.size()));
    out.Put(1, 1);
    out.Put(keep ? 1 : 0, 1);
    out.Put(static_cast<uint32_t>(channels - 1), 2);
    PutSetBody(out, lengths, previous, keep);
}

void LzWriter::RefreshCodes() {
    if (codedFor == current && !literalCodes.empty()) return;
    if (current.size() != kLzSetSize) Fail("no table set in force", static_cast<long>(current.size()));
    literalCodes = CanonicalCodes(Lengths(current.begin(), current.begin() + kLiteralCount));
    distanceCodes = CanonicalCodes(
        Lengths(current.begin() + kLiteralCount, current.begin() + kLiteralCount + kDistanceCount));
    repeatCodes = CanonicalCodes(Lengths(current.begin() + kLiteralCount + kDistanceCount, current.end()));
    codedFor = current;
}

void LzWriter::Tables(const Lengths& lengths, bool keep) {
    if (lengths.size() != kLzSetSize) Fail("LZ set size", static_cast<long>(lengths.size()));
    PutTableSet(out, lengths, current, keep);
    current = lengths;
}

void LzWriter::SwitchTables(const Lengths& lengths, bool keep) {
    Symbol(269);
    Tables(lengths, keep);
}

void LzWriter::Symbol(int literalTableSymbol) {
    RefreshCodes();
    PutSymbol(out, literalCodes, literalTableSymbol);
}

void LzWriter::Literal(uint8_t byte) { Symbol(byte); }

void LzWriter::RepeatLast() { Symbol(256); }

void LzWriter::RecentMatch(int which, int lengthSlot, uint32_t extra) {
    if (which < 0 || which > 3) Fail("recent distance", which);
    Symbol(257 + which);
    PutSymbol(out, repeatCodes, lengthSlot);
    Slot slot = LengthSlot(lengthSlot);
    if (slot.extraBits) out.Put(extra, slot.extraBits);
}

void LzWriter::ShortMatch(uint32_t distance) {
    if (distance < 1 || distance > 256) Fail("short distance", static_cast<long>(distance));
    int slot = FindSlot(distance - 1, 8, ShortDistanceSlot);
    Symbol(261 + slot);
    PutSlotValue(out, ShortDistanceSlot(slot), distance - 1);
}

void LzWriter::Match(uint32_t length, uint32_t distance) {
    if (distance < 1 || distance > 0x100000) Fail("match distance", static_cast<long>(distance));
    uint32_t bonus = (distance >= 0x2000 ? 1 : 0) + (distance >= 0x40000 ? 1 : 0);
    if (length < 3 + bonus || length > 258 + bonus) Fail("match length", static_cast<long>(length));
    uint32_t stored = length - bonus - 3;
    int lengthSlot = FindSlot(stored, 28, LengthSlot);
    int distanceSlot = FindSlot(distance - 1, 48, DistanceSlot);
    Symbol(270 + lengthSlot);
    PutSlotValue(out, LengthSlot(lengthSlot), stored);
    PutSymbol(out, distanceCodes, distanceSlot);
    PutSlotValue(out, DistanceSlot(distanceSlot), distance - 1);
}

Lengths GeneralLengths() {
    // Full codes: 214 literal-table symbols of 8 bits and 84 of 9, so the
    // all-zero code is the literal 0 (zero padding never reads as a table
    // switch); 16 distance slots of 5 bits and 32 of 6; 4 repeat slots of 4
    // bits and 24 of 5.
    Lengths lengths(kLzSetSize);
    for (int s = 0; s < kLiteralCount; s++) lengths[s] = s < 214 ? 8 : 9;
    for (int s = 0; s < kDistanceCount; s++) lengths[kLiteralCount + s] = s < 16 ? 5 : 6;
    for (int s = 0; s < kRepeatCount; s++) lengths[kLiteralCount + kDistanceCount + s] = s < 4 ? 4 : 5;
    return lengths;
}

Bytes PackLiterals(const uint8_t* data, size_t size, bool solid) {
    LzWriter writer;
    if (solid)
        writer.Use(GeneralLengths());
    else
        writer.Tables(GeneralLengths());
    for (size_t i = 0; i < size; i++) writer.Literal(data[i]);
    return writer.Finish();
}

}  // namespace qvtest
