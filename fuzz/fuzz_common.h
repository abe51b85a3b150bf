// Helpers the fuzz targets share beyond the host helpers of tools/host.h: a
// scratch directory, the input as a file, and a bound on how much an input
// may ask the decoder to produce.
#ifndef QUORVANEL_FUZZ_FUZZ_COMMON_H
#define QUORVANEL_FUZZ_FUZZ_COMMON_H

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

#include "install/fileops.h"
#include "install/platform.h"
#include "install/walk.h"
#include "tools/host.h"

namespace qvfuzz {

// Inputs that would make the decoder produce more than this are passed
// over: the decoder runs until an entry's stated size is reached, and
// gigabytes of output would only make the fuzzer slow.
const int64_t kMaxTotalUnpacked = 4 << 20;

using ::CorePath;
using ::InstallSilentHooks;
using ::RemoveTree;

inline std::string MakeScratchDir() {
    std::string dir = ::MakeScratchDir("qvfuzz");
    if (dir.empty()) {
        perror("mkdtemp");
        abort();
    }
    return dir;
}

// Puts the input into the file at path, as the program under test reads it.
inline void WriteInput(const std::string& path, const uint8_t* data, size_t size) {
    if (!WriteWholeFile(path, data, size)) abort();
}

// What a walk over the archive at corePath would hand the decoder, added up.
inline int64_t TotalUnpacked(const std::string& corePath) {
    ArchiveWalk walk;
    int64_t total = 0;
    if (OpenInstallerFile(corePath.c_str(), &walk, kWalkAsItGoes) == kWalkOpened) {
        WalkStep step;
        while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory) {
            if (step == kWalkDirectory) continue;
            int32_t size = static_cast<int32_t>(walk.Context->EntryHeader.UnpackedSize);
            if (size > 0) total += size;
        }
        CloseInstallerFile(&walk);
    }
    return total;
}

}  // namespace qvfuzz

#endif
