// Round trips of the compressor through the installer's decoder, entry
// after entry in one session as the installer decodes a solid archive.
#include <gtest/gtest.h>

#include <malloc.h>
#include <stdio.h>
#include <string.h>

#include "pack/lzencoder.h"
#include "support/bytes.h"
#include "support/testdata.h"
#include "support/unpack_harness.h"

namespace {

using qvtest::Bytes;

// The start of the test program itself: real machine code and tables.
Bytes OwnBinary(size_t n) {
    Bytes b(n);
    FILE* f = fopen("/proc/self/exe", "rb");
    size_t got = f ? fread(b.data(), 1, n, f) : 0;
    if (f) fclose(f);
    b.resize(got);
    return b;
}

size_t TotalSize(const std::vector<Bytes>& v) {
    size_t n = 0;
    for (const Bytes& b : v) n += b.size();
    return n;
}

// Packs and decodes every entry; returns the packed total.
size_t ExpectRoundTrip(const std::vector<Bytes>& entries, int level, PackCensus* census = nullptr,
                       std::vector<Bytes>* packedOut = nullptr) {
    std::vector<Bytes> packed = PackBuffers(entries, level, census);
    if (packedOut) *packedOut = packed;
    EXPECT_EQ(packed.size(), entries.size());
    if (packed.size() != entries.size()) return 0;
    qvtest::Session session;
    size_t total = 0;
    for (size_t i = 0; i < entries.size(); i++) {
        qvtest::Entry entry;
        entry.packed = packed[i];
        entry.unpackedSize = static_cast<uint32_t>(entries[i].size());
        entry.solid = i > 0;
        qvtest::Result result = session.Run(entry);
        EXPECT_EQ(result.output.size(), entries[i].size()) << "entry " << i << ", level " << level;
        EXPECT_TRUE(result.output == entries[i]) << "entry " << i << ", level " << level;
        EXPECT_EQ(result.checksum, qvtest::ExpectedChecksum(entries[i])) << "entry " << i;
        if (result.output != entries[i]) return 0;
        total += packed[i].size();
    }
    return total;
}

class EveryLevel : public ::testing::TestWithParam<int> {};

TEST_P(EveryLevel, MixedKindsOfData) {
    std::vector<Bytes> entries = {qvtest::WordText(30000, 1), Bytes(), qvtest::Noise(5000, 2), Bytes(300, 'a'), qvtest::Noise(20000, 3, 4),
                                  OwnBinary(60000), qvtest::WordText(20000, 1), Bytes(1, 'z')};
    size_t packed = ExpectRoundTrip(entries, GetParam());
    EXPECT_LT(packed, TotalSize(entries) * 7 / 10);
}

// More than the window: matches that cross the window's end, flushes in
// the middle of an entry, a later entry continuing after the wrap.
TEST_P(EveryLevel, EntryLargerThanTheWindow) {
    Bytes block = qvtest::Noise(0x40000, 7);
    Bytes big;
    for (int i = 0; i < 5; i++) {
        big.insert(big.end(), block.begin(), block.end());
        big.push_back(static_cast<uint8_t>(i));  // keeps repeats just off the window size
    }
    Bytes text = qvtest::WordText(0x18000, 9);
    big.insert(big.end(), text.begin(), text.end());
    size_t packed = ExpectRoundTrip({big, qvtest::Noise(1000, 8), block}, GetParam());
    EXPECT_LT(packed, big.size() / 3);
}

INSTANTIATE_TEST_SUITE_P(Levels, EveryLevel, ::testing::Range(1, 6));

TEST(LzEncoder, IncompressibleDataGrowsOnlySlightly) {
    Bytes noise = qvtest::Noise(200000, 11);
    for (int level : {1, 5}) {
        size_t packed = ExpectRoundTrip({noise}, level);
        EXPECT_LT(packed, noise.size() + noise.size() / 50);
    }
}

// Thousands of small solid entries, many alike: tables carry over from
// entry to entry and matches reach back into earlier files but never past
// the entry's own end.
TEST(LzEncoder, ThousandsOfSmallSolidEntries) {
    std::vector<Bytes> entries;
    for (int i = 0; i < 3000; i++) {
        Bytes e = qvtest::WordText(static_cast<size_t>(i % 37), static_cast<uint32_t>(i % 5));
        if (i % 11 == 0) e = Bytes(static_cast<size_t>(i % 7), static_cast<uint8_t>(i));
        entries.push_back(e);
    }
    for (int level : {1, 3, 5}) EXPECT_GT(ExpectRoundTrip(entries, level), 0u);
}

TEST(LzEncoder, EmptyEntriesFirstAndOnly) {
    EXPECT_EQ(ExpectRoundTrip({Bytes()}, 3), PackBuffers({Bytes()}, 3)[0].size());
    EXPECT_FALSE(PackBuffers({Bytes()}, 3)[0].empty());  // the first entry always carries tables
    ExpectRoundTrip({Bytes(), Bytes(), qvtest::WordText(5000, 4), Bytes(), qvtest::WordText(5000, 4)}, 3);
    // Later empty entries take no bytes at all.
    std::vector<Bytes> packed = PackBuffers({qvtest::WordText(100, 1), Bytes(), Bytes()}, 3);
    EXPECT_TRUE(packed[1].empty() && packed[2].empty());
}

// Short repeats at every distance class: recent distances with their
// bonuses, short matches and far matches with the length steps at 0x2000
// and 0x40000.
TEST(LzEncoder, RepeatsAtTheDistanceSteps) {
    Bytes data;
    Bytes far = qvtest::Noise(0x40010, 21);
    data.insert(data.end(), far.begin(), far.end());
    for (uint32_t distance : {0x100u, 0x101u, 0x1FFFu, 0x2000u, 0x3FFFFu, 0x40000u, 0x40001u}) {
        for (uint32_t length : {2u, 3u, 4u, 5u, 6u, 9u}) {
            size_t from = data.size() - distance;
            for (uint32_t k = 0; k < length; k++) data.push_back(data[from + k]);
            Bytes gap = qvtest::Noise(3, distance + length);
            data.insert(data.end(), gap.begin(), gap.end());
            for (uint32_t k = 0; k < length; k++) data.push_back(data[from + k]);  // the same distance again
        }
    }
    for (int level = 1; level <= 5; level++) ExpectRoundTrip({data}, level);
}

// Records of one size, each the one before with its first byte changed:
// a literal, then the same match again and again.
Bytes Records(size_t count, size_t size, uint32_t seed) {
    Bytes b = qvtest::Noise(size, seed);
    for (size_t r = 1; r < count; r++) {
        Bytes rest(b.end() - static_cast<long>(size) + 1, b.end());
        b.push_back(static_cast<uint8_t>(r * 37));
        b.insert(b.end(), rest.begin(), rest.end());
    }
    return b;
}

// Input that calls for every decision the compressor can take: table sets
// switched in the middle of an entry and at entry boundaries, the last
// match repeated, recent distances, matches reaching back almost the whole
// window and into earlier entries, empty entries between. Each must reach
// the installer's decoder intact, and each must really have been taken.
TEST(LzEncoder, EveryCodingDecisionDecodes) {
    Bytes near = qvtest::Noise(0x8000, 31);
    Bytes far;
    far.insert(far.end(), near.begin(), near.end());
    Bytes filler = qvtest::Noise(0x100000 - 0x8000 - 16, 32, 16);
    far.insert(far.end(), filler.begin(), filler.end());
    far.insert(far.end(), near.begin(), near.end());  // 0x100000 - 16 back

    Bytes alternating;  // two sources, taken by turns: recent distances
    Bytes a = qvtest::Noise(400, 33), b = qvtest::Noise(400, 34);
    alternating.insert(alternating.end(), a.begin(), a.end());
    alternating.insert(alternating.end(), b.begin(), b.end());
    for (int i = 0; i < 200; i++) {
        const Bytes& from = i % 2 ? a : b;
        alternating.insert(alternating.end(), from.begin() + i, from.begin() + i + 20);
        alternating.push_back(static_cast<uint8_t>(i));
    }
    std::vector<Bytes> entries = {qvtest::WordText(60000, 5), Bytes(), Records(300, 64, 35), OwnBinary(120000), Bytes(),
                                  qvtest::WordText(60000, 5), alternating, qvtest::Noise(30000, 36, 4), far, Bytes()};
    for (int level : {2, 3, 5}) {
        PackCensus census;
        std::vector<Bytes> packed;
        ASSERT_GT(ExpectRoundTrip(entries, level, &census, &packed), 0u) << level;
        EXPECT_GT(census.Symbols[kSymbolSwitchTables], 2u) << level;
        EXPECT_GT(census.Steps[kCensusRepeatLast], 100u) << level;
        EXPECT_GT(census.Steps[kCensusRecent], 100u) << level;
        EXPECT_GT(census.Steps[kCensusShort], 0u) << level;
        EXPECT_GT(census.FarthestDistance, 0xF0000u) << level;
        // The second copy of the text comes almost whole from the first.
        EXPECT_TRUE(packed[1].empty() && packed[4].empty() && packed[9].empty());
        EXPECT_LT(packed[5].size(), 400u) << level;
    }
}

// Copies of one string, each with changes further apart than the copy
// after it, and the string itself in the next entry: from each of its
// positions the matches grow longer the farther back they lie, more of them
// than the optimal parse keeps room for, so its segments end early.
TEST(LzEncoder, PositionsWithManyMatchesDecode) {
    Bytes base = qvtest::Noise(0x8800, 41);
    Bytes data;
    for (uint32_t spacing = 200; spacing >= 5; spacing = spacing * 7 / 8) {
        Bytes copy = base;
        for (size_t i = spacing / 2; i < copy.size(); i += spacing) copy[i] ^= 0x80;
        data.insert(data.end(), copy.begin(), copy.end());
    }
    for (int level : {4, 5}) {
        PackCensus census;
        EXPECT_GT(ExpectRoundTrip({data, base}, level, &census), 0u);
        EXPECT_TRUE(level < 5 || census.SegmentsCut > 0);  // level 4's shallower search finds fewer
    }
}

// Heap in use, the large blocks that malloc maps on its own included.
size_t HeapInUse() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

struct HeapWatch {
    size_t Base;
    size_t Peak;
    uint64_t Handed;
};

void WatchHeap(void* user, uint64_t) {
    HeapWatch* w = static_cast<HeapWatch*>(user);
    size_t now = HeapInUse();
    if (now > w->Peak) w->Peak = now;
}

// What the compressor states it takes is a bound: the heap it holds while
// it codes a large poorly compressible entry (packed bytes waiting in it),
// many small entries and a long repetitive one stays below the figure, with
// one thread and with three (every thread's share is taken at creation, in
// the caller's thread, so the heap seen here holds it).
TEST(LzEncoder, MemoryStaysWithinWhatItStates) {
    Bytes noise = qvtest::Noise(3u << 19, 21);
    Bytes text = qvtest::WordText(1u << 20, 22);
    Bytes runs(1u << 20, 'x');
    for (int level = 1; level <= 5; level++) {
        for (uint32_t threads : {1u, 3u}) {
            HeapWatch watch = {HeapInUse(), 0, 0};
            watch.Peak = watch.Base;
            LzEncoderSetup setup;
            setup.Level = level;
            setup.Threads = threads;
            setup.User = &watch;
            setup.Progress = WatchHeap;
            setup.EntryBytes = [](void* user, uint32_t, const uint8_t*, size_t size) {
                static_cast<HeapWatch*>(user)->Handed += size;
                WatchHeap(user, 0);
            };
            setup.EntryPacked = [](void* user, uint32_t, const uint8_t*, size_t size) {
                static_cast<HeapWatch*>(user)->Handed += size;
                WatchHeap(user, 0);
            };
            LzEncoder* encoder = CreateLzEncoder(setup);
            ASSERT_NE(encoder, nullptr);
            WatchHeap(&watch, 0);
            for (size_t at = 0; at < noise.size(); at += 100000) {
                if (at == 0) StartEntry(encoder);
                size_t n = noise.size() - at < 100000 ? noise.size() - at : 100000;
                AddEntryBytes(encoder, noise.data() + at, static_cast<uint32_t>(n));
            }
            EndEntry(encoder);
            for (int i = 0; i < 2000; i++) EncodeEntry(encoder, text.data() + i * 300, 300);
            EncodeEntry(encoder, runs.data(), static_cast<uint32_t>(runs.size()));
            EncodeEntry(encoder, text.data(), static_cast<uint32_t>(text.size()));
            FinishEncoding(encoder);
            WatchHeap(&watch, 0);
            DestroyLzEncoder(encoder);
            EXPECT_GT(watch.Handed, noise.size()) << "level " << level;
            // Some 100 bytes per entry waiting for its block are allowed besides.
            EXPECT_LE(watch.Peak - watch.Base, LzEncoderMemory(level, threads) + 2004 * 100)
                << "level " << level << ", " << threads << " threads";
        }
        EXPECT_LT(LzEncoderMemory(level), size_t(48) << 20) << "level " << level;
    }
}

// The input is parsed in slices of fixed stream positions, each on its
// own; the archive must not depend on how many threads parse them. Entries
// here end inside the first slice, on its last byte (one fills it up to
// 4 MB) and in the next slice after running across the boundary, with an
// empty one among them.
TEST(LzEncoder, SameBytesForEveryNumberOfThreads) {
    std::vector<Bytes> entries = {qvtest::Mixed(1500000, 31), qvtest::WordText(700000, 32), Bytes(),
                                  OwnBinary(900000)};
    entries.push_back(qvtest::Mixed((4u << 20) - TotalSize(entries), 33));
    entries.push_back(qvtest::Mixed(1800000, 35));
    entries.push_back(qvtest::WordText(3000, 34));
    std::vector<Bytes> one;
    ASSERT_GT(ExpectRoundTrip(entries, 4, nullptr, &one), 0u);
    for (uint32_t threads : {2u, 3u, 8u})
        EXPECT_TRUE(PackBuffers(entries, 4, nullptr, threads) == one) << threads << " threads";
    // The lazy levels go the same way.
    EXPECT_TRUE(PackBuffers(entries, 2, nullptr, 1) == PackBuffers(entries, 2, nullptr, 3));
}

TEST(LzEncoder, SameOutputForSameInput) {
    std::vector<Bytes> entries = {qvtest::WordText(40000, 3), OwnBinary(30000), qvtest::Noise(100, 1)};
    for (int level = 1; level <= 5; level++) EXPECT_EQ(PackBuffers(entries, level), PackBuffers(entries, level));
}

TEST(LzEncoder, RefusesLevelsOutOfRange) {
    LzEncoderSetup setup;
    setup.Level = 0;
    EXPECT_EQ(CreateLzEncoder(setup), nullptr);
    setup.Level = 6;
    EXPECT_EQ(CreateLzEncoder(setup), nullptr);
}

}  // namespace
