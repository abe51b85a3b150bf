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
const char kCannotRead[] = "Cannot read the installer.";
const char kNoMemory[] = "Not enough memory.";

enum {
    kTempAttempts = 256,
    kSweptRemembered = 1024,
    // CreateDirectoryA takes at most 248 characters with the NUL, leaving
    // room for an 8.3 name below.
    kMaxDirectoryPath = 247
};

// One installation: the walk, and the directories whose stale temporary
// files it has looked for, each by a hash of its path. An archive's entries
// need not come directory by directory (a solid archive orders them by
// kind), so remembering only the last directory swept most of them again
// and again: 346 sweeps of 256 names for 37 directories of C++ headers.
// Two directories of the same hash leave the second unswept, which only
// leaves what an interrupted run left there; past kSweptRemembered
// directories each is swept whenever the run comes back to it.
struct InstallRun {
    void* Owner;
    ArchiveWalk Walk;
    uint32_t Swept[kSweptRemembered];
    uint32_t SweptCount;
};

// The temporary name number n in the directory that tempPath's first
// dirLength characters name; "~qvNNNN.tmp", or "~N" where room is short.
bool TempName(char* tempPath, size_t dirLength, unsigned n, bool roomy) {
    TextBuffer name;
    StartText(&name, tempPath + dirLength, static_cast<uint32_t>(kPathSize - dirLength));
    AppendText(&name, roomy ? "~qv" : "~");
    AppendHex(&name, n, roomy ? 4 : 1);
    if (roomy) AppendText(&name, ".tmp");
    return FinishText(&name) != 0;
}

uint32_t PathHash(const char* path, size_t length) {
    uint32_t h = 2166136261u;  // FNV-1a
    for (size_t i = 0; i < length; i++) h = (h ^ static_cast<uint8_t>(path[i])) * 16777619u;
    return h;
}

// True, and the directory remembered, the first time the run comes to the
// directory that tempPath's first dirLength characters name.
bool FirstVisit(InstallRun* run, const char* tempPath, size_t dirLength) {
    uint32_t h = PathHash(tempPath, dirLength);
    for (uint32_t i = 0; i < run->SweptCount; i++)
        if (run->Swept[i] == h) return false;
    if (run->SweptCount < kSweptRemembered) run->Swept[run->SweptCount++] = h;
    return true;
}

// Deletes the temporary files an interrupted run left in the directory of
// tempPath (its first dirLength characters, with the separator), once per
// directory and run; a directory that does not stand yet holds none. Only
// names of the installer's own pattern are tried, and the platform leaves
// alone one that a running installer holds.
void ReclaimStaleTemporaries(InstallRun* run, char* tempPath, size_t dirLength) {
    if (!FirstVisit(run, tempPath, dirLength)) return;
    if (dirLength > 1) {
        char separator = tempPath[dirLength - 1];
        tempPath[dirLength - 1] = '\0';
        bool stands = CheckFileExists(tempPath) == kFileExists;
        tempPath[dirLength - 1] = separator;
        if (!stands) return;
    }
    for (unsigned n = 0; n < kTempAttempts; n++)
        if (TempName(tempPath, dirLength, n, true)) PlatformDeleteStaleTemporary(tempPath);
}

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
// none when the directory cannot take a file, with the system's reason in
// *reason. Near the length limit a shorter name is used, so that a target
// that fits can still be installed.
FileStream* OpenTempBeside(InstallRun* run, const char* target, char* tempPath, uint32_t* reason) {
    size_t dirLength = LastSeparatorPos(target);
    size_t room = kPathSize - dirLength;  // for the name and its NUL
    bool roomy = room > 11;  // for "~qvNNNN.tmp"; else "~N"
    bool directoryMade = false;
    memcpy(tempPath, target, dirLength);
    if (roomy) ReclaimStaleTemporaries(run, tempPath, dirLength);
    unsigned n = 0;
    while (n < kTempAttempts) {
        if (!TempName(tempPath, dirLength, n, roomy)) return NULL;
        // Held and noted as it is made: a stop by a signal never leaves it unnoted.
        FileStream* file = PlatformCreateTemporary(tempPath);
        if (file) return file;
        *reason = PlatformLastError();  // before the look at what stands there
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
// stops; nothing that stood at the target is lost to a bad entry. A write
// that failed (a full disk) is told as such, not as damaged data.
uint32_t FinishWrittenEntry(void* owner, const FileBlockHeader* header, FileStream* output, bool matches,
                            const char* tempPath, const char* target, bool* timeSet) {
    bool written = !StreamFailed(output);
    uint32_t reason = written ? 0 : PlatformLastError();
    *timeSet = written && matches && !UsesLegacyFamily() &&
               PlatformSetStreamTime(output, header->DosDateTime) == kPlatformDone;
    // Bytes the stream still held count as written only once they are out.
    if (CloseFile(output) != 0 && written) {
        written = false;
        reason = PlatformLastError();
    }
    if (!written || !matches) {
        DeleteExistingFile(NULL, tempPath);
        if (!written) {
            HostShowWriteFailure(owner, kCannotInstall, header->Name, reason);
            return kInstallFailed;
        }
        ReportCannotInstall(owner, header->Name);
        return kInstallBadChecksum;
    }
    if (!MoveIntoPlace(tempPath, target)) {
        // A directory or a locked file stands there; it stays as it was,
        // without the entry's time and attributes.
        reason = PlatformLastError();
        DeleteExistingFile(NULL, tempPath);
        HostShowWriteFailure(owner, kCannotInstall, target, reason);
        return kInstallFailed;
    }
    return kInstallOk;
}

// One file entry that is neither a directory nor a volume label: the walk
// has delivered its header, which the check before found installable.
// Returns 0 to go on, or the result that stops.
uint32_t HandleFileEntry(InstallRun* run) {
    void* owner = run->Owner;
    ArchiveWalk* walk = &run->Walk;
    const UnpackContext* ctx = walk->Context;
    const FileBlockHeader* header = &ctx->EntryHeader;

    char target[kPathSize];
    // Checked before as well; here it guards every path built from a name.
    bool placed = CheckEntry(ctx, header) == kEntryAccepted &&
                  JoinTargetPath(ctx->TargetDir, header->Name, target, sizeof target);
    if (!placed) {
        ReportCannotInstall(owner, header->Name);
        return kInstallFailed;
    }
    bool write = strcmp(header->Name, kSettingsFile) != 0 || CheckFileExists(target) == kFileMissing;

    FileStream* output = NULL;
    char tempPath[kPathSize];
    if (write) {
        uint32_t reason = 0;
        output = OpenTempBeside(run, target, tempPath, &reason);
        if (!output) {
            HostShowWriteFailure(owner, kCannotInstall, target, reason);
            return kInstallFailed;
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
        PlatformNoteTemporary(NULL);  // moved into place or deleted
        if (finished != kInstallOk) return finished;
    }
    // A settings file kept in place takes the archive copy's time and
    // attributes too. The time first, so that a read-only attribute does
    // not stand in its way.
    if (!timeSet) PlatformSetFileTime(target, header->DosDateTime);
    PlatformSetAttributes(target, header->Attributes);
    return kInstallOk;
}

// The damaged-or-incomplete box, and the result it ends with.
uint32_t ReportBrokenInstaller(void* owner, const char* path, WalkOpenResult opened, WalkStep ending) {
    switch (opened) {
        case kWalkNoWindow:
            HostShowError(owner, kNoMemory, path);
            return kInstallNoWindow;
        case kWalkCannotOpen:
            HostShowError(owner, kCannotRead, path);
            return kInstallNoArchive;
        default: break;
    }
    HostShowError(owner, kTextDamagedInstaller, path);
    bool volume = opened == kWalkNoArchive || ending == kWalkContinuedEntry || ending == kWalkMissingVolume;
    return volume ? kInstallNoArchive : kInstallBadChecksum;
}

// Whether every path the archive needs fits below the target; tells the
// user the deepest one when not.
bool TargetFits(void* owner, const UnpackContext* ctx, const ArchiveSurvey* survey) {
    size_t dirLength = strlen(ctx->TargetDir);  // with its trailing backslash where it fitted
    bool fits = dirLength + survey->LongestPath <= kPathSize - 1;
    size_t deepest = dirLength - 1 + (survey->LongestDirectory > 0 ? survey->LongestDirectory - 1 : 0);
    if (deepest > kMaxDirectoryPath) fits = false;
    if (fits) return true;
    char caption[2 * kPathSize];
    TextBuffer text;
    StartText(&text, caption, sizeof caption);
    AppendText(&text, ctx->TargetDir);
    // A target of 259 characters had no room for its backslash.
    if (dirLength > 0 && ctx->TargetDir[dirLength - 1] != '\\') AppendText(&text, "\\");
    AppendText(&text, survey->LongestName);
    FinishText(&text);
    HostShowError(owner, kTextCannotCreatePath, caption);
    return false;
}

}  // namespace

const char kTextDamagedInstaller[] = "The installer is damaged or incomplete. Please get a new copy.";
const char kTextCannotCreatePath[] = "Cannot create path.";

uint32_t CheckInstaller(void* owner, const char* path) {
    ArchiveWalk walk;
    WalkOpenResult opened = OpenInstallerFile(path, &walk, kWalkCheckFirst);
    if (opened == kWalkOpened) {
        CloseInstallerFile(&walk);
        return kInstallOk;
    }
    return ReportBrokenInstaller(owner, path, opened, walk.Ending);
}

uint32_t InstallFromArchive(void* owner, const char* archivePath, char* targetDir, PrepareTargetFn prepare,
                            SelectEntryFn select) {
    UnpackContext* ctx = CreateUnpackContext();
    if (!ctx) return kInstallFailed;
    ctx->ArchivePath = archivePath;
    AddTrailingBackslash(targetDir);
    ctx->TargetDir = targetDir;
    uint32_t result = ExtractAllFiles(owner, ctx, prepare, select);
    FreeAndClear(&ctx);
    return result;
}

uint32_t ExtractAllFiles(void* owner, UnpackContext* ctx, PrepareTargetFn prepare, SelectEntryFn select) {
    InstallRun* run = static_cast<InstallRun*>(AllocZeroed(sizeof(InstallRun)));
    if (!run) return kInstallFailed;
    run->Owner = owner;
    ArchiveWalk* walk = &run->Walk;
    WalkOpenResult opened = OpenArchiveWalk(walk, ctx, kWalkCheckFirst);
    if (opened != kWalkOpened) {
        uint32_t broken = ReportBrokenInstaller(owner, ctx->ArchivePath, opened, walk->Ending);
        FreeAndClear(&run);
        return broken;
    }
    uint32_t result = kInstallOk;
    const ArchiveSurvey* survey = &walk->Survey;
    if (survey->Refused != kEntryAccepted) {
        ReportCannotInstall(owner, survey->RefusedName);
        result = kInstallFailed;
    } else if (!TargetFits(owner, ctx, survey) || (prepare && !prepare(owner, ctx->TargetDir))) {
        result = kInstallBadTarget;
    }
    while (result == kInstallOk) {
        WalkStep step = NextArchiveEntry(walk);
        if (step == kWalkEnd) break;
        if (step == kWalkFile) {
            EntrySelection chosen = select ? select(owner, &ctx->EntryHeader) : kSelectInstall;
            if (chosen == kSelectStop) break;
            if (chosen == kSelectDecodeOnly) DecodeArchiveEntry(walk, NULL);
            if (chosen == kSelectInstall) result = HandleFileEntry(run);
            continue;
        }
        if (step == kWalkDirectory) continue;  // nothing is created or decoded
        // The file changed since it was checked. A damaged header: nothing
        // is written for it, and what follows cannot be found; entries
        // before it stay installed, as after a damaged file's data.
        if (step == kWalkContinuedEntry || step == kWalkMissingVolume) {
            result = kInstallNoArchive;
        } else {
            ReportCannotInstall(owner, step == kWalkDamagedEntry ? ctx->EntryHeader.Name : ctx->ArchivePath);
            result = kInstallBadChecksum;
        }
    }
    CloseArchiveWalk(walk);
    FreeAndClear(&run);
    return result;
}
