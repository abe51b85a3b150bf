// The registry value and the Windows directory behind the default target.
#include <windows.h>

#include <string.h>

#include "base/context.h"
#include "install/fileops.h"
#include "install/target.h"

void GetDefaultTarget(char* buffer) {
    buffer[0] = '\0';
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, TARGET_KEY_NAME, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        // The value's type is neither asked for nor examined.
        DWORD size = kPathSize;
        LONG result = RegQueryValueExA(key, TARGET_VALUE_NAME, NULL, NULL,
                                       reinterpret_cast<BYTE*>(buffer), &size);
        RegCloseKey(key);
        if (result == ERROR_SUCCESS && AcceptStoredTarget(buffer, size)) return;
    }
    char windows[kPathSize];
    UINT length = GetWindowsDirectoryA(windows, kPathSize);
    // 0 is a failure; kPathSize or more is the size it would have needed.
    ComposeDefaultTarget(buffer, length > 0 && length < kPathSize ? windows : NULL,
                         CheckFileExists);
}

void StoreTarget(const char* target) {
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, TARGET_KEY_NAME, 0, NULL, REG_OPTION_NON_VOLATILE,
                        KEY_WRITE, NULL, &key, &disposition) != ERROR_SUCCESS)
        return;
    RegSetValueExA(key, TARGET_VALUE_NAME, 0, REG_SZ, reinterpret_cast<const BYTE*>(target),
                   static_cast<DWORD>(strlen(target) + 1));
    RegCloseKey(key);
}

bool ResolveTypedTarget(const char* typed, char* full) {
    if (strlen(typed) >= kPathSize || !IsFullTargetPath(typed)) return false;
    // Dots, doubled backslashes and trailing blanks go as the file calls
    // would drop them anyway; what stays names the same place.
    DWORD length = GetFullPathNameA(typed, kPathSize, full, NULL);
    // 0 is a failure; kPathSize or more is the size it would have needed.
    return length > 0 && length < kPathSize && IsFullTargetPath(full);
}
