// Looks at the windows of other programs on the same desktop, for the
// end-to-end runs of the installer:
//   winprobe list                 every visible top-level window
//   winprobe show TITLE           the window with exactly this title and its
//                                 child controls
//   winprobe close TITLE          asks the window with this title to close
//   winprobe focus TITLE          the control id of the keyboard focus in
//                                 the thread of that window
//   winprobe settext TITLE ID TEXT
//                                 puts TEXT into the control ID of that
//                                 window (WM_SETTEXT), as another program
//                                 may: a length limit set for typing does
//                                 not apply
// Each window is one line, fields separated by tabs:
//   handle  class  control-id  x,y,width,height  text
// Exit code 0 when something was printed, 1 when the window is not there,
// 2 on bad usage.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

void PrintWindow(HWND window) {
    char className[128];
    if (!GetClassNameA(window, className, sizeof className)) className[0] = '\0';
    // WM_GETTEXT reaches controls of other processes, GetWindowText does not.
    char text[1024];
    text[0] = '\0';
    DWORD_PTR length = 0;
    if (SendMessageTimeoutA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                            SMTO_ABORTIFHUNG, 2000, &length) == 0)
        text[0] = '\0';
    text[sizeof text - 1] = '\0';
    // One line per window: line breaks in the text become blanks.
    for (char* p = text; *p; ++p)
        if (*p == '\r' || *p == '\n' || *p == '\t') *p = ' ';
    RECT r;
    GetWindowRect(window, &r);
    long id = GetParent(window) ? static_cast<long>(static_cast<int>(GetDlgCtrlID(window))) : 0;
    printf("%p\t%s\t%ld\t%ld,%ld,%ld,%ld\t%s\n", static_cast<void*>(window), className, id,
           static_cast<long>(r.left), static_cast<long>(r.top),
           static_cast<long>(r.right - r.left), static_cast<long>(r.bottom - r.top), text);
}

BOOL CALLBACK ListTopLevel(HWND window, LPARAM) {
    if (IsWindowVisible(window)) PrintWindow(window);
    return TRUE;
}

BOOL CALLBACK ListChild(HWND window, LPARAM) {
    PrintWindow(window);
    return TRUE;
}

struct Search {
    const char* title;
    HWND found;
};

BOOL CALLBACK FindByTitle(HWND window, LPARAM param) {
    Search* search = reinterpret_cast<Search*>(param);
    char title[512];
    if (IsWindowVisible(window) && GetWindowTextA(window, title, sizeof title) &&
        strcmp(title, search->title) == 0) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

HWND FindWindowByTitle(const char* title) {
    Search search = {title, NULL};
    EnumWindows(FindByTitle, reinterpret_cast<LPARAM>(&search));
    if (!search.found) fprintf(stderr, "winprobe: no window titled \"%s\"\n", title);
    return search.found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "list") == 0) {
        EnumWindows(ListTopLevel, 0);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "show") == 0) {
        HWND found = FindWindowByTitle(argv[2]);
        if (!found) return 1;
        PrintWindow(found);
        EnumChildWindows(found, ListChild, 0);
        return 0;
    }
    if (argc == 3 && strcmp(argv[1], "close") == 0) {
        HWND found = FindWindowByTitle(argv[2]);
        if (!found) return 1;
        return PostMessageA(found, WM_CLOSE, 0, 0) ? 0 : 1;
    }
    if (argc == 3 && strcmp(argv[1], "focus") == 0) {
        HWND found = FindWindowByTitle(argv[2]);
        if (!found) return 1;
        GUITHREADINFO info;
        memset(&info, 0, sizeof info);
        info.cbSize = sizeof info;
        if (!GetGUIThreadInfo(GetWindowThreadProcessId(found, NULL), &info) || !info.hwndFocus)
            return 1;
        printf("%d\n", GetDlgCtrlID(info.hwndFocus));
        return 0;
    }
    if (argc == 5 && strcmp(argv[1], "settext") == 0) {
        HWND found = FindWindowByTitle(argv[2]);
        if (!found) return 1;
        HWND control = GetDlgItem(found, atoi(argv[3]));
        DWORD_PTR done = 0;
        if (!control || SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(argv[4]),
                                            SMTO_ABORTIFHUNG, 2000, &done) == 0 || !done)
            return 1;
        return 0;
    }
    fprintf(stderr, "usage: winprobe list | show TITLE | close TITLE | focus TITLE | settext TITLE ID TEXT\n");
    return 2;
}
