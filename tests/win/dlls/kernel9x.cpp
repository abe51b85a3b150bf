// KERNEL9X.DLL: Windows 95/98 seen through Wine. Wine's kernel implements
// every call for every Windows version it claims to be, so a program that
// runs there may still reach a call that the 9x kernel only exports. This
// stand-in takes KERNEL32's place in a copy of the installer whose import
// names it (same-length name): every function the program imports is
// forwarded to the real KERNEL32 (kernel9x.def, made from the list of
// functions both Windows 95 and NT 4.0 export), except
//  - those the 9x kernel exports without implementing: they fail with
//    ERROR_CALL_NOT_IMPLEMENTED, as there, and note the call in
//    KERNEL9X.LOG beside this DLL, so a test sees that one was reached;
//  - GetProcAddress, which does not find in KERNEL32 what Windows 95 and
//    98 lack (the DLL search functions of later Windows among them).
#include <windows.h>

#include "standin_log.h"

namespace {

// What GetProcAddress does not find in the kernel of Windows 95/98.
const char* const kAbsentOn9x[] = {
    "SetDefaultDllDirectories", "SetDllDirectoryA", "SetDllDirectoryW", "AddDllDirectory",
    "RemoveDllDirectory",       "ReplaceFileA",     "ReplaceFileW",     "GetFileAttributesExA",
    "GetFileAttributesExW",     "MoveFileWithProgressA", "MoveFileWithProgressW", "CreateHardLinkA",
    "SetFileInformationByHandle", "GetFileInformationByHandleEx", "CopyFileExA", "CopyFileExW",
};

// The exports that fail as the 9x kernel's do.
const char* const kStubbedOn9x[] = {"MoveFileExA", "MoveFileExW", "CreateFileW", "DeleteFileW",
                                    "MoveFileW",   "GetFileAttributesW", "SetFileAttributesW",
                                    "CreateDirectoryW", "LoadLibraryW", "GetModuleFileNameW"};

bool Same(const char* a, const char* b) { return lstrcmpA(a, b) == 0; }

HMODULE gSelf;

void NoteRefusedCall(const char* name) { AppendStandInLog(gSelf, "KERNEL9X.LOG", name, NULL); }

BOOL NotImplemented(const char* name) {
    NoteRefusedCall(name);
    SetLastError(ERROR_CALL_NOT_IMPLEMENTED);
    return FALSE;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gSelf = self;
    return TRUE;
}

FARPROC WINAPI Stub9xGetProcAddress(HMODULE module, LPCSTR name) {
    // By ordinal: passed on as it is.
    if (reinterpret_cast<ULONG_PTR>(name) > 0xFFFF && module == GetModuleHandleA("KERNEL32.DLL")) {
        for (const char* absent : kAbsentOn9x) {
            if (Same(name, absent)) {
                SetLastError(ERROR_PROC_NOT_FOUND);
                return NULL;
            }
        }
        for (const char* stubbed : kStubbedOn9x)
            if (Same(name, stubbed)) return GetProcAddress(gSelf, name);
    }
    return GetProcAddress(module, name);
}

BOOL WINAPI Stub9xMoveFileExA(LPCSTR, LPCSTR, DWORD) { return NotImplemented("MoveFileExA"); }
BOOL WINAPI Stub9xMoveFileExW(LPCWSTR, LPCWSTR, DWORD) { return NotImplemented("MoveFileExW"); }
HANDLE WINAPI Stub9xCreateFileW(LPCWSTR, DWORD, DWORD, LPSECURITY_ATTRIBUTES, DWORD, DWORD, HANDLE) {
    NotImplemented("CreateFileW");
    return INVALID_HANDLE_VALUE;
}
BOOL WINAPI Stub9xDeleteFileW(LPCWSTR) { return NotImplemented("DeleteFileW"); }
BOOL WINAPI Stub9xMoveFileW(LPCWSTR, LPCWSTR) { return NotImplemented("MoveFileW"); }
DWORD WINAPI Stub9xGetFileAttributesW(LPCWSTR) {
    NotImplemented("GetFileAttributesW");
    return INVALID_FILE_ATTRIBUTES;
}
BOOL WINAPI Stub9xSetFileAttributesW(LPCWSTR, DWORD) { return NotImplemented("SetFileAttributesW"); }
BOOL WINAPI Stub9xCreateDirectoryW(LPCWSTR, LPSECURITY_ATTRIBUTES) { return NotImplemented("CreateDirectoryW"); }
HMODULE WINAPI Stub9xLoadLibraryW(LPCWSTR) {
    NotImplemented("LoadLibraryW");
    return NULL;
}
DWORD WINAPI Stub9xGetModuleFileNameW(HMODULE, LPWSTR, DWORD) {
    NotImplemented("GetModuleFileNameW");
    return 0;
}

}  // extern "C"
