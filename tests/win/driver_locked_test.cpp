// A file that another program holds open cannot be replaced: the driver
// reports it with the target path and leaves the file as it was.
#include <windows.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "install/driver.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "support/archive_builder.h"
#include "support/bitwriter.h"

namespace {

using qvtest::Bytes;

std::vector<std::string> gCaptions;
void NoStatus(void*, const char*) {}
void RecordError(void*, const char*, const char* caption) { gCaptions.push_back(caption); }

TEST(LockedFileTest, LockedTargetIsReportedAndKept) {
    std::string target = qvtest::MakeTempDir("driver_locked");
    std::string path = target + "\\QRVNL.EXE";
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ, NULL,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, h);
    DWORD written = 0;
    WriteFile(h, "running", 7, &written, NULL);

    Bytes data = {'n', 'e', 'w'};
    qvtest::FileSpec e;
    e.name = "QRVNL.EXE";
    e.packed = qvtest::PackLiterals(data.data(), data.size(), false);
    e.unpackedSize = 3;
    e.dataCrc = qvtest::Crc32(data);
    Bytes archive = qvtest::Marker();
    qvtest::Append(archive, qvtest::MainHeader());
    qvtest::Append(archive, qvtest::FileBlock(e));
    std::string archivePath = qvtest::WriteTempFile(archive, "locked.bin");

    HostUiHooks hooks = {NoStatus, RecordError, NULL};
    SetHostUiHooks(&hooks);
    char dir[kPathSize + 1];
    lstrcpynA(dir, target.c_str(), kPathSize);
    EXPECT_EQ(1u, InstallFromArchive(NULL, archivePath.c_str(), dir));
    SetHostUiHooks(NULL);
    CloseHandle(h);

    EXPECT_EQ((std::vector<std::string>{path}), gCaptions);
    Bytes kept = qvtest::ReadFileBytes(path);
    EXPECT_EQ("running", std::string(kept.begin(), kept.end()));
    // The temporary file went away again.
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((target + "\\~qv*").c_str(), &found);
    EXPECT_EQ(INVALID_HANDLE_VALUE, search);
    if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

}  // namespace
