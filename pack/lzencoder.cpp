#include "pack/lzencoder.h"

#include <stdlib.h>
#include <string.h>

#include <deque>

#include "pack/bitsink.h"
#include "pack/huffman.h"
#include "pack/lzformat.h"
#include "pack/tableset.h"

namespace {

enum {
    kHashBits = 17,
    kHashSize = 1 << kHashBits,
    kChainMask = kWindowSize - 1,
    kBufferBytes = 4 * kWindowSize,  // sliding input: the window behind, fresh data ahead
    kLookahead = 300,                 // bytes a parse step may look at ahead of its position
    kLiteralCount = kLiteralSymbols,
    kScale = 16  // prices in 1/16 bits
};

struct LevelParams {
    uint32_t Chain;        // chain links followed per search
    uint32_t Nice;         // a match this long ends the search and the lazy check
    bool Lazy;             // look one position ahead before taking a match ...
    uint32_t MaxLazy;      // ... shorter than this
    uint32_t Good;         // with a match this long in hand, look ahead with a quarter of the chain
    bool Optimal;          // cheapest path through every match, segment by segment
    bool InsertAll;        // index every position inside matches too
    uint32_t BlockTokens;  // symbols per block before the tables are reconsidered
};

const LevelParams kLevels[kMaxLevel + 1] = {
    {0, 0, false, 0, 0, false, false, 0},
    {6, 24, false, 0, 0, false, false, 1u << 13},
    {24, 48, false, 0, 0, false, true, 1u << 13},
    {48, 96, true, 32, 4, false, true, 1u << 13},
    {32, 128, false, 0, 0, true, true, 1u << 12},
    {256, 260, false, 0, 0, true, true, 1u << 12},
};

enum { kSegment = 4096 };  // positions the optimal parse weighs at once

// One coded step: the literal-table symbol and what follows it.
struct Token {
    uint16_t Symbol;
    uint8_t Second;       // distance slot (270..297) or length slot (257..260)
    uint8_t LengthExtra;  // value of the length's extra bits
    uint32_t Extra;       // value of the distance's extra bits (270..297, 261..268)
    uint32_t Entry;       // the entry whose stream the step belongs to
};

struct Choice {
    uint32_t Length;  // 0: none
    uint32_t Distance;
    int32_t Gain;  // price of the bytes as literals minus the price of the match
};

struct PendingEntry {
    BitSink Sink;
};

// The decoder's match state: recent distances and the last match.
struct MatchState {
    uint32_t Recent[4];
    uint32_t RecentCount;
    uint32_t PrevLength;
    uint32_t PrevDistance;
};

inline uint32_t RecentAt(const MatchState& m, uint32_t k) { return m.Recent[(m.RecentCount - 1 - k) & 3]; }

inline void Record(MatchState* m, uint32_t length, uint32_t distance) {
    m->Recent[m->RecentCount & 3] = distance;
    m->RecentCount++;
    m->PrevLength = length;
    m->PrevDistance = distance;
}

// A match the finder saw: the longest at this distance, so every shorter
// length down to the minimum is there too.
struct Found {
    uint32_t Length;
    uint32_t Distance;
};

// One position of the optimal parse: the cheapest way found to get here.
struct Arrival {
    uint32_t Cost;  // 1/16 bits from the segment's start; ~0 unreached
    uint32_t From;
    uint32_t Length;  // 1: literal
    uint32_t Distance;
    MatchState State;
};

}  // namespace

struct LzEncoder {
    LzEncoderSetup Setup;
    LevelParams Params;

    // Input: Buffer[i] holds the byte at stream position BufferBase + i.
    uint8_t* Buffer;
    uint32_t BufferBase;
    uint32_t BufferLength;
    uint32_t Total;     // stream bytes handed in so far
    uint32_t Pos;       // next position to parse
    uint32_t Inserted;  // positions below this are in the hash chains
    uint32_t EntryEnd;
    uint32_t* Head;     // position + 1 of the newest 4-byte string per hash; 0 none
    uint32_t* Chain;    // position + 1 of the previous one with the same hash
    uint32_t* Head3;    // position + 1 of the newest 3-byte string per hash
    uint32_t* Head2;    // position + 1 of the newest occurrence of each byte pair
    bool HaveNext;
    Choice Next;

    // The decoder's match state after the steps coded so far.
    MatchState Match;
    std::vector<Arrival> Arrivals;  // optimal parse scratch
    std::vector<Found> FoundScratch;
    std::vector<uint32_t> PathScratch;

    // The block being collected.
    std::vector<Token> Tokens;
    uint32_t LiteralCounts[kLiteralCount];
    uint32_t DistanceCounts[kDistanceSymbols];
    uint32_t RepeatCounts[kRepeatSymbols];

    // Tables in force at the decoder and the lengths its deltas start from.
    bool HaveTables;
    uint8_t Lengths[kLzTableSetSize];
    uint8_t PrevLengths[kLzTableSetSize];
    uint16_t Codes[kLzTableSetSize];

    // Parse prices (1/16 bits) taken from the latest tables.
    uint32_t Price[kLzTableSetSize];
    uint32_t AverageLiteral;

    std::deque<PendingEntry> Entries;  // entries not yet handed out, from FirstPending
    uint32_t FirstPending;
    uint32_t ParsedEntries;  // entries whose input has been parsed completely
    uint64_t Consumed;
};

namespace {

uint32_t LengthExtraOf(uint32_t slot) { return LengthExtraBits[slot]; }

inline uint32_t Hash4(const uint8_t* p) {
    uint32_t v;
    memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline uint32_t Hash3(const uint8_t* p) {
    uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline const uint8_t* At(const LzEncoder* e, uint32_t pos) { return e->Buffer + (pos - e->BufferBase); }

void SetDefaultPrices(LzEncoder* e) {
    for (int s = 0; s < kLzTableSetSize; s++) e->Price[s] = 6 * kScale;
    for (int s = 0; s < 256; s++) e->Price[s] = 8 * kScale;
    for (int s = kSymbolFirstMatch; s < kLiteralCount; s++) e->Price[s] = 8 * kScale;
    for (int s = 0; s < kDistanceSymbols; s++) e->Price[kLiteralCount + s] = 5 * kScale;
    for (int s = 0; s < kRepeatSymbols; s++) e->Price[kLiteralCount + kDistanceSymbols + s] = 3 * kScale;
    e->AverageLiteral = 8 * kScale;
}

// Prices from the tables just chosen; symbols without a code get a price
// that keeps them usable but unattractive.
void UpdatePrices(LzEncoder* e) {
    uint64_t literalBits = 0, literals = 0;
    for (int s = 0; s < kLzTableSetSize; s++) e->Price[s] = (e->Lengths[s] ? e->Lengths[s] : 14) * kScale;
    for (int s = 0; s < 256; s++) {
        literalBits += static_cast<uint64_t>(e->LiteralCounts[s]) * e->Price[s];
        literals += e->LiteralCounts[s];
    }
    e->AverageLiteral = literals ? static_cast<uint32_t>(literalBits / literals) : 8 * kScale;
}

void Insert(LzEncoder* e, uint32_t pos) {
    if (pos + 1 < e->EntryEnd) {
        const uint8_t* p = At(e, pos);
        e->Head2[p[0] << 8 | p[1]] = pos + 1;
        if (pos + 2 < e->EntryEnd) e->Head3[Hash3(p)] = pos + 1;
        if (pos + 3 < e->EntryEnd) {
            uint32_t h = Hash4(p);
            e->Chain[pos & kChainMask] = e->Head[h];
            e->Head[h] = pos + 1;
        }
    }
}

void InsertUpTo(LzEncoder* e, uint32_t end) {
    for (; e->Inserted < end; e->Inserted++) Insert(e, e->Inserted);
}

inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// Picks the cheapest symbol the decoder turns into exactly this match, given
// the current match state; returns its price or 0 when no symbol fits.
uint32_t ChooseSymbol(const LzEncoder* e, const MatchState& m, uint32_t length, uint32_t distance, Token* token) {
    const uint32_t* price = e->Price;
    const uint32_t* distancePrice = price + kLiteralCount;
    const uint32_t* repeatPrice = distancePrice + kDistanceSymbols;
    uint32_t best = 0;
    Token t = {0, 0, 0, 0, 0};
    if (length == m.PrevLength && distance == m.PrevDistance && length > 0) {
        best = price[kSymbolRepeatLast];
        t.Symbol = kSymbolRepeatLast;
    }
    for (uint32_t k = 0; k < 4; k++) {
        if (RecentAt(m, k) != distance) continue;
        uint32_t bonus = RecentLengthBonus(distance);
        if (length >= 2 + bonus && length - 2 - bonus <= 255) {
            uint32_t value = length - 2 - bonus;
            uint32_t slot = LengthSlot(value);
            uint32_t cost = price[kSymbolFirstRecent + k] + repeatPrice[slot] + LengthExtraOf(slot) * kScale;
            if (!best || cost < best) {
                best = cost;
                t.Symbol = static_cast<uint16_t>(kSymbolFirstRecent + k);
                t.Second = static_cast<uint8_t>(slot);
                t.LengthExtra = static_cast<uint8_t>(value - LengthBase[slot]);
            }
        }
        break;  // the newest slot holding the distance is the one to name
    }
    if (length == 2 && distance <= 256) {
        uint32_t slot = ShortSlot(distance);
        uint32_t cost = price[kSymbolFirstShort + slot] + ShortDistanceExtraBits[slot] * kScale;
        if (!best || cost < best) {
            best = cost;
            t.Symbol = static_cast<uint16_t>(kSymbolFirstShort + slot);
            t.Second = 0;
            t.LengthExtra = 0;
            t.Extra = distance - 1 - ShortDistanceBase[slot];
        }
    }
    uint32_t bonus = MatchLengthBonus(distance);
    if (length >= 3 + bonus && length - 3 - bonus <= 255) {
        uint32_t value = length - 3 - bonus;
        uint32_t slot = LengthSlot(value);
        uint32_t dslot = DistanceSlot(distance);
        uint32_t cost = price[kSymbolFirstMatch + slot] + LengthExtraOf(slot) * kScale + distancePrice[dslot] +
                        DistanceExtraBits[dslot] * kScale;
        if (!best || cost < best) {
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

inline uint32_t MaxLengthFor(uint32_t distance) { return 258 + MatchLengthBonus(distance); }

// The earliest position a match at pos may copy from: one window back, and
// still in the buffer.
inline uint32_t OldestReachable(const LzEncoder* e, uint32_t pos) {
    uint32_t oldest = pos > kWindowSize ? pos - kWindowSize : 0;
    return oldest < e->BufferBase ? e->BufferBase : oldest;
}

void Consider(const LzEncoder* e, uint32_t length, uint32_t distance, Choice* best) {
    uint32_t cost = ChooseSymbol(e, e->Match, length, distance, nullptr);
    if (!cost) return;
    int32_t gain = static_cast<int32_t>(length * e->AverageLiteral) - static_cast<int32_t>(cost);
    if (gain > best->Gain) *best = {length, distance, gain};
}

// Every match at pos worth weighing, by increasing length (each the nearest
// of its length); indexes pos.
void FindMatches(LzEncoder* e, uint32_t pos, uint32_t limit, uint32_t chainLimit, std::vector<Found>* out) {
    InsertUpTo(e, pos);
    out->clear();
    const uint8_t* here = At(e, pos);
    uint32_t oldest = OldestReachable(e, pos);
    if (limit >= 2) {
        uint32_t pair = e->Head2[here[0] << 8 | here[1]];
        if (pair && pos - (pair - 1) <= 256 && pair - 1 >= oldest) out->push_back({2, pos - (pair - 1)});
    }
    uint32_t bestLength = 2;
    if (limit >= 3) {
        uint32_t three = e->Head3[Hash3(here)];
        if (three && three - 1 >= oldest) {
            uint32_t d = pos - (three - 1);
            uint32_t n = MatchLength(here, here - d, limit);
            if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
            if (n >= 3) {
                out->push_back({n, d});
                bestLength = n;
            }
        }
    }
    if (limit >= 4 && bestLength < e->Params.Nice) {
        uint32_t cand = e->Head[Hash4(here)];
        uint32_t chain = chainLimit;
        uint32_t previous = pos;
        while (cand && chain--) {
            uint32_t c = cand - 1;
            if (c >= previous || c < oldest || bestLength >= limit) break;
            previous = c;
            uint32_t d = pos - c;
            const uint8_t* there = here - d;
            if (there[bestLength] == here[bestLength]) {
                uint32_t n = MatchLength(here, there, limit);
                uint32_t maxLength = MaxLengthFor(d);
                if (n > maxLength) n = maxLength;
                if (n > bestLength) {
                    out->push_back({n, d});
                    bestLength = n;
                    if (n >= e->Params.Nice) break;
                }
            }
            cand = e->Chain[c & kChainMask];
        }
    }
    Insert(e, pos);
    e->Inserted = pos + 1;
}

// The best match at pos as far as the search goes; indexes pos.
Choice Search(LzEncoder* e, uint32_t pos, uint32_t chainLimit) {
    Choice best = {0, 0, 0};
    uint32_t limit = e->EntryEnd - pos;
    if (limit > kMaxMatchLength) limit = kMaxMatchLength;
    const uint8_t* here = At(e, pos);
    uint32_t oldest = OldestReachable(e, pos);
    if (limit >= 2) {
        // Recent distances first: they are the cheapest to name.
        for (uint32_t k = 0; k < 4; k++) {
            uint32_t d = RecentAt(e->Match, k);
            if (d == 0 || d > pos - oldest) continue;
            uint32_t bonus = RecentLengthBonus(d);
            uint32_t n = MatchLength(here, here - d, limit < 257 + bonus ? limit : 257 + bonus);
            if (n >= 2 + bonus) Consider(e, n, d, &best);
            // A shorter repeat of exactly the last match is cheaper still.
            if (d == e->Match.PrevDistance && e->Match.PrevLength >= 2 && n > e->Match.PrevLength)
                Consider(e, e->Match.PrevLength, d, &best);
        }
    }
    FindMatches(e, pos, limit, chainLimit, &e->FoundScratch);
    for (const Found& f : e->FoundScratch) Consider(e, f.Length, f.Distance, &best);
    return best;
}

void FlushBlock(LzEncoder* e);

void AddToken(LzEncoder* e, const Token& token) {
    e->Tokens.push_back(token);
    e->LiteralCounts[token.Symbol]++;
    if (token.Symbol >= kSymbolFirstMatch) e->DistanceCounts[token.Second]++;
    else if (token.Symbol >= kSymbolFirstRecent && token.Symbol < kSymbolFirstShort) e->RepeatCounts[token.Second]++;
    if (e->Tokens.size() >= e->Params.BlockTokens) FlushBlock(e);
}

void EmitLiteral(LzEncoder* e, uint32_t pos) {
    Token t = {*At(e, pos), 0, 0, 0, e->ParsedEntries};
    AddToken(e, t);
}

void EmitMatch(LzEncoder* e, uint32_t length, uint32_t distance) {
    Token t;
    ChooseSymbol(e, e->Match, length, distance, &t);
    t.Entry = e->ParsedEntries;
    Record(&e->Match, length, distance);
    AddToken(e, t);
}

// Parses from Pos up to end (an entry's end, or as far as the lookahead allows).
void ParseOptimal(LzEncoder* e, uint32_t end);

void Parse(LzEncoder* e, uint32_t end) {
    const LevelParams& p = e->Params;
    if (p.Optimal) {
        ParseOptimal(e, end);
        return;
    }
    while (e->Pos < end) {
        uint32_t pos = e->Pos;
        Choice c = e->HaveNext ? e->Next : Search(e, pos, p.Chain);
        e->HaveNext = false;
        if (c.Length == 0) {
            EmitLiteral(e, pos);
            e->Pos = pos + 1;
            continue;
        }
        if (p.Lazy && c.Length < p.MaxLazy && pos + 1 < e->EntryEnd) {
            // Against a fair match already in hand, a shorter look suffices.
            Choice n = Search(e, pos + 1, c.Length >= p.Good ? p.Chain >> 2 : p.Chain);
            if (n.Gain > c.Gain) {
                EmitLiteral(e, pos);
                e->Pos = pos + 1;
                e->Next = n;
                e->HaveNext = true;
                continue;
            }
        }
        EmitMatch(e, c.Length, c.Distance);
        uint32_t after = pos + c.Length;
        if (p.InsertAll || c.Length <= 8) {
            InsertUpTo(e, after);
        } else {
            InsertUpTo(e, pos + 4);
            if (e->Inserted < after) e->Inserted = after;
        }
        e->Pos = after;
    }
}

inline void TryEdge(const LzEncoder* e, Arrival* arrivals, uint32_t i, uint32_t length, uint32_t distance) {
    const Arrival& a = arrivals[i];
    uint32_t cost = ChooseSymbol(e, a.State, length, distance, nullptr);
    if (!cost) return;
    cost += a.Cost;
    Arrival& b = arrivals[i + length];
    if (cost < b.Cost) {
        b.Cost = cost;
        b.From = i;
        b.Length = length;
        b.Distance = distance;
        b.State = a.State;
        Record(&b.State, length, distance);
    }
}

// Optimal parse: per segment, the cheapest path under the current prices,
// with the match state carried along each path.
void ParseOptimal(LzEncoder* e, uint32_t end) {
    std::vector<Arrival>& arrivals = e->Arrivals;
    std::vector<Found>& found = e->FoundScratch;
    while (e->Pos < end) {
        uint32_t start = e->Pos;
        uint32_t n = end - start < uint32_t(kSegment) ? end - start : uint32_t(kSegment);
        arrivals.resize(kSegment + 1);
        for (uint32_t i = 1; i <= n; i++) arrivals[i].Cost = ~0u;
        arrivals[0].Cost = 0;
        arrivals[0].State = e->Match;
        for (uint32_t i = 0; i < n; i++) {
            uint32_t pos = start + i;
            const uint8_t* here = At(e, pos);
            const Arrival& a = arrivals[i];
            uint32_t literal = a.Cost + e->Price[*here];
            if (literal < arrivals[i + 1].Cost) {
                Arrival& b = arrivals[i + 1];
                b.Cost = literal;
                b.From = i;
                b.Length = 1;
                b.Distance = 0;
                b.State = a.State;
            }
            uint32_t limit = n - i < uint32_t(kMaxMatchLength) ? n - i : uint32_t(kMaxMatchLength);
            FindMatches(e, pos, limit, e->Params.Chain, &found);
            uint32_t longest = 0;
            if (limit >= 2) {
                uint32_t oldest = OldestReachable(e, pos);
                for (uint32_t k = 0; k < 4; k++) {
                    uint32_t d = RecentAt(a.State, k);
                    if (d == 0 || d > pos - oldest) continue;
                    uint32_t bonus = RecentLengthBonus(d);
                    uint32_t cap = 257 + bonus < limit ? 257 + bonus : limit;
                    uint32_t m = MatchLength(here, here - d, cap);
                    for (uint32_t l = 2; l <= m; l++) TryEdge(e, arrivals.data(), i, l, d);
                    if (m > longest) longest = m;
                }
            }
            uint32_t shorter = 1;
            for (const Found& f : found) {
                for (uint32_t l = shorter + 1; l <= f.Length; l++) TryEdge(e, arrivals.data(), i, l, f.Distance);
                shorter = f.Length;
                if (f.Length > longest) longest = f.Length;
            }
            if (longest >= e->Params.Nice && arrivals[i + longest].Cost != ~0u) {
                // A long match: take it and end the segment behind it.
                n = i + longest;
                break;
            }
        }
        // Walk back from the end, then emit the path forwards.
        std::vector<uint32_t>& path = e->PathScratch;
        path.clear();
        for (uint32_t i = n; i > 0; i = arrivals[i].From) path.push_back(i);
        for (size_t k = path.size(); k-- > 0;) {
            const Arrival& step = arrivals[path[k]];
            if (step.Length == 1) EmitLiteral(e, start + step.From);
            else EmitMatch(e, step.Length, step.Distance);
        }
        e->Pos = start + n;
    }
}

// Hands out, in order, every parsed entry whose steps are all written.
void HandOutReady(LzEncoder* e) {
    // Entries before the one the pending block starts in are final: the
    // block's table set goes into that entry's stream.
    uint32_t ready = e->Tokens.empty() ? e->ParsedEntries : e->Tokens[0].Entry;
    while (e->FirstPending < ready) {
        PendingEntry& entry = e->Entries.front();
        AlignToByte(&entry.Sink);
        if (e->Setup.EntryPacked)
            e->Setup.EntryPacked(e->Setup.User, e->FirstPending, entry.Sink.Bytes.data(), entry.Sink.Bytes.size());
        e->Entries.pop_front();
        e->FirstPending++;
    }
}

void WriteTables(LzEncoder* e, BitSink* sink, const uint8_t* lengths, bool viaSwitch) {
    if (viaSwitch) PutBits(sink, e->Codes[kSymbolSwitchTables], e->Lengths[kSymbolSwitchTables]);
    TableSetPlan plan;
    PlanTableSet(lengths, e->PrevLengths, &plan);
    WriteTableSet(sink, plan);
    memcpy(e->Lengths, lengths, kLzTableSetSize);
    memcpy(e->PrevLengths, lengths, kLzTableSetSize);
    AssignCanonicalCodes(e->Lengths, kLiteralCount, e->Codes);
    AssignCanonicalCodes(e->Lengths + kLiteralCount, kDistanceSymbols, e->Codes + kLiteralCount);
    AssignCanonicalCodes(e->Lengths + kLiteralCount + kDistanceSymbols, kRepeatSymbols,
                         e->Codes + kLiteralCount + kDistanceSymbols);
    e->HaveTables = true;
}

// Bits of the block's symbols under the given lengths; ~0 when a symbol the
// block needs has no code there.
uint64_t BlockBits(const LzEncoder* e, const uint8_t* lengths) {
    uint64_t bits = 0;
    const uint32_t* sets[3] = {e->LiteralCounts, e->DistanceCounts, e->RepeatCounts};
    const uint32_t sizes[3] = {kLiteralCount, kDistanceSymbols, kRepeatSymbols};
    const uint8_t* l = lengths;
    for (int t = 0; t < 3; t++) {
        for (uint32_t s = 0; s < sizes[t]; s++) {
            if (sets[t][s] && !l[s]) return ~0ull;
            bits += static_cast<uint64_t>(sets[t][s]) * l[s];
        }
        l += sizes[t];
    }
    return bits;
}

// Decides the block's tables (new ones, or those in force when they code it
// more cheaply) and writes its steps into their entries' streams.
void FlushBlock(LzEncoder* e) {
    if (e->Tokens.empty()) return;
    uint8_t fresh[kLzTableSetSize];
    uint32_t counts[kLiteralCount];
    memcpy(counts, e->LiteralCounts, sizeof counts);
    counts[kSymbolSwitchTables]++;  // keep a code for the next switch
    BuildCodeLengths(counts, kLiteralCount, kMaxCodeBits, fresh);
    BuildCodeLengths(e->DistanceCounts, kDistanceSymbols, kMaxCodeBits, fresh + kLiteralCount);
    BuildCodeLengths(e->RepeatCounts, kRepeatSymbols, kMaxCodeBits, fresh + kLiteralCount + kDistanceSymbols);

    BitSink* first = &e->Entries[e->Tokens[0].Entry - e->FirstPending].Sink;
    bool streamStart = e->Tokens[0].Entry == 0 && BitsWritten(first) == 0;
    bool useFresh = true;
    if (e->HaveTables && !streamStart) {
        uint64_t oldBits = BlockBits(e, e->Lengths);
        TableSetPlan plan;
        PlanTableSet(fresh, e->PrevLengths, &plan);
        uint64_t freshBits = BlockBits(e, fresh) + plan.Bits + e->Lengths[kSymbolSwitchTables];
        useFresh = freshBits < oldBits;
    }
    if (useFresh) WriteTables(e, first, fresh, !streamStart);

    const uint8_t* lengths = e->Lengths;
    const uint16_t* codes = e->Codes;
    const uint8_t* distanceLengths = lengths + kLiteralCount;
    const uint16_t* distanceCodes = codes + kLiteralCount;
    const uint8_t* repeatLengths = distanceLengths + kDistanceSymbols;
    const uint16_t* repeatCodes = distanceCodes + kDistanceSymbols;
    for (const Token& t : e->Tokens) {
        BitSink* sink = &e->Entries[t.Entry - e->FirstPending].Sink;
        PutBits(sink, codes[t.Symbol], lengths[t.Symbol]);
        if (t.Symbol >= kSymbolFirstMatch) {
            uint32_t slot = t.Symbol - kSymbolFirstMatch;
            PutBits(sink, t.LengthExtra, LengthExtraOf(slot));
            PutBits(sink, distanceCodes[t.Second], distanceLengths[t.Second]);
            PutBits(sink, t.Extra, DistanceExtraBits[t.Second]);
        } else if (t.Symbol >= kSymbolFirstShort) {
            PutBits(sink, t.Extra, ShortDistanceExtraBits[t.Symbol - kSymbolFirstShort]);
        } else if (t.Symbol >= kSymbolFirstRecent) {
            PutBits(sink, repeatCodes[t.Second], repeatLengths[t.Second]);
            PutBits(sink, t.LengthExtra, LengthExtraOf(t.Second));
        }
    }
    if (useFresh) UpdatePrices(e);
    e->Tokens.clear();
    memset(e->LiteralCounts, 0, sizeof e->LiteralCounts);
    memset(e->DistanceCounts, 0, sizeof e->DistanceCounts);
    memset(e->RepeatCounts, 0, sizeof e->RepeatCounts);
    HandOutReady(e);
}

// Makes room for more input, keeping the window behind the parse position.
void SlideBuffer(LzEncoder* e) {
    uint32_t keepFrom = e->Pos > kWindowSize + 8 ? e->Pos - kWindowSize - 8 : 0;
    if (keepFrom <= e->BufferBase) return;
    uint32_t drop = keepFrom - e->BufferBase;
    memmove(e->Buffer, e->Buffer + drop, e->BufferLength - drop);
    e->BufferLength -= drop;
    e->BufferBase = keepFrom;
}

}  // namespace

LzEncoder* CreateLzEncoder(const LzEncoderSetup& setup) {
    if (setup.Level < kMinLevel || setup.Level > kMaxLevel) return nullptr;
    LzEncoder* e = new LzEncoder();
    e->Setup = setup;
    e->Params = kLevels[setup.Level];
    e->Buffer = static_cast<uint8_t*>(malloc(kBufferBytes + 16));
    e->Head = static_cast<uint32_t*>(calloc(kHashSize, sizeof(uint32_t)));
    e->Chain = static_cast<uint32_t*>(calloc(kWindowSize, sizeof(uint32_t)));
    e->Head2 = static_cast<uint32_t*>(calloc(1 << 16, sizeof(uint32_t)));
    e->Head3 = static_cast<uint32_t*>(calloc(kHashSize, sizeof(uint32_t)));
    if (!e->Buffer || !e->Head || !e->Chain || !e->Head2 || !e->Head3) {
        DestroyLzEncoder(e);
        return nullptr;
    }
    memset(e->LiteralCounts, 0, sizeof e->LiteralCounts);
    memset(e->DistanceCounts, 0, sizeof e->DistanceCounts);
    memset(e->RepeatCounts, 0, sizeof e->RepeatCounts);
    memset(e->Lengths, 0, sizeof e->Lengths);
    memset(e->PrevLengths, 0, sizeof e->PrevLengths);
    memset(e->Codes, 0, sizeof e->Codes);
    memset(&e->Match, 0, sizeof e->Match);
    SetDefaultPrices(e);
    e->Tokens.reserve(e->Params.BlockTokens);
    return e;
}

void DestroyLzEncoder(LzEncoder* encoder) {
    if (!encoder) return;
    free(encoder->Buffer);
    free(encoder->Head);
    free(encoder->Chain);
    free(encoder->Head2);
    free(encoder->Head3);
    delete encoder;
}

void EncodeEntry(LzEncoder* e, const uint8_t* data, uint32_t size) {
    e->Entries.emplace_back();
    if (e->ParsedEntries == 0 && size == 0) {
        // The first entry is read non-solid and always starts with a table
        // set; an empty one carries a set that only names the switch symbol,
        // so the next entry can bring its own.
        uint8_t lengths[kLzTableSetSize] = {0};
        lengths[kSymbolSwitchTables] = 1;
        WriteTables(e, &e->Entries.back().Sink, lengths, false);
    }
    e->EntryEnd = e->Total + size;
    uint32_t done = 0;
    while (done < size) {
        if (e->BufferLength == kBufferBytes) SlideBuffer(e);
        uint32_t room = kBufferBytes - e->BufferLength;
        uint32_t take = size - done < room ? size - done : room;
        memcpy(e->Buffer + e->BufferLength, data + done, take);
        e->BufferLength += take;
        e->Total += take;
        done += take;
        uint32_t end = e->Total == e->EntryEnd ? e->EntryEnd : e->Total > kLookahead ? e->Total - kLookahead : 0;
        Parse(e, end);
        e->Consumed += take;
        if (e->Setup.Progress) e->Setup.Progress(e->Setup.User, e->Consumed);
    }
    e->ParsedEntries++;
    HandOutReady(e);
}

void FinishEncoding(LzEncoder* e) {
    FlushBlock(e);
    HandOutReady(e);
}

std::vector<std::vector<uint8_t>> PackBuffers(const std::vector<std::vector<uint8_t>>& entries, int level) {
    std::vector<std::vector<uint8_t>> packed;
    LzEncoderSetup setup;
    setup.Level = level;
    setup.User = &packed;
    setup.EntryPacked = [](void* user, uint32_t, const uint8_t* data, size_t size) {
        static_cast<std::vector<std::vector<uint8_t>>*>(user)->emplace_back(data, data + size);
    };
    LzEncoder* encoder = CreateLzEncoder(setup);
    if (!encoder) return packed;
    for (const std::vector<uint8_t>& entry : entries)
        EncodeEntry(encoder, entry.data(), static_cast<uint32_t>(entry.size()));
    FinishEncoding(encoder);
    DestroyLzEncoder(encoder);
    return packed;
}
