#include "pack/installer.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "archive/blockreader.h"
#include "install/context.h"

namespace {

const uint8_t kMarker[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
const uint8_t kOldSignature[4] = {0x52, 0x45, 0x7E, 0x5E};

// File offset of the first archive the installer's scan would take in file,
// or -1; oldSignature tells which kind it is.
long FirstScanHit(const std::vector<uint8_t>& file, bool* oldSignature) {
    if (file.size() >= 7 && memcmp(file.data(), kMarker, 7) == 0) {
        *oldSignature = false;
        return 0;
    }
    size_t end = file.size() < kScanStart + kScanReadSize ? file.size() : kScanStart + kScanReadSize;
    auto byteAt = [&](size_t offset) -> uint8_t { return offset < end ? file[offset] : 0; };
    bool rsfx = byteAt(28) == 'R' && byteAt(29) == 'S' && byteAt(30) == 'F' && byteAt(31) == 'X';
    for (size_t p = kScanStart; p < end; p++) {
        if (file[p] != 0x52) continue;
        if (rsfx && byteAt(p + 1) == kOldSignature[1] && byteAt(p + 2) == kOldSignature[2] &&
            byteAt(p + 3) == kOldSignature[3]) {
            *oldSignature = true;
            return static_cast<long>(p);
        }
        bool marker = byteAt(p + 9) == kBlockMain;
        for (int i = 1; i < 7 && marker; i++) marker = byteAt(p + static_cast<size_t>(i)) == kMarker[i];
        if (marker) {
            *oldSignature = false;
            return static_cast<long>(p);
        }
    }
    return -1;
}

}  // namespace

bool CheckStubImage(const uint8_t* image, size_t size, std::string* error) {
    if (size > kLastMarkerOffset) {
        char text[160];
        snprintf(text, sizeof text, "the installer image is %zu bytes; the installer finds its archive only within %d bytes",
                 size, kLastMarkerOffset);
        *error = text;
        return false;
    }
    if (size > 0 && size < kScanStart) {
        *error = "the installer image is shorter than 7 bytes; the installer would not find the archive behind it";
        return false;
    }
    // The image followed by the start of the archive: marker and main header.
    std::vector<uint8_t> file(image, image + size);
    file.insert(file.end(), kMarker, kMarker + 7);
    const uint8_t mainHeader[13] = {0, 0, kBlockMain, 0x08, 0, 13, 0, 0, 0, 0, 0, 0, 0};
    file.insert(file.end(), mainHeader, mainHeader + 13);
    bool old = false;
    long hit = FirstScanHit(file, &old);
    if (hit != static_cast<long>(size)) {
        char text[200];
        snprintf(text, sizeof text,
                 "the installer image holds %s at offset %ld that the installer would take for its archive",
                 old ? "an old archive signature (\"RE~^\" with \"RSFX\" at offset 28)" : "an archive marker", hit);
        *error = text;
        return false;
    }
    return true;
}

bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error) {
    UnpackContext* ctx = static_cast<UnpackContext*>(calloc(1, sizeof(UnpackContext)));
    FILE* f = fopen(path.c_str(), "rb");
    bool ok = false;
    if (ctx && f) {
        ctx->ArchiveFile = f;
        int kind = LocateArchive(ctx);
        long at = ftell(f);
        ok = kind != 0 && ctx->ArchiveFormat == 2 && at == static_cast<long>(archiveOffset + 20);
        if (!ok) *error = "the installer does not find the archive at offset " + std::to_string(archiveOffset);
    } else {
        *error = "cannot open " + path;
    }
    if (f) fclose(f);
    free(ctx);
    return ok;
}
