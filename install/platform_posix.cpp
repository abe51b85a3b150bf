// POSIX implementation of the platform operations. Paths arrive with '\'
// as separator and are turned into '/' here, at the system boundary.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "install/platform.h"

namespace {

enum { kNativePathSize = 4096 };

const char* ToNative(const char* path, char* out) {
    size_t i = 0;
    for (; path[i] && i < kNativePathSize - 1; i++) out[i] = path[i] == '\\' ? '/' : path[i];
    out[i] = '\0';
    return out;
}

}  // namespace

int PlatformCreateDirectory(const char* path) {
    char native[kNativePathSize];
    if (mkdir(ToNative(path, native), 0777) == 0) return kCreateDirOk;
    return errno == ENOENT ? kCreateDirParentMissing : kCreateDirFailed;
}

bool PlatformIsLegacyFamily(void) { return false; }

static int RemoveFileOnly(const char* path) {
    char native[kNativePathSize];
    struct stat st;
    ToNative(path, native);
    if (lstat(native, &st) != 0 || S_ISDIR(st.st_mode)) return -1;
    return unlink(native) == 0 ? 0 : -1;
}

int PlatformDeleteFile(const char* path) { return RemoveFileOnly(path); }

int PlatformShellDeleteFile(void*, const char* path) { return RemoveFileOnly(path); }

int PlatformAccessExists(const char* path) {
    char native[kNativePathSize];
    return access(ToNative(path, native), F_OK) == 0 ? 0 : -1;
}

int PlatformClearReadOnly(const char* path) {
    char native[kNativePathSize];
    struct stat st;
    ToNative(path, native);
    if (stat(native, &st) != 0) return -1;
    return chmod(native, (st.st_mode & 07777) | S_IWUSR) == 0 ? 0 : -1;
}

FILE* PlatformOpenShared(const char* path, const char* mode, int) {
    char native[kNativePathSize];
    return fopen(ToNative(path, native), mode);
}

FILE* PlatformOpen(const char* path, const char* mode) {
    char native[kNativePathSize];
    return fopen(ToNative(path, native), mode);
}

int PlatformSetFileTime(const char* path, uint32_t dosDateTime) {
    char native[kNativePathSize];
    uint32_t date = dosDateTime >> 16, time = dosDateTime & 0xFFFF;
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = static_cast<int>((date >> 9) & 0x7F) + 80;
    tm.tm_mon = static_cast<int>((date >> 5) & 0x0F) - 1;
    tm.tm_mday = static_cast<int>(date & 0x1F);
    tm.tm_hour = static_cast<int>((time >> 11) & 0x1F);
    tm.tm_min = static_cast<int>((time >> 5) & 0x3F);
    tm.tm_sec = static_cast<int>((time & 0x1F) * 2);
    tm.tm_isdst = -1;  // the stored time is local wall-clock time
    time_t when = mktime(&tm);
    if (when == static_cast<time_t>(-1)) return -1;
    struct timespec times[2];
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // last access stays as it was
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return utimensat(AT_FDCWD, ToNative(path, native), times, 0) == 0 ? 0 : -1;
}

int PlatformSetAttributes(const char* path, uint32_t attributes) {
    char native[kNativePathSize];
    struct stat st;
    ToNative(path, native);
    if (stat(native, &st) != 0) return -1;
    mode_t mode = st.st_mode & 07777;
    if (attributes & 0x01)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    return chmod(native, mode) == 0 ? 0 : -1;
}

int PlatformReplaceFile(const char* from, const char* to) {
    char nativeFrom[kNativePathSize], nativeTo[kNativePathSize];
    struct stat st;
    ToNative(to, nativeTo);
    if (lstat(nativeTo, &st) == 0 && S_ISDIR(st.st_mode)) return -1;
    return rename(ToNative(from, nativeFrom), nativeTo) == 0 ? 0 : -1;
}

void PlatformShowStatusDefault(void*, const char*) {}

void PlatformShowErrorDefault(void*, const char* text, const char* caption) {
    fprintf(stderr, "%s: %s\n", caption, text);
}
