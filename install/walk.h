// The one walk over an archive. Every reader of archives goes through it:
// the installer's driver, qvinstall, the packer's verification, the
// benchmark and the fuzz targets. It opens the installer file (or a bare
// archive), finds the archive, delivers the file entries one by one with the
// sub-block, directory and volume rules applied, decodes an entry into a
// sink, and closes.
#ifndef QUORVANEL_INSTALL_WALK_H
#define QUORVANEL_INSTALL_WALK_H

#include <stddef.h>
#include <stdint.h>

#include "base/context.h"
#include "base/stream.h"

// A zero-filled context with its CRC table built, freed with FreeAndClear;
// none when memory is short.
UnpackContext* CreateUnpackContext(void);

// Why an entry cannot be installed, whatever its data holds.
enum EntryRefusal {
    kEntryAccepted = 0,
    kEntryBadVersion,  // made by a version the decoder does not read
    kEntryBadMethod,   // its data is stored in a way the decoder does not have
    kEntryUnsafeName   // its name would leave the target directory, or names a device
};

// What a check of the whole archive found, before any entry was handed out.
struct ArchiveSurvey {
    uint32_t Entries;  // file and directory entries
    uint32_t Files;
    uint64_t Unpacked;
    // The longest path below the target that a file entry needs, its
    // temporary file ("~N" at least) included, and the longest directory
    // part of a stored name (with its trailing separator).
    uint32_t LongestPath;
    uint32_t LongestDirectory;
    char LongestName[kPathSize];  // the stored name that needs LongestPath
    uint8_t FirstHost;            // HostSystem of the first entry
    bool Sealed;                  // the archive proved itself whole
    uint16_t CodePage;            // of the stored names, as the closing block tells (0: not told)
    uint32_t Refused;             // EntryRefusal of the first entry that cannot be installed
    char RefusedName[kPathSize];  // its stored name
};

enum WalkStep {
    kWalkFile,            // EntryHeader describes a file entry to decode
    kWalkDirectory,       // a directory or volume-label entry: nothing to create or decode
    kWalkEnd,             // no further file entry
    kWalkContinuedEntry,  // the first entry continues a previous volume (EntryHeader describes it)
    kWalkMissingVolume,   // the last entry goes on in a next volume, which cannot be had
    // Damage, in an archive with the marker: a file header whose checksum
    // disagrees (EntryHeader describes it as read; nothing of it may be
    // trusted), or blocks that cannot be walked or a sealed archive that
    // does not prove itself whole (BlockStop tells why).
    kWalkDamagedEntry,
    kWalkDamagedArchive
};

struct ArchiveWalk {
    UnpackContext* Context;  // borrowed (owned when opened by OpenInstallerFile); ArchivePath names the file
    int32_t ArchiveStart;    // file offset of the marker (or the old signature)
    uint32_t SubBlocks;      // sub-blocks stepped over so far
    uint32_t Entries;        // file and directory entries delivered so far
    bool FirstEntry;         // no file entry delivered yet
    bool Delivered;          // an entry was delivered: the next step starts behind it
    bool OwnsContext;        // opened by OpenInstallerFile
    WalkStep Ending;         // after kWalkBroken: the step that ended the check
    ArchiveSurvey Survey;    // after a check-first open
};

enum WalkOpenResult {
    kWalkOpened,
    kWalkCannotOpen,  // the file cannot be opened for reading
    kWalkNoArchive,   // the file holds no archive
    kWalkNoWindow,    // the 1 MB window (or the context) cannot be had
    kWalkBroken       // the check found the archive damaged or incomplete: Ending and BlockStop tell how
};

// How much is checked before the first entry is handed out.
enum WalkCheck {
    kWalkAsItGoes = 0,  // each entry as it comes: what precedes damage has been handed out
    // Every header and, in a sealed archive, the closing block and the
    // CRC-32 of all the archive's bytes: seeks and one read, no decoding.
    // Survey tells what was found.
    kWalkCheckFirst = 1
};

// Opens ctx->ArchivePath as the archive stream (others may read it, not
// change it), finds the archive, takes the window and steps over the rest of
// the main header; with kWalkCheckFirst it checks the whole archive too. On
// any result but kWalkOpened nothing is left open.
WalkOpenResult OpenArchiveWalk(ArchiveWalk* walk, UnpackContext* ctx, WalkCheck check);
// The same with a context of its own, for the installer file at path: the
// one way a reader opens a file to walk it. CloseInstallerFile closes the
// walk and frees the context.
WalkOpenResult OpenInstallerFile(const char* path, ArchiveWalk* walk, WalkCheck check);
void CloseInstallerFile(ArchiveWalk* walk);
// Moves to the next file entry, past the one delivered before and its data.
// After a step other than kWalkFile and kWalkDirectory the walk is over.
WalkStep NextArchiveEntry(ArchiveWalk* walk);
// Frees the window and closes the stream.
void CloseArchiveWalk(ArchiveWalk* walk);

// Where an entry's unpacked bytes go. Every sink counts what it took.
struct EntrySink {
    FileStream* File;  // a file sink: the bytes are written to this stream, straight from the window
    uint8_t* Memory;   // a memory sink: up to Capacity bytes are kept here
    size_t Capacity;
    OutputFn Forward;  // a forwarding sink: the bytes are handed to this function
    void* ForwardUser;
    uint64_t Taken;    // bytes taken so far
};
// A stream with no I/O done on it yet; it becomes unbuffered, so that the
// bytes go to the file without being copied on the way.
EntrySink FileSink(FileStream* file);
EntrySink NullSink(void);  // checksummed, then dropped
EntrySink MemorySink(uint8_t* memory, size_t capacity);
// Hands every piece to fn(user, ...); fewer bytes taken count as a failed write.
EntrySink ForwardSink(OutputFn fn, void* user);

// File offset of the packed data of the entry just delivered: it ends where
// the block does. Counted in unsigned 32 bits, so that a hostile packed size
// names some offset and never overflows.
uint32_t EntryDataOffset(const UnpackContext* ctx);

// Decodes the entry just delivered into sink and returns true when its
// checksum agrees with the stored one. Without a sink the entry is decoded
// in skip mode: nothing is written or compared (false), but the window and
// tables advance as for a written entry, so a solid entry after it decodes
// right.
bool DecodeArchiveEntry(ArchiveWalk* walk, EntrySink* sink);

// Entry rules shared by every reader.
// Version needed within 13..20.
bool IsSupportedVersion(const FileBlockHeader* header);
// Data the decoder has: packed by a method '1'..'5' (what the format
// writes), or nothing at all. Stored data ('0') it does not have.
bool IsSupportedMethod(const UnpackContext* ctx, const FileBlockHeader* header);
// Whether an entry can be installed at all (a directory entry: its
// version only).
EntryRefusal CheckEntry(const UnpackContext* ctx, const FileBlockHeader* header);
// A directory or volume-label entry: nothing is created or decoded for it.
bool IsPassedOverEntry(const FileBlockHeader* header);
// True when a stored name is a plain relative path that stays inside the
// target directory: not empty, no leading separator, no drive or other ':',
// no empty, "." or ".." component (nor dots and spaces that Windows would
// read as one), no device name such as CON or LPT1 (with or without an
// extension) as any component. Separators are '\' (and '/').
bool IsSafeStoredName(const char* name);

#endif
