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
    // A target (at most 259 characters), one character more and the NUL:
    // the backslash that the install appends, or, read from the control,
    // the character that shows a text to be too long.
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
    // No more than a path holds can be typed; a longer text put there by
    // another program is refused when OK is pressed.
    SendDlgItemMessageA(dialog, IDC_TARGET, EM_LIMITTEXT, kPathBuffer - 1, 0);
    ShowWindow(dialog, SW_SHOW);
    SetFocus(GetDlgItem(dialog, IDC_TARGET));
}

// Called by the install once the archive has been checked and found to fit
// the target (with the backslash the install appended): the directory is
// made now, and remembered for the next run. A file standing there, or a
// directory that cannot be made, stops the installation with nothing
// written or remembered.
bool MakeAndRememberTarget(void* owner, const char* targetDir) {
    if (!PrepareTargetDirectory(targetDir)) {
        // The caption is the target as the user typed it.
        char typed[kTargetBuffer];
        GetDlgItemTextA(static_cast<HWND>(owner), IDC_TARGET, typed, kTargetBuffer);
        HostShowError(owner, kTextCannotCreatePath, typed);
        return false;
    }
    char remembered[kTargetBuffer];
    size_t length = strlen(targetDir);
    memcpy(remembered, targetDir, length + 1);
    // Without the appended backslash; a drive root keeps its own.
    if (length > 3) remembered[length - 1] = '\0';
    StoreTarget(remembered);
    return true;
}

void InstallPressed(HWND dialog) {
    // One character more than the control takes, so that a longer text
    // shows as too long instead of being cut to a path that was not typed.
    char typed[kTargetBuffer];
    GetDlgItemTextA(dialog, IDC_TARGET, typed, kTargetBuffer);
    if (typed[0] == '\0') return;

    HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
    // A drive without a medium makes file operations fail quietly instead of
    // raising the system's critical-error box; stays for the whole process.
    SetErrorMode(SEM_FAILCRITICALERRORS);

    // Room for the backslash that the install appends.
    char target[kTargetBuffer];
    if (!ResolveTypedTarget(typed, target)) {
        SetCursor(previous);
        HostShowError(dialog, kTextCannotCreatePath, typed);
        return;
    }

    // Failures have been shown by the install itself; the status line keeps
    // the last name and the user may correct the target and try again.
    if (InstallFromArchive(dialog, AppPath, target, MakeAndRememberTarget) != kInstallOk) {
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
