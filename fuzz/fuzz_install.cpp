// The whole install path on arbitrary bytes as the installer file: locate,
// walk, decide, decode, verify and replace, into a scratch target
// directory. Nothing may appear beside the target directory.
#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>

#include "fuzz_common.h"
#include "install/driver.h"

namespace {

std::string gRoot;
std::string gArchive;
std::string gTarget;

// Only the installer file and the target directory may stand in the root.
void CheckNothingEscaped() {
    DIR* d = opendir(gRoot.c_str());
    if (!d) abort();
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == ".." || name == "installer.bin" || name == "t") continue;
        fprintf(stderr, "an entry was written outside the target: %s/%s\n", gRoot.c_str(),
                name.c_str());
        abort();
    }
    closedir(d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRoot = qvfuzz::MakeScratchDir();
    gArchive = gRoot + "/installer.bin";
    gTarget = gRoot + "/t";
    qvfuzz::InstallSilentHooks();
    atexit([] { qvfuzz::RemoveTree(gRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    qvfuzz::WriteInput(gArchive, data, size);
    if (qvfuzz::TotalUnpacked(qvfuzz::CorePath(gArchive)) > qvfuzz::kMaxTotalUnpacked) return 0;

    mkdir(gTarget.c_str(), 0777);
    char target[kPathSize];
    snprintf(target, sizeof target - 1, "%s", qvfuzz::CorePath(gTarget).c_str());
    std::string archive = qvfuzz::CorePath(gArchive);
    uint32_t result = InstallFromArchive(nullptr, archive.c_str(), target);
    if (result != 0 && result != 1 && result != 2 && result != 3) abort();
    CheckNothingEscaped();
    qvfuzz::RemoveTree(gTarget);
    return 0;
}
