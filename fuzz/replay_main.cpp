// Replays kept fuzz inputs through a fuzz target without libFuzzer, so that
// the unit tests run every regression input and the minimised corpus in
// every native build.
//
//   replay_TARGET DIR...   runs every file in each DIR; exits 0 when none aborted
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize) LLVMFuzzerInitialize(&argc, &argv);
    size_t runs = 0;
    for (int i = 1; i < argc; i++) {
        std::vector<std::string> files;
        if (DIR* d = opendir(argv[i])) {
            while (struct dirent* e = readdir(d))
                if (e->d_name[0] != '.') files.push_back(std::string(argv[i]) + "/" + e->d_name);
            closedir(d);
        }
        std::sort(files.begin(), files.end());
        for (const std::string& path : files) {
            FILE* f = fopen(path.c_str(), "rb");
            if (!f) continue;
            std::vector<uint8_t> data;
            uint8_t chunk[65536];
            size_t got;
            while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) data.insert(data.end(), chunk, chunk + got);
            fclose(f);
            fprintf(stderr, "replay %s\n", path.c_str());
            LLVMFuzzerTestOneInput(data.data(), data.size());
            runs++;
        }
    }
    printf("replayed %zu inputs\n", runs);
    return 0;
}
