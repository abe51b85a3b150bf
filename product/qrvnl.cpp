// QRVNL.EXE: the program that the installer delivers. This Lite build shows
// the product's name and version and where it was started from.
#include <windows.h>
#include <string.h>

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    char path[MAX_PATH];
    DWORD length = GetModuleFileNameA(instance, path, sizeof path);
    if (length == 0 || length >= sizeof path) path[0] = '\0';
    char text[MAX_PATH + 128];
    strcpy(text, "ZT Quorvanel Lite\nVersion 2.21\n\nTwo-panel file manager.\n\n");
    strcat(text, path);
    MessageBoxA(NULL, text, "ZT Quorvanel Lite 2.21", MB_OK | MB_ICONINFORMATION);
    return 0;
}
