// qvinstall used as a person would: list, test and install a sample
// installer, and the messages and exit codes of the usual mistakes.
#include <gtest/gtest.h>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

#include <algorithm>
#include <string>
#include <vector>

#include "base/format.h"
#include "native/program_run.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

#ifndef QV_QVINSTALL_PATH
#error "QV_QVINSTALL_PATH names the qvinstall program under test"
#endif

namespace {

using qvtest::Bytes;

using qvtest::ToBytes;

using qvtest::Outcome;
using qvtest::ReadText;

struct QvinstallTest : ::testing::Test {
    std::string root;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = qvtest::MakeTempDir(std::string("qvinstall_") + info->name());
    }
    Outcome Qvinstall(const std::string& args) {
        return qvtest::RunProgram(std::string(QV_QVINSTALL_PATH) + " " + args, root);
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

// The parts of text between separators: lines without their line ends
// (a text ending in one has nothing after it), or the fields of a line.
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0, end;
    while ((end = text.find(separator, start)) != std::string::npos) {
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    if (separator != '\n' || start < text.size()) parts.push_back(text.substr(start));
    return parts;
}
std::vector<std::string> Lines(const std::string& text) { return Split(text, '\n'); }
std::vector<std::string> Fields(const std::string& line) { return Split(line, '\t'); }

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
    EXPECT_NE(std::string::npos, bad.err.find("FAILED  QUORZIP.SET (checksum mismatch)")) << bad.err;
    EXPECT_NE(std::string::npos, bad.err.find("4 entries OK, 1 failed")) << bad.err;
}

TEST_F(QvinstallTest, StoredNamesAreShownEscapedAndDamageIsTold) {
    // A name that would clear the terminal, one in the Western European code
    // page and one with a byte that code page does not define.
    Bytes out = qvtest::ImagePrefix(1024);
    qvtest::Append(out, qvtest::Marker());
    qvtest::Append(out, qvtest::MainHeader());
    qvtest::Append(out, qvtest::FileBlock(qvtest::LiteralEntry("EVIL\x1b[2J\x07.TXT", "x", false)));
    qvtest::Append(out, qvtest::FileBlock(qvtest::LiteralEntry("M\xe4RZ.TXT", "y", true)));
    qvtest::Append(out, qvtest::FileBlock(qvtest::LiteralEntry("ODD\x81.TXT", "z", true)));
    std::string installer = qvtest::WriteTempFile(out, "names-setup.exe");
    for (const char* command : {"list", "test"}) {
        Outcome r = Qvinstall(std::string(command) + " '" + installer + "'");
        EXPECT_EQ(0, r.status) << command << r.out;
        EXPECT_EQ(std::string::npos, r.out.find('\x1b')) << command;
        EXPECT_EQ(std::string::npos, r.out.find('\x07')) << command;
        EXPECT_NE(std::string::npos, r.out.find("EVIL\\x1B[2J\\x07.TXT")) << command << r.out;
        EXPECT_NE(std::string::npos, r.out.find("M\xC3\xA4RZ.TXT")) << command << r.out;
        EXPECT_NE(std::string::npos, r.out.find("ODD\\x81.TXT")) << command << r.out;
    }
    // A tab or a line end in a name never splits a machine-readable record.
    Bytes tabbed = qvtest::ImagePrefix(1024);
    qvtest::Append(tabbed, qvtest::Marker());
    qvtest::Append(tabbed, qvtest::MainHeader());
    qvtest::Append(tabbed, qvtest::FileBlock(qvtest::LiteralEntry("TAB\tNL\nCR\r.TXT", "t", false)));
    std::string tabbedFile = qvtest::WriteTempFile(tabbed, "tabbed-setup.exe");
    Outcome tsv = Qvinstall("list --format tsv '" + tabbedFile + "'");
    ASSERT_EQ(0, tsv.status) << tsv.err;
    ASSERT_EQ(2u, Lines(tsv.out).size()) << tsv.out;
    EXPECT_EQ(16u, Fields(Lines(tsv.out)[1]).size()) << tsv.out;
    EXPECT_EQ("TAB\\x09NL\\x0ACR\\x0D.TXT", Fields(Lines(tsv.out)[1])[0]);
    Outcome json = Qvinstall("list --format json '" + tabbedFile + "'");
    EXPECT_NE(std::string::npos, json.out.find("\"TAB\\u0009NL\\u000aCR\\u000d.TXT\"")) << json.out;

    // No name of this system's character set holds the undefined byte: the
    // installation stops there, as at a name the system refuses.
    Outcome install = Qvinstall("install '" + installer + "' '" + root + "/t'");
    EXPECT_EQ(1, install.status) << install.err;
    EXPECT_EQ(std::string::npos, install.err.find('\x1b')) << install.err;
    EXPECT_NE(std::string::npos, install.err.find("ODD\\x81.TXT: Cannot install file.")) << install.err;
    EXPECT_EQ("y", ReadText(root + "/t/M\xC3\xA4RZ.TXT"));

    // A damaged header: list and test say where, and end with 3.
    Bytes damaged = SampleInstaller();
    damaged[4096 + 7 + 13 + 2] ^= 0x20;  // the first file header's type: no block the format knows
    std::string bad = qvtest::WriteTempFile(damaged, "damaged-header.exe");
    Outcome list = Qvinstall("list '" + bad + "'");
    EXPECT_EQ(3, list.status) << list.out;
    EXPECT_NE(std::string::npos, list.out.find("the archive is damaged at offset 4116")) << list.out;
    Outcome test = Qvinstall("test '" + bad + "'");
    EXPECT_EQ(3, test.status) << test.err;
    EXPECT_NE(std::string::npos, test.err.find("0 entries OK")) << test.err;
}

// Each refusal of qvinstall: its exit code and a fragment of what it says
// on the error stream. One line a case.
TEST_F(QvinstallTest, MistakesGetAMessageAndTheirOwnExitCode) {
    Outcome help = Qvinstall("--help");
    EXPECT_EQ(0, help.status);
    EXPECT_NE(std::string::npos, help.out.find("install FILE TARGET"));

    const std::string sample = "'" + qvtest::WriteTempFile(SampleInstaller(), "sample-setup.exe") + "'";
    const std::string damaged = "'" + qvtest::WriteTempFile(SampleInstaller(true), "damaged-setup.exe") + "'";
    const std::string plainPath = qvtest::WriteTempFile(ToBytes("no archive in here"), "plain.exe");
    const std::string plain = "'" + plainPath + "'", missing = "'" + root + "/nothing.exe'", t = " '" + root + "/t'";
    struct Case {
        std::string args;
        int status;
        std::string said;
    } cases[] = {
        {"", 64, "Usage: qvinstall COMMAND"},
        {"unpack x", 64, "qvinstall: unknown command 'unpack'\nTry 'qvinstall --help'."},
        {"install only-one-argument", 64, "qvinstall: wrong number of arguments for install"},
        {"list --colour " + sample, 64, "qvinstall: unknown option --colour"},
        {"test --format json " + sample, 64, "qvinstall: --format is for list"},
        {"list --codepage 932 " + sample, 64, "qvinstall: --codepage needs a single-byte code page"},
        {"list --oem-codepage " + sample, 64, "qvinstall: --oem-codepage needs a single-byte code page"},
        {"install " + missing + t, 2, "qvinstall: cannot open " + root + "/nothing.exe: No such file or directory"},
        {"list " + missing, 2, "qvinstall: cannot open " + root + "/nothing.exe"},
        {"test " + plain, 2, "qvinstall: " + plainPath + ": no archive found"},
        {"install " + sample + " " + plain, 73, "qvinstall: " + plainPath + ": not a directory"},
        {"install " + sample + " '" + plainPath + "/sub'", 73, plainPath + "/sub: Cannot create path."},
        {"install " + sample + " ''", 73, "qvinstall: : empty target"},
        {"install " + damaged + t, 3, "qvinstall: QUORZIP.SET: Cannot install file."},
        {"test " + sample + " NOSUCH.TXT", 1, "qvinstall: NOSUCH.TXT: no such entry"},
    };
    for (const Case& c : cases) {
        Outcome r = Qvinstall(c.args);
        EXPECT_EQ(c.status, r.status) << c.args << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.said)) << c.args << ": " << r.err;
    }
}

// An installer cut short, as an interrupted download leaves it: every tool
// says so, and install refuses it before it makes the target.
TEST_F(QvinstallTest, ACutInstallerIsToldAndInstallsNothing) {
    std::vector<Bytes> blocks;
    std::vector<size_t> boundaries;
    Bytes sealed = qvtest::ImagePrefix(4096);
    for (size_t i = 0; i < kSample.size(); i++)
        blocks.push_back(qvtest::FileBlock(qvtest::LiteralEntry(kSample[i].name, kSample[i].content, i > 0)));
    sealed = qvtest::SealedArchiveOf(blocks, sealed);
    std::string whole = qvtest::WriteTempFile(sealed, "whole-setup.exe");
    EXPECT_EQ(0, Qvinstall("test '" + whole + "'").status);

    size_t cutAt = 4096 + kMarkerSize + kMainHeaderSize + blocks[0].size() + blocks[1].size();
    std::string cut = qvtest::WriteTempFile(Bytes(sealed.begin(), sealed.begin() + static_cast<long>(cutAt)),
                                            "cut-setup.exe");
    // What was found whole on standard output; the failure and the summary
    // that counts it on the error stream.
    Outcome test = Qvinstall("test '" + cut + "'");
    EXPECT_EQ(3, test.status) << test.err;
    EXPECT_EQ("OK      FILE_ID.DIZ\nOK      QRVNL.EXE\n", test.out);
    EXPECT_EQ("FAILED  the archive is cut short: it ends without its closing block\n"
              "2 entries OK, 0 failed; the archive is not whole\n",
              test.err);
    EXPECT_EQ(3, Qvinstall("list '" + cut + "'").status);
    Outcome install = Qvinstall("install '" + cut + "' '" + root + "/t'");
    EXPECT_EQ(3, install.status) << install.err;
    EXPECT_NE(std::string::npos, install.err.find("damaged or incomplete")) << install.err;
    struct stat st;
    EXPECT_NE(0, stat((root + "/t").c_str(), &st)) << "the target is made only after the check";

    // Data stored as it is: the decoder does not have that method.
    qvtest::FileSpec stored = qvtest::LiteralEntry("STORED.TXT", "as it is", false);
    stored.methodCode = kMethodStore;
    std::string storedFile = qvtest::WriteTempFile(qvtest::SealedArchiveOf({qvtest::FileBlock(stored)}), "st.exe");
    Outcome method = Qvinstall("test '" + storedFile + "'");
    EXPECT_EQ(1, method.status);
    EXPECT_NE(std::string::npos, method.err.find("needs method 0")) << method.err;
    // The listing says what install will do with it.
    EXPECT_NE(std::string::npos, Qvinstall("list --format json '" + storedFile + "'").out.find("\"installable\":false"));
    EXPECT_NE(std::string::npos, Qvinstall("list '" + storedFile + "'").out.find("(refused: stored data, method 0)"));
    EXPECT_EQ(1, Qvinstall("install '" + storedFile + "' '" + root + "/s'").status);
    EXPECT_NE(0, stat((root + "/s").c_str(), &st));
}


TEST_F(QvinstallTest, MachineReadableListingsHoldEveryField) {
    std::string installer = qvtest::WriteTempFile(SampleInstaller(), "sample-setup.exe");
    Outcome text = Qvinstall("list '" + installer + "'");
    Outcome json = Qvinstall("list --format json '" + installer + "'");
    ASSERT_EQ(0, json.status) << json.err;
    std::vector<std::string> objects = Lines(json.out);
    ASSERT_EQ(kSample.size(), objects.size()) << json.out;  // entries alone, one a line
    // HELP\DE\QRVNL.HLP: its data offset as the text listing shows it.
    const std::string& help = objects[3];
    EXPECT_EQ(0u, help.find("{\"name\":\"HELP\\\\DE\\\\QRVNL.HLP\",\"stored\":\"48454c505c44455c5152564e4c2e484c50\","))
        << help;
    for (const char* field : {"\"host\":2,", "\"codepage\":1252,", "\"unpacked\":9,", "\"time\":\"1998-11-16T22:03:04\",",
                              "\"dos_time\":628142178,", "\"attributes\":32,", "\"flags\":32784,", "\"version\":20,",
                              "\"method\":53,", "\"directory\":false,", "\"installable\":true}"})
        EXPECT_NE(std::string::npos, help.find(field)) << field << " in " << help;
    size_t at = help.find("\"data_offset\":");
    ASSERT_NE(std::string::npos, at);
    std::string offset = help.substr(at + 14, help.find(',', at) - at - 14);
    EXPECT_NE(std::string::npos, text.out.find(" " + offset + " HELP\\DE\\QRVNL.HLP")) << offset << text.out;

    Outcome tsv = Qvinstall("list --format tsv '" + installer + "'");
    ASSERT_EQ(0, tsv.status) << tsv.err;
    std::vector<std::string> lines = Lines(tsv.out);
    ASSERT_EQ(kSample.size() + 1, lines.size());
    std::vector<std::string> header = Fields(lines[0]);
    EXPECT_EQ((std::vector<std::string>{"name", "stored", "host", "codepage", "packed", "unpacked", "time", "dos_time",
                                        "attributes", "crc", "flags", "version", "method", "data_offset", "directory",
                                        "installable"}),
              header);
    std::vector<std::string> fields = Fields(lines[4]);
    ASSERT_EQ(header.size(), fields.size());
    EXPECT_EQ("HELP\\DE\\QRVNL.HLP", fields[0]);
    EXPECT_EQ(offset, fields[13]);
    EXPECT_EQ("1998-11-16T22:03:04", fields[6]);

    // What ends the walk early goes to the error stream, with the exit code.
    Bytes cut = SampleInstaller();
    cut[4096 + 7 + 13 + 2] ^= 0x20;
    std::string bad = qvtest::WriteTempFile(cut, "damaged-header.exe");
    Outcome broken = Qvinstall("list --format json '" + bad + "'");
    EXPECT_EQ(3, broken.status);
    EXPECT_EQ("", broken.out);
    EXPECT_NE(std::string::npos, broken.err.find("the archive is damaged at offset 4116")) << broken.err;

}

// An archive of one entry made on hostSystem under name.
std::string OneEntryArchive(const std::string& name, uint8_t hostSystem, const std::string& file) {
    qvtest::FileSpec e = qvtest::LiteralEntry(name, "content", false);
    e.hostSystem = hostSystem;
    return qvtest::WriteTempFile(qvtest::ArchiveOf({qvtest::FileBlock(e)}), file);
}

std::string JsonName(const std::string& json) {
    size_t start = json.find("\"name\":");
    if (start == std::string::npos) return "?";
    start += 7;
    return json.substr(start, json.find(",\"stored\"") - start);
}

TEST_F(QvinstallTest, NamesAreReadInTheCodePageOfTheSystemThatMadeThem) {
    // 0x9B: o-slash in the OEM code page 850, a cent sign in 437; 0xA3: a
    // pound sign in 1252, L-stroke in 1250.
    std::string dos = OneEntryArchive("K\x9B.TXT", kHostMsDos, "dos.rar");
    std::string os2 = OneEntryArchive("K\x9B.TXT", kHostOs2, "os2.rar");
    std::string win = OneEntryArchive("K\xA3.TXT", kHostWin32, "win.rar");
    std::string unix = OneEntryArchive("K\xC3\xA4.TXT", kHostUnix, "unix.rar");
    EXPECT_EQ("\"K\xC3\xB8.TXT\"", JsonName(Qvinstall("list --format json '" + dos + "'").out));
    EXPECT_EQ("\"K\xC3\xB8.TXT\"", JsonName(Qvinstall("list --format json '" + os2 + "'").out));
    EXPECT_EQ("\"K\xC2\xA2.TXT\"", JsonName(Qvinstall("list --format json --oem-codepage 437 '" + dos + "'").out));
    EXPECT_EQ("\"K\xC2\xA3.TXT\"", JsonName(Qvinstall("list --format json '" + win + "'").out));
    EXPECT_EQ("\"K\xC5\x81.TXT\"", JsonName(Qvinstall("list --codepage 1250 --format json '" + win + "'").out));
    EXPECT_EQ("\"K\xC3\xA4.TXT\"", JsonName(Qvinstall("list --format json '" + unix + "'").out));
    EXPECT_NE(std::string::npos, Qvinstall("list --format json '" + unix + "'").out.find("\"codepage\":null"));
    // The text listing and the installation name them alike.
    EXPECT_NE(std::string::npos, Qvinstall("list --codepage 1250 '" + win + "'").out.find(" K\xC5\x81.TXT\n"));
    struct Case {
        std::string archive, options, installed;
    } cases[] = {{dos, "", "K\xC3\xB8.TXT"}, {win, "--codepage 1250 ", "K\xC5\x81.TXT"}, {unix, "", "K\xC3\xA4.TXT"}};
    int n = 0;
    for (const Case& c : cases) {
        std::string target = root + "/t" + std::to_string(n++) + "/\xC3\x9C" "ber";  // the target as typed
        Outcome r = Qvinstall("install " + c.options + "'" + c.archive + "' '" + target + "'");
        EXPECT_EQ(0, r.status) << r.err;
        EXPECT_NE(std::string::npos, r.err.find("installing " + c.installed)) << r.err;
        EXPECT_EQ((std::vector<std::string>{c.installed}), ListFiles(target)) << c.archive;
    }
}

}  // namespace

namespace {

TEST_F(QvinstallTest, OnlySelectedEntriesAreListedTestedAndInstalled) {
    // The sample is solid: each entry continues the decoder state of the
    // one before. Its last entry (QUORZIP.SET) does not match its checksum.
    std::string installer = qvtest::WriteTempFile(SampleInstaller(true), "damaged-last-setup.exe");
    std::string target = root + "/t";

    // A selected entry behind unselected ones: they are decoded, not
    // written; nothing after it is decoded, so the damaged last one is not reached.
    Outcome r = Qvinstall("install '" + installer + "' '" + target + "' 'help/de/*'");
    EXPECT_EQ(0, r.status) << r.err;
    EXPECT_EQ(std::vector<std::string>{"HELP/DE/QRVNL.HLP"}, ListFiles(target));
    EXPECT_EQ("Hilfetext", ReadText(target + "/HELP/DE/QRVNL.HLP"));
    EXPECT_EQ("skipping FILE_ID.DIZ\nskipping QRVNL.EXE\nskipping HELP\\QRVNL.HLP\n"
              "installing HELP\\DE\\QRVNL.HLP\ninstalled 1 files into " + target + "\n",
              r.err);

    Outcome first = Qvinstall("install '" + installer + "' '" + root + "/u' FILE_ID.DIZ");
    EXPECT_EQ(0, first.status) << first.err;
    EXPECT_EQ("installing FILE_ID.DIZ\ninstalled 1 files into " + root + "/u\n", first.err);

    Outcome test = Qvinstall("test '" + installer + "' '*.HLP'");
    EXPECT_EQ(0, test.status) << test.out;
    EXPECT_EQ("OK      HELP\\QRVNL.HLP\nOK      HELP\\DE\\QRVNL.HLP\n2 entries OK, 0 failed\n", test.out);

    Outcome list = Qvinstall("list '" + installer + "' qrvnl.exe quorzip.set");
    EXPECT_EQ(0, list.status) << list.err;
    EXPECT_NE(std::string::npos, list.out.find("2 entries")) << list.out;
    EXPECT_EQ(std::string::npos, list.out.find("HLP")) << list.out;

    // On a terminal the progress line counts the selected entries alone:
    // two of five, the first of them started with none of their bytes done.
    std::string terminal = qvtest::RunProgram("script -qec \"" + std::string(QV_QVINSTALL_PATH) + " install '" +
                                                  installer + "' '" + root + "/w' QRVNL.EXE FILE_ID.DIZ\" /dev/null",
                                              root).out;
    EXPECT_NE(std::string::npos, terminal.find("[  0%] 1/2 FILE_ID.DIZ")) << terminal;

    // A name that selects nothing: nothing is installed, the target not made.
    Outcome none = Qvinstall("install '" + installer + "' '" + root + "/v' QRVNL.EXE nosuch");
    EXPECT_EQ(1, none.status);
    EXPECT_EQ("qvinstall: nosuch: no such entry\n", none.err);
    EXPECT_EQ(-1, access((root + "/v").c_str(), F_OK));
}

// Whether a temporary file of the installer stands in dir.
bool HoldsTemporary(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return false;
    bool found = false;
    while (struct dirent* e = readdir(d))
        if (strncmp(e->d_name, "~qv", 3) == 0) found = true;
    closedir(d);
    return found;
}

// Stopped by SIGTERM or SIGINT in the middle of a large entry, install
// removes its temporary file and dies of the signal. The signal is sent
// once the temporary file stands; a run that ended before is tried again.
TEST_F(QvinstallTest, AStopBySignalLeavesNoTemporaryFile) {
    std::string noise;
    uint32_t x = 7;
    for (int i = 0; i < 8000000; i++) noise.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
    std::string installer =
        qvtest::WriteTempFile(qvtest::SealedArchiveOf({qvtest::FileBlock(qvtest::LiteralEntry("BIG.DAT", noise, false))}),
                              "big.rar");
    for (int stop : {SIGTERM, SIGINT}) {
        int stopped = 0, tries = 0;
        for (; stopped < 2 && tries < 20; tries++) {
            std::string target = root + "/t" + std::to_string(stop) + "-" + std::to_string(tries);
            ASSERT_EQ(0, mkdir(target.c_str(), 0755));
            pid_t pid = fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) {
                signal(SIGTERM, SIG_DFL);  // not ignored as the test's own may be
                signal(SIGINT, SIG_DFL);
                freopen("/dev/null", "w", stdout);
                freopen("/dev/null", "w", stderr);
                execl(QV_QVINSTALL_PATH, "qvinstall", "install", installer.c_str(), target.c_str(),
                      static_cast<char*>(nullptr));
                _exit(127);
            }
            auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            int status = 0;
            bool ended = false;
            while (!HoldsTemporary(target) && std::chrono::steady_clock::now() < deadline)
                if ((ended = waitpid(pid, &status, WNOHANG) == pid)) break;
            if (!ended) {
                kill(pid, stop);
                ASSERT_EQ(pid, waitpid(pid, &status, 0));
            }
            EXPECT_FALSE(HoldsTemporary(target)) << "signal " << stop << ", try " << tries;
            if (WIFEXITED(status) && WEXITSTATUS(status) == 0) continue;  // it ended before the signal
            EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == stop) << "signal " << stop << ": " << status;
            stopped++;
        }
        EXPECT_EQ(2, stopped) << "signal " << stop << ": stopped twice in " << tries << " tries";
    }
}

}  // namespace
