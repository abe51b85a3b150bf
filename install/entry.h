// Steps of handling one archive entry that the extraction driver, the
// command-line tool and the fuzz targets share: opening the walk, judging
// an entry, setting up the decoder for it and checking its checksum.
#ifndef QUORVANEL_INSTALL_ENTRY_H
#define QUORVANEL_INSTALL_ENTRY_H

#include <stdint.h>
#include <stdio.h>

struct UnpackContext;
struct FileBlockHeader;

enum {
    kMinVersionNeeded = 13,
    kMaxVersionNeeded = 20,
    kFileRequest = 0x8074,  // file blocks, with sub-blocks reported
    kAttrReadOnly = 0x01,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kFlagContinuedFromPrevious = 0x01,
    kFlagContinuedInNext = 0x02,
    kFlagSolid = 0x10
};

// Opens ArchivePath as the archive stream, finds the archive and steps over
// the rest of its main header, so that SeekNextBlock delivers the first
// block. Returns 1 when the walk can begin; 0 when the file cannot be opened
// or holds no archive (the stream is then closed again).
int BeginArchiveWalk(UnpackContext* ctx);

// Version needed within 13..20.
int IsSupportedVersion(const FileBlockHeader* header);
// A directory or volume-label entry: nothing is created or decoded for it.
int IsPassedOverEntry(const FileBlockHeader* header);

// 1 when a stored name is a plain relative path that stays inside the
// target directory: not empty, no leading separator, no drive or other ':',
// no empty, "." or ".." component (nor dots and spaces that Windows would
// read as one), no device name such as CON or LPT1 (with or without an
// extension) as any component. Separators are '\' (and '/').
int IsSafeStoredName(const char* name);

// Sets the per-entry decoder contract for the current EntryHeader: packed
// and unpacked sizes, input stream, output stream (may be none), skip mode
// and the starting value of the checksum for ArchiveFormat.
void PrepareEntryDecoding(UnpackContext* ctx, FILE* output, int skip);
// After DecompressFile: 1 when DataChecksum agrees with the stored DataCrc
// under the archive's checksum convention.
int EntryChecksumMatches(const UnpackContext* ctx);

#endif
