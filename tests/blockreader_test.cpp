// Finding the archive inside an installer file and walking its blocks.
#include "archive/blockreader.h"

#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "archive/checksum.h"
#include "base/context.h"
#include "install/fileops.h"
#include "support/archive_builder.h"

using namespace qvtest;

namespace {

const uint32_t kImageSize = 0xC800;  // where the shipped archive starts

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) Append(out, part);
    return out;
}

FileSpec File(const std::string& name, size_t packedBytes, uint16_t flags = 0x8000) {
    FileSpec spec;
    spec.name = name;
    for (size_t i = 0; i < packedBytes; i++) spec.packed.push_back(static_cast<uint8_t>(i * 7 + 1));
    spec.unpackedSize = static_cast<uint32_t>(packedBytes * 2);
    spec.flags = flags;
    return spec;
}

// Marker, main header and the given blocks.
Bytes ArchiveOf(std::initializer_list<Bytes> blocks, uint16_t mainFlags = 0x0008) {
    Bytes out = Concat({Marker(), MainHeader(mainFlags)});
    for (const Bytes& block : blocks) Append(out, block);
    return out;
}

struct ReaderTest : ::testing::Test {
    UnpackContext* ctx = nullptr;

    void SetUp() override {
        ctx = static_cast<UnpackContext*>(AllocZeroed(sizeof(UnpackContext)));
        ASSERT_NE(nullptr, ctx);
        BuildCrc32Table(ctx);
    }
    void TearDown() override {
        if (ctx) CloseFile(ctx->ArchiveFile);
        FreeAndClear(&ctx);
    }

    void Open(const Bytes& data) {
        CloseFile(ctx->ArchiveFile);
        ctx->ArchiveFile = OpenFileShared(WriteTempFile(data, "setup.exe").c_str(), "rb", 1);
        ASSERT_NE(nullptr, ctx->ArchiveFile);
    }
    int32_t Position() const { return TellFile(ctx->ArchiveFile); }

    // The driver's way in: locate, then skip the rest of the main header.
    void OpenArchive(const Bytes& data) {
        Open(data);
        ASSERT_NE(0, LocateArchive(ctx));
        SeekFile(ctx->ArchiveFile,
                 static_cast<int32_t>(ctx->ArchiveHeader.HeaderSize - ctx->ArchiveHeaderRead), 1);
    }
    // The blocks the reader stops on, one search after another: the stored
    // names of the file blocks, with "<sub>" for each sub-block reported.
    std::vector<std::string> BlocksFound(int request = 0x8074) {
        std::vector<std::string> seen;
        for (int guard = 0; guard < 1000; guard++) {
            if (SeekNextBlock(ctx, request) <= 0) return seen;
            seen.push_back(ctx->LastBlockType == kBlockSub ? "<sub>" : ctx->EntryHeader.Name);
            SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
        }
        ADD_FAILURE() << "the walk does not end";
        return seen;
    }
};

// ---- Locating the archive ----

TEST_F(ReaderTest, MarkerAtOffsetZeroIsReadWithoutScanning) {
    Open(Concat({Marker(), MainHeader(0x0028, 13, 0x4C0D0)}));
    EXPECT_EQ(1, LocateArchive(ctx));
    EXPECT_EQ(1u, ctx->ArchiveKind);
    EXPECT_EQ(2u, ctx->ArchiveFormat);
    EXPECT_EQ(13u, ctx->ArchiveHeaderRead);
    EXPECT_EQ(20, Position());
    EXPECT_EQ(0x73, ctx->ArchiveHeader.BlockType);
    EXPECT_EQ(0x0028, ctx->ArchiveHeader.BlockFlags);
    EXPECT_EQ(13, ctx->ArchiveHeader.HeaderSize);
    EXPECT_EQ(0x4C0D0u, ctx->ArchiveHeader.Reserved32);
    EXPECT_EQ(0, memcmp(ctx->Marker, Marker().data(), 7));

    Open(Concat({Marker(), MainHeader(0x0009)}));
    EXPECT_EQ(2, LocateArchive(ctx)) << "a volume, at offset 0";
}

TEST_F(ReaderTest, FilesTooShortForAMarkerOrMainHeaderHoldNoArchive) {
    Bytes marker = Marker();
    Open(Bytes(marker.begin(), marker.begin() + 6));
    EXPECT_EQ(0, LocateArchive(ctx));
    EXPECT_EQ(0u, ctx->ArchiveFormat);
    Open(Bytes());
    EXPECT_EQ(0, LocateArchive(ctx));

    Bytes cut = ArchiveOf({});
    cut.resize(19);  // one byte of the main header missing
    Open(cut);
    EXPECT_EQ(0, LocateArchive(ctx));
    EXPECT_EQ(0u, ctx->ArchiveKind);
}

TEST_F(ReaderTest, ArchiveBehindTheImageIsFoundByTheScan) {
    Open(Concat({ImagePrefix(kImageSize), ArchiveOf({FileBlock(File("A", 3))})}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(2u, ctx->ArchiveFormat);
    EXPECT_EQ(13u, ctx->ArchiveHeaderRead);
    EXPECT_EQ(static_cast<int32_t>(kImageSize + 20), Position());
    EXPECT_EQ(0, memcmp(ctx->Marker, Marker().data(), 7));
    EXPECT_EQ(0x0008, ctx->ArchiveHeader.BlockFlags);

    Open(Concat({ImagePrefix(kImageSize), ArchiveOf({}, 0x0001)}));
    EXPECT_EQ(2, LocateArchive(ctx)) << "a volume found by the scan";
}

TEST_F(ReaderTest, ScanReachesExactlyTheMarkersWhoseTypeByteWasRead) {
    // The scan reads 0x1FFF0 bytes from offset 7; the type byte lies 9
    // bytes after the marker's start.
    const uint32_t lastFound = 7 + kScanReadSize - 10;
    ASSERT_EQ(0x1FFEDu, lastFound);
    Open(Concat({ImagePrefix(lastFound), ArchiveOf({})}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(static_cast<int32_t>(lastFound + 20), Position());

    Open(Concat({ImagePrefix(lastFound + 1), ArchiveOf({})}));
    EXPECT_EQ(0, LocateArchive(ctx)) << "type byte one past the read";
    Open(Concat({ImagePrefix(7 + kScanReadSize - 3), ArchiveOf({})}));
    EXPECT_EQ(0, LocateArchive(ctx)) << "marker straddling the end of the read";
    EXPECT_EQ(0u, ctx->ArchiveFormat);
}

TEST_F(ReaderTest, ScanStartsAfterTheFirstSevenBytes) {
    for (size_t offset = 1; offset <= 6; offset++) {
        Open(Concat({Bytes(offset, 0x20), ArchiveOf({FileBlock(File("A", 3))})}));
        EXPECT_EQ(0, LocateArchive(ctx)) << "marker at offset " << offset;
    }
    Open(Concat({Bytes(7, 0x20), ArchiveOf({})}));
    EXPECT_EQ(3, LocateArchive(ctx)) << "marker at offset 7";
}

TEST_F(ReaderTest, MarkerFollowedByAnotherTypeIsPassedOver) {
    Bytes fake = Concat({Marker(), FileBlock(File("FAKE", 2))});  // type 0x74 at +9
    Bytes data = Concat({ImagePrefix(1000), fake, ArchiveOf({})});
    Open(data);
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(static_cast<int32_t>(1000 + fake.size() + 20), Position());
}

TEST_F(ReaderTest, OldSignatureCountsOnlyWithRsfxAtOffset28) {
    // Main header decoded from the 13 bytes that begin at the signature.
    Bytes old =
        Concat({OldSignature(), Bytes{0x11, 0x0D, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}});
    Open(Concat({ImagePrefix(4096, true), old, Bytes(100, 0)}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(1u, ctx->ArchiveFormat);
    EXPECT_EQ(4096 + 13, Position());
    EXPECT_EQ(0x4552, ctx->ArchiveHeader.HeaderCrc);  // "RE"
    EXPECT_EQ(0x7E, ctx->ArchiveHeader.BlockType);
    EXPECT_EQ(0x115E, ctx->ArchiveHeader.BlockFlags);
    EXPECT_EQ(13, ctx->ArchiveHeader.HeaderSize);

    Open(Concat({ImagePrefix(4096, false), old, Bytes(100, 0)}));
    EXPECT_EQ(0, LocateArchive(ctx)) << "no RSFX";
    Open(Concat({ImagePrefix(4096, false), old, ArchiveOf({})}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(2u, ctx->ArchiveFormat) << "the old signature is ignored without RSFX";
}

TEST_F(ReaderTest, OfTwoSignaturesTheEarlierWins) {
    Bytes old = Concat({OldSignature(), Bytes(9, 0)});
    Open(Concat({ImagePrefix(4096, true), old, ArchiveOf({}, 0x0001)}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(1u, ctx->ArchiveFormat);
    EXPECT_EQ(4096 + 13, Position());

    Bytes archive = ArchiveOf({}, 0x0001);
    Open(Concat({ImagePrefix(4096, true), archive, old}));
    EXPECT_EQ(2, LocateArchive(ctx));
    EXPECT_EQ(2u, ctx->ArchiveFormat);
    EXPECT_EQ(4096 + 20, Position());
}

TEST_F(ReaderTest, MainHeaderCutShortAfterTheScanIsNoArchive) {
    Bytes data = Concat({ImagePrefix(512), ArchiveOf({})});
    data.resize(512 + 7 + 10);  // type byte there, last 3 header bytes missing
    Open(data);
    EXPECT_EQ(0, LocateArchive(ctx));
}

// ---- Reading headers ----

TEST_F(ReaderTest, WorkedExampleBytesComeOutOfTheBuilderAndDecode) {
    const Bytes mainBytes = {0x36, 0x39, 0x73, 0x28, 0x00, 0x0D, 0x00,
                             0x00, 0x00, 0xD0, 0xC0, 0x04, 0x00};
    EXPECT_EQ(mainBytes, MainHeader(0x0028, 13, 0x0004C0D0));
    EXPECT_EQ(0x3936, HeaderCrc(mainBytes.data(), mainBytes.size()));

    const Bytes fileBytes = {0x09, 0xF6, 0x74, 0x40, 0x80, 0x2B, 0x00, 0xA5, 0x01, 0x00, 0x00,
                             0x85, 0x02, 0x00, 0x00, 0x02, 0x88, 0x0F, 0x53, 0xB8, 0x62, 0xB0,
                             0x70, 0x25, 0x14, 0x35, 0x0B, 0x00, 0x20, 0x00, 0x00, 0x00};
    FileSpec spec = File("FILE_ID.DIZ", 421, 0x8040);
    spec.unpackedSize = 645;
    spec.dataCrc = 0xB8530F88;
    Bytes block = FileBlock(spec);
    EXPECT_EQ(fileBytes, Bytes(block.begin(), block.begin() + 32));

    OpenArchive(Concat({ImagePrefix(kImageSize), Marker(), mainBytes, block, EndBlock()}));
    ASSERT_EQ(32 + 11, SeekNextBlock(ctx, 0x8074));
    const FileBlockHeader& h = ctx->EntryHeader;
    EXPECT_EQ(0xF609, h.HeaderCrc);
    EXPECT_EQ(0x74, h.BlockType);
    EXPECT_EQ(0x8040, h.BlockFlags);
    EXPECT_EQ(43, h.HeaderSize);
    EXPECT_EQ(421u, h.PackedSize);
    EXPECT_EQ(645u, h.UnpackedSize);
    EXPECT_EQ(2, h.HostSystem);
    EXPECT_EQ(0xB8530F88u, h.DataCrc);
    EXPECT_EQ(0x2570B062u, h.DosDateTime);
    EXPECT_EQ(DosDateTime(1998, 11, 16, 22, 3, 4), h.DosDateTime);
    EXPECT_EQ(20, h.VersionNeeded);
    EXPECT_EQ('5', h.MethodCode);
    EXPECT_EQ(11, h.NameLength);
    EXPECT_EQ(0x20u, h.Attributes);
    EXPECT_STREQ("FILE_ID.DIZ", h.Name);
    EXPECT_EQ(0xC814, ctx->BlockStart);
    EXPECT_EQ(0xC83F, Position()) << "just after the name";
    EXPECT_EQ(0xC83F, ctx->NextBlock - static_cast<int32_t>(h.PackedSize));
    EXPECT_EQ(0xC9E4, ctx->NextBlock);
}

TEST_F(ReaderTest, HeaderBytesPastTheEndDecodeAsZero) {
    Open(Bytes{0x01, 0x02, 0x74, 0x00, 0x80, 0x30, 0x00, 0xFF, 0xFF});
    memset(&ctx->EntryHeader, 0xAB, offsetof(FileBlockHeader, Name));
    EXPECT_EQ(9, ParseBlockHeader(ctx, kBlockFile));
    EXPECT_EQ(0x0201, ctx->EntryHeader.HeaderCrc);
    EXPECT_EQ(0x8000, ctx->EntryHeader.BlockFlags);
    EXPECT_EQ(0x30, ctx->EntryHeader.HeaderSize);
    EXPECT_EQ(0xFFFFu, ctx->EntryHeader.PackedSize);
    EXPECT_EQ(0u, ctx->EntryHeader.UnpackedSize);
    EXPECT_EQ(0u, ctx->EntryHeader.Attributes);
    EXPECT_EQ(0, ParseBlockHeader(ctx, kBlockFile));
}

// ---- Walking the blocks ----

TEST_F(ReaderTest, ShippedLayoutDeliversEveryFileAndEndsAfterTheEndBlock) {
    Bytes archive = Concat({ImagePrefix(kImageSize), Marker(), MainHeader(0x0028, 13)});
    std::vector<std::string> names;
    for (int i = 0; i < 33; i++) {
        names.push_back("FILE" + std::to_string(i) + ".BIN");
        Append(archive, FileBlock(File(names.back(), 50 + i, i == 0 ? 0x8040 : 0x8050)));
    }
    Append(archive, EndBlock(94));
    OpenArchive(archive);
    EXPECT_EQ(3u, ctx->ArchiveKind);
    EXPECT_EQ(names, BlocksFound());
    EXPECT_EQ(static_cast<int32_t>(archive.size()), Position());
    EXPECT_EQ(0, SeekNextBlock(ctx, 0x8074)) << "stays at the end";
}

TEST_F(ReaderTest, SubBlockIsReportedOnlyWhenAskedFor) {
    Bytes sub = SubBlock(Bytes(40, 0x74));
    Bytes data = ArchiveOf({FileBlock(File("FIRST", 10)), sub, FileBlock(File("SECOND", 10))});
    OpenArchive(data);
    ASSERT_GT(SeekNextBlock(ctx, 0x8074), 0);
    FileBlockHeader first = ctx->EntryHeader;
    SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    int32_t subStart = Position();

    EXPECT_EQ(32, SeekNextBlock(ctx, 0x8074));
    EXPECT_EQ(kBlockSub, ctx->LastBlockType);
    EXPECT_EQ(0, memcmp(&first, &ctx->EntryHeader, sizeof first)) << "entry left as it was";
    EXPECT_EQ(subStart, ctx->BlockStart);
    EXPECT_EQ(subStart, Position());
    EXPECT_EQ(static_cast<int32_t>(subStart + sub.size()), ctx->NextBlock);

    OpenArchive(data);
    EXPECT_EQ((std::vector<std::string>{"FIRST", "<sub>", "SECOND"}), BlocksFound(0x8074));
    OpenArchive(data);
    EXPECT_EQ((std::vector<std::string>{"FIRST", "SECOND"}), BlocksFound(0x0074));
}

TEST_F(ReaderTest, OtherBlocksAreSteppedOverByTheirSizesAlone) {
    // 0x76 without 0x8000: the value at offset 7 is not an add-size.
    Bytes bigNumber;
    PutU32(bigNumber, 0x1000);
    Bytes endLike = RawBlock(0x76, 0x4000, 94, bigNumber);
    // Another type with 0x8000: header plus the 32-bit add-size.
    Bytes withData;
    PutU32(withData, 100);
    Bytes carrying = RawBlock(kBlockRecovery, 0x8000, 20, withData, Bytes(100, 0x74));
    OpenArchive(ArchiveOf({FileBlock(File("ONE", 5)), endLike, FileBlock(File("TWO", 5)), carrying,
                           FileBlock(File("THREE", 5))}));
    EXPECT_EQ((std::vector<std::string>{"ONE", "TWO", "THREE"}), BlocksFound());
    EXPECT_EQ(kStopEndOfData, ctx->BlockStop);
}

TEST_F(ReaderTest, UnknownBlockTypeStopsAMarkerArchiveButNotAnOldOne) {
    Bytes withData;
    PutU32(withData, 100);
    Bytes unknown = RawBlock(0x7A, 0x8000, 20, withData, Bytes(100, 0x74));
    OpenArchive(ArchiveOf({FileBlock(File("ONE", 5)), unknown, FileBlock(File("TWO", 5))}));
    EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound());
    EXPECT_EQ(kStopUnknownType, ctx->BlockStop);
    EXPECT_EQ(7 + 13 + 32 + 3 + 5, ctx->BlockStart) << "where the damage is";

    // Archives found by the old signature have no such rule.
    Bytes old = Concat({OldSignature(), Bytes(9, 0)});
    old[5] = 13;  // HeaderSize
    OpenArchive(Concat({ImagePrefix(4096, true), old, FileBlock(File("ONE", 5)), unknown, FileBlock(File("TWO", 5))}));
    EXPECT_EQ(1u, ctx->ArchiveFormat);
    EXPECT_EQ((std::vector<std::string>{"ONE", "TWO"}), BlocksFound());
}

TEST_F(ReaderTest, FileHeaderWithADamagedTypeByteIsNotSteppedOver) {
    for (uint8_t type : {uint8_t(kBlockComment), uint8_t(kBlockEnd), uint8_t(kBlockSub), uint8_t(kBlockRecovery)}) {
        Bytes retyped = FileBlock(File("LOST", 5));
        retyped[2] = type;
        OpenArchive(ArchiveOf({FileBlock(File("ONE", 5)), retyped}));
        EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound());
        EXPECT_EQ(kStopRetypedFile, ctx->BlockStop) << int(type);
    }
}

TEST_F(ReaderTest, OnlyZeroPaddingBeforeTheEndIsACleanEnd) {
    Bytes archive = ArchiveOf({FileBlock(File("ONE", 5))});
    for (size_t padding = 1; padding <= 7; padding++) {
        Bytes zeros = archive;
        zeros.resize(archive.size() + padding, 0);
        OpenArchive(zeros);
        EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound());
        EXPECT_EQ(kStopEndOfData, ctx->BlockStop) << padding << " zero bytes";
        Bytes junk = zeros;
        junk.back() = 0x33;
        OpenArchive(junk);
        EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound());
        EXPECT_NE(kStopEndOfData, ctx->BlockStop) << padding << " bytes of junk";
    }
}

TEST_F(ReaderTest, DamagedMainHeaderIsNoArchiveAndTheScanLooksFurther) {
    Bytes damaged = ArchiveOf({FileBlock(File("FALSE", 5))});
    damaged[7 + 3] ^= 0x40;  // a flag bit of the main header
    Open(damaged);
    EXPECT_EQ(0, LocateArchive(ctx)) << "at offset 0";

    // Marker bytes inside an image, even with a main header's type byte
    // behind them, are passed over; the real archive behind is found.
    Bytes decoy = Concat({ImagePrefix(3000), Marker(), Bytes{0x00, 0x00, 0x73, 0x08, 0x00, 0x0D, 0x00}, Bytes(200, 0)});
    Open(Concat({decoy, ArchiveOf({FileBlock(File("REAL", 5))})}));
    EXPECT_EQ(3, LocateArchive(ctx));
    EXPECT_EQ(static_cast<int32_t>(decoy.size()) + 20, Position());
}

TEST_F(ReaderTest, WholeRequestStopsOnAnyBlockAndLeavesTheEntryAlone) {
    Bytes data = ArchiveOf({FileBlock(File("ONE", 5)), EndBlock(40)});
    OpenArchive(data);
    ASSERT_GT(SeekNextBlock(ctx, 0x74), 0);
    SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    int32_t endStart = Position();
    EXPECT_EQ(32, SeekNextBlock(ctx, 0));
    EXPECT_EQ(0x76, ctx->LastBlockType);
    EXPECT_EQ(0x74, ctx->EntryHeader.BlockType);
    EXPECT_STREQ("ONE", ctx->EntryHeader.Name);
    EXPECT_EQ(endStart, Position());
    EXPECT_EQ(endStart + 40, ctx->NextBlock);

    // At the end of the file: 0, the entry kept, the stream at the end.
    SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    EXPECT_EQ(0, SeekNextBlock(ctx, 0x8074));
    EXPECT_EQ(0x74, ctx->EntryHeader.BlockType);
    EXPECT_EQ(static_cast<int32_t>(data.size()), Position());
    EXPECT_EQ(static_cast<int32_t>(data.size()), ctx->BlockStart);
}

TEST_F(ReaderTest, HeaderSizeBelowSevenEndsTheWalk) {
    OpenArchive(ArchiveOf({FileBlock(File("ONE", 5)), RawBlock(0x74, 0x8000, 6, Bytes(30, 0)),
                           FileBlock(File("TWO", 5))}));
    EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound());
    EXPECT_EQ(6, ctx->EntryHeader.HeaderSize) << "the rejected block's fields";
    EXPECT_EQ(kStopShortHeader, ctx->BlockStop);
}

TEST_F(ReaderTest, BlockThatWouldNotMoveForwardEndsTheWalk) {
    // Sizes whose sum leaves the signed 32-bit range, or wraps around to just
    // past the block in unsigned 32-bit arithmetic.
    for (uint32_t packed : {0x7FFFFFFFu, 0xFFFFFFF9u, 0xFFFFFFFFu}) {
        FileSpec huge = File("HUGE", 8);
        huge.packedSizeOverride = packed;
        for (uint8_t type : {uint8_t(0x74), uint8_t(0x7A)}) {
            Bytes block = FileBlock(huge);
            block[2] = type;
            OpenArchive(ArchiveOf({FileBlock(File("ONE", 5)), block, FileBlock(File("TWO", 5))}));
            EXPECT_EQ((std::vector<std::string>{"ONE"}), BlocksFound())
                << std::hex << "packed size " << packed << " type " << int(type);
            EXPECT_EQ(kStopNoProgress, ctx->BlockStop);
        }
    }
}

TEST_F(ReaderTest, LongNameIsClippedTo259AndTheNextBlockStillFound) {
    std::string longName;
    for (int i = 0; i < 300; i++) longName += static_cast<char>('A' + i % 26);
    OpenArchive(ArchiveOf({FileBlock(File(longName, 9)), FileBlock(File("NEXT", 4))}));
    EXPECT_EQ(32 + 259, SeekNextBlock(ctx, 0x8074));
    EXPECT_EQ(259, ctx->EntryHeader.NameLength);
    EXPECT_EQ(longName.substr(0, 259), std::string(ctx->EntryHeader.Name));
    SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    EXPECT_GT(SeekNextBlock(ctx, 0x8074), 0);
    EXPECT_STREQ("NEXT", ctx->EntryHeader.Name);
}

TEST_F(ReaderTest, BlockCutShortByTheEndOfTheFile) {
    // In an archive with the marker a block reaching beyond the end is damage.
    FileSpec cut = File("ABCDEFGHIJ", 0);
    Bytes data = ArchiveOf({FileBlock(File("A-MUCH-LONGER-NAME.TXT", 3)), FileBlock(cut)});
    data.resize(data.size() - 7);
    OpenArchive(data);
    EXPECT_EQ((std::vector<std::string>{"A-MUCH-LONGER-NAME.TXT"}), BlocksFound());
    EXPECT_EQ(kStopPastEnd, ctx->BlockStop);

    // Behind the old signature the name holds only what was there.
    Bytes old = Concat({OldSignature(), Bytes(9, 0)});
    old[5] = 13;
    Bytes oldData = Concat({ImagePrefix(4096, true), old, FileBlock(File("A-MUCH-LONGER-NAME.TXT", 3)), FileBlock(cut)});
    oldData.resize(oldData.size() - 7);
    OpenArchive(oldData);
    EXPECT_EQ((std::vector<std::string>{"A-MUCH-LONGER-NAME.TXT", "ABC"}), BlocksFound());
}

TEST_F(ReaderTest, SlashesInNamesBecomeBackslashes) {
    OpenArchive(ArchiveOf({FileBlock(File("DIR/SUB/FILE.TXT", 1)), FileBlock(File("A\\B/C", 1))}));
    EXPECT_EQ((std::vector<std::string>{"DIR\\SUB\\FILE.TXT", "A\\B\\C"}), BlocksFound());
    EXPECT_EQ(1, IsPathSeparator('/'));
    EXPECT_EQ(1, IsPathSeparator('\\'));
    EXPECT_EQ(0, IsPathSeparator(':'));
    EXPECT_EQ(0, IsPathSeparator(0));
}

TEST_F(ReaderTest, ForeignHostsGetDirectoryOrArchiveAttributes) {
    // Hosts above 3 are settled when the header is read, Unix (3) only when
    // the driver fixes the attributes; hosts 0 to 2 keep theirs.
    struct Case {
        uint8_t host;
        uint16_t flags;
        uint8_t hostAfter;
        uint32_t attributesRead;
        uint32_t attributesFixed;
    } cases[] = {
        {0, 0x80E0, 0, 0x81A4, 0x81A4}, {2, 0x80E0, 2, 0x81A4, 0x81A4},
        {3, 0x80E0, 3, 0x81A4, 0x10},   {3, 0x8040, 3, 0x81A4, 0x20},
        {3, 0x80C0, 3, 0x81A4, 0x20},   {4, 0x80E0, 0, 0x10, 0x10},
        {7, 0x8040, 0, 0x20, 0x20},     {255, 0x80E0, 0, 0x10, 0x10},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "host " << int(c.host) << " flags " << std::hex << c.flags);
        FileSpec spec = File("X", 1, c.flags);
        spec.hostSystem = c.host;
        spec.attributes = 0x81A4;  // Unix mode bits
        OpenArchive(ArchiveOf({FileBlock(spec)}));
        ASSERT_GT(SeekNextBlock(ctx, 0x8074), 0);
        EXPECT_EQ(c.attributesRead, ctx->EntryHeader.Attributes);
        FixHostAttributes(&ctx->EntryHeader);
        EXPECT_EQ(c.hostAfter, ctx->EntryHeader.HostSystem);
        EXPECT_EQ(c.attributesFixed, ctx->EntryHeader.Attributes);
    }
}

TEST_F(ReaderTest, WrongHeaderChecksumIsDeliveredAndToldApart) {
    FileSpec bad = File("BAD.CRC", 6);
    bad.breakHeaderCrc = true;
    Bytes block = FileBlock(bad);
    ASSERT_NE(HeaderCrc(block.data(), 32 + 7), block[0] | (block[1] << 8));
    OpenArchive(ArchiveOf({block, FileBlock(File("GOOD", 2))}));
    ASSERT_GT(SeekNextBlock(ctx, kFileRequest), 0);
    EXPECT_STREQ("BAD.CRC", ctx->EntryHeader.Name);
    EXPECT_FALSE(ctx->EntryHeaderIntact) << "delivered, and told to be damaged";
    SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    ASSERT_GT(SeekNextBlock(ctx, kFileRequest), 0);
    EXPECT_TRUE(ctx->EntryHeaderIntact);

    // The checksum covers the whole name, also the part beyond 259 bytes,
    // and the name as stored, before '/' becomes '\\'.
    std::string longName(300, 'N');
    longName[280] = 'X';
    Bytes longBlock = FileBlock(File("DIR/" + longName, 2));
    OpenArchive(ArchiveOf({longBlock}));
    ASSERT_GT(SeekNextBlock(ctx, kFileRequest), 0);
    EXPECT_TRUE(ctx->EntryHeaderIntact);
    longBlock[32 + 4 + 280] = 'Y';  // a byte the kept name does not hold
    OpenArchive(ArchiveOf({longBlock}));
    ASSERT_GT(SeekNextBlock(ctx, kFileRequest), 0);
    EXPECT_FALSE(ctx->EntryHeaderIntact);
}

TEST_F(ReaderTest, LongerMainHeaderIsSkippedByTheCaller) {
    OpenArchive(Concat({Marker(), MainHeader(0x0008, 25), FileBlock(File("AFTER", 2))}));
    EXPECT_EQ(25, ctx->ArchiveHeader.HeaderSize);
    EXPECT_EQ(7 + 25, Position());
    EXPECT_EQ((std::vector<std::string>{"AFTER"}), BlocksFound());
}

}  // namespace
