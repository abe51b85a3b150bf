// The installer program's window side: the install dialog and the backdrop
// window that runs it.
#ifndef QUORVANEL_UI_UI_H
#define QUORVANEL_UI_UI_H

#include <windows.h>

// The program's instance handle, recorded by WinMain before anything else.
extern HINSTANCE AppInstance;

// "ZT Quorvanel Lite has been successfully installed."; its first
// kProductNameLength characters are the product name.
extern const char SuccessMessage[];
enum { kProductNameLength = 17 };

// Dialog procedure of IDD_INSTALL. Returns FALSE for every message.
INT_PTR CALLBACK InstallDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Window procedure of the full-screen backdrop (class "Setup").
LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

#endif
