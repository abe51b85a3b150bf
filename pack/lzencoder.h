// The compressor: LZ parsing over the 1 MB window, kept across entries
// (solid), on as many threads as asked with the same output, Huffman blocks with table sets where the statistics change, and
// one byte-aligned packed stream per entry.
#ifndef QUORVANEL_PACK_LZENCODER_H
#define QUORVANEL_PACK_LZENCODER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/format.h"

enum { kMinLevel = 1, kMaxLevel = 5, kDefaultLevel = 3, kMaxEncoderThreads = 64 };

struct LzEncoder;

// Receives the packed bytes of each entry, in entry order. An entry's bytes
// are complete only once the table set of the block that holds its last
// symbol is known, so the call may come during a later EncodeEntry or during
// FinishEncoding.
typedef void (*EntryPackedFn)(void* user, uint32_t entry, const uint8_t* data, size_t size);
// Receives, when given, the first part of a large entry's packed bytes
// while the entry is still being coded (each time some 1 MB have come
// together); EntryPacked then brings only the rest.
typedef void (*EntryBytesFn)(void* user, uint32_t entry, const uint8_t* data, size_t size);
// Called now and then with the number of input bytes consumed so far.
typedef void (*EncodeProgressFn)(void* user, uint64_t consumed);

// Kinds of coded steps, for the census.
enum CensusKind {
    kCensusLiteral,
    kCensusRepeatLast,  // symbol 256
    kCensusRecent,      // 257..260
    kCensusShort,       // 261..268
    kCensusMatch,       // 270..297
    kCensusKinds
};

// What the compressor wrote, for benchmarks and tests: how often each
// literal-table symbol was coded, the steps of each kind with their bits
// (codes and extra bits), and the table sets sent.
struct PackCensus {
    uint64_t Symbols[kLiteralSymbols] = {0};
    uint64_t Steps[kCensusKinds] = {0};
    uint64_t StepBits[kCensusKinds] = {0};
    uint64_t TableSets = 0;
    uint64_t TableSetBits = 0;     // the switch symbols included
    uint32_t FarthestDistance = 0;  // of the matches of 270..297
    uint64_t SegmentsCut = 0;       // optimal parses ended early, their match cache full
};

struct LzEncoderSetup {
    int Level = kDefaultLevel;  // 1-2 greedy, 3 lazy (hash chains), 4-5 optimal parsing (binary tree)
    EntryPackedFn EntryPacked = nullptr;
    EntryBytesFn EntryBytes = nullptr;
    EncodeProgressFn Progress = nullptr;
    void* User = nullptr;
    PackCensus* Census = nullptr;  // counted into when given
    // Threads that parse (1: the caller's own, no others). The output is the
    // same for any number; see LzEncoderMemory for what each costs.
    uint32_t Threads = 1;
};

// Memory the compressor takes at a level with that many threads, at most:
// all of it is taken when it is created, except the packed bytes waiting to
// be handed out, which are counted here too, and some 100 bytes per entry
// waiting for its block to be written. 0 for a level out of range.
size_t LzEncoderMemory(int level, uint32_t threads = 1);
// nullptr when the level is out of range or memory is short.
LzEncoder* CreateLzEncoder(const LzEncoderSetup& setup);
void DestroyLzEncoder(LzEncoder* encoder);
// Codes the next entry; size may be 0. Entries must stay below 2 GB. The
// first entry is coded non-solid, every later one continues the state.
void EncodeEntry(LzEncoder* encoder, const uint8_t* data, uint32_t size);
// The same in pieces: an entry's bytes in any number of calls between
// StartEntry and EndEntry.
void StartEntry(LzEncoder* encoder);
void AddEntryBytes(LzEncoder* encoder, const uint8_t* data, uint32_t size);
void EndEntry(LzEncoder* encoder);
// Codes what is still pending; afterwards every entry has been handed out.
void FinishEncoding(LzEncoder* encoder);

// Packs a list of buffers in one call: each entry's packed bytes.
std::vector<std::vector<uint8_t>> PackBuffers(const std::vector<std::vector<uint8_t>>& entries, int level,
                                              PackCensus* census = nullptr, uint32_t threads = 1);

#endif
