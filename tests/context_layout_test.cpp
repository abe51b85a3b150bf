// The record of one installation keeps its fields in their documented order
// and stays a plain record that zero-filled memory makes ready for use.
#include <gtest/gtest.h>
#include <stddef.h>

#include <type_traits>

#include "base/context.h"

namespace {

static_assert(std::is_standard_layout<UnpackContext>::value, "offsets must be well defined");
static_assert(std::is_trivially_copyable<UnpackContext>::value,
              "allocated and freed as raw memory");
static_assert(std::is_trivially_copyable<FileBlockHeader>::value, "fixed fields saved by copying");

#define QV_ORDERED(a, b) \
    static_assert(offsetof(UnpackContext, a) < offsetof(UnpackContext, b), #a " before " #b)
// Archive headers, paths and window, stream and flags, block positions.
QV_ORDERED(Marker, ArchiveHeader);
QV_ORDERED(ArchiveHeader, EntryHeader);
QV_ORDERED(EntryHeader, LastBlockType);
QV_ORDERED(LastBlockType, TargetDir);
QV_ORDERED(TargetDir, ArchivePath);
QV_ORDERED(ArchivePath, WindowMemory);
QV_ORDERED(WindowMemory, ArchiveFile);
QV_ORDERED(ArchiveFile, ContinuedInNext);
QV_ORDERED(ContinuedInNext, ArchiveKind);
QV_ORDERED(ArchiveKind, SkipMode);
QV_ORDERED(SkipMode, ArchiveHeaderRead);
QV_ORDERED(ArchiveHeaderRead, BlockStart);
QV_ORDERED(BlockStart, NextBlock);
// Per-entry decoder contract and checksums.
QV_ORDERED(NextBlock, InputFile);
QV_ORDERED(InputFile, OutputFile);
QV_ORDERED(OutputFile, OutputWrite);
QV_ORDERED(OutputWrite, OutputSink);
QV_ORDERED(OutputSink, PackedLeft);
QV_ORDERED(PackedLeft, UnpackedLeft);
QV_ORDERED(UnpackedLeft, DataChecksum);
QV_ORDERED(DataChecksum, ArchiveFormat);
QV_ORDERED(ArchiveFormat, CrcTable);
// Decoder state, ending with the four audio tables.
QV_ORDERED(CrcTable, WindowPos);
QV_ORDERED(WindowPos, FlushedPos);
QV_ORDERED(FlushedPos, InputBuffer);
QV_ORDERED(InputBuffer, PrevCodeLengths);
QV_ORDERED(PrevCodeLengths, InputPos);
QV_ORDERED(InputPos, InputBit);
QV_ORDERED(InputBit, InputEnd);
QV_ORDERED(InputEnd, PrevDistance);
QV_ORDERED(PrevDistance, PrevLength);
QV_ORDERED(PrevLength, RecentDistances);
QV_ORDERED(RecentDistances, RecentCount);
QV_ORDERED(RecentCount, AudioFlag);
QV_ORDERED(AudioFlag, ChannelCount);
QV_ORDERED(ChannelCount, ActiveChannel);
QV_ORDERED(ActiveChannel, PreCodeTable);
QV_ORDERED(PreCodeTable, LiteralTable);
QV_ORDERED(LiteralTable, DistanceTable);
QV_ORDERED(DistanceTable, RepeatTable);
QV_ORDERED(RepeatTable, AudioTables);
#undef QV_ORDERED

// SeekNextBlock saves and restores everything before Name as one unit.
#define QV_HEADER_ORDERED(a, b) \
    static_assert(offsetof(FileBlockHeader, a) < offsetof(FileBlockHeader, b), #a " before " #b)
QV_HEADER_ORDERED(HeaderCrc, BlockType);
QV_HEADER_ORDERED(BlockType, BlockFlags);
QV_HEADER_ORDERED(BlockFlags, HeaderSize);
QV_HEADER_ORDERED(HeaderSize, PackedSize);
QV_HEADER_ORDERED(PackedSize, UnpackedSize);
QV_HEADER_ORDERED(UnpackedSize, HostSystem);
QV_HEADER_ORDERED(HostSystem, DataCrc);
QV_HEADER_ORDERED(DataCrc, DosDateTime);
QV_HEADER_ORDERED(DosDateTime, VersionNeeded);
QV_HEADER_ORDERED(VersionNeeded, MethodCode);
QV_HEADER_ORDERED(MethodCode, NameLength);
QV_HEADER_ORDERED(NameLength, Attributes);
QV_HEADER_ORDERED(Attributes, Name);
#undef QV_HEADER_ORDERED

// The decode loop's lookup tables follow the record's own fields.
static_assert(offsetof(UnpackContext, FastLiteral) > offsetof(UnpackContext, AudioTables) &&
                  offsetof(UnpackContext, FastLiteral) - offsetof(UnpackContext, AudioTables) <
                  sizeof(HuffTable[4]) + alignof(UnpackContext) &&
                  offsetof(UnpackContext, FastLiteral) < offsetof(UnpackContext, FastDistance) &&
                  offsetof(UnpackContext, FastDistance) < offsetof(UnpackContext, FastRepeat),
              "the audio tables come right before the lookups");
static_assert(sizeof(UnpackContext) - (offsetof(UnpackContext, FastRepeat) + sizeof(UnpackContext::FastRepeat)) <
                  alignof(UnpackContext),
              "the lookups come last");
static_assert(sizeof(UnpackContext::Marker) == 7 && sizeof(UnpackContext::CrcTable) == 1024 &&
                  sizeof(UnpackContext::InputBuffer) == 8192 &&
                  sizeof(UnpackContext::PrevCodeLengths) == 1028 &&
                  sizeof(FileBlockHeader::Name) == 260,
              "fixed buffer sizes");
static_assert(sizeof(UnpackContext::BlockStart) == 4 &&
                  std::is_signed<decltype(UnpackContext::BlockStart)>::value &&
                  std::is_signed<decltype(UnpackContext::NextBlock)>::value &&
                  std::is_signed<decltype(UnpackContext::PackedLeft)>::value,
              "positions and counts are signed 32-bit");

}  // namespace
