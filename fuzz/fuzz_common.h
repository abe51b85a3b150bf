// Helpers the fuzz targets share: a scratch directory, silent message
// hooks, and a bound on how much an input may ask the decoder to produce.
#ifndef QUORVANEL_FUZZ_FUZZ_COMMON_H
#define QUORVANEL_FUZZ_FUZZ_COMMON_H

#include <ftw.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "install/fileops.h"
#include "install/platform.h"
#include "install/walk.h"

namespace qvfuzz {

// Inputs that would make the decoder produce more than this are passed
// over: the decoder runs until an entry's stated size is reached, and
// gigabytes of output would only make the fuzzer slow.
const int64_t kMaxTotalUnpacked = 4 << 20;

inline void SilentStatus(void*, const char*) {}
inline void SilentError(void*, const char*, const char*) {}

inline void InstallSilentHooks() {
    static const HostUiHooks hooks = {SilentStatus, SilentError};
    SetHostUiHooks(&hooks);
}

inline std::string MakeScratchDir() {
    char pattern[] = "/tmp/qvfuzz.XXXXXX";
    if (!mkdtemp(pattern)) {
        perror("mkdtemp");
        abort();
    }
    return pattern;
}

inline int RemoveOne(const char* path, const struct stat*, int, struct FTW*) {
    remove(path);
    return 0;
}

inline void RemoveTree(const std::string& path) {
    nftw(path.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

// Puts the input into the file at path, as the program under test reads it.
inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) abort();
    if (size && fwrite(data, 1, size, f) != size) abort();
    if (fclose(f) != 0) abort();
}

inline std::string CorePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// What a walk over the archive at corePath would hand the decoder, added up.
inline int64_t TotalUnpacked(const std::string& corePath) {
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) abort();
    ctx->ArchivePath = corePath.c_str();
    ArchiveWalk walk;
    int64_t total = 0;
    if (OpenArchiveWalk(&walk, ctx) == kWalkOpened) {
        WalkStep step;
        while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory) {
            if (step == kWalkDirectory) continue;
            int32_t size = static_cast<int32_t>(ctx->EntryHeader.UnpackedSize);
            if (size > 0) total += size;
        }
        CloseArchiveWalk(&walk);
    }
    FreeAndClear(&ctx);
    return total;
}

}  // namespace qvfuzz

#endif
