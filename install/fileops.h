// File, path, stream and memory operations shared by the whole installer.
// Paths are 8-bit strings with '\' as separator in buffers of kPathSize.
#ifndef QUORVANEL_INSTALL_FILEOPS_H
#define QUORVANEL_INSTALL_FILEOPS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

// Appends '\' unless the path is empty or already ends in '\'. A path of
// kPathSize - 1 characters has no room left and stays as it is.
void AddTrailingBackslash(char* path);
// Cuts the path at its last '\' (a drive root keeps its backslash).
char* CutLastComponent(char* path);
// Index just behind the last '\' or '/', 0 when there is none.
uint16_t LastSeparatorPos(const char* path);
// 0 created (with missing parents); 2 not created (exists, failed for
// another reason, or nothing left to create); 3 parents made but the
// directory itself then failed.
int CreatePathTree(const char* path);
// 0 when the path exists (file or directory), 2 when it does not.
int CheckFileExists(const char* path);
// Clears the read-only attribute: 0 on success, 2 on failure.
int MakeWritable(const char* path);
// Deletes the file at path (never a directory); the outcome is not reported.
void DeleteExistingFile(void* owner, const char* path);

// Share code: 0 deny reading, 1 deny writing, 2 and 3 deny nothing.
FILE* OpenFileShared(const char* path, const char* mode, int share);
// Plain open that denies nothing (the driver's output files).
FILE* OpenFilePlain(const char* path, const char* mode);
void CloseFile(FILE* stream);
size_t ReadBytes(FILE* stream, void* buffer, size_t count);
size_t WriteBytes(FILE* stream, const void* buffer, size_t count);
// origin 0 from the start, 1 from the current position; 0 or -1.
int SeekFile(FILE* stream, int32_t offset, int origin);
int32_t TellFile(FILE* stream);

void* AllocZeroed(size_t size);
// Tests make allocations fail on purpose: while a hook is set, AllocZeroed
// returns none whenever the hook answers non-zero for the size asked.
void SetAllocFailureHook(int (*shouldFail)(size_t size));
// Frees the block *pointer points to, if any, and clears the pointer.
void FreeAndClear(void* pointer);

#endif
