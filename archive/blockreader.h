// Finding the archive behind the installer image and walking its blocks.
#ifndef QUORVANEL_ARCHIVE_BLOCKREADER_H
#define QUORVANEL_ARCHIVE_BLOCKREADER_H

#include <stdint.h>

struct UnpackContext;
struct FileBlockHeader;

enum {
    kBlockMain = 0x73,
    kBlockFile = 0x74,
    kBlockSub = 0x77,
    kRequestSubBlocks = 0x8000,
    kScanBufferSize = 0x20000,
    kScanReadSize = 0x1FFF0
};

// Returns ArchiveKind: 0 none, 1 at offset 0, 2 a volume, 3 found by scan.
int LocateArchive(UnpackContext* ctx);
// kind 0x73 reads 13 bytes into ArchiveHeader, 0x74 reads 32 bytes into
// the fixed fields of EntryHeader; returns the bytes actually read.
int ParseBlockHeader(UnpackContext* ctx, int kind);
// Walks to the next block of the wanted type (low 8 bits of request),
// reporting sub-blocks when bit 0x8000 is set. 0 when there is none.
int SeekNextBlock(UnpackContext* ctx, int request);
void NormalizeFileHeader(FileBlockHeader* header);
void FixHostAttributes(FileBlockHeader* header);
int IsPathSeparator(int ch);

#endif
