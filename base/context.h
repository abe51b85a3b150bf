// The record of one installation and the Huffman table records it embeds.
//
// Everything an installation needs lives in one zero-filled UnpackContext:
// the archive headers as read, the paths, the archive stream, block
// positions, the per-entry decoder contract, the CRC table and the whole
// decoder state with its Huffman tables. It is allocated once per
// installation (or per look at an archive) and lent to every operation of
// the block reader, the checksums and the decoder, which keep no state of
// their own.
#ifndef QUORVANEL_BASE_CONTEXT_H
#define QUORVANEL_BASE_CONTEXT_H

#include <stdint.h>

#include "base/format.h"
#include "base/stream.h"

enum {
    kPathSize = 260,         // MAX_PATH: at most 259 characters and the NUL
    kInputBufferSize = 8192  // packed-byte input buffer
};
static_assert(kPathSize == kMaxStoredName + 1, "a stored name fills a path buffer");

// What LocateArchive found (ArchiveKind), and which of the two signatures
// the archive carries (ArchiveFormat; it selects the data checksum).
enum ArchiveKindCode {
    kArchiveNone = 0,         // no archive
    kArchiveAtStart = 1,      // at offset 0, not a volume
    kArchiveVolume = 2,       // one volume of a set, wherever it was found
    kArchiveBehindImage = 3   // found by the scan behind an image, or by the old signature
};
enum ArchiveFormatCode {
    kFormatNone = 0,          // not located yet
    kFormatOldSignature = 1,  // "RE~^": 16-bit rotating sums
    kFormatMarker = 2         // "Rar!": CRC-32
};

// Why a search of the block walk found no further block. Only the end of
// the data is a clean end; in an archive with the marker the others are
// damage.
enum BlockStopCode {
    kStopNone = 0,       // it stopped on a block
    kStopEndOfData,      // nothing more to read (or only zero padding) before the archive's end
    kStopShortHeader,    // a header size below 7, or a few bytes that are no header
    kStopNoProgress,     // a block that would not move the walk forward
    kStopPastEnd,        // a block that reaches beyond the archive's end
    kStopUnknownType,    // a block of a type the format does not define
    kStopRetypedFile     // a file header whose type byte is damaged into another known type
};

// Huffman decode table built from code lengths of at most 15 bits: the
// canonical code of the lengths, by the limit of each code length.
// SortedSymbols is sized for the largest alphabet (298 symbols).
struct HuffTable {
    uint32_t SymbolCount;
    uint32_t CodeLimit[16];
    uint32_t FirstIndex[16];
    uint32_t SortedSymbols[kLiteralSymbols];
};

// Lookup tables of the decode loop, one 32-bit entry for each pattern of
// the leading bits of input: what the code there stands for, with the bits it
// takes (unpack/huffman.h has the entry layout). A zero entry sends the
// decode to the decode rule, so a zero-filled table always decodes correctly.
enum {
    kFastLiteralBits = 11,
    kFastDistanceBits = 10,
    kFastRepeatBits = 8,
    kFastLiteralSize = 1 << kFastLiteralBits,
    kFastDistanceSize = 1 << kFastDistanceBits,
    kFastRepeatSize = 1 << kFastRepeatBits
};

// Where unpacked bytes go when not to OutputFile: takes count bytes and
// returns how many it kept (fewer count as a failed write).
typedef uint32_t (*OutputFn)(void* sink, const uint8_t* data, uint32_t count);

struct UnpackContext {
    // 1. Archive headers.
    uint8_t Marker[kMarkerSize];
    MainBlockHeader ArchiveHeader;
    FileBlockHeader EntryHeader;
    uint8_t LastBlockType;
    bool EntryHeaderIntact;  // the last file header delivered has a matching HeaderCrc

    // 2. Paths and window. The strings belong to the caller; the window
    // (kWindowSize bytes) to whoever opened the walk over the archive.
    char* TargetDir;          // ends with a backslash
    const char* ArchivePath;  // the executable that carries the archive
    uint8_t* WindowMemory;

    // 3. Archive stream and driver flags.
    FileStream* ArchiveFile;
    uint32_t ContinuedInNext;  // flag 0x02 of the last file entry handled
    uint32_t ArchiveKind;      // ArchiveKindCode
    uint32_t SkipMode;         // the entry is decoded without being written or checked

    // 4. Block positions: signed 32-bit offsets from the start of the file.
    uint32_t ArchiveHeaderRead;
    int32_t BlockStart;
    int32_t NextBlock;
    int32_t ArchiveEnd;  // no byte at or behind it belongs to the archive (0: no limit)
    uint32_t BlockStop;  // BlockStopCode: why the last search found no block

    // 5. Per-entry decoder contract.
    FileStream* InputFile;
    FileStream* OutputFile;     // none in skip mode
    OutputFn OutputWrite;  // when set, output goes here instead of OutputFile
    void* OutputSink;      // handed to OutputWrite
    int32_t PackedLeft;
    int32_t UnpackedLeft;
    uint32_t DataChecksum;

    // 6. Checksums.
    uint32_t ArchiveFormat;  // ArchiveFormatCode
    uint32_t CrcTable[256];
    // Slices k = 1..7 of the table, built with it: entry b of slice k is the
    // CRC of byte b followed by k zero bytes. Eight bytes fold in at once.
    uint32_t CrcSlices[7][256];

    // 7. Decoder state.
    uint32_t WindowPos;
    uint32_t FlushedPos;
    uint8_t InputBuffer[kInputBufferSize];
    uint8_t PrevCodeLengths[kMaxCodeLengths];
    uint32_t InputPos;
    uint32_t InputBit;
    uint32_t InputEnd;
    uint32_t PrevDistance;
    int32_t PrevLength;
    uint32_t RecentDistances[kRecentDistances];
    int32_t RecentCount;
    uint32_t AudioFlag;
    int32_t ChannelCount;
    int32_t ActiveChannel;
    HuffTable PreCodeTable;
    HuffTable LiteralTable;
    HuffTable DistanceTable;
    HuffTable RepeatTable;
    HuffTable AudioTables[kMaxAudioChannels];

    // Lookups for LiteralTable, DistanceTable and RepeatTable, rebuilt with
    // them by ReadCodeTables (the one place that builds those tables).
    uint32_t FastLiteral[kFastLiteralSize];
    uint32_t FastDistance[kFastDistanceSize];
    uint32_t FastRepeat[kFastRepeatSize];
};

#endif
