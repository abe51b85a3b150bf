// The installer program's window side: the install dialog and the backdrop
// window that runs it.
#ifndef QUORVANEL_UI_UI_H
#define QUORVANEL_UI_UI_H

#include <windows.h>

// The program's instance handle, recorded by WinMain before anything else.
extern HINSTANCE AppInstance;
// The path of the running program, which carries the archive; recorded by
// WinMain before the start-up check.
extern char AppPath[];

// The product name, and the success message that begins with it: the
// success box and the backdrop title cut the name from the message.
#define QV_PRODUCT_NAME "ZT Quorvanel Lite"
#define QV_SUCCESS_MESSAGE QV_PRODUCT_NAME " has been successfully installed."
extern const char SuccessMessage[];
enum { kProductNameLength = sizeof QV_PRODUCT_NAME - 1 };

// "ZT Quorvanel Lite  V.2.21" into a buffer of at least 32 bytes; returns
// its length.
int BuildTitle(char* title);

// Paints the backdrop into a context whose client area is *client: the
// banded gradient and the title at one eighth of width and height.
void PaintBackdropContent(HDC dc, const RECT* client);

// Dialog procedure of IDD_INSTALL. Returns FALSE for every message.
INT_PTR CALLBACK InstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Window procedure of the full-screen backdrop (class "Setup").
LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
