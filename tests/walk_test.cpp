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
    WalkOpenResult Open(const Bytes& file) {
        path = qvtest::ToBackslashes(qvtest::WriteTempFile(file, "walk.bin"));
        ctx->ArchivePath = path.c_str();
        return OpenArchiveWalk(&walk, ctx, kWalkAsItGoes);
    }
    // The steps of the whole walk, with the name of each entry delivered.
    std::vector<std::string> Steps() {
        static const char* const kNames[] = {"file", "dir", "end", "continued", "missing"};
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

}  // namespace
