// Win32 implementation of the platform operations. Only calls that both
// Windows 95 and NT 4.0 export and implement are imported; the shell's
// delete is loaded from the system directory when it is first needed.
#include <windows.h>
#include <shellapi.h>

#include "base/text.h"
#include "install/platform.h"

namespace {

bool IsDirectory(const char* path) {
    DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

typedef int(WINAPI* ShellFileOperation)(LPSHFILEOPSTRUCTA);

// SHFileOperationA from the system directory's SHELL32, loaded once by its
// full path, so that no SHELL32 (or DLL it pulls in) from the folder the
// installer was started from is ever taken. None when it cannot be had.
ShellFileOperation ShellDelete(void) {
    static ShellFileOperation operation = NULL;
    static bool tried = false;
    if (tried) return operation;
    tried = true;
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return NULL;
    TextBuffer text;
    StartText(&text, path + n, MAX_PATH - n);
    AppendText(&text, "\\SHELL32.DLL");
    if (!FinishText(&text)) return NULL;
    HMODULE shell = LoadLibraryA(path);
    // Through a plain pointer: the declared type of GetProcAddress's
    // answer is not the function's.
    if (shell) operation = reinterpret_cast<ShellFileOperation>(
                   reinterpret_cast<void*>(GetProcAddress(shell, "SHFileOperationA")));
    return operation;
}

// Last-write time on an open handle; the other two times stay as they are.
bool SetWriteTime(HANDLE file, uint32_t dosDateTime) {
    FILETIME local, written;
    return DosDateTimeToFileTime(static_cast<WORD>(dosDateTime >> 16), static_cast<WORD>(dosDateTime & 0xFFFF),
                                 &local) &&
           LocalFileTimeToFileTime(&local, &written) && SetFileTime(file, NULL, NULL, &written);
}

}  // namespace

CreateDirResult PlatformCreateDirectory(const char* path) {
    if (CreateDirectoryA(path, NULL)) return kCreateDirOk;
    return GetLastError() == ERROR_PATH_NOT_FOUND ? kCreateDirParentMissing : kCreateDirFailed;
}

bool PlatformIsLegacyFamily(void) { return (GetVersion() & 0x80000000u) != 0; }

bool PlatformBackslashSeparates(void) { return true; }

PlatformResult PlatformDeleteFile(const char* path) {
    if (IsDirectory(path)) return kPlatformFailed;
    return DeleteFileA(path) ? kPlatformDone : kPlatformFailed;
}

// The installer's temporary files are open without FILE_SHARE_DELETE, so
// Windows refuses to delete one that a running installer holds: nothing
// more is needed to hold it.
// Nothing stops the installer by a signal here: the create alone.
FileStream* PlatformCreateTemporary(const char* path) { return PlatformOpenStream(path, "w+bx", kStreamShareAll); }

PlatformResult PlatformHoldTemporary(FileStream*) { return kPlatformDone; }

void PlatformNoteTemporary(const char*) {}

void PlatformRemoveTemporaryOnSignals(void) {}

PlatformResult PlatformDeleteStaleTemporary(const char* path) {
    if (IsDirectory(path)) return kPlatformFailed;
    return DeleteFileA(path) ? kPlatformDone : kPlatformFailed;
}

uint32_t PlatformLastError(void) { return GetLastError(); }

PlatformResult PlatformShellDeleteFile(void* owner, const char* path) {
    // The shell would remove a directory too; only a file is ever deleted.
    if (IsDirectory(path)) return kPlatformFailed;
    ShellFileOperation operation = ShellDelete();
    if (!operation) return DeleteFileA(path) ? kPlatformDone : kPlatformFailed;
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
    return operation(&op) == 0 ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformGetAttributes(const char* path, uint32_t* attributes) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return kPlatformFailed;
    *attributes = a;
    return kPlatformDone;
}

PlatformResult PlatformClearReadOnly(const char* path) {
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return kPlatformFailed;
    if (!(a & FILE_ATTRIBUTE_READONLY)) return kPlatformDone;
    DWORD writable = a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    return SetFileAttributesA(path, writable) ? kPlatformDone : kPlatformFailed;
}

FileStream* PlatformOpenStream(const char* path, const char* mode, StreamShare share) {
    return OpenStream(path, mode, share);
}

PlatformResult PlatformSetFileTime(const char* path, uint32_t dosDateTime) {
    HANDLE h = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_WRITE, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (h == INVALID_HANDLE_VALUE) return kPlatformFailed;
    PlatformResult result = SetWriteTime(h, dosDateTime) ? kPlatformDone : kPlatformFailed;
    CloseHandle(h);
    return result;
}

PlatformResult PlatformSetStreamTime(FileStream* stream, uint32_t dosDateTime) {
    HANDLE file = static_cast<HANDLE>(StreamSystemHandle(stream));
    return SetWriteTime(file, dosDateTime) ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformSetAttributes(const char* path, uint32_t attributes) {
    return SetFileAttributesA(path, attributes) ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformMoveReplacing(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? kPlatformDone : kPlatformFailed;
}

PlatformResult PlatformMoveFile(const char* from, const char* to) {
    return MoveFileA(from, to) ? kPlatformDone : kPlatformFailed;
}

void PlatformShowStatusDefault(void*, const char*) {}

void PlatformShowErrorDefault(void* owner, const char* text, const char* caption) {
    PlatformDiscardKeystrokes();
    MessageBoxA(static_cast<HWND>(owner), text, caption, MB_ICONERROR);
}

// Keys pressed while the installation ran wait in the thread's queue; the
// box about to appear would take them as its answer.
void PlatformDiscardKeystrokes(void) {
    MSG message;
    while (PeekMessageA(&message, NULL, WM_KEYFIRST, WM_KEYLAST, PM_REMOVE)) {
    }
}
