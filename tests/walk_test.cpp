// The one walk over an archive that every reader uses: what it delivers,
// where it stops, and the sinks it decodes into.
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <string>
#include <vector>

#include "install/walk.h"
#include "support/archive_builder.h"
#include "support/install_fixtures.h"

namespace {

using qvtest::Bytes;

struct WalkTest : ::testing::Test {
    UnpackContext* ctx = CreateUnpackContext();
    ArchiveWalk walk = {};
    std::string path;

    void TearDown() override {
        CloseArchiveWalk(&walk);
        EXPECT_EQ(nullptr, ctx->ArchiveFile);
        EXPECT_EQ(nullptr, ctx->WindowMemory);
        FreeAndClear(&ctx);
        SetAllocFailureHook(nullptr);
    }
    WalkOpenResult Open(const Bytes& file, WalkCheck check = kWalkAsItGoes) {
        path = qvtest::ToBackslashes(qvtest::WriteTempFile(file, "walk.bin"));
        ctx->ArchivePath = path.c_str();
        return OpenArchiveWalk(&walk, ctx, check);
    }
    // The steps of the whole walk, with the name of each entry delivered.
    std::vector<std::string> Steps() {
        static const char* const kNames[] = {"file",    "dir",           "end",    "continued",
                                             "missing", "damaged entry", "damaged"};
        std::vector<std::string> steps;
        for (;;) {
            WalkStep step = NextArchiveEntry(&walk);
            std::string s = kNames[step];
            if (step == kWalkFile || step == kWalkDirectory || step == kWalkContinuedEntry)
                s += std::string(" ") + ctx->EntryHeader.Name;
            steps.push_back(s);
            if (step != kWalkFile && step != kWalkDirectory) return steps;
        }
    }
};

Bytes Block(const qvtest::FileSpec& spec) { return qvtest::FileBlock(spec); }

qvtest::FileSpec Literal(const std::string& name, const std::string& data, bool solid = false) {
    return qvtest::LiteralEntry(name, data, solid);
}

TEST_F(WalkTest, DeliversFilesAndDirectoriesPastSubBlocksAndData) {
    qvtest::FileSpec dir = Literal("DOC", "");
    dir.attributes = kAttrDirectory;
    dir.packed = qvtest::ToBytes("data a directory should not carry");
    qvtest::FileSpec unixDir = Literal("BIN", "");
    unixDir.hostSystem = kHostUnix;
    unixDir.flags = kBlockFlagAddSize | kFileDictionaryBits;  // host attributes make it a directory
    Bytes prefix = qvtest::ImagePrefix(600);
    Bytes file = qvtest::ArchiveOf({Block(Literal("A.TXT", "alpha")), qvtest::SubBlock(qvtest::ToBytes("sub")),
                                    Block(dir), Block(unixDir), qvtest::EndBlock(),
                                    Block(Literal("DOC/B.TXT", "beta", true))},
                                   prefix);
    ASSERT_EQ(kWalkOpened, Open(file));
    EXPECT_EQ(600, walk.ArchiveStart);
    EXPECT_EQ((std::vector<std::string>{"file A.TXT", "dir DOC", "dir BIN", "file DOC\\B.TXT", "end"}), Steps());
    EXPECT_EQ(1u, walk.SubBlocks);
}

TEST_F(WalkTest, VolumeRulesEndTheWalk) {
    // Only the first entry may not continue an earlier volume.
    qvtest::FileSpec first = Literal("A.TXT", "a");
    first.flags |= kFileFlagContinuedFromPrevious;
    ASSERT_EQ(kWalkOpened, Open(qvtest::ArchiveOf({Block(first), Block(Literal("B.TXT", "b"))})));
    EXPECT_EQ((std::vector<std::string>{"continued A.TXT"}), Steps());
    CloseArchiveWalk(&walk);

    qvtest::FileSpec later = Literal("B.TXT", "b");
    later.flags |= kFileFlagContinuedFromPrevious;
    ASSERT_EQ(kWalkOpened, Open(qvtest::ArchiveOf({Block(Literal("A.TXT", "a")), Block(later)})));
    EXPECT_EQ((std::vector<std::string>{"file A.TXT", "file B.TXT", "end"}), Steps());
    CloseArchiveWalk(&walk);

    // An entry that goes on in a next volume: that volume cannot be had.
    qvtest::FileSpec last = Literal("B.TXT", "b");
    last.flags |= kFileFlagContinuedInNext;
    ASSERT_EQ(kWalkOpened, Open(qvtest::ArchiveOf({Block(Literal("A.TXT", "a")), Block(last)})));
    EXPECT_EQ((std::vector<std::string>{"file A.TXT", "file B.TXT", "missing"}), Steps());
}

TEST_F(WalkTest, OpeningLeavesNothingOpenWhenItFails) {
    ctx->ArchivePath = "no\\such\\file.bin";
    EXPECT_EQ(kWalkCannotOpen, OpenArchiveWalk(&walk, ctx, kWalkAsItGoes));
    EXPECT_EQ(nullptr, ctx->ArchiveFile);
    EXPECT_EQ(kWalkNoArchive, Open(qvtest::ImagePrefix(5000)));
    EXPECT_EQ(nullptr, ctx->ArchiveFile);
    SetAllocFailureHook([](size_t size) { return size == kWindowSize; });
    EXPECT_EQ(kWalkNoWindow, Open(qvtest::ArchiveOf({Block(Literal("A.TXT", "a"))})));
    EXPECT_EQ(nullptr, ctx->ArchiveFile);
    EXPECT_EQ(nullptr, ctx->WindowMemory);
}

TEST_F(WalkTest, SinksTakeTheBytesAndSkippedEntriesKeepSolidDecodingRight) {
    const std::string a = "the first entry, decoded without being kept";
    const std::string b = "the second continues from its window";
    ASSERT_EQ(kWalkOpened, Open(qvtest::ArchiveOf({Block(Literal("A.TXT", a)), Block(Literal("B.TXT", b, true)),
                                                   Block(Literal("C.TXT", b, true))})));
    ASSERT_EQ(kWalkFile, NextArchiveEntry(&walk));
    EXPECT_FALSE(DecodeArchiveEntry(&walk, nullptr));  // skip mode: nothing compared

    ASSERT_EQ(kWalkFile, NextArchiveEntry(&walk));
    uint8_t memory[64];
    EntrySink sink = MemorySink(memory, sizeof memory);
    EXPECT_TRUE(DecodeArchiveEntry(&walk, &sink));
    EXPECT_EQ(b.size(), sink.Taken);
    EXPECT_EQ(b, std::string(reinterpret_cast<char*>(memory), b.size()));

    // A sink that takes fewer bytes than the entry has fails its checksum.
    ASSERT_EQ(kWalkFile, NextArchiveEntry(&walk));
    EntrySink small = MemorySink(memory, 10);
    EXPECT_FALSE(DecodeArchiveEntry(&walk, &small));
    EXPECT_EQ(10u, small.Taken);
    EXPECT_EQ(kWalkEnd, NextArchiveEntry(&walk));
}

TEST_F(WalkTest, HostilePackedSizesEndTheWalkWithoutHarm) {
    // A packed size of 2 GB and more names data far before or beyond the
    // block: decoding stays bounded by the stored unpacked size, and the
    // walk goes on or ends without a fault.
    for (uint32_t packedSize : {0x80000000u, 0xFFFFFFF0u, 0x7FFFFFFFu}) {
        qvtest::FileSpec hostile = Literal("A.TXT", "a");
        hostile.flags = 0;  // no add-size: the block ends with its header
        hostile.packedSizeOverride = packedSize;
        ASSERT_EQ(kWalkOpened, Open(qvtest::ArchiveOf({Block(hostile), Block(Literal("B.TXT", "b"))})));
        ASSERT_EQ(kWalkFile, NextArchiveEntry(&walk));
        EntrySink sink = NullSink();
        DecodeArchiveEntry(&walk, &sink);
        EXPECT_LE(sink.Taken, 1u + kMaxMatchLength) << packedSize;
        NextArchiveEntry(&walk);
        CloseArchiveWalk(&walk);
    }
}

// Sealed archives: the closing block proves the archive whole, and the
// check before the first entry finds every way it can fail to.
struct SealedTest : WalkTest {
    std::vector<Bytes> blocks = {Block(Literal("A.TXT", "alpha")), qvtest::SubBlock(qvtest::ToBytes("s")),
                                 Block(Literal("DOC/LONGER.TXT", "beta", true)), Block(Literal("C.TXT", "gamma", true))};
    Bytes whole = qvtest::SealedArchiveOf(blocks, qvtest::ImagePrefix(300));
    size_t closingAt = whole.size() - kClosingHeaderSize;

    // Where a cut is most likely to pass for an end: every block boundary
    // and the bytes beside it, and a byte every so often in between.
    std::vector<size_t> CutPoints() const {
        std::vector<size_t> points;
        size_t at = 300 + kMarkerSize + kMainHeaderSize;
        std::vector<size_t> boundaries = {300, at};
        for (const Bytes& b : blocks) boundaries.push_back(at += b.size());
        boundaries.push_back(whole.size());
        for (size_t boundary : boundaries)
            for (size_t p = boundary - 2; p <= boundary + 2; p++) points.push_back(p);
        for (size_t p = 300; p < whole.size(); p += 7) points.push_back(p);
        std::vector<size_t> inside;
        for (size_t p : points)
            if (p >= 300 && p < whole.size()) inside.push_back(p);
        return inside;
    }

    WalkOpenResult Check(const Bytes& file) {
        CloseArchiveWalk(&walk);
        return Open(file, kWalkCheckFirst);
    }
    // Why a check-first open refused file.
    uint32_t Refusal(const Bytes& file) {
        EXPECT_EQ(kWalkBroken, Check(file));
        EXPECT_EQ(kWalkDamagedArchive, walk.Ending);
        return ctx->BlockStop;
    }
    // The same archive with another closing block.
    Bytes WithClosing(const Bytes& closing) const {
        Bytes b(whole.begin(), whole.begin() + static_cast<long>(closingAt));
        qvtest::Append(b, closing);
        return b;
    }
    uint32_t Field(size_t at) const {
        const uint8_t* p = whole.data() + closingAt + at;
        return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
    }
};

TEST_F(SealedTest, ACheckedArchiveIsSurveyedAndThenWalkedFromItsStart) {
    ASSERT_EQ(kWalkOpened, Check(whole));
    const ArchiveSurvey& s = walk.Survey;
    EXPECT_TRUE(s.Sealed);
    EXPECT_EQ(3u, s.Entries);
    EXPECT_EQ(3u, s.Files);
    EXPECT_EQ(14u, s.Unpacked);
    EXPECT_EQ(strlen("DOC\\LONGER.TXT"), s.LongestPath);
    EXPECT_STREQ("DOC\\LONGER.TXT", s.LongestName);
    EXPECT_EQ(4u, s.LongestDirectory);
    EXPECT_EQ(1252u, s.CodePage);
    EXPECT_EQ(kEntryAccepted, s.Refused);
    EXPECT_EQ((std::vector<std::string>{"file A.TXT", "file DOC\\LONGER.TXT", "file C.TXT", "end"}), Steps());
    // Signing pads to 8 bytes and appends the certificate table behind it.
    Bytes signedFile = qvtest::PeImagePrefix(0x400);
    Bytes archive(whole.begin() + 300, whole.end());
    qvtest::Append(signedFile, archive);
    qvtest::AppendSignature(signedFile, 700, 7);
    EXPECT_EQ(kWalkOpened, Check(signedFile));
}

TEST_F(SealedTest, CutsAreRefusedBeforeAnyEntryIsHandedOut) {
    for (size_t length : CutPoints()) {
        Bytes cut(whole.begin(), whole.begin() + static_cast<long>(length));
        WalkOpenResult opened = Check(cut);
        EXPECT_TRUE(opened == kWalkBroken || opened == kWalkNoArchive) << length;
        // Walked as it goes, the entries before the cut come out, the end never.
        CloseArchiveWalk(&walk);
        if (Open(cut, kWalkAsItGoes) != kWalkOpened) continue;
        std::vector<std::string> steps = Steps();
        EXPECT_NE("end", steps.back()) << length;
    }
}

TEST_F(SealedTest, AClosingBlockThatDisagreesIsDamage) {
    uint32_t entries = Field(kClosingFieldEntries), length = Field(kClosingFieldLength);
    uint32_t crc = Field(kClosingFieldArchiveCrc);
    EXPECT_EQ(kStopEntryCount, Refusal(WithClosing(qvtest::ClosingBlock(entries + 1, length, crc))));
    EXPECT_EQ(kStopArchiveLength, Refusal(WithClosing(qvtest::ClosingBlock(entries, length - 1, crc))));
    EXPECT_EQ(kStopArchiveChecksum, Refusal(WithClosing(qvtest::ClosingBlock(entries, length, crc ^ 1))));
    Bytes badHeader = whole;
    badHeader[closingAt + kClosingFieldCodePage] ^= 1;
    EXPECT_EQ(kStopClosingDamaged, Refusal(badHeader));
    // A flipped data byte passes the headers; only the CRC-32 sees it.
    Bytes flipped = whole;
    flipped[closingAt - 1] ^= 0x40;
    EXPECT_EQ(kStopArchiveChecksum, Refusal(flipped));
    // Nothing but padding may follow the closing block.
    Bytes twice = whole;
    qvtest::Append(twice, qvtest::ClosingBlock(entries, length, crc));
    EXPECT_EQ(kStopClosingDamaged, Refusal(twice));
    Bytes padded = whole;
    padded.resize(padded.size() + 7, 0);
    EXPECT_EQ(kWalkOpened, Check(padded));
    // A closing block stands only in a sealed archive's place: an
    // announcement without one is a cut archive.
    Bytes unclosed(whole.begin(), whole.begin() + static_cast<long>(closingAt));
    EXPECT_EQ(kStopNoClosingBlock, Refusal(unclosed));
}

TEST_F(SealedTest, ArchivesThatDoNotAnnounceItKeepTheirRules) {
    Bytes closing(whole.begin() + static_cast<long>(closingAt), whole.end());
    // Without the announcement a 0x7B block is no block of the format.
    Bytes plain = qvtest::ArchiveOf({Block(Literal("A.TXT", "a")), closing});
    EXPECT_EQ(kStopUnknownType, Refusal(plain));
    // With the authenticity flag Reserved32 belongs to something else.
    Bytes other = qvtest::Marker();
    qvtest::Append(other, qvtest::MainHeader(kMainFlagSolid | kMainFlagAuthenticity, kMainHeaderSize, kSealedArchiveTag));
    qvtest::Append(other, Block(Literal("A.TXT", "a")));
    ASSERT_EQ(kWalkOpened, Check(other));
    EXPECT_FALSE(walk.Survey.Sealed);
    // Archives with the old signature step over any block by its size.
    Bytes old = qvtest::ImagePrefix(64, true);
    Bytes header = qvtest::OldSignature();  // the main header starts at it
    qvtest::PutU8(header, 0);
    qvtest::PutU16(header, 13);
    header.resize(13, 0);
    qvtest::Append(old, header);
    qvtest::FileSpec entry = Literal("A.TXT", "a");
    entry.dataCrc = qvtest::RotSum16(qvtest::ToBytes("a"));
    qvtest::Append(old, Block(entry));
    qvtest::Append(old, closing);
    ASSERT_EQ(kWalkOpened, Check(old));
    EXPECT_EQ(1u, walk.Survey.Files);
}

TEST_F(SealedTest, EntriesTheInstallerCannotTakeAreNamedInTheSurvey) {
    qvtest::FileSpec stored = Literal("STORED.TXT", "kept as it is", true);
    stored.methodCode = kMethodStore;
    qvtest::FileSpec empty = Literal("EMPTY.TXT", "");
    empty.methodCode = kMethodStore;
    ASSERT_EQ(kWalkOpened, Check(qvtest::SealedArchiveOf({Block(empty), Block(stored)})));
    EXPECT_EQ(kEntryBadMethod, walk.Survey.Refused);
    EXPECT_STREQ("STORED.TXT", walk.Survey.RefusedName);
    ASSERT_EQ(kWalkOpened, Check(qvtest::SealedArchiveOf({Block(Literal("..\\UP.TXT", "u"))})));
    EXPECT_EQ(kEntryUnsafeName, walk.Survey.Refused);
    qvtest::FileSpec future = Literal("NEW.TXT", "n");
    future.versionNeeded = 29;
    ASSERT_EQ(kWalkOpened, Check(qvtest::SealedArchiveOf({Block(future)})));
    EXPECT_EQ(kEntryBadVersion, walk.Survey.Refused);
}

}  // namespace
