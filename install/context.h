// The record of one installation and the shared records it embeds.
//
// Everything an installation needs lives in one zero-filled UnpackContext:
// the archive headers as read, the paths, the archive stream, block
// positions, the per-entry decoder contract, the CRC table and the whole
// decoder state with its Huffman tables. It is allocated by
// InstallFromArchive and lent to every other operation.
#ifndef QUORVANEL_INSTALL_CONTEXT_H
#define QUORVANEL_INSTALL_CONTEXT_H

#include <stdint.h>
#include <stdio.h>

enum {
    kPathSize = 260,          // MAX_PATH: at most 259 characters and the NUL
    kInputBufferSize = 8192,  // packed-byte input buffer
    kWindowSize = 0x100000,   // sliding window, addressed by AND kWindowMask
    kWindowMask = 0xFFFFF,
    kMaxCodeLengths = 1028,   // 4 audio channels x 257 symbols
    kAudioSymbols = 257,
    kLiteralSymbols = 298,
    kDistanceSymbols = 48,
    kRepeatSymbols = 28,
    kPreCodeSymbols = 19,
    kLzTableSetSize = 374  // 298 + 48 + 28
};

// Huffman decode table built from code lengths of at most 15 bits.
// SortedSymbols is sized for the largest alphabet (298 symbols).
struct HuffTable {
    uint32_t SymbolCount;
    uint32_t CodeLimit[16];
    uint32_t FirstIndex[16];
    uint32_t SortedSymbols[kLiteralSymbols];
};

// Lookup table of the decode loop: the entry for the leading kFastBits bits
// of input is symbol << 4 | code length when those bits settle the code
// (exactly as the decode rule would), else 0, which sends the decode to the
// rule; a zero-filled table thus always decodes correctly.
enum {
    kFastBits = 10,
    kFastSize = 1 << kFastBits
};
struct FastHuffTable {
    uint16_t Entry[kFastSize];
};

// The 13 fixed bytes of the main header (type 0x73).
struct MainBlockHeader {
    uint16_t HeaderCrc;
    uint8_t BlockType;
    uint16_t BlockFlags;
    uint16_t HeaderSize;
    uint16_t Reserved16;
    uint32_t Reserved32;
};

// A file header (type 0x74) as decoded. The fixed fields come first and are
// saved and restored as one unit by SeekNextBlock (everything before Name);
// Name holds the stored name, NUL-terminated, at most 259 characters, with
// '/' already turned into '\'.
struct FileBlockHeader {
    uint16_t HeaderCrc;
    uint8_t BlockType;
    uint16_t BlockFlags;
    uint16_t HeaderSize;
    uint32_t PackedSize;
    uint32_t UnpackedSize;
    uint8_t HostSystem;
    uint32_t DataCrc;
    uint32_t DosDateTime;
    uint8_t VersionNeeded;
    uint8_t MethodCode;
    uint16_t NameLength;
    uint32_t Attributes;
    char Name[kPathSize];
};

struct UnpackContext {
    // 1. Archive headers.
    uint8_t Marker[7];
    MainBlockHeader ArchiveHeader;
    FileBlockHeader EntryHeader;
    uint8_t LastBlockType;

    // 2. Paths and window, set by the driver. The strings belong to the caller.
    char* TargetDir;          // ends with a backslash
    const char* ArchivePath;  // the executable that carries the archive
    uint8_t* WindowMemory;    // the 1 MB window the driver allocates

    // 3. Archive stream and driver flags.
    FILE* ArchiveFile;
    uint32_t ContinuedInNext;
    uint32_t ArchiveKind;
    uint32_t SkipMode;

    // 4. Block positions.
    uint32_t ArchiveHeaderRead;
    int32_t BlockStart;
    int32_t NextBlock;

    // 5. Per-entry decoder contract.
    FILE* InputFile;
    FILE* OutputFile;
    int32_t PackedLeft;
    int32_t UnpackedLeft;
    uint32_t DataChecksum;

    // 6. Checksums.
    uint32_t ArchiveFormat;  // 0 not located, 1 old signature, 2 "Rar!" marker
    uint32_t CrcTable[256];

    // 7. Decoder state.
    uint8_t* WindowBuffer;
    uint32_t WindowPos;
    uint32_t FlushedPos;
    uint32_t LastBits;
    uint32_t LastSymbol;
    uint8_t InputBuffer[kInputBufferSize];
    uint8_t PrevCodeLengths[kMaxCodeLengths];
    uint32_t InputPos;
    uint32_t InputBit;
    uint32_t InputEnd;
    uint32_t PrevDistance;
    int32_t PrevLength;
    int32_t MatchLength;
    uint32_t MatchDistance;
    uint32_t RecentDistances[4];
    int32_t RecentCount;
    HuffTable* AudioTables[4];
    uint32_t AudioFlag;
    int32_t ChannelCount;
    int32_t ActiveChannel;
    HuffTable PreCodeTable;
    HuffTable LiteralTable;
    HuffTable DistanceTable;
    HuffTable RepeatTable;
    HuffTable AudioTableStore[4];

    // Lookups for LiteralTable, DistanceTable and RepeatTable, rebuilt with
    // them by ReadCodeTables (the one place that builds those tables).
    FastHuffTable FastLiteral;
    FastHuffTable FastDistance;
    FastHuffTable FastRepeat;
};

// Points the AudioTables entries at the four tables held in the record.
void BindAudioTables(UnpackContext* ctx);

#endif
