// The POSIX layer under the file operations: backslash paths, directory
// results, permissions standing in for the read-only attribute, and file
// times taken as local time, and temporary files a stop by a signal deletes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "install/fileops.h"
#include "install/platform.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

using namespace qvtest;

namespace {

struct PosixTest : ::testing::Test {
    std::string native;  // with '/'
    std::string core;    // the same directory with '\'
    void SetUp() override {
        native = MakeTempDir("posix");
        core = ToBackslashes(native);
    }
    std::string NewFile(const std::string& name, mode_t mode = 0644) {
        std::string path = native + "/" + name;
        WriteTempFileAt(path);
        chmod(path.c_str(), mode);
        return path;
    }
    static void WriteTempFileAt(const std::string& path) {
        FILE* f = fopen(path.c_str(), "wb");
        ASSERT_NE(nullptr, f) << path;
        fputs("content", f);
        fclose(f);
    }
    static mode_t Mode(const std::string& path) {
        struct stat st;
        EXPECT_EQ(0, stat(path.c_str(), &st)) << path;
        return st.st_mode & 07777;
    }
};

// Runs a piece of a test in another working directory.
struct ScopedWorkingDir {
    char saved[4096];
    explicit ScopedWorkingDir(const std::string& dir) {
        EXPECT_NE(nullptr, getcwd(saved, sizeof saved));
        EXPECT_EQ(0, chdir(dir.c_str()));
    }
    ~ScopedWorkingDir() { EXPECT_EQ(0, chdir(saved)); }
};

// Runs a piece of a test in another time zone.
struct ScopedTimeZone {
    std::string saved;
    bool had;
    explicit ScopedTimeZone(const char* zone) : had(getenv("TZ") != nullptr) {
        if (had) saved = getenv("TZ");
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (had)
            setenv("TZ", saved.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }
};

TEST_F(PosixTest, BackslashesBecomeSlashesAtTheSystemBoundary) {
    EXPECT_EQ(kCreateDirOk, PlatformCreateDirectory((core + "\\made").c_str()));
    struct stat st;
    ASSERT_EQ(0, stat((native + "/made").c_str(), &st));
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(kCreateDirFailed, PlatformCreateDirectory((core + "\\made").c_str())) << "exists";
    EXPECT_EQ(kCreateDirParentMissing, PlatformCreateDirectory((core + "\\no\\made").c_str()));
    EXPECT_EQ(0, CheckFileExists((core + "\\made").c_str()));
}

TEST_F(PosixTest, RootThatCannotBeCreatedEndsTheRecursion) {
    // In a working directory that has been removed, every relative mkdir
    // fails as if a parent were missing, the drive-root form "Q:\" too,
    // which CutLastComponent cannot shorten any further.
    std::string gone = MakeTempDir("gone");
    ScopedWorkingDir in(gone);
    ASSERT_EQ(0, rmdir(gone.c_str()));
    EXPECT_EQ(kCreateDirParentMissing, PlatformCreateDirectory("Q:\\"));
    EXPECT_EQ(2, CreatePathTree("Q:\\New\\Deep"));
    EXPECT_EQ(2, CreatePathTree("Q:\\"));
    EXPECT_EQ(2, CreatePathTree("Relative\\Dir"));
    EXPECT_EQ(2, CreatePathTree(""));
    EXPECT_EQ(2, CreatePathTree("\\")) << "the file system root exists";
}

TEST_F(PosixTest, MakeWritableAddsOwnerWriteAndKeepsTheRest) {
    std::string path = NewFile("ro.txt", 0444);
    EXPECT_EQ(0, MakeWritable(ToBackslashes(path).c_str()));
    EXPECT_EQ(0644u, Mode(path));
    path = NewFile("x.sh", 0555);
    EXPECT_EQ(0, MakeWritable(path.c_str()));
    EXPECT_EQ(0755u, Mode(path));
}

TEST_F(PosixTest, AttributesMapReadOnlyToWritePermission) {
    std::string path = NewFile("attr.txt", 0666);
    EXPECT_EQ(0, PlatformSetAttributes(ToBackslashes(path).c_str(), 0x21));
    EXPECT_EQ(0444u, Mode(path));
    EXPECT_EQ(0, PlatformSetAttributes(path.c_str(), 0x20));
    EXPECT_EQ(0644u, Mode(path));
    EXPECT_NE(0, PlatformSetAttributes((native + "/missing").c_str(), 0x20));
}

TEST_F(PosixTest, DeleteLeavesDirectoriesAndTheirLinksAlone) {
    ASSERT_EQ(0, mkdir((native + "/dir").c_str(), 0755));
    EXPECT_NE(0, PlatformDeleteFile((core + "\\dir").c_str()));
    EXPECT_NE(0, PlatformShellDeleteFile(nullptr, (core + "\\dir").c_str()));
    EXPECT_EQ(0, CheckFileExists((core + "\\dir").c_str()));
    std::string file = NewFile("gone.txt");
    EXPECT_EQ(0, PlatformShellDeleteFile(nullptr, ToBackslashes(file).c_str()));
    EXPECT_EQ(2, CheckFileExists(file.c_str()));
}

TEST_F(PosixTest, ShareCodesAreIgnored) {
    std::string path = ToBackslashes(NewFile("shared.bin"));
    for (int share : {0, 1, 2, 3, 0x40}) {
        FileStream* first = OpenFileShared(path.c_str(), "rb", share);
        ASSERT_NE(nullptr, first) << "share code " << share;
        FileStream* second = OpenFileShared(path.c_str(), "r+b", 2);
        EXPECT_NE(nullptr, second) << "share code " << share;
        CloseFile(second);
        CloseFile(first);
    }
}

// Bytes that were written into the stream but could not go out (a full
// disk) make closing fail, so the installer does not count the file as
// installed.
TEST_F(PosixTest, ClosingReportsBytesThatCouldNotGoOut) {
    FileStream* full = OpenStream("/dev/full", "wb", kStreamShareAll);
    if (!full) GTEST_SKIP() << "no /dev/full here";
    char bytes[64] = {0};
    EXPECT_EQ(sizeof bytes, WriteBytes(full, bytes, sizeof bytes));  // held in the stream's buffer
    EXPECT_NE(0, CloseFile(full));
    FileStream* fine = OpenFilePlain(ToBackslashes(NewFile("fine.bin")).c_str(), "wb");
    ASSERT_NE(nullptr, fine);
    EXPECT_EQ(sizeof bytes, WriteBytes(fine, bytes, sizeof bytes));
    EXPECT_EQ(0, CloseFile(fine));
    EXPECT_EQ(0, CloseFile(nullptr));
}

TEST_F(PosixTest, LastWriteTimeIsTheStoredLocalTime) {
    std::string path = NewFile("dated.txt");
    struct timespec times[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(0, utimensat(AT_FDCWD, path.c_str(), times, 0));
    ScopedTimeZone zone("CET-1CEST,M3.5.0,M10.5.0/3");

    // Winter: UTC+1.
    EXPECT_EQ(
        0, PlatformSetFileTime(ToBackslashes(path).c_str(), DosDateTime(1998, 11, 16, 22, 3, 4)));
    struct stat st;
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(911250184, st.st_mtime);  // 1998-11-16 21:03:04 UTC
    EXPECT_EQ(1000000000, st.st_atime) << "last access kept";

    // Summer: UTC+2, so the daylight saving rule must be applied.
    EXPECT_EQ(0, PlatformSetFileTime(path.c_str(), DosDateTime(1998, 7, 1, 12, 0, 0)));
    ASSERT_EQ(0, stat(path.c_str(), &st));
    EXPECT_EQ(899287200, st.st_mtime);  // 1998-07-01 10:00:00 UTC

    EXPECT_NE(
        0, PlatformSetFileTime((native + "/missing").c_str(), DosDateTime(1998, 7, 1, 12, 0, 0)));
}

// A stop by a signal never leaves a temporary file behind, whenever it
// comes. Each child makes, closes and deletes a temporary file in a loop,
// as the driver does an entry at a time, until a SIGTERM sent after a
// delay of its own stops it; at a moment between the create and the note
// the file would stay. Some moments of 200 fall there.
TEST_F(PosixTest, AStopAtAnyMomentLeavesNoTemporaryFile) {
    unsigned seed = 1;
    for (int child = 0; child < 200; child++) {
        std::string dir = native + "/c" + std::to_string(child);
        ASSERT_EQ(0, mkdir(dir.c_str(), 0755));
        std::string temp = ToBackslashes(dir) + "\\~qv0000.tmp";
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            PlatformRemoveTemporaryOnSignals();
            for (;;) {
                FileStream* file = PlatformCreateTemporary(temp.c_str());
                if (!file) _exit(2);
                CloseFile(file);
                PlatformDeleteFile(temp.c_str());
                PlatformNoteTemporary(NULL);
            }
        }
        seed = seed * 1103515245u + 12345u;
        usleep(200 + (seed >> 16) % 1500);
        kill(pid, SIGTERM);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << "child " << child << ": " << status;
        EXPECT_EQ(std::vector<std::string>(), ListTree(dir)) << "child " << child;
    }
}

}  // namespace
