// The byte streams every reader and writer of the installer goes through,
// held to the same answers in every build: natively they are the C
// library's, on Windows the program's own layer over file handles.
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "base/stream.h"
#include "support/archive_builder.h"
#include "support/testdata.h"

namespace {

using qvtest::Bytes;

struct StreamTest : ::testing::Test {
    std::string path;
    // Larger than three read buffers of 64 KB.
    Bytes data = qvtest::Noise(200000, 7);
    void SetUp() override { path = qvtest::WriteTempFile(data, "stream.bin"); }
};

// Pieces of every size, crossing any read buffer's edges, and reads larger
// than such a buffer, at positions reached by every kind of seek.
TEST_F(StreamTest, ReadsGiveTheFileBytesWhereverTheyStart) {
    FileStream* s = OpenStream(path.c_str(), "rb", kStreamShareAll);
    ASSERT_NE(nullptr, s);
    Bytes got;
    Bytes piece(66000 + 8192);
    // Small pieces of varied sizes, and every eighth one larger than a buffer.
    int i = 0;
    for (size_t n = 1; got.size() < data.size(); n = n * 3 % 8191 + 1) {
        size_t want = ++i % 8 == 0 ? 66000 + n : n;
        size_t r = ReadBytes(s, piece.data(), want);
        got.insert(got.end(), piece.begin(), piece.begin() + r);
        if (r < want) break;
    }
    EXPECT_EQ(data, got);
    EXPECT_EQ(200000, TellFile(s));
    EXPECT_EQ(0u, ReadBytes(s, piece.data(), 10)) << "nothing at the end";

    EXPECT_EQ(0, SeekFile(s, 100, kSeekFromStart));
    ASSERT_EQ(9000u, ReadBytes(s, piece.data(), 9000));
    EXPECT_EQ(0, memcmp(piece.data(), data.data() + 100, 9000));
    EXPECT_EQ(0, SeekFile(s, -5000, kSeekFromCurrent));
    ASSERT_EQ(7u, ReadBytes(s, piece.data(), 7));
    EXPECT_EQ(0, memcmp(piece.data(), data.data() + 4100, 7));
    EXPECT_EQ(0, SeekFile(s, 131070, kSeekFromStart));  // across the second buffer's end
    ASSERT_EQ(5u, ReadBytes(s, piece.data(), 5));
    EXPECT_EQ(0, memcmp(piece.data(), data.data() + 131070, 5));
    EXPECT_EQ(0, SeekFile(s, -10, kSeekFromEnd));
    EXPECT_EQ(199990, TellFile(s));
    EXPECT_EQ(10u, ReadBytes(s, piece.data(), 64)) << "fewer at the end";
    EXPECT_EQ(0, memcmp(piece.data(), data.data() + 199990, 10));

    EXPECT_NE(0, SeekFile(s, -1, kSeekFromStart));
    EXPECT_FALSE(StreamFailed(s));
    EXPECT_EQ(0, CloseFile(s));
}

// A write lands at the position reached by reading, and what is read after
// it is what the file holds now, never bytes read before the write.
TEST_F(StreamTest, WritesBetweenReadsAreSeenByTheReadsAfterThem) {
    FileStream* s = OpenStream(path.c_str(), "r+b", kStreamShareAll);
    ASSERT_NE(nullptr, s);
    uint8_t piece[16];
    ASSERT_EQ(10u, ReadBytes(s, piece, 10));
    EXPECT_EQ(4u, WriteBytes(s, "WXYZ", 4));
    EXPECT_EQ(14, TellFile(s));
    EXPECT_EQ(0, SeekFile(s, 8, kSeekFromStart));
    ASSERT_EQ(8u, ReadBytes(s, piece, 8));
    EXPECT_EQ(data[8], piece[0]);
    EXPECT_EQ(0, memcmp(piece + 2, "WXYZ", 4));
    EXPECT_EQ(data[14], piece[6]);
    EXPECT_EQ(0, CloseFile(s));
    Bytes now = qvtest::ReadFileBytes(path);
    ASSERT_EQ(data.size(), now.size());
    EXPECT_EQ(0, memcmp(now.data() + 10, "WXYZ", 4));
}

// A stream may keep its own idea of where the file pointer stands and move
// it only when a transfer starts elsewhere. A seek back to where a transfer
// started, or to where the pointer would stand had it not been moved, must
// still put the bytes at the stream's position.
TEST_F(StreamTest, TransfersAfterSeeksBackLandAtTheStreamPosition) {
    FileStream* s = OpenStream(path.c_str(), "r+b", kStreamShareAll);
    ASSERT_NE(nullptr, s);
    Bytes expected = data;
    auto writeAt = [&](int32_t at, const char* text) {
        size_t n = strlen(text);
        EXPECT_EQ(0, SeekFile(s, at, kSeekFromStart));
        EXPECT_EQ(n, WriteBytes(s, text, n)) << "at " << at;
        memcpy(expected.data() + at, text, n);
    };
    writeAt(0, "ABCD");
    writeAt(2, "xy");  // the pointer goes back and ends at 4, ...
    writeAt(6, "Z");   // ... not at 6, where it would stand had it stayed
    writeAt(6, "z");   // back to where the last write started
    uint8_t piece[10];
    EXPECT_EQ(0, SeekFile(s, 100, kSeekFromStart));
    ASSERT_EQ(10u, ReadBytes(s, piece, 10));
    EXPECT_EQ(0, memcmp(piece, expected.data() + 100, 10));
    writeAt(100, "W");  // back to where the read started
    EXPECT_EQ(101, TellFile(s));
    Bytes head(110);
    EXPECT_EQ(0, SeekFile(s, 0, kSeekFromStart));
    ASSERT_EQ(head.size(), ReadBytes(s, head.data(), head.size()));
    EXPECT_EQ(Bytes(expected.begin(), expected.begin() + 110), head);
    EXPECT_EQ(0, CloseFile(s));
    EXPECT_EQ(expected, qvtest::ReadFileBytes(path));
}

TEST_F(StreamTest, ModesCreateTruncateOrRefuse) {
    EXPECT_EQ(nullptr, OpenStream(path.c_str(), "w+bx", kStreamShareAll)) << "x: something stands there";
    EXPECT_EQ(nullptr, OpenStream(path.c_str(), "wbx", kStreamShareAll));
    EXPECT_EQ(nullptr, OpenStream(path.c_str(), "a", kStreamShareAll)) << "a mode not known";
    EXPECT_EQ(nullptr, OpenStream(path.c_str(), "rt", kStreamShareAll));
    EXPECT_EQ(nullptr, OpenStream((path + ".missing").c_str(), "rb", kStreamShareAll));
    EXPECT_EQ(data, qvtest::ReadFileBytes(path)) << "no refused open touched the file";

    std::string fresh = path + ".new";
    FileStream* s = OpenStream(fresh.c_str(), "w+bx", kStreamShareAll);
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(3u, WriteBytes(s, "abc", 3));
    EXPECT_EQ(0, SeekFile(s, 0, kSeekFromEnd));
    EXPECT_EQ(3, TellFile(s));
    EXPECT_EQ(0, CloseFile(s));

    s = OpenStream(path.c_str(), "wb", kStreamShareAll);  // truncates
    ASSERT_NE(nullptr, s);
    EXPECT_EQ(0, CloseFile(s));
    EXPECT_TRUE(qvtest::ReadFileBytes(path).empty());
}

// A write the file does not take marks the stream, and closing it says so:
// the installer must not count such a file as installed.
TEST_F(StreamTest, AFailedWriteIsReportedByTheStreamAndItsClose) {
    FileStream* s = OpenStream(path.c_str(), "rb", kStreamShareAll);
    ASSERT_NE(nullptr, s);
    EXPECT_FALSE(StreamFailed(s));
    EXPECT_EQ(0u, WriteBytes(s, "no", 2));
    EXPECT_TRUE(StreamFailed(s));
    EXPECT_NE(0, CloseFile(s));
    EXPECT_EQ(data, qvtest::ReadFileBytes(path));
}

}  // namespace
