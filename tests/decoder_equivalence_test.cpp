// DecompressFile against the plain reference of the decode loop, entry by
// entry on the same inputs: valid streams under all kinds of tables, the same
// streams damaged, cut short or followed by junk, and random bytes. Both must
// leave the same output, checksum, stream position, window and decoder state.
#include <gtest/gtest.h>
#include <string.h>

#include <random>

#include "support/bitwriter.h"
#include "support/lzmodel.h"
#include "support/reference_decoder.h"
#include "support/unpack_harness.h"

namespace {

using qvtest::Bytes;
using qvtest::Entry;
using qvtest::Lengths;
using qvtest::LzModel;
using qvtest::LzWriter;
using qvtest::Result;

// Code lengths of one alphabet for frequencies spread over many powers of
// two: short codes for a few symbols (several literals per lookup), the
// longest codes for many (past any lookup).
Lengths SpreadLengths(std::mt19937& rng, int count, int maxLength) {
    std::vector<uint32_t> freq(static_cast<size_t>(count));
    int spread = 4 + static_cast<int>(rng() % 24);
    for (auto& f : freq) f = 1u << (rng() % static_cast<uint32_t>(spread));
    return qvtest::HuffmanLengths(freq, maxLength);
}

// A full LZ set of one of several shapes.
Lengths SomeFullLengths(std::mt19937& rng) {
    if (rng() % 5 == 0) return qvtest::GeneralLengths();
    int maxLength = rng() % 3 == 0 ? 15 : 9 + static_cast<int>(rng() % 7);  // 298 symbols need 9 bits
    Lengths all;
    for (int count : {298, 48, 28}) {
        Lengths part = SpreadLengths(rng, count, maxLength);
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Lengths no encoder would write: over-full, incomplete, all zero, a single
// code, only long codes.
Lengths OddLengths(std::mt19937& rng) {
    Lengths lengths(374, 0);
    switch (rng() % 5) {
        case 0:
            for (auto& l : lengths) l = static_cast<uint8_t>(rng() % 16);
            break;
        case 1:
            for (auto& l : lengths) l = static_cast<uint8_t>(rng() % 3 ? 0 : 1 + rng() % 15);
            break;
        case 2:
            for (auto& l : lengths) l = static_cast<uint8_t>(rng() % 5);
            break;
        case 3:
            for (auto& l : lengths) l = static_cast<uint8_t>(rng() % 4 ? 0 : 11 + rng() % 5);
            break;
        default:
            for (int i = 0; i < 3; i++) lengths[rng() % 374] = static_cast<uint8_t>(1 + rng() % 15);
            break;
    }
    return lengths;
}

uint32_t RandomDistance(std::mt19937& rng) {
    switch (rng() % 8) {
        case 0: return 1 + rng() % 8;                    // runs and short patterns
        case 1: return 8 + rng() % 24;                   // near the block sizes
        case 2: return 0x100000 - rng() % 40;            // reaching ahead in the ring
        case 3: return 1 + rng() % 0x100000;             // anywhere
        default: return 1 + rng() % 3000;
    }
}

// Writes about `size` bytes of symbols of every kind under the writer's
// current tables, applying them to the model.
void WriteSymbols(std::mt19937& rng, LzWriter& w, LzModel& m, size_t size, bool switches) {
    size_t start = m.output.size();
    bool literalRun = rng() % 3 == 0;
    while (m.output.size() - start < size) {
        uint32_t kind = rng() % 100;
        if (kind < (literalRun ? 85u : 40u)) {
            m.Literal(w, static_cast<uint8_t>(rng() % (kind < 20 ? 256 : 12)));
        } else if (kind < 88) {
            uint32_t d = RandomDistance(rng);
            uint32_t bonus = (d >= 0x2000) + (d >= 0x40000);
            uint32_t length = 3 + bonus + (rng() % 4 ? rng() % 20 : rng() % 256);
            m.Match(w, length, d);
        } else if (kind < 92) {
            m.ShortMatch(w, 1 + rng() % 256);
        } else if (kind < 96) {
            int slot = static_cast<int>(rng() % 28);
            m.RecentMatch(w, static_cast<int>(rng() % 4), slot,
                          rng() & ((1u << qvtest::LengthSlot(slot).extraBits) - 1));
        } else if (kind < 99) {
            m.RepeatLast(w);
        } else if (switches) {
            w.SwitchTables(SomeFullLengths(rng), rng() % 2 == 0);
        }
    }
}

struct Pair {
    qvtest::Session fast, plain;

    // Runs the entry through both and compares everything they leave.
    void Run(const Entry& entry, const char* what) {
        SCOPED_TRACE(what);
        Result a = fast.Run(entry);
        Result b = plain.Run(entry, qvtest::ReferenceDecompressFile);
        ASSERT_EQ(b.output.size(), a.output.size());
        ASSERT_TRUE(a.output == b.output);
        EXPECT_EQ(b.checksum, a.checksum);
        EXPECT_EQ(b.streamPos, a.streamPos);
        const UnpackContext* x = fast.ctx;
        const UnpackContext* y = plain.ctx;
        EXPECT_EQ(y->InputPos, x->InputPos);
        EXPECT_EQ(y->InputBit, x->InputBit);
        EXPECT_EQ(y->InputEnd, x->InputEnd);
        EXPECT_EQ(y->WindowPos, x->WindowPos);
        EXPECT_EQ(y->FlushedPos, x->FlushedPos);
        EXPECT_EQ(y->UnpackedLeft, x->UnpackedLeft);
        EXPECT_EQ(y->PrevDistance, x->PrevDistance);
        EXPECT_EQ(y->PrevLength, x->PrevLength);
        EXPECT_EQ(y->RecentCount, x->RecentCount);
        EXPECT_EQ(0, memcmp(y->RecentDistances, x->RecentDistances, sizeof x->RecentDistances));
        EXPECT_EQ(y->AudioFlag, x->AudioFlag);
        EXPECT_EQ(y->ChannelCount, x->ChannelCount);
        EXPECT_EQ(0, memcmp(y->PrevCodeLengths, x->PrevCodeLengths, sizeof x->PrevCodeLengths));
        EXPECT_EQ(0, memcmp(y->InputBuffer, x->InputBuffer, sizeof x->InputBuffer));
        ASSERT_EQ(0, memcmp(plain.window, fast.window, kWindowSize)) << "window contents";
    }
};

Entry MakeEntry(const Bytes& packed, uint32_t unpackedSize, bool solid) {
    Entry entry;
    entry.packed = packed;
    entry.unpackedSize = unpackedSize;
    entry.solid = solid;
    return entry;
}

// Damages a valid stream in one of several ways.
Entry Damaged(std::mt19937& rng, Entry entry) {
    Bytes& p = entry.packed;
    switch (rng() % 5) {
        case 0:  // a few flipped bits
            for (int i = 1 + static_cast<int>(rng() % 8); i > 0 && !p.empty(); i--)
                p[rng() % p.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
            break;
        case 1:  // cut short
            p.resize(p.empty() ? 0 : rng() % p.size());
            break;
        case 2:  // the packed size says less than the stream holds
            entry.packedSize = static_cast<int64_t>(p.empty() ? 0 : rng() % p.size());
            break;
        case 3:  // a stated size far beyond the data
            entry.unpackedSize = rng() % 2 ? 0x7FFFFFFFu : entry.unpackedSize + 1 + rng() % 100000;
            break;
        default:  // junk after the data, and a packed size that takes it in
            for (int i = 0; i < 64; i++) entry.after.push_back(static_cast<uint8_t>(rng()));
            entry.packedSize = static_cast<int64_t>(p.size() + rng() % 64);
            break;
    }
    return entry;
}

TEST(DecoderEquivalence, ValidStreamsUnderEveryKindOfTable) {
    std::mt19937 rng(31337);
    Pair pair;
    Lengths tables;
    for (int round = 0; round < 60 && !testing::Test::HasFailure(); round++) {
        bool solid = round > 0 && rng() % 6 != 0;
        LzWriter w;
        LzModel m;  // only writes the symbols: the decoders are compared with each other
        if (solid) {
            w.Use(tables);
        } else {
            tables = SomeFullLengths(rng);
            w.Tables(tables);
        }
        size_t size = rng() % 4 == 0 ? rng() % 50 : rng() % 3 == 0 ? 200000 + rng() % 600000 : rng() % 30000;
        WriteSymbols(rng, w, m, size, true);
        if (rng() % 3 == 0) w.SwitchTables(SomeFullLengths(rng), rng() % 2 == 0);  // for the next entry
        tables = w.current;
        Entry entry = MakeEntry(w.Finish(rng() % 2 ? 0 : rng() % 40), static_cast<uint32_t>(m.output.size()), solid);
        entry.skip = rng() % 10 == 0;
        entry.write = !entry.skip;
        entry.format = rng() % 8 == 0 ? 1 : 2;
        pair.Run(entry, "valid");
    }
}

TEST(DecoderEquivalence, DamagedStreamsDecodeAlike) {
    std::mt19937 rng(4242);
    Pair pair;
    for (int round = 0; round < 150 && !testing::Test::HasFailure(); round++) {
        LzWriter w;
        LzModel m;
        bool odd = rng() % 4 == 0;
        bool solid = round > 0 && rng() % 3 == 0;
        Entry entry;
        if (odd) {
            // Odd tables, then random bits in place of symbols.
            qvtest::PutTableSet(w.out, OddLengths(rng), Lengths(), false);
            for (int i = static_cast<int>(rng() % 4000); i > 0; i--) w.out.Put(rng(), 8);
            entry = MakeEntry(w.Finish(), rng() % 2 ? 0x7FFFFFFFu : rng() % 200000, solid);
        } else {
            if (solid)
                w.Use(qvtest::GeneralLengths());
            else
                w.Tables(SomeFullLengths(rng));
            WriteSymbols(rng, w, m, rng() % 40000, true);
            entry = Damaged(rng, MakeEntry(w.Finish(), static_cast<uint32_t>(m.output.size()), solid));
        }
        entry.format = rng() % 8 == 0 ? 1 : 2;
        pair.Run(entry, odd ? "odd tables" : "damaged");
    }
}

TEST(DecoderEquivalence, RandomBytesDecodeAlike) {
    std::mt19937 rng(777);
    Pair pair;
    for (int round = 0; round < 200 && !testing::Test::HasFailure(); round++) {
        Bytes junk(1 + rng() % (round % 10 == 0 ? 30000 : 600));
        for (auto& b : junk) b = static_cast<uint8_t>(rng() % 4 ? rng() : 0);
        uint32_t size = rng() % 3 == 0 ? 0x7FFFFFFFu : rng() % 100000;
        pair.Run(MakeEntry(junk, size, round > 0 && rng() % 2 == 0), "random");
    }
}

TEST(DecoderEquivalence, EntriesAcrossTheWindowEndAndTheFlushMark) {
    // A long solid chain: the output passes the window's end several times,
    // with matches reaching across it and ahead of the position in the ring.
    std::mt19937 rng(99);
    Pair pair;
    Lengths tables = SomeFullLengths(rng);
    for (int round = 0; round < 8 && !testing::Test::HasFailure(); round++) {
        LzWriter w;
        LzModel m;
        if (round == 0)
            w.Tables(tables);
        else
            w.Use(tables);
        WriteSymbols(rng, w, m, 300000 + rng() % 500000, false);
        pair.Run(MakeEntry(w.Finish(), static_cast<uint32_t>(m.output.size()), round > 0), "long chain");
    }
}

}  // namespace
