// The archive format, defined once: every constant that the reader, the
// decoder, the packer, the tools and the tests share.
//
// An installer file is the program image with the archive directly behind
// it (a bare archive is the same without the image):
//
//   offset 0        +----------------------------------+
//                   | program image (setup.exe)        |  any length up to kLastScanMarker
//   archive start   +----------------------------------+
//                   | marker "Rar!" 1A 07 00           |  kMarkerSize bytes
//                   | main header, type 0x73           |  kMainHeaderSize fixed bytes
//                   |   (HeaderSize may reach further) |
//                   +----------------------------------+
//                   | file header, type 0x74           |  kFileHeaderSize fixed bytes
//                   | name                             |  NameLength bytes
//                   |   (HeaderSize may reach further) |
//                   | packed data                      |  PackedSize bytes
//                   +----------------------------------+
//                   | file header ... packed data      |  one block per file, in order;
//                   | ...                              |  later files continue the decoder
//                   +----------------------------------+  state of earlier ones (solid)
//                   | other blocks                     |  stepped over by their sizes
//                   | closing block, type 0x7B         |  only in sealed archives (below)
//   end of file     +----------------------------------+
//
// Every block starts with the same 7 bytes (HeaderCrc u16, BlockType u8,
// BlockFlags u16, HeaderSize u16) and occupies HeaderSize bytes, plus the
// 32-bit add-size at offset 7 when flag 0x8000 is set (for a file block: its
// packed data). Multi-byte fields are little-endian. HeaderCrc is the low 16
// bits of the complemented CRC-32 of the header from offset 2: the main
// header's bytes 2..12, a file header's bytes 2..31 and its whole name.
//
// A sealed archive (every archive qvpack writes) proves that it is whole:
// its main header's Reserved32 holds kSealedArchiveTag, and its last block
// is a closing block (type 0x7B, flags 0x4000 "skip when unknown") with the
// number of entries, the archive's length from the marker to the closing
// block's end and the CRC-32 of every byte before the closing block. A
// reader that does not know the type steps over it by its HeaderSize and
// delivers the same files; ours refuses a sealed archive whose closing
// block is missing, damaged or disagrees. Archives without the tag keep
// the rules they always had, and there 0x7B is no block of the format.
//
// A signed installer carries its Authenticode signature (the PE image's
// certificate table) behind the archive; the archive ends where that table
// begins. Older installers carry
// the archive behind the 4-byte old signature "RE~^" instead of the marker,
// with "RSFX" at file offset 28; their main header starts at the signature.
//
// The packed data of a file is a bit stream (most significant bit first) of
// Huffman-coded symbols over a 1 MB window: table sets that carry the code
// lengths of the literal, distance and repeat tables, literals, matches and
// control symbols. The tables at the end of this header give the lengths and
// distances that match symbols stand for.
#ifndef QUORVANEL_BASE_FORMAT_H
#define QUORVANEL_BASE_FORMAT_H

// --- The installer program ----------------------------------------------

// The installer program carries this mark as its RCDATA resource
// IDR_INSTALLER_MARK, the 8 characters without a NUL: the packer appends
// archives to an image that carries it and to no other. resources/setup.rc
// takes it from here; the resource compiler (which defines RC_INVOKED) sees
// nothing else of this header.
#define QV_INSTALLER_MARK "QVSETUP2"

#ifndef RC_INVOKED

#include <stdint.h>

enum { kInstallerMarkSize = 8 };
inline constexpr char kInstallerMark[kInstallerMarkSize + 1] = QV_INSTALLER_MARK;

// --- Finding the archive -------------------------------------------------

inline constexpr uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};  // "Rar!" 1A 07 00
inline constexpr uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};             // "RE~^"
inline constexpr uint8_t kOldSignatureTag[4] = {0x52, 0x53, 0x46, 0x58};          // "RSFX"

enum {
    kMarkerSize = 7,
    kOldSignatureSize = 4,
    kOldSignatureTagOffset = 28,  // absolute file offset of "RSFX" in old installers
    kMarkerTypeOffset = 9,        // the main header's type byte, counted from the marker
    // Behind an image the archive is found by a scan of the bytes that follow
    // the first 7: kScanReadSize of them are read into a zero-filled buffer of
    // kScanBufferSize, so a marker must start at kLastScanMarker or earlier.
    kScanStart = kMarkerSize,
    kScanBufferSize = 0x20000,
    kScanReadSize = 0x1FFF0,
    kLastScanMarker = kScanStart + kScanReadSize - (kMarkerTypeOffset + 1)
};

// --- Blocks ------------------------------------------------------------

enum {
    kBlockMarker = 0x72,    // 'r' the marker read as a block: "Ra" "r" 0x1A21, 7 bytes
    kBlockMain = 0x73,      // 's' main header, right behind the marker
    kBlockFile = 0x74,      // 't' file header and the file's packed data
    kBlockComment = 0x75,   // 'u' archive comment
    kBlockEnd = 0x76,       // 'v' authenticity block; it ends the archive we ship
    kBlockSub = 0x77,       // 'w' sub-block
    kBlockRecovery = 0x78,  // 'x' recovery record
    kBlockClosing = 0x7B,   // '{' closing block of a sealed archive

    kBlockHeaderMinimum = 7,   // HeaderCrc, BlockType, BlockFlags, HeaderSize
    kMainHeaderSize = 13,      // fixed bytes of the main header
    kFileHeaderSize = 32,      // fixed bytes of a file header, before the name
    kAddSizeOffset = 7,        // where the 32-bit add-size stands
    kBlockFlagAddSize = 0x8000,  // any block: the add-size follows the 7 bytes
    kBlockFlagSkipIfUnknown = 0x4000,  // any block: a reader that does not know the type steps over it

    kMainFlagVolume = 0x0001,  // main header: one volume of a multi-volume set
    kMainFlagSolid = 0x0008,   // main header: the archive is solid
    kMainFlagAuthenticity = 0x0020,  // main header: Reserved32 belongs to an authenticity record

    kFileFlagContinuedFromPrevious = 0x0001,  // file header: data began in the volume before
    kFileFlagContinuedInNext = 0x0002,        // file header: data goes on in the next volume
    kFileFlagSolid = 0x0010,                  // file header: continues the decoder state
    kFileDictionaryBits = 0x00E0,             // dictionary-size code; all set: a directory
    kFileDictionaryShift = 5,
    kFileDictionary1M = 4 << kFileDictionaryShift,  // code 4: the 1 MB window

    kMaxStoredName = 259  // name bytes the reader keeps (a 260-byte buffer with its NUL)
};

// Where the fields of the block headers stand, counted from the block's
// first byte: the reader, the writer and the stub check take them from here.
enum {
    // Every block.
    kFieldHeaderCrc = 0,   // u16: the low 16 bits of the complemented CRC-32 ...
    kChecksumFrom = 2,     // ... of the header from this offset on
    kFieldBlockType = 2,   // u8
    kFieldBlockFlags = 3,  // u16
    kFieldHeaderSize = 5,  // u16
    // Main header (kMainHeaderSize bytes).
    kMainFieldReserved16 = 7,  // u16
    kMainFieldReserved32 = 9,  // u32
    // File header (kFileHeaderSize fixed bytes, then the name).
    kFileFieldPackedSize = kAddSizeOffset,  // u32: the add-size
    kFileFieldUnpackedSize = 11,            // u32
    kFileFieldHostSystem = 15,              // u8
    kFileFieldDataCrc = 16,                 // u32
    kFileFieldDosDateTime = 20,             // u32: MS-DOS date (high half) and time
    kFileFieldVersionNeeded = 24,           // u8
    kFileFieldMethodCode = 25,              // u8
    kFileFieldNameLength = 26,              // u16
    kFileFieldAttributes = 28,              // u32
    kFileFieldName = kFileHeaderSize,       // NameLength bytes
    // Closing block (kClosingHeaderSize bytes, no add-size).
    kClosingFieldEntries = 7,      // u32: file and directory entries
    kClosingFieldLength = 11,      // u32: bytes from the marker to the end of this block
    kClosingFieldArchiveCrc = 15,  // u32: complemented CRC-32 of the bytes from the marker to this block
    kClosingFieldCodePage = 19,    // u16: the code page of the stored names (0: not told)
    kClosingHeaderSize = 21
};

// Reserved32 of a sealed archive's main header ("QVE1"); taken only where
// kMainFlagAuthenticity is clear.
inline constexpr uint32_t kSealedArchiveTag = 0x31455651u;

// The block types the format defines. In an archive with the marker any
// other type is damage, not a block to step over; only a sealed archive
// adds its closing block (kBlockClosing) to them.
inline bool IsKnownBlockType(uint32_t type) { return type >= kBlockMarker && type <= kBlockRecovery; }

// Attribute bits of entries made on MS-DOS, OS/2 and Win32.
enum {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20
};

// HostSystem: the system an entry was made on. Above kHostWin32 the stored
// attributes are not MS-DOS bits and are replaced.
enum {
    kHostMsDos = 0,
    kHostOs2 = 1,
    kHostWin32 = 2,
    kHostUnix = 3
};

// VersionNeeded is 10 x major + minor; the decoder reads these.
enum {
    kMinVersionNeeded = 13,
    kMaxVersionNeeded = 20,
    kMethodStore = '0',  // MethodCode '0'..'5'; the decoder does not consult it
    kMethodBest = '5'
};

// The 13 fixed bytes of the main header (type 0x73), decoded.
struct MainBlockHeader {
    uint16_t HeaderCrc;
    uint8_t BlockType;
    uint16_t BlockFlags;
    uint16_t HeaderSize;
    uint16_t Reserved16;
    uint32_t Reserved32;
};

// A file header (type 0x74) as decoded. The fixed fields come first and are
// saved and restored as one unit by the block walk (everything before Name);
// Name holds the stored name, NUL-terminated, at most kMaxStoredName
// characters, with '/' already turned into '\'.
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
    char Name[kMaxStoredName + 1];
};

// --- Packed data -------------------------------------------------------

enum {
    kWindowSize = 0x100000,  // the sliding window, addressed by AND kWindowMask
    kWindowMask = kWindowSize - 1,
    kMaxCodeBits = 15,       // longest Huffman code

    // Alphabets. A table set of the LZ kind holds the literal, distance and
    // repeat code lengths in this order; an audio set 257 per channel.
    kPreCodeSymbols = 19,
    kLiteralSymbols = 298,
    kDistanceSymbols = 48,
    kRepeatSymbols = 28,
    kLzTableSetSize = kLiteralSymbols + kDistanceSymbols + kRepeatSymbols,
    kAudioSymbols = 257,
    kMaxAudioChannels = 4,
    kMaxCodeLengths = kMaxAudioChannels * kAudioSymbols,

    // Table-set header: two flag bits, then (audio only) the channel count - 1
    // in two bits, then 19 pre-code lengths of 4 bits each.
    kTableFlagAudio = 0x8000,  // of the 16 bits peeked at the set's start
    kTableFlagKeep = 0x4000,   // lengths are deltas against the set before
    kPreCodeLengthBits = 4,
    // Pre-code symbols: 0..15 add to the previous length (mod 16); 16 repeats
    // the length before, 17 and 18 write zeros, each for a run whose length is
    // its base plus a number of the given extra bits.
    kPreCodeRepeat = 16,
    kPreCodeZeros = 17,
    kPreCodeLongZeros = 18,
    kRepeatRunBase = 3,
    kRepeatRunBits = 2,
    kZerosRunBase = 3,
    kZerosRunBits = 3,
    kLongZerosRunBase = 11,
    kLongZerosRunBits = 7,

    // Symbols of the literal table.
    kSymbolRepeatLast = 256,    // the last match again
    kSymbolFirstRecent = 257,   // 257..260: a recent distance, length from the repeat table
    kSymbolFirstShort = 261,    // 261..268: length 2, distance 1..256
    kSymbolSwitchTables = 269,  // a table set follows
    kSymbolFirstMatch = 270,    // 270..297: length slot, then a distance symbol
    kRecentDistances = 4,
    kShortSymbols = kSymbolSwitchTables - kSymbolFirstShort,
    kLengthSlots = kLiteralSymbols - kSymbolFirstMatch,
    kAudioSwitchSymbol = 256,  // of an audio table: a table set follows

    // Minimum lengths and the lengths added for far distances.
    kMatchMinLength = 3,         // symbols 270..297
    kRecentMinLength = 2,        // symbols 257..260
    kShortLength = 2,            // symbols 261..268
    kRecentBonusDistance = 0x101,  // 257..260 only
    kFarBonusDistance = 0x2000,
    kFarthestBonusDistance = 0x40000,
    kMaxMatchLength = 224 + 31 + kMatchMinLength + 2  // the longest slot with both bonuses: 260
};

// Match lengths, indexed by length slot (symbol - 270, or the repeat-table
// symbol for 257..260): base plus a number of extra bits.
inline constexpr uint8_t LengthBase[kLengthSlots] = {0,  1,  2,  3,  4,  5,  6,  7,   8,   10,
                                                     12, 14, 16, 20, 24, 28, 32, 40,  48,  56,
                                                     64, 80, 96, 112, 128, 160, 192, 224};
inline constexpr uint8_t LengthExtraBits[kLengthSlots] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                                          1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                                          4, 4, 4, 4, 5, 5, 5, 5};

// Distances, indexed by distance-table symbol: base + 1 plus extra bits.
inline constexpr uint32_t DistanceBase[kDistanceSymbols] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
inline constexpr uint8_t DistanceExtraBits[kDistanceSymbols] = {
    0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,  5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
    11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};

// Short matches, indexed by symbol - 261: distance base + 1 plus extra bits.
inline constexpr uint8_t ShortDistanceBase[kShortSymbols] = {0, 4, 8, 16, 32, 64, 128, 192};
inline constexpr uint8_t ShortDistanceExtraBits[kShortSymbols] = {2, 2, 3, 4, 5, 6, 6, 6};

static_assert(LengthBase[kLengthSlots - 1] + (1 << LengthExtraBits[kLengthSlots - 1]) - 1 + kMatchMinLength + 2 ==
                  kMaxMatchLength,
              "the longest match");
static_assert(DistanceBase[kDistanceSymbols - 1] + (1u << DistanceExtraBits[kDistanceSymbols - 1]) == kWindowSize,
              "the farthest distance is the whole window");

// Length added to a match of symbols 270..297 at this distance. Each
// comparison is the borrow of a subtraction (distances are below 2^31): the
// decoder computes it for every match, and as a branch on whether the
// distance is near or far it went the wrong way for one match in a few.
inline uint32_t MatchLengthBonus(uint32_t distance) {
    return ((kFarBonusDistance - 1 - distance) >> 31) + ((kFarthestBonusDistance - 1 - distance) >> 31);
}
// Length added to a match of symbols 257..260 at this recent distance.
inline uint32_t RecentLengthBonus(uint32_t distance) {
    return (distance >= kRecentBonusDistance ? 1u : 0u) + MatchLengthBonus(distance);
}

#endif  // RC_INVOKED

#endif
