// The packer and the installer together: random data packed at a level the
// input chooses, in up to four solid entries, written as an archive and
// installed by the installer's own driver, must come back as exactly the
// files that went in, nothing more.
//
// Input: one byte (level 1..5 from its low bits, the number of entries from
// the next two), then the data, cut into entries at equal shares.
#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <string>
#include <vector>

#include "fuzz_common.h"
#include "install/driver.h"
#include "pack/archivewriter.h"
#include "pack/lzencoder.h"
#include "support/unpack_harness.h"

namespace {

std::string gRoot;

std::vector<uint8_t> ReadAllOf(const std::string& path) {
    FileStream* f = OpenStream(path.c_str(), "rb", kStreamShareAll);
    if (!f) return std::vector<uint8_t>();
    std::vector<uint8_t> data = qvtest::ReadAll(f);
    CloseFile(f);
    return data;
}

// The names in a directory, sorted.
std::vector<std::string> NamesIn(const std::string& dir) {
    std::vector<std::string> names;
    if (DIR* d = opendir(dir.c_str())) {
        while (struct dirent* e = readdir(d))
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") names.push_back(e->d_name);
        closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    gRoot = qvfuzz::MakeScratchDir();
    qvfuzz::InstallSilentHooks();
    atexit([] { qvfuzz::RemoveTree(gRoot); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1 || size > (1u << 20)) return 0;
    int level = kMinLevel + data[0] % (kMaxLevel - kMinLevel + 1);
    size_t count = 1 + ((data[0] >> 3) & 3);
    const uint8_t* body = data + 1;
    size_t length = size - 1;

    std::string source = gRoot + "/source", target = gRoot + "/target", archive = gRoot + "/archive.rar";
    qvfuzz::RemoveTree(source);
    qvfuzz::RemoveTree(target);
    mkdir(source.c_str(), 0777);
    std::vector<PackSource> sources;
    for (size_t i = 0; i < count; i++) {
        size_t from = length * i / count, to = length * (i + 1) / count;
        PackSource s;
        s.Name = "E" + std::to_string(i) + ".BIN";
        s.Path = source + "/" + s.Name;
        s.Size = to - from;
        s.DosDateTime = (20u << 9 | 1u << 5 | 1u) << 16;  // 2000-01-01
        qvfuzz::WriteInput(s.Path, body + from, to - from);
        std::string error;
        if (!RecordSourceState(&s, &error)) abort();
        sources.push_back(s);
    }
    FILE* out = fopen(archive.c_str(), "wb");
    if (!out) abort();
    std::string error;
    if (!WriteArchive(out, &sources, level, nullptr, nullptr, nullptr, &error)) {
        fprintf(stderr, "packing failed: %s\n", error.c_str());
        abort();
    }
    if (fclose(out) != 0) abort();

    mkdir(target.c_str(), 0777);
    char dir[kPathSize];
    snprintf(dir, sizeof dir - 1, "%s", qvfuzz::CorePath(target).c_str());
    uint32_t result = InstallFromArchive(nullptr, qvfuzz::CorePath(archive).c_str(), dir);
    if (result != kInstallOk) {
        fprintf(stderr, "installing what was packed failed with %u\n", result);
        abort();
    }
    std::vector<std::string> expected;
    for (const PackSource& s : sources) expected.push_back(s.Name);
    if (NamesIn(target) != expected) abort();  // every file, and nothing else
    for (size_t i = 0; i < count; i++) {
        size_t from = length * i / count, to = length * (i + 1) / count;
        if (ReadAllOf(target + "/" + sources[i].Name) != std::vector<uint8_t>(body + from, body + to)) abort();
    }
    return 0;
}
