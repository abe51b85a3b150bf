// File and path operations shared by the whole installer. Paths are 8-bit
// strings with '\' as separator in buffers of kPathSize; streams and memory
// come from base/stream.h.
#ifndef QUORVANEL_INSTALL_FILEOPS_H
#define QUORVANEL_INSTALL_FILEOPS_H

#include <stddef.h>
#include <stdint.h>

#include "base/stream.h"

enum PathTreeResult {
    kPathCreated = 0,      // created, with any missing parents
    kPathNotCreated = 2,   // exists already, failed for another reason, or nothing left to create
    kPathParentsOnly = 3   // the parents were made but the directory itself then failed
};

enum FileExistence {
    kFileExists = 0,  // a file or a directory
    kFileMissing = 2
};

enum MakeWritableResult {
    kMadeWritable = 0,
    kNotMadeWritable = 2
};

// Share codes of OpenFileShared. Any other value is the system's own share
// flag of its shared-open call: 0x10 denies reading and writing, 0x20
// writing, 0x30 reading, 0x40 nothing; a value that is none of these opens
// nothing.
enum ShareCode {
    kShareDenyRead = 0,
    kShareDenyWrite = 1,
    kShareDenyNone = 2  // 3 denies nothing as well
};

// Appends '\' unless the path is empty or already ends in '\'. A path of
// kPathSize - 1 characters has no room left and stays as it is.
void AddTrailingBackslash(char* path);
// Cuts the path at its last '\' (a drive root keeps its backslash).
char* CutLastComponent(char* path);
// Index just behind the last '\' or '/', 0 when there is none.
uint16_t LastSeparatorPos(const char* path);
PathTreeResult CreatePathTree(const char* path);
FileExistence CheckFileExists(const char* path);
// Clears the read-only attribute, keeping the others.
MakeWritableResult MakeWritable(const char* path);
// Deletes the file at path (never a directory); the outcome is not reported.
void DeleteExistingFile(void* owner, const char* path);
// Puts the finished file at from in the place of target, replacing what
// stands there unless it is a directory; true when it is in place. The
// Windows NT family moves it over the target in one step; the 95/98 family,
// whose kernel does not implement that move, deletes the target first
// (DeleteExistingFile) and then moves. A read-only target is replaced too.
bool MoveIntoPlace(const char* from, const char* target);

// True when the Windows 95/98 family's file calls are used: the platform's
// answer, unless a test has chosen (1 legacy, 0 NT, -1 back to the platform).
bool UsesLegacyFamily(void);
void SetLegacyFamilyForTests(int legacy);

FileStream* OpenFileShared(const char* path, const char* mode, int share);
// Plain open that denies nothing (the driver's output files).
FileStream* OpenFilePlain(const char* path, const char* mode);

#endif
