// Table sets written bit by bit: header flags, deltas, runs, audio sets and
// the check for a table set at the end of an entry.
#include <gtest/gtest.h>
#include <string.h>

#include "support/bitwriter.h"
#include "support/unpack_harness.h"
#include "unpack/bitinput.h"
#include "unpack/codetables.h"
#include "unpack/huffman.h"

namespace {

using qvtest::BitWriter;
using qvtest::Bytes;

// A set header whose pre-code gives all 19 symbols 5-bit codes, so that the
// code of pre-code symbol s is s itself.
void Header(BitWriter& w, bool audio, bool keep, int channels = 1) {
    w.Put(audio, 1);
    w.Put(keep, 1);
    if (audio) w.Put(static_cast<uint32_t>(channels - 1), 2);
    for (int s = 0; s < 19; s++) w.Put(5, 4);
}
void Len(BitWriter& w, uint32_t s) { w.Put(s, 5); }
void Repeat16(BitWriter& w, uint32_t n) { w.Put(16, 5), w.Put(n - 3, 2); }
void Zeros17(BitWriter& w, uint32_t n) { w.Put(17, 5), w.Put(n - 3, 3); }
void Zeros18(BitWriter& w, uint32_t n) { w.Put(18, 5), w.Put(n - 11, 7); }
// Zeros up to position to, from position at.
void ZerosTo(BitWriter& w, uint32_t at, uint32_t to) {
    while (to - at >= 11) {
        uint32_t n = to - at < 138 ? to - at : 138;
        Zeros18(w, n);
        at += n;
    }
    while (at < to) Len(w, 0), at++;
}

struct CodeTablesTest : ::testing::Test {
    qvtest::Session session;
    UnpackContext* ctx = session.ctx;

    // Places the bits at buffer position `at` (the rest of the buffer zero).
    void Load(const BitWriter& w, uint32_t at = 0, uint32_t meaningful = 8192) {
        memset(ctx->InputBuffer, 0, sizeof ctx->InputBuffer);
        memcpy(ctx->InputBuffer + at, w.bytes.data(), w.bytes.size());
        ctx->InputPos = at;
        ctx->InputBit = 0;
        ctx->InputEnd = meaningful;
    }
};

TEST_F(CodeTablesTest, KeepFlagAddsDeltasModuloSixteenAndRunsAreAbsolute) {
    BitWriter first;
    Header(first, false, false);
    Len(first, 14);
    Len(first, 9);
    ZerosTo(first, 2, 374);
    first.Put(0xBEEF, 16);
    Load(first);
    ReadCodeTables(ctx);
    EXPECT_EQ(0xBEEFu, PeekBits(ctx));  // the set ends where it should
    EXPECT_EQ(14, ctx->PrevCodeLengths[0]);
    EXPECT_EQ(9, ctx->PrevCodeLengths[1]);
    EXPECT_EQ(0u, ctx->AudioFlag);

    BitWriter second;
    Header(second, false, true);
    Len(second, 3);     // 14 + 3 = 17, kept as 1
    Len(second, 0);     // 9 stays 9
    Repeat16(second, 6);  // positions 2..7 repeat the new 9
    Len(second, 4);     // 0 + 4
    Zeros17(second, 10);
    ZerosTo(second, 19, 374);
    Load(second);
    ReadCodeTables(ctx);
    const uint8_t expected[20] = {1, 9, 9, 9, 9, 9, 9, 9, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, memcmp(expected, ctx->PrevCodeLengths, 20));
    // The tables are built from the new lengths, ordered by length.
    EXPECT_EQ(298u, ctx->LiteralTable.SymbolCount);
    EXPECT_EQ(0u, ctx->LiteralTable.SortedSymbols[0]);  // length 1
    EXPECT_EQ(8u, ctx->LiteralTable.SortedSymbols[1]);  // length 4
    EXPECT_EQ(1u, ctx->LiteralTable.SortedSymbols[2]);  // length 9, with 2..7 after it
    EXPECT_EQ(2u, ctx->LiteralTable.FirstIndex[9]);

    BitWriter third;
    Header(third, false, false);
    Len(third, 3);  // absolute: the earlier 1 does not count
    ZerosTo(third, 1, 374);
    Load(third);
    ReadCodeTables(ctx);
    EXPECT_EQ(3, ctx->PrevCodeLengths[0]);
    EXPECT_EQ(0, ctx->PrevCodeLengths[1]);
}

TEST_F(CodeTablesTest, RunsStopAtTheSetSizeAndRepeatAtTheStartRepeatsZero) {
    BitWriter w;
    Header(w, false, false);
    Repeat16(w, 3);  // nothing before position 0
    Zeros18(w, 138);
    Zeros18(w, 138);
    Zeros17(w, 10);  // 289
    Zeros17(w, 7);   // 296
    for (int i = 0; i < 4; i++) Len(w, 2);
    Zeros18(w, 138);  // from 300: only 74 fit
    w.Put(0x1234, 16);
    Load(w);
    memset(ctx->PrevCodeLengths, 7, sizeof ctx->PrevCodeLengths);
    ReadCodeTables(ctx);
    EXPECT_EQ(0x1234u, PeekBits(ctx));
    EXPECT_EQ(0, ctx->PrevCodeLengths[0]);
    for (int i = 296; i < 300; i++) EXPECT_EQ(2, ctx->PrevCodeLengths[i]) << i;
    for (int i = 300; i < kMaxCodeLengths; i++) ASSERT_EQ(0, ctx->PrevCodeLengths[i]) << i;
    EXPECT_EQ(2u, ctx->LiteralTable.CodeLimit[2] >> 14);  // symbols 296, 297: two codes of 2 bits
    EXPECT_EQ(2u, ctx->DistanceTable.CodeLimit[2] >> 14);  // slots 0, 1

    // A repeat run cut at the end leaves nothing beyond the set.
    BitWriter cut;
    Header(cut, false, false);
    ZerosTo(cut, 0, 372);
    Len(cut, 5);
    Repeat16(cut, 6);
    cut.Put(0x4321, 16);
    Load(cut);
    ReadCodeTables(ctx);
    EXPECT_EQ(0x4321u, PeekBits(ctx));
    EXPECT_EQ(5, ctx->PrevCodeLengths[373]);
    EXPECT_EQ(0, ctx->PrevCodeLengths[374]);
}

TEST_F(CodeTablesTest, AudioSetRebuildsOnlyTheChannelTables) {
    BitWriter lz;
    Header(lz, false, false);
    for (int i = 0; i < 374; i++) Len(lz, 1 + i % 9);
    Load(lz);
    ReadCodeTables(ctx);
    HuffTable literal = ctx->LiteralTable, distance = ctx->DistanceTable, repeat = ctx->RepeatTable;

    BitWriter audio;
    Header(audio, true, false, 2);
    Len(audio, 1);
    Len(audio, 1);
    ZerosTo(audio, 2, 257);
    Len(audio, 2);
    ZerosTo(audio, 258, 514);
    audio.Put(0xCAFE, 16);
    Load(audio);
    ctx->ActiveChannel = 3;
    ReadCodeTables(ctx);
    EXPECT_EQ(0xCAFEu, PeekBits(ctx));
    EXPECT_EQ(0x8000u, ctx->AudioFlag);
    EXPECT_EQ(2, ctx->ChannelCount);
    EXPECT_EQ(0, ctx->ActiveChannel);  // not below the channel count
    EXPECT_EQ(0, memcmp(&literal, &ctx->LiteralTable, sizeof literal));
    EXPECT_EQ(0, memcmp(&distance, &ctx->DistanceTable, sizeof distance));
    EXPECT_EQ(0, memcmp(&repeat, &ctx->RepeatTable, sizeof repeat));
    EXPECT_EQ(257u, ctx->AudioTables[0].SymbolCount);
    EXPECT_EQ(0xFFFFu, ctx->AudioTables[0].CodeLimit[1]);
    EXPECT_EQ(257u, ctx->AudioTables[1].SymbolCount);
    EXPECT_EQ(0u, ctx->AudioTables[1].SortedSymbols[0]);  // channel 1's symbol 0
    EXPECT_EQ(0x4000u, ctx->AudioTables[1].CodeLimit[2]);
    EXPECT_EQ(0u, ctx->AudioTables[2].SymbolCount);  // never built
    EXPECT_EQ(1, ctx->PrevCodeLengths[0]);
    EXPECT_EQ(2, ctx->PrevCodeLengths[257]);
    EXPECT_EQ(0, ctx->PrevCodeLengths[514]);
}

TEST_F(CodeTablesTest, SetsNearTheBufferEndRefillAndKeepTheirPlace) {
    // The set is spread over the end of the buffer and the next read.
    for (uint32_t at : {8160u, 8168u, 8187u}) {
        BitWriter w;
        Header(w, false, false);
        for (int i = 0; i < 374; i++) Len(w, i % 16);
        w.Put(0xD00D, 16);
        Bytes stream(8192 + w.bytes.size(), 0);
        memcpy(stream.data() + at, w.bytes.data(), w.bytes.size());
        FileStream* file = qvtest::StreamOf(stream);
        ctx->ArchiveFile = ctx->InputFile = file;
        ctx->PackedLeft = static_cast<int32_t>(stream.size());
        FillInputBuffer(ctx, 1);
        ctx->InputPos = at;
        ctx->InputBit = 0;
        ReadCodeTables(ctx);
        EXPECT_EQ(0xD00Du, PeekBits(ctx)) << at;
        for (int i = 0; i < 374; i++) ASSERT_EQ(i % 16, ctx->PrevCodeLengths[i]) << at << " " << i;
        qvtest::CloseStream(file);
        ctx->ArchiveFile = ctx->InputFile = nullptr;
    }
}

TEST_F(CodeTablesTest, TrailingSetIsReadOnlyWithFiveMeaningfulBytesAhead) {
    // Literal table: symbol 0 is "0", the switch symbol 269 is "1".
    uint8_t lengths[298] = {0};
    lengths[0] = 1;
    lengths[269] = 1;
    BitWriter w;
    w.Put(1, 1);
    Header(w, false, false);
    Len(w, 6);
    ZerosTo(w, 1, 374);
    for (uint32_t meaningful : {4u, 5u}) {
        BuildHuffTable(lengths, &ctx->LiteralTable, 298);
        memset(ctx->PrevCodeLengths, 0, sizeof ctx->PrevCodeLengths);
        ctx->AudioFlag = 0;
        Load(w, 100, 100 + meaningful);
        CheckTrailingTables(ctx);
        if (meaningful == 4) {
            EXPECT_EQ(100u, ctx->InputPos);
            EXPECT_EQ(0, ctx->PrevCodeLengths[0]);
        } else {
            EXPECT_EQ(6, ctx->PrevCodeLengths[0]);
        }
    }

    // Any other symbol is consumed and changes nothing.
    BuildHuffTable(lengths, &ctx->LiteralTable, 298);
    HuffTable before = ctx->LiteralTable;
    BitWriter other;
    other.Put(0, 1);
    other.Put(0xFFFFFFFF, 32);
    Load(other, 0, 40);
    CheckTrailingTables(ctx);
    EXPECT_EQ(1u, ctx->InputBit);
    EXPECT_EQ(0, memcmp(&before, &ctx->LiteralTable, sizeof before));

    // After an audio set the active channel's table decides, with 256 as the switch.
    uint8_t audioLengths[257] = {0};
    audioLengths[3] = 1;
    audioLengths[256] = 1;
    BuildHuffTable(audioLengths, &ctx->AudioTables[0], 257);
    ctx->AudioFlag = 0x8000;
    ctx->ActiveChannel = 0;
    Load(w, 0, 60);
    CheckTrailingTables(ctx);
    EXPECT_EQ(6, ctx->PrevCodeLengths[0]);
    EXPECT_EQ(0u, ctx->AudioFlag);  // the set read was an LZ set
}

}  // namespace
