// The compressor's driver. The input, all entries one after the other, is
// cut into slices of kSliceBytes at fixed stream positions; each
// slice is parsed on its own, with the window of bytes before it as
// history, by the level's parser (lazyparser.cpp, optimalparser.cpp) into a
// list of steps, and the block coder (lzblocks.cpp) codes the lists in
// stream order. A slice's steps depend on its bytes, its history and where
// entries end in it, never on the slices before it or on the thread that
// parsed it, so the output is the same byte for byte for any number of
// threads; with one, the caller's thread parses each slice as it fills.
//
// With more threads, the caller's thread reads the input, hands each full
// slice to a queue the workers take from, and codes finished slices in
// order; at most Threads slices are parsed or waiting at once, so memory
// stays bounded.
#include "pack/lzencoder.h"

#include <stdlib.h>
#include <string.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "pack/lazyparser.h"
#include "pack/lzblocks.h"
#include "pack/lzlevels.h"
#include "pack/optimalparser.h"
#include "pack/parserun.h"

namespace {

enum : uint32_t {
    // Bytes of input per slice. A slice boundary costs the insertion of
    // its history into the finder and the prices learnt so far. Level 5 on
    // the bench corpora (bench/run.sh), sizes against one parse over the
    // whole input, and wall time on two threads:
    // - 4 MB: C++ headers +0.00%, DLLs +0.00%; the DLLs 3% faster than with
    //   2 MB, and 1.02x zstd -19 -T0's wall speed; a 12 MB tree keeps two
    //   threads busy for two of its three slices (1.6x one thread with 2 MB,
    //   about 1.4x with 4 MB, still above zstd -T0, which runs one job there);
    // - 2 MB: headers +0.05%, DLLs -0.04%, the history's insertion 8% of
    //   the parse time; 0.99x zstd -19 -T0 on the DLLs;
    // - 1 MB (with a shallower history): headers +0.13%, 16% of the time.
    kSliceBytes = 4u << 20,
    // The history before a slice: a whole window, so every match a
    // single parse could find stays in reach (half a window: headers +0.31%).
    kHistoryBytes = kWindowSize
};

// One slice: its bytes with the history before them, where entries end
// in it, and what its parse gave.
struct Slice {
    std::vector<uint8_t> Data;  // stream positions Base .. Base + Data.size()
    uint32_t Base;
    uint32_t Start;
    std::vector<uint32_t> Ends;
    ParsedSteps Steps;
    uint64_t SegmentsCut;
    bool Parsed;
};

// What one thread parses with.
struct SliceParser {
    LazyParse Lazy;
    OptimalParse Optimal;
    ParseModel Model;
};

}  // namespace

struct LzEncoder {
    LzEncoderSetup Setup;
    LevelParams Params;
    BlockCoder Coder;

    uint32_t Total;  // stream bytes handed in so far
    uint64_t Consumed;

    // Slices in a ring: Filling takes the input; those from Coded up to
    // Filling are parsed or waiting for a worker, and are coded in order.
    std::vector<Slice> Ring;
    uint64_t Filling;
    uint64_t Coded;

    std::vector<SliceParser> Parsers;
    std::vector<std::thread> Workers;
    std::mutex Lock;
    std::condition_variable WorkReady;
    std::condition_variable WorkDone;
    std::deque<uint64_t> Queue;  // slices handed out, not yet taken by a worker
    bool Stopping;
};

namespace {

Slice& RingAt(LzEncoder* e, uint64_t n) { return e->Ring[n % e->Ring.size()]; }

uint32_t SliceEnd(const Slice& s) { return s.Base + static_cast<uint32_t>(s.Data.size()); }

void ParseSlice(const LevelParams& params, SliceParser* p, Slice* s) {
    SliceView view = {s->Data.data(), s->Base, s->Start, SliceEnd(*s), s->Ends.data(),
                      static_cast<uint32_t>(s->Ends.size()), 0};
    s->Steps.Words.clear();
    s->SegmentsCut = 0;
    ResetParseModel(&p->Model);
    if (params.Optimal) ParseOptimal(&p->Optimal, params, &view, &p->Model, &s->Steps, &s->SegmentsCut);
    else ParseLazy(&p->Lazy, params, &view, &p->Model, &s->Steps);
}

void WorkerLoop(LzEncoder* e, SliceParser* parser) {
    std::unique_lock<std::mutex> hold(e->Lock);
    for (;;) {
        e->WorkReady.wait(hold, [e] { return e->Stopping || !e->Queue.empty(); });
        if (e->Queue.empty()) return;
        Slice* s = &RingAt(e, e->Queue.front());
        e->Queue.pop_front();
        hold.unlock();
        ParseSlice(e->Params, parser, s);
        hold.lock();
        s->Parsed = true;
        e->WorkDone.notify_all();
    }
}

// Codes the oldest slice not yet coded; waits for its parse when wait,
// else returns false if it is not parsed yet.
bool CodeOldest(LzEncoder* e, bool wait) {
    Slice& s = RingAt(e, e->Coded);
    if (!e->Workers.empty()) {
        std::unique_lock<std::mutex> hold(e->Lock);
        if (!s.Parsed && !wait) return false;
        e->WorkDone.wait(hold, [&s] { return s.Parsed; });
    }
    CodeSteps(&e->Coder, s.Steps, s.Data.data() + (s.Start - s.Base));
    if (e->Setup.Census) e->Setup.Census->SegmentsCut += s.SegmentsCut;
    e->Coded++;
    HandOutReady(&e->Coder);
    return true;
}

// Starts the filling slice's parse and opens the next one, whose history
// is the window before it.
void HandOverSlice(LzEncoder* e) {
    Slice& s = RingAt(e, e->Filling);
    if (SliceEnd(s) == s.Start) return;  // nothing in it
    // Room in the ring: at most one slice per thread in flight.
    while (e->Filling - e->Coded >= e->Parsers.size()) CodeOldest(e, true);
    Slice& next = RingAt(e, e->Filling + 1);
    uint32_t end = SliceEnd(s);
    uint32_t keep = end - s.Base < kHistoryBytes ? end - s.Base : uint32_t(kHistoryBytes);
    next.Data.assign(s.Data.end() - keep, s.Data.end());
    next.Base = end - keep;
    next.Start = end;
    next.Ends.clear();
    next.Parsed = false;
    if (e->Workers.empty()) {
        ParseSlice(e->Params, &e->Parsers[0], &s);
        s.Parsed = true;
    } else {
        std::lock_guard<std::mutex> hold(e->Lock);
        e->Queue.push_back(e->Filling);
        e->WorkReady.notify_one();
    }
    e->Filling++;
    while (e->Coded < e->Filling && CodeOldest(e, false)) {
    }
}

void StopWorkers(LzEncoder* e) {
    {
        std::lock_guard<std::mutex> hold(e->Lock);
        e->Stopping = true;
        e->Queue.clear();  // an encoder given up mid-way needs no more parses
        e->WorkReady.notify_all();
    }
    for (std::thread& t : e->Workers) t.join();
    e->Workers.clear();
}

size_t StepWords() { return kSliceBytes / 2 + kSliceBytes / 1024; }

size_t SliceBytes() {
    // Its bytes with their history, and the steps: a word per two bytes at most.
    return sizeof(Slice) + kHistoryBytes + kSliceBytes + StepWords() * sizeof(uint32_t);
}

size_t ParserBytes(const LevelParams& p) {
    return sizeof(SliceParser) + (p.Optimal ? OptimalParseBytes(p) : LazyParseBytes());
}

uint32_t ThreadsFor(uint32_t asked) { return asked < 1 ? 1 : asked > kMaxEncoderThreads ? uint32_t(kMaxEncoderThreads) : asked; }

}  // namespace

LzEncoder* CreateLzEncoder(const LzEncoderSetup& setup) {
    if (setup.Level < kMinLevel || setup.Level > kMaxLevel) return nullptr;
    LzEncoder* e = new LzEncoder();
    e->Setup = setup;
    e->Params = LevelParamsFor(setup.Level);
    InitBlockCoder(&e->Coder, &e->Setup);
    uint32_t threads = ThreadsFor(setup.Threads);
    // Everything the compressor works with is taken here, at its full size.
    e->Parsers.resize(threads);
    bool ok = true;
    for (SliceParser& p : e->Parsers) {
        if (e->Params.Optimal) ok = CreateOptimalParse(&p.Optimal, e->Params) && ok;
        else ok = CreateLazyParse(&p.Lazy, e->Params) && ok;
    }
    e->Ring.resize(threads + 1);
    for (Slice& s : e->Ring) {
        s.Data.reserve(kHistoryBytes + kSliceBytes);
        s.Steps.Words.reserve(StepWords());
    }
    if (!ok) {
        DestroyLzEncoder(e);
        return nullptr;
    }
    if (threads > 1)
        for (SliceParser& p : e->Parsers) e->Workers.emplace_back(WorkerLoop, e, &p);
    return e;
}

size_t LzEncoderMemory(int level, uint32_t threads) {
    if (level < kMinLevel || level > kMaxLevel) return 0;
    threads = ThreadsFor(threads);
    size_t bytes = sizeof(LzEncoder) + BlockCoderBytes() + threads * ParserBytes(LevelParamsFor(level)) +
                   (threads + 1) * SliceBytes();
    // Packed bytes waiting to be handed out: a large entry's first part and
    // the blocks written since (each of at most kMaxBlockTokens steps of at
    // most 51 bits), in a buffer that grows by doubling, so up to twice that.
    return bytes + 2 * (kHandOutBytes + 2 * size_t(kMaxBlockTokens) * 51 / 8);
}

void DestroyLzEncoder(LzEncoder* e) {
    if (!e) return;
    StopWorkers(e);
    for (SliceParser& p : e->Parsers) {
        DestroyLazyParse(&p.Lazy);
        DestroyOptimalParse(&p.Optimal);
    }
    delete e;
}

void StartEntry(LzEncoder* e) { OpenEntry(&e->Coder); }

void AddEntryBytes(LzEncoder* e, const uint8_t* data, uint32_t size) {
    uint32_t done = 0;
    while (done < size) {
        Slice* s = &RingAt(e, e->Filling);
        if (SliceEnd(*s) - s->Start == kSliceBytes) {
            HandOverSlice(e);
            s = &RingAt(e, e->Filling);
        }
        uint32_t room = kSliceBytes - (SliceEnd(*s) - s->Start);
        uint32_t take = size - done < room ? size - done : room;
        s->Data.insert(s->Data.end(), data + done, data + done + take);
        e->Total += take;
        done += take;
        e->Consumed += take;
        if (e->Setup.Progress) e->Setup.Progress(e->Setup.User, e->Consumed);
    }
}

void EndEntry(LzEncoder* e) {
    Slice& s = RingAt(e, e->Filling);
    // An end at the slice's start limits nothing in it.
    if (e->Total > s.Start) s.Ends.push_back(e->Total);
    CloseEntry(&e->Coder, e->Total);
}

void EncodeEntry(LzEncoder* e, const uint8_t* data, uint32_t size) {
    StartEntry(e);
    AddEntryBytes(e, data, size);
    EndEntry(e);
}

void FinishEncoding(LzEncoder* e) {
    HandOverSlice(e);
    while (e->Coded < e->Filling) CodeOldest(e, true);
    CloseChunk(&e->Coder);
    FlushBlock(&e->Coder);
    HandOutReady(&e->Coder);
}

std::vector<std::vector<uint8_t>> PackBuffers(const std::vector<std::vector<uint8_t>>& entries, int level,
                                              PackCensus* census, uint32_t threads) {
    struct Collected {
        std::vector<std::vector<uint8_t>> Packed;
        std::vector<uint8_t> Part;  // handed out ahead of the rest of the entry
    } collected;
    LzEncoderSetup setup;
    setup.Level = level;
    setup.Census = census;
    setup.Threads = threads;
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
