// qvpack used as a person would on a real tree: names in UTF-8 packed for
// a Western or Central European Windows, the names it refuses and the
// warnings it gives, each with its exit code; and qvinstall shows and
// installs what it packed under the right names.
#include <gtest/gtest.h>

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <sys/types.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "native/program_run.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

#if !defined(QV_QVPACK_PATH) || !defined(QV_QVINSTALL_PATH)
#error "QV_QVPACK_PATH and QV_QVINSTALL_PATH name the programs under test"
#endif

namespace {

using qvtest::Outcome;

void Put(const std::string& path, const std::string& content) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(nullptr, f) << path;
    fwrite(content.data(), 1, content.size(), f);
    fclose(f);
}

void RemoveTreeBelow(const std::string& dir) {
    std::string command = "rm -rf '" + dir + "'";
    ASSERT_EQ(0, system(command.c_str()));
}

struct QvpackTest : ::testing::Test {
    std::string root, tree;
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = qvtest::MakeTempDir(std::string("qvpack_") + info->name());
        tree = root + "/tree";
        mkdir(tree.c_str(), 0755);
    }
    Outcome Qvpack(const std::string& args) {
        return qvtest::RunProgram(std::string(QV_QVPACK_PATH) + " -q --archive-only -o '" + root + "/out.rar' " +
                                      args + " '" + tree + "'",
                                  root);
    }
    Outcome Qvinstall(const std::string& args) {
        return qvtest::RunProgram(std::string(QV_QVINSTALL_PATH) + " " + args, root);
    }
    void Dir(const std::string& rel) { ASSERT_EQ(0, mkdir((tree + "/" + rel).c_str(), 0755)) << rel; }
};

TEST_F(QvpackTest, AccentedNamesArePackedForTheCodePageOrRefused) {
    Dir("Fran\xC3\xA7" "ais");
    Dir("Deutsch");
    Dir("Polski");
    Put(tree + "/\xC3\x9Cn\xC3\xAF" "code.txt", "unicode");
    Put(tree + "/Fran\xC3\xA7" "ais/\xC3\x89l\xC3\xA8ve.txt", "eleve");
    Put(tree + "/Deutsch/Gr\xC3\xB6\xC3\x9F" "e.txt", "groesse");
    Put(tree + "/Polski/W\xC3\xB3zek.txt", "wozek");
    Put(tree + "/Polski/\xC5\x81\xC3\xB3" "d\xC5\xBA.txt", "lodz");

    // L-stroke is no letter of Western European Windows: refused, with its name.
    Outcome refused = Qvpack("");
    EXPECT_EQ(2, refused.status);
    EXPECT_NE(std::string::npos,
              refused.err.find("Polski\\\xC5\x81\xC3\xB3" "d\xC5\xBA.txt: code page 1252 has no character for '\xC5\x81'"))
        << refused.err;
    EXPECT_NE(0, access((root + "/out.rar").c_str(), F_OK));

    // Without it the tree packs; the stored bytes are those of code page 1252.
    std::string lodz = tree + "/Polski/\xC5\x81\xC3\xB3" "d\xC5\xBA.txt";
    ASSERT_EQ(0, rename(lodz.c_str(), (root + "/lodz.txt").c_str()));
    Outcome packed = Qvpack("");
    ASSERT_EQ(0, packed.status) << packed.err;
    std::string archive = root + "/out.rar";
    Outcome json = Qvinstall("list --format json '" + archive + "'");
    ASSERT_EQ(0, json.status) << json.err;
    for (const char* expected :
         {"{\"name\":\"\xC3\x9Cn\xC3\xAF" "code.txt\",\"stored\":\"dc6eef636f64652e747874\"",
          "{\"name\":\"Polski\\\\W\xC3\xB3zek.txt\",\"stored\":\"506f6c736b695c57f37a656b2e747874\"",
          "{\"name\":\"Deutsch\\\\Gr\xC3\xB6\xC3\x9F" "e.txt\"", "{\"name\":\"Fran\xC3\xA7" "ais\\\\\xC3\x89l\xC3\xA8ve.txt\""})
        EXPECT_NE(std::string::npos, json.out.find(expected)) << expected << "\n" << json.out;
    Outcome text = Qvinstall("list '" + archive + "'");
    EXPECT_NE(std::string::npos, text.out.find(" Fran\xC3\xA7" "ais\\\xC3\x89l\xC3\xA8ve.txt\n")) << text.out;

    // Installed here, every name and every byte comes back.
    Outcome install = Qvinstall("install '" + archive + "' '" + root + "/installed'");
    ASSERT_EQ(0, install.status) << install.err;
    EXPECT_EQ(qvtest::ListTree(tree), qvtest::ListTree(root + "/installed"));
    EXPECT_EQ("eleve", qvtest::ReadText(root + "/installed/Fran\xC3\xA7" "ais/\xC3\x89l\xC3\xA8ve.txt"));

    // For Central European Windows the Polish name packs, the French one not.
    ASSERT_EQ(0, rename((root + "/lodz.txt").c_str(), lodz.c_str()));
    Outcome central = Qvpack("--codepage 1250");
    EXPECT_EQ(2, central.status);
    EXPECT_NE(std::string::npos, central.err.find("code page 1250 has no character for '\xC3\xA8'")) << central.err;
    ASSERT_EQ(0, unlink((tree + "/Fran\xC3\xA7" "ais/\xC3\x89l\xC3\xA8ve.txt").c_str()));
    rmdir((tree + "/Fran\xC3\xA7" "ais").c_str());
    ASSERT_EQ(0, unlink((tree + "/\xC3\x9Cn\xC3\xAF" "code.txt").c_str()));  // i-diaeresis neither
    central = Qvpack("--codepage 1250");
    ASSERT_EQ(0, central.status) << central.err;
    Outcome polish = Qvinstall("list --codepage 1250 --format json '" + archive + "'");
    EXPECT_NE(std::string::npos, polish.out.find("\"name\":\"Polski\\\\\xC5\x81\xC3\xB3" "d\xC5\xBA.txt\",\"stored\":"
                                                 "\"506f6c736b695ca3f3649f2e747874\""))
        << polish.out;

    EXPECT_EQ(64, Qvpack("--codepage").status);
    EXPECT_EQ(64, Qvpack("--codepage latin1").status);
    EXPECT_EQ(64, Qvpack("--codepage 932").status);
}

TEST_F(QvpackTest, NamesWindowsCannotCreateAreRefusedAtPackingTime) {
    Put(tree + "/fine.txt", "fine");
    struct Case {
        const char* name;
        const char* why;
    } cases[] = {{"what?.txt", "Windows cannot create a name with any of"},
                 {"pipe|d", "Windows cannot create a name with any of"},
                 {"tab\there", "control character"},
                 {"trail.", "Windows drops a dot or a space at the end"},
                 {"space ", "Windows drops a dot or a space at the end"},
                 {"COM1.log", "installer refuses"}};
    for (const Case& c : cases) {
        std::string path = tree + "/" + c.name;
        Put(path, "x");
        Outcome r = Qvpack("");
        EXPECT_EQ(2, r.status) << c.name;
        EXPECT_NE(std::string::npos, r.err.find(c.why)) << c.name << ": " << r.err;
        unlink(path.c_str());
    }
    // In a directory's name as in a file's.
    Dir("dir.");
    Put(tree + "/dir./inside.txt", "x");
    Outcome r = Qvpack("");
    EXPECT_EQ(2, r.status);
    EXPECT_NE(std::string::npos, r.err.find("dir.\\inside.txt: Windows drops a dot")) << r.err;
}

TEST_F(QvpackTest, WhatIsNotDeliveredIsSaid) {
    Put(tree + "/file.txt", "file");
    Dir("empty");
    Dir("docs");
    Put(tree + "/docs/read.me", "doc");
    ASSERT_EQ(0, symlink("docs", (tree + "/manual").c_str()));
    Outcome r = Qvpack("");
    ASSERT_EQ(0, r.status) << r.err;
    EXPECT_NE(std::string::npos, r.err.find("qvpack: warning: " + tree + "/empty: an empty directory is not delivered"))
        << r.err;
    Outcome json = Qvinstall("list --format json '" + root + "/out.rar'");
    EXPECT_NE(std::string::npos, json.out.find("\"name\":\"manual\\\\read.me\"")) << json.out;  // followed

    ASSERT_EQ(0, symlink("..", (tree + "/docs/parent").c_str()));
    Outcome loop = Qvpack("");
    EXPECT_EQ(2, loop.status);
    EXPECT_NE(std::string::npos, loop.err.find("/docs/parent: a symbolic link back to a directory that holds it"))
        << loop.err;

    Outcome help = qvtest::RunProgram(std::string(QV_QVPACK_PATH) + " --help", root);
    EXPECT_EQ(0, help.status);
    for (const char* said : {"--codepage N", "What is delivered: every regular file",
                             "Not delivered: empty directories", "Symbolic links are followed", "a loop and refused",
                             "< > : \" | ? *", "ending in a\ndot or a space", "then how many there are", "a link to nothing",
                             "over 3.75 GB of\nfiles in all", "Times before 1980"})
        EXPECT_NE(std::string::npos, help.out.find(said)) << said;
}

// The code page travels in the archive: a Cyrillic tree packed for
// Cyrillic Windows lists and installs under its own names with no option;
// --codepage still decides when given.
TEST_F(QvpackTest, TheCodePageTravelsWithTheArchive) {
    const std::string name = "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80.txt";  // "Primer" in Cyrillic
    Put(tree + "/" + name, "primer");
    ASSERT_EQ(0, Qvpack("--codepage 1251").status);
    std::string archive = root + "/out.rar";
    Outcome json = Qvinstall("list --format json '" + archive + "'");
    ASSERT_EQ(0, json.status) << json.err;
    EXPECT_NE(std::string::npos, json.out.find("{\"name\":\"" + name + "\",\"stored\":\"cff0e8ece5f02e747874\"")) << json.out;
    EXPECT_NE(std::string::npos, json.out.find("\"codepage\":1251")) << json.out;
    Outcome install = Qvinstall("install '" + archive + "' '" + root + "/installed'");
    ASSERT_EQ(0, install.status) << install.err;
    EXPECT_EQ("primer", qvtest::ReadText(root + "/installed/" + name));
    // Given, the option wins: the same bytes read as Western European.
    Outcome western = Qvinstall("list --format json --codepage 1252 '" + archive + "'");
    EXPECT_NE(std::string::npos, western.out.find("\"name\":\"\xC3\x8F\xC3\xB0")) << western.out;
    // Bytes that no longer match the closing block's CRC-32 leave the
    // block itself readable: the names are still read in its code page.
    qvtest::Bytes damaged = qvtest::ReadFileBytes(archive);
    size_t data = json.out.find("\"data_offset\":");
    ASSERT_NE(std::string::npos, data);
    damaged[std::stoul(json.out.substr(data + 14))] ^= 0x01;  // the first byte of the packed data
    std::string copy = qvtest::WriteTempFile(damaged, "damaged-1251.rar");
    EXPECT_NE(std::string::npos, Qvinstall("list --format json '" + copy + "'").out.find("\"name\":\"" + name + "\""));
}

// One qvpack run of a table: its arguments, the status it ends with and a
// fragment its standard error holds.
struct PackCase {
    std::string args;
    int status;
    std::string said;
};

// Runs qvpack -q with each case's arguments followed by tail, in dir.
void ExpectPackOutcomes(const std::vector<PackCase>& cases, const std::string& tail, const std::string& dir) {
    for (const PackCase& c : cases) {
        Outcome r = qvtest::RunProgram(std::string(QV_QVPACK_PATH) + " -q " + c.args + tail, dir);
        EXPECT_EQ(c.status, r.status) << c.args << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.said)) << c.args << ": " << r.err;
    }
}

// Messages that name the cause and the system's reason: one line a case.
TEST_F(QvpackTest, InputProblemsAreToldWithTheirCause) {
    Put(tree + "/a.txt", "a");
    Put(root + "/list", "./a.txt\n# a comment line\n");
    const std::vector<PackCase> cases = {
        {"--archive-only -o '" + root + "/o.rar' '" + root + "/nosuch'", 2, "nosuch: No such file or directory"},
        {"-o '" + root + "/o.exe' --stub '" + root + "/nostub' '" + tree + "'", 2,
         "cannot read the installer program " + root + "/nostub: No such file or directory"},
        {"--archive-only -o '" + root + "/o.rar' --list '" + root + "/list' '" + tree + "'", 0, ""},
    };
    ExpectPackOutcomes(cases, "", root);
}

// What --codepage refuses, and why: one line a case.
TEST_F(QvpackTest, CodePagesOtherThanWindowsAnsiAreRefusedWithTheReason) {
    Put(tree + "/file.txt", "file");
    struct Case {
        const char* args;
        int status;
        const char* said;
    } cases[] = {
        {"--codepage 437", 64, "--codepage 437: an MS-DOS (OEM) code page"},
        {"--codepage 850", 64, "--codepage 850: an MS-DOS (OEM) code page"},
        {"--codepage 866", 64, "1251 for 866"},
        {"--codepage 932", 64, "--codepage 932: not a single-byte code page"},
        {"--codepage 65001", 64, "--codepage 65001: not a single-byte code page"},
        {"--codepage 99999", 64, "--codepage needs a Windows ANSI code page"},
        {"--codepage latin1", 64, "--codepage needs a Windows ANSI code page"},
        {"--codepage", 64, "--codepage needs a Windows ANSI code page"},
        {"--codepage 874", 0, ""},
        {"--codepage 1258", 0, ""},
    };
    for (const Case& c : cases) {
        Outcome r = Qvpack(c.args);
        EXPECT_EQ(c.status, r.status) << c.args << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.said)) << c.args << ": " << r.err;
    }
}

// On Linux '\' is an ordinary character of a path given on the command
// line: kept in qvpack's output name, and refused by name where the
// installer's core (which takes it as a separator) would have to carry it;
// never split into directories. One line a case.
TEST_F(QvpackTest, BackslashInAHostPathIsKeptOrRefusedNeverSplit) {
    Put(tree + "/file.txt", "file");
    ASSERT_EQ(0, mkdir((root + "/d\\e").c_str(), 0755));
    const std::string refusedName = "a '\\' in a name is not supported on this system";
    struct Case {
        std::string command;
        int status;
        std::string said;
    } cases[] = {
        {std::string(QV_QVPACK_PATH) + " -q --archive-only -o '" + root + "/my\\setup.rar' '" + tree + "'", 0, ""},
        {std::string(QV_QVPACK_PATH) + " -q --archive-only -o '" + root + "/d\\e/s.rar' '" + tree + "'", 64,
         "a directory whose name holds a '\\' cannot be written to"},
        {std::string(QV_QVINSTALL_PATH) + " list '" + root + "/my\\setup.rar'", 2, refusedName},
        {std::string(QV_QVINSTALL_PATH) + " test '" + root + "/my\\setup.rar'", 2, refusedName},
        {std::string(QV_QVINSTALL_PATH) + " install '" + root + "/my\\setup.rar' '" + root + "/t'", 2, refusedName},
        {std::string(QV_QVINSTALL_PATH) + " install '" + root + "/out.rar' '" + root + "/x\\y'", 73,
         root + "/x\\y: " + refusedName},
    };
    ASSERT_EQ(0, Qvpack("").status);
    for (const Case& c : cases) {
        Outcome r = qvtest::RunProgram(c.command, root);
        EXPECT_EQ(c.status, r.status) << c.command << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.said)) << c.command << ": " << r.err;
    }
    // The name as given, nothing split off, nothing left behind.
    EXPECT_EQ(std::vector<std::string>({"d\\e/", "my\\setup.rar", "out.rar", "stderr.txt", "stdout.txt", "tree/",
                                        "tree/file.txt"}),
              qvtest::ListTree(root));
}

// The conventions of tar and zstd: --version, --opt=value, -- before a
// name that starts with '-', and a quiet qvinstall. One line a case: the
// command, its exit code, a fragment of what it printed ("" with quiet:
// nothing at all).
TEST_F(QvpackTest, CommandLineConventionsOfBothTools) {
    Dir("-dash");
    Put(tree + "/-dash/file.txt", "file");
    const std::string pack = std::string(QV_QVPACK_PATH) + " -q --archive-only ",
                      inst = std::string(QV_QVINSTALL_PATH) + " ", rar = " '" + root + "/out.rar'";
    ASSERT_EQ(0, Qvpack("").status);
    struct Case {
        std::string command;
        int status;
        const char* said;
        bool quiet;
    } cases[] = {
        {std::string(QV_QVPACK_PATH) + " --version", 0, "sealed archives, closing block 0x7B", false},
        {inst + "--version", 0, "sealed archives, closing block 0x7B", false},
        {pack + "--codepage=1251 -o" + rar + " '" + tree + "'", 0, "", true},
        {pack + "--codepage=437 -o" + rar + " '" + tree + "'", 64, "--codepage 437: an MS-DOS (OEM) code page", false},
        {pack + "--no-verify=yes -o" + rar + " '" + tree + "'", 64, "--no-verify takes no value", false},
        {pack + "-T0 -o" + rar + " '" + tree + "'", 64, "the number of threads must be 1 to 64, not '0'", false},
        {pack + "--threads 2x -o" + rar + " '" + tree + "'", 64, "the number of threads must be 1 to 64, not '2x'", false},
        {pack + "-T 3 --threads=65 -o" + rar + " '" + tree + "'", 64, "must be 1 to 64, not '65'", false},
        {pack + "-T -o" + rar + " '" + tree + "'", 64, "must be 1 to 64, not '-o'", false},
        {pack + "-T3 -o" + rar + " '" + tree + "'", 0, "", true},
        {"cd '" + tree + "' && " + pack + "-o" + rar + " -- -dash", 0, "", true},
        {"cd '" + tree + "' && " + pack + "-o" + rar + " -dash", 64, "unknown option -dash", false},
        {inst + "list --format=json" + rar, 0, "{\"name\":\"file.txt\"", false},
        {inst + "list --format=xml" + rar, 64, "--format takes text, json or tsv", false},
        {inst + "test" + rar, 0, "OK      file.txt", false},
        {inst + "test -q" + rar, 0, "", true},
        {inst + "install --quiet" + rar + " '" + root + "/q'", 0, "", true},
        {inst + "install" + rar + " '" + root + "/v'", 0, "installed 1 files into", false},
        {"cd '" + root + "' && " + inst + "install out.rar -- -target", 0, "installed 1 files into -target", false},
        {"cd '" + root + "' && " + inst + "install out.rar -target", 64, "unknown option -target", false},
        {inst + "list" + rar + " -- -dash", 1, "qvinstall: -dash: no such entry", false},  // a NAME after --
        {inst + "--help", 0, "  --                   what follows is FILE, TARGET and NAMEs", false},
        {inst + "test --quiet=1" + rar, 64, "--quiet takes no value", false},
    };
    for (const Case& c : cases) {
        Outcome r = qvtest::RunProgram(c.command, root);
        EXPECT_EQ(c.status, r.status) << c.command << ": " << r.err;
        if (c.quiet)
            EXPECT_EQ("", r.out + r.err) << c.command;
        else
            EXPECT_NE(std::string::npos, (r.out + r.err).find(c.said)) << c.command << ": " << r.out << r.err;
    }
    EXPECT_EQ("file", qvtest::ReadText(root + "/-target/file.txt"));

    // Quiet still tells what failed.
    qvtest::Bytes cut = qvtest::ReadFileBytes(root + "/out.rar");
    cut.resize(cut.size() - 10);
    Put(root + "/cut.rar", std::string(cut.begin(), cut.end()));
    Outcome failed = qvtest::RunProgram(inst + "test -q '" + root + "/cut.rar'", root);
    EXPECT_EQ(3, failed.status);
    EXPECT_NE(std::string::npos, failed.err.find("FAILED")) << failed.err;
}

// qvpack never writes over its inputs: the output of an earlier run inside
// DIR is left out (not packed into the next one), the installer program and
// the list are refused. One line a case.
TEST_F(QvpackTest, InputsAreNeverWrittenOver) {
    Put(tree + "/file.txt", "file");
    std::string stub = root + "/stub.exe", list = root + "/files.lst";
    qvtest::Bytes image = qvtest::InstallerImage(0x2000);
    Put(stub, std::string(image.begin(), image.end()));
    Put(list, "file.txt\n");
    ASSERT_EQ(0, symlink(list.c_str(), (root + "/also.lst").c_str()));
    const std::vector<PackCase> cases = {
        {"--archive-only -o '" + tree + "/setup.rar'", 0, ""},
        {"--archive-only -o '" + tree + "/setup.rar'", 0,
         "warning: " + tree + "/setup.rar: the output file, inside the directory: left out of the packing"},
        {"--stub '" + stub + "' -o '" + stub + "'", 2, "is the installer program given with --stub; it is not written over"},
        {"--archive-only --list '" + list + "' -o '" + list + "'", 2, "is the list given with --list; it is not written over"},
        {"--archive-only --list '" + list + "' -o '" + root + "/also.lst'", 2, "is the list given with --list"},
    };
    ExpectPackOutcomes(cases, " '" + tree + "'", root);
    Outcome json = Qvinstall("list --format json '" + tree + "/setup.rar'");
    EXPECT_EQ(std::string::npos, json.out.find("setup.rar")) << json.out;  // no archive inside the archive
    EXPECT_NE(std::string::npos, json.out.find("\"name\":\"file.txt\"")) << json.out;
    EXPECT_TRUE(qvtest::ReadFileBytes(stub) == image);
    EXPECT_EQ("file.txt\n", qvtest::ReadText(list));
}

// A stop by SIGINT or SIGHUP leaves no temporary file beside qvpack's
// output. The shell waits until the temporary file stands, then sends the
// signal; the status tells the program died of it.
TEST_F(QvpackTest, NoTemporaryFileOutlivesAStopBySignal) {
    // Slow to pack (random bytes at level 5): qvpack is stopped mid-way.
    std::string slow = root + "/slow";
    ASSERT_EQ(0, mkdir(slow.c_str(), 0755));
    std::string noise;
    uint32_t x = 12345;
    for (int i = 0; i < 4000000; i++) noise.push_back(static_cast<char>((x = x * 1103515245u + 12345u) >> 24));
    Put(slow + "/noise.bin", noise);
    const std::string pack = std::string(QV_QVPACK_PATH) + " -5 -q --archive-only -o '" + root + "/slow.rar' '" + slow +
                             "'";
    struct Case {
        std::string command, temporary;
        const char* signal;
        int status;
    } cases[] = {
        {pack, "'" + root + "/slow.rar.tmp'$p", "INT", 128 + SIGINT},
        {pack, "'" + root + "/slow.rar.tmp'$p", "HUP", 128 + SIGHUP},
    };
    for (const Case& c : cases) {
        RemoveTreeBelow(root + "/t");
        std::string script = "set -m; cd '" + root + "'; rm -f err.fifo; mkfifo err.fifo; exec 3<>err.fifo; " +
                             c.command + " 2>err.fifo & p=$!; i=0; while [ ! -e " + c.temporary +
                             " ] && [ $i -lt 300000 ]; do i=$((i+1)); done; [ -e " + c.temporary +
                             " ] && echo seen; sleep 0.2; kill -" + c.signal + " $p; wait $p; echo status $?; exec 3>&-; rm err.fifo";
        Outcome r = qvtest::RunProgram("bash -c \"$(cat <<'EOF'\n" + script + "\nEOF\n)\"", root);
        EXPECT_EQ("seen\nstatus " + std::to_string(c.status) + "\n", r.out) << c.command << " " << c.signal << r.err;
        for (const std::string& left : qvtest::ListTree(root))
            EXPECT_TRUE(left.find(".tmp") == std::string::npos) << c.signal << ": " << left;
    }
    EXPECT_NE(0, access((root + "/slow.rar").c_str(), F_OK));
}

// qvpack appends its archive to the installer program and to nothing else;
// a refusal writes nothing.
TEST_F(QvpackTest, BuildsOnTheInstallerProgramAlone) {
    Put(tree + "/file.txt", "file");
    std::string stub = root + "/stub.exe", out = root + "/out.exe";
    auto pack = [&]() {
        return qvtest::RunProgram(std::string(QV_QVPACK_PATH) + " -q --stub '" + stub + "' -o '" + out + "' '" + tree + "'",
                                  root);
    };
    Put(stub, "Not a program, only text.\n");
    Outcome refused = pack();
    EXPECT_EQ(2, refused.status);
    EXPECT_EQ("qvpack: " + stub + ": not an installer program: no PE image\n", refused.err);
    EXPECT_EQ(std::vector<std::string>({"stderr.txt", "stdout.txt", "stub.exe", "tree/", "tree/file.txt"}),
              qvtest::ListTree(root));

    qvtest::Bytes image = qvtest::InstallerImage(0x2000);
    FILE* f = fopen(stub.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    fwrite(image.data(), 1, image.size(), f);
    fclose(f);
    Outcome packed = pack();
    ASSERT_EQ(0, packed.status) << packed.err;
    qvtest::Bytes written = qvtest::ReadFileBytes(out);
    ASSERT_GT(written.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), written.begin()));
}

// Each problem qvpack finds in a tree: its exit code and what it says. One
// line a case; the tree holds fine.txt besides.
TEST_F(QvpackTest, EachRefusalNamesItsPathAndReason) {
    Put(tree + "/fine.txt", "fine");
    auto sized = [&](const std::string& name, off_t size) {
        Put(tree + "/" + name, "");
        ASSERT_EQ(0, truncate((tree + "/" + name).c_str(), size));  // sparse: nothing is read
    };
    struct Case {
        const char* what;
        std::function<void()> setup;
        int status;
        std::string said;
    } cases[] = {
        {"refused name", [&] { Put(tree + "/what?.txt", "x"); }, 2, "qvpack: what?.txt: Windows cannot create"},
        {"case clash", [&] { Put(tree + "/FINE.TXT", "x"); }, 2, "/fine.txt: named twice"},
        {"link loop", [&] { Dir("d"); symlink("..", (tree + "/d/up").c_str()); }, 2, "/d/up: a symbolic link back"},
        {"special file", [&] { mkfifo((tree + "/pipe").c_str(), 0644); }, 2, "/pipe: not a regular file"},
        {"dangling link", [&] { symlink("gone", (tree + "/link").c_str()); }, 2, "/link: a symbolic link to nothing"},
        {"file over 2 GB", [&] { sized("big", off_t(0x80000000)); }, 2, "/big: larger than the 2 GB"},
        {"over 3.75 GB in all", [&] { sized("a", off_t(0x7FFFFFFF)); sized("b", off_t(0x7FFFFFFF)); }, 2,
         "4294967298 bytes of files, more than the 3.75 GB"},
        {"dated 1970", [&] { Put(tree + "/old", "x"); struct timespec t[2] = {{0, 0}, {0, 0}};
                             utimensat(AT_FDCWD, (tree + "/old").c_str(), t, 0); }, 0,
         "qvpack: warning: 1 file dated before 1980 is stored as 1980-01-01"},
    };
    for (const Case& c : cases) {
        c.setup();
        Outcome r = Qvpack("");
        EXPECT_EQ(c.status, r.status) << c.what << ": " << r.err;
        EXPECT_NE(std::string::npos, r.err.find(c.said)) << c.what << ": " << r.err;
        if (c.status != 0) {
            EXPECT_NE(std::string::npos, r.err.find("qvpack: 1 problem, nothing written")) << c.what;
            EXPECT_NE(0, access((root + "/out.rar").c_str(), F_OK)) << c.what;
        }
        RemoveTreeBelow(tree);
        mkdir(tree.c_str(), 0755);
        Put(tree + "/fine.txt", "fine");
        unlink((root + "/out.rar").c_str());
    }
    // Unreadable files can only be made so for a user other than root.
    if (geteuid() != 0) {
        Put(tree + "/locked", "x");
        chmod((tree + "/locked").c_str(), 0);
        Outcome r = Qvpack("");
        EXPECT_EQ(2, r.status);
        EXPECT_NE(std::string::npos, r.err.find("cannot open " + tree + "/locked: Permission denied")) << r.err;
    }
}

// A tree with problems of several kinds is told whole in one run, each
// problem on its own line, then counted; nothing is written.
TEST_F(QvpackTest, EveryProblemOfATreeIsToldInOneRun) {
    Put(tree + "/fine.txt", "fine");
    Put(tree + "/Fine.TXT", "clash");
    Dir("docs");
    Put(tree + "/docs/bad|name", "x");
    ASSERT_EQ(0, symlink("nowhere", (tree + "/docs/dangling").c_str()));
    ASSERT_EQ(0, symlink("..", (tree + "/docs/loop").c_str()));
    ASSERT_EQ(0, mkfifo((tree + "/fifo").c_str(), 0644));
    Outcome r = Qvpack("");
    EXPECT_EQ(2, r.status);
    for (const std::string& said :
         {std::string("qvpack: docs\\bad|name: Windows cannot create"), "qvpack: " + tree + "/docs/dangling: a symbolic link to nothing",
          "qvpack: " + tree + "/docs/loop: a symbolic link back", "qvpack: " + tree + "/fifo: not a regular file",
          "qvpack: " + tree + "/Fine.TXT, " + tree + "/fine.txt: named twice", std::string("qvpack: 5 problems, nothing written\n")})
        EXPECT_NE(std::string::npos, r.err.find(said)) << said << "\n" << r.err;
    EXPECT_NE(0, access((root + "/out.rar").c_str(), F_OK));
    // A list is read to its end the same way, each problem with its line.
    Put(root + "/list", "fine.txt\n../out\nfifo\n");
    Outcome listed = Qvpack("--list '" + root + "/list'");
    EXPECT_EQ(2, listed.status);
    EXPECT_NE(std::string::npos, listed.err.find(root + "/list:2: ..\\out: names must be relative")) << listed.err;
    EXPECT_NE(std::string::npos, listed.err.find(root + "/list:3: " + tree + "/fifo: not a regular file")) << listed.err;
    EXPECT_NE(std::string::npos, listed.err.find("qvpack: 2 problems, nothing written")) << listed.err;
}

}  // namespace
