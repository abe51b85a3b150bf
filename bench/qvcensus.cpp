// Where the packed bits go: packs a directory as qvpack does (same file
// order) and prints, per kind of coded step, how many there are and what
// they cost, and what the table sets cost.
//
//   qvcensus LEVEL DIR
#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "pack/archivewriter.h"
#include "pack/fileorder.h"
#include "pack/lzencoder.h"

namespace {

void CountPacked(void* user, uint32_t, const uint8_t*, size_t size) { *static_cast<uint64_t*>(user) += size; }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: qvcensus LEVEL DIR\n");
        return 64;
    }
    std::vector<PackSource> sources;
    std::string error;
    if (!CollectSources(argv[2], "", -1, &sources, &error) || !OrderForPacking(&sources, &error)) {
        fprintf(stderr, "qvcensus: %s\n", error.c_str());
        return 2;
    }
    PackCensus census;
    uint64_t packed = 0, unpacked = 0;
    LzEncoderSetup setup;
    setup.Level = atoi(argv[1]);
    setup.Census = &census;
    setup.EntryPacked = CountPacked;
    setup.EntryBytes = CountPacked;
    setup.User = &packed;
    LzEncoder* encoder = CreateLzEncoder(setup);
    if (!encoder) {
        fprintf(stderr, "qvcensus: level 1 to 5\n");
        return 64;
    }
    std::vector<uint8_t> chunk(1 << 16);
    for (const PackSource& s : sources) {
        FILE* f = fopen(s.Path.c_str(), "rb");
        if (!f) continue;
        StartEntry(encoder);
        size_t got;
        while ((got = fread(chunk.data(), 1, chunk.size(), f)) > 0) {
            AddEntryBytes(encoder, chunk.data(), static_cast<uint32_t>(got));
            unpacked += got;
        }
        fclose(f);
        EndEntry(encoder);
    }
    FinishEncoding(encoder);
    DestroyLzEncoder(encoder);

    static const char* kNames[kCensusKinds] = {"literal", "repeat 256", "recent 257-260", "short 261-268",
                                               "match 270-297"};
    uint64_t bits = census.TableSetBits;
    for (int k = 0; k < kCensusKinds; k++) bits += census.StepBits[k];
    printf("%zu files, %llu bytes -> %llu bytes (%.4f bits per byte)\n", sources.size(),
           static_cast<unsigned long long>(unpacked), static_cast<unsigned long long>(packed),
           unpacked ? 8.0 * static_cast<double>(packed) / static_cast<double>(unpacked) : 0.0);
    printf("compressor memory at level %d: at most %zu bytes\n", setup.Level, LzEncoderMemory(setup.Level));
    printf("%-16s %12s %14s %8s %7s\n", "kind", "steps", "bits", "bits/st", "share");
    for (int k = 0; k < kCensusKinds; k++)
        printf("%-16s %12llu %14llu %8.2f %6.2f%%\n", kNames[k], static_cast<unsigned long long>(census.Steps[k]),
               static_cast<unsigned long long>(census.StepBits[k]),
               census.Steps[k] ? static_cast<double>(census.StepBits[k]) / static_cast<double>(census.Steps[k]) : 0.0,
               bits ? 100.0 * static_cast<double>(census.StepBits[k]) / static_cast<double>(bits) : 0.0);
    printf("%-16s %12llu %14llu %8.1f %6.2f%%\n", "table sets", static_cast<unsigned long long>(census.TableSets),
           static_cast<unsigned long long>(census.TableSetBits),
           census.TableSets ? static_cast<double>(census.TableSetBits) / static_cast<double>(census.TableSets) : 0.0,
           bits ? 100.0 * static_cast<double>(census.TableSetBits) / static_cast<double>(bits) : 0.0);
    return 0;
}
