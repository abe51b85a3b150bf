// The archive writer and the installer builder: what the installer's block
// reader sees in a written archive, and which images the builder refuses.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <time.h>
#include <utime.h>

#include <string>
#include <vector>

#include "archive/blockreader.h"
#include "base/context.h"
#include "install/walk.h"
#include "pack/archivewriter.h"
#include "pack/stubcheck.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

void WriteFile(const std::string& path, const Bytes& data, time_t mtime) {
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    if (!data.empty()) fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    struct utimbuf times = {mtime, mtime};
    utime(path.c_str(), &times);
}

const time_t kSomeTime = 1000000000;  // 2001-09-09 01:46:40 UTC

// A small tree: upper-case before lower-case, a subdirectory, an empty file
// and a read-only one.
std::string MakeTree() {
    std::string dir = qvtest::MakeTempDir("tree");
    mkdir((dir + "/sub").c_str(), 0755);
    WriteFile(dir + "/b.txt", Bytes(5000, 'b'), kSomeTime);
    WriteFile(dir + "/QUORZIP.SET", Bytes{'[', 'x', ']'}, kSomeTime);
    WriteFile(dir + "/sub/a.bin", Bytes(70000, 7), kSomeTime);
    WriteFile(dir + "/empty", Bytes(), kSomeTime);
    chmod((dir + "/QUORZIP.SET").c_str(), 0444);
    return dir;
}

std::string WriteArchiveFile(std::vector<PackSource>* sources, int level, const Bytes& image = Bytes()) {
    std::string path = qvtest::WriteTempFile(image, "out.bin");
    // Not "ab": a header completed in place must land where it stands.
    FILE* f = fopen(path.c_str(), "r+b");
    fseek(f, 0, SEEK_END);
    std::string error;
    EXPECT_TRUE(WriteArchive(f, sources, level, nullptr, nullptr, nullptr, &error, nullptr, kDefaultCodePage)) << error;
    fclose(f);
    return path;
}

struct StoredHeaders {
    std::vector<FileBlockHeader> headers;
    std::vector<Bytes> rawHeaders;
    bool found = false;
};

// The file headers of an archive as the installer's walk delivers them,
// each with its raw bytes; the main header is checked on the way.
StoredHeaders ReadStoredHeaders(const std::string& path) {
    StoredHeaders w;
    Bytes file = qvtest::ReadFileBytes(path);
    ArchiveWalk walk;
    w.found = OpenInstallerFile(path.c_str(), &walk, kWalkCheckFirst) == kWalkOpened;
    if (w.found) {
        const UnpackContext* ctx = walk.Context;
        EXPECT_EQ(ctx->ArchiveHeader.BlockFlags, 0x0008);
        EXPECT_EQ(ctx->ArchiveHeader.HeaderCrc,
                  qvtest::HeaderCrc(file.data() + walk.ArchiveStart + kMarkerSize, kMainHeaderSize));
        while (NextArchiveEntry(&walk) == kWalkFile) {
            w.headers.push_back(ctx->EntryHeader);
            size_t size = ctx->EntryHeader.HeaderSize;
            w.rawHeaders.emplace_back(file.begin() + ctx->BlockStart, file.begin() + ctx->BlockStart + size);
        }
        CloseInstallerFile(&walk);
    }
    return w;
}

TEST(ArchiveWriter, HeadersAsTheInstallerReadsThem) {
    std::string dir = MakeTree();
    std::vector<PackSource> sources;
    std::string error;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error)) << error;
    std::string path = WriteArchiveFile(&sources, 4);
    StoredHeaders w = ReadStoredHeaders(path);
    ASSERT_TRUE(w.found);
    ASSERT_EQ(w.headers.size(), 4u);
    const char* names[] = {"QUORZIP.SET", "b.txt", "empty", "sub\\a.bin"};  // byte-wise order
    const uint32_t sizes[] = {3, 5000, 0, 70000};
    for (size_t i = 0; i < 4; i++) {
        const FileBlockHeader& h = w.headers[i];
        EXPECT_STREQ(h.Name, names[i]);
        EXPECT_EQ(h.UnpackedSize, sizes[i]);
        EXPECT_EQ(h.BlockFlags, i == 0 ? 0x8080 : 0x8090);  // 1 MB window; solid after the first
        EXPECT_EQ(h.HostSystem, 2);
        EXPECT_EQ(h.VersionNeeded, 20);
        EXPECT_EQ(h.MethodCode, '4');
        EXPECT_EQ(h.Attributes, i == 0 ? 0x01u : 0x20u);
        EXPECT_EQ(h.DosDateTime, DosDateTimeOf(kSomeTime, false));
        EXPECT_EQ(h.HeaderCrc, qvtest::HeaderCrc(w.rawHeaders[i].data(), w.rawHeaders[i].size()));
    }
    EXPECT_EQ(w.headers[1].DataCrc, qvtest::Crc32(Bytes(5000, 'b')));
    EXPECT_EQ(w.headers[2].DataCrc, 0u);
    EXPECT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;
}

// An entry whose packed data passes what the writer holds back goes out
// with its header first and has the header completed in place; the
// closing block's CRC-32 must cover the completed header, not the first.
TEST(ArchiveWriter, TheClosingBlockCoversHeadersCompletedInPlace) {
    std::string dir = qvtest::MakeTempDir("large");
    Bytes noise((1 << 20) + (1 << 18));
    uint32_t x = 12345;
    for (uint8_t& b : noise) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 23);
    }
    WriteFile(dir + "/BIG.BIN", noise, kSomeTime);
    WriteFile(dir + "/SMALL.TXT", Bytes(100, 's'), kSomeTime);
    std::vector<PackSource> sources;
    std::string error;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error)) << error;
    Bytes image = qvtest::ImagePrefix(1000);
    std::string path = WriteArchiveFile(&sources, 1, image);
    Bytes file = qvtest::ReadFileBytes(path);
    ASSERT_GT(file.size(), image.size() + (1u << 20));

    const uint8_t* closing = file.data() + file.size() - kClosingHeaderSize;
    ASSERT_EQ(kBlockClosing, closing[kFieldBlockType]);
    auto u32 = [](const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; };
    EXPECT_EQ(2u, u32(closing + kClosingFieldEntries));
    EXPECT_EQ(file.size() - image.size(), u32(closing + kClosingFieldLength));
    EXPECT_EQ(qvtest::Crc32(file.data() + image.size(), file.size() - image.size() - kClosingHeaderSize),
              u32(closing + kClosingFieldArchiveCrc));
    EXPECT_EQ(kDefaultCodePage, closing[kClosingFieldCodePage] | closing[kClosingFieldCodePage + 1] << 8);
    EXPECT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;
}

TEST(ArchiveWriter, ListFileOrderAndItsMistakes) {
    std::string dir = MakeTree();
    std::vector<PackSource> sources;
    std::string error;
    std::string list = qvtest::WriteTempFile(Bytes(), "list.txt");
    FILE* f = fopen(list.c_str(), "w");
    fputs("# install order\nsub/a.bin\r\n\nb.txt\n", f);
    fclose(f);
    ASSERT_TRUE(CollectSources(dir, list, -1, &sources, &error)) << error;
    ASSERT_EQ(sources.size(), 2u);
    EXPECT_EQ(sources[0].Name, "sub\\a.bin");
    EXPECT_EQ(sources[1].Name, "b.txt");

    // Names the installer would refuse are refused here, where they can be fixed.
    WriteFile(dir + "/CON", Bytes(1, 'c'), kSomeTime);
    for (const char* bad : {"missing.txt\n", "../b.txt\n", "sub/../b.txt\n", "b.txt\nB.TXT\n", "sub\n",
                            "sub//a.bin\n", "CON\n"}) {
        f = fopen(list.c_str(), "w");
        fputs(bad, f);
        fclose(f);
        EXPECT_FALSE(CollectSources(dir, list, -1, &sources, &error)) << bad;
        EXPECT_FALSE(error.empty());
    }
    // Dots inside a name are fine; only "." and ".." as components are not.
    WriteFile(dir + "/v1..2.txt", Bytes(3, 'v'), kSomeTime);
    f = fopen(list.c_str(), "w");
    fputs("v1..2.txt\n", f);
    fclose(f);
    EXPECT_TRUE(CollectSources(dir, list, -1, &sources, &error)) << error;
    EXPECT_FALSE(CollectSources(dir + "/nothing", "", -1, &sources, &error));
    EXPECT_FALSE(CollectSources(qvtest::MakeTempDir("void"), "", -1, &sources, &error));
}

TEST(ArchiveWriter, SourceDateEpochMakesTheOutputReproducible) {
    std::string dir = MakeTree();
    std::vector<PackSource> first, second;
    std::string error;
    const int64_t epoch = 900000000;  // 1998-07-09 16:00:00 UTC, before the files' times
    ASSERT_TRUE(CollectSources(dir, "", epoch, &first, &error));
    Bytes a = qvtest::ReadFileBytes(WriteArchiveFile(&first, 3));
    WriteFile(dir + "/b.txt", Bytes(5000, 'b'), kSomeTime + 5000);  // touched, same content
    ASSERT_TRUE(CollectSources(dir, "", epoch, &second, &error));
    Bytes b = qvtest::ReadFileBytes(WriteArchiveFile(&second, 3));
    EXPECT_EQ(a, b);
    EXPECT_EQ(first[0].DosDateTime, qvtest::DosDateTime(1998, 7, 9, 16, 0, 0));
}

// A file whose size or times differ after reading from what the listing
// recorded changed while it was read: refused with its name, as bad input.
TEST(ArchiveWriter, RefusesAFileThatChangedWhileItWasRead) {
    std::string dir = MakeTree(), error;
    std::vector<PackSource> listed;
    ASSERT_TRUE(CollectSources(dir, "", -1, &listed, &error)) << error;
    const size_t big = listed.size() - 1;  // sub\a.bin, read in several pieces
    ASSERT_EQ(listed[big].Name, "sub\\a.bin");
    auto pack = [&](std::vector<PackSource> sources, PackFailure* failure) {
        FILE* f = fopen(qvtest::WriteTempFile(Bytes(), "changed.rar").c_str(), "wb");
        bool ok = WriteArchive(f, &sources, 1, nullptr, nullptr, nullptr, &error, failure);
        fclose(f);
        return ok;
    };
    PackFailure failure = kPackFailedOutput;
    EXPECT_TRUE(pack(listed, &failure)) << error;

    std::vector<std::vector<PackSource>> changed(4, listed);
    changed[0][big].Modified.tv_nsec ^= 1;
    changed[1][big].Changed.tv_sec -= 1;
    changed[2][big].Size += 1;
    changed[3][big].Size -= 1;
    for (size_t i = 0; i < changed.size(); i++) {
        failure = kPackFailedOutput;
        EXPECT_FALSE(pack(changed[i], &failure)) << i;
        EXPECT_EQ(error, listed[big].Path + ": changed while it was read") << i;
        EXPECT_EQ(failure, kPackFailedInput) << i;
    }
    // Grown after it was listed.
    ASSERT_EQ(listed[1].Name, "b.txt");
    FILE* f = fopen(listed[1].Path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fputs("more", f);
    fclose(f);
    EXPECT_FALSE(pack(listed, &failure));
    EXPECT_EQ(error, listed[1].Path + ": changed while it was read");
}

// Verification reads every input file again: one rewritten in place after
// packing, with its size and modification time as they were, fails it,
// and so does one that grew.
TEST(ArchiveWriter, VerificationComparesEveryByteWithItsFile) {
    std::string dir = MakeTree(), error;
    std::vector<PackSource> sources;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error)) << error;
    std::string path = WriteArchiveFile(&sources, 2);
    ASSERT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;

    const PackSource& big = sources.back();
    ASSERT_EQ(big.Name, "sub\\a.bin");
    FILE* f = fopen(big.Path.c_str(), "r+b");
    ASSERT_NE(f, nullptr);
    fseek(f, 66000, SEEK_SET);  // in the second piece the comparison reads
    fputc(8, f);
    fclose(f);
    struct timespec times[2] = {big.Modified, big.Modified};
    ASSERT_EQ(0, utimensat(AT_FDCWD, big.Path.c_str(), times, 0));
    EXPECT_FALSE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error));
    EXPECT_EQ(error, "sub\\a.bin: decodes to bytes that differ from " + big.Path + " at offset 66000");

    WriteFile(big.Path, Bytes(70000, 7), kSomeTime);
    ASSERT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;
    f = fopen(big.Path.c_str(), "ab");
    ASSERT_NE(f, nullptr);
    fputc(7, f);
    fclose(f);
    EXPECT_FALSE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error));
    EXPECT_EQ(error, "sub\\a.bin: decodes to bytes that differ from " + big.Path + " at offset 70000");
}

TEST(ArchiveWriter, DosTimesAreClampedToTheirRange) {
    EXPECT_EQ(DosDateTimeOf(0, true), qvtest::DosDateTime(1980, 1, 1, 0, 0, 0));
    EXPECT_EQ(DosDateTimeOf(315532800 + 3, true), qvtest::DosDateTime(1980, 1, 1, 0, 0, 2));
    EXPECT_EQ(DosDateTimeOf(int64_t(1) << 40, true), qvtest::DosDateTime(2107, 12, 31, 23, 59, 58));
}

TEST(InstallerBuilder, AcceptsImagesTheScanSeesPast) {
    std::string error;
    Bytes image = qvtest::InstallerImage(0xC800);
    EXPECT_TRUE(CheckStubImage(image.data(), image.size(), &error)) << error;
    Bytes largest = qvtest::InstallerImage(kLastScanMarker);
    EXPECT_TRUE(CheckStubImage(largest.data(), largest.size(), &error)) << error;
    // A marker not followed by a main header, and "RE~^" without "RSFX", are passed over.
    Bytes decoy = qvtest::InstallerImage(0x1000);
    Bytes marker = qvtest::Marker();
    std::copy(marker.begin(), marker.end(), decoy.begin() + 0x400);
    decoy[0x409] = 0x74;
    std::copy(marker.begin(), marker.end(), decoy.begin() + 0x500);  // no main header behind it
    memcpy(decoy.data() + 0x600, "RE~^", 4);
    EXPECT_TRUE(CheckStubImage(decoy.data(), decoy.size(), &error)) << error;

    // The built installer: found at the image's end, and decoded again.
    std::string dir = MakeTree();
    std::vector<PackSource> sources;
    ASSERT_TRUE(CollectSources(dir, "", -1, &sources, &error));
    std::string path = WriteArchiveFile(&sources, 3, decoy);
    EXPECT_TRUE(CheckArchiveLocated(path, decoy.size(), &error)) << error;
    EXPECT_EQ(ReadStoredHeaders(path).headers.size(), 4u);
    EXPECT_TRUE(VerifyArchiveFile(path, sources, nullptr, nullptr, &error)) << error;
}

TEST(InstallerBuilder, RefusesImagesTheScanWouldMisread) {
    std::string error;
    Bytes tooLarge = qvtest::InstallerImage(kLastScanMarker + 1);
    EXPECT_FALSE(CheckStubImage(tooLarge.data(), tooLarge.size(), &error));
    EXPECT_NE(error.find("bytes"), std::string::npos);

    Bytes embedded = qvtest::InstallerImage(0x2000);
    Bytes archive = qvtest::Marker();
    qvtest::Append(archive, qvtest::MainHeader());
    std::copy(archive.begin(), archive.end(), embedded.begin() + 0x400);
    EXPECT_FALSE(CheckStubImage(embedded.data(), embedded.size(), &error));
    EXPECT_NE(error.find("marker"), std::string::npos);

    // A signed image: the archive would break its signature.
    Bytes signedImage = qvtest::InstallerImage(0x2000);
    qvtest::AppendSignature(signedImage, 1500, 7);
    EXPECT_FALSE(CheckStubImage(signedImage.data(), signedImage.size(), &error));
    EXPECT_NE(error.find("signed"), std::string::npos) << error;

    Bytes old = qvtest::InstallerImage(0x2000);
    memcpy(old.data() + 28, "RSFX", 4);
    memcpy(old.data() + 0x800, "RE~^", 4);
    EXPECT_FALSE(CheckStubImage(old.data(), old.size(), &error));

    // A marker whose main-header type is the image's very last byte: its
    // header, made of the appended marker's bytes, fails its checksum, so the
    // installer looks further and finds the archive behind.
    Bytes atEnd = qvtest::InstallerImage(0x1000);
    std::copy(archive.begin(), archive.begin() + 7, atEnd.end() - 10);
    atEnd.back() = 0x73;
    EXPECT_TRUE(CheckStubImage(atEnd.data(), atEnd.size(), &error)) << error;
}

// What qvpack takes as the installer program: the installer of either
// width, and nothing else, each refusal with its reason.
TEST(InstallerBuilder, TakesTheInstallerProgramAlone) {
    std::string error;
    for (bool pe32Plus : {false, true}) {
        Bytes image = qvtest::InstallerImage(0x3000, pe32Plus);
        EXPECT_TRUE(CheckStubImage(image.data(), image.size(), &error)) << pe32Plus << ": " << error;
    }
    struct Case {
        const char* what;
        Bytes image;
        const char* reason;
    };
    std::vector<Case> cases;
    cases.push_back({"empty", Bytes(), "no PE image"});
    Bytes text;
    while (text.size() < 2048) qvtest::Append(text, qvtest::ToBytes("Just some lines of text, no program.\n"));
    cases.push_back({"text", text, "no PE image"});
    Bytes image = qvtest::InstallerImage(0x3000);
    cases.push_back({"headers only", Bytes(image.begin(), image.begin() + 0x100), "no PE image"});
    for (size_t cut : {size_t(1000), size_t(0x2F00), image.size() - 1})
        cases.push_back({"cut", Bytes(image.begin(), image.begin() + static_cast<long>(cut)),
                         "cut short (sections reach past the end of the file)"});
    Case arm = {"ARM", image, "not a program for 32-bit (i386) or 64-bit (x86-64) Windows"};
    qvtest::SetImageField(arm.image, qvtest::kImageMachine, 0x01C4);
    cases.push_back(arm);
    Case mixed = {"x86-64 in PE32", image, "not a program for 32-bit (i386) or 64-bit (x86-64) Windows"};
    qvtest::SetImageField(mixed.image, qvtest::kImageMachine, 0x8664);
    cases.push_back(mixed);
    Case dll = {"DLL", image, "a DLL"};
    qvtest::SetImageField(dll.image, qvtest::kImageCharacteristics, 0x2102);
    cases.push_back(dll);
    Case console = {"console", image, "a console program"};
    qvtest::SetImageField(console.image, qvtest::kImageSubsystem, 3);
    cases.push_back(console);
    Case native = {"native", image, "not a Windows GUI program"};
    qvtest::SetImageField(native.image, qvtest::kImageSubsystem, 1);
    cases.push_back(native);
    Case otherMark = {"other mark", image, "does not carry the installer's mark"};
    otherMark.image[qvtest::InstallerMarkAt(image) + 7]++;
    cases.push_back(otherMark);
    Case longer = {"longer mark", image, "does not carry the installer's mark"};
    longer.image[qvtest::InstallerMarkAt(image) - 12]++;  // the data entry's size: 9
    cases.push_back(longer);
    Case otherId = {"mark under another id", image, "does not carry the installer's mark"};
    otherId.image[image.size() - 0x200 + 24 + 16]++;  // the id directory's entry: 101
    cases.push_back(otherId);
    Case bare = {"no resources", qvtest::PeImagePrefix(0x3000), "does not carry the installer's mark"};
    qvtest::SetImageField(bare.image, qvtest::kImageSubsystem, 2);
    cases.push_back(bare);
    for (const Case& c : cases) {
        EXPECT_FALSE(CheckStubImage(c.image.data(), c.image.size(), &error)) << c.what;
        EXPECT_EQ(error, std::string("not an installer program: ") + c.reason) << c.what;
    }
}

}  // namespace
