// The archive writer: marker, main header and one solid file block per
// source file, packed by the compressor; and the checker that decodes a
// written archive again with the installer's own reader and decoder.
#ifndef QUORVANEL_PACK_ARCHIVEWRITER_H
#define QUORVANEL_PACK_ARCHIVEWRITER_H

#include <stdint.h>
#include <stdio.h>
#include <time.h>

#include "base/format.h"
#include "install/charset.h"

#include <string>
#include <vector>

enum {
    kMaxEntrySize = 0x7FFFFFFF,    // the decoder counts sizes in signed 32 bits
    kMaxTotalInput = 0xF0000000u,  // the compressor counts positions in 32 bits
    kMaxArchiveSize = 0x7FFFFFF0   // block positions are signed 32-bit offsets
};

// Why packing failed: the input could not be used (a file that cannot be
// read, changes or is too large), or the output could not be written.
enum PackFailure {
    kPackFailedInput,
    kPackFailedOutput
};

struct PackSource {
    std::string Path;  // where the file is read from
    std::string Name;  // stored name: relative, '\' between directories, in the code page
    uint64_t Size = 0;
    uint32_t DosDateTime = 0;
    uint32_t Attributes = kAttrArchive;
    uint32_t DataCrc = 0;  // filled in while packing
    // The file's modification and change times as listed: a file whose
    // size or either time (to the nanosecond) differs after it was read
    // changed while it was read, and is refused.
    struct timespec Modified = {0, 0};
    struct timespec Changed = {0, 0};
};

// Records the size and times of the file at s->Path as they are now, for a
// source not listed by CollectSources. False with a message.
bool RecordSourceState(PackSource* s, std::string* error);

// MS-DOS date (high 16 bits) and time (low 16 bits) of a Unix time, in local
// time or UTC; clamped to 1980-01-01 .. 2107-12-31.
uint32_t DosDateTimeOf(int64_t unixTime, bool utc);

// The main header every archive of ours starts with (behind the marker):
// solid, sealed, nothing beyond its kMainHeaderSize fixed bytes, checksum
// stamped.
void ComposeMainHeader(uint8_t* header);
// The closing block of a sealed archive (kClosingHeaderSize bytes): the
// number of entries, the archive's length with this block, the CRC-32
// register (not complemented) over every byte before it, the code page.
void ComposeClosingBlock(uint8_t* block, uint32_t entries, uint32_t length, uint32_t crcRegister,
                         uint16_t codePage);

// How CollectSources stores names, and where it tells what the installer
// will not deliver as it stands.
struct CollectOptions {
    uint32_t CodePage = kDefaultCodePage;          // of the stored names (install/charset.h)
    std::vector<std::string>* Warnings = nullptr;  // when given: empty directories, paths too long, old times
    // When given: every problem found, in the order found (the walk goes on
    // past each one); the message CollectSources returns is the first.
    std::vector<std::string>* Problems = nullptr;
    // A file never packed, whatever path reaches it (the output of an
    // earlier run inside the directory): left out with a warning.
    bool LeaveOut = false;
    uint64_t LeaveOutDevice = 0, LeaveOutInode = 0;
};

// The regular files under dir, byte-wise sorted by stored name, or the files
// a list names (one path relative to dir per line, '/' or '\', blank lines
// and lines starting with '#' ignored), in the list's order. Names are taken
// in the locale's character set and stored in the options' code page; a
// name Windows could not create as named, or that the code page cannot
// hold, is refused (pack/names.h). Symbolic links are followed (what a link
// names is packed under the link's name); a link that leads back to a
// directory it lies in is refused. An empty directory is not delivered (the
// installer makes directories only for the files in them) and is named in
// a warning. With clampTime >= 0 (SOURCE_DATE_EPOCH), later modification
// times are clamped to it and times are stored in UTC so the result does
// not depend on the time zone; times before 1980 are stored as 1980-01-01
// and counted in one warning. The whole input is checked before anything
// is packed: names, case clashes, loops, special files, dangling links,
// files that cannot be opened, the 2 GB a file and the 3.75 GB in all.
// False with the first problem's message when there is any.
bool CollectSources(const std::string& dir, const std::string& listFile, int64_t clampTime,
                    std::vector<PackSource>* sources, std::string* error,
                    const CollectOptions& options = CollectOptions());

typedef void (*PackProgressFn)(void* user, uint64_t done, uint64_t total);

struct ArchiveSummary {
    uint64_t UnpackedBytes = 0;
    uint64_t ArchiveBytes = 0;  // marker, headers and packed data
};

// Writes the archive for sources (their DataCrc is filled in) to out at its
// current position. False with a message on a problem, and in *failure
// (when given) its kind.
// The archive is sealed: its closing block records codePage, the code page
// of the stored names (0: not told). threads parse at once; the archive is
// the same for any number.
bool WriteArchive(FILE* out, std::vector<PackSource>* sources, int level, PackProgressFn progress, void* user,
                  ArchiveSummary* summary, std::string* error, PackFailure* failure = nullptr,
                  uint32_t codePage = 0, uint32_t threads = 1);

// Walks the archive in the file at path as the installer does and decodes
// every entry, checking names, sizes and checksums against sources and every
// decoded byte against the file it was packed from, read again. False with
// the first problem found (a difference with its file and offset).
bool VerifyArchiveFile(const std::string& path, const std::vector<PackSource>& sources, PackProgressFn progress,
                       void* user, std::string* error);

#endif
