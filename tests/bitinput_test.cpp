// Packed-byte input, bit reading and Huffman decode tables.
#include <gtest/gtest.h>

#include <string>
#include <string.h>

#include <random>

#include "support/bitwriter.h"
#include "support/unpack_harness.h"
#include "unpack/bitinput.h"
#include "unpack/huffman.h"

namespace {

using qvtest::Bytes;

struct BitInputTest : ::testing::Test {
    qvtest::Session session;
    UnpackContext* ctx = session.ctx;
    FileStream* stream = nullptr;

    // Makes data the archive stream with packedLeft packed bytes to read.
    void Feed(const Bytes& data, int32_t packedLeft) {
        stream = qvtest::StreamOf(data);
        ctx->ArchiveFile = ctx->InputFile = stream;
        ctx->PackedLeft = packedLeft;
    }
    void TearDown() override {
        qvtest::CloseStream(stream);
    }
};

Bytes Sequence(size_t size, uint8_t start = 0) {
    Bytes data(size);
    for (size_t i = 0; i < size; i++) data[i] = static_cast<uint8_t>(start + i * 7 + (i >> 8));
    return data;
}

TEST_F(BitInputTest, PeekGivesSixteenBitsFromTheBitPositionAndSkipAdvances) {
    ctx->InputBuffer[0] = 0xA5;
    ctx->InputBuffer[1] = 0x0F;
    ctx->InputBuffer[2] = 0xC3;
    EXPECT_EQ(0xA50Fu, PeekBits(ctx));
    EXPECT_EQ(0u, ctx->InputPos);  // nothing consumed
    SkipBits(ctx, 3);
    EXPECT_EQ(0x287Eu, PeekBits(ctx));
    SkipBits(ctx, 13);  // 16 bits in all: a whole byte pair
    EXPECT_EQ(2u, ctx->InputPos);
    EXPECT_EQ(0u, ctx->InputBit);
    SkipBits(ctx, 0);
    EXPECT_EQ(2u, ctx->InputPos);
    SkipBits(ctx, 7);
    SkipBits(ctx, 16);
    EXPECT_EQ(4u, ctx->InputPos);
    EXPECT_EQ(7u, ctx->InputBit);
}

TEST_F(BitInputTest, ReadPackedBytesStopsAtThePackedSizeAndAtTheStreamEnd) {
    uint8_t buffer[64] = {0};
    Bytes data = Sequence(40);
    Feed(data, 30);
    EXPECT_EQ(0u, ReadPackedBytes(ctx, buffer, 0));
    EXPECT_EQ(20u, ReadPackedBytes(ctx, buffer, 20));
    EXPECT_EQ(10, ctx->PackedLeft);
    EXPECT_EQ(10u, ReadPackedBytes(ctx, buffer + 20, 20));  // only what is left of the entry
    EXPECT_EQ(0, ctx->PackedLeft);
    EXPECT_EQ(0, memcmp(buffer, data.data(), 30));
    EXPECT_EQ(30, TellFile(stream));  // the bytes after the entry stay unread
    EXPECT_EQ(0u, ReadPackedBytes(ctx, buffer, 20));

    // A stream that ends before the packed size: what there is, once.
    qvtest::CloseStream(stream);
    stream = nullptr;
    Feed(Sequence(12), 1000);
    EXPECT_EQ(12u, ReadPackedBytes(ctx, buffer, 64));
    EXPECT_EQ(988, ctx->PackedLeft);
    EXPECT_EQ(0u, ReadPackedBytes(ctx, buffer, 64));
}

TEST_F(BitInputTest, ReadPackedBytesReadsNothingWithoutAnArchiveOrWithAHugePackedSize) {
    uint8_t buffer[16] = {0};
    Feed(Sequence(16), 16);
    ctx->ArchiveFile = nullptr;
    EXPECT_EQ(0u, ReadPackedBytes(ctx, buffer, 16));
    EXPECT_EQ(16, ctx->PackedLeft);
    // A stored packed size of 2 GB or more is negative as a signed count.
    ctx->ArchiveFile = stream;
    ctx->PackedLeft = static_cast<int32_t>(0x80000000u);
    EXPECT_EQ(0u, ReadPackedBytes(ctx, buffer, 16));
    EXPECT_EQ(0, TellFile(stream));
}

TEST_F(BitInputTest, FirstFillReadsAtMostTheBufferAndTheEntry) {
    Feed(Bytes(), 0);
    ctx->InputPos = 77;
    FillInputBuffer(ctx, 1);
    EXPECT_EQ(0u, ctx->InputEnd);
    EXPECT_EQ(0u, ctx->InputPos);
    qvtest::CloseStream(stream);
    stream = nullptr;

    Bytes data = Sequence(9000);
    Feed(data, 100);
    FillInputBuffer(ctx, 1);
    EXPECT_EQ(100u, ctx->InputEnd);
    EXPECT_EQ(100, TellFile(stream));
    qvtest::CloseStream(stream);
    stream = nullptr;

    Feed(data, 9000);
    FillInputBuffer(ctx, 1);
    EXPECT_EQ(8192u, ctx->InputEnd);
    EXPECT_EQ(0, memcmp(ctx->InputBuffer, data.data(), 8192));
}

TEST_F(BitInputTest, RefillKeepsTheBitPositionAndTheCarriedBytes) {
    Bytes data = Sequence(8192 + 500);
    Feed(data, static_cast<int32_t>(data.size()));
    FillInputBuffer(ctx, 1);
    ctx->InputPos = 8163;
    ctx->InputBit = 5;
    uint32_t before = PeekBits(ctx);
    FillInputBuffer(ctx, 0);
    EXPECT_EQ(3u, ctx->InputPos);
    EXPECT_EQ(5u, ctx->InputBit);
    EXPECT_EQ(before, PeekBits(ctx));
    EXPECT_EQ(532u, ctx->InputEnd);  // 32 carried and 500 new
    EXPECT_EQ(0, memcmp(ctx->InputBuffer, data.data() + 8160, 532));
}

TEST_F(BitInputTest, RefillThatReadsNothingStillCountsTheCarriedBytes) {
    // The entry ended exactly with the full first buffer: its last 32 bytes,
    // carried to the front, are all still ahead.
    Feed(Sequence(8192), 8192);
    FillInputBuffer(ctx, 1);
    ctx->InputPos = 8165;
    FillInputBuffer(ctx, 0);
    EXPECT_EQ(5u, ctx->InputPos);
    EXPECT_EQ(32u, ctx->InputEnd);
    // Only part of the carried bytes were meaningful.
    ctx->InputEnd = 8170;
    ctx->InputPos = 8163;
    FillInputBuffer(ctx, 0);
    EXPECT_EQ(10u, ctx->InputEnd);
    // Nothing meaningful ahead of the position any more.
    ctx->InputEnd = 8164;
    ctx->InputPos = 8166;
    FillInputBuffer(ctx, 0);
    EXPECT_EQ(6u, ctx->InputEnd);
}

// Decodes the symbols of a bit string (given as '0'/'1' characters, the
// rest of the 16 bits taken from fill) with table.
uint32_t DecodeFrom(UnpackContext* ctx, const HuffTable* table, const char* code, bool fillOnes,
                    uint32_t* consumed) {
    qvtest::BitWriter w;
    for (const char* c = code; *c; c++) w.Put(*c == '1', 1);
    for (int i = 0; i < 24; i++) w.Put(fillOnes ? 1 : 0, 1);
    memset(ctx->InputBuffer, 0, 8);
    memcpy(ctx->InputBuffer, w.bytes.data(), w.bytes.size() < 8 ? w.bytes.size() : 8);
    ctx->InputPos = 0;
    ctx->InputBit = 0;
    uint32_t symbol = DecodeHuffSymbol(ctx, table);
    *consumed = ctx->InputPos * 8 + ctx->InputBit;
    return symbol;
}

// "symbol/bits": what DecodeFrom gives and how many bits it took.
std::string Decoded(UnpackContext* ctx, const HuffTable* table, const char* code, bool fillOnes) {
    uint32_t consumed;
    uint32_t symbol = DecodeFrom(ctx, table, code, fillOnes, &consumed);
    return std::to_string(symbol) + "/" + std::to_string(consumed);
}

TEST_F(BitInputTest, CanonicalTableOfTwoOneThreeThree) {
    const uint8_t lengths[4] = {2, 1, 3, 3};
    HuffTable table;
    memset(&table, 0xEE, sizeof table);
    BuildHuffTable(lengths, &table, 4);
    EXPECT_EQ(4u, table.SymbolCount);
    EXPECT_EQ(1u, table.SortedSymbols[0]);
    EXPECT_EQ(0u, table.SortedSymbols[1]);
    EXPECT_EQ(2u, table.SortedSymbols[2]);
    EXPECT_EQ(3u, table.SortedSymbols[3]);
    EXPECT_EQ(0u, table.FirstIndex[0]);
    EXPECT_EQ(0u, table.FirstIndex[1]);
    EXPECT_EQ(1u, table.FirstIndex[2]);
    EXPECT_EQ(2u, table.FirstIndex[3]);
    EXPECT_EQ(0u, table.CodeLimit[0]);
    EXPECT_EQ(0x8000u, table.CodeLimit[1]);
    EXPECT_EQ(0xC000u, table.CodeLimit[2]);
    EXPECT_EQ(0xFFFFu, table.CodeLimit[3]);  // capped from 0x10000
    EXPECT_EQ("0/2", Decoded(ctx, &table, "10", true));
    EXPECT_EQ("1/1", Decoded(ctx, &table, "0", true));
    EXPECT_EQ("2/3", Decoded(ctx, &table, "110", true));
    EXPECT_EQ("3/3", Decoded(ctx, &table, "111", true));
}

TEST_F(BitInputTest, TwoOneBitCodesHoldUnderAllOnesAfterThem) {
    const uint8_t lengths[2] = {1, 1};
    HuffTable table;
    BuildHuffTable(lengths, &table, 2);
    EXPECT_EQ(0xFFFFu, table.CodeLimit[1]);
    EXPECT_EQ("0/1", Decoded(ctx, &table, "0", true));
    EXPECT_EQ("1/1", Decoded(ctx, &table, "1", true));
    EXPECT_EQ("1/1", Decoded(ctx, &table, "1", false));
}

TEST_F(BitInputTest, AllZeroTableTakesFifteenBitsAndFallsBackToPositionZero) {
    uint8_t lengths[5] = {0};
    HuffTable table;
    for (uint32_t i = 0; i < kLiteralSymbols; i++) table.SortedSymbols[i] = 100 + i;  // markers
    BuildHuffTable(lengths, &table, 5);
    for (int l = 0; l < 16; l++) EXPECT_EQ(0u, table.CodeLimit[l]);
    uint32_t consumed;
    // w >> 1 = 3: below the symbol count, that slot is used as it stands.
    EXPECT_EQ("103/15", Decoded(ctx, &table, "0000000000000110", false));
    // w >> 1 = 5: not below the count, slot 0.
    EXPECT_EQ(100u, DecodeFrom(ctx, &table, "000000000000101", false, &consumed));
    EXPECT_EQ(100u, DecodeFrom(ctx, &table, "1", true, &consumed));
}

TEST_F(BitInputTest, OverfullSetBuildsAndOutOfRangePositionsGiveSlotZero) {
    const uint8_t lengths[4] = {1, 1, 1, 1};  // twice the code space
    HuffTable table;
    BuildHuffTable(lengths, &table, 4);
    EXPECT_EQ(0xFFFFu, table.CodeLimit[1]);
    uint32_t consumed;
    EXPECT_EQ(0u, DecodeFrom(ctx, &table, "0", false, &consumed));
    EXPECT_EQ(1u, DecodeFrom(ctx, &table, "1", false, &consumed));

    const uint8_t sparse[2] = {15, 15};  // only the two smallest 15-bit codes exist
    BuildHuffTable(sparse, &table, 2);
    EXPECT_EQ("0/15", Decoded(ctx, &table, "000000000000000", false));
    EXPECT_EQ(1u, DecodeFrom(ctx, &table, "000000000000001", false, &consumed));
    // Any other 15 bits lie past the two codes: position 0, symbol 0.
    EXPECT_EQ(0u, DecodeFrom(ctx, &table, "000000000000010", false, &consumed));
    EXPECT_EQ(0u, DecodeFrom(ctx, &table, "1", true, &consumed));
}

// Random length sets of every kind the decoder may meet: proper codes,
// sparse and over-full sets, all zeros, single codes, long codes.
qvtest::Lengths RandomLengths(std::mt19937& rng, uint32_t count) {
    qvtest::Lengths lengths(count, 0);
    switch (rng() % 6) {
        case 0: {  // a proper Huffman code
            std::vector<uint32_t> freq(count);
            for (auto& f : freq) f = rng() % 3 == 0 ? 0 : 1 + (rng() % 1000) * (rng() % 1000);
            lengths = qvtest::HuffmanLengths(freq, 15);
            break;
        }
        case 1:  // anything, zeros frequent
            for (auto& l : lengths) l = rng() % 2 ? 0 : rng() % 16;
            break;
        case 2:  // short codes, likely over-full
            for (auto& l : lengths) l = rng() % 5;
            break;
        case 3:  // long codes only
            for (auto& l : lengths) l = rng() % 4 ? 0 : 10 + rng() % 6;
            break;
        case 4:  // a few codes
            for (int i = 0; i < 3; i++) lengths[rng() % count] = 1 + rng() % 15;
            break;
        default:  // all zero
            break;
    }
    return lengths;
}

TEST(LookupTable, AgreesWithTheDecodeRuleOnEveryBitPattern) {
    std::mt19937 rng(1234);
    struct Alphabet {
        uint32_t count;
        LookupKind kind;
        uint32_t bits;
    };
    const Alphabet alphabets[] = {{298, kLookupLiteral, kFastLiteralBits}, {48, kLookupDistance, kFastDistanceBits},
                                  {28, kLookupRepeat, kFastRepeatBits},    {298, kLookupLiteral, 12},
                                  {48, kLookupDistance, 9},                {2, kLookupRepeat, 8},
                                  {19, kLookupSymbol, 7}};
    HuffTable table;
    std::vector<uint32_t> lookup(1 << 12);
    int settledSomewhere = 0, sets = 0;
    for (int round = 0; round < 210; round++) {
        const Alphabet& a = alphabets[round % 7];
        qvtest::Lengths lengths = RandomLengths(rng, a.count);
        // Stale positions of a table built earlier stay as they were.
        for (uint32_t i = 0; i < kLiteralSymbols; i++) table.SortedSymbols[i] = rng() % a.count;
        BuildHuffTable(lengths.data(), &table, a.count);
        BuildLookup(&table, lookup.data(), a.bits, a.kind);
        sets++;
        bool settled = false;
        for (uint32_t bits = 0; bits < 0x10000; bits++) {
            uint32_t exact = RuleEntry(&table, a.kind, bits);
            uint32_t entry = lookup[bits >> (16 - a.bits)];
            uint32_t quick = LookupOrRule(lookup.data(), a.bits, &table, a.kind, bits);
            if (entry) settled = true;
            if (quick != exact) {
                ADD_FAILURE() << "set " << round << " bits " << bits << ": " << std::hex << exact << " vs " << quick;
                return;
            }
        }
        settledSomewhere += settled;
    }
    EXPECT_GT(settledSomewhere, sets / 2);  // the lookup does take part
}

TEST(LookupTable, EntriesCarryTheStepsValues) {
    // Code length 5, code 00110, the extra bits after it all ones: what
    // each symbol's entry says and the number it gives.
    const uint64_t bits = 0x37FFFFFFull << 32;  // 00110 then ones
    uint32_t e = LookupEntry(kLookupLiteral, 0x41, 5, 6);
    EXPECT_TRUE(IsLiteralEntry(e));
    EXPECT_EQ(0x41u, EntryLiteral(e));
    EXPECT_EQ(5u, EntryBits(e));
    e = LookupEntry(kLookupLiteral, 297, 5, 6);  // length slot 27: 224 + 3 and 5 extra bits
    EXPECT_FALSE(IsLiteralEntry(e));
    EXPECT_EQ(kEntryMatch, static_cast<int>(EntryKindOf(e)));
    EXPECT_EQ(5u, EntryExtraBits(e));
    EXPECT_EQ(10u, EntryBits(e));
    EXPECT_EQ(227u + 31, EntryNumber(bits, e));
    e = LookupEntry(kLookupLiteral, 268, 5, 6);  // short distances 193..256
    EXPECT_EQ(kEntryShort, static_cast<int>(EntryKindOf(e)));
    EXPECT_EQ(11u, EntryBits(e));
    EXPECT_EQ(256u, EntryNumber(bits, e));
    EXPECT_EQ(193u, EntryNumber(0x30ull << 56, e));  // 00110 and six zeros
    e = LookupEntry(kLookupLiteral, 259, 5, 6);
    EXPECT_EQ(kEntryRecent, static_cast<int>(EntryKindOf(e)));
    EXPECT_EQ(2u, EntryValue(e));
    EXPECT_EQ(kEntryRepeatLast, static_cast<int>(EntryKindOf(LookupEntry(kLookupLiteral, 256, 5, 6))));
    EXPECT_EQ(kEntrySwitch, static_cast<int>(EntryKindOf(LookupEntry(kLookupLiteral, 269, 5, 6))));
    // The farthest slot: 983040 + 1 and 16 extra bits, up to the whole window.
    e = LookupEntry(kLookupDistance, 47, 15, 0x7FFF);
    EXPECT_EQ(16u, EntryExtraBits(e));
    EXPECT_EQ(31u, EntryBits(e));
    EXPECT_EQ(0x100000u, DistanceNumber(~0ull, e));
    EXPECT_EQ(983041u, DistanceNumber(0xFFFEull << 48, e));
    // Only literals look like literals, whatever the code.
    for (uint32_t symbol = 0; symbol < kLiteralSymbols; symbol++)
        for (uint32_t length : {1u, 9u, 15u})
            for (uint32_t code : {0u, 1u, (1u << length) - 1})
                ASSERT_EQ(symbol < 256, IsLiteralEntry(LookupEntry(kLookupLiteral, symbol, length, code))) << symbol;
    e = LookupEntry(kLookupRepeat, 8, 3, 0);  // length slot 8: 8 + 2 and 1 extra bit
    EXPECT_EQ(4u, EntryBits(e));
    EXPECT_EQ(11u, EntryNumber(0x1ull << 60, e));
}

TEST_F(BitInputTest, DecodeRuleMatchesTheCanonicalCodesOfTheWriter) {
    std::mt19937 rng(99);
    for (int round = 0; round < 40; round++) {
        std::vector<uint32_t> freq(298);
        for (auto& f : freq) f = rng() % 4 == 0 ? 0 : 1 + rng() % (1u << (rng() % 20));
        qvtest::Lengths lengths = qvtest::HuffmanLengths(freq, 15);
        HuffTable table;
        BuildHuffTable(lengths.data(), &table, 298);
        std::vector<qvtest::Code> codes = qvtest::CanonicalCodes(lengths);
        for (int s = 0; s < 298; s++) {
            if (!codes[s].length) continue;
            qvtest::BitWriter w;
            w.Put(codes[s].bits, codes[s].length);
            w.Put(rng(), 24);
            w.Put(0, 16);  // at least five whole bytes
            memcpy(ctx->InputBuffer, w.bytes.data(), 5);
            ctx->InputPos = 0;
            ctx->InputBit = 0;
            ASSERT_EQ(static_cast<uint32_t>(s), DecodeHuffSymbol(ctx, &table));
            ASSERT_EQ(static_cast<uint32_t>(codes[s].length), ctx->InputPos * 8 + ctx->InputBit);
        }
    }
}

}  // namespace
