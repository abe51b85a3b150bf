// Whole installations of what the packer builds: the installer's own
// driver installs a packed installer to the identical tree.
#include <gtest/gtest.h>

#include <stdio.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "base/context.h"
#include "install/driver.h"
#include "install/platform.h"
#include "pack/archivewriter.h"
#include "pack/stubcheck.h"
#include "support/testdata.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

void Quiet(void*, const char*) {}
void QuietError(void*, const char*, const char*) {}

void Put(const std::string& path, const Bytes& data) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
}

TEST(PackedInstaller, InstallsTheIdenticalTree) {
    std::string source = qvtest::MakeTempDir("source");
    mkdir((source + "/Docs").c_str(), 0755);
    mkdir((source + "/Docs/Deep").c_str(), 0755);
    Put(source + "/QRVNL.EXE", qvtest::Mixed(1200000, 3));  // more than the window
    Put(source + "/QUORZIP.SET", qvtest::ToBytes("[Options]\nView=1\n"));
    Put(source + "/Docs/empty.txt", Bytes());
    for (int i = 0; i < 300; i++) {
        char name[64];
        snprintf(name, sizeof name, "/Docs/Deep/note%03d.txt", i);
        Put(source + name, qvtest::ToBytes(std::string("note ") + std::to_string(i * i) + "\n" +
                                              std::string(static_cast<size_t>(i % 50), 'x')));
    }
    std::vector<PackSource> sources;
    std::string error;
    ASSERT_TRUE(CollectSources(source, "", -1, &sources, &error)) << error;

    HostUiHooks hooks = {Quiet, QuietError, nullptr};
    SetHostUiHooks(&hooks);
    for (int level : {2, 5}) {
        Bytes image = qvtest::InstallerImage(0xC800);
        ASSERT_TRUE(CheckStubImage(image.data(), image.size(), &error)) << error;
        std::string installer = qvtest::WriteTempFile(image, "setup.exe");
        FILE* f = fopen(installer.c_str(), "ab");
        ASSERT_TRUE(WriteArchive(f, &sources, level, nullptr, nullptr, nullptr, &error)) << error;
        fclose(f);
        ASSERT_TRUE(CheckArchiveLocated(installer, image.size(), &error)) << error;

        std::string target = qvtest::MakeTempDir("target");
        char dir[kPathSize + 1];
        snprintf(dir, sizeof dir, "%s", qvtest::ToBackslashes(target).c_str());
        ASSERT_EQ(InstallFromArchive(nullptr, qvtest::ToBackslashes(installer).c_str(), dir), 0u) << level;
        EXPECT_EQ(qvtest::ListTree(target), qvtest::ListTree(source));
        for (const PackSource& s : sources) {
            std::string rel = s.Name;
            for (char& c : rel) c = c == '\\' ? '/' : c;
            EXPECT_EQ(qvtest::ReadFileBytes(target + "/" + rel), qvtest::ReadFileBytes(s.Path)) << rel;
        }
    }
    SetHostUiHooks(nullptr);
}

}  // namespace
