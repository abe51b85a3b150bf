// Decoding speed and memory of the installer's decoder, side by side with
// zlib's inflate and libdeflate on their own streams of the same data.
//
//   qvbench speed ARCHIVE TAR [N]  MB/s of output for each decoder (best
//                               of N runs, 5 unless told, taken in turns;
//                               output checksummed, discarded), and the check
//                               before writing as a share of it
//   qvbench memory ARCHIVE      peak memory of decoding above the baseline
//   qvbench decode ARCHIVE [N]  our decoder alone, best of N runs (for profiles)
#include <libdeflate.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "tools/host.h"
#include "install/walk.h"

namespace {

using Bytes = std::vector<uint8_t>;

double Now() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes ReadFile(const char* path) {
    Bytes data;
    if (!ReadWholeFile(path, &data)) {
        fprintf(stderr, "qvbench: cannot read %s\n", path);
        exit(2);
    }
    return data;
}

// Decodes every entry of the archive in the file at path as the installer
// does (checksum over all output, nothing written); returns the unpacked
// bytes, 0 when the archive cannot be read or an entry does not match.
uint64_t DecodeArchive(const char* path) {
    ArchiveWalk walk;
    uint64_t total = 0;
    bool ok = OpenInstallerFile(path, &walk, kWalkAsItGoes) == kWalkOpened;
    if (ok) {
        WalkStep step;
        while (ok && (step = NextArchiveEntry(&walk)) != kWalkEnd) {
            if (step == kWalkDirectory) continue;
            EntrySink sink = NullSink();
            ok = step == kWalkFile && DecodeArchiveEntry(&walk, &sink);
            total += sink.Taken;
        }
        CloseInstallerFile(&walk);
    }
    return ok ? total : 0;
}

long PeakKb() {
    FILE* f = fopen("/proc/self/status", "r");
    char line[256];
    long kb = -1;
    while (f && fgets(line, sizeof line, f))
        if (strncmp(line, "VmHWM:", 6) == 0) kb = atol(line + 6);
    if (f) fclose(f);
    return kb;
}

// The shorter of best and the time fn takes.
template <typename Fn>
double Best(double best, Fn fn) {
    double t0 = Now();
    fn();
    double t = Now() - t0;
    return t < best ? t : best;
}

template <typename Fn>
double BestSeconds(int runs, Fn fn) {
    double best = 1e30;
    for (int i = 0; i < runs; i++) best = Best(best, fn);
    return best;
}

int Speed(const char* archivePath, const char* tarPath, int runs) {
    Bytes tar = ReadFile(tarPath);
    // zlib's and libdeflate's own gzip streams of the same data, level 9.
    uLongf zsize = compressBound(tar.size()) + 64;
    Bytes zstream(zsize);
    z_stream zs = {};
    deflateInit2(&zs, 9, Z_DEFLATED, 31, 9, Z_DEFAULT_STRATEGY);
    zs.next_in = tar.data();
    zs.avail_in = static_cast<uInt>(tar.size());
    zs.next_out = zstream.data();
    zs.avail_out = static_cast<uInt>(zstream.size());
    deflate(&zs, Z_FINISH);
    zstream.resize(zs.total_out);
    deflateEnd(&zs);
    libdeflate_compressor* lc = libdeflate_alloc_compressor(9);
    Bytes dstream(libdeflate_gzip_compress_bound(lc, tar.size()));
    dstream.resize(libdeflate_gzip_compress(lc, tar.data(), tar.size(), dstream.data(), dstream.size()));
    libdeflate_free_compressor(lc);

    // The three decoders take turns, run by run, and each keeps its best
    // time: on a shared machine a load that comes and goes then falls on
    // all of them alike, not on whichever happened to run during it.
    uint64_t unpacked = 0;
    // zlib: inflate in 256 KB pieces into a scratch buffer; the gzip wrapper
    // makes it checksum everything.
    Bytes scratch(1 << 18);
    bool zok = true;
    // libdeflate decodes whole buffers only.
    Bytes whole(tar.size());
    libdeflate_decompressor* ld = libdeflate_alloc_decompressor();
    bool dok = true;
    double ours = 1e30, zlib = 1e30, deflate = 1e30;
    for (int run = 0; run < runs; run++) {
        ours = Best(ours, [&] { unpacked = DecodeArchive(archivePath); });
        zlib = Best(zlib, [&] {
            z_stream in = {};
            inflateInit2(&in, 31);
            in.next_in = zstream.data();
            in.avail_in = static_cast<uInt>(zstream.size());
            int rc;
            do {
                in.next_out = scratch.data();
                in.avail_out = static_cast<uInt>(scratch.size());
                rc = inflate(&in, Z_NO_FLUSH);
            } while (rc == Z_OK);
            zok = zok && rc == Z_STREAM_END && in.total_out == tar.size();
            inflateEnd(&in);
        });
        deflate = Best(deflate, [&] {
            size_t got = 0;
            dok = dok && libdeflate_gzip_decompress(ld, dstream.data(), dstream.size(), whole.data(), whole.size(),
                                                    &got) == LIBDEFLATE_SUCCESS && got == tar.size();
        });
    }
    libdeflate_free_decompressor(ld);
    if (!unpacked) {
        fprintf(stderr, "qvbench: the archive does not decode\n");
        return 1;
    }
    if (!zok || !dok) {
        fprintf(stderr, "qvbench: a reference decoder failed\n");
        return 1;
    }
    // The check an installation makes before it writes anything: every
    // header and the CRC-32 of the whole archive.
    bool checked = true;
    double check = BestSeconds(runs, [&] {
        ArchiveWalk walk;
        checked = OpenInstallerFile(archivePath, &walk, kWalkCheckFirst) == kWalkOpened && walk.Survey.Sealed;
        if (checked) CloseInstallerFile(&walk);
    });
    double mb = 1e6;
    printf("ours_mbs %.1f\nzlib_mbs %.1f\nlibdeflate_mbs %.1f\n", unpacked / ours / mb, tar.size() / zlib / mb,
           tar.size() / deflate / mb);
    if (checked) printf("check_share %.4f\n", check / ours);
    return 0;
}

// Our decoder alone, for profiles: decodes the archive runs times.
int DecodeOnly(const char* archivePath, int runs) {
    uint64_t unpacked = 0;
    double best = BestSeconds(runs, [&] { unpacked = DecodeArchive(archivePath); });
    if (!unpacked) {
        fprintf(stderr, "qvbench: the archive does not decode\n");
        return 1;
    }
    printf("ours_mbs %.1f\n", unpacked / best / 1e6);
    return 0;
}

int Memory(const char* archivePath) {
    long base = PeakKb();
    if (!DecodeArchive(archivePath)) return 1;
    printf("decode_peak_kb_above_baseline %ld\n", PeakKb() - base);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && strcmp(argv[1], "speed") == 0)
        return Speed(argv[2], argv[3], argc == 5 ? atoi(argv[4]) : 5);
    if (argc == 3 && strcmp(argv[1], "memory") == 0) return Memory(argv[2]);
    if ((argc == 3 || argc == 4) && strcmp(argv[1], "decode") == 0)
        return DecodeOnly(argv[2], argc == 4 ? atoi(argv[3]) : 10);
    fprintf(stderr, "usage: qvbench speed ARCHIVE TAR [RUNS] | qvbench memory ARCHIVE | qvbench decode ARCHIVE [RUNS]\n");
    return 1;
}
