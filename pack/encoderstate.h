// The compressor's state, shared by its parts: the input and the entries in
// flight (lzencoder.cpp), the steps waiting for their block and the tables
// in force at the decoder (lzblocks.cpp), the prices both parsers weigh with
// (lzprices.cpp), and the state of the parser the level runs
// (lazyparser.cpp or optimalparser.cpp).
#ifndef QUORVANEL_PACK_ENCODERSTATE_H
#define QUORVANEL_PACK_ENCODERSTATE_H

#include <stdint.h>

#include <deque>

#include "pack/lazyparser.h"
#include "pack/lzblocks.h"
#include "pack/lzencoder.h"
#include "pack/lzlevels.h"
#include "pack/lzprices.h"
#include "pack/matchfinder.h"
#include "pack/optimalparser.h"

struct LzEncoder {
    LzEncoderSetup Setup;
    LevelParams Params;

    // Input: Buffer[i] holds the byte at stream position BufferBase + i.
    uint8_t* Buffer;
    uint32_t BufferBase;
    uint32_t BufferLength;
    uint32_t Total;  // stream bytes handed in so far
    uint32_t Pos;    // next position to parse

    // Entries: ends of the finished ones the parse has not passed yet.
    std::deque<uint32_t> Ends;
    uint32_t ParseEntry;  // the entry position Pos belongs to
    uint32_t Started;     // entries started so far
    bool EntryOpen;

    // The parser's own state: hash chains (levels 1-3) or the tree (4-5).
    LazyParse Lazy;
    OptimalParse Optimal;

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

// The byte at stream position pos, which must still be in the buffer.
inline const uint8_t* At(const LzEncoder* e, uint32_t pos) { return e->Buffer + (pos - e->BufferBase); }

// The earliest position a match at pos may copy from: less than one window
// back, and still in the buffer.
inline uint32_t OldestReachable(const LzEncoder* e, uint32_t pos) {
    uint32_t oldest = pos >= kWindowSize ? pos - kWindowSize + 1 : 0;
    return oldest < e->BufferBase ? e->BufferBase : oldest;
}

// A finder's view of position pos, for matches that end by end.
inline FinderSpot SpotAt(const LzEncoder* e, uint32_t pos, uint32_t end) {
    FinderSpot s;
    s.Here = At(e, pos);
    s.Pos = pos;
    s.Avail = e->Total - pos;
    s.Reach = pos - OldestReachable(e, pos);
    s.Limit = end - pos < uint32_t(kMaxMatchLength) ? end - pos : uint32_t(kMaxMatchLength);
    return s;
}

// Moves the parse's entry on to the one that holds pos; returns where that
// entry ends (for an entry still open: as far as its data goes).
inline uint32_t EntryEndAt(LzEncoder* e, uint32_t pos) {
    while (!e->Ends.empty() && e->Ends.front() <= pos) {
        e->Ends.pop_front();
        e->ParseEntry++;
    }
    return e->Ends.empty() ? e->Total : e->Ends.front();
}

// --- Steps a parser hands to the block coder --------------------------------

// Appends a step of the entry being parsed to the chunk.
inline void AddToken(LzEncoder* e, const Token& token) {
    e->Chunk.Tokens.push_back(token);
    CountToken(&e->Chunk.Counts, token);
}

// Adds a literal, the byte at stream position pos, to the chunk.
inline void EmitLiteral(LzEncoder* e, uint32_t pos) {
    Token t = {*At(e, pos), 0, 0, 0, e->ParseEntry};
    AddToken(e, t);
}

// Adds a match to the chunk with the cheapest symbol under the prices in
// force, and moves the match state on.
inline void EmitMatch(LzEncoder* e, uint32_t length, uint32_t distance) {
    Token t;
    ChooseSymbol(e->Price, e->Match, length, distance, &t);
    t.Entry = e->ParseEntry;
    Record(&e->Match, length, distance);
    AddToken(e, t);
}

#endif
