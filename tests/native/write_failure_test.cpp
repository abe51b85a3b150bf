// A write that fails (a full disk, a file too large for the medium) is told
// as a write failure with the system's reason, never as damaged data, and
// costs nothing of an earlier installation.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "install/driver.h"
#include "install/platform.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

// What the child's installation reported, handed back through a pipe.
struct Outcome {
    uint32_t Result;
    uint32_t SystemError;
    char Caption[64];
    char Text[64];
};
Outcome gOutcome;

std::string AsText(const Bytes& b) { return std::string(b.begin(), b.end()); }

void NoStatus(void*, const char*) {}
void RecordError(void*, const char* text, const char* caption) {
    snprintf(gOutcome.Text, sizeof gOutcome.Text, "%s", text);
    snprintf(gOutcome.Caption, sizeof gOutcome.Caption, "%s", caption);
}
void RecordWriteFailure(void*, const char* text, const char* caption, uint32_t systemError) {
    RecordError(nullptr, text, caption);
    gOutcome.SystemError = systemError;
}

// Installs the archive at path into target in a child process whose files
// may not grow past limit bytes.
Outcome InstallWithFileLimit(const std::string& path, const std::string& target, rlim_t limit) {
    int fds[2];
    EXPECT_EQ(0, pipe(fds));
    pid_t pid = fork();
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);  // the write fails with EFBIG instead
        struct rlimit rl = {limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        memset(&gOutcome, 0, sizeof gOutcome);
        HostUiHooks hooks = {NoStatus, RecordError, RecordWriteFailure};
        SetHostUiHooks(&hooks);
        char dir[kPathSize];
        snprintf(dir, sizeof dir - 1, "%s", qvtest::ToBackslashes(target).c_str());
        gOutcome.Result = InstallFromArchive(nullptr, qvtest::ToBackslashes(path).c_str(), dir);
        ssize_t written = write(fds[1], &gOutcome, sizeof gOutcome);
        _exit(written == sizeof gOutcome ? 0 : 1);
    }
    close(fds[1]);
    Outcome outcome;
    memset(&outcome, 0, sizeof outcome);
    EXPECT_EQ(static_cast<ssize_t>(sizeof outcome), read(fds[0], &outcome, sizeof outcome));
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return outcome;
}

TEST(WriteFailure, AFileTooLargeForTheMediumFailsWithItsReasonAndKeepsTheOldFile) {
    std::string target = qvtest::MakeTempDir("full");
    std::string before = qvtest::WriteTempFile(
        qvtest::SealedArchiveOf({qvtest::FileBlock(qvtest::LiteralEntry("BIG.BIN", "the earlier version", false))}),
        "before.bin");
    ASSERT_EQ(0u, InstallWithFileLimit(before, target, RLIM_INFINITY).Result);

    std::string big(200000, 'x');
    std::string after = qvtest::WriteTempFile(
        qvtest::SealedArchiveOf({qvtest::FileBlock(qvtest::LiteralEntry("A.TXT", "fits", false)),
                                 qvtest::FileBlock(qvtest::LiteralEntry("BIG.BIN", big, true))}),
        "after.bin");
    Outcome full = InstallWithFileLimit(after, target, 100000);
    EXPECT_EQ(1u, full.Result) << "a write failure, not damage (3)";
    EXPECT_EQ(static_cast<uint32_t>(EFBIG), full.SystemError);
    EXPECT_STREQ("BIG.BIN", full.Caption);
    EXPECT_STREQ("Cannot install file.", full.Text);
    EXPECT_EQ("the earlier version", AsText(qvtest::ReadFileBytes(target + "/BIG.BIN")));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "BIG.BIN"}), qvtest::ListTree(target)) << "no temporary file";

    // Once there is room, the same installer completes.
    EXPECT_EQ(0u, InstallWithFileLimit(after, target, RLIM_INFINITY).Result);
    EXPECT_EQ(big, AsText(qvtest::ReadFileBytes(target + "/BIG.BIN")));
}

}  // namespace
