// The program group request against a DDE server of our own and against
// Wine's shell.
//
// Wine's shell answers "PROGMAN" on every desktop of the visible window
// station once a display is there, so a second server of ours on the same
// desktop would compete with it for the conversation. Our server and the
// requests sent to it therefore live in a window station of their own: Wine
// gives an invisible window station no display, and so no shell server. The
// test of Wine's own server runs on the ordinary desktop.
#include <windows.h>
#include <ddeml.h>
#include <shlobj.h>

#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "install/progman.h"
#include "win/emulation.h"

extern DWORD DdeInstance;

namespace {

const DWORD kGuardMs = 60000;  // a request that has not returned by then hangs

// In the emulated 32-bit Wine these tests return at once (see
// emulation.h); the shell's own server (progman_shell_test.cpp) is tested
// in both builds.
std::string TestDirectory() {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string s(path, n);
    return s.substr(0, s.find_last_of('\\') + 1);
}

// A window station with one desktop, apart from the visible one.
struct IsolatedDesktop {
    HWINSTA Station = NULL;
    HDESK Desktop = NULL;
    std::string Name;  // station\desktop, for a child's start-up information

    bool Open(const char* tag) {
        char station[64];
        snprintf(station, sizeof station, "qv%s%lu", tag, GetCurrentProcessId());
        Station = CreateWindowStationA(station, 0, WINSTA_ALL_ACCESS, NULL);
        if (!Station) return false;
        HWINSTA previous = GetProcessWindowStation();
        if (SetProcessWindowStation(Station)) {
            Desktop = CreateDesktopA("Default", NULL, NULL, 0, GENERIC_ALL, NULL);
            SetProcessWindowStation(previous);
        }
        Name = std::string(station) + "\\Default";
        return Desktop != NULL;
    }
    void Close() {
        if (Desktop) CloseDesktop(Desktop);
        if (Station) CloseWindowStation(Station);
        Desktop = NULL;
        Station = NULL;
    }
};

// Each thread opens the desktop for itself: Wine closes a thread's desktop
// handle when the thread ends.
DWORD WINAPI RequestOnDesktop(void* target) {
    HDESK desktop = OpenDesktopA("Default", 0, FALSE, GENERIC_ALL);
    if (!desktop || !SetThreadDesktop(desktop)) return 1;
    CreateProgramGroup(static_cast<const char*>(target));
    return 0;
}

// Runs CreateProgramGroup on a thread attached to the isolated desktop. The
// process belongs to that window station meanwhile, as DDE's atoms are kept
// per window station. False when the request did not come back in time.
bool RequestGroup(const IsolatedDesktop& desk, const char* target, DWORD* elapsedMs = NULL) {
    HWINSTA previous = GetProcessWindowStation();
    if (!SetProcessWindowStation(desk.Station)) return false;
    DWORD start = GetTickCount();
    HANDLE thread = CreateThread(NULL, 0, RequestOnDesktop, const_cast<char*>(target), 0, NULL);
    DWORD wait = thread ? WaitForSingleObject(thread, kGuardMs) : WAIT_FAILED;
    DWORD code = 1;
    if (wait == WAIT_OBJECT_0) GetExitCodeThread(thread, &code);
    if (elapsedMs) *elapsedMs = GetTickCount() - start;
    if (thread) CloseHandle(thread);
    SetProcessWindowStation(previous);
    return wait == WAIT_OBJECT_0 && code == 0;
}

struct LogRecord {
    char Kind;
    std::string Data;
};

std::vector<LogRecord> ReadLog(const std::string& path) {
    std::vector<LogRecord> records;
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) return records;
    uint8_t head[5];
    while (fread(head, 1, 5, f) == 5) {
        uint32_t length = head[1] | head[2] << 8 | head[3] << 16 | static_cast<uint32_t>(head[4]) << 24;
        std::string data(length, '\0');
        if (length && fread(&data[0], 1, length, f) != length) break;
        records.push_back({static_cast<char>(head[0]), data});
    }
    fclose(f);
    return records;
}

std::string Executes(const std::vector<LogRecord>& records) {
    std::string out;
    for (const LogRecord& r : records)
        if (r.Kind == 'E') out += r.Data.c_str() + std::string("\n");
    return out;
}

// Our stand-in server, started once for the suite in its own window station.
struct ProgramGroupServerTest : ::testing::Test {
    static IsolatedDesktop Desk;
    static PROCESS_INFORMATION Server;
    static std::string LogPath, ControlPath;

    static void SetUpTestSuite() {
        if (EmulatedWine()) return;  // and so does each test
        ASSERT_TRUE(Desk.Open("dde"));
        std::string dir = TestDirectory();
        char tag[32];
        snprintf(tag, sizeof tag, "%lu", GetCurrentProcessId());
        LogPath = dir + "ddeserver-" + tag + ".log";
        ControlPath = dir + "ddeserver-" + tag + ".control";
        DeleteFileA(LogPath.c_str());
        DeleteFileA(ControlPath.c_str());
        std::string ready = std::string("qvddeready") + tag;
        HANDLE event = CreateEventA(NULL, TRUE, FALSE, ready.c_str());
        // It ends by itself after four minutes, or with this process.
        std::string command = "\"" + dir + "ddeserver.exe\" \"" + LogPath + "\" \"" + ControlPath +
                              "\" " + ready + " 240000 " + tag;
        STARTUPINFOA si;
        ZeroMemory(&si, sizeof si);
        si.cb = sizeof si;
        std::string desktop = Desk.Name;
        si.lpDesktop = &desktop[0];
        ASSERT_TRUE(CreateProcessA(NULL, &command[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &Server))
            << command << " (error " << GetLastError() << ")";
        HANDLE waits[2] = {event, Server.hProcess};
        DWORD which = WaitForMultipleObjects(2, waits, FALSE, 180000);
        CloseHandle(event);
        ASSERT_EQ(WAIT_OBJECT_0, which) << "the test server did not come up";
    }
    static void TearDownTestSuite() {
        if (Server.hProcess) {
            PostThreadMessageA(Server.dwThreadId, WM_QUIT, 0, 0);
            if (WaitForSingleObject(Server.hProcess, 30000) != WAIT_OBJECT_0)
                TerminateProcess(Server.hProcess, 1);
            CloseHandle(Server.hProcess);
            CloseHandle(Server.hThread);
            Server.hProcess = NULL;
        }
        DeleteFileA(LogPath.c_str());
        DeleteFileA(ControlPath.c_str());
        Desk.Close();
    }

    void Control(const char* directives) {
        FILE* f = fopen(ControlPath.c_str(), "w");
        ASSERT_TRUE(f != NULL);
        fputs(directives, f);
        fclose(f);
    }
    void SetUp() override {
        if (EmulatedWine()) return;
        ASSERT_TRUE(Server.hProcess != NULL) << "the test server is not running";
        DeleteFileA(LogPath.c_str());
        Control("");
    }
    // The records of one request, once the server has seen its end.
    std::vector<LogRecord> Conversation() {
        for (int i = 0; i < 300; i++) {
            std::vector<LogRecord> records = ReadLog(LogPath);
            if (!records.empty() && records.back().Kind == 'D') return records;
            Sleep(100);
        }
        ADD_FAILURE() << "the conversation did not end";
        return ReadLog(LogPath);
    }
};

IsolatedDesktop ProgramGroupServerTest::Desk;
PROCESS_INFORMATION ProgramGroupServerTest::Server;
std::string ProgramGroupServerTest::LogPath;
std::string ProgramGroupServerTest::ControlPath;

TEST_F(ProgramGroupServerTest, PlainTargetGetsGroupThenItemByteForByte) {
    if (EmulatedWine()) return;
    ASSERT_TRUE(RequestGroup(Desk, "C:\\Programme\\Quorvanel\\"));
    EXPECT_EQ(0u, DdeInstance);
    std::vector<LogRecord> records = Conversation();
    ASSERT_EQ(4u, records.size());
    EXPECT_EQ('C', records[0].Kind);
    EXPECT_STREQ("PROGMAN", records[0].Data.c_str());
    EXPECT_EQ('E', records[1].Kind);
    EXPECT_EQ(std::string("[CreateGroup(Quorvanel)]\0", 25), records[1].Data);
    EXPECT_EQ('E', records[2].Kind);
    const char item[] = "[AddItem(C:\\Programme\\Quorvanel\\QRVNL.EXE,Quorvanel)]";
    EXPECT_EQ(std::string(item, sizeof item), records[2].Data);
    EXPECT_EQ('D', records[3].Kind);
}

TEST_F(ProgramGroupServerTest, BlankInTargetQuotesTheItemCommandLine) {
    if (EmulatedWine()) return;
    ASSERT_TRUE(RequestGroup(Desk, "C:\\Program Files\\Quorvanel\\"));
    std::vector<LogRecord> records = Conversation();
    ASSERT_EQ(4u, records.size());
    const char item[] = "[AddItem(\"C:\\Program Files\\Quorvanel\\QRVNL.EXE\",Quorvanel)]";
    EXPECT_EQ(std::string(item, sizeof item), records[2].Data);
}

TEST_F(ProgramGroupServerTest, RefusedGroupCommandSuppressesTheItem) {
    if (EmulatedWine()) return;
    Control("refuse-group\n");
    ASSERT_TRUE(RequestGroup(Desk, "C:\\Programme\\Quorvanel\\"));
    EXPECT_EQ("[CreateGroup(Quorvanel)]\n", Executes(Conversation()));
    EXPECT_EQ(0u, DdeInstance);
}

TEST_F(ProgramGroupServerTest, SlowGroupCommandWithinItsTimeOutStillGetsTheItem) {
    if (EmulatedWine()) return;
    Control("delay-group 1500\ndelay-item 1500\n");
    ASSERT_TRUE(RequestGroup(Desk, "C:\\Q\\"));
    EXPECT_EQ("[CreateGroup(Quorvanel)]\n[AddItem(C:\\Q\\QRVNL.EXE,Quorvanel)]\n",
              Executes(Conversation()));
}

TEST_F(ProgramGroupServerTest, LateGroupCommandSuppressesTheItem) {
    if (EmulatedWine()) return;
    Control("delay-group 10600\n");
    DWORD elapsed = 0;
    ASSERT_TRUE(RequestGroup(Desk, "C:\\Programme\\Quorvanel\\", &elapsed));
    EXPECT_EQ("[CreateGroup(Quorvanel)]\n", Executes(Conversation()));
    EXPECT_EQ(0u, DdeInstance);
    // The group command is given its full ten seconds before it counts as
    // late.
    EXPECT_GE(elapsed, 9500u);
}

// Nothing answers in a window station of its own without our server.
struct ProgramGroupNoServerTest : ::testing::Test {
    IsolatedDesktop desk;
    void SetUp() override {
        if (EmulatedWine()) return;
        ASSERT_TRUE(desk.Open("none"));
    }
    void TearDown() override { desk.Close(); }
};

BOOL CALLBACK CountOwnWindows(HWND window, LPARAM param) {
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId()) ++*reinterpret_cast<int*>(param);
    return TRUE;
}

// Allocations of one page that are reserved but no longer committed: what
// the command buffer leaves behind when it is decommitted and not released.
int CountReservedPages() {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    int count = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* p = NULL;
    while (VirtualQuery(p, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_RESERVE && info.BaseAddress == info.AllocationBase &&
            info.RegionSize == system.dwPageSize)
            count++;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= p) break;
        p = next;
    }
    return count;
}

TEST_F(ProgramGroupNoServerTest, NoServerMeansNoTrafficAndNothingLeftBehind) {
    if (EmulatedWine()) return;
    // The first request sets up what the process keeps anyway.
    ASSERT_TRUE(RequestGroup(desk, "C:\\Programme\\Quorvanel\\"));
    int reservedBefore = CountReservedPages();
    for (int i = 0; i < 3; i++) ASSERT_TRUE(RequestGroup(desk, "C:\\Programme\\Quorvanel\\"));
    EXPECT_EQ(0u, DdeInstance);
    int windows = 0;
    EnumDesktopWindows(desk.Desktop, CountOwnWindows, reinterpret_cast<LPARAM>(&windows));
    EXPECT_EQ(0, windows) << "no message box and no DDE window may stay";
    EXPECT_LE(CountReservedPages(), reservedBefore) << "the command buffer is released";
}

}  // namespace
