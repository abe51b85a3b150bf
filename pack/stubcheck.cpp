#include "pack/stubcheck.h"

#include <stdio.h>
#include <string.h>

#include <vector>

#include "archive/blockreader.h"
#include "install/walk.h"

namespace {

// Where the installer's location rule finds an archive in the stream (the
// offset of its marker or old signature), or -1; *old tells which it is.
int64_t LocatedAt(FILE* stream, bool* old) {
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return -1;
    ctx->ArchiveFile = stream;
    int64_t at = -1;
    if (LocateArchive(ctx) != kArchiveNone) {
        *old = ctx->ArchiveFormat == kFormatOldSignature;
        at = static_cast<int64_t>(ftell(stream)) - kMainHeaderSize - (*old ? 0 : kMarkerSize);
    }
    FreeAndClear(&ctx);
    return at;
}

}  // namespace

bool CheckStubImage(const uint8_t* image, size_t size, std::string* error) {
    if (size > kLastScanMarker) {
        char text[160];
        snprintf(text, sizeof text, "the installer image is %zu bytes; the installer finds its archive only within %d bytes",
                 size, static_cast<int>(kLastScanMarker));
        *error = text;
        return false;
    }
    if (size > 0 && size < kScanStart) {
        *error = "the installer image is shorter than 7 bytes; the installer would not find the archive behind it";
        return false;
    }
    // The image followed by the start of an archive: marker and main header.
    std::vector<uint8_t> file(image, image + size);
    file.insert(file.end(), kMarker, kMarker + kMarkerSize);
    const uint8_t mainHeader[kMainHeaderSize] = {0, 0, kBlockMain, kMainFlagSolid, 0, kMainHeaderSize, 0};
    file.insert(file.end(), mainHeader, mainHeader + kMainHeaderSize);
    FILE* stream = fmemopen(file.data(), file.size(), "rb");
    if (!stream) {
        *error = "out of memory";
        return false;
    }
    bool old = false;
    int64_t hit = LocatedAt(stream, &old);
    fclose(stream);
    if (hit != static_cast<int64_t>(size)) {
        char text[200];
        snprintf(text, sizeof text,
                 "the installer image holds %s at offset %lld that the installer would take for its archive",
                 old ? "an old archive signature (\"RE~^\" with \"RSFX\" at offset 28)" : "an archive marker",
                 static_cast<long long>(hit));
        *error = text;
        return false;
    }
    return true;
}

bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error) {
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path;
        return false;
    }
    bool old = false;
    int64_t hit = LocatedAt(f, &old);
    fclose(f);
    if (hit != static_cast<int64_t>(archiveOffset) || old) {
        *error = "the installer does not find the archive at offset " + std::to_string(archiveOffset);
        return false;
    }
    return true;
}
