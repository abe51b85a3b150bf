// The program group request against the shell's own Program Manager server.
//
// Wine's shell answers "PROGMAN" on the visible window station once its
// desktop runs with a display; it turns the group into a folder of the
// Start Menu and the item into a shortcut there. Our stand-in server of
// progman_test.cpp lives in a window station of its own, so the two never
// compete for the same conversation.
#include <windows.h>
#include <ddeml.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <ctype.h>

#include <string>
#include <vector>

#include "install/fileops.h"
#include "install/progman.h"
#include "support/archive_builder.h"
#include "win/emulation.h"

extern DWORD DdeInstance;

namespace {

HDDEDATA CALLBACK Ignore(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
    return 0;
}

// Waits until somebody answers "PROGMAN" here: the shell starts its server
// with the desktop, which comes up with the first window of the session.
bool ShellServerAnswers(DWORD waitMs) {
    DWORD instance = 0;
    if (DdeInitializeA(&instance, Ignore, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) return false;
    HSZ name = DdeCreateStringHandleA(instance, PROGMAN_SERVICE, CP_WINANSI);
    bool answered = false;
    DWORD start = GetTickCount();
    while (name && !answered) {
        // Touching the desktop window brings the desktop (and its shell) up.
        GetDesktopWindow();
        HCONV conversation = DdeConnect(instance, name, name, NULL);
        if (conversation) {
            DdeDisconnect(conversation);
            answered = true;
        } else if (GetTickCount() - start > waitMs) {
            break;
        } else {
            Sleep(250);
        }
    }
    if (name) DdeFreeStringHandle(instance, name);
    DdeUninitialize(instance);
    return answered;
}

std::string ProgramsFolder() {
    char path[MAX_PATH];
    if (SHGetFolderPathA(NULL, CSIDL_PROGRAMS, NULL, SHGFP_TYPE_CURRENT, path) != S_OK) return "";
    return path;
}

// Whether a shortcut file names path (in any case) as what it starts: the
// shell stores the local path as 8-bit text in the link's location record.
// The bytes are searched rather than loaded through the shell's link object,
// which the emulated 32-bit Wine does not run reliably.
bool ShortcutStarts(const std::string& link, const std::string& path) {
    std::vector<uint8_t> bytes = qvtest::ReadFileBytes(link);
    std::string text(bytes.begin(), bytes.end());
    std::string wanted = path;
    for (char& c : text) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    for (char& c : wanted) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    wanted.push_back('\0');
    return !path.empty() && text.find(wanted) != std::string::npos;
}

void RemoveGroup(const std::string& group) {
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((group + "\\*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((group + "\\" + found.cFileName).c_str());
        } while (FindNextFileA(find, &found));
        FindClose(find);
    }
    RemoveDirectoryA(group.c_str());
}

// The shell opens a folder window on each group it makes; it would outlive
// the test program.
BOOL CALLBACK CloseGroupWindow(HWND window, LPARAM found) {
    char title[64];
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() && GetWindowTextA(window, title, sizeof title) > 0 &&
        strcmp(title, PROGRAM_GROUP_NAME) == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        *reinterpret_cast<int*>(found) = 1;
    }
    return TRUE;
}

void CloseGroupWindows(DWORD waitMs) {
    int found = 0;
    for (DWORD start = GetTickCount(); !found && GetTickCount() - start < waitMs; Sleep(100))
        EnumWindows(CloseGroupWindow, reinterpret_cast<LPARAM>(&found));
}

struct ShellProgramGroupTest : ::testing::Test {
    std::string group;
    static void TearDownTestSuite() {
        // The emulated 32-bit Wine loses its desktop when they are closed.
        if (!EmulatedWine()) CloseGroupWindows(3000);
    }
    void SetUp() override {
        char display[256];
        if (GetEnvironmentVariableA("DISPLAY", display, sizeof display) == 0)
            GTEST_SKIP() << "the shell's Program Manager server needs a display (set DISPLAY)";
        ASSERT_TRUE(ShellServerAnswers(30000)) << "nothing answers PROGMAN on the desktop";
        std::string programs = ProgramsFolder();
        ASSERT_FALSE(programs.empty());
        group = programs + "\\" + PROGRAM_GROUP_NAME;
        RemoveGroup(group);
    }
    void TearDown() override {
        if (!group.empty()) RemoveGroup(group);
    }
    // A target directory (ending in a backslash) that holds QRVNL.EXE.
    static std::string InstalledTarget(const char* name) {
        std::string target = qvtest::MakeTempDir(name) + "\\";
        std::string exe = target + PROGRAM_FILE_NAME;
        FILE* f = fopen(exe.c_str(), "wb");
        if (f) {
            fputs("MZ", f);
            fclose(f);
        }
        return target;
    }
    std::string LinkIn(const std::string& folder) {
        WIN32_FIND_DATAA found;
        HANDLE find = FindFirstFileA((folder + "\\*.lnk").c_str(), &found);
        if (find == INVALID_HANDLE_VALUE) return "";
        FindClose(find);
        return folder + "\\" + found.cFileName;
    }
};

TEST_F(ShellProgramGroupTest, GroupAndItemAppearInTheStartMenu) {
    // The second target holds a blank: the shell takes the quoted command
    // line as the path, without its quotes.
    for (const char* name : {"shellgroup", "shell group"}) {
        std::string target = InstalledTarget(name);
        CreateProgramGroup(target.c_str());
        EXPECT_EQ(0u, DdeInstance);
        ASSERT_EQ(0, CheckFileExists(group.c_str())) << group;
        std::string link = LinkIn(group);
        ASSERT_FALSE(link.empty()) << "no shortcut in " << group << " for " << target;
        EXPECT_TRUE(ShortcutStarts(link, target + PROGRAM_FILE_NAME)) << link;
        RemoveGroup(group);
    }
}

TEST_F(ShellProgramGroupTest, ItemForAMissingProgramLeavesTheGroupEmpty) {
    // The shell refuses a shortcut to nothing; the group is made all the same.
    std::string target = qvtest::MakeTempDir("shellmissing") + "\\";
    CreateProgramGroup(target.c_str());
    EXPECT_EQ(0, CheckFileExists(group.c_str()));
    EXPECT_EQ("", LinkIn(group));
}

}  // namespace
