// The extraction driver on archives built byte by byte: what lands in the
// target directory, what the person installing is shown, and the result.
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/context.h"
#include "install/driver.h"
#include "install/walk.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "support/archive_builder.h"
#include "support/bitwriter.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

using qvtest::ListTree;
using qvtest::ToBytes;

std::string CorePath(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::string Native(std::string path) {
#ifndef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    return path;
}

bool IsWritable(const std::string& path) {
    struct stat st;
    return stat(Native(path).c_str(), &st) == 0 && (st.st_mode & S_IWUSR);
}

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return mktime(&tm);
}

time_t ModifiedTime(const std::string& path) {
    struct stat st;
    return stat(Native(path).c_str(), &st) == 0 ? st.st_mtime : 0;
}

qvtest::FileSpec Entry(const std::string& name, const std::string& content, bool solid = false) {
    return qvtest::LiteralEntry(name, content, solid);
}

Bytes Archive(const std::vector<Bytes>& blocks) { return qvtest::ArchiveOf(blocks); }

Bytes Archive(const std::vector<qvtest::FileSpec>& entries) {
    std::vector<Bytes> blocks;
    for (const auto& e : entries) blocks.push_back(qvtest::FileBlock(e));
    return Archive(blocks);
}

std::vector<std::string> gStatus;
std::vector<std::string> gErrorCaptions;
std::vector<std::string> gErrorTexts;

void RecordStatus(void*, const char* text) { gStatus.push_back(text); }
void RecordError(void*, const char* text, const char* caption) {
    gErrorTexts.push_back(text);
    gErrorCaptions.push_back(caption);
}

const char kDamaged[] = "The installer is damaged or incomplete. Please get a new copy.";

size_t gFailAllocSize = 0;
bool FailAllocOfSize(size_t size) { return size == gFailAllocSize; }

struct DriverTest : ::testing::Test {
    std::string root;    // native path of a fresh scratch directory
    std::string target;  // native path of the target directory inside it

    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root = qvtest::MakeTempDir(std::string("driver_") + info->name());
        target = root + "/t";
        ASSERT_EQ(0, CreatePathTree(CorePath(target).c_str()));
        gStatus.clear();
        gErrorCaptions.clear();
        gErrorTexts.clear();
        HostUiHooks hooks = {RecordStatus, RecordError, nullptr};
        SetHostUiHooks(&hooks);
    }
    void TearDown() override {
        SetHostUiHooks(nullptr);
        SetAllocFailureHook(nullptr);
        SetLegacyFamilyForTests(-1);
    }

    std::string TargetCore() const { return CorePath(target) + "\\"; }
    std::string InTarget(const std::string& rel) const { return target + "/" + rel; }

    uint32_t Install(const Bytes& archive, bool contextMade = true) {
        std::string path = qvtest::WriteTempFile(archive, "archive.bin");
        return InstallPath(CorePath(path), contextMade);
    }
    uint32_t InstallPath(const std::string& archivePath, bool contextMade = true) {
        char dir[kPathSize + 1];
        snprintf(dir, sizeof dir, "%s", CorePath(target).c_str());
        uint32_t r = InstallFromArchive(nullptr, archivePath.c_str(), dir);
        // The caller's buffer gets the backslash, unless nothing was done.
        EXPECT_EQ(contextMade ? TargetCore() : CorePath(target), dir);
        return r;
    }
    std::string Content(const std::string& rel) const {
        Bytes b = qvtest::ReadFileBytes(Native(InTarget(rel)));
        return std::string(b.begin(), b.end());
    }
    bool Exists(const std::string& rel) const {
        return CheckFileExists(CorePath(InTarget(rel)).c_str()) == 0;
    }
    void WriteInTarget(const std::string& rel, const std::string& content) {
        FILE* f = fopen(Native(InTarget(rel)).c_str(), "wb");
        ASSERT_NE(nullptr, f);
        fwrite(content.data(), 1, content.size(), f);
        fclose(f);
    }
};

TEST_F(DriverTest, InstallsFilesWithDirectoriesTimesAndAttributes) {
    auto readme = Entry("DOC/GUIDE/README.TXT", "read me first\r\n", true);
    auto exe = Entry("QRVNL.EXE", "MZ program bytes", true);
    exe.attributes = 0x21;  // read-only, archive
    exe.dosDateTime = qvtest::DosDateTime(1998, 11, 19, 8, 25, 26);
    EXPECT_EQ(0u, Install(Archive({Entry("FILE_ID.DIZ", "Quorvanel"), readme, exe})));

    EXPECT_EQ((std::vector<std::string>{"DOC/", "DOC/GUIDE/", "DOC/GUIDE/README.TXT",
                                        "FILE_ID.DIZ", "QRVNL.EXE"}),
              ListTree(target));  // no temporary file is left behind
    EXPECT_EQ("Quorvanel", Content("FILE_ID.DIZ"));
    EXPECT_EQ("read me first\r\n", Content("DOC/GUIDE/README.TXT"));
    EXPECT_EQ("MZ program bytes", Content("QRVNL.EXE"));
    // The status line shows each stored name, not the path.
    EXPECT_EQ((std::vector<std::string>{"FILE_ID.DIZ", "DOC\\GUIDE\\README.TXT", "QRVNL.EXE"}),
              gStatus);
    EXPECT_TRUE(gErrorCaptions.empty());
    EXPECT_EQ(LocalTime(1998, 11, 19, 8, 25, 26), ModifiedTime(InTarget("QRVNL.EXE")));
    EXPECT_EQ(LocalTime(1998, 11, 16, 22, 3, 4), ModifiedTime(InTarget("FILE_ID.DIZ")));
    EXPECT_FALSE(IsWritable(InTarget("QRVNL.EXE")));
    EXPECT_TRUE(IsWritable(InTarget("FILE_ID.DIZ")));
    MakeWritable(CorePath(InTarget("QRVNL.EXE")).c_str());
}

TEST_F(DriverTest, StoredDataIsRefusedBeforeAnythingIsWritten) {
    auto empty = Entry("EMPTY.TXT", "");
    empty.methodCode = '0';  // nothing to decode, whatever the method
    auto packed = Entry("PACKED.TXT", "method byte says best", true);
    packed.methodCode = '5';
    EXPECT_EQ(0u, Install(Archive({empty, packed})));
    EXPECT_EQ("", Content("EMPTY.TXT"));
    EXPECT_EQ("method byte says best", Content("PACKED.TXT"));

    auto stored = Entry("STORED.TXT", "method byte says stored");
    stored.methodCode = '0';
    EXPECT_EQ(1u, Install(Archive({Entry("FIRST.TXT", "f"), stored})));
    EXPECT_EQ((std::vector<std::string>{"STORED.TXT"}), gErrorCaptions);
    EXPECT_EQ((std::vector<std::string>{"Cannot install file."}), gErrorTexts);
    EXPECT_FALSE(Exists("FIRST.TXT")) << "refused up front, not after the entries before it";
}

TEST_F(DriverTest, ArchiveWithoutFileBlocksGivesSuccessAndWritesNothing) {
    EXPECT_EQ(0u, Install(Archive(std::vector<Bytes>{})));
    EXPECT_EQ(0u, Install(Archive({qvtest::SubBlock(ToBytes("sub")), qvtest::EndBlock()})));
    EXPECT_TRUE(ListTree(target).empty());
    EXPECT_TRUE(gStatus.empty());
}

TEST_F(DriverTest, MainHeaderContentBeyondItsFixedBytesIsSkipped) {
    Bytes archive = qvtest::Marker();
    qvtest::Append(archive, qvtest::MainHeader(0x0008, 20));
    qvtest::Append(archive, qvtest::FileBlock(Entry("A.TXT", "after a long header")));
    EXPECT_EQ(0u, Install(archive));
    EXPECT_EQ("after a long header", Content("A.TXT"));
}

TEST_F(DriverTest, ArchiveBehindAnImageIsFound) {
    Bytes file = qvtest::ImagePrefix(0x2000);
    qvtest::Append(file, Archive({Entry("A.TXT", "carried")}));
    EXPECT_EQ(0u, Install(file));
    EXPECT_EQ("carried", Content("A.TXT"));
}

TEST_F(DriverTest, MissingFileOrNoArchiveGivesTwo) {
    EXPECT_EQ(2u, InstallPath(CorePath(root + "/does-not-exist.exe")));
    // A download cut at the end of the program image holds no archive.
    EXPECT_EQ(2u, Install(qvtest::ImagePrefix(4096)));
    EXPECT_TRUE(ListTree(target).empty());
    EXPECT_EQ((std::vector<std::string>{"Cannot read the installer.", kDamaged}), gErrorTexts);
}

TEST_F(DriverTest, FirstEntryContinuedFromAnotherVolumeGivesTwo) {
    auto continued = Entry("A.TXT", "tail of a file");
    continued.flags |= 0x01;
    EXPECT_EQ(2u, Install(Archive({continued, Entry("B.TXT", "b")})));
    // A sub-block in front does not count as the first entry.
    EXPECT_EQ(2u, Install(Archive({qvtest::SubBlock(ToBytes("x")), qvtest::FileBlock(continued)})));
    EXPECT_TRUE(ListTree(target).empty());
    EXPECT_TRUE(gStatus.empty());

    // On a later entry the flag is not looked at.
    EXPECT_EQ(0u, Install(Archive({Entry("B.TXT", "b"), continued})));
    EXPECT_EQ("tail of a file", Content("A.TXT"));
}

TEST_F(DriverTest, LastEntryContinuedInANextVolumeEndsWithTwo) {
    auto first = Entry("PART.TXT", "first part");
    first.flags |= 0x02;
    EXPECT_EQ(2u, Install(Archive({Entry("A.TXT", "a"), first})));
    // Found before anything is written.
    EXPECT_TRUE(ListTree(target).empty());
    EXPECT_TRUE(gStatus.empty());
}

TEST_F(DriverTest, SubBlocksBetweenFilesAreSteppedOver) {
    EXPECT_EQ(0u, Install(Archive({qvtest::FileBlock(Entry("A.TXT", "a")),
                                   qvtest::SubBlock(ToBytes("sub-block data")),
                                   qvtest::EndBlock(30),
                                   qvtest::FileBlock(Entry("B.TXT", "b", true))})));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "B.TXT"}), ListTree(target));
}

TEST_F(DriverTest, UnsupportedVersionIsRefusedBeforeAnythingIsWritten) {
    for (uint8_t version : {12, 21}) {
        SCOPED_TRACE(version);
        std::string dir = "v" + std::to_string(version);
        auto bad = Entry(dir + "/BAD.TXT", "bad", true);
        bad.versionNeeded = version;
        auto good13 = Entry(dir + "/OLD.TXT", "version 1.3");
        good13.versionNeeded = 13;
        EXPECT_EQ(1u, Install(Archive({good13, bad, Entry(dir + "/LATER.TXT", "later", true)})));
        EXPECT_EQ(0u, Install(Archive({good13})));
        EXPECT_EQ("version 1.3", Content(dir + "/OLD.TXT"));
    }
    EXPECT_EQ((std::vector<std::string>{"v12\\BAD.TXT", "v21\\BAD.TXT"}), gErrorCaptions);
    EXPECT_EQ((std::vector<std::string>{"v12\\OLD.TXT", "v21\\OLD.TXT"}), gStatus);
}

TEST_F(DriverTest, DirectoryAndLabelEntriesCreateNothing) {
    auto dir = Entry("EMPTYDIR", "");
    dir.attributes = 0x10;
    auto label = Entry("DISK1", "");
    label.attributes = 0x08;
    // A Unix entry with the directory code in its flags is a directory too.
    auto unixDir = Entry("UNIXDIR", "");
    unixDir.hostSystem = 3;
    unixDir.flags |= 0xE0;
    // Packed data behind a directory entry is passed over, not decoded.
    auto loaded = Entry("LOADED", "this is not decoded");
    loaded.attributes = 0x10;
    EXPECT_EQ(0u, Install(Archive({dir, label, unixDir, loaded, Entry("A.TXT", "a")})));
    EXPECT_EQ((std::vector<std::string>{"A.TXT"}), ListTree(target));
    EXPECT_EQ((std::vector<std::string>{"A.TXT"}), gStatus);

    // Version out of range stops even on a directory entry.
    dir.versionNeeded = 21;
    EXPECT_EQ(1u, Install(Archive({dir, Entry("B.TXT", "b")})));
    EXPECT_FALSE(Exists("B.TXT"));
}

TEST_F(DriverTest, ChecksumMismatchKeepsWhatWasInstalledBefore) {
    EXPECT_EQ(0u, Install(Archive({Entry("DATA.BIN", "good version")})));
    auto damaged = Entry("DATA.BIN", "new version");
    damaged.dataCrc ^= 1;
    auto fresh = Entry("FRESH.BIN", "never there before");
    fresh.dataCrc ^= 1;
    gStatus.clear();
    EXPECT_EQ(3u, Install(Archive({Entry("A.TXT", "a"), damaged, Entry("LATER.TXT", "l", true)})));
    EXPECT_EQ((std::vector<std::string>{"DATA.BIN"}), gErrorCaptions);  // the stored name
    EXPECT_EQ("good version", Content("DATA.BIN"));
    EXPECT_EQ("a", Content("A.TXT"));
    EXPECT_FALSE(Exists("LATER.TXT"));
    EXPECT_EQ(3u, Install(Archive({fresh})));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "DATA.BIN"}), ListTree(target));
}

TEST_F(DriverTest, DamagedHeadersStopWithThreeAndKeepWhatCameBefore) {
    EXPECT_EQ(0u, Install(Archive({Entry("DATA.BIN", "good version")})));

    // A file header whose checksum disagrees, or a block of a type the
    // format does not define: found before anything is written, and told
    // with the installer's own path.
    auto damaged = Entry("DATA.BIN", "new version");
    damaged.breakHeaderCrc = true;
    gStatus.clear();
    std::string path = qvtest::WriteTempFile(
        Archive({Entry("A.TXT", "a"), damaged, Entry("LATER.TXT", "l", true)}), "damaged.bin");
    EXPECT_EQ(3u, InstallPath(CorePath(path)));
    path = qvtest::WriteTempFile(
        Archive(std::vector<Bytes>{qvtest::FileBlock(Entry("B.TXT", "b")), qvtest::RawBlock(0x7A, 0, 7),
                                   qvtest::FileBlock(Entry("C.TXT", "c"))}),
        "unknown.bin");
    EXPECT_EQ(3u, InstallPath(CorePath(path)));
    EXPECT_EQ(CorePath(path), gErrorCaptions.back());
    EXPECT_EQ((std::vector<std::string>{kDamaged, kDamaged}), gErrorTexts);
    EXPECT_TRUE(gStatus.empty()) << "nothing decoded";
    EXPECT_EQ((std::vector<std::string>{"DATA.BIN"}), ListTree(target));
    EXPECT_EQ("good version", Content("DATA.BIN"));

    // A main header whose checksum disagrees: no archive.
    Bytes noArchive = Archive({Entry("D.TXT", "d")});
    noArchive[7 + 9] ^= 1;  // Reserved32
    EXPECT_EQ(2u, Install(noArchive));
    EXPECT_FALSE(Exists("D.TXT"));
}

TEST_F(DriverTest, SignedInstallerEndsItsArchiveWhereTheSignatureBegins) {
    Bytes installer = qvtest::PeImagePrefix(0x1000);
    qvtest::Append(installer, Archive({Entry("A.TXT", "alpha"), Entry("DIR/B.TXT", "beta", true)}));
    // Signature bodies full of random bytes: some look like blocks.
    for (uint32_t seed = 1; seed <= 200; seed++) {
        Bytes signedInstaller = installer;
        qvtest::AppendSignature(signedInstaller, 1200 + seed * 37 % 8000, seed);
        gErrorCaptions.clear();
        ASSERT_EQ(0u, Install(signedInstaller)) << "seed " << seed;
        ASSERT_TRUE(gErrorCaptions.empty());
        ASSERT_EQ((std::vector<std::string>{"A.TXT", "DIR/", "DIR/B.TXT"}), ListTree(target)) << "seed " << seed;
    }
    EXPECT_EQ("beta", Content("DIR/B.TXT"));
}

// Where the archive ends: at the file's end, at a legal last block however
// short, or where the signature of the image it lies in begins; and never
// where something that only looks like a signature would put it.
TEST_F(DriverTest, WhereTheArchiveEnds) {
    // A last block of the 7 bytes every block has is a block, not damage.
    auto files = std::vector<Bytes>{qvtest::FileBlock(Entry("A.TXT", "alpha")),
                                    qvtest::FileBlock(Entry("B.TXT", "beta", true))};
    std::vector<Bytes> shortEnd = files;
    shortEnd.push_back(qvtest::EndBlock(7));
    EXPECT_EQ(0u, Install(Archive(shortEnd)));
    EXPECT_TRUE(gErrorCaptions.empty());
    EXPECT_EQ("beta", Content("B.TXT"));

    // A signed 64-bit (PE32+) installer ends its archive at its signature
    // as the 32-bit one does.
    for (bool pe32Plus : {false, true}) {
        Bytes installer = qvtest::PeImagePrefix(0x1000, pe32Plus);
        qvtest::Append(installer, Archive(files));
        for (uint32_t seed = 1; seed <= 20; seed++) {
            Bytes signedInstaller = installer;
            qvtest::AppendSignature(signedInstaller, 1200 + seed * 37 % 8000, seed);
            gErrorCaptions.clear();
            ASSERT_EQ(0u, Install(signedInstaller)) << "PE32+ " << pe32Plus << " seed " << seed;
            ASSERT_EQ((std::vector<std::string>{"A.TXT", "B.TXT"}), ListTree(target)) << "seed " << seed;
        }
    }

    // An archive appended behind an image that was signed already: the
    // table does not reach the end of the file, so it does not end the
    // archive, which lies behind it.
    Bytes stub = qvtest::PeImagePrefix(0x1000);
    qvtest::AppendSignature(stub, 1500, 3);
    Bytes appended = stub;
    qvtest::Append(appended, Archive(files));
    gErrorCaptions.clear();
    EXPECT_EQ(0u, Install(appended));
    EXPECT_TRUE(gErrorCaptions.empty());

    // An image that declares 4 data directories has no certificate table,
    // whatever the bytes where a fifth entry would stand say: here they name
    // the archive's last block up to the end of the file.
    auto others = std::vector<Bytes>{qvtest::FileBlock(Entry("C.TXT", "gamma")),
                                     qvtest::FileBlock(Entry("D.TXT", "delta", true))};
    Bytes fewer = qvtest::PeImagePrefix(0x1000);
    qvtest::Append(fewer, Archive(others));
    uint32_t lastBlock = static_cast<uint32_t>(fewer.size() - others.back().size());
    qvtest::SetCertificateTable(fewer, lastBlock, static_cast<uint32_t>(fewer.size()) - lastBlock);
    EXPECT_EQ(0u, Install(fewer));
    EXPECT_FALSE(Exists("D.TXT"));  // with 16 directories the table is taken, and D.TXT cut off
    qvtest::SetDirectoryCount(fewer, 4);
    EXPECT_EQ(0u, Install(fewer));
    EXPECT_EQ("delta", Content("D.TXT"));
}

TEST_F(DriverTest, ChecksumConventionFollowsTheSignature) {
    // With the "Rar!" marker the stored value is the complemented CRC-32:
    // the running value itself does not match.
    auto running = Entry("A.TXT", "abc");
    running.dataCrc = ~running.dataCrc;
    EXPECT_EQ(3u, Install(Archive({running})));

    // Behind the old signature the 16-bit rotating sum is stored as it is.
    Bytes data = ToBytes("old format payload");
    auto old = Entry("OLD.TXT", "old format payload");
    old.dataCrc = qvtest::RotSum16(data);
    auto oldCrc = Entry("CRC.TXT", "old format payload", true);  // a CRC does not pass
    Bytes file = qvtest::ImagePrefix(512, true);
    Bytes header = qvtest::OldSignature();
    qvtest::PutU8(header, 0);
    qvtest::PutU16(header, 13);  // HeaderSize of the 13 bytes from the signature
    header.resize(13, 0);
    qvtest::Append(file, header);
    qvtest::Append(file, qvtest::FileBlock(old));
    qvtest::Append(file, qvtest::FileBlock(oldCrc));
    gErrorCaptions.clear();
    EXPECT_EQ(3u, Install(file));
    EXPECT_EQ("old format payload", Content("OLD.TXT"));
    EXPECT_FALSE(Exists("CRC.TXT"));
    EXPECT_EQ((std::vector<std::string>{"CRC.TXT"}), gErrorCaptions);
}

TEST_F(DriverTest, SettingsFileIsWrittenOnlyWhereNoneExists) {
    auto settings = Entry("QUORZIP.SET", "defaults", true);
    settings.attributes = 0x21;
    settings.dosDateTime = qvtest::DosDateTime(1998, 11, 19, 8, 25, 26);
    Bytes archive = Archive({Entry("A.TXT", "a"), settings});
    EXPECT_EQ(0u, Install(archive));
    EXPECT_EQ("defaults", Content("QUORZIP.SET"));
    MakeWritable(CorePath(InTarget("QUORZIP.SET")).c_str());

    WriteInTarget("QUORZIP.SET", "the user's own settings");
    gStatus.clear();
    EXPECT_EQ(0u, Install(archive));
    EXPECT_EQ("the user's own settings", Content("QUORZIP.SET"));
    EXPECT_EQ(LocalTime(1998, 11, 19, 8, 25, 26), ModifiedTime(InTarget("QUORZIP.SET")));
    EXPECT_FALSE(IsWritable(InTarget("QUORZIP.SET")));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "QUORZIP.SET"}), gStatus);
    MakeWritable(CorePath(InTarget("QUORZIP.SET")).c_str());

    // Only the exact stored name is kept: another case or a directory part
    // in front is installed like any file.
    WriteInTarget("quorzip.set", "old");
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("SUB")).c_str()));
    WriteInTarget("SUB/QUORZIP.SET", "old");
    EXPECT_EQ(0u, Install(Archive({Entry("quorzip.set", "new"), Entry("SUB/QUORZIP.SET", "new")})));
    EXPECT_EQ("new", Content("quorzip.set"));
    EXPECT_EQ("new", Content("SUB/QUORZIP.SET"));
}

// Three solid entries: "head", then the bytes "SETTINGS" under the name
// middle, then an entry that copies them through a match, so that it comes
// out right only when the middle entry went through the window.
std::vector<qvtest::FileSpec> CopiedThroughTheWindow(const std::string& middle) {
    qvtest::LzWriter a;
    a.Tables(qvtest::GeneralLengths());
    for (char c : std::string("head")) a.Literal(static_cast<uint8_t>(c));
    qvtest::LzWriter s;
    s.current = qvtest::GeneralLengths();
    for (char c : std::string("SETTINGS")) s.Literal(static_cast<uint8_t>(c));
    qvtest::LzWriter b;
    b.current = qvtest::GeneralLengths();
    b.Match(8, 8);
    const auto spec = qvtest::PackedEntry;
    return {spec("A.TXT", a.Finish(), "head", false), spec(middle, s.Finish(), "SETTINGS", true),
            spec("B.TXT", b.Finish(), "SETTINGS", true)};
}

TEST_F(DriverTest, KeptSettingsFileIsStillDecodedForTheSolidEntryAfterIt) {
    WriteInTarget("QUORZIP.SET", "mine");
    EXPECT_EQ(0u, Install(Archive(CopiedThroughTheWindow("QUORZIP.SET"))));
    EXPECT_EQ("mine", Content("QUORZIP.SET"));
    EXPECT_EQ("SETTINGS", Content("B.TXT"));
}

// A front end's selection: one choice for each file entry in turn, and the
// names it was asked about.
std::vector<EntrySelection> gChoices;
std::vector<std::string> gAsked;
EntrySelection ChooseFromTable(void*, const FileBlockHeader* header) {
    size_t n = gAsked.size();
    gAsked.push_back(header->Name);
    return n < gChoices.size() ? gChoices[n] : kSelectInstall;
}

TEST_F(DriverTest, SelectedEntriesAreInstalledAndTheWalkStopsWhereAsked) {
    std::string path = qvtest::WriteTempFile(Archive(CopiedThroughTheWindow("S.TXT")), "archive.bin");
    struct Case {
        std::vector<EntrySelection> choices;
        uint32_t result;
        std::vector<std::string> asked, installed;
    };
    const EntrySelection install = kSelectInstall, decode = kSelectDecodeOnly, pass = kSelectPassOver,
                         stop = kSelectStop;
    const std::vector<Case> cases = {
        {{decode, decode, install}, 0, {"A.TXT", "S.TXT", "B.TXT"}, {"B.TXT"}},
        {{install, stop}, 0, {"A.TXT", "S.TXT"}, {"A.TXT"}},
        {{stop}, 0, {"A.TXT"}, {}},
        // Passed over, S leaves no state and B decodes wrong.
        {{decode, pass, install}, 3, {"A.TXT", "S.TXT", "B.TXT"}, {}},
    };
    for (const Case& c : cases) {
        std::string dir = root + "/sel" + std::to_string(&c - &cases[0]);
        char core[kPathSize + 1];
        snprintf(core, sizeof core, "%s", CorePath(dir).c_str());
        gChoices = c.choices;
        gAsked.clear();
        EXPECT_EQ(c.result, InstallFromArchive(nullptr, CorePath(path).c_str(), core,
                                               [](void*, const char* d) { return CreatePathTree(d) == 0; },
                                               ChooseFromTable));
        EXPECT_EQ(c.asked, gAsked);
        std::vector<std::string> installed;
        for (const char* name : {"A.TXT", "S.TXT", "B.TXT"})
            if (CheckFileExists(CorePath(dir + "/" + name).c_str()) == 0) installed.push_back(name);
        EXPECT_EQ(c.installed, installed) << &c - &cases[0];
    }
    if (CheckFileExists(CorePath(root + "/sel0/B.TXT").c_str()) == 0) {
        Bytes got = qvtest::ReadFileBytes(Native(root + "/sel0/B.TXT"));
        EXPECT_EQ("SETTINGS", std::string(got.begin(), got.end()));
    }
}

TEST_F(DriverTest, ReadOnlyFileIsReplacedAndTakesTheStoredAttributes) {
    WriteInTarget("A.TXT", "old and read-only");
    ASSERT_EQ(0, PlatformSetAttributes(CorePath(InTarget("A.TXT")).c_str(), 0x21));
    ASSERT_FALSE(IsWritable(InTarget("A.TXT")));
    EXPECT_EQ(0u, Install(Archive({Entry("A.TXT", "new")})));
    EXPECT_EQ("new", Content("A.TXT"));
    EXPECT_TRUE(IsWritable(InTarget("A.TXT")));
}

// The NT family moves each finished file over its target; Windows 95/98
// cannot, and delete the target first. Either way a reinstallation replaces
// every file (read-only ones too) with the stored time and attributes, and a
// damaged entry never costs the file it would have replaced.
TEST_F(DriverTest, BothWindowsFamiliesReplaceFilesAndKeepThemOnADamagedEntry) {
    for (int legacy : {0, 1}) {
        SCOPED_TRACE(legacy ? "Windows 95/98" : "Windows NT");
        SetLegacyFamilyForTests(legacy);
        std::string sub = legacy ? "nine/" : "nt/";
        auto locked = Entry(sub + "LOCKED.TXT", "first, read-only");
        locked.attributes = 0x21;
        EXPECT_EQ(0u, Install(Archive({Entry(sub + "A.TXT", "first"), locked})));
        ASSERT_FALSE(IsWritable(InTarget(sub + "LOCKED.TXT")));

        auto again = Entry(sub + "LOCKED.TXT", "second");
        again.dosDateTime = qvtest::DosDateTime(2001, 2, 3, 4, 5, 6);
        auto damaged = Entry(sub + "A.TXT", "second, damaged");
        damaged.dataCrc ^= 1;
        EXPECT_EQ(3u, Install(Archive({again, damaged})));
        EXPECT_EQ("second", Content(sub + "LOCKED.TXT"));
        EXPECT_TRUE(IsWritable(InTarget(sub + "LOCKED.TXT")));
        EXPECT_EQ(LocalTime(2001, 2, 3, 4, 5, 6), ModifiedTime(InTarget(sub + "LOCKED.TXT")));
        EXPECT_EQ("first", Content(sub + "A.TXT"));
        // No temporary file is left behind.
        EXPECT_EQ((std::vector<std::string>{"A.TXT", "LOCKED.TXT"}), ListTree(InTarget(sub)));
    }
}

// Temporary names are taken only where nothing stands, file or directory.
// Temporary files that interrupted runs left are reclaimed; one that a
// running installer holds, and a directory of that name, stay as they are.
TEST_F(DriverTest, TemporaryNamesStepAroundWhatIsThere) {
    WriteInTarget("~qv0000.tmp", "left by a run that was killed");
    WriteInTarget("~qv00ff.tmp", "left by another");
    WriteInTarget("~qv0002.tmp", "held by a running installer");
    FileStream* held = PlatformOpenStream(CorePath(InTarget("~qv0002.tmp")).c_str(), "r+b", kStreamShareAll);
    ASSERT_NE(nullptr, held);
    ASSERT_EQ(kPlatformDone, PlatformHoldTemporary(held));
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("~qv0001.tmp")).c_str()));
    EXPECT_EQ(0u, Install(Archive({Entry("A.TXT", "a"), Entry("B.TXT", "b", true)})));
    EXPECT_EQ("a", Content("A.TXT"));
    EXPECT_EQ("b", Content("B.TXT"));
    EXPECT_EQ("held by a running installer", Content("~qv0002.tmp"));
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "B.TXT", "~qv0001.tmp/", "~qv0002.tmp"}), ListTree(target));
    CloseFile(held);
}

// Before the third entry, back in A after B: a temporary file such as a run
// killed just now would leave.
std::string gLateTemporary;
EntrySelection PlantBeforeTheThird(void*, const FileBlockHeader* header) {
    gAsked.push_back(header->Name);
    if (gAsked.size() == 3) {
        FILE* f = fopen(gLateTemporary.c_str(), "wb");
        if (f) fclose(f);
    }
    return kSelectInstall;
}

// The stale temporary files of a directory are looked for once a run,
// however the entries of the directories alternate.
TEST_F(DriverTest, EachDirectoryIsSweptOnceARun) {
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("A")).c_str()));
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("B")).c_str()));
    WriteInTarget("A/~qv0003.tmp", "left by a run that was killed");
    gLateTemporary = Native(InTarget("A/~qv0004.tmp"));
    gAsked.clear();
    std::string path = qvtest::WriteTempFile(
        Archive({Entry("A/1.TXT", "a1"), Entry("B/1.TXT", "b1"), Entry("A/2.TXT", "a2")}), "archive.bin");
    char core[kPathSize + 1];
    snprintf(core, sizeof core, "%s", CorePath(target).c_str());
    EXPECT_EQ(0u, InstallFromArchive(nullptr, CorePath(path).c_str(), core, nullptr, PlantBeforeTheThird));
    EXPECT_EQ(3u, gAsked.size());
    EXPECT_EQ((std::vector<std::string>{"A/", "A/1.TXT", "A/2.TXT", "A/~qv0004.tmp", "B/", "B/1.TXT"}),
              ListTree(target));
}

TEST_F(DriverTest, EmptyDirectoryAtTheTargetPathIsLeftAndReported) {
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("A.TXT")).c_str()));
    for (int legacy : {0, 1}) {
        SetLegacyFamilyForTests(legacy);
        gErrorCaptions.clear();
        EXPECT_EQ(1u, Install(Archive({Entry("A.TXT", "a file")})));
        EXPECT_EQ((std::vector<std::string>{TargetCore() + "A.TXT"}), gErrorCaptions);
        EXPECT_EQ((std::vector<std::string>{"A.TXT/"}), ListTree(target)) << "no temporary file left";
    }
}

TEST_F(DriverTest, DirectoryAtTheTargetPathIsLeftAndReported) {
    ASSERT_EQ(0, CreatePathTree(CorePath(InTarget("A.TXT")).c_str()));
    WriteInTarget("A.TXT/inside", "kept");
    time_t before = ModifiedTime(InTarget("A.TXT"));
    auto file = Entry("A.TXT", "a file");
    file.attributes = 0x21;  // read-only: must not reach the directory
    EXPECT_EQ(1u, Install(Archive({file, Entry("B.TXT", "b", true)})));
    EXPECT_EQ((std::vector<std::string>{TargetCore() + "A.TXT"}), gErrorCaptions);
    EXPECT_EQ((std::vector<std::string>{"A.TXT/", "A.TXT/inside"}), ListTree(target));
    EXPECT_EQ("kept", Content("A.TXT/inside"));
    EXPECT_TRUE(IsWritable(InTarget("A.TXT")));
    EXPECT_EQ(before, ModifiedTime(InTarget("A.TXT")));
}

TEST_F(DriverTest, OutputThatCannotBeCreatedIsReportedWithItsPath) {
    // A file stands where the entry needs a directory.
    WriteInTarget("DOC", "a file, not a directory");
    EXPECT_EQ(1u, Install(Archive({Entry("A.TXT", "a"), Entry("DOC/README.TXT", "r", true),
                                   Entry("LATER.TXT", "l", true)})));
    EXPECT_EQ((std::vector<std::string>{TargetCore() + "DOC\\README.TXT"}), gErrorCaptions);
    EXPECT_EQ((std::vector<std::string>{"A.TXT", "DOC"}), ListTree(target));
    EXPECT_EQ("a file, not a directory", Content("DOC"));
    // Nothing after the refused entry ran.
    EXPECT_EQ((std::vector<std::string>{"A.TXT"}), gStatus);
}

TEST_F(DriverTest, NamesThatLeaveTheTargetAreRefused) {
    const char* const refused[] = {"..\\ESCAPED.TXT", "../ESCAPED.TXT", "DOC\\..\\..\\ESCAPED.TXT",
                                   "\\ESCAPED.TXT", "/ESCAPED.TXT", "C:ESCAPED.TXT",
                                   "C:\\ESCAPED.TXT", "A.TXT:stream", "CON", "nul.txt",
                                   "Com1.dat", "LPT9", "aux ", "DOC\\PRN\\A.TXT", "..",
                                   "DOC\\...\\A.TXT", "DOC\\\\A.TXT", "DOC\\", ""};
    for (const char* name : refused) {
        SCOPED_TRACE(name);
        gErrorCaptions.clear();
        gStatus.clear();
        EXPECT_EQ(1u, Install(Archive({Entry("FIRST.TXT", "f"), Entry(name, "escaped", true)})));
        EXPECT_EQ((std::vector<std::string>{CorePath(name)}), gErrorCaptions);
        EXPECT_TRUE(gStatus.empty());  // refused before anything is written
    }
    EXPECT_TRUE(ListTree(target).empty());
    for (const std::string& path : ListTree(root))
        EXPECT_EQ(std::string::npos, path.find("ESCAPED")) << path;
    EXPECT_NE(0, CheckFileExists("\\ESCAPED.TXT"));
}

TEST_F(DriverTest, OrdinaryNamesThatLookUnusualAreInstalled) {
    const char* const allowed[] = {"..A", "A..B", "CONFIG.SYS", "COM10", "LPT", "NULL.TXT",
                                   ".HIDDEN", "DIR.D\\CONSOLE.TXT"};
    std::vector<qvtest::FileSpec> entries;
    for (const char* name : allowed) entries.push_back(Entry(name, name, !entries.empty()));
    EXPECT_EQ(0u, Install(Archive(entries)));
    for (const char* name : allowed) EXPECT_EQ(name, Content(Native(name))) << name;
}

// The longest path decides before anything is written: 259 characters for
// a file, 247 for a directory (what CreateDirectoryA takes).
TEST_F(DriverTest, PathsOverTheSystemLimitsAreRefusedUpFront) {
    std::string dirPart = TargetCore();
    std::string longest(259 - dirPart.size(), 'L');  // 259 characters in all
    std::string tooLong(260 - dirPart.size(), 'N');
    EXPECT_EQ(0u, Install(Archive({Entry(longest, "fits")})));
    EXPECT_EQ(4u, Install(Archive({Entry("FIRST.TXT", "f"), Entry(tooLong, "too long", true)})));
    EXPECT_EQ((std::vector<std::string>{dirPart + tooLong}), gErrorCaptions);
    EXPECT_EQ((std::vector<std::string>{"Cannot create path."}), gErrorTexts);

    // Directories up to 247 characters, with names in them up to 259.
    size_t want = 247 - (dirPart.size() - 1);
    std::string rel(want, 'D');
    for (size_t i = 50; i + 1 < want; i += 51) rel[i] = '/';
    std::string name(259 - dirPart.size() - want - 1, 'F');
    EXPECT_EQ(0u, Install(Archive({Entry(rel + "/" + name, "deep"), Entry(rel + "/XY", "more", true)})));
    EXPECT_EQ(259u, (dirPart + rel + "\\" + name).size());
    EXPECT_EQ("deep", Content(rel + "/" + name));
    EXPECT_EQ((std::vector<std::string>{name, "XY"}), ListTree(InTarget(rel)));
    EXPECT_EQ(4u, Install(Archive({Entry(rel + "D/A", "a directory of 248")})));
    EXPECT_EQ(2u, gErrorCaptions.size());
    EXPECT_FALSE(Exists(rel + "D"));
}

// A target of 259 characters leaves no room for the backslash the install
// appends; the path it refuses is still named with its separator.
TEST_F(DriverTest, AFullLengthTargetIsRefusedWithTheDeepestPathNamed) {
    std::string archive = CorePath(qvtest::WriteTempFile(Archive({Entry("DOC\\A.TXT", "a")}), "archive.bin"));
    std::string full = TargetCore() + std::string(259 - TargetCore().size(), 'T');
    char dir[kPathSize + 1];
    snprintf(dir, sizeof dir, "%s", full.c_str());
    EXPECT_EQ(4u, InstallFromArchive(nullptr, archive.c_str(), dir));
    EXPECT_EQ((std::vector<std::string>{full + "\\DOC\\A.TXT"}), gErrorCaptions);
    EXPECT_TRUE(ListTree(target).empty());
}

TEST_F(DriverTest, AllocationFailuresGiveOneAndNine) {
    Bytes archive = Archive({Entry("A.TXT", "a")});
    gFailAllocSize = sizeof(UnpackContext);
    SetAllocFailureHook(FailAllocOfSize);
    EXPECT_EQ(1u, Install(archive, false));
    gFailAllocSize = kWindowSize;
    EXPECT_EQ(9u, Install(archive));
    SetAllocFailureHook(nullptr);
    EXPECT_TRUE(ListTree(target).empty());
    EXPECT_EQ(0u, Install(archive));
}

TEST(StoredNameTest, PlainRelativePathsOnly) {
    EXPECT_TRUE(IsSafeStoredName("A.TXT"));
    EXPECT_TRUE(IsSafeStoredName("DIR\\SUB\\A.TXT"));
    EXPECT_TRUE(IsSafeStoredName("COM0"));
    EXPECT_TRUE(IsSafeStoredName("LPT1X"));
    EXPECT_FALSE(IsSafeStoredName("lpt1.txt"));
    EXPECT_FALSE(IsSafeStoredName("CONOUT$"));
    EXPECT_FALSE(IsSafeStoredName("DIR\\."));
    EXPECT_FALSE(IsSafeStoredName(". .\\A"));
    EXPECT_FALSE(IsSafeStoredName("\\\\server\\share\\A"));
}

}  // namespace
