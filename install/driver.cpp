// The install entry and the extraction driver: walks the file blocks of the
// archive behind the installer image, decides per entry whether it is
// written, kept or refused, decodes it, checks its checksum and restores the
// stored time and attributes. It stops at the first entry that fails.
//
// Nothing that stood at a target path is lost to a bad entry: each entry is
// decoded into a temporary file beside its target, which replaces the
// target only once the checksum has matched.
#include "install/driver.h"

#include <stdio.h>
#include <string.h>

#include "base/text.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "install/walk.h"

namespace {

// The product's settings file: installed only where none exists yet, so the
// user's settings survive a reinstallation.
const char kSettingsFile[] = "QUORZIP.SET";
const char kCannotInstall[] = "Cannot install file.";

enum { kTempAttempts = 256 };

// Joins the target directory and a stored name; false when the result would
// not fit into a path buffer (at most 259 characters).
bool JoinTargetPath(const char* dir, const char* name, char* out, size_t outSize) {
    size_t dirLength = strlen(dir), nameLength = strlen(name);
    if (dirLength + nameLength + 1 > outSize) return false;
    memcpy(out, dir, dirLength);
    memcpy(out + dirLength, name, nameLength + 1);
    return true;
}

// Opens a fresh temporary file in the directory that is to hold target.
// Returns none when the directory cannot take one. Near the length limit a
// shorter name is used, so that a target that fits can still be installed.
FILE* OpenTempBeside(const char* target, char* tempPath) {
    size_t dirLength = LastSeparatorPos(target);
    size_t room = kPathSize - dirLength;  // for the name and its NUL
    bool roomy = room > 11;  // for "~qvNNNN.tmp"; else "~N"
    memcpy(tempPath, target, dirLength);
    for (unsigned n = 0; n < kTempAttempts; n++) {
        TextBuffer name;
        StartText(&name, tempPath + dirLength, static_cast<uint32_t>(room));
        AppendText(&name, roomy ? "~qv" : "~");
        AppendHex(&name, n, roomy ? 4 : 1);
        if (roomy) AppendText(&name, ".tmp");
        if (!FinishText(&name)) return NULL;
        if (CheckFileExists(tempPath) == kFileExists) continue;  // never touch what is there
        return OpenFilePlain(tempPath, "w+b");
    }
    return NULL;
}

// Stored last-write time first, then the attributes, so that a read-only
// attribute does not stand in the way of the time change.
void RestoreTimeAndAttributes(const char* path, const FileBlockHeader* header) {
    PlatformSetFileTime(path, header->DosDateTime);
    PlatformSetAttributes(path, header->Attributes);
}

void ReportCannotInstall(void* owner, const char* caption) {
    HostShowError(owner, kCannotInstall, caption);
}

// One file entry that is neither a directory nor a volume label: the walk
// has delivered its header. Returns 0 to go on, or the result that stops.
uint32_t HandleFileEntry(void* owner, ArchiveWalk* walk) {
    const UnpackContext* ctx = walk->Context;
    const FileBlockHeader* header = &ctx->EntryHeader;
    uint32_t result = kInstallOk;

    char target[kPathSize];
    // A name that would land outside the target directory, or a path too long
    // for the system, is refused like a file that cannot be created; nothing
    // is then done at any path built from it.
    bool placed = IsSafeStoredName(header->Name) &&
                  JoinTargetPath(ctx->TargetDir, header->Name, target, sizeof target);
    bool extract = strcmp(header->Name, kSettingsFile) != 0 || !placed || CheckFileExists(target) == kFileMissing;
    bool write = extract && IsSupportedVersion(header);
    if (!IsSupportedVersion(header)) result = kInstallFailed;

    FILE* output = NULL;
    char tempPath[kPathSize];
    if (write) {
        if (placed) {
            uint16_t p = LastSeparatorPos(target);
            if (p > 1 && target[p - 1] == '\\') {
                char parent[kPathSize];
                memcpy(parent, target, p - 1);
                parent[p - 1] = '\0';
                CreatePathTree(parent);  // a failure shows when the file is opened
            }
            output = OpenTempBeside(target, tempPath);
        }
        if (!output) {
            char caption[2 * kPathSize];
            TextBuffer text;
            StartText(&text, caption, sizeof caption);
            AppendText(&text, ctx->TargetDir);
            AppendText(&text, header->Name);
            ReportCannotInstall(owner, caption);
            result = kInstallFailed;
            write = false;
        }
    }

    HostShowStatus(owner, header->Name);
    // Also decoded when not written: a following solid entry continues from
    // the window and tables that this one leaves.
    EntrySink sink = FileSink(output);
    bool matches = DecodeArchiveEntry(walk, write ? &sink : NULL);

    if (write) {
        // Bytes the stream still held count as written only once they are out.
        bool good = !ferror(output) && matches;
        if (CloseFile(output) != 0) good = false;
        if (!good) {
            DeleteExistingFile(NULL, tempPath);
            ReportCannotInstall(owner, header->Name);
            return kInstallBadChecksum;
        }
        if (CheckFileExists(target) == kFileExists) MakeWritable(target);
        if (PlatformReplaceFile(tempPath, target) != 0) {
            // A directory or a locked file stands there; it stays as it was,
            // without the entry's time and attributes.
            DeleteExistingFile(NULL, tempPath);
            ReportCannotInstall(owner, target);
            return kInstallFailed;
        }
    }
    // A settings file kept in place takes the archive copy's time and
    // attributes too.
    if (placed) RestoreTimeAndAttributes(target, header);
    return result;
}

}  // namespace

uint32_t InstallFromArchive(void* owner, const char* archivePath, char* targetDir) {
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return kInstallFailed;
    ctx->ArchivePath = archivePath;
    AddTrailingBackslash(targetDir);
    ctx->TargetDir = targetDir;
    uint32_t result = ExtractAllFiles(owner, ctx);
    FreeAndClear(&ctx);
    return result;
}

uint32_t ExtractAllFiles(void* owner, UnpackContext* ctx) {
    ArchiveWalk walk;
    switch (OpenArchiveWalk(&walk, ctx)) {
        case kWalkOpened: break;
        case kWalkNoWindow: return kInstallNoWindow;
        default: return kInstallNoArchive;
    }
    uint32_t result = kInstallOk;
    while (result == kInstallOk) {
        WalkStep step = NextArchiveEntry(&walk);
        if (step == kWalkEnd) break;
        if (step == kWalkContinuedEntry || step == kWalkMissingVolume) {
            result = kInstallNoArchive;
            break;
        }
        // A damaged header: nothing is written for it, and what follows
        // cannot be found. Entries before it stay installed, as after a
        // damaged file's data.
        if (step == kWalkDamagedEntry) {
            ReportCannotInstall(owner, ctx->EntryHeader.Name);
            result = kInstallBadChecksum;
            break;
        }
        if (step == kWalkDamagedArchive) {
            ReportCannotInstall(owner, ctx->ArchivePath);
            result = kInstallBadChecksum;
            break;
        }
        if (step == kWalkDirectory) {
            // Nothing is created or decoded.
            if (!IsSupportedVersion(&ctx->EntryHeader)) result = kInstallFailed;
            continue;
        }
        result = HandleFileEntry(owner, &walk);
    }
    CloseArchiveWalk(&walk);
    return result;
}
