// The whole install path on arbitrary bytes as the installer file: locate,
// walk, decide, decode, verify and replace, into a scratch target
// directory. Whatever the result, nothing may appear beside the target
// directory, and every file in it must be an entry of the archive with the
// bytes its stored checksum names: a success wrote only checked files, and
// a failure left no temporary file behind.
#include <dirent.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <map>
#include <vector>

#include "archive/checksum.h"
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

// The stored checksums of the file entries the installer may write, by
// stored name, and the archive's format.
struct ArchiveEntries {
    std::map<std::string, std::vector<uint32_t>> Checksums;
    uint32_t Format = kFormatNone;
};

ArchiveEntries ListEntries(const std::string& corePath) {
    ArchiveEntries entries;
    ArchiveWalk walk;
    if (OpenInstallerFile(corePath.c_str(), &walk, kWalkAsItGoes) == kWalkOpened) {
        const UnpackContext* ctx = walk.Context;
        entries.Format = ctx->ArchiveFormat;
        WalkStep step;
        while ((step = NextArchiveEntry(&walk)) == kWalkFile || step == kWalkDirectory) {
            const FileBlockHeader* h = &ctx->EntryHeader;
            if (step == kWalkFile && IsSupportedVersion(h) && IsSafeStoredName(h->Name))
                entries.Checksums[h->Name].push_back(h->DataCrc);
        }
        CloseInstallerFile(&walk);
    }
    return entries;
}

// The checksum the driver compares with the stored one, over a file's bytes.
uint32_t FileChecksum(const UnpackContext* crc, const std::string& path, uint32_t format, bool* read) {
    FILE* f = fopen(path.c_str(), "rb");
    *read = f != nullptr;
    uint32_t value = InitialDataChecksum(format);
    if (!f) return value;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0)
        value = ChecksumUpdate(crc, value, chunk, static_cast<uint32_t>(got), DataChecksumMode(format));
    fclose(f);
    return format == kFormatMarker ? ~value : value;
}

// Every file below dir (relative name rel, '\\' between parts as stored)
// is an entry whose stored checksum its bytes match.
void CheckInstalledFiles(const UnpackContext* crc, const ArchiveEntries& entries, const std::string& dir,
                         const std::string& rel) {
    DIR* d = opendir(dir.c_str());
    if (!d) return;
    while (struct dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string path = dir + "/" + name, stored = rel + name;
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) abort();
        if (S_ISDIR(st.st_mode)) {
            CheckInstalledFiles(crc, entries, path, stored + "\\");
            continue;
        }
        auto found = entries.Checksums.find(stored);
        if (found == entries.Checksums.end()) {
            fprintf(stderr, "%s: a file no entry names (a temporary file left behind?)\n", path.c_str());
            abort();
        }
        bool read;
        uint32_t value = FileChecksum(crc, path, entries.Format, &read);
        bool matches = false;
        for (uint32_t stored : found->second) matches = matches || stored == value;
        if (!read || !matches) {
            fprintf(stderr, "%s: its bytes do not match the stored checksum\n", path.c_str());
            abort();
        }
    }
    closedir(d);
}

bool IsEmptyDirectory(const std::string& dir) {
    DIR* d = opendir(dir.c_str());
    if (!d) return true;
    bool empty = true;
    while (struct dirent* e = readdir(d))
        if (strcmp(e->d_name, ".") != 0 && strcmp(e->d_name, "..") != 0) empty = false;
    closedir(d);
    return empty;
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
    // What the check before writing says of this input.
    ArchiveWalk check;
    bool whole = OpenInstallerFile(archive.c_str(), &check, kWalkCheckFirst) == kWalkOpened;
    bool refused = whole && check.Survey.Refused != kEntryAccepted;
    if (whole) CloseInstallerFile(&check);

    uint32_t result = InstallFromArchive(nullptr, archive.c_str(), target);
    if (result > 4) abort();
    CheckNothingEscaped();
    // An installer that does not check out writes nothing; a success
    // means every file is in place.
    if ((!whole || refused) && (result == 0 || !IsEmptyDirectory(gTarget))) {
        fprintf(stderr, "an installer that does not check out wrote into the target (result %u)\n", result);
        abort();
    }
    static UnpackContext* crc = CreateUnpackContext();
    if (!crc) abort();
    ArchiveEntries entries = ListEntries(archive);
    if (result == 0) {
        for (const auto& entry : entries.Checksums) {
            std::string path = gTarget + "/" + entry.first;
            for (char& c : path) if (c == '\\') c = '/';
            struct stat st;
            if (stat(path.c_str(), &st) != 0) {
                fprintf(stderr, "reported success, but %s is missing\n", path.c_str());
                abort();
            }
        }
    }
    CheckInstalledFiles(crc, entries, gTarget, "");
    qvfuzz::RemoveTree(gTarget);
    return 0;
}
