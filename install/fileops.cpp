#include "install/fileops.h"

#include <stdlib.h>
#include <string.h>

#include "base/context.h"
#include "base/text.h"
#include "install/platform.h"

void AddTrailingBackslash(char* path) {
    size_t n = strlen(path);
    if (n == 0 || path[n - 1] == '\\') return;
    if (n + 1 >= kPathSize) return;  // no room for another character
    path[n] = '\\';
    path[n + 1] = '\0';
}

char* CutLastComponent(char* path) {
    size_t cut = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\') cut = i;
    if (cut == 2) cut = 3;  // a drive root keeps its backslash
    path[cut] = '\0';
    return path;
}

uint16_t LastSeparatorPos(const char* path) {
    uint16_t pos = 0;
    for (size_t i = 0; path[i]; i++)
        if (path[i] == '\\' || path[i] == '/') pos = static_cast<uint16_t>(i + 1);
    return pos;
}

PathTreeResult CreatePathTree(const char* path) {
    int r = PlatformCreateDirectory(path);
    if (r == kCreateDirOk) return kPathCreated;
    if (r != kCreateDirParentMissing) return kPathNotCreated;
    char parent[kPathSize];
    TextBuffer copy;  // as much of the path as the buffer holds
    StartText(&copy, parent, kPathSize);
    AppendText(&copy, path);
    size_t before = copy.Length;
    CutLastComponent(parent);
    // An empty parent, or one the cut could not shorten (a drive root such as
    // C:\ on a drive that does not exist, or "/"), leaves nothing to create.
    if (parent[0] == '\0' || strlen(parent) >= before) return kPathNotCreated;
    PathTreeResult parents = CreatePathTree(parent);
    if (parents != kPathCreated) return parents;
    return PlatformCreateDirectory(path) == kCreateDirOk ? kPathCreated : kPathParentsOnly;
}

FileExistence CheckFileExists(const char* path) {
    uint32_t attributes;
    return PlatformGetAttributes(path, &attributes) == kPlatformDone ? kFileExists : kFileMissing;
}

MakeWritableResult MakeWritable(const char* path) {
    return PlatformClearReadOnly(path) == kPlatformDone ? kMadeWritable : kNotMadeWritable;
}

static int gLegacyFamilyForTests = -1;

void SetLegacyFamilyForTests(int legacy) { gLegacyFamilyForTests = legacy; }

bool UsesLegacyFamily(void) {
    return gLegacyFamilyForTests >= 0 ? gLegacyFamilyForTests != 0 : PlatformIsLegacyFamily();
}

void DeleteExistingFile(void* owner, const char* path) {
    MakeWritable(path);
    if (UsesLegacyFamily())
        PlatformDeleteFile(path);
    else
        PlatformShellDeleteFile(owner, path);
}

bool MoveIntoPlace(const char* from, const char* target) {
    uint32_t attributes;
    if (UsesLegacyFamily()) {
        bool exists = PlatformGetAttributes(target, &attributes) == kPlatformDone;
        if (exists && (attributes & kAttrDirectory)) return false;
        if (exists) DeleteExistingFile(NULL, target);
        return PlatformMoveFile(from, target) == kPlatformDone;
    }
    // Tried at once: most targets are new or plainly writable, and one call
    // settles them. Only a refused move asks what stands there.
    if (PlatformMoveReplacing(from, target) == kPlatformDone) return true;
    if (PlatformGetAttributes(target, &attributes) != kPlatformDone || (attributes & kAttrDirectory) ||
        !(attributes & kAttrReadOnly))
        return false;
    PlatformSetAttributes(target, attributes & ~kAttrReadOnly);
    return PlatformMoveReplacing(from, target) == kPlatformDone;
}

FileStream* OpenFileShared(const char* path, const char* mode, int share) {
    StreamShare mapped;
    switch (share) {
        case kShareDenyRead: mapped = kStreamDenyRead; break;
        case kShareDenyWrite: mapped = kStreamDenyWrite; break;
        case kShareDenyNone:
        case kShareDenyNone + 1: mapped = kStreamShareAll; break;
        case 0x10: mapped = kStreamDenyReadWrite; break;
        case 0x20: mapped = kStreamDenyWrite; break;
        case 0x30: mapped = kStreamDenyRead; break;
        case 0x40: mapped = kStreamShareAll; break;
        default: return NULL;
    }
    return PlatformOpenStream(path, mode, mapped);
}

FileStream* OpenFilePlain(const char* path, const char* mode) {
    return PlatformOpenStream(path, mode, kStreamShareAll);
}
