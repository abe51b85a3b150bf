// Block coding: the steps the parses chose come here in stream order and
// are turned into symbols with the decoder's real match state; they gather
// in chunks, ended where the parse marked the end of its own, a chunk either joins the block
// before it or starts a new one (whichever costs less with the table sets
// each needs), and a finished block is written with new tables or with
// those in force, whichever is shorter, into the bit streams of the entries
// its steps belong to. An entry is handed out once the block holding its
// last step is written.
#ifndef QUORVANEL_PACK_LZBLOCKS_H
#define QUORVANEL_PACK_LZBLOCKS_H

#include <stdint.h>

#include <deque>
#include <vector>

#include "pack/bitsink.h"
#include "pack/lzencoder.h"
#include "pack/lzprices.h"
#include "pack/parserun.h"

enum {
    kMaxBlockTokens = 1 << 16,  // steps of one block at most (they wait in memory until it is written)
    kHandOutBytes = 1 << 20     // packed bytes of an unfinished entry kept at most before they are handed out
};

// Steps and their symbol counts.
struct TokenRun {
    std::vector<Token> Tokens;
    Stats Counts;
};

// An entry's packed stream while it is not yet handed out.
struct PendingEntry {
    BitSink Sink;
};

struct BlockCoder {
    const LzEncoderSetup* Setup;  // where entries go, and the census

    // Where the coding stands: stream position, the entry that holds it,
    // and the ends of the entries not yet passed.
    uint32_t Pos;
    uint32_t Entry;
    std::deque<uint32_t> Ends;

    // The decoder's match state, and the prices of the block being gathered,
    // by which a match's symbol is chosen.
    MatchState Match;
    Prices Price;

    // Steps not yet written: the block being collected and, behind it, the
    // chunk that will either join it or start the next block.
    TokenRun Pending;
    TokenRun Chunk;

    // Tables in force at the decoder and the lengths its deltas start from.
    bool HaveTables;
    uint8_t Lengths[kLzTableSetSize];
    uint8_t PrevLengths[kLzTableSetSize];
    uint16_t Codes[kLzTableSetSize];

    std::deque<PendingEntry> Entries;  // entries not yet handed out, from FirstPending
    uint32_t FirstPending;
};

// Takes the step buffers at their full size.
void InitBlockCoder(BlockCoder* c, const LzEncoderSetup* setup);
// What the coder holds at most besides the entries' packed bytes.
size_t BlockCoderBytes();

// An entry starts: its packed stream opens.
void OpenEntry(BlockCoder* c);
// The entry started last ends at stream position end (after its bytes).
void CloseEntry(BlockCoder* c, uint32_t end);
// Codes the steps of a slice, which starts at the coder's position; data
// is the byte there.
void CodeSteps(BlockCoder* c, const ParsedSteps& steps, const uint8_t* data);
// Ends the chunk: it joins the pending block when one table set for both
// costs less than a set for each, else the block is written and the chunk
// starts the next one. The entries now complete are handed out.
void CloseChunk(BlockCoder* c);
// Writes the pending block (none: nothing), with new tables or with those
// in force when they code it more cheaply.
void FlushBlock(BlockCoder* c);
// Writes a table set into sink (after the switch symbol when viaSwitch) and
// makes it the one in force.
void WriteTables(BlockCoder* c, BitSink* sink, const uint8_t* lengths, bool viaSwitch);
// Hands out, in order, every entry whose steps are all written, and the
// first part of a large entry still being coded.
void HandOutReady(BlockCoder* c);

#endif
