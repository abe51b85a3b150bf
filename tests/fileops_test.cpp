// Path, directory, stream and memory operations, the same on every platform.
#include "install/fileops.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "archive/blockreader.h"
#include "base/context.h"
#include "install/platform.h"
#include "support/archive_builder.h"

using namespace qvtest;

namespace {

std::string AddedBackslash(const char* path) {
    char buffer[kPathSize];
    strcpy(buffer, path);
    AddTrailingBackslash(buffer);
    return buffer;
}

std::string Cut(const char* path) {
    char buffer[kPathSize];
    strcpy(buffer, path);
    EXPECT_EQ(buffer, CutLastComponent(buffer));
    return buffer;
}

TEST(PathText, TrailingBackslashOnlyWhereMissing) {
    EXPECT_EQ("", AddedBackslash(""));
    EXPECT_EQ("C:\\A\\", AddedBackslash("C:\\A"));
    EXPECT_EQ("C:\\A\\", AddedBackslash("C:\\A\\"));
    EXPECT_EQ("C:\\A/\\", AddedBackslash("C:\\A/")) << "a slash does not count";
    EXPECT_EQ("C:\\", AddedBackslash("C:"));
}

TEST(PathText, TrailingBackslashNeverRunsPastThePathBuffer) {
    char buffer[kPathSize + 8];
    memset(buffer, '#', sizeof buffer);
    memset(buffer, 'a', kPathSize - 2);
    buffer[kPathSize - 2] = '\0';  // 258 characters: room for one more
    AddTrailingBackslash(buffer);
    EXPECT_EQ(kPathSize - 1, strlen(buffer));
    EXPECT_EQ('\\', buffer[kPathSize - 2]);

    memset(buffer, 'a', kPathSize - 1);
    buffer[kPathSize - 1] = '\0';  // 259 characters: full
    AddTrailingBackslash(buffer);
    EXPECT_EQ(kPathSize - 1, strlen(buffer));
    EXPECT_EQ('#', buffer[kPathSize]);
}

TEST(PathText, CutAtTheLastBackslashKeepingDriveRoots) {
    EXPECT_EQ("C:\\A", Cut("C:\\A\\B"));
    EXPECT_EQ("C:\\", Cut("C:\\A"));
    EXPECT_EQ("C:\\A", Cut("C:\\A\\"));
    EXPECT_EQ("C:\\", Cut("C:\\"));
    EXPECT_EQ("", Cut("FILE.TXT"));
    EXPECT_EQ("", Cut("\\TOP"));
    EXPECT_EQ("C:\\A", Cut("C:\\A\\B/C")) << "only the backslash counts";
    EXPECT_EQ("", Cut("DIR/SUB"));
    EXPECT_EQ("", Cut(""));
}

TEST(PathText, LastSeparatorCountsBothKinds) {
    EXPECT_EQ(0, LastSeparatorPos(""));
    EXPECT_EQ(0, LastSeparatorPos("FILE.TXT"));
    EXPECT_EQ(3, LastSeparatorPos("C:\\FILE.TXT"));
    EXPECT_EQ(4, LastSeparatorPos("DIR/FILE"));
    EXPECT_EQ(6, LastSeparatorPos("A\\B/C\\D"));
    EXPECT_EQ(7, LastSeparatorPos("C:\\DIR\\"));
    // Counted in 16 bits, and a string beyond that range still ends.
    std::string huge(70000, 'x');
    huge[69999 - 1] = '\\';
    EXPECT_EQ(static_cast<uint16_t>(69999), LastSeparatorPos(huge.c_str()));
}

// Directories under a fresh temporary directory, named with backslashes as
// the installer names them.
struct TreeTest : ::testing::Test {
    std::string root;
    void SetUp() override { root = ToBackslashes(MakeTempDir("tree")); }
    std::string At(const std::string& rest) const { return root + "\\" + rest; }
    bool Exists(const std::string& rest) const { return CheckFileExists(At(rest).c_str()) == 0; }
    // Through the installer's own open, which takes backslashes everywhere.
    void WriteFile(const std::string& path, const char* text) {
        FileStream* f = OpenFilePlain(path.c_str(), "wb");
        ASSERT_NE(nullptr, f) << path;
        WriteBytes(f, text, strlen(text));
        CloseFile(f);
    }
};

TEST_F(TreeTest, CreatesMissingParentsAndRefusesExistingDirectories) {
    EXPECT_EQ(0, CreatePathTree(At("One\\Two").c_str()));
    EXPECT_TRUE(Exists("One"));
    EXPECT_TRUE(Exists("One\\Two"));
    EXPECT_EQ(2, CreatePathTree(At("One\\Two").c_str())) << "exists already";
    EXPECT_EQ(2, CreatePathTree(root.c_str()));
    EXPECT_EQ(0, CreatePathTree(At("One\\Three").c_str()));
}

TEST_F(TreeTest, TrailingBackslashWithMissingParentGivesThreeButCreatesAll) {
    EXPECT_EQ(3, CreatePathTree(At("New\\Deep\\").c_str()));
    EXPECT_TRUE(Exists("New"));
    EXPECT_TRUE(Exists("New\\Deep"));
    // With its parent there, the same path is made at the first attempt.
    EXPECT_EQ(0, CreatePathTree(At("New\\Other\\").c_str()));
}

TEST_F(TreeTest, FileInTheWayGivesTwo) {
    WriteFile(At("plain"), "x");
    EXPECT_EQ(2, CreatePathTree(At("plain").c_str()));
    EXPECT_EQ(2, CreatePathTree(At("plain\\Below\\Deeper").c_str()));
    EXPECT_NE(0, CheckFileExists(At("plain\\Below").c_str()));
}

TEST_F(TreeTest, ExistenceOfFilesAndDirectories) {
    WriteFile(At("file.txt"), "data");
    EXPECT_EQ(0, CheckFileExists(At("file.txt").c_str()));
    EXPECT_EQ(0, CheckFileExists(root.c_str()));
    EXPECT_EQ(2, CheckFileExists(At("missing.txt").c_str()));
    EXPECT_EQ(2, CheckFileExists(At("missing\\file.txt").c_str()));
    EXPECT_EQ(2, MakeWritable(At("missing.txt").c_str()));
}

TEST_F(TreeTest, DeleteRemovesFilesOnly) {
    WriteFile(At("old.txt"), "old");
    DeleteExistingFile(nullptr, At("old.txt").c_str());
    EXPECT_EQ(2, CheckFileExists(At("old.txt").c_str()));

    WriteFile(At("locked.txt"), "old");
    ASSERT_EQ(0, PlatformSetAttributes(At("locked.txt").c_str(), 0x21));
    DeleteExistingFile(nullptr, At("locked.txt").c_str());
    EXPECT_EQ(2, CheckFileExists(At("locked.txt").c_str())) << "read-only is no obstacle";

    ASSERT_EQ(0, CreatePathTree(At("dir\\sub").c_str()));
    WriteFile(At("dir\\sub\\keep.txt"), "keep");
    DeleteExistingFile(nullptr, At("dir").c_str());
    EXPECT_EQ(0, CheckFileExists(At("dir\\sub\\keep.txt").c_str())) << "a directory is left alone";

    DeleteExistingFile(nullptr, At("never-there.txt").c_str());  // nothing to do, nothing reported
}

TEST_F(TreeTest, StreamWrappersReadWriteAndSeek) {
    std::string path = At("stream.bin");
    FileStream* out = OpenFilePlain(path.c_str(), "w+b");
    ASSERT_NE(nullptr, out);
    EXPECT_EQ(10u, WriteBytes(out, "0123456789", 10));
    EXPECT_EQ(0, SeekFile(out, 4, 0));
    EXPECT_EQ(4, TellFile(out));
    EXPECT_EQ(0, SeekFile(out, 3, 1));
    EXPECT_EQ(7, TellFile(out));
    char buffer[8] = {0};
    EXPECT_EQ(3u, ReadBytes(out, buffer, sizeof buffer)) << "fewer at the end";
    EXPECT_STREQ("789", buffer);
    CloseFile(out);
    CloseFile(nullptr);
    EXPECT_EQ(0u, WriteBytes(nullptr, "abc", 3));

    for (int share : {0, 1, 2, 3}) {
        FileStream* in = OpenFileShared(path.c_str(), "rb", share);
        ASSERT_NE(nullptr, in) << "share code " << share;
        EXPECT_EQ(8u, ReadBytes(in, buffer, 8));
        CloseFile(in);
    }
    EXPECT_EQ(nullptr, OpenFileShared(At("missing.bin").c_str(), "rb", 1));
    EXPECT_EQ(nullptr, OpenFilePlain(At("no\\such\\dir.bin").c_str(), "w+b"));
}

TEST(Memory, ZeroedBlocksAndClearedPointers) {
    uint8_t* block = static_cast<uint8_t*>(AllocZeroed(kScanBufferSize));
    ASSERT_NE(nullptr, block);
    size_t nonZero = 0;
    for (size_t i = 0; i < kScanBufferSize; i++) nonZero += block[i] != 0;
    EXPECT_EQ(0u, nonZero);
    FreeAndClear(&block);
    EXPECT_EQ(nullptr, block);
    FreeAndClear(&block);  // a cleared pointer may be freed again
    EXPECT_EQ(nullptr, block);
}

}  // namespace
