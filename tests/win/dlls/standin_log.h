// The log a stand-in kernel DLL keeps beside itself: one line for each
// call it refused as the system it stands in for would, so that a test
// sees the refusal was met.
#ifndef QUORVANEL_TESTS_WIN_DLLS_STANDIN_LOG_H
#define QUORVANEL_TESTS_WIN_DLLS_STANDIN_LOG_H

#include <windows.h>

// Appends "FIRST SECOND\r\n" (or "FIRST\r\n" without a second part) to the
// file logName in the directory of the DLL self.
inline void AppendStandInLog(HMODULE self, const char* logName, const char* first, const char* second) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\') n--;
    if (n == 0 || n + lstrlenA(logName) + 1 > MAX_PATH) return;
    lstrcpyA(path + n, logName);
    HANDLE log = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, NULL);
    if (log == INVALID_HANDLE_VALUE) return;
    SetFilePointer(log, 0, NULL, FILE_END);
    DWORD wrote;
    WriteFile(log, first, lstrlenA(first), &wrote, NULL);
    if (second) {
        WriteFile(log, " ", 1, &wrote, NULL);
        WriteFile(log, second, lstrlenA(second), &wrote, NULL);
    }
    WriteFile(log, "\r\n", 2, &wrote, NULL);
    CloseHandle(log);
}

#endif
