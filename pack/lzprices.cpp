// Symbol counts, the code lengths a block gets from them, and the prices in
// bits the parsers weigh with, taken from those lengths so that a parse
// chooses by what its steps will really cost.
#include "pack/lzprices.h"

#include <string.h>

#include "pack/huffman.h"

void ClearStats(Stats* s) { memset(s, 0, sizeof *s); }

void AddStats(Stats* into, const Stats& from) {
    for (int i = 0; i < kLiteralCount; i++) into->Literal[i] += from.Literal[i];
    for (int i = 0; i < kDistanceSymbols; i++) into->Distance[i] += from.Distance[i];
    for (int i = 0; i < kRepeatSymbols; i++) into->Repeat[i] += from.Repeat[i];
}

void LengthsFor(const Stats& s, uint8_t* lengths) {
    uint32_t counts[kLiteralCount];
    memcpy(counts, s.Literal, sizeof counts);
    counts[kSymbolSwitchTables]++;
    BuildCodeLengths(counts, kLiteralCount, kMaxCodeBits, lengths);
    BuildCodeLengths(s.Distance, kDistanceSymbols, kMaxCodeBits, lengths + kLiteralCount);
    BuildCodeLengths(s.Repeat, kRepeatSymbols, kMaxCodeBits, lengths + kLiteralCount + kDistanceSymbols);
}

uint64_t StatsBits(const Stats& s, const uint8_t* lengths) {
    uint64_t bits = 0;
    const uint32_t* sets[3] = {s.Literal, s.Distance, s.Repeat};
    const uint32_t sizes[3] = {kLiteralCount, kDistanceSymbols, kRepeatSymbols};
    const uint8_t* l = lengths;
    for (int t = 0; t < 3; t++) {
        for (uint32_t i = 0; i < sizes[t]; i++) {
            if (sets[t][i] && !l[i]) return ~0ull;
            bits += static_cast<uint64_t>(sets[t][i]) * l[i];
        }
        l += sizes[t];
    }
    return bits;
}

void SetPrices(Prices* p, const uint8_t* lengths) {
    uint32_t price[kLzTableSetSize];
    const uint32_t sizes[3] = {kLiteralCount, kDistanceSymbols, kRepeatSymbols};
    uint32_t at = 0;
    for (int t = 0; t < 3; t++) {
        uint32_t longest = 0;
        for (uint32_t i = 0; i < sizes[t]; i++)
            if (lengths[at + i] > longest) longest = lengths[at + i];
        uint32_t absent = longest + 2 < kMaxCodeBits ? longest + 2 : uint32_t(kMaxCodeBits);
        for (uint32_t i = 0; i < sizes[t]; i++) price[at + i] = lengths[at + i] ? lengths[at + i] : absent;
        at += sizes[t];
    }
    memcpy(p->Symbol, price, sizeof p->Symbol);
    for (int s = 0; s < kDistanceSymbols; s++) p->Slot[s] = price[kLiteralCount + s] + DistanceExtraBits[s];
    for (uint32_t v = 0; v < 256; v++) {
        uint32_t slot = LengthSlot(v);
        p->MatchLength[v] = price[kSymbolFirstMatch + slot] + LengthExtraBits[slot];
        p->RecentLength[v] = price[kLiteralCount + kDistanceSymbols + slot] + LengthExtraBits[slot];
    }
}

void SetDefaultPrices(Prices* p) {
    uint8_t lengths[kLzTableSetSize];
    for (int s = 0; s < kLzTableSetSize; s++) lengths[s] = 6;
    for (int s = 0; s < 256; s++) lengths[s] = 8;
    for (int s = kSymbolFirstMatch; s < kLiteralCount; s++) lengths[s] = 8;
    for (int s = 0; s < kDistanceSymbols; s++) lengths[kLiteralCount + s] = 5;
    for (int s = 0; s < kRepeatSymbols; s++) lengths[kLiteralCount + kDistanceSymbols + s] = 3;
    SetPrices(p, lengths);
}

uint32_t AverageLiteralPrice(const Prices& p, const Stats& s) {
    uint64_t bits = 0, literals = 0;
    for (int i = 0; i < 256; i++) {
        bits += static_cast<uint64_t>(s.Literal[i]) * p.Symbol[i];
        literals += s.Literal[i];
    }
    return literals ? static_cast<uint32_t>(bits / literals) : 8;
}

uint32_t ChooseSymbol(const Prices& p, const MatchState& m, uint32_t length, uint32_t distance, Token* token) {
    uint32_t best = 0;
    Token t = {0, 0, 0, 0, 0};
    if (length == m.PrevLength && distance == m.RecentDistances[0] && length > 0) {
        best = p.Symbol[kSymbolRepeatLast];
        t.Symbol = kSymbolRepeatLast;
    }
    for (uint32_t k = 0; k < kRecentDistances; k++) {
        if (m.RecentDistances[k] != distance) continue;
        uint32_t bonus = RecentLengthBonus(distance);
        if (length < kRecentMinLength + bonus || length - kRecentMinLength - bonus > 255) break;
        uint32_t value = length - kRecentMinLength - bonus;
        uint32_t cost = p.Symbol[kSymbolFirstRecent + k] + p.RecentLength[value];
        if (!best || cost < best) {
            best = cost;
            uint32_t slot = LengthSlot(value);
            t.Symbol = static_cast<uint16_t>(kSymbolFirstRecent + k);
            t.Second = static_cast<uint8_t>(slot);
            t.LengthExtra = static_cast<uint8_t>(value - LengthBase[slot]);
        }
    }
    if (length == kShortLength && distance <= kShortMaxDistance) {
        uint32_t cost = ShortPrice(p, distance);
        if (!best || cost < best) {
            uint32_t slot = ShortSlot(distance);
            best = cost;
            t.Symbol = static_cast<uint16_t>(kSymbolFirstShort + slot);
            t.Second = 0;
            t.LengthExtra = 0;
            t.Extra = distance - 1 - ShortDistanceBase[slot];
        }
    }
    uint32_t bonus = MatchLengthBonus(distance);
    if (length >= kMatchMinLength + bonus && length - kMatchMinLength - bonus <= 255) {
        uint32_t value = length - kMatchMinLength - bonus;
        uint32_t dslot = DistanceSlot(distance);
        uint32_t cost = p.MatchLength[value] + p.Slot[dslot];
        if (!best || cost < best) {
            uint32_t slot = LengthSlot(value);
            best = cost;
            t.Symbol = static_cast<uint16_t>(kSymbolFirstMatch + slot);
            t.Second = static_cast<uint8_t>(dslot);
            t.LengthExtra = static_cast<uint8_t>(value - LengthBase[slot]);
            t.Extra = distance - 1 - DistanceBase[dslot];
        }
    }
    if (token) *token = t;
    return best;
}

