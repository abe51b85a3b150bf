// Finding the archive behind the installer image and walking its blocks.
// Readers do not call these themselves: they go through the archive walk
// (install/walk.h), which applies the volume and entry rules once.
#ifndef QUORVANEL_ARCHIVE_BLOCKREADER_H
#define QUORVANEL_ARCHIVE_BLOCKREADER_H

#include <stddef.h>
#include <stdint.h>

#include "base/context.h"

// SeekNextBlock's request: the wanted block type in the low 8 bits (0: any
// block), and this bit to have sub-blocks reported as well.
enum {
    kRequestSubBlocks = 0x8000,
    kFileRequest = kRequestSubBlocks | kBlockFile
};

// With ArchiveFile at offset 0: finds where the archive's bytes end
// (ArchiveEnd), finds the archive and reads the first 13 bytes of its main
// header. Sets ArchiveKind, ArchiveFormat, ArchiveHeader and
// ArchiveHeaderRead and returns the kind (kArchiveNone when none). A marker
// whose main header's checksum disagrees is no archive.
ArchiveKindCode LocateArchive(UnpackContext* ctx);
// Looks through the n bytes scanned from file offset start, from buffer
// index from on, for the first signature the installer takes: the old one
// (only when "RSFX" stands at offset 28 among them) or the marker followed
// by a main header's type byte. buffer holds kScanBufferSize bytes, zero
// beyond the n read. Returns the buffer index of the hit and sets *format,
// or returns -1.
int32_t FindArchiveSignature(const uint8_t* buffer, size_t n, int32_t start, size_t from, ArchiveFormatCode* format);
// kBlockMain reads 13 bytes into ArchiveHeader, kBlockFile 32 bytes into the
// fixed fields of EntryHeader; returns the bytes actually read.
int ParseBlockHeader(UnpackContext* ctx, int kind);
// Walks to the next block of the wanted type. Returns a positive count when
// it stopped on one (or on a reported sub-block), 0 when there is none;
// BlockStop then tells why. A file block's EntryHeaderIntact tells whether
// its header checksum agrees.
int SeekNextBlock(UnpackContext* ctx, int request);
void NormalizeFileHeader(FileBlockHeader* header);
void FixHostAttributes(FileBlockHeader* header);
bool IsPathSeparator(int ch);

#endif
