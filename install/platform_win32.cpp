// Win32 implementation of the platform operations.
#include <windows.h>
#include <io.h>
#include <share.h>
#include <shellapi.h>
#include <stdio.h>
#include <sys/stat.h>

#include "base/text.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "resources/resource.h"

namespace {

bool IsDirectory(const char* path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

int PlatformCreateDirectory(const char* path) {
    if (CreateDirectoryA(path, NULL)) return kCreateDirOk;
    return GetLastError() == ERROR_PATH_NOT_FOUND ? kCreateDirParentMissing : kCreateDirFailed;
}

bool PlatformIsLegacyFamily(void) { return (GetVersion() & 0x80000000u) != 0; }

int PlatformDeleteFile(const char* path) {
    if (IsDirectory(path)) return -1;
    return DeleteFileA(path) ? 0 : -1;
}

int PlatformShellDeleteFile(void* owner, const char* path) {
    // The shell would remove a directory too; only a file is ever deleted.
    if (IsDirectory(path)) return -1;
    char from[MAX_PATH + 2];
    TextBuffer name;
    StartText(&name, from, MAX_PATH);
    AppendText(&name, path);
    from[name.Length + 1] = '\0';  // a list of one name
    SHFILEOPSTRUCTA op;
    ZeroMemory(&op, sizeof op);
    op.hwnd = static_cast<HWND>(owner);
    op.wFunc = FO_DELETE;
    op.pFrom = from;
    op.fFlags = FOF_SILENT | FOF_NOCONFIRMATION;
    return SHFileOperationA(&op) == 0 ? 0 : -1;
}

int PlatformAccessExists(const char* path) { return _access(path, 0) == 0 ? 0 : -1; }

int PlatformClearReadOnly(const char* path) { return _chmod(path, _S_IREAD | _S_IWRITE) == 0 ? 0 : -1; }

FILE* PlatformOpenShared(const char* path, const char* mode, int share) {
    int flag;
    switch (share) {
        case kShareDenyRead: flag = _SH_DENYRD; break;
        case kShareDenyWrite: flag = _SH_DENYWR; break;
        case kShareDenyNone:
        case kShareDenyNone + 1: flag = _SH_DENYNO; break;
        default: flag = share; break;
    }
    return _fsopen(path, mode, flag);
}

// What fopen does, through the one opening call the program imports.
FILE* PlatformOpen(const char* path, const char* mode) { return _fsopen(path, mode, _SH_DENYNO); }

int PlatformSetFileTime(const char* path, uint32_t dosDateTime) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return -1;
    int result = -1;
    FILETIME created, accessed, local, written;
    if (GetFileTime(h, &created, &accessed, &written) &&
        DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16),
                              static_cast<WORD>(dosDateTime & 0xFFFF), &local) &&
        LocalFileTimeToFileTime(&local, &written) && SetFileTime(h, &created, &accessed, &written))
        result = 0;
    CloseHandle(h);
    return result;
}

int PlatformSetAttributes(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) ? 0 : -1;
}

int PlatformReplaceFile(const char* from, const char* to) {
    if (IsDirectory(to)) return -1;
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : -1;
}

void PlatformShowStatusDefault(void* owner, const char* text) {
    SetDlgItemTextA(static_cast<HWND>(owner), IDC_STATUS, text);
}

void PlatformShowErrorDefault(void* owner, const char* text, const char* caption) {
    MessageBoxA(static_cast<HWND>(owner), text, caption, MB_ICONERROR);
}

