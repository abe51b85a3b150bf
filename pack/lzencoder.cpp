// The compressor's driver: takes the entries' bytes into a sliding buffer
// that keeps the window behind the parse position, runs the parser of the
// level on what has come in (leaving a lookahead unparsed until more comes
// or the input ends), and keeps track of where each entry ends, so that
// matches never cross from one entry into the next. The parsers
// (lazyparser.cpp, optimalparser.cpp) hand their steps to the block coder
// (lzblocks.cpp), which hands out each entry's packed bytes.
#include "pack/lzencoder.h"

#include <stdlib.h>
#include <string.h>

#include <utility>

#include "pack/encoderstate.h"

namespace {

enum {
    kBufferBytes = 2 * kWindowSize,  // sliding input: the window behind, fresh data ahead
    kLookahead = 300                 // bytes a parse step may look at ahead of its position
};

// Parses what the input allows: all of it when finishing, else up to the
// lookahead before its end.
void ParseAvailable(LzEncoder* e, bool finishing) {
    uint32_t end = finishing ? e->Total : e->Total > kLookahead ? e->Total - kLookahead : 0;
    if (e->Params.Optimal) ParseOptimal(e, end, finishing);
    else ParseLazy(e, end);
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
    e->Params = LevelParamsFor(setup.Level);
    e->Buffer = static_cast<uint8_t*>(malloc(kBufferBytes + 16));
    bool ok = e->Buffer != nullptr;
    // Everything the compressor works with is taken here, at its full size.
    e->Pending.Tokens.reserve(kMaxBlockTokens);
    e->Chunk.Tokens.reserve(kMaxBlockTokens);
    if (e->Params.Optimal) ok = CreateOptimalParse(&e->Optimal, e->Params) && ok;
    else ok = CreateLazyParse(&e->Lazy, e->Params) && ok;
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
    const LevelParams& p = LevelParamsFor(level);
    size_t bytes = sizeof(LzEncoder) + kBufferBytes + 16 + 2 * size_t(kMaxBlockTokens) * sizeof(Token);
    bytes += p.Optimal ? OptimalParseBytes(p) : LazyParseBytes();
    // Packed bytes waiting to be handed out: a large entry's first part and
    // the blocks written since (each of at most kMaxBlockTokens steps of at
    // most 51 bits), in a buffer that grows by doubling, so up to twice that.
    return bytes + 2 * (kHandOutBytes + 2 * size_t(kMaxBlockTokens) * 51 / 8);
}

void DestroyLzEncoder(LzEncoder* encoder) {
    if (!encoder) return;
    free(encoder->Buffer);
    DestroyLazyParse(&encoder->Lazy);
    DestroyOptimalParse(&encoder->Optimal);
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
