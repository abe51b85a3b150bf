#include "pack/lzencoder.h"

#include <stdlib.h>
#include <string.h>

#include <deque>
#include <utility>

#include "pack/bitsink.h"
#include "pack/huffman.h"
#include "pack/lzformat.h"
#include "pack/matchfinder.h"
#include "pack/tableset.h"

namespace {

enum {
    kHashBits = 17,
    kHashSize = 1 << kHashBits,
    kChainMask = kWindowSize - 1,
    kBufferBytes = 2 * kWindowSize,  // sliding input: the window behind, fresh data ahead
    kCachedPerPosition = 8,          // room for matches per position of a segment (2-4 are usual)
    kLookahead = 300,                 // bytes a parse step may look at ahead of its position
    kLiteralCount = kLiteralSymbols,
    kMaxBlockTokens = 1 << 16,  // steps of one block at most (they wait in memory until it is written)
    kHandOutBytes = 1 << 20     // packed bytes of an unfinished entry kept at most before they are handed out
};
constexpr uint32_t kUnreached = 0xFFFFFFFFu;

struct LevelParams {
    // Greedy and lazy levels, on hash chains.
    uint32_t Chain;    // chain links followed per search
    uint32_t Nice;     // a match this long ends the search and the lazy check
    bool Lazy;         // look one position ahead before taking a match ...
    uint32_t MaxLazy;  // ... shorter than this
    uint32_t Good;     // with a match this long in hand, look ahead with a quarter of the chain
    bool InsertAll;    // index every position inside matches too
    // Optimal levels, on the tree.
    bool Optimal;
    uint32_t Depth;         // tree nodes per search
    uint32_t TreeNice;      // a match this long is taken at once
    uint32_t Passes;        // parses of each segment, each priced by the codes the one before gives
    uint32_t SegmentBytes;  // positions one parse weighs at once
    // Both.
    uint32_t ChunkTokens;  // steps between decisions to end the block
};

const LevelParams kLevels[kMaxLevel + 1] = {
    {0, 0, false, 0, 0, false, false, 0, 0, 0, 0, 0},
    {6, 24, false, 0, 0, false, false, 0, 0, 0, 0, 1u << 13},
    {24, 48, false, 0, 0, true, false, 0, 0, 0, 0, 1u << 12},
    {32, 64, true, 32, 4, true, false, 0, 0, 0, 0, 1u << 11},
    {0, 0, false, 0, 0, false, true, 24, 128, 1, 1u << 15, 1u << 10},
    {0, 0, false, 0, 0, false, true, 64, 260, 2, 1u << 15, 1u << 10},
};

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

struct TokenRun {
    std::vector<Token> Tokens;
    Stats Counts;
};

// What symbols cost, in bits, under a set of code lengths; extra bits
// included where they belong to the symbol.
struct Prices {
    uint32_t Symbol[kLiteralCount];
    uint32_t Slot[kDistanceSymbols];  // distance slot and its extra bits
    uint32_t MatchLength[256];        // length value of 270..297: symbol and extra bits
    uint32_t RecentLength[256];       // length value of 257..260: repeat-table symbol and extra bits
};

struct Choice {
    uint32_t Length;  // 0: none
    uint32_t Distance;
    int32_t Gain;  // price of the bytes as literals minus the price of the match
};

struct PendingEntry {
    BitSink Sink;
};

// The decoder's match state: recent distances, newest first, and the
// length of the last match (whose distance is the newest).
struct MatchState {
    uint32_t Recent[kRecentDistances];
    uint32_t PrevLength;
};

inline void Record(MatchState* m, uint32_t length, uint32_t distance) {
    m->Recent[3] = m->Recent[2];
    m->Recent[2] = m->Recent[1];
    m->Recent[1] = m->Recent[0];
    m->Recent[0] = distance;
    m->PrevLength = length;
}

// One position of the optimal parse: the cheapest way found to get here.
struct Arrival {
    uint32_t Cost;  // bits from the segment's start; kUnreached
    uint32_t Distance;
    uint16_t Length;  // of the step that ends here; 1: literal
    uint16_t PrevLength;
    uint32_t Recent[kRecentDistances];
    // Non-zero: the step is a match of this length, a literal and the same
    // distance again for the rest of Length.
    uint32_t First;
};

struct Step {
    uint32_t Length;
    uint32_t Distance;
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

    // Entries: ends of the finished ones the parse has not passed yet.
    std::deque<uint32_t> Ends;
    uint32_t ParseEntry;   // the entry position Pos belongs to
    uint32_t Started;      // entries started so far
    bool EntryOpen;

    // Hash chains (greedy and lazy levels).
    uint32_t* Head;   // position + 1 of the newest 4-byte string per hash; 0 none
    uint32_t* Chain;  // position + 1 of the previous one with the same hash
    uint32_t* Head3;  // position + 1 of the newest 3-byte string per hash
    uint32_t* Head2;  // position + 1 of the newest occurrence of each byte pair
    bool HaveNext;
    Choice Next;
    std::vector<Found> FoundScratch;

    // The tree and the optimal parse's scratch.
    TreeFinder Tree;
    std::vector<uint32_t> CacheStart;  // per position of the segment, its first match in Cached
    std::vector<Found> Cached;
    std::vector<Arrival> Arrivals;
    std::vector<Step> Path;

    // The decoder's match state after the steps parsed so far.
    MatchState Match;

    // Steps not yet written: the block being collected and, behind it, the
    // chunk that will either join it or start the next block.
    TokenRun Pending;
    TokenRun Chunk;

    // Tables in force at the decoder and the lengths its deltas start from.
    bool HaveTables;
    uint8_t Lengths[kLzTableSetSize];
    uint8_t PrevLengths[kLzTableSetSize];
    uint16_t Codes[kLzTableSetSize];

    // Prices the parse works with.
    Prices Price;
    uint32_t AverageLiteral;

    std::deque<PendingEntry> Entries;  // entries not yet handed out, from FirstPending
    uint32_t FirstPending;
    uint64_t Consumed;
};

namespace {

inline const uint8_t* At(const LzEncoder* e, uint32_t pos) { return e->Buffer + (pos - e->BufferBase); }

// --- Statistics, code lengths and prices -------------------------------

void ClearStats(Stats* s) { memset(s, 0, sizeof *s); }

void AddStats(Stats* into, const Stats& from) {
    for (int i = 0; i < kLiteralCount; i++) into->Literal[i] += from.Literal[i];
    for (int i = 0; i < kDistanceSymbols; i++) into->Distance[i] += from.Distance[i];
    for (int i = 0; i < kRepeatSymbols; i++) into->Repeat[i] += from.Repeat[i];
}

inline void CountToken(Stats* s, const Token& t) {
    s->Literal[t.Symbol]++;
    if (t.Symbol >= kSymbolFirstMatch) s->Distance[t.Second]++;
    else if (t.Symbol >= kSymbolFirstRecent && t.Symbol < kSymbolFirstShort) s->Repeat[t.Second]++;
}

// Code lengths for a block with these counts; the switch symbol always
// keeps a code, so that the block after can bring its own tables.
void LengthsFor(const Stats& s, uint8_t* lengths) {
    uint32_t counts[kLiteralCount];
    memcpy(counts, s.Literal, sizeof counts);
    counts[kSymbolSwitchTables]++;
    BuildCodeLengths(counts, kLiteralCount, kMaxCodeBits, lengths);
    BuildCodeLengths(s.Distance, kDistanceSymbols, kMaxCodeBits, lengths + kLiteralCount);
    BuildCodeLengths(s.Repeat, kRepeatSymbols, kMaxCodeBits, lengths + kLiteralCount + kDistanceSymbols);
}

// Bits of the counted symbols under the given lengths, extra bits left out;
// ~0 when a symbol they need has no code there.
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

// Prices from code lengths. A symbol without a code is priced a little
// above the longest code of its table: usable, but only where it pays well.
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

// Before any statistics: literals about 8 bits, matches a little more.
void SetDefaultPrices(Prices* p) {
    uint8_t lengths[kLzTableSetSize];
    for (int s = 0; s < kLzTableSetSize; s++) lengths[s] = 6;
    for (int s = 0; s < 256; s++) lengths[s] = 8;
    for (int s = kSymbolFirstMatch; s < kLiteralCount; s++) lengths[s] = 8;
    for (int s = 0; s < kDistanceSymbols; s++) lengths[kLiteralCount + s] = 5;
    for (int s = 0; s < kRepeatSymbols; s++) lengths[kLiteralCount + kDistanceSymbols + s] = 3;
    SetPrices(p, lengths);
}

void SetAverageLiteral(LzEncoder* e, const Stats& s) {
    uint64_t bits = 0, literals = 0;
    for (int i = 0; i < 256; i++) {
        bits += static_cast<uint64_t>(s.Literal[i]) * e->Price.Symbol[i];
        literals += s.Literal[i];
    }
    e->AverageLiteral = literals ? static_cast<uint32_t>(bits / literals) : 8;
}

inline uint32_t ShortPrice(const Prices& p, uint32_t distance) {
    uint32_t slot = ShortSlot(distance);
    return p.Symbol[kSymbolFirstShort + slot] + ShortDistanceExtraBits[slot];
}

// Picks the cheapest symbol the decoder turns into exactly this match, given
// its match state; returns the price or 0 when no symbol fits.
uint32_t ChooseSymbol(const Prices& p, const MatchState& m, uint32_t length, uint32_t distance, Token* token) {
    uint32_t best = 0;
    Token t = {0, 0, 0, 0, 0};
    if (length == m.PrevLength && distance == m.Recent[0] && length > 0) {
        best = p.Symbol[kSymbolRepeatLast];
        t.Symbol = kSymbolRepeatLast;
    }
    for (uint32_t k = 0; k < kRecentDistances; k++) {
        if (m.Recent[k] != distance) continue;
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

// --- Entries -----------------------------------------------------------

// Moves the parse's entry on to the one that holds pos; returns where that
// entry ends (for an entry still open: as far as its data goes).
uint32_t EntryEndAt(LzEncoder* e, uint32_t pos) {
    while (!e->Ends.empty() && e->Ends.front() <= pos) {
        e->Ends.pop_front();
        e->ParseEntry++;
    }
    return e->Ends.empty() ? e->Total : e->Ends.front();
}

// The earliest position a match at pos may copy from: less than one window
// back, and still in the buffer.
inline uint32_t OldestReachable(const LzEncoder* e, uint32_t pos) {
    uint32_t oldest = pos >= kWindowSize ? pos - kWindowSize + 1 : 0;
    return oldest < e->BufferBase ? e->BufferBase : oldest;
}

// --- Blocks ------------------------------------------------------------

// Hands out, in order, every entry whose steps are all written.
void HandOutReady(LzEncoder* e) {
    // Entries before the one the first unwritten step belongs to are final:
    // the table set of that step's block goes into its entry's stream.
    uint32_t ready = !e->Pending.Tokens.empty() ? e->Pending.Tokens[0].Entry
                     : !e->Chunk.Tokens.empty() ? e->Chunk.Tokens[0].Entry
                                                : e->ParseEntry;
    while (e->FirstPending < ready) {
        PendingEntry& entry = e->Entries.front();
        AlignToByte(&entry.Sink);
        if (e->Setup.EntryPacked)
            e->Setup.EntryPacked(e->Setup.User, e->FirstPending, entry.Sink.Bytes.data(), entry.Sink.Bytes.size());
        e->Entries.pop_front();
        e->FirstPending++;
    }
    // A large entry that is still being coded hands out what it has, so its
    // packed bytes need not wait in memory.
    if (!e->Entries.empty() && e->Setup.EntryBytes && e->Entries.front().Sink.Bytes.size() >= kHandOutBytes) {
        std::vector<uint8_t>& bytes = e->Entries.front().Sink.Bytes;
        e->Setup.EntryBytes(e->Setup.User, e->FirstPending, bytes.data(), bytes.size());
        bytes.clear();
    }
}

void WriteTables(LzEncoder* e, BitSink* sink, const uint8_t* lengths, bool viaSwitch) {
    if (viaSwitch) PutBits(sink, e->Codes[kSymbolSwitchTables], e->Lengths[kSymbolSwitchTables]);
    TableSetPlan plan;
    PlanTableSet(lengths, e->PrevLengths, &plan);
    WriteTableSet(sink, plan);
    if (PackCensus* census = e->Setup.Census) {
        census->TableSets++;
        census->TableSetBits += plan.Bits + (viaSwitch ? e->Lengths[kSymbolSwitchTables] : 0);
        if (viaSwitch) census->Symbols[kSymbolSwitchTables]++;
    }
    memcpy(e->Lengths, lengths, kLzTableSetSize);
    memcpy(e->PrevLengths, lengths, kLzTableSetSize);
    AssignCanonicalCodes(e->Lengths, kLiteralCount, e->Codes);
    AssignCanonicalCodes(e->Lengths + kLiteralCount, kDistanceSymbols, e->Codes + kLiteralCount);
    AssignCanonicalCodes(e->Lengths + kLiteralCount + kDistanceSymbols, kRepeatSymbols,
                         e->Codes + kLiteralCount + kDistanceSymbols);
    e->HaveTables = true;
}

uint32_t TableSetBits(const uint8_t* lengths, const uint8_t* previous) {
    TableSetPlan plan;
    PlanTableSet(lengths, previous, &plan);
    return plan.Bits;
}

// Writes the pending block: with new tables, or with those in force when
// they code it more cheaply.
void FlushBlock(LzEncoder* e) {
    TokenRun& block = e->Pending;
    if (block.Tokens.empty()) return;
    uint8_t fresh[kLzTableSetSize];
    LengthsFor(block.Counts, fresh);

    BitSink* first = &e->Entries[block.Tokens[0].Entry - e->FirstPending].Sink;
    bool streamStart = !e->HaveTables;  // the first set of the first entry comes without a switch symbol
    bool useFresh = true;
    if (!streamStart) {
        uint64_t oldBits = StatsBits(block.Counts, e->Lengths);
        uint64_t freshBits = StatsBits(block.Counts, fresh) + TableSetBits(fresh, e->PrevLengths) +
                             e->Lengths[kSymbolSwitchTables];
        useFresh = freshBits < oldBits;
    }
    if (useFresh) WriteTables(e, first, fresh, !streamStart);

    const uint8_t* lengths = e->Lengths;
    const uint16_t* codes = e->Codes;
    const uint8_t* distanceLengths = lengths + kLiteralCount;
    const uint16_t* distanceCodes = codes + kLiteralCount;
    const uint8_t* repeatLengths = distanceLengths + kDistanceSymbols;
    const uint16_t* repeatCodes = distanceCodes + kDistanceSymbols;
    uint32_t entry = ~0u;
    BitSink* sink = nullptr;
    PackCensus* census = e->Setup.Census;
    for (const Token& t : block.Tokens) {
        if (t.Entry != entry) {
            entry = t.Entry;
            sink = &e->Entries[entry - e->FirstPending].Sink;
        }
        uint64_t bitsBefore = census ? BitsWritten(sink) : 0;
        PutBits(sink, codes[t.Symbol], lengths[t.Symbol]);
        if (t.Symbol >= kSymbolFirstMatch) {
            uint32_t slot = t.Symbol - kSymbolFirstMatch;
            PutBits(sink, t.LengthExtra, LengthExtraBits[slot]);
            PutBits(sink, distanceCodes[t.Second], distanceLengths[t.Second]);
            PutBits(sink, t.Extra, DistanceExtraBits[t.Second]);
        } else if (t.Symbol >= kSymbolFirstShort) {
            PutBits(sink, t.Extra, ShortDistanceExtraBits[t.Symbol - kSymbolFirstShort]);
        } else if (t.Symbol >= kSymbolFirstRecent) {
            PutBits(sink, repeatCodes[t.Second], repeatLengths[t.Second]);
            PutBits(sink, t.LengthExtra, LengthExtraBits[t.Second]);
        }
        if (census) {
            int kind = t.Symbol < kSymbolRepeatLast   ? kCensusLiteral
                       : t.Symbol < kSymbolFirstRecent ? kCensusRepeatLast
                       : t.Symbol < kSymbolFirstShort  ? kCensusRecent
                       : t.Symbol < kSymbolFirstMatch  ? kCensusShort
                                                       : kCensusMatch;
            census->Steps[kind]++;
            if (kind == kCensusMatch) {
                uint32_t distance = DistanceBase[t.Second] + 1 + t.Extra;
                if (distance > census->FarthestDistance) census->FarthestDistance = distance;
            }
            census->StepBits[kind] += BitsWritten(sink) - bitsBefore;
        }
    }
    if (census)
        for (int i = 0; i < kLiteralCount; i++) census->Symbols[i] += block.Counts.Literal[i];
    block.Tokens.clear();
    ClearStats(&block.Counts);
}

// Ends the chunk: it joins the pending block when one table set for both
// costs less than a set for each, else the block is written and the chunk
// starts the next one. Prices follow the block the next steps will join.
void CloseChunk(LzEncoder* e) {
    TokenRun& block = e->Pending;
    TokenRun& chunk = e->Chunk;
    if (chunk.Tokens.empty()) return;
    bool join = !block.Tokens.empty() && block.Tokens.size() + chunk.Tokens.size() <= kMaxBlockTokens;
    if (join) {
        Stats merged = block.Counts;
        AddStats(&merged, chunk.Counts);
        uint8_t both[kLzTableSetSize], alone[kLzTableSetSize], next[kLzTableSetSize];
        LengthsFor(merged, both);
        LengthsFor(block.Counts, alone);
        LengthsFor(chunk.Counts, next);
        uint64_t joined = StatsBits(merged, both) + EstimateTableSetBits(both, e->PrevLengths);
        uint64_t split = StatsBits(block.Counts, alone) + EstimateTableSetBits(alone, e->PrevLengths) +
                         StatsBits(chunk.Counts, next) + EstimateTableSetBits(next, alone) + alone[kSymbolSwitchTables];
        join = joined <= split;
    }
    if (!join) {
        FlushBlock(e);
        block.Tokens.swap(chunk.Tokens);
        block.Counts = chunk.Counts;
    } else {
        block.Tokens.insert(block.Tokens.end(), chunk.Tokens.begin(), chunk.Tokens.end());
        AddStats(&block.Counts, chunk.Counts);
    }
    chunk.Tokens.clear();
    ClearStats(&chunk.Counts);
    uint8_t lengths[kLzTableSetSize];
    LengthsFor(block.Counts, lengths);
    SetPrices(&e->Price, lengths);
    SetAverageLiteral(e, block.Counts);
    HandOutReady(e);
}

void AddToken(LzEncoder* e, const Token& token) {
    e->Chunk.Tokens.push_back(token);
    CountToken(&e->Chunk.Counts, token);
}

void EmitLiteral(LzEncoder* e, uint32_t pos) {
    Token t = {*At(e, pos), 0, 0, 0, e->ParseEntry};
    AddToken(e, t);
}

void EmitMatch(LzEncoder* e, uint32_t length, uint32_t distance) {
    Token t;
    ChooseSymbol(e->Price, e->Match, length, distance, &t);
    t.Entry = e->ParseEntry;
    Record(&e->Match, length, distance);
    AddToken(e, t);
}

// --- Hash chains: greedy and lazy parsing --------------------------------

void Insert(LzEncoder* e, uint32_t pos) {
    if (pos + 1 < e->Total) {
        const uint8_t* p = At(e, pos);
        e->Head2[p[0] << 8 | p[1]] = pos + 1;
        if (pos + 2 < e->Total) e->Head3[HashThree(p, kHashBits)] = pos + 1;
        if (pos + 3 < e->Total) {
            uint32_t h = HashFour(p, kHashBits);
            e->Chain[pos & kChainMask] = e->Head[h];
            e->Head[h] = pos + 1;
        }
    }
}

void InsertUpTo(LzEncoder* e, uint32_t end) {
    for (; e->Inserted < end; e->Inserted++) Insert(e, e->Inserted);
}

void Consider(const LzEncoder* e, uint32_t length, uint32_t distance, Choice* best) {
    uint32_t cost = ChooseSymbol(e->Price, e->Match, length, distance, nullptr);
    if (!cost) return;
    int32_t gain = static_cast<int32_t>(length * e->AverageLiteral) - static_cast<int32_t>(cost);
    if (gain > best->Gain) *best = {length, distance, gain};
}

// Every match at pos worth weighing, by increasing length (each the nearest
// of its length); indexes pos.
void ChainMatches(LzEncoder* e, uint32_t pos, uint32_t limit, uint32_t chainLimit, std::vector<Found>* out) {
    InsertUpTo(e, pos);
    out->clear();
    const uint8_t* here = At(e, pos);
    uint32_t oldest = OldestReachable(e, pos);
    if (limit >= 2) {
        uint32_t pair = e->Head2[here[0] << 8 | here[1]];
        if (pair && pos - (pair - 1) <= kShortMaxDistance && pair - 1 >= oldest) out->push_back({2, pos - (pair - 1)});
    }
    uint32_t bestLength = 2;
    if (limit >= 3) {
        uint32_t three = e->Head3[HashThree(here, kHashBits)];
        if (three && three - 1 >= oldest) {
            uint32_t d = pos - (three - 1);
            uint32_t n = CommonLength(here, here - d, limit);
            if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
            if (n >= 3) {
                out->push_back({n, d});
                bestLength = n;
            }
        }
    }
    if (limit >= 4 && bestLength < e->Params.Nice) {
        uint32_t cand = e->Head[HashFour(here, kHashBits)];
        uint32_t chain = chainLimit;
        uint32_t previous = pos;
        while (cand && chain--) {
            uint32_t c = cand - 1;
            if (c >= previous || c < oldest || bestLength >= limit) break;
            previous = c;
            uint32_t d = pos - c;
            const uint8_t* there = here - d;
            if (there[bestLength] == here[bestLength]) {
                uint32_t n = CommonLength(here, there, limit);
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
Choice Search(LzEncoder* e, uint32_t pos, uint32_t entryEnd, uint32_t chainLimit) {
    Choice best = {0, 0, 0};
    uint32_t limit = entryEnd - pos;
    if (limit > kMaxMatchLength) limit = kMaxMatchLength;
    const uint8_t* here = At(e, pos);
    uint32_t oldest = OldestReachable(e, pos);
    if (limit >= 2) {
        // Recent distances first: they are the cheapest to name.
        for (uint32_t k = 0; k < kRecentDistances; k++) {
            uint32_t d = e->Match.Recent[k];
            if (d == 0 || d > pos - oldest) continue;
            uint32_t longest = MaxRecentLengthFor(d);
            uint32_t n = CommonLength(here, here - d, limit < longest ? limit : longest);
            if (n >= kRecentMinLength + RecentLengthBonus(d)) Consider(e, n, d, &best);
            // A shorter repeat of exactly the last match is cheaper still.
            if (k == 0 && e->Match.PrevLength >= 2 && n > e->Match.PrevLength)
                Consider(e, e->Match.PrevLength, d, &best);
        }
    }
    ChainMatches(e, pos, limit, chainLimit, &e->FoundScratch);
    for (const Found& f : e->FoundScratch) Consider(e, f.Length, f.Distance, &best);
    return best;
}

void ParseGreedy(LzEncoder* e, uint32_t end) {
    const LevelParams& p = e->Params;
    while (e->Pos < end) {
        uint32_t pos = e->Pos;
        uint32_t entryEnd = EntryEndAt(e, pos);
        Choice c = e->HaveNext ? e->Next : Search(e, pos, entryEnd, p.Chain);
        e->HaveNext = false;
        if (c.Length == 0) {
            EmitLiteral(e, pos);
            e->Pos = pos + 1;
        } else {
            if (p.Lazy && c.Length < p.MaxLazy && pos + 1 < entryEnd) {
                // Against a fair match already in hand, a shorter look suffices.
                Choice n = Search(e, pos + 1, entryEnd, c.Length >= p.Good ? p.Chain >> 2 : p.Chain);
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
        // A lookahead in hand was priced with the prices of now: keep the chunk.
        if (!e->HaveNext && e->Chunk.Tokens.size() >= p.ChunkTokens) CloseChunk(e);
    }
}

// --- The tree: optimal parsing --------------------------------------------

FinderSpot SpotAt(const LzEncoder* e, uint32_t pos, uint32_t end) {
    FinderSpot s;
    s.Here = At(e, pos);
    s.Pos = pos;
    s.Avail = e->Total - pos;
    s.Reach = pos - OldestReachable(e, pos);
    s.Limit = end - pos < uint32_t(kMaxMatchLength) ? end - pos : uint32_t(kMaxMatchLength);
    return s;
}

// Finds the matches of every position of the segment once, for all passes.
// Inside a match of the nice length or more the positions are only indexed.
// The cache has a fixed room; when it runs full the segment ends early
// (matches then cut at the new end). Returns where the segment ends.
uint32_t CacheMatches(LzEncoder* e, uint32_t start, uint32_t end) {
    uint32_t n = end - start;
    e->Cached.clear();
    const size_t room = e->Cached.capacity();
    Found found[kMaxFound];
    uint32_t skipTo = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (e->Cached.size() + kMaxFound > room) {
            n = i;
            if (e->Setup.Census) e->Setup.Census->SegmentsCut++;
            e->CacheStart[n] = static_cast<uint32_t>(e->Cached.size());
            for (uint32_t j = n > kMaxMatchLength ? n - kMaxMatchLength : 0; j < n; j++)
                for (uint32_t c = e->CacheStart[j]; c < e->CacheStart[j + 1]; c++) {
                    Found& f = e->Cached[c];
                    if (f.Length <= n - j) continue;
                    f.Length = n - j;
                    // Length 2 stands for a short match; one too far for that is of no use.
                    if (f.Length == kShortLength && f.Distance > kShortMaxDistance) f.Length = 1;
                }
            break;
        }
        FinderSpot spot = SpotAt(e, start + i, end);
        e->CacheStart[i] = static_cast<uint32_t>(e->Cached.size());
        if (i < skipTo) {
            TreeSkipPosition(&e->Tree, spot);
            continue;
        }
        uint32_t count = TreeFindMatches(&e->Tree, spot, found);
        e->Cached.insert(e->Cached.end(), found, found + count);
        if (count && found[count - 1].Length >= e->Tree.Nice) skipTo = i + found[count - 1].Length;
    }
    e->CacheStart[n] = static_cast<uint32_t>(e->Cached.size());
    return start + n;
}

inline void Relax(Arrival* arrivals, const Arrival& from, uint32_t to, uint32_t cost, uint32_t length,
                  uint32_t distance) {
    Arrival& b = arrivals[to];
    if (cost >= b.Cost) return;
    b.Cost = cost;
    b.Length = static_cast<uint16_t>(length);
    b.First = 0;
    b.Distance = distance;
    b.PrevLength = static_cast<uint16_t>(length);
    b.Recent[0] = distance;
    b.Recent[1] = from.Recent[0];
    b.Recent[2] = from.Recent[1];
    b.Recent[3] = from.Recent[2];
}

// A match, one literal and the match's distance again (the literal is
// where the match ends): the path can keep the distance across the literal.
inline void RelaxThenRepeat(const uint8_t* segment, Arrival* arrivals, const Arrival& from, uint32_t i, uint32_t n,
                            uint32_t cost, uint32_t length, uint32_t distance, const Prices& p) {
    uint32_t after = i + length + 1;
    if (after + kRecentMinLength > n) return;
    const uint8_t* q = segment + after;
    uint32_t bonus = RecentLengthBonus(distance);
    uint32_t lo = kRecentMinLength + bonus;
    uint32_t cap = n - after;
    if (cap > MaxRecentLengthFor(distance)) cap = MaxRecentLengthFor(distance);
    if (cap < lo || q[-1] == *(q - 1 - distance)) return;
    uint32_t m = CommonLength(q, q - distance, cap);
    if (m < lo) return;
    cost += p.Symbol[q[-1]] + p.Symbol[kSymbolFirstRecent] + p.RecentLength[m - lo];
    Arrival& b = arrivals[after + m];
    if (cost >= b.Cost) return;
    b.Cost = cost;
    b.Length = static_cast<uint16_t>(length + 1 + m);
    b.First = length;
    b.Distance = distance;
    b.PrevLength = static_cast<uint16_t>(m);
    b.Recent[0] = distance;
    b.Recent[1] = distance;
    b.Recent[2] = from.Recent[0];
    b.Recent[3] = from.Recent[1];
}

// The cheapest path through the segment under the prices, as steps in
// Path; each path's own match state decides what its recent distances and
// repeats cost.
void CheapestPath(LzEncoder* e, uint32_t start, uint32_t end, const Prices& p) {
    uint32_t n = end - start;
    Arrival* arrivals = e->Arrivals.data();
    for (uint32_t i = 1; i <= n; i++) arrivals[i].Cost = kUnreached;
    arrivals[0].Cost = 0;
    arrivals[0].Length = 0;
    arrivals[0].PrevLength = static_cast<uint16_t>(e->Match.PrevLength);
    memcpy(arrivals[0].Recent, e->Match.Recent, sizeof arrivals[0].Recent);
    const Found* cached = e->Cached.data();
    const uint32_t nice = e->Tree.Nice;
    uint32_t skipTo = 0;
    const uint8_t* segment = At(e, start);
    arrivals[0].First = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (i < skipTo) continue;
        const Arrival cur = arrivals[i];
        uint32_t pos = start + i;
        const uint8_t* here = At(e, pos);
        uint32_t limit = n - i < uint32_t(kMaxMatchLength) ? n - i : uint32_t(kMaxMatchLength);

        Arrival& next = arrivals[i + 1];
        uint32_t literal = cur.Cost + p.Symbol[*here];
        if (literal < next.Cost) {
            next = cur;
            next.Cost = literal;
            next.Length = 1;
            next.First = 0;
        }
        uint32_t longest = 0;
        if (limit >= 2) {
            uint32_t reach = pos - OldestReachable(e, pos);
            for (uint32_t k = 0; k < kRecentDistances; k++) {
                uint32_t d = cur.Recent[k];
                if (d == 0 || d > reach) continue;
                bool seen = false;
                for (uint32_t j = 0; j < k; j++) seen |= cur.Recent[j] == d;
                if (seen) continue;  // the newer slot names it no dearer
                uint32_t bonus = RecentLengthBonus(d);
                uint32_t cap = MaxRecentLengthFor(d) < limit ? MaxRecentLengthFor(d) : limit;
                uint32_t m = CommonLength(here, here - d, cap);
                if (k == 0 && cur.PrevLength >= 2 && cur.PrevLength <= m)
                    Relax(arrivals, cur, i + cur.PrevLength, cur.Cost + p.Symbol[kSymbolRepeatLast], cur.PrevLength, d);
                uint32_t lo = kRecentMinLength + bonus;
                if (m < lo) continue;
                uint32_t base = cur.Cost + p.Symbol[kSymbolFirstRecent + k];
                for (uint32_t l = lo; l <= m; l++) Relax(arrivals, cur, i + l, base + p.RecentLength[l - lo], l, d);
                RelaxThenRepeat(segment, arrivals, cur, i, n, base + p.RecentLength[m - lo], m, d, p);
                if (m > longest) longest = m;
            }
        }
        uint32_t covered = 1;
        for (uint32_t c = e->CacheStart[i]; c < e->CacheStart[i + 1]; c++) {
            const Found& f = cached[c];
            uint32_t d = f.Distance;
            if (f.Length == kShortLength) {
                Relax(arrivals, cur, i + 2, cur.Cost + ShortPrice(p, d), 2, d);
                covered = 2;
                continue;
            }
            uint32_t shortest = kMatchMinLength + MatchLengthBonus(d);
            uint32_t lo = shortest > covered ? shortest : covered + 1;
            uint32_t base = cur.Cost + p.Slot[DistanceSlot(d)];
            const uint32_t* lengthPrice = p.MatchLength;
            for (uint32_t l = lo; l <= f.Length; l++)
                Relax(arrivals, cur, i + l, base + lengthPrice[l - shortest], l, d);
            if (f.Length >= lo)
                RelaxThenRepeat(segment, arrivals, cur, i, n, base + lengthPrice[f.Length - shortest], f.Length, d, p);
            if (f.Length > covered) covered = f.Length;
        }
        if (covered > longest) longest = covered;
        // A long match is taken as it is: the positions inside are not weighed.
        if (longest >= nice) skipTo = i + longest;
    }
    e->Path.clear();
    for (uint32_t i = n; i > 0; i -= arrivals[i].Length) {
        const Arrival& a = arrivals[i];
        if (a.First) {
            e->Path.push_back({a.Length - a.First - 1u, a.Distance});
            e->Path.push_back({1, 0});
            e->Path.push_back({a.First, a.Distance});
        } else {
            e->Path.push_back({a.Length, a.Distance});
        }
    }
    for (size_t a = 0, b = e->Path.size(); a + 1 < b; a++, b--) {
        Step t = e->Path[a];
        e->Path[a] = e->Path[b - 1];
        e->Path[b - 1] = t;
    }
}

// Counts the symbols of the path from the current match state.
void PathStats(const LzEncoder* e, uint32_t start, const Prices& p, Stats* s) {
    ClearStats(s);
    MatchState m = e->Match;
    uint32_t pos = start;
    for (const Step& step : e->Path) {
        Token t;
        if (step.Length == 1) {
            t.Symbol = *At(e, pos);
        } else {
            ChooseSymbol(p, m, step.Length, step.Distance, &t);
            Record(&m, step.Length, step.Distance);
        }
        CountToken(s, t);
        pos += step.Length;
    }
}

// Parses one segment (within one entry): the matches once, then passes of
// the cheapest path, each priced by the codes of the block with the path
// before it, and the last one emitted.
void ParseSegment(LzEncoder* e, uint32_t start, uint32_t end) {
    end = CacheMatches(e, start, end);
    Stats before = e->Pending.Counts;
    AddStats(&before, e->Chunk.Counts);
    bool fresh = e->Pending.Tokens.empty() && e->Chunk.Tokens.empty() && !e->HaveTables;
    uint32_t passes = e->Params.Passes + (fresh ? 1 : 0);
    Prices p = e->Price;
    uint8_t lengths[kLzTableSetSize];
    for (uint32_t pass = 0;; pass++) {
        CheapestPath(e, start, end, p);
        if (pass + 1 >= passes) break;
        Stats s;
        PathStats(e, start, p, &s);
        AddStats(&s, before);
        LengthsFor(s, lengths);
        SetPrices(&p, lengths);
    }
    e->Price = p;  // the symbols the last pass priced; the next segment starts from them
    uint32_t pos = start;
    for (const Step& step : e->Path) {
        if (step.Length == 1) EmitLiteral(e, pos);
        else EmitMatch(e, step.Length, step.Distance);
        pos += step.Length;
    }
    e->Pos = end;
}

void ParseOptimal(LzEncoder* e, uint32_t end, bool finishing) {
    while (e->Pos < end) {
        uint32_t entryEnd = EntryEndAt(e, e->Pos);
        uint32_t segmentEnd = e->Pos + e->Params.SegmentBytes;
        if (segmentEnd > entryEnd) segmentEnd = entryEnd;
        // A segment is weighed whole, with the bytes that follow it in view.
        if (segmentEnd > end && !finishing) break;
        if (segmentEnd > end) segmentEnd = end;
        ParseSegment(e, e->Pos, segmentEnd);
        if (e->Chunk.Tokens.size() >= e->Params.ChunkTokens) CloseChunk(e);
    }
}

// Parses what the input allows: all of it when finishing, else up to the
// lookahead before its end.
void ParseAvailable(LzEncoder* e, bool finishing) {
    uint32_t end = finishing ? e->Total : e->Total > kLookahead ? e->Total - kLookahead : 0;
    if (e->Params.Optimal) ParseOptimal(e, end, finishing);
    else ParseGreedy(e, end);
    EntryEndAt(e, e->Pos);
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
    bool ok = e->Buffer != nullptr;
    // Everything the compressor works with is taken here, at its full size.
    e->Pending.Tokens.reserve(kMaxBlockTokens);
    e->Chunk.Tokens.reserve(kMaxBlockTokens);
    if (e->Params.Optimal) {
        ok = CreateTreeFinder(&e->Tree, e->Params.Depth, e->Params.TreeNice) && ok;
        e->CacheStart.resize(e->Params.SegmentBytes + 1);
        e->Arrivals.resize(e->Params.SegmentBytes + 1);
        e->Cached.reserve(size_t(e->Params.SegmentBytes) * kCachedPerPosition);
        e->Path.reserve(e->Params.SegmentBytes + 2);
    } else {
        e->FoundScratch.reserve(kMaxMatchLength + 2);
        e->Head = static_cast<uint32_t*>(calloc(kHashSize, sizeof(uint32_t)));
        e->Chain = static_cast<uint32_t*>(calloc(kWindowSize, sizeof(uint32_t)));
        e->Head2 = static_cast<uint32_t*>(calloc(1 << 16, sizeof(uint32_t)));
        e->Head3 = static_cast<uint32_t*>(calloc(kHashSize, sizeof(uint32_t)));
        ok = ok && e->Head && e->Chain && e->Head2 && e->Head3;
    }
    if (!ok) {
        DestroyLzEncoder(e);
        return nullptr;
    }
    ClearStats(&e->Pending.Counts);
    ClearStats(&e->Chunk.Counts);
    memset(e->Lengths, 0, sizeof e->Lengths);
    memset(e->PrevLengths, 0, sizeof e->PrevLengths);
    memset(e->Codes, 0, sizeof e->Codes);
    memset(&e->Match, 0, sizeof e->Match);
    SetDefaultPrices(&e->Price);
    e->AverageLiteral = 8;
    return e;
}

size_t LzEncoderMemory(int level) {
    if (level < kMinLevel || level > kMaxLevel) return 0;
    const LevelParams& p = kLevels[level];
    size_t bytes = sizeof(LzEncoder) + kBufferBytes + 16 + 2 * size_t(kMaxBlockTokens) * sizeof(Token);
    if (p.Optimal) {
        size_t n = p.SegmentBytes;
        bytes += kTreeFinderBytes + (n + 1) * (sizeof(uint32_t) + sizeof(Arrival)) +
                 n * kCachedPerPosition * sizeof(Found) + (n + 2) * sizeof(Step);
    } else {
        bytes += (kMaxMatchLength + 2) * sizeof(Found) +
                 (2 * size_t(kHashSize) + kWindowSize + (1u << 16)) * sizeof(uint32_t);
    }
    // Packed bytes waiting to be handed out: a large entry's first part and
    // the blocks written since (each of at most kMaxBlockTokens steps of at
    // most 51 bits), in a buffer that grows by doubling, so up to twice that.
    return bytes + 2 * (kHandOutBytes + 2 * size_t(kMaxBlockTokens) * 51 / 8);
}

void DestroyLzEncoder(LzEncoder* encoder) {
    if (!encoder) return;
    free(encoder->Buffer);
    free(encoder->Head);
    free(encoder->Chain);
    free(encoder->Head2);
    free(encoder->Head3);
    DestroyTreeFinder(&encoder->Tree);
    delete encoder;
}

void StartEntry(LzEncoder* e) {
    e->Entries.emplace_back();
    e->Started++;
    e->EntryOpen = true;
}

void AddEntryBytes(LzEncoder* e, const uint8_t* data, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
        if (e->BufferLength == kBufferBytes) SlideBuffer(e);
        uint32_t room = kBufferBytes - e->BufferLength;
        uint32_t take = size - done < room ? size - done : room;
        memcpy(e->Buffer + e->BufferLength, data + done, take);
        e->BufferLength += take;
        e->Total += take;
        done += take;
        ParseAvailable(e, false);
        e->Consumed += take;
        if (e->Setup.Progress) e->Setup.Progress(e->Setup.User, e->Consumed);
    }
}

void EndEntry(LzEncoder* e) {
    e->EntryOpen = false;
    if (e->Started == 1 && e->Total == 0) {
        // The first entry is read non-solid and always starts with a table
        // set; an empty one carries a set that only names the switch symbol,
        // so the next entry can bring its own.
        uint8_t lengths[kLzTableSetSize] = {0};
        lengths[kSymbolSwitchTables] = 1;
        WriteTables(e, &e->Entries.back().Sink, lengths, false);
    }
    e->Ends.push_back(e->Total);
    EntryEndAt(e, e->Pos);
    HandOutReady(e);
}

void EncodeEntry(LzEncoder* e, const uint8_t* data, uint32_t size) {
    StartEntry(e);
    AddEntryBytes(e, data, size);
    EndEntry(e);
}

void FinishEncoding(LzEncoder* e) {
    ParseAvailable(e, true);
    CloseChunk(e);
    FlushBlock(e);
    HandOutReady(e);
}

std::vector<std::vector<uint8_t>> PackBuffers(const std::vector<std::vector<uint8_t>>& entries, int level,
                                              PackCensus* census) {
    struct Collected {
        std::vector<std::vector<uint8_t>> Packed;
        std::vector<uint8_t> Part;  // handed out ahead of the rest of the entry
    } collected;
    LzEncoderSetup setup;
    setup.Level = level;
    setup.Census = census;
    setup.User = &collected;
    setup.EntryBytes = [](void* user, uint32_t, const uint8_t* data, size_t size) {
        std::vector<uint8_t>& part = static_cast<Collected*>(user)->Part;
        part.insert(part.end(), data, data + size);
    };
    setup.EntryPacked = [](void* user, uint32_t, const uint8_t* data, size_t size) {
        Collected* c = static_cast<Collected*>(user);
        c->Part.insert(c->Part.end(), data, data + size);
        c->Packed.push_back(std::move(c->Part));
        c->Part.clear();
    };
    LzEncoder* encoder = CreateLzEncoder(setup);
    if (!encoder) return {};
    for (const std::vector<uint8_t>& entry : entries)
        EncodeEntry(encoder, entry.data(), static_cast<uint32_t>(entry.size()));
    FinishEncoding(encoder);
    DestroyLzEncoder(encoder);
    return std::move(collected.Packed);
}
