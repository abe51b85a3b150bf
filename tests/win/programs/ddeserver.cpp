// A stand-in for Program Manager that the program-group tests talk to.
//
//   ddeserver LOG CONTROL [READY-EVENT [LIFETIME-MS [PARENT-PID]]]
//
// Answers to the service and topic "PROGMAN" and appends every event to LOG,
// one record each: a kind byte ('C' connect, 'E' execute, 'D' disconnect),
// the payload length as 32-bit little-endian, then the payload: the topic
// for a connect, the execute data byte for byte (its NUL included) for an
// execute. LOG is opened for each record, so a test may delete it between
// two conversations.
//
// CONTROL is read at every connect and tells how to answer the commands of
// that conversation, one directive a line:
//   refuse-group       the group command is answered as not processed
//   delay-group MS     the group command is answered after MS milliseconds
//   delay-item MS      the item command is answered after MS milliseconds
// A missing or empty file accepts everything at once.
//
// READY-EVENT, when given, names an event that is set once the service is
// registered. The server ends on WM_QUIT (post it to its main thread), when
// the process PARENT-PID ends, or by itself after LIFETIME-MS (default
// 300000), so neither a test nor a crashed test program leaves it behind.
#include <windows.h>
#include <ddeml.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

namespace {

DWORD Instance = 0;
HSZ Service = 0;
const char* LogPath = NULL;
const char* ControlPath = NULL;

struct Mode {
    bool RefuseGroup;
    DWORD GroupDelay;
    DWORD ItemDelay;
};
Mode Current = {false, 0, 0};

void Record(char kind, const void* payload, uint32_t length) {
    FILE* log = fopen(LogPath, "ab");
    if (!log) return;
    uint8_t head[5] = {static_cast<uint8_t>(kind), static_cast<uint8_t>(length),
                       static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length >> 16),
                       static_cast<uint8_t>(length >> 24)};
    fwrite(head, 1, sizeof head, log);
    if (length) fwrite(payload, 1, length, log);
    fclose(log);
}

void ReadMode() {
    Mode mode = {false, 0, 0};
    FILE* control = fopen(ControlPath, "r");
    if (control) {
        char line[128];
        unsigned long ms;
        while (fgets(line, sizeof line, control)) {
            if (strncmp(line, "refuse-group", 12) == 0)
                mode.RefuseGroup = true;
            else if (sscanf(line, "delay-group %lu", &ms) == 1)
                mode.GroupDelay = ms;
            else if (sscanf(line, "delay-item %lu", &ms) == 1)
                mode.ItemDelay = ms;
        }
        fclose(control);
    }
    Current = mode;
}

HDDEDATA Execute(HDDEDATA data) {
    DWORD size = DdeGetData(data, NULL, 0, 0);
    char* bytes = static_cast<char*>(calloc(1, size + 1));
    if (!bytes) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    DdeGetData(data, reinterpret_cast<LPBYTE>(bytes), size, 0);
    Record('E', bytes, size);
    bool group = strncmp(bytes, "[CreateGroup(", 13) == 0;
    bool item = strncmp(bytes, "[AddItem(", 9) == 0;
    free(bytes);
    // Sleeping keeps the conversation busy, as a server that is slow to
    // answer would.
    if (group && Current.GroupDelay) Sleep(Current.GroupDelay);
    if (item && Current.ItemDelay) Sleep(Current.ItemDelay);
    if (group && Current.RefuseGroup) return reinterpret_cast<HDDEDATA>(DDE_FNOTPROCESSED);
    return reinterpret_cast<HDDEDATA>(DDE_FACK);
}

HDDEDATA CALLBACK Callback(UINT type, UINT, HCONV, HSZ topic, HSZ, HDDEDATA data, ULONG_PTR,
                           ULONG_PTR) {
    switch (type) {
        case XTYP_CONNECT: {
            if (DdeCmpStringHandles(topic, Service) != 0) return 0;
            char name[64] = {0};
            DWORD length = DdeQueryStringA(Instance, topic, name, sizeof name, CP_WINANSI);
            Record('C', name, length);
            ReadMode();
            return reinterpret_cast<HDDEDATA>(TRUE);
        }
        case XTYP_EXECUTE:
            return Execute(data);
        case XTYP_DISCONNECT:
            Record('D', NULL, 0);
            return 0;
        default:
            return 0;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: ddeserver LOG CONTROL [READY-EVENT [LIFETIME-MS [PARENT-PID]]]\n");
        return 2;
    }
    LogPath = argv[1];
    ControlPath = argv[2];
    DWORD lifetime = argc > 4 ? strtoul(argv[4], NULL, 10) : 300000;
    HANDLE parent =
        argc > 5 ? OpenProcess(SYNCHRONIZE, FALSE, strtoul(argv[5], NULL, 10)) : NULL;

    if (DdeInitializeA(&Instance, Callback,
                       APPCLASS_STANDARD | CBF_FAIL_ADVISES | CBF_FAIL_REQUESTS | CBF_FAIL_POKES |
                           CBF_SKIP_REGISTRATIONS | CBF_SKIP_UNREGISTRATIONS,
                       0) != DMLERR_NO_ERROR) {
        fprintf(stderr, "ddeserver: DdeInitializeA failed\n");
        return 1;
    }
    Service = DdeCreateStringHandleA(Instance, "PROGMAN", CP_WINANSI);
    if (!Service || !DdeNameService(Instance, Service, 0, DNS_REGISTER)) {
        fprintf(stderr, "ddeserver: cannot register PROGMAN\n");
        DdeUninitialize(Instance);
        return 1;
    }
    UINT_PTR timer = SetTimer(NULL, 0, lifetime, NULL);
    if (argc > 3) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[3]);
        if (ready) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }

    MSG msg;
    bool running = true;
    while (running) {
        DWORD woke = MsgWaitForMultipleObjects(parent ? 1 : 0, &parent, FALSE, INFINITE,
                                               QS_ALLINPUT);
        if (parent && woke == WAIT_OBJECT_0) break;  // the test program is gone
        while (running && PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT ||
                (msg.message == WM_TIMER && msg.hwnd == NULL && msg.wParam == timer))
                running = false;
            else {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
        }
    }
    KillTimer(NULL, timer);
    if (parent) CloseHandle(parent);
    DdeNameService(Instance, Service, 0, DNS_UNREGISTER);
    DdeFreeStringHandle(Instance, Service);
    DdeUninitialize(Instance);
    return 0;
}
