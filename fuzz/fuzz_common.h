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

#include "archive/blockreader.h"
#include "archive/checksum.h"
#include "install/context.h"
#include "install/entry.h"
#include "install/fileops.h"
#include "install/platform.h"

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

inline std::string CorePath(std::string path) {
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

// What the walk of an archive stream would hand the decoder, added up.
inline int64_t TotalUnpacked(UnpackContext* ctx) {
    int64_t total = 0;
    while (SeekNextBlock(ctx, kFileRequest) > 0) {
        if (ctx->LastBlockType == kBlockFile) {
            FixHostAttributes(&ctx->EntryHeader);
            int32_t size = static_cast<int32_t>(ctx->EntryHeader.UnpackedSize);
            if (!IsPassedOverEntry(&ctx->EntryHeader) && size > 0) total += size;
        }
        SeekFile(ctx->ArchiveFile, ctx->NextBlock, 0);
    }
    return total;
}

}  // namespace qvfuzz

#endif
