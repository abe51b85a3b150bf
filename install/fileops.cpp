#include "install/fileops.h"

#include <stdlib.h>
#include <string.h>

#include "install/context.h"
#include "install/platform.h"

void AddTrailingBackslash(char* path) {
    size_t n = strlen(path);
    if (n == 0 || path[n - 1] == '\\') return;
    if (n + 1 >= kPathSize) return;  // no room for another character
    path[n] = '\\';
    path[n + 1] = '\0';
}

char* CutLastComponent(char* path) {
    size_t cut = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\') cut = i;
    if (cut == 2) cut = 3;  // a drive root keeps its backslash
    path[cut] = '\0';
    return path;
}

uint16_t LastSeparatorPos(const char* path) {
    uint16_t pos = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/') pos = static_cast<uint16_t>(i + 1);
    return pos;
}

int CreatePathTree(const char* path) {
    int r = PlatformCreateDirectory(path);
    if (r == kCreateDirOk) return 0;
    if (r != kCreateDirParentMissing) return 2;
    char parent[kPathSize];
    strncpy(parent, path, kPathSize - 1);
    parent[kPathSize - 1] = '\0';
    size_t before = strlen(parent);
    CutLastComponent(parent);
    // An empty parent, or one the cut could not shorten (a drive root such as
    // C:\ on a drive that does not exist, or "/"), leaves nothing to create.
    if (parent[0] == '\0' || strlen(parent) >= before) return 2;
    r = CreatePathTree(parent);
    if (r != 0) return r;
    return PlatformCreateDirectory(path) == kCreateDirOk ? 0 : 3;
}

int CheckFileExists(const char* path) { return PlatformAccessExists(path) == 0 ? 0 : 2; }

int MakeWritable(const char* path) { return PlatformClearReadOnly(path) == 0 ? 0 : 2; }

void DeleteExistingFile(void* owner, const char* path) {
    MakeWritable(path);
    if (PlatformIsLegacyFamily())
        PlatformDeleteFile(path);
    else
        PlatformShellDeleteFile(owner, path);
}

FILE* OpenFileShared(const char* path, const char* mode, int share) {
    return PlatformOpenShared(path, mode, share);
}

FILE* OpenFilePlain(const char* path, const char* mode) { return PlatformOpen(path, mode); }

void CloseFile(FILE* stream) {
    if (stream) fclose(stream);
}

size_t ReadBytes(FILE* stream, void* buffer, size_t count) {
    return fread(buffer, 1, count, stream);
}

size_t WriteBytes(FILE* stream, const void* buffer, size_t count) {
    if (!stream) return 0;
    return fwrite(buffer, 1, count, stream);
}

int SeekFile(FILE* stream, int32_t offset, int origin) {
    return fseek(stream, offset, origin == 0 ? SEEK_SET : SEEK_CUR) == 0 ? 0 : -1;
}

int32_t TellFile(FILE* stream) { return static_cast<int32_t>(ftell(stream)); }

static int (*gAllocFailureHook)(size_t size) = NULL;

void SetAllocFailureHook(int (*shouldFail)(size_t size)) { gAllocFailureHook = shouldFail; }

void* AllocZeroed(size_t size) {
    if (gAllocFailureHook && gAllocFailureHook(size)) return NULL;
    return calloc(1, size);
}

void FreeAndClear(void* pointer) {
    void** p = static_cast<void**>(pointer);
    if (*p) free(*p);
    *p = NULL;
}
