// Start-up and the backdrop: a borderless window over the whole desktop with
// a black-to-blue gradient and the product title. It opens the install
// dialog as soon as the message loop runs and ends the program when the
// dialog ends.
#include <string.h>

#include "install/driver.h"
#include "resources/resource.h"
#include "ui/ui.h"

HINSTANCE AppInstance;
char AppPath[MAX_PATH];

namespace {

const char kClassName[] = "Setup";

// Runs the install dialog modally. -1 when it could not be created.
INT_PTR RunInstallDialog(HWND owner) {
    return DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_INSTALL), owner, InstallDlgProc, 0);
}

void PaintBackdrop(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    PaintBackdropContent(dc, &client);
    EndPaint(window, &paint);
}

}  // namespace

LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            // The first message the loop retrieves: the dialog opens at once.
            PostMessageA(window, WM_COMMAND, ID_START_INSTALL, 0);
            return 0;
        case WM_PAINT:
            PaintBackdrop(window);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == ID_START_INSTALL) {
                // Ends the program whatever the dialog's result; a dialog that
                // could not even be created ends it with a failure code.
                INT_PTR result = RunInstallDialog(window);
                PostQuitMessage(result == -1 ? 1 : 0);
            }
            return 0;
        case WM_CLOSE:
        case WM_DESTROY:
            // WM_CLOSE does not destroy the window; it goes with the process.
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcA(window, message, wParam, lParam);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    AppInstance = instance;
    GetModuleFileNameA(AppInstance, AppPath, MAX_PATH);
    AppPath[MAX_PATH - 1] = '\0';
    // A damaged or incomplete download is told before anything else is
    // done: no window, no registry access, nothing written. The check has
    // shown its box; the program ends with its result.
    uint32_t check = CheckInstaller(NULL, AppPath);
    if (check != kInstallOk) return static_cast<int>(check);

    WNDCLASSA windowClass;
    memset(&windowClass, 0, sizeof windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = BackdropWndProc;
    windowClass.hInstance = AppInstance;
    windowClass.hIcon = LoadIconA(AppInstance, MAKEINTRESOURCEA(IDI_SETUP));
    windowClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    windowClass.lpszClassName = kClassName;
    RegisterClassA(&windowClass);

    RECT desktop;
    GetWindowRect(GetDesktopWindow(), &desktop);
    HWND window = CreateWindowExA(0, kClassName, kClassName, WS_POPUP, 0, 0,
                                  desktop.right - desktop.left, desktop.bottom - desktop.top,
                                  NULL, NULL, AppInstance, NULL);
    if (!window) {
        // No backdrop (the class could not be registered or the window not
        // created): the installation is still offered, in the dialog alone.
        // The exit code tells whether the dialog could be shown at all.
        return RunInstallDialog(NULL) == -1 ? 1 : 0;
    }
    ShowWindow(window, SW_SHOW);

    MSG message;
    message.wParam = 0;
    while (GetMessageA(&message, NULL, 0, 0)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return static_cast<int>(message.wParam);
}

namespace {

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFn)(DWORD);
typedef BOOL(WINAPI* SetDllDirectoryFn)(LPCSTR);

// A kernel function that this Windows may lack, or none.
FARPROC KernelFunction(const char* name) {
    HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
    return kernel ? GetProcAddress(kernel, name) : NULL;
}

// Installers are started from download folders, where a web page may have
// left a DLL named like one that Windows loads on demand. From here on,
// DLLs come from the system directory only (Windows 8, and 7 and Vista with
// KB2533623), or at least not from the current directory (XP SP1 and
// later). Windows 95 to 2000 have neither call; the program then loads
// nothing on its own but SHELL32, by its full path.
void KeepDllsToTheSystemDirectory(void) {
    // Through a plain pointer: the declared type of GetProcAddress's answer
    // is not the function's.
    SetDefaultDllDirectoriesFn restrict = reinterpret_cast<SetDefaultDllDirectoriesFn>(
        reinterpret_cast<void*>(KernelFunction("SetDefaultDllDirectories")));
    if (restrict && restrict(LOAD_LIBRARY_SEARCH_SYSTEM32)) return;
    SetDllDirectoryFn exclude =
        reinterpret_cast<SetDllDirectoryFn>(reinterpret_cast<void*>(KernelFunction("SetDllDirectoryA")));
    if (exclude) exclude("");
}

}  // namespace

// The process starts here rather than in a C runtime's start-up code: the
// program carries no C runtime, and nothing in it needs what that would
// prepare (command line, environment, constructors, thread-local storage).
// The command line is not used. The instance handle is the address the
// image is loaded at, which the linker names __ImageBase.
extern "C" IMAGE_DOS_HEADER __ImageBase;

extern "C" void SetupEntry(void) {
    KeepDllsToTheSystemDirectory();
    HINSTANCE instance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    ExitProcess(static_cast<UINT>(WinMain(instance, NULL, const_cast<LPSTR>(""), SW_SHOWDEFAULT)));
}
