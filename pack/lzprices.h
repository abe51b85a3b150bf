// What a step costs: the coded step (Token), the symbol counts of a run of
// steps, the code lengths a block gets from them and the prices in bits both
// parsers weigh matches with, and the choice of the cheapest symbol that
// codes a match given the decoder's match state. Parsers and the block
// writer share these, so a match is priced as it will be written.
#ifndef QUORVANEL_PACK_LZPRICES_H
#define QUORVANEL_PACK_LZPRICES_H

#include <stdint.h>

#include "base/format.h"
#include "pack/lzformat.h"

enum { kLiteralCount = kLiteralSymbols };

// One coded step: the literal-table symbol and what follows it.
struct Token {
    uint16_t Symbol;
    uint8_t Second;       // distance slot (270..297) or length slot (257..260)
    uint8_t LengthExtra;  // value of the length's extra bits
    uint32_t Extra;       // value of the distance's extra bits (270..297, 261..268)
    uint32_t Entry;       // the entry whose stream the step belongs to
};

// How often each symbol of the three tables occurs in a run of steps.
struct Stats {
    uint32_t Literal[kLiteralCount];
    uint32_t Distance[kDistanceSymbols];
    uint32_t Repeat[kRepeatSymbols];
};

// What symbols cost, in bits, under a set of code lengths; extra bits
// included where they belong to the symbol.
struct Prices {
    uint32_t Symbol[kLiteralCount];
    uint32_t Slot[kDistanceSymbols];  // distance slot and its extra bits
    uint32_t MatchLength[256];        // length value of 270..297: symbol and extra bits
    uint32_t RecentLength[256];       // length value of 257..260: repeat-table symbol and extra bits
};

// The decoder's match state: recent distances, newest first, and the
// length of the last match (whose distance is the newest).
struct MatchState {
    uint32_t RecentDistances[kRecentDistances];
    uint32_t PrevLength;
};

// The state after a match of this length and distance.
inline void Record(MatchState* m, uint32_t length, uint32_t distance) {
    m->RecentDistances[3] = m->RecentDistances[2];
    m->RecentDistances[2] = m->RecentDistances[1];
    m->RecentDistances[1] = m->RecentDistances[0];
    m->RecentDistances[0] = distance;
    m->PrevLength = length;
}

void ClearStats(Stats* s);
// into += from, symbol by symbol.
void AddStats(Stats* into, const Stats& from);

// Counts the symbols a step is coded with.
inline void CountToken(Stats* s, const Token& t) {
    s->Literal[t.Symbol]++;
    if (t.Symbol >= kSymbolFirstMatch) s->Distance[t.Second]++;
    else if (t.Symbol >= kSymbolFirstRecent && t.Symbol < kSymbolFirstShort) s->Repeat[t.Second]++;
}

// Fills lengths[0..kLzTableSetSize) with the code lengths of a block with
// these counts; the switch symbol always keeps a code, so that the block
// after can bring its own tables.
void LengthsFor(const Stats& s, uint8_t* lengths);
// Bits of the counted symbols under the given lengths, extra bits left out;
// ~0 when a symbol they need has no code there.
uint64_t StatsBits(const Stats& s, const uint8_t* lengths);

// Prices from code lengths. A symbol without a code is priced a little
// above the longest code of its table: usable, but only where it pays well.
void SetPrices(Prices* p, const uint8_t* lengths);
// Prices before any statistics: literals about 8 bits, matches a little more.
void SetDefaultPrices(Prices* p);
// The mean price of the literals counted in s under p; 8 when there are none.
uint32_t AverageLiteralPrice(const Prices& p, const Stats& s);

// The price of a short match (261..268) at distance 1..kShortMaxDistance.
inline uint32_t ShortPrice(const Prices& p, uint32_t distance) {
    uint32_t slot = ShortSlot(distance);
    return p.Symbol[kSymbolFirstShort + slot] + ShortDistanceExtraBits[slot];
}

// Picks the cheapest symbol the decoder turns into exactly this match, given
// its match state; returns the price, or 0 when no symbol fits. When token
// is given it is filled with that symbol and its extra bits (Entry 0).
uint32_t ChooseSymbol(const Prices& p, const MatchState& m, uint32_t length, uint32_t distance, Token* token);

#endif
