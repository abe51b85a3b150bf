// The install entry and the extraction driver: walks the file blocks of the
// archive behind the installer image, decides per entry whether it is
// written, kept or refused, decodes it, checks its checksum and restores the
// stored time and attributes. It stops at the first entry that fails.
//
// Nothing that stood at a target path is lost to a bad entry: each entry is
// decoded into a temporary file beside its target, which replaces the
// target only once the checksum has matched.
#include "install/driver.h"

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

// Creates the directory that is to hold target, with its missing parents.
// A failure is not looked at: it shows when the file is opened.
void MakeParentDirectory(const char* target) {
    uint16_t p = LastSeparatorPos(target);
    if (p <= 1 || target[p - 1] != '\\') return;
    char parent[kPathSize];
    memcpy(parent, target, p - 1);
    parent[p - 1] = '\0';
    CreatePathTree(parent);
}

// Opens a fresh temporary file in the directory that is to hold target:
// each name is tried with an open that fails where anything stands, so what
// is there is never touched. The directory, with its missing parents, is
// made only when the first open fails for want of it: most entries go into
// a directory that stands already, and this costs them no call. Returns
// none when the directory cannot take a file. Near the length limit a
// shorter name is used, so that a target that fits can still be installed.
FileStream* OpenTempBeside(const char* target, char* tempPath) {
    size_t dirLength = LastSeparatorPos(target);
    size_t room = kPathSize - dirLength;  // for the name and its NUL
    bool roomy = room > 11;  // for "~qvNNNN.tmp"; else "~N"
    bool directoryMade = false;
    memcpy(tempPath, target, dirLength);
    unsigned n = 0;
    while (n < kTempAttempts) {
        TextBuffer name;
        StartText(&name, tempPath + dirLength, static_cast<uint32_t>(room));
        AppendText(&name, roomy ? "~qv" : "~");
        AppendHex(&name, n, roomy ? 4 : 1);
        if (roomy) AppendText(&name, ".tmp");
        if (!FinishText(&name)) return NULL;
        FileStream* file = OpenFilePlain(tempPath, "w+bx");
        if (file) return file;
        if (CheckFileExists(tempPath) == kFileExists) {
            n++;  // taken: the next name
            continue;
        }
        // No directory yet (the same name is tried again once it is made),
        // or no room or no right to write there, which neither another name
        // nor the directory cures.
        if (directoryMade) return NULL;
        MakeParentDirectory(target);
        directoryMade = true;
    }
    return NULL;
}

void ReportCannotInstall(void* owner, const char* caption) {
    HostShowError(owner, kCannotInstall, caption);
}

// Finishes a written entry: its time is set while the file is still open,
// the file is closed and moved into the target's place. NT's file systems
// keep a last-write time set through a handle when the handle is closed
// after writing; Windows 95/98 are not relied on for that, and there the
// time is set by path afterwards. Returns 0, or the result that
// stops; nothing that stood at the target is lost to a bad entry.
uint32_t FinishWrittenEntry(void* owner, const FileBlockHeader* header, FileStream* output, bool matches,
                            const char* tempPath, const char* target, bool* timeSet) {
    // Bytes the stream still held count as written only once they are out.
    bool good = !StreamFailed(output) && matches;
    *timeSet = good && !UsesLegacyFamily() && PlatformSetStreamTime(output, header->DosDateTime) == kPlatformDone;
    if (CloseFile(output) != 0) good = false;
    if (!good) {
        DeleteExistingFile(NULL, tempPath);
        ReportCannotInstall(owner, header->Name);
        return kInstallBadChecksum;
    }
    if (!MoveIntoPlace(tempPath, target)) {
        // A directory or a locked file stands there; it stays as it was,
        // without the entry's time and attributes.
        DeleteExistingFile(NULL, tempPath);
        ReportCannotInstall(owner, target);
        return kInstallFailed;
    }
    return kInstallOk;
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

    FileStream* output = NULL;
    char tempPath[kPathSize];
    if (write) {
        if (placed) output = OpenTempBeside(target, tempPath);
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

    bool timeSet = false;
    if (write) {
        uint32_t finished = FinishWrittenEntry(owner, header, output, matches, tempPath, target, &timeSet);
        if (finished != kInstallOk) return finished;
    }
    // A settings file kept in place takes the archive copy's time and
    // attributes too. The time first, so that a read-only attribute does
    // not stand in its way.
    if (placed) {
        if (!timeSet) PlatformSetFileTime(target, header->DosDateTime);
        PlatformSetAttributes(target, header->Attributes);
    }
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
