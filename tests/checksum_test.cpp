#include <gtest/gtest.h>
#include <stdlib.h>

#include "archive/checksum.h"
#include "base/context.h"
#include "support/testdata.h"

namespace {

struct ChecksumTest : ::testing::Test {
    UnpackContext* ctx = nullptr;
    void SetUp() override {
        ctx = static_cast<UnpackContext*>(calloc(1, sizeof(UnpackContext)));
        BuildCrc32Table(ctx);
    }
    void TearDown() override { free(ctx); }
};

TEST_F(ChecksumTest, TableIsTheStandardReflectedTable) {
    EXPECT_EQ(0u, ctx->CrcTable[0]);
    EXPECT_EQ(0x77073096u, ctx->CrcTable[1]);
    EXPECT_EQ(0xEDB88320u, ctx->CrcTable[128]);
    EXPECT_EQ(0x2D02EF8Du, ctx->CrcTable[255]);
    // A slice is the table followed by zero bytes: slice 0 of b is the CRC
    // of b and one zero byte.
    for (uint32_t b : {1u, 128u, 255u})
        EXPECT_EQ((ctx->CrcTable[b] >> 8) ^ ctx->CrcTable[ctx->CrcTable[b] & 0xFF], ctx->CrcSlices[0][b]);
}

TEST_F(ChecksumTest, CrcRunsWithoutInversionAndChainsOverPieces) {
    EXPECT_EQ(0xCADBBE3Du, Crc32Update(ctx, 0xFFFFFFFFu, "abc", 3));
    uint32_t piecewise = Crc32Update(ctx, 0xFFFFFFFFu, "a", 1);
    piecewise = Crc32Update(ctx, piecewise, "bc", 2);
    EXPECT_EQ(0xCADBBE3Du, piecewise);
    EXPECT_EQ(0x352441C2u, ~piecewise);  // the value an archive stores
    EXPECT_EQ(0x12345678u, Crc32Update(ctx, 0x12345678u, "", 0));
    // The usual check value of this CRC.
    EXPECT_EQ(0xCBF43926u, ~Crc32Update(ctx, 0xFFFFFFFFu, "123456789", 9));
}

TEST_F(ChecksumTest, LongPiecesGiveTheByteByByteCrc) {
    // Lengths around the eight-byte slices and the 16- and 64-byte blocks
    // of the folding path, from every alignment.
    qvtest::Bytes bytes = qvtest::Noise(5000, 12345);
    const uint8_t* data = bytes.data();
    for (uint32_t start : {0u, 1u, 3u, 7u, 8u, 13u}) {
        for (uint32_t length : {0u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 64u, 65u, 79u, 80u, 127u, 128u, 129u, 191u,
                                192u, 255u, 256u, 990u, 4096u, 4984u}) {
            uint32_t expected = 0xFFFFFFFFu;
            for (uint32_t i = 0; i < length; i++)
                expected = ctx->CrcTable[(expected ^ data[start + i]) & 0xFF] ^ (expected >> 8);
            ASSERT_EQ(expected, Crc32Update(ctx, 0xFFFFFFFFu, data + start, length)) << start << " " << length;
        }
    }
}

TEST_F(ChecksumTest, RotatingSumWrapsBeforeRotating) {
    EXPECT_EQ(0x0556, RotSum16Update(0, "abc", 3));
    const uint8_t one = 0x01, zero = 0x00;
    EXPECT_EQ(0, RotSum16Update(0xFFFF, &one, 1));
    EXPECT_EQ(0x0001, RotSum16Update(0x8000, &zero, 1));
    EXPECT_EQ(0x1234, RotSum16Update(0xABCD1234u, "", 0));
}

TEST_F(ChecksumTest, SelectorPicksByModeAndKeepsTheSumBelow64K) {
    const uint8_t data[] = {0xFF, 0x10, 0x80, 0x7F};
    for (uint32_t start : {0u, 0xFFFFu, 0xFFFF0000u, 0xDEADBEEFu}) {
        EXPECT_LT(ChecksumUpdate(ctx, start, data, sizeof data, 1), 0x10000u);
        EXPECT_EQ(RotSum16Update(start, data, sizeof data),
                  ChecksumUpdate(ctx, start, data, sizeof data, 1));
        EXPECT_EQ(Crc32Update(ctx, start, data, sizeof data),
                  ChecksumUpdate(ctx, start, data, sizeof data, 2));
        EXPECT_EQ(Crc32Update(ctx, start, data, sizeof data),
                  ChecksumUpdate(ctx, start, data, sizeof data, 0));
    }
    EXPECT_EQ(0xBEEFu, ChecksumUpdate(ctx, 0xDEADBEEFu, data, 0, 1));
}

}  // namespace
