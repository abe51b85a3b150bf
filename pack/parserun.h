// What a parser works with, and nothing more: a slice of the input with
// the history before it (SliceView), the steps it chooses (ParsedSteps),
// and its own picture of the blocks and the decoder's match state that it
// prices those steps with (ParseModel). A parse that sees only these gives
// the same steps for a slice whichever thread parses it and whatever was
// parsed before it; the block coder (lzblocks.h) turns the steps into
// symbols with the state the decoder will really have.
#ifndef QUORVANEL_PACK_PARSERUN_H
#define QUORVANEL_PACK_PARSERUN_H

#include <stdint.h>

#include <vector>

#include "base/format.h"
#include "pack/lzprices.h"
#include "pack/matchfinder.h"

// --- The slice -------------------------------------------------------------

// The bytes from stream position Base up to End: the history (Base..Start),
// which matches may copy from, then the slice to parse (Start..End).
// Ends lists where entries end inside the slice, ascending; a match never
// runs across one. NextEnd is the parse's place in that list.
struct SliceView {
    const uint8_t* Data;  // the byte at stream position Base
    uint32_t Base;
    uint32_t Start;
    uint32_t End;
    const uint32_t* Ends;
    uint32_t EndCount;
    uint32_t NextEnd;
};

// The byte at stream position pos (Base <= pos < End).
inline const uint8_t* At(const SliceView* v, uint32_t pos) { return v->Data + (pos - v->Base); }

// The earliest position a match at pos may copy from: less than one window
// back, and not before the history.
inline uint32_t OldestReachable(const SliceView* v, uint32_t pos) {
    uint32_t oldest = pos >= kWindowSize ? pos - kWindowSize + 1 : 0;
    return oldest < v->Base ? v->Base : oldest;
}

// A finder's view of position pos, for matches that end by end.
inline FinderSpot SpotAt(const SliceView* v, uint32_t pos, uint32_t end) {
    FinderSpot s;
    s.Here = At(v, pos);
    s.Pos = pos;
    s.Avail = v->End - pos;
    s.Reach = pos - OldestReachable(v, pos);
    s.Limit = end - pos < uint32_t(kMaxMatchLength) ? end - pos : uint32_t(kMaxMatchLength);
    return s;
}

// Where the entry holding pos ends, or the slice if that comes first;
// pos must not go back between calls.
inline uint32_t EntryEndAt(SliceView* v, uint32_t pos) {
    while (v->NextEnd < v->EndCount && v->Ends[v->NextEnd] <= pos) v->NextEnd++;
    return v->NextEnd < v->EndCount && v->Ends[v->NextEnd] < v->End ? v->Ends[v->NextEnd] : v->End;
}

// --- The steps -----------------------------------------------------------------

// Steps in stream order, a 32-bit word each: a run of literals (the top bit
// and the count) or a match (distance above, length in the low 9 bits); a
// run of no literals marks where the parse ended a chunk. A slice of n
// bytes takes at most n / 2 + n / 1024 words (a chunk holds 1024 steps or
// more).
enum : uint32_t {
    kStepLiteralRun = 0x80000000u,
    kStepChunkEnd = kStepLiteralRun,
    kStepLengthBits = 9,
    kStepLengthMask = (1u << kStepLengthBits) - 1
};
static_assert(uint32_t(kMaxMatchLength) <= kStepLengthMask && (uint64_t(kWindowSize) << kStepLengthBits) < kStepLiteralRun,
              "a match's length and distance fit in one step word");

struct ParsedSteps {
    std::vector<uint32_t> Words;
};

inline void AddLiteralStep(ParsedSteps* s) {
    if (!s->Words.empty() && (s->Words.back() & kStepLiteralRun) && s->Words.back() != kStepChunkEnd)
        s->Words.back()++;
    else s->Words.push_back(kStepLiteralRun | 1);
}

inline void AddMatchStep(ParsedSteps* s, uint32_t length, uint32_t distance) {
    s->Words.push_back(distance << kStepLengthBits | length);
}

// --- The parse's own picture of blocks and prices ----------------------------

// Counts of the block being gathered and of the chunk after it, as the
// parse's own steps give them, the decoder's match state after those steps,
// and the prices that follow from them. The block coder decides the same
// way on the steps it really writes (ChunkJoinsBlock).
struct ParseModel {
    Prices Price;
    uint32_t AverageLiteral;  // mean price of a literal in the block, for gains
    MatchState Match;
    Stats Block;
    Stats Chunk;
    uint32_t BlockTokens;
    uint32_t ChunkTokens;
    bool HaveTables;  // a block has been closed: tables exist at the decoder
    uint8_t PrevLengths[kLzTableSetSize];
};

// The state at the start of a slice: no statistics, default prices.
void ResetParseModel(ParseModel* m);

inline void ModelLiteral(ParseModel* m, uint8_t byte) {
    m->Chunk.Literal[byte]++;
    m->ChunkTokens++;
}

// Counts the match with the cheapest symbol under the model's prices and
// moves its match state on.
inline void ModelMatch(ParseModel* m, uint32_t length, uint32_t distance) {
    Token t;
    ChooseSymbol(m->Price, m->Match, length, distance, &t);
    CountToken(&m->Chunk, t);
    Record(&m->Match, length, distance);
    m->ChunkTokens++;
}

// Ends the chunk as the block coder would (joining the block or starting
// the next), sets the prices of the block the next steps join, and marks
// the place in steps: the coder ends its chunk there too, so that the
// blocks it writes follow the statistics the parse priced with. (Chunks of
// exactly ChunkTokens steps in the coder instead made level 4 0.4% larger.)
void EndChunk(ParseModel* m, ParsedSteps* steps);

// Whether a chunk joins the block before it: one table set for both costs
// less than a set for each (the block's set after previous, the chunk's
// after the block's, and the switch symbol between).
bool ChunkJoinsBlock(const Stats& block, uint32_t blockTokens, const Stats& chunk, uint32_t chunkTokens,
                     const uint8_t* previous);

// The prices of a block with these counts, and the mean price of its literals.
void PricesOfBlock(const Stats& block, Prices* price, uint32_t* averageLiteral);

#endif
