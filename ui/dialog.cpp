// The install dialog: proposes a target directory and, on OK, performs the
// whole installation synchronously inside the command handler.
#include <string.h>

#include "install/driver.h"
#include "install/fileops.h"
#include "install/platform.h"
#include "install/progman.h"
#include "install/target.h"
#include "resources/resource.h"
#include "ui/ui.h"

namespace {

enum {
    kPathBuffer = 260,
    // The typed target (at most 259 characters) plus the backslash that the
    // install appends, plus the NUL.
    kTargetBuffer = kPathBuffer + 1
};

// Places the dialog in the middle of the desktop. Arithmetic shifts: an odd
// difference loses its half pixel and a dialog larger than the desktop gets
// a negative position. The desktop's own origin is not added.
void CentreOnDesktop(HWND dialog) {
    RECT desktop, own;
    GetWindowRect(GetDesktopWindow(), &desktop);
    GetWindowRect(dialog, &own);
    int x = ((desktop.right - desktop.left) - (own.right - own.left)) >> 1;
    int y = ((desktop.bottom - desktop.top) - (own.bottom - own.top)) >> 1;
    SetWindowPos(dialog, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The driver names each file it installs in the dialog's status line.
void ShowStatusInDialog(void* owner, const char* text) {
    SetDlgItemTextA(static_cast<HWND>(owner), IDC_STATUS, text);
}

const HostUiHooks kDialogHooks = {ShowStatusInDialog, PlatformShowErrorDefault, NULL};

void InitDialog(HWND dialog) {
    SetHostUiHooks(&kDialogHooks);
    CentreOnDesktop(dialog);
    char proposal[kPathBuffer];
    GetDefaultTarget(proposal);
    SetDlgItemTextA(dialog, IDC_TARGET, proposal);
    ShowWindow(dialog, SW_SHOW);
    SetFocus(GetDlgItem(dialog, IDC_TARGET));
}

void InstallPressed(HWND dialog) {
    char target[kTargetBuffer];
    // The edit control gives at most 259 characters, leaving room for the
    // backslash appended below.
    GetDlgItemTextA(dialog, IDC_TARGET, target, kPathBuffer);
    if (target[0] == '\0') return;

    HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
    // A drive without a medium makes file operations fail quietly instead of
    // raising the system's critical-error box; stays for the whole process.
    SetErrorMode(SEM_FAILCRITICALERRORS);

    if (CheckFileExists(target) == kFileMissing && CreatePathTree(target) != kPathCreated) {
        SetCursor(previous);
        PlatformDiscardKeystrokes();
        MessageBoxA(dialog, "Cannot create path.", target, MB_OK | MB_ICONERROR);
        return;
    }

    // Remembered as typed, before anything is installed.
    StoreTarget(target);

    char executable[kPathBuffer];
    GetModuleFileNameA(AppInstance, executable, kPathBuffer);
    executable[kPathBuffer - 1] = '\0';

    // Failures have been shown by the install itself; the status line keeps
    // the last name and the user may correct the target and try again.
    if (InstallFromArchive(dialog, executable, target) != kInstallOk) {
        SetCursor(previous);
        return;
    }

    AddTrailingBackslash(target);
    SetDlgItemTextA(dialog, IDC_STATUS, "");
    SetCursor(previous);
    CreateProgramGroup(target);

    char caption[kPathBuffer];
    memcpy(caption, SuccessMessage, kProductNameLength);
    caption[kProductNameLength] = '\0';
    // Keys pressed during a long installation must not answer the box.
    PlatformDiscardKeystrokes();
    MessageBoxA(dialog, SuccessMessage, caption, MB_OK | MB_ICONINFORMATION);
    EndDialog(dialog, 0);
}

}  // namespace

INT_PTR CALLBACK InstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitDialog(dialog);
            break;
        case WM_COMMAND:
            // By the identifier alone; the notification code is not looked at.
            switch (LOWORD(wParam)) {
                case IDCANCEL: EndDialog(dialog, 0); break;
                case IDOK: InstallPressed(dialog); break;
                default: break;
            }
            break;
        default:
            break;
    }
    // FALSE throughout: WM_INITDIALOG leaves the focus on the edit control,
    // everything else goes on to the dialog manager.
    return FALSE;
}
