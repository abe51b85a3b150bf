#include "install/target.h"

#include <string.h>

#include "base/context.h"
#include "base/format.h"
#include "install/fileops.h"
#include "install/platform.h"

namespace {

const char kPreferredFolder[] = "Programme";
const char kFallbackFolder[] = "Program Files";
const char kProductFolder[] = "Quorvanel";

// Appends text when it fits a kPathSize buffer with its NUL.
bool AppendIfFits(char* buffer, const char* text) {
    size_t have = strlen(buffer);
    size_t add = strlen(text);
    if (have + add >= kPathSize) return false;
    memcpy(buffer + have, text, add + 1);
    return true;
}

// AddTrailingBackslash, when there is room for it.
bool AddBackslashIfFits(char* buffer) {
    if (strlen(buffer) + 1 >= kPathSize) return false;
    AddTrailingBackslash(buffer);
    return true;
}

bool IsDriveLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Length of the name at the start of text, up to a separator or the end.
size_t NameLength(const char* text) {
    size_t n = 0;
    while (text[n] != '\0' && text[n] != '\\' && text[n] != '/') n++;
    return n;
}

}  // namespace

bool IsFullTargetPath(const char* path) {
    if (IsDriveLetter(path[0])) return path[1] == ':' && path[2] == '\\';
    if (path[0] != '\\' || path[1] != '\\') return false;
    const char* server = path + 2;
    size_t serverLength = NameLength(server);
    // "\\.\" and "\\?\" lead to devices and raw paths, not to a share.
    if (serverLength == 0 || (serverLength == 1 && (server[0] == '.' || server[0] == '?'))) return false;
    if (server[serverLength] != '\\') return false;
    return NameLength(server + serverLength + 1) > 0;
}

bool PrepareTargetDirectory(const char* target) {
    uint32_t attributes;
    if (PlatformGetAttributes(target, &attributes) != kPlatformDone) {
        // Its result is not taken at its word: with a trailing backslash it
        // reports the last directory as failed although it was made.
        CreatePathTree(target);
        if (PlatformGetAttributes(target, &attributes) != kPlatformDone) return false;
    }
    return (attributes & kAttrDirectory) != 0;
}

bool AcceptStoredTarget(char* buffer, uint32_t size) {
    if (size > kPathSize) return false;
    // The registry hands back REG_SZ data as stored; data written without
    // its NUL comes back without one, and a full buffer leaves no room to
    // add it: a path of kPathSize characters is too long anyway.
    uint32_t length = 0;
    while (length < size && buffer[length] != '\0') length++;
    if (length == size) {
        if (size >= kPathSize) return false;
        buffer[size] = '\0';
    }
    return IsFullTargetPath(buffer);
}

void ComposeDefaultTarget(char* buffer, const char* windowsDirectory, PathExistsFunc exists) {
    buffer[0] = '\0';
    if (windowsDirectory == NULL || windowsDirectory[0] == '\0') return;
    size_t length = strlen(windowsDirectory);
    if (length >= kPathSize) return;
    memcpy(buffer, windowsDirectory, length + 1);
    CutLastComponent(buffer);
    // A parent that cut down to nothing would make the default relative to
    // wherever the installer happens to run.
    if (buffer[0] == '\0' || !AddBackslashIfFits(buffer)) {
        buffer[0] = '\0';
        return;
    }
    size_t folderStart = strlen(buffer);
    bool fits = AppendIfFits(buffer, kPreferredFolder);
    if (!fits || exists(buffer) != kFileExists) {
        buffer[folderStart] = '\0';
        fits = AppendIfFits(buffer, kFallbackFolder);
    }
    if (!fits || !AddBackslashIfFits(buffer) || !AppendIfFits(buffer, kProductFolder))
        buffer[0] = '\0';
}
