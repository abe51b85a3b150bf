// POSIX implementation of the platform operations. Paths arrive with '\'
// as separator and are turned into '/' here, at the system boundary.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "base/dostime.h"
#include "install/charset.h"
#include "install/platform.h"
#include "install/platform_posix.h"

namespace {

enum { kNativePathSize = 4096 };

// Names below this root (a core path, '\' at its end) are converted from
// the code page to the locale's character set; none when empty.
char gConvertedRoot[kNativePathSize];
uint32_t gStoredCodePage = kDefaultCodePage;

// The native form of a core path: '/' for '\', and the part below the
// converted root in the locale's character set. Returns out, or none when
// the path does not fit or a name does not convert (the operation then
// fails, as it does for a name the system refuses).
const char* ToNative(const char* path, char* out) {
    size_t root = strlen(gConvertedRoot), length = strlen(path);
    if (length >= kNativePathSize) return NULL;
    if (root == 0 || strncmp(path, gConvertedRoot, root) != 0) {
        memcpy(out, path, length + 1);
    } else {
        memcpy(out, path, root);
        size_t converted;
        if (ConvertCharset(gStoredCodePage, kCharsetLocale, path + root, length - root, out + root,
                           kNativePathSize - root, &converted, NULL) != kCharsetDone)
            return NULL;
    }
    for (char* p = out; *p; p++)
        if (*p == '\\') *p = '/';
    return out;
}

}  // namespace

void PlatformConvertNamesBelow(const char* root, uint32_t codePage) {
    gConvertedRoot[0] = '\0';
    gStoredCodePage = codePage;
    if (root && strlen(root) < kNativePathSize) memcpy(gConvertedRoot, root, strlen(root) + 1);
}

CreateDirResult PlatformCreateDirectory(const char* path) {
    char native[kNativePathSize];
    if (!ToNative(path, native)) return kCreateDirFailed;
    if (mkdir(native, 0777) == 0) return kCreateDirOk;
    return errno == ENOENT ? kCreateDirParentMissing : kCreateDirFailed;
}

bool PlatformIsLegacyFamily(void) { return false; }

bool PlatformBackslashSeparates(void) { return false; }

static PlatformResult RemoveFileOnly(const char* path) {
    char native[kNativePathSize];
    struct stat st;
    if (!ToNative(path, native) || lstat(native, &st) != 0 || S_ISDIR(st.st_mode)) return kPlatformFailed;
    return unlink(native) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformDeleteFile(const char* path) { return RemoveFileOnly(path); }

PlatformResult PlatformShellDeleteFile(void*, const char* path) { return RemoveFileOnly(path); }

// POSIX lets anyone unlink an open file: a temporary file in use carries
// an advisory lock, and only one whose lock can be had is stale.
PlatformResult PlatformHoldTemporary(FileStream* stream) {
    FILE* file = static_cast<FILE*>(StreamSystemHandle(stream));
    return file && flock(fileno(file), LOCK_EX | LOCK_NB) == 0 ? kPlatformDone : kPlatformFailed;
}

namespace {

// The stops that delete the temporary file.
const int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary file a signal deletes, in its native form; read by the
// handler only while gTemporaryNoted is set.
char gNotedTemporary[kNativePathSize];
volatile sig_atomic_t gTemporaryNoted = 0;

void RemoveTemporaryAndStop(int signalNumber) {
    if (gTemporaryNoted) unlink(gNotedTemporary);
    signal(signalNumber, SIG_DFL);
    raise(signalNumber);
}

}  // namespace

void PlatformNoteTemporary(const char* path) {
    gTemporaryNoted = 0;
    if (path && ToNative(path, gNotedTemporary)) gTemporaryNoted = 1;
}

FileStream* PlatformCreateTemporary(const char* path) {
    sigset_t stops, before;
    sigemptyset(&stops);
    for (int s : kStopSignals) sigaddset(&stops, s);
    sigprocmask(SIG_BLOCK, &stops, &before);
    FileStream* file = PlatformOpenStream(path, "w+bx", kStreamShareAll);
    if (file) {
        PlatformHoldTemporary(file);
        PlatformNoteTemporary(path);
    }
    int saved = errno;  // the open's reason, for PlatformLastError
    sigprocmask(SIG_SETMASK, &before, NULL);
    errno = saved;
    return file;
}

void PlatformRemoveTemporaryOnSignals(void) {
    for (int s : kStopSignals) {
        struct sigaction action;
        // A signal ignored from the start (a job in the background) stays so.
        if (sigaction(s, NULL, &action) == 0 && action.sa_handler == SIG_IGN) continue;
        memset(&action, 0, sizeof action);
        action.sa_handler = RemoveTemporaryAndStop;
        sigemptyset(&action.sa_mask);
        for (int other : kStopSignals) sigaddset(&action.sa_mask, other);
        sigaction(s, &action, NULL);
    }
}

PlatformResult PlatformDeleteStaleTemporary(const char* path) {
    char native[kNativePathSize];
    if (!ToNative(path, native)) return kPlatformFailed;
    int fd = open(native, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return kPlatformFailed;
    struct stat st;
    bool stale = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0;
    bool deleted = stale && unlink(native) == 0;
    close(fd);
    return deleted ? kPlatformDone : kPlatformFailed;
}

uint32_t PlatformLastError(void) { return static_cast<uint32_t>(errno); }

// A directory is 0x10; a file without write permission for its owner is
// read-only (0x01).
PlatformResult PlatformGetAttributes(const char* path, uint32_t* attributes) {
    char native[kNativePathSize];
    struct stat st;
    if (!ToNative(path, native) || stat(native, &st) != 0) return kPlatformFailed;
    *attributes = S_ISDIR(st.st_mode) ? 0x10u : (st.st_mode & S_IWUSR) ? 0u : 0x01u;
    return kPlatformDone;
}

PlatformResult PlatformClearReadOnly(const char* path) {
    char native[kNativePathSize];
    struct stat st;
    if (!ToNative(path, native) || stat(native, &st) != 0) return kPlatformFailed;
    if (st.st_mode & S_IWUSR) return kPlatformDone;
    return chmod(native, (st.st_mode & 07777) | S_IWUSR) == 0 ? kPlatformDone : kPlatformFailed;
}

FileStream* PlatformOpenStream(const char* path, const char* mode, StreamShare share) {
    char native[kNativePathSize];
    return ToNative(path, native) ? OpenStream(native, mode, share) : NULL;
}

namespace {

// The last-write time of an MS-DOS date and time taken as local time, with
// the last-access time left alone; false when it names no time.
bool DosWriteTimes(uint32_t dosDateTime, struct timespec times[2]) {
    DosTimeFields f = UnpackDosDateTime(dosDateTime);
    struct tm tm;
    memset(&tm, 0, sizeof tm);
    tm.tm_year = static_cast<int>(f.Year) - 1900;
    tm.tm_mon = static_cast<int>(f.Month) - 1;
    tm.tm_mday = static_cast<int>(f.Day);
    tm.tm_hour = static_cast<int>(f.Hour);
    tm.tm_min = static_cast<int>(f.Minute);
    tm.tm_sec = static_cast<int>(f.Second);
    tm.tm_isdst = -1;  // the stored time is local wall-clock time
    time_t when = mktime(&tm);
    if (when == static_cast<time_t>(-1)) return false;
    times[0].tv_sec = 0;
    times[0].tv_nsec = UTIME_OMIT;  // last access stays as it was
    times[1].tv_sec = when;
    times[1].tv_nsec = 0;
    return true;
}

}  // namespace

PlatformResult PlatformSetFileTime(const char* path, uint32_t dosDateTime) {
    char native[kNativePathSize];
    struct timespec times[2];
    if (!DosWriteTimes(dosDateTime, times)) return kPlatformFailed;
    if (!ToNative(path, native)) return kPlatformFailed;
    return utimensat(AT_FDCWD, native, times, 0) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformSetStreamTime(FileStream* stream, uint32_t dosDateTime) {
    struct timespec times[2];
    if (!DosWriteTimes(dosDateTime, times)) return kPlatformFailed;
    FILE* file = static_cast<FILE*>(StreamSystemHandle(stream));
    return futimens(fileno(file), times) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformSetAttributes(const char* path, uint32_t attributes) {
    char native[kNativePathSize];
    struct stat st;
    if (!ToNative(path, native) || stat(native, &st) != 0) return kPlatformFailed;
    mode_t mode = st.st_mode & 07777;
    if (attributes & 0x01)
        mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
    else
        mode |= S_IWUSR;
    return chmod(native, mode) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformMoveReplacing(const char* from, const char* to) {
    char nativeFrom[kNativePathSize], nativeTo[kNativePathSize];
    struct stat st;
    if (!ToNative(to, nativeTo) || !ToNative(from, nativeFrom)) return kPlatformFailed;
    if (lstat(nativeTo, &st) == 0 && S_ISDIR(st.st_mode)) return kPlatformFailed;
    return rename(nativeFrom, nativeTo) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformMoveFile(const char* from, const char* to) {
    char nativeFrom[kNativePathSize], nativeTo[kNativePathSize];
    struct stat st;
    if (!ToNative(to, nativeTo) || !ToNative(from, nativeFrom)) return kPlatformFailed;
    if (lstat(nativeTo, &st) == 0) return kPlatformFailed;  // something stands there
    return rename(nativeFrom, nativeTo) == 0 ? kPlatformDone : kPlatformFailed;
}

void PlatformShowStatusDefault(void*, const char*) {}

void PlatformDiscardKeystrokes(void) {}

void PlatformShowErrorDefault(void*, const char* text, const char* caption) {
    fprintf(stderr, "%s: %s\n", caption, text);
}
