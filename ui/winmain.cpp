// Start-up and the backdrop: a borderless window over the whole desktop with
// a black-to-blue gradient and the product title. It opens the install
// dialog as soon as the message loop runs and ends the program when the
// dialog ends.
#include <string.h>

#include "resources/resource.h"
#include "ui/ui.h"

HINSTANCE AppInstance;

namespace {

const char kClassName[] = "Setup";
const char kVersion[] = "2.21";

// Fixed but for the height, which follows the paint context's resolution.
LOGFONTA TitleFont = {
    0,                          // lfHeight, set before each use
    0, 0, 0,                    // width, escapement, orientation
    FW_NORMAL,                  // 400
    0, 0, 0,                    // italic, underline, strike-out
    ANSI_CHARSET,               // 0
    OUT_STRING_PRECIS,          // 1
    CLIP_STROKE_PRECIS,         // 2
    DRAFT_QUALITY,              // 1
    VARIABLE_PITCH | FF_SWISS,  // 0x22
    "MS Sans Serif"};

// Runs the install dialog modally. -1 when it could not be created.
INT_PTR RunInstallDialog(HWND owner) {
    return DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_INSTALL), owner, InstallDlgProc, 0);
}

// "ZT Quorvanel Lite  V.2.21": the product name cut from the success
// message, two blanks, "V." and the version.
int BuildTitle(char* title) {
    memcpy(title, SuccessMessage, kProductNameLength);
    strcpy(title + kProductNameLength, "  V.");
    strcat(title, kVersion);
    return static_cast<int>(strlen(title));
}

void PaintBackdrop(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT client;
    GetClientRect(window, &client);
    int height = client.bottom - client.top;
    int width = client.right - client.left;

    // 256 bands from black to full blue over the client height; below 256
    // pixels one pixel per band, so a low window stops short of full blue,
    // and a tall one ends in full-blue bands.
    int band = height >> 8;
    if (band == 0) band = 1;
    RECT stripe;
    stripe.left = client.left;
    stripe.right = client.right;
    for (int y = client.top, i = 0; y < client.bottom; y += band, ++i) {
        stripe.top = y;
        stripe.bottom = y + band;
        HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(i < 255 ? i : 255) << 16);
        if (brush) {
            FillRect(dc, &stripe, brush);
            DeleteObject(brush);
        }
    }

    TitleFont.lfHeight = MulDiv(-24, GetDeviceCaps(dc, LOGPIXELSY), 72);
    HFONT font = CreateFontIndirectA(&TitleFont);
    if (font) {
        HGDIOBJ previous = SelectObject(dc, font);
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, RGB(0xFF, 0xFF, 0xFF));
        char title[128];
        int length = BuildTitle(title);
        TextOutA(dc, width >> 3, height >> 3, title, length);
        // Put the context's own font back before ours goes.
        SelectObject(dc, previous);
        DeleteObject(font);
    }
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
