// The compressor: LZ parsing over the 1 MB window, kept across entries
// (solid), Huffman blocks with table sets where the statistics change, and
// one byte-aligned packed stream per entry.
#ifndef QUORVANEL_PACK_LZENCODER_H
#define QUORVANEL_PACK_LZENCODER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

enum { kMinLevel = 1, kMaxLevel = 5, kDefaultLevel = 3 };

struct LzEncoder;

// Receives the packed bytes of each entry, in entry order. An entry's bytes
// are complete only once the table set of the block that holds its last
// symbol is known, so the call may come during a later EncodeEntry or during
// FinishEncoding.
typedef void (*EntryPackedFn)(void* user, uint32_t entry, const uint8_t* data, size_t size);
// Called now and then with the number of input bytes consumed so far.
typedef void (*EncodeProgressFn)(void* user, uint64_t consumed);

struct LzEncoderSetup {
    int Level = kDefaultLevel;  // 1-2 greedy, 3 lazy, 4-5 optimal parsing; longer chains higher up
    EntryPackedFn EntryPacked = nullptr;
    EncodeProgressFn Progress = nullptr;
    void* User = nullptr;
};

// nullptr when the level is out of range or memory is short.
LzEncoder* CreateLzEncoder(const LzEncoderSetup& setup);
void DestroyLzEncoder(LzEncoder* encoder);
// Codes the next entry; size may be 0. Entries must stay below 2 GB. The
// first entry is coded non-solid, every later one continues the state.
void EncodeEntry(LzEncoder* encoder, const uint8_t* data, uint32_t size);
// Codes what is still pending; afterwards every entry has been handed out.
void FinishEncoding(LzEncoder* encoder);

// Packs a list of buffers in one call: each entry's packed bytes.
std::vector<std::vector<uint8_t>> PackBuffers(const std::vector<std::vector<uint8_t>>& entries, int level);

#endif
