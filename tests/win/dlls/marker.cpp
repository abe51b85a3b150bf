// A DLL planted next to the installer under the name of one that Windows
// (or Wine) loads on demand. Loaded into a process, it leaves a file
// NAME.LOADED beside itself, so a test sees that the program took a DLL
// from its own folder. It exports nothing.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID) {
    if (reason != DLL_PROCESS_ATTACH) return TRUE;
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH - 8);
    if (n == 0 || n >= MAX_PATH - 8) return TRUE;
    lstrcpyA(path + n, ".LOADED");
    HANDLE mark = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (mark != INVALID_HANDLE_VALUE) CloseHandle(mark);
    return TRUE;
}
