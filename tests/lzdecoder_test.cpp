// The LZ decoder over the 1 MB window: symbol kinds, window wrap, solid
// entries, trailing table sets and damaged input.
#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "support/bitwriter.h"
#include "support/lzmodel.h"
#include "support/unpack_harness.h"
#include "unpack/lzdecoder.h"

namespace {

using qvtest::Bytes;
using qvtest::Lengths;
using qvtest::LzModel;
using qvtest::LzWriter;
using qvtest::Entry;
using qvtest::Result;

Entry MakeEntry(const Bytes& packed, uint32_t unpackedSize, bool solid = false) {
    Entry entry;
    entry.packed = packed;
    entry.unpackedSize = unpackedSize;
    entry.solid = solid;
    return entry;
}

// The slot of the length-table or distance-table whose range holds value.
int SlotHolding(uint32_t value, int count, qvtest::Slot (*slotOf)(int)) {
    for (int i = count - 1; i >= 0; i--)
        if (value >= slotOf(i).base) return i;
    return 0;
}

// Symbol 270 + lengthSlot with the raw distance bits; no bonus worked out.
void RawMatch(LzWriter& w, int lengthSlot, uint32_t lengthExtra, uint32_t distance) {
    w.Symbol(270 + lengthSlot);
    qvtest::Slot ls = qvtest::LengthSlot(lengthSlot);
    if (ls.extraBits) w.out.Put(lengthExtra, ls.extraBits);
    int slot = SlotHolding(distance - 1, 48, qvtest::DistanceSlot);
    qvtest::PutSymbol(w.out, w.distanceCodes, slot);
    qvtest::Slot ds = qvtest::DistanceSlot(slot);
    if (ds.extraBits) w.out.Put(distance - 1 - ds.base, ds.extraBits);
}

// Random lengths under which every symbol has a code of 1..15 bits.
Lengths RandomFullLengths(std::mt19937& rng) {
    std::vector<uint32_t> freq(374);
    uint32_t scale = 1u << (rng() % 18);
    for (auto& f : freq) f = 1 + rng() % scale;
    Lengths all(374);
    Lengths part;
    const int sizes[3] = {298, 48, 28};
    size_t at = 0;
    for (int t = 0; t < 3; t++) {
        part = qvtest::HuffmanLengths(std::vector<uint32_t>(freq.begin() + at, freq.begin() + at + sizes[t]), 15);
        std::copy(part.begin(), part.end(), all.begin() + at);
        at += sizes[t];
    }
    return all;
}

struct LzDecoderTest : ::testing::Test {
    qvtest::Session session;
    UnpackContext* ctx = session.ctx;

    // Runs one entry and checks it against the model's bytes from `from` on.
    void ExpectDecodes(const Bytes& packed, const LzModel& model, size_t from, bool solid) {
        Bytes expected(model.output.begin() + from, model.output.end());
        Result r = session.Run(MakeEntry(packed, static_cast<uint32_t>(expected.size()), solid));
        ASSERT_EQ(expected.size(), r.output.size());
        ASSERT_TRUE(expected == r.output);
        EXPECT_EQ(qvtest::ExpectedChecksum(expected), r.checksum);
        EXPECT_EQ(ctx->WindowPos, ctx->FlushedPos);
    }
};

TEST_F(LzDecoderTest, EverySymbolKindDecodesAsWritten) {
    LzWriter w;
    LzModel m;
    w.Tables(qvtest::GeneralLengths());
    m.Literal(w, 'A');
    m.Match(w, 10, 1);  // overlapping its own source: ten more 'A'
    for (const char* c = "quorvanel lite 2.21 "; *c; c++) m.Literal(w, static_cast<uint8_t>(*c));
    for (uint32_t d : {1u, 4u, 5u, 8u, 9u, 16u, 17u, 32u, 33u, 64u, 65u, 128u, 129u, 192u, 193u, 256u})
        m.ShortMatch(w, d);
    // Every length slot at both ends of its range, near and far.
    for (int slot = 0; slot < 28; slot++) {
        qvtest::Slot s = qvtest::LengthSlot(slot);
        m.Match(w, 3 + s.base, 3 + slot);
        m.Match(w, 3 + s.base + (1u << s.extraBits) - 1, 300 + slot);
    }
    // Every distance slot at both ends, the last one being 0x100000.
    for (int slot = 0; slot < 48; slot++) {
        qvtest::Slot s = qvtest::DistanceSlot(slot);
        for (uint32_t d : {s.base + 1, s.base + (1u << s.extraBits)}) {
            uint32_t bonus = (d >= 0x2000) + (d >= 0x40000);
            m.Match(w, 3 + bonus + slot % 5, d);
        }
    }
    for (int which = 0; which < 4; which++)
        for (int slot : {0, 7, 8, 27}) m.RecentMatch(w, which, slot, slot == 27 ? 31 : 0);
    m.RepeatLast(w);
    m.Literal(w, 'Z');
    m.RepeatLast(w);
    ExpectDecodes(w.Finish(), m, 0, false);
    EXPECT_EQ(m.prevDistance, ctx->PrevDistance);
    EXPECT_EQ(static_cast<int32_t>(m.prevLength), ctx->PrevLength);
}

TEST_F(LzDecoderTest, RepeatLastAsFirstSymbolCopiesNothingAndRecordsDistanceZero) {
    LzWriter w;
    w.Tables(qvtest::GeneralLengths());
    w.RepeatLast();
    w.Literal('A');
    w.RecentMatch(0, 0, 0);  // distance 0: two bytes from one window back, zeros
    Result r = session.Run(MakeEntry(w.Finish(), 3));
    EXPECT_EQ((Bytes{'A', 0, 0}), r.output);
    EXPECT_EQ(2, ctx->RecentCount);
    EXPECT_EQ(0u, ctx->RecentDistances[0]);
}

TEST_F(LzDecoderTest, RecentDistancesCountBackFromTheNewestAndTheFourthIsZero) {
    const uint32_t expected[4] = {7, 100, 5, 0};
    for (int which = 0; which < 4; which++) {
        LzWriter w;
        LzModel m;
        w.Tables(qvtest::GeneralLengths());
        for (int i = 0; i < 120; i++) m.Literal(w, static_cast<uint8_t>(i * 37 + 1));
        m.Match(w, 3, 5);
        m.Match(w, 3, 100);
        m.Match(w, 3, 7);
        m.RecentMatch(w, which, 1, 0);
        m.RecentMatch(w, 0, 1, 0);  // the distance just used is the newest again
        ExpectDecodes(w.Finish(), m, 0, false);
        EXPECT_EQ(expected[which], ctx->PrevDistance) << which;
        EXPECT_EQ(expected[which], ctx->RecentDistances[3]) << which;
        EXPECT_EQ(expected[which], ctx->RecentDistances[0]) << which;
        EXPECT_EQ(5, ctx->RecentCount);
    }
}

TEST_F(LzDecoderTest, FarMatchesAndRecentMatchesGetTheirLengthBonus) {
    struct Case {
        uint32_t distance;
        uint32_t matchLength;   // symbol 270, length slot 0
        uint32_t recentLength;  // symbol 257, length slot 0
    };
    const Case cases[] = {{256, 3, 2}, {257, 3, 3}, {8191, 3, 3}, {8192, 4, 4},
                          {262143, 4, 4}, {262144, 5, 5}, {0x100000, 5, 5}};
    for (const Case& c : cases) {
        LzWriter w;
        w.Tables(qvtest::GeneralLengths());
        RawMatch(w, 0, 0, c.distance);
        w.RecentMatch(0, 0, 0);
        uint32_t total = c.matchLength + c.recentLength;
        Result r = session.Run(MakeEntry(w.Finish(), total));
        EXPECT_EQ(total, r.output.size()) << c.distance;
        EXPECT_EQ(static_cast<int32_t>(c.recentLength), ctx->PrevLength) << c.distance;
    }
}

TEST_F(LzDecoderTest, MatchesWrapAroundTheWindowEnd) {
    std::mt19937 rng(5);
    LzWriter w;
    LzModel m;
    w.Tables(qvtest::GeneralLengths());
    while (m.output.size() < 0x100000 - 5) m.Literal(w, static_cast<uint8_t>(rng() % 200));
    m.Match(w, 20, 50);       // source before the end, destination across it
    m.Match(w, 40, 30);       // source across the end
    m.Match(w, 9, 0x100000);  // each byte from its own position one window back
    ExpectDecodes(w.Finish(), m, 0, false);
}

TEST_F(LzDecoderTest, EntryEndingAtTheLastWindowIndexLeavesPositionsAtZero) {
    std::mt19937 rng(6);
    LzWriter w;
    LzModel m;
    w.Tables(qvtest::GeneralLengths());
    while (m.output.size() < 0x100000 - 300) {
        if (rng() % 4)
            m.Literal(w, static_cast<uint8_t>(rng() % 250));
        else
            m.Match(w, 3 + rng() % 200, 1 + rng() % 5000);
    }
    while (m.output.size() < 0x100000) m.Literal(w, static_cast<uint8_t>(m.output.size()));
    ExpectDecodes(w.Finish(), m, 0, false);
    EXPECT_EQ(0u, ctx->WindowPos);
    EXPECT_EQ(0u, ctx->FlushedPos);

    // The next solid entry starts at index 0 and reaches back into the first.
    size_t from = m.output.size();
    LzWriter next;
    next.Use(w.current);
    m.Match(next, 10, 0x100000);
    m.RecentMatch(next, 0, 3, 0);
    m.Match(next, 30, 12345);
    ExpectDecodes(next.Finish(), m, from, true);
}

TEST_F(LzDecoderTest, PendingBytesNearTheWindowSizeAreWrittenInOrder) {
    // Whatever the flush moments, every byte reaches the file once and in
    // order, also when more than one window's worth is produced.
    for (uint32_t pendingBeforeLast : {0x100000u - 271, 0x100000u - 270, 0x100000u - 269, 0x100000u - 268}) {
        LzWriter w;
        LzModel m;
        w.Tables(qvtest::GeneralLengths());
        while (m.output.size() + 258 < pendingBeforeLast) m.Match(w, 258, 1 + m.output.size() % 300);
        while (m.output.size() < pendingBeforeLast) m.Literal(w, static_cast<uint8_t>(m.output.size()));
        m.Match(w, 260, 0x40000);  // the longest step
        m.Match(w, 258, 777);
        for (int i = 0; i < 300; i++) m.Literal(w, static_cast<uint8_t>(i));
        ExpectDecodes(w.Finish(), m, 0, false);
    }
}

// The longest match from the last window position where a fast step may
// begin, from the first where it may not, and from one a reach of 16 bytes
// would have allowed: its blocks, and the bytes read and put back after its
// end, stay inside the window (the sanitizer build sees any that do not).
TEST_F(LzDecoderTest, TheLongestMatchNearTheWindowEndCopiesInsideIt) {
    for (uint32_t start : {0x100000u - 260 - 32 - 1, 0x100000u - 260 - 32, 0x100000u - 260 - 16 - 1}) {
        LzWriter w;
        LzModel m;
        w.Tables(qvtest::GeneralLengths());
        while (m.output.size() + 258 < start) m.Match(w, 258, 1 + m.output.size() % 300);
        while (m.output.size() < start) m.Literal(w, static_cast<uint8_t>(m.output.size()));
        m.Match(w, 260, 0x40000);
        for (int i = 0; i < 40; i++) m.Literal(w, static_cast<uint8_t>(i));
        ExpectDecodes(w.Finish(), m, 0, false);
    }
}

TEST_F(LzDecoderTest, UnpackedSizeZeroReadsTheTablesAndWritesNothing) {
    Lengths tables = qvtest::GeneralLengths();
    tables[298] = 0;  // distance slot 0 off, so the set differs from any default
    tables[299] = 4;
    LzWriter w;
    w.Tables(tables);
    Result r = session.Run(MakeEntry(w.Finish(), 0));
    EXPECT_TRUE(r.output.empty());
    EXPECT_EQ(0xFFFFFFFFu, r.checksum);
    EXPECT_EQ(0, memcmp(ctx->PrevCodeLengths, tables.data(), tables.size()));

    // The tables serve the solid entry after it.
    LzWriter next;
    LzModel m;
    next.Use(tables);
    for (uint8_t c : {'o', 'k'}) m.Literal(next, c);
    m.Match(next, 4, 2);
    ExpectDecodes(next.Finish(), m, 0, true);
}

TEST_F(LzDecoderTest, SolidEntriesContinueWindowDistancesAndTrailingTables) {
    std::mt19937 rng(11);
    LzModel m;
    Lengths first = RandomFullLengths(rng);
    Lengths second = RandomFullLengths(rng);

    LzWriter a;
    a.Tables(first);
    for (const char* c = "abcdefgh"; *c; c++) m.Literal(a, static_cast<uint8_t>(*c));
    m.Match(a, 5, 3);
    m.ShortMatch(a, 6);
    a.SwitchTables(second, true);  // the tail set: for the next entry
    ExpectDecodes(a.Finish(), m, 0, false);
    EXPECT_EQ(0, memcmp(ctx->PrevCodeLengths, second.data(), second.size()));

    size_t from = m.output.size();
    LzWriter b;
    b.Use(second);
    m.RepeatLast(b);            // the last match of the entry before
    m.RecentMatch(b, 1, 2, 0);  // its recent distances
    m.Match(b, 12, 15);         // its bytes
    ExpectDecodes(b.Finish(), m, from, true);
}

TEST_F(LzDecoderTest, TableSwitchInTheMiddleAndAudioSetsKeepTheLzTables) {
    std::mt19937 rng(12);
    LzWriter w;
    LzModel m;
    w.Tables(qvtest::GeneralLengths());
    for (int i = 0; i < 50; i++) m.Literal(w, static_cast<uint8_t>(i));
    Lengths next = RandomFullLengths(rng);
    w.SwitchTables(next, true);  // deltas against the set before
    m.Match(w, 17, 40);
    for (int i = 0; i < 50; i++) m.Literal(w, static_cast<uint8_t>(200 + i));
    // Two audio channels: the set is read, the LZ tables stay in force.
    w.Symbol(269);
    Lengths audio(514);
    for (size_t i = 0; i < audio.size(); i++) audio[i] = i < 256 ? 8 : i >= 257 && i < 257 + 128 ? 7 : 0;
    qvtest::PutAudioTableSet(w.out, audio, Lengths(), false, 2);
    m.Match(w, 30, 77);
    m.Literal(w, 'x');
    ExpectDecodes(w.Finish(), m, 0, false);
    EXPECT_EQ(0x8000u, ctx->AudioFlag);
    EXPECT_EQ(2, ctx->ChannelCount);
}

TEST_F(LzDecoderTest, SkippedEntryAdvancesTheStateWithoutWritingOrChecksumming) {
    LzWriter a;
    LzModel m;
    a.Tables(qvtest::GeneralLengths());
    for (const char* c = "skipped text"; *c; c++) m.Literal(a, static_cast<uint8_t>(*c));
    Entry skipped = MakeEntry(a.Finish(), static_cast<uint32_t>(m.output.size()));
    skipped.write = false;
    skipped.skip = true;
    Result r = session.Run(skipped);
    EXPECT_EQ(0xFFFFFFFFu, r.checksum);
    EXPECT_EQ(m.output.size(), ctx->WindowPos);

    size_t from = m.output.size();
    LzWriter b;
    b.Use(a.current);
    m.Match(b, 7, 12);
    ExpectDecodes(b.Finish(), m, from, true);
}

TEST_F(LzDecoderTest, TruncatedEntryWithAHugeStoredSizeEndsWithAMismatch) {
    std::mt19937 rng(13);
    LzWriter w;
    LzModel m;
    w.Tables(qvtest::GeneralLengths());
    while (m.output.size() < 100000) {
        if (rng() % 3)
            m.Literal(w, static_cast<uint8_t>(rng()));
        else
            m.Match(w, 3 + rng() % 100, 1 + rng() % 2000);
    }
    Bytes packed = w.Finish();
    Bytes cut(packed.begin(), packed.begin() + packed.size() / 3);

    // The packed size claims all, the stream holds a third; then the packed
    // size itself is a third; and both with a stored size of 2 GB.
    for (int variant = 0; variant < 2; variant++) {
        Entry entry = MakeEntry(cut, 0x80000000u);
        if (variant == 0) entry.packedSize = static_cast<int64_t>(packed.size());
        Result r = session.Run(entry);
        EXPECT_NE(qvtest::ExpectedChecksum(m.output), r.checksum);
        EXPECT_LT(r.output.size(), m.output.size()) << variant;  // stops with the input
        EXPECT_GT(r.output.size(), 10000u) << variant;
        EXPECT_TRUE(std::equal(r.output.begin(), r.output.begin() + 10000, m.output.begin()));
    }
}

TEST_F(LzDecoderTest, SolidEntryWhoseTailTablesStandInTheCarriedBytes) {
    // Entry A fills one input buffer exactly. Its last step starts past the
    // refill mark, so the refill before it reads nothing; the table set that
    // follows lies wholly in the 32 bytes carried to the front and must be
    // read for entry B.
    Lengths tiny(374, 0);
    tiny['A'] = 1;
    tiny['B'] = 1;
    qvtest::BitWriter probe;
    qvtest::PutTableSet(probe, tiny, Lengths(), false);
    const uint32_t tailBits = 9 + probe.bitCount;  // symbol 269 has a 9-bit code

    LzWriter a;
    LzModel m;
    a.Tables(qvtest::GeneralLengths());
    const uint32_t literalCount = (8192 * 8 - tailBits - a.out.bitCount) / 8;  // 8-bit codes
    const uint32_t lastStepBit = a.out.bitCount + (literalCount - 1) * 8;
    ASSERT_GT(lastStepBit / 8, 8162u);
    for (uint32_t i = 0; i < literalCount; i++) m.Literal(a, static_cast<uint8_t>(i % 200));
    a.SwitchTables(tiny, false);
    Bytes packed = a.Finish();
    packed.resize(8192, 0);
    ExpectDecodes(packed, m, 0, false);

    size_t from = m.output.size();
    LzWriter b;
    b.Use(tiny);
    for (const char* c = "ABBABAAB"; *c; c++) m.Literal(b, static_cast<uint8_t>(*c));
    ExpectDecodes(b.Finish(), m, from, true);
}

TEST_F(LzDecoderTest, RandomSolidRunMatchesThePlainModel) {
    std::mt19937 rng(2024);
    LzModel m;
    Lengths tables = RandomFullLengths(rng);
    bool solid = false;
    for (int entryIndex = 0; entryIndex < 6; entryIndex++) {
        LzWriter w;
        if (solid)
            w.Use(tables);
        else
            w.Tables(tables);
        size_t from = m.output.size();
        size_t target = entryIndex == 2 ? 1300000 : 1 + rng() % 200000;
        while (m.output.size() - from < target) {
            uint32_t kind = rng() % 100;
            if (kind < 45) {
                m.Literal(w, static_cast<uint8_t>(rng() % (kind < 20 ? 256 : 16)));
            } else if (kind < 65) {
                int slot = static_cast<int>(rng() % 48);
                qvtest::Slot s = qvtest::DistanceSlot(slot);
                uint32_t d = s.base + 1 + (rng() & ((1u << s.extraBits) - 1));
                uint32_t bonus = (d >= 0x2000) + (d >= 0x40000);
                m.Match(w, 3 + bonus + rng() % 256, d);
            } else if (kind < 75) {
                m.ShortMatch(w, 1 + rng() % 256);
            } else if (kind < 88) {
                int slot = static_cast<int>(rng() % 28);
                m.RecentMatch(w, static_cast<int>(rng() % 4), slot, rng() & ((1u << qvtest::LengthSlot(slot).extraBits) - 1));
            } else if (kind < 96) {
                m.RepeatLast(w);
            } else if (kind < 97) {
                Lengths next = rng() % 2 ? RandomFullLengths(rng) : qvtest::GeneralLengths();
                w.SwitchTables(next, rng() % 2 == 0);
            } else {
                m.Match(w, 3 + rng() % 40, 1 + rng() % 8);  // overlapping runs
            }
        }
        // A match may run past the target: the entry's size is what was produced.
        if (rng() % 2) w.SwitchTables(RandomFullLengths(rng), rng() % 2 == 0);
        tables = w.current;
        ExpectDecodes(w.Finish(), m, from, solid);
        if (HasFailure()) return;
        solid = true;
    }
}

TEST_F(LzDecoderTest, PackedLiteralsDecodeToTheirInputAlsoSolid) {
    std::mt19937 rng(21);
    Bytes first(20000);
    for (size_t i = 0; i < first.size(); i++) first[i] = static_cast<uint8_t>(i < 256 ? i : rng());
    Bytes packed = qvtest::PackLiterals(first.data(), first.size(), false);
    Result r = session.Run(MakeEntry(packed, static_cast<uint32_t>(first.size())));
    ASSERT_TRUE(first == r.output);
    EXPECT_EQ(qvtest::ExpectedChecksum(first), r.checksum);

    const Bytes second = {'s', 'o', 'l', 'i', 'd'};
    r = session.Run(MakeEntry(qvtest::PackLiterals(second.data(), second.size(), true), 5, true));
    EXPECT_TRUE(second == r.output);
    r = session.Run(MakeEntry(qvtest::PackLiterals(nullptr, 0, false), 0));
    EXPECT_TRUE(r.output.empty());
}

TEST_F(LzDecoderTest, GarbageInputEndsWithinItsOwnLength) {
    // Random bytes as a non-solid entry: whatever they decode to, the
    // decoder stops once they are used up, also with a huge stored size.
    std::mt19937 rng(77);
    for (int round = 0; round < 40; round++) {
        Bytes junk(1 + rng() % 20000);
        for (auto& b : junk) b = static_cast<uint8_t>(rng());
        Entry entry = MakeEntry(junk, round % 2 ? 0x7FFFFFFFu : rng() % 100000, round % 3 == 0);
        Result r = session.Run(entry);
        EXPECT_LE(r.output.size(), junk.size() * 8 * 260 + 0x100000u);
        EXPECT_LE(r.streamPos, static_cast<long>(junk.size()));
    }
}

TEST_F(LzDecoderTest, SolidEntryBeforeAnyTableSetDecodesWithTheEmptyTables) {
    // All code lengths zero: each step takes 15 bits and yields the symbol
    // at position 0 of the zero-filled table, a literal 0.
    Result r = session.Run(MakeEntry(Bytes(64, 0xAB), 20, true));
    EXPECT_EQ(Bytes(20, 0), r.output);
    EXPECT_EQ(21u * 15 / 8, ctx->InputPos);  // one more for the trailing check
}

}  // namespace
