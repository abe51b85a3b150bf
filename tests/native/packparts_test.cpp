// The compressor's building blocks checked against the installer's own
// readers: length-limited codes, table sets, the symbol slots, and the
// verifier's verdict on damaged archives.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>

#include <vector>

#include "base/context.h"
#include "pack/archivewriter.h"
#include "pack/bitsink.h"
#include "pack/huffman.h"
#include "pack/lzformat.h"
#include "pack/tableset.h"
#include "support/archive_builder.h"
#include "install/walk.h"
#include "unpack/bitinput.h"
#include "unpack/codetables.h"
#include "unpack/huffman.h"

namespace {

struct Context {
    UnpackContext* ctx = CreateUnpackContext();
    ~Context() { FreeAndClear(&ctx); }
    // Puts a bit stream at the start of the input buffer.
    void Load(const BitSink& sink) {
        BitSink copy = sink;
        AlignToByte(&copy);
        ASSERT_LE(copy.Bytes.size(), sizeof ctx->InputBuffer);
        memcpy(ctx->InputBuffer, copy.Bytes.data(), copy.Bytes.size());
        ctx->InputPos = ctx->InputBit = 0;
        ctx->InputEnd = static_cast<uint32_t>(copy.Bytes.size());
    }
};

double KraftSum(const uint8_t* lengths, size_t n) {
    double sum = 0;
    for (size_t i = 0; i < n; i++)
        if (lengths[i]) sum += 1.0 / static_cast<double>(1u << lengths[i]);
    return sum;
}

// Counts growing like Fibonacci numbers give an unlimited Huffman tree far
// deeper than 15; the limited code must still fit and decode every symbol.
TEST(HuffmanCodes, DeepTreesAreLimitedTo15BitsAndDecode) {
    std::vector<uint32_t> counts(40);
    uint32_t a = 1, b = 1;
    for (uint32_t& c : counts) {
        c = a;
        uint32_t next = a + b;
        a = b;
        b = next > 0x0FFFFFFF ? 0x0FFFFFFF : next;
    }
    uint8_t lengths[40];
    BuildCodeLengths(counts.data(), 40, kMaxCodeBits, lengths);
    for (uint8_t l : lengths) {
        EXPECT_GE(l, 1);
        EXPECT_LE(l, 15);
    }
    EXPECT_LE(KraftSum(lengths, 40), 1.0);
    EXPECT_LE(lengths[39], lengths[0]);  // the frequent symbol is not longer

    // Every code decodes to its own symbol with the installer's tables.
    uint16_t codes[40];
    AssignCanonicalCodes(lengths, 40, codes);
    Context c;
    HuffTable table;
    BuildHuffTable(lengths, &table, 40);
    for (uint32_t s = 0; s < 40; s++) {
        BitSink sink;
        PutBits(&sink, codes[s], lengths[s]);
        PutBits(&sink, 0xFFFF, 16);  // whatever follows must not matter
        c.Load(sink);
        EXPECT_EQ(DecodeHuffSymbol(c.ctx, &table), s);
        EXPECT_EQ(c.ctx->InputPos * 8 + c.ctx->InputBit, lengths[s]);
    }
}

TEST(HuffmanCodes, OneOrNoSymbolInUse) {
    uint32_t counts[5] = {0, 0, 7, 0, 0};
    uint8_t lengths[5];
    BuildCodeLengths(counts, 5, kMaxCodeBits, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), (std::vector<uint8_t>{0, 0, 1, 0, 0}));
    counts[2] = 0;
    BuildCodeLengths(counts, 5, kMaxCodeBits, lengths);
    EXPECT_EQ(std::vector<uint8_t>(lengths, lengths + 5), std::vector<uint8_t>(5, 0));
}

// Writes a table set and reads it back with the installer's reader.
std::vector<uint8_t> ReadBack(const uint8_t* lengths, const uint8_t* previous, TableSetPlan* plan) {
    PlanTableSet(lengths, previous, plan);
    BitSink sink;
    WriteTableSet(&sink, *plan);
    EXPECT_EQ(BitsWritten(&sink), plan->Bits);
    Context c;
    memcpy(c.ctx->PrevCodeLengths, previous, kLzTableSetSize);
    c.Load(sink);
    ReadCodeTables(c.ctx);
    EXPECT_EQ(c.ctx->InputPos * 8 + c.ctx->InputBit, plan->Bits);  // nothing more, nothing less
    return std::vector<uint8_t>(c.ctx->PrevCodeLengths, c.ctx->PrevCodeLengths + kLzTableSetSize);
}

TEST(TableSets, ReadBackAbsoluteAndAsDeltas) {
    uint8_t zero[kLzTableSetSize] = {0};
    uint8_t first[kLzTableSetSize];
    for (int i = 0; i < kLzTableSetSize; i++) first[i] = static_cast<uint8_t>(i < 256 ? 8 + (i % 3) : 0);
    first[269] = 5;
    for (int i = 298; i < 330; i++) first[i] = 6;  // a long run for symbol 16
    first[373] = 4;                                 // the last position used
    TableSetPlan plan;
    std::vector<uint8_t> got = ReadBack(first, zero, &plan);
    EXPECT_EQ(got, std::vector<uint8_t>(first, first + kLzTableSetSize));

    // A set close to the one before codes shorter as deltas.
    uint8_t second[kLzTableSetSize];
    memcpy(second, first, sizeof second);
    second[10] = 12;
    second[300] = 2;
    TableSetPlan deltaPlan;
    got = ReadBack(second, first, &deltaPlan);
    EXPECT_EQ(got, std::vector<uint8_t>(second, second + kLzTableSetSize));
    EXPECT_TRUE(deltaPlan.Keep);
    EXPECT_LT(deltaPlan.Bits, plan.Bits);

    // Unrelated to the one before: absolute.
    uint8_t third[kLzTableSetSize] = {0};
    third[0] = third[1] = 1;
    TableSetPlan absolutePlan;
    got = ReadBack(third, second, &absolutePlan);
    EXPECT_EQ(got, std::vector<uint8_t>(third, third + kLzTableSetSize));
    EXPECT_FALSE(absolutePlan.Keep);
}

TEST(TableSets, RunsThatReachTheEndOfTheSet) {
    uint8_t zero[kLzTableSetSize] = {0};
    uint8_t lengths[kLzTableSetSize] = {0};
    lengths[0] = lengths[1] = 1;  // everything after is a zero run to the end
    TableSetPlan plan;
    EXPECT_EQ(ReadBack(lengths, zero, &plan), std::vector<uint8_t>(lengths, lengths + kLzTableSetSize));
    for (int i = 0; i < kLzTableSetSize; i++) lengths[i] = 9;  // one length repeated to the end
    EXPECT_EQ(ReadBack(lengths, zero, &plan), std::vector<uint8_t>(lengths, lengths + kLzTableSetSize));
}

// Every length and distance falls into the slot whose base and extra bits
// cover it, as the decoder adds them up.
TEST(SymbolSlots, CoverEveryValueExactly) {
    for (uint32_t v = 0; v < 256; v++) {
        uint32_t slot = LengthSlot(v);
        ASSERT_LT(slot, static_cast<uint32_t>(kLengthSlots));
        EXPECT_GE(v, LengthBase[slot]);
        EXPECT_LT(v, LengthBase[slot] + (1u << LengthExtraBits[slot])) << v;
    }
    for (uint32_t d = 1; d <= kWindowSize; d++) {
        uint32_t slot = DistanceSlot(d);
        ASSERT_LT(slot, static_cast<uint32_t>(kDistanceSymbols));
        uint32_t value = d - 1;
        ASSERT_GE(value, DistanceBase[slot]) << d;
        ASSERT_LT(value, DistanceBase[slot] + (1u << DistanceExtraBits[slot])) << d;
    }
    for (uint32_t d = 1; d <= 256; d++) {
        uint32_t slot = ShortSlot(d);
        ASSERT_LT(slot, 8u);
        EXPECT_GE(d - 1, ShortDistanceBase[slot]);
        EXPECT_LT(d - 1, ShortDistanceBase[slot] + (1u << ShortDistanceExtraBits[slot])) << d;
    }
    EXPECT_EQ(MatchLengthBonus(0x1FFF), 0u);
    EXPECT_EQ(MatchLengthBonus(0x2000), 1u);
    EXPECT_EQ(MatchLengthBonus(0x40000), 2u);
    EXPECT_EQ(RecentLengthBonus(0x100), 0u);
    EXPECT_EQ(RecentLengthBonus(0x101), 1u);
    EXPECT_EQ(RecentLengthBonus(0x40000), 3u);
}

// The verifier must not pass an archive that would install wrong files.
TEST(Verifier, RejectsDamagedArchives) {
    std::string dir = qvtest::MakeTempDir("verify");
    std::vector<uint8_t> text;
    for (int i = 0; i < 20000; i++) text.push_back(static_cast<uint8_t>("abcdefgh"[(i * 7 + i / 13) % 8]));
    FILE* f = fopen((dir + "/a.txt").c_str(), "wb");
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
    f = fopen((dir + "/b.txt").c_str(), "wb");
    fwrite(text.data(), 1, 5000, f);
    fclose(f);
    std::vector<PackSource> sources;
    std::string error;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error)) << error;
    std::string path = qvtest::WriteTempFile(qvtest::Bytes(), "good.rar");
    f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(WriteArchive(f, &sources, 3, nullptr, nullptr, nullptr, &error)) << error;
    fclose(f);
    ASSERT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;
    qvtest::Bytes good = qvtest::ReadFileBytes(path);

    qvtest::Bytes flipped = good;
    flipped[20 + 32 + 5 + 40] ^= 0x10;  // inside the first entry's packed data
    EXPECT_FALSE(VerifyArchiveFile(qvtest::WriteTempFile(flipped, "flipped.rar"), sources, nullptr, nullptr, &error));
    qvtest::Bytes cut(good.begin(), good.end() - 10);
    EXPECT_FALSE(VerifyArchiveFile(qvtest::WriteTempFile(cut, "cut.rar"), sources, nullptr, nullptr, &error));
    std::vector<PackSource> more = sources;
    more.push_back(sources[0]);
    EXPECT_FALSE(VerifyArchiveFile(path, more, nullptr, nullptr, &error));
    EXPECT_FALSE(VerifyArchiveFile(path + ".missing", sources, nullptr, nullptr, &error));
}

}  // namespace
