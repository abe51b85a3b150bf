#include <gtest/gtest.h>
#include <string.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "base/format.h"
#include "install/platform.h"
#include "install/progman.h"
#include "install/target.h"
#include "support/archive_builder.h"

namespace {

// The paths an existence test was asked about, and which of them exist.
std::vector<std::string> gAsked;
std::vector<std::string> gExisting;

FileExistence FakeExists(const char* path) {
    gAsked.push_back(path);
    for (const std::string& p : gExisting)
        if (p == path) return kFileExists;
    return kFileMissing;
}

// A path buffer with guard bytes behind it, to catch writes past its end.
struct GuardedPath {
    char Buffer[kPathSize];
    char Guard[32];
};

struct DefaultTargetTest : ::testing::Test {
    GuardedPath path;
    void SetUp() override {
        gAsked.clear();
        gExisting.clear();
        memset(&path, 'x', sizeof path);
    }
    std::string Compose(const char* windowsDirectory) {
        ComposeDefaultTarget(path.Buffer, windowsDirectory, FakeExists);
        return path.Buffer;
    }
    bool GuardIntact() const {
        for (char c : path.Guard)
            if (c != 'x') return false;
        return true;
    }
};

TEST_F(DefaultTargetTest, DriveRootParentPrefersProgrammeAndNeverTestsProgramFiles) {
    EXPECT_EQ("C:\\Program Files\\Quorvanel", Compose("C:\\WINDOWS"));
    EXPECT_EQ(std::vector<std::string>{"C:\\Programme"}, gAsked);

    gAsked.clear();
    gExisting = {"C:\\Programme"};  // a file of that name counts as well
    EXPECT_EQ("C:\\Programme\\Quorvanel", Compose("C:\\WINDOWS"));
    EXPECT_EQ(std::vector<std::string>{"C:\\Programme"}, gAsked);
}

TEST_F(DefaultTargetTest, DeeperWindowsDirectoryUsesItsParent) {
    EXPECT_EQ("D:\\OS\\Program Files\\Quorvanel", Compose("D:\\OS\\WINNT"));
    EXPECT_EQ(std::vector<std::string>{"D:\\OS\\Programme"}, gAsked);
    gExisting = {"D:\\OS\\Programme"};
    EXPECT_EQ("D:\\OS\\Programme\\Quorvanel", Compose("D:\\OS\\WINNT"));
    // Windows at the root itself: its "parent" keeps the drive's backslash.
    EXPECT_EQ("C:\\Program Files\\Quorvanel", Compose("C:\\"));
}

TEST_F(DefaultTargetTest, NoWindowsDirectoryOrNoParentGivesEmptyProposal) {
    EXPECT_EQ("", Compose(NULL));
    EXPECT_EQ("", Compose(""));
    EXPECT_EQ("", Compose("WINDOWS"));    // no backslash: nothing left
    EXPECT_EQ("", Compose("\\WINDOWS"));  // would be relative to the drive
    EXPECT_TRUE(gAsked.empty());
}

TEST_F(DefaultTargetTest, DefaultThatDoesNotFitIsEmptyAndStaysInsideTheBuffer) {
    // Parent of 235 characters: "\Program Files\Quorvanel" takes the
    // remaining 24 of 259 exactly.
    std::string parent = "C:\\" + std::string(232, 'p');
    std::string windows = parent + "\\W";
    std::string result = Compose(windows.c_str());
    EXPECT_EQ(parent + "\\Program Files\\Quorvanel", result);
    EXPECT_EQ(259u, result.size());

    // One more character and only the shorter "Programme" still fits.
    parent += 'p';
    windows = parent + "\\W";
    EXPECT_EQ("", Compose(windows.c_str()));
    gExisting = {parent + "\\Programme"};
    EXPECT_EQ(parent + "\\Programme\\Quorvanel", Compose(windows.c_str()));

    // A Windows directory that fills the whole buffer.
    std::string longest = "C:\\" + std::string(250, 'w') + "\\WINNT";
    EXPECT_EQ("", Compose(longest.c_str()));
    EXPECT_EQ("", Compose((longest + std::string(100, 'z')).c_str()));
    EXPECT_TRUE(GuardIntact());
}

TEST(StoredTargetTest, TerminatedValueIsTakenAsStored) {
    char buffer[kPathSize];
    memcpy(buffer, "E:\\Tools\\Q", 11);
    EXPECT_EQ(1, AcceptStoredTarget(buffer, 11));
    EXPECT_STREQ("E:\\Tools\\Q", buffer);
    memcpy(buffer, "D:\\Apps\\Q dir\\", 15);
    EXPECT_EQ(1, AcceptStoredTarget(buffer, 15));
    EXPECT_STREQ("D:\\Apps\\Q dir\\", buffer);
}

TEST(StoredTargetTest, EmptyValueCountsAsAbsent) {
    char buffer[kPathSize] = "garbage";
    EXPECT_EQ(0, AcceptStoredTarget(buffer, 0));
    buffer[0] = '\0';
    EXPECT_EQ(0, AcceptStoredTarget(buffer, 1));
}

TEST(StoredTargetTest, ValueWithoutNulIsTerminatedOrRefused) {
    struct {
        char Buffer[kPathSize];
        char Guard[8];
    } path;
    memset(&path, 'x', sizeof path);
    memcpy(path.Buffer, "E:\\Tools\\Q", 10);
    EXPECT_EQ(1, AcceptStoredTarget(path.Buffer, 10));
    EXPECT_STREQ("E:\\Tools\\Q", path.Buffer);

    // A full buffer without a NUL has no room to end the string in.
    memset(&path, 'x', sizeof path);
    memcpy(path.Buffer, "C:\\", 3);
    EXPECT_EQ(0, AcceptStoredTarget(path.Buffer, kPathSize));
    EXPECT_EQ(0, memcmp(path.Guard, "xxxxxxxx", 8));
    // 259 characters and the NUL is the longest path there is.
    path.Buffer[kPathSize - 1] = '\0';
    EXPECT_EQ(1, AcceptStoredTarget(path.Buffer, kPathSize));
    EXPECT_EQ(259u, strlen(path.Buffer));
    // A size beyond the buffer is never trusted.
    EXPECT_EQ(0, AcceptStoredTarget(path.Buffer, kPathSize + 1));
}

TEST(StoredTargetTest, RelativeValueIsNotProposed) {
    const char* relative[] = {"qv-rel\\sub", "C:foo", "\\foo", " C:\\X"};
    for (const char* value : relative) {
        char buffer[kPathSize];
        size_t size = strlen(value) + 1;
        memcpy(buffer, value, size);
        EXPECT_EQ(0, AcceptStoredTarget(buffer, static_cast<uint32_t>(size))) << value;
    }
}

TEST(FullTargetPathTest, OnlyDriveRootedPathsAndSharesAreFull) {
    struct {
        const char* Path;
        bool Full;
    } cases[] = {
        {"C:\\", true},
        {"C:\\Program Files\\Quorvanel", true},
        {"z:\\a\\", true},
        {"\\\\server\\share", true},
        {"\\\\server\\share\\dir\\", true},
        {"\\\\s\\x", true},
        {"", false},
        {"qv-rel\\sub", false},
        {"C:foo", false},
        {"C:", false},
        {"C:/foo", false},
        {"\\foo", false},
        {"/foo", false},
        {"1:\\foo", false},
        {":\\foo", false},
        {" C:\\foo", false},
        {"\\\\", false},
        {"\\\\server", false},
        {"\\\\server\\", false},
        {"\\\\\\share", false},
        {"\\\\.\\C:\\dir", false},
        {"\\\\?\\C:\\dir", false},
        {"\\\\server/share", false},
    };
    for (const auto& c : cases) EXPECT_EQ(c.Full, IsFullTargetPath(c.Path)) << "\"" << c.Path << "\"";
}

// The directory the dialog installs to, on the real file system.
struct TargetDirectoryTest : ::testing::Test {
    std::string root;
    void SetUp() override { root = qvtest::ToBackslashes(qvtest::MakeTempDir("target")); }
    std::string At(const std::string& rest) const { return root + "\\" + rest; }
    bool IsDirectory(const std::string& path) const {
        uint32_t attributes = 0;
        return PlatformGetAttributes(path.c_str(), &attributes) == kPlatformDone && (attributes & kAttrDirectory);
    }
};

TEST_F(TargetDirectoryTest, MissingTreeIsMadeAndAnExistingDirectoryTaken) {
    EXPECT_TRUE(PrepareTargetDirectory(At("New\\Deep").c_str()));
    EXPECT_TRUE(IsDirectory(At("New\\Deep")));
    EXPECT_TRUE(PrepareTargetDirectory(At("New\\Deep").c_str())) << "stands already";
    EXPECT_TRUE(PrepareTargetDirectory(root.c_str()));
    // With a trailing backslash the tree is made as well, and taken.
    EXPECT_TRUE(PrepareTargetDirectory(At("Other\\Deeper\\").c_str()));
    EXPECT_TRUE(IsDirectory(At("Other\\Deeper")));
}

TEST_F(TargetDirectoryTest, FileIsNeverTakenForTheTarget) {
    std::string file = At("plain");
    FileStream* f = OpenFilePlain(file.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    CloseFile(f);
    EXPECT_FALSE(PrepareTargetDirectory(file.c_str()));
    EXPECT_FALSE(PrepareTargetDirectory((file + "\\").c_str()));
    EXPECT_FALSE(PrepareTargetDirectory(At("plain\\Below").c_str()));
    EXPECT_FALSE(IsDirectory(At("plain\\Below")));
    EXPECT_FALSE(IsDirectory(file)) << "the file stays a file";
}

TEST(ProgramGroupCommandTest, GroupCommandCountsItsNul) {
    char buffer[kCommandBufferSize];
    EXPECT_EQ(25u, FormatGroupCommand(buffer, sizeof buffer));
    EXPECT_STREQ("[CreateGroup(Quorvanel)]", buffer);
}

TEST(ProgramGroupCommandTest, ItemIsQuotedOnlyForABlank) {
    char buffer[kCommandBufferSize];
    uint32_t n = FormatItemCommand(buffer, sizeof buffer, "C:\\Programme\\Quorvanel\\");
    EXPECT_STREQ("[AddItem(C:\\Programme\\Quorvanel\\QRVNL.EXE,Quorvanel)]", buffer);
    EXPECT_EQ(strlen(buffer) + 1, n);

    n = FormatItemCommand(buffer, sizeof buffer, "C:\\Program Files\\Quorvanel\\");
    EXPECT_STREQ("[AddItem(\"C:\\Program Files\\Quorvanel\\QRVNL.EXE\",Quorvanel)]", buffer);
    EXPECT_EQ(strlen(buffer) + 1, n);

    FormatItemCommand(buffer, sizeof buffer, "C:\\Tab\there\\");
    EXPECT_STREQ("[AddItem(C:\\Tab\there\\QRVNL.EXE,Quorvanel)]", buffer);
}

TEST(ProgramGroupCommandTest, CommandThatDoesNotFitIsNotToBeSent) {
    char buffer[kCommandBufferSize];
    std::string longest(kPathSize - 2, 'q');
    longest += '\\';
    EXPECT_GT(FormatItemCommand(buffer, sizeof buffer, longest.c_str()), 0u);
    // The exact fit and one byte short of it.
    EXPECT_EQ(25u, FormatGroupCommand(buffer, 25));
    EXPECT_EQ(0u, FormatGroupCommand(buffer, 24));
    EXPECT_EQ(0u, FormatItemCommand(buffer, 16, "C:\\"));
}

}  // namespace
