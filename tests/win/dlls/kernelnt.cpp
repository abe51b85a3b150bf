// KERNELNT.DLL: the Windows NT family's refusal that Wine does not make.
// NT refuses MoveFileEx(MOVEFILE_REPLACE_EXISTING) over a read-only file
// (ERROR_ACCESS_DENIED); Wine replaces such a file at once, so whatever a
// program does to get past the refusal never runs there. This stand-in
// takes KERNEL32's place in a copy of the installer whose import names it
// (same-length name): every function the program imports is forwarded to
// the real KERNEL32 (kernelnt.def, made from the KERNEL32 lines of the
// import list), except MoveFileExA, which refuses as NT does and notes each
// refusal in KERNELNT.LOG beside this DLL ("MoveFileExA TARGET"), so a test
// sees that the refusal was met and got past.
#include <windows.h>

#include "standin_log.h"

namespace {

HMODULE gSelf;

void NoteRefusedMove(const char* target) {
    AppendStandInLog(gSelf, "KERNELNT.LOG", "MoveFileExA", target);
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) gSelf = self;
    return TRUE;
}

// Without MOVEFILE_REPLACE_EXISTING an existing target is refused by the
// real call already (ERROR_ALREADY_EXISTS), and a directory is never
// replaced there either.
BOOL WINAPI StubNtMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags) {
    if (to && (flags & MOVEFILE_REPLACE_EXISTING)) {
        DWORD attributes = GetFileAttributesA(to);
        if (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY) &&
            (attributes & FILE_ATTRIBUTE_READONLY)) {
            NoteRefusedMove(to);
            SetLastError(ERROR_ACCESS_DENIED);
            return FALSE;
        }
    }
    return MoveFileExA(from, to, flags);
}

}  // extern "C"
