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
    kStopRetypedFile,    // a file header whose type byte is damaged into another known type
    // A sealed archive that does not prove itself whole (the walk checks
    // these once it has reached the end):
    kStopNoClosingBlock,   // no closing block: the archive was cut
    kStopClosingDamaged,   // a closing block whose checksum or size disagrees, or one that is not last
    kStopEntryCount,       // the closing block counts other entries than the walk found
    kStopArchiveLength,    // the closing block gives another length
    kStopArchiveChecksum,  // the archive's bytes do not give the closing block's CRC-32
    kStopSignatureCut      // a signed installer whose signature was cut short
};

// Huffman decode table built from code lengths of at most 15 bits: the
// canonical code of the lengths, by the limit of each code length.
// SortedSymbols is sized for the largest alphabet (298 symbols).
struct HuffTable {
    uint32_t SymbolCount;  // the alphabet's size; a position at or past it gives symbol 0
    // CodeLimit[L]: the 16-bit fields (code at the top) below it hold codes
    // of L bits or fewer; capped at 0xFFFF. CodeLimit[0] is 0.
    uint32_t CodeLimit[16];
    // FirstIndex[L]: where the symbols with L-bit codes start in SortedSymbols.
    uint32_t FirstIndex[16];
    // The symbols with a code, by code length, then by symbol.
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
    // A sealed archive's closing block, as the block walk stepped over it.
    bool Sealed;             // the main header announces a closing block
    bool ClosingIntact;      // its checksum and size agree
    int32_t ClosingAt;       // where it starts (0: none seen)
    uint32_t ClosingEntries;
    uint32_t ClosingLength;
    uint32_t ClosingCrc;     // as stored (complemented)
    uint16_t ClosingCodePage;

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
    bool SignatureCut;   // the certificate table of a signed image reaches past the end of the file
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

    // 7. Decoder state (unpack/). A solid entry goes on from the state the
    // entry before left; for any other ResetDecoder clears the window, its
    // positions and the match state, and the entry's first table set
    // replaces the tables. While the decode loop runs (RunSteps in
    // unpack/lzdecoder.cpp) it keeps the input position, WindowPos,
    // UnpackedLeft and the match state in locals and puts them back here
    // when it returns.
    //
    // The window, WindowMemory, is a ring addressed AND kWindowMask.
    uint32_t WindowPos;   // where the next decoded byte goes
    uint32_t FlushedPos;  // written out up to here: FlushedPos..WindowPos (around the ring) wait
    // Packed bytes of the entry. A refill keeps the last kCarriedBytes,
    // moved to the front, and reads the rest anew (FillInputBuffer).
    uint8_t InputBuffer[kInputBufferSize];
    // The code lengths of the last table set read, LZ or audio; a set with
    // the keep flag gives its lengths as deltas against them.
    uint8_t PrevCodeLengths[kMaxCodeLengths];
    uint32_t InputPos;  // the byte of InputBuffer that holds the next bit
    uint32_t InputBit;  // bits of that byte already consumed, 0..7, from its top
    uint32_t InputEnd;  // InputBuffer holds packed bytes below this; those after are stale
    // The match state: the last match (symbol 256 repeats it) and the
    // distances of the last four, which symbols 257..260 name.
    uint32_t PrevDistance;
    int32_t PrevLength;
    // A ring of four, counted by RecentCount: the newest at
    // (RecentCount - 1) & 3, the one before it at (RecentCount - 2) & 3;
    // zero where no match has been recorded yet.
    uint32_t RecentDistances[kRecentDistances];
    int32_t RecentCount;  // matches recorded (mod 2^32): the next goes to RecentCount & 3
    // The tables. An LZ set rebuilds LiteralTable, DistanceTable and
    // RepeatTable with their lookups; an audio set builds only AudioTables,
    // with which no data is decoded (ReadCodeTables): the LZ tables before
    // it stay in force, and only the tail check (CheckTrailingTables) reads
    // an audio table.
    uint32_t AudioFlag;     // kTableFlagAudio when the last set read was an audio set, else 0
    int32_t ChannelCount;   // channels of the last audio set, 1..kMaxAudioChannels
    int32_t ActiveChannel;  // the audio table the tail check reads; nothing moves it from 0
    HuffTable PreCodeTable;   // the code of the last set's code lengths
    HuffTable LiteralTable;   // literals 0..255 and symbols 256..297
    HuffTable DistanceTable;  // distance slots after symbols 270..297
    HuffTable RepeatTable;    // length slots after symbols 257..260
    HuffTable AudioTables[kMaxAudioChannels];  // one per channel of the last audio set

    // Lookups for LiteralTable, DistanceTable and RepeatTable, rebuilt with
    // them by ReadCodeTables (the one place that builds those tables).
    uint32_t FastLiteral[kFastLiteralSize];
    uint32_t FastDistance[kFastDistanceSize];
    uint32_t FastRepeat[kFastRepeatSize];
};

#endif
