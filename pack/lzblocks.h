// Block coding: the parsers hand their steps here; they gather in chunks,
// a chunk either joins the block before it or starts a new one (whichever
// costs less with the table sets each needs), and a finished block is
// written with new tables or with those in force, whichever is shorter, into
// the bit streams of the entries its steps belong to. An entry is handed
// out once the block holding its last step is written.
#ifndef QUORVANEL_PACK_LZBLOCKS_H
#define QUORVANEL_PACK_LZBLOCKS_H

#include <stdint.h>

#include <vector>

#include "pack/bitsink.h"
#include "pack/lzprices.h"

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

struct LzEncoder;

// The parsers add their steps to the chunk with EmitLiteral and EmitMatch
// (encoderstate.h).

// Ends the chunk: it joins the pending block when one table set for both
// costs less than a set for each, else the block is written and the chunk
// starts the next one. The prices then follow the block the next steps will
// join, and the entries now complete are handed out.
void CloseChunk(LzEncoder* e);
// Writes the pending block (none: nothing), with new tables or with those
// in force when they code it more cheaply.
void FlushBlock(LzEncoder* e);
// Writes a table set into sink (after the switch symbol when viaSwitch) and
// makes it the one in force.
void WriteTables(LzEncoder* e, BitSink* sink, const uint8_t* lengths, bool viaSwitch);
// Hands out, in order, every entry whose steps are all written, and the
// first part of a large entry still being coded.
void HandOutReady(LzEncoder* e);

#endif
