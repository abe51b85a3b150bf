// qvinstall used as a person would: list, test and install a sample
// installer, and the messages and exit codes of the usual mistakes.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <algorithm>
#include <string>
#include <vector>

#include "support/archive_builder.h"
#include "support/install_fixtures.h"

#ifndef QV_QVINSTALL_PATH
#error "QV_QVINSTALL_PATH names the qvinstall program under test"
#endif

namespace {

using qvtest::Bytes;

using qvtest::ToBytes;

struct Outcome {
    int status = -1;
    std::string out, err;
};

std::string ReadText(const std::string& path) {
    Bytes b = qvtest::ReadFileBytes(path);
    return std::string(b.begin(), b.end());
}

struct QvinstallTest : ::testing::Test {
    std::string root;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = qvtest::MakeTempDir(std::string("qvinstall_") + info->name());
    }
    Outcome Qvinstall(const std::string& args) {
        Outcome r;
        std::string out = root + "/stdout.txt", err = root + "/stderr.txt";
        std::string cmd = std::string(QV_QVINSTALL_PATH) + " " + args + " >'" + out + "' 2>'" +
                          err + "' </dev/null";
        int raw = system(cmd.c_str());
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = ReadText(out);
        r.err = ReadText(err);
        return r;
    }
};

struct SampleFile {
    std::string name;  // as stored, with '/'
    std::string content;
};

const std::vector<SampleFile> kSample = {
    {"FILE_ID.DIZ", "ZT Quorvanel Lite 2.21\r\n"},
    {"QRVNL.EXE", std::string("MZ\x90\0\x03\0\0\0", 8) + std::string(3000, 'x')},
    {"HELP/QRVNL.HLP", "help text"},
    {"HELP/DE/QRVNL.HLP", "Hilfetext"},
    {"QUORZIP.SET", "[Quorvanel]\r\nView=1\r\n"},
};

Bytes SampleInstaller(bool damageLast = false) {
    Bytes out = qvtest::ImagePrefix(4096);
    qvtest::Append(out, qvtest::Marker());
    qvtest::Append(out, qvtest::MainHeader());
    for (size_t i = 0; i < kSample.size(); i++) {
        qvtest::FileSpec e = qvtest::LiteralEntry(kSample[i].name, kSample[i].content, i > 0);
        if (damageLast && i + 1 == kSample.size()) e.dataCrc ^= 0x100;
        qvtest::Append(out, qvtest::FileBlock(e));
    }
    qvtest::Append(out, qvtest::EndBlock());
    return out;
}

// The files below dir, without the directories that hold them.
std::vector<std::string> ListFiles(const std::string& dir) {
    std::vector<std::string> files;
    for (const std::string& path : qvtest::ListTree(dir))
        if (path.back() != '/') files.push_back(path);
    return files;
}

TEST_F(QvinstallTest, InstallsTheSampleIntoAFreshDirectory) {
    std::string installer = qvtest::WriteTempFile(SampleInstaller(), "sample-setup.exe");
    std::string target = root + "/new/deeper/Quorvanel";
    Outcome r = Qvinstall("install '" + installer + "' '" + target + "'");
    EXPECT_EQ(0, r.status) << r.err;
    std::vector<std::string> tree = ListFiles(target);
    std::vector<std::string> expected;
    for (const auto& f : kSample) expected.push_back(f.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, tree);
    for (const auto& f : kSample) EXPECT_EQ(f.content, ReadText(target + "/" + f.name)) << f.name;
    // Not a terminal: one line per entry, then a summary.
    EXPECT_NE(std::string::npos, r.err.find("installing HELP\\DE\\QRVNL.HLP\n")) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("installed 5 files")) << r.err;

    // Again over it: the settings file is kept.
    FILE* f = fopen((target + "/QUORZIP.SET").c_str(), "wb");
    fputs("mine", f);
    fclose(f);
    EXPECT_EQ(0, Qvinstall("install '" + installer + "' '" + target + "'").status);
    EXPECT_EQ("mine", ReadText(target + "/QUORZIP.SET"));
}

TEST_F(QvinstallTest, ListAndTestLookWithoutWriting) {
    std::string installer = qvtest::WriteTempFile(SampleInstaller(), "sample-setup.exe");
    Outcome list = Qvinstall("list '" + installer + "'");
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("1998-11-16 22:03:04")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("HELP\\DE\\QRVNL.HLP")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find(".....A")) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("5 entries")) << list.out;

    // Nothing appears beside the installer or in the scratch directory.
    std::string dir = installer.substr(0, installer.rfind('/'));
    std::vector<std::string> before = ListFiles(dir);
    Outcome test = Qvinstall("test '" + installer + "'");
    std::vector<std::string> after = ListFiles(dir);
    EXPECT_EQ(before, after);
    EXPECT_EQ(0, test.status) << test.out << test.err;
    EXPECT_NE(std::string::npos, test.out.find("5 entries OK, 0 failed")) << test.out;

    std::string damaged = qvtest::WriteTempFile(SampleInstaller(true), "damaged-setup.exe");
    Outcome bad = Qvinstall("test '" + damaged + "'");
    EXPECT_EQ(3, bad.status);
    EXPECT_NE(std::string::npos, bad.out.find("FAILED  QUORZIP.SET (checksum mismatch)")) << bad.out;
    EXPECT_NE(std::string::npos, bad.out.find("4 entries OK, 1 failed")) << bad.out;
}

TEST_F(QvinstallTest, StoredNamesAreShownEscapedAndDamageIsTold) {
    // A name that would clear the terminal and one in another code page.
    Bytes out = qvtest::ImagePrefix(1024);
    qvtest::Append(out, qvtest::Marker());
    qvtest::Append(out, qvtest::MainHeader());
    qvtest::Append(out, qvtest::FileBlock(qvtest::LiteralEntry("EVIL\x1b[2J\x07.TXT", "x", false)));
    qvtest::Append(out, qvtest::FileBlock(qvtest::LiteralEntry("M\xe4RZ.TXT", "y", true)));
    std::string installer = qvtest::WriteTempFile(out, "names-setup.exe");
    for (const char* command : {"list", "test"}) {
        Outcome r = Qvinstall(std::string(command) + " '" + installer + "'");
        EXPECT_EQ(0, r.status) << command << r.out;
        EXPECT_EQ(std::string::npos, r.out.find('\x1b')) << command;
        EXPECT_EQ(std::string::npos, r.out.find('\x07')) << command;
        EXPECT_NE(std::string::npos, r.out.find("EVIL\\x1B[2J\\x07.TXT")) << command << r.out;
        EXPECT_NE(std::string::npos, r.out.find("M\\xE4RZ.TXT")) << command << r.out;
    }
    Outcome install = Qvinstall("install '" + installer + "' '" + root + "/t'");
    EXPECT_EQ(0, install.status) << install.err;
    EXPECT_EQ(std::string::npos, install.err.find('\x1b')) << install.err;

    // A damaged header: list and test say where, and end with 3.
    Bytes damaged = SampleInstaller();
    damaged[4096 + 7 + 13 + 2] ^= 0x20;  // the first file header's type: no block the format knows
    std::string bad = qvtest::WriteTempFile(damaged, "damaged-header.exe");
    Outcome list = Qvinstall("list '" + bad + "'");
    EXPECT_EQ(3, list.status) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("the archive is damaged at offset 4116")) << list.out;
    Outcome test = Qvinstall("test '" + bad + "'");
    EXPECT_EQ(3, test.status) << test.out;
    EXPECT_NE(std::string::npos, test.out.find("0 entries OK")) << test.out;
}

TEST_F(QvinstallTest, MistakesGetAMessageAndTheirOwnExitCode) {
    Outcome help = Qvinstall("--help");
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("install FILE TARGET"));
    EXPECT_EQ(64, Qvinstall("").status);
    EXPECT_EQ(64, Qvinstall("unpack x").status);
    EXPECT_EQ(64, Qvinstall("install only-one-argument").status);

    Outcome missing = Qvinstall("install '" + root + "/nothing.exe' '" + root + "/t'");
    EXPECT_EQ(2, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("cannot open")) << missing.err;
    EXPECT_EQ(2, Qvinstall("list '" + root + "/nothing.exe'").status);

    std::string plain = qvtest::WriteTempFile(ToBytes("no archive in here"), "plain.exe");
    Outcome none = Qvinstall("test '" + plain + "'");
    EXPECT_EQ(2, none.status);
    EXPECT_NE(std::string::npos, none.err.find("no archive found")) << none.err;

    std::string installer = qvtest::WriteTempFile(SampleInstaller(), "sample-setup.exe");
    Outcome notDir = Qvinstall("install '" + installer + "' '" + plain + "'");
    EXPECT_EQ(73, notDir.status);
    EXPECT_NE(std::string::npos, notDir.err.find("not a directory")) << notDir.err;
    Outcome cannot = Qvinstall("install '" + installer + "' '" + plain + "/sub'");
    EXPECT_EQ(73, cannot.status);
    EXPECT_NE(std::string::npos, cannot.err.find("Cannot create path.")) << cannot.err;

    std::string damaged = qvtest::WriteTempFile(SampleInstaller(true), "damaged-setup.exe");
    Outcome bad = Qvinstall("install '" + damaged + "' '" + root + "/t'");
    EXPECT_EQ(3, bad.status);
    EXPECT_NE(std::string::npos, bad.err.find("qvinstall: QUORZIP.SET: Cannot install file.")) << bad.err;
}

}  // namespace
