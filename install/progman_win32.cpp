// The program group through Program Manager's DDE execute commands.
#include <windows.h>
#include <ddeml.h>

#include "install/progman.h"

// The DDE instance of the running request; 0 whenever there is none, as
// DdeInitializeA requires for a new instance.
DWORD DdeInstance = 0;

// A client-only instance expects no transactions of interest.
HDDEDATA CALLBACK DdeCallback(UINT type, UINT format, HCONV conversation, HSZ topic, HSZ item,
                              HDDEDATA data, ULONG_PTR data1, ULONG_PTR data2) {
    (void)type;
    (void)format;
    (void)conversation;
    (void)topic;
    (void)item;
    (void)data;
    (void)data1;
    (void)data2;
    return 0;
}

namespace {

static_assert(sizeof(CONVCONTEXT) == 36, "Program Manager expects the 36-byte conversation context");

CONVCONTEXT ConvContext = {sizeof(CONVCONTEXT), 0, 0, 0, 0, 0, {0, SecurityAnonymous, 0, 0}};

// Sends one execute command of length bytes (NUL included). Non-zero when the
// server accepted it within the time-out. Without a conversation nothing is
// sent and no data handle is made that nobody would take over.
HDDEDATA SendExecute(HCONV conversation, char* command, uint32_t length, DWORD timeout) {
    if (conversation == 0 || length == 0) return 0;
    HDDEDATA data = DdeCreateDataHandle(DdeInstance, reinterpret_cast<LPBYTE>(command), length, 0,
                                        0, CF_TEXT, 0);
    if (data == 0) return 0;
    DWORD status;
    return DdeClientTransaction(reinterpret_cast<LPBYTE>(data), 0xFFFFFFFF, conversation, 0,
                                CF_TEXT, XTYP_EXECUTE, timeout, &status);
}

}  // namespace

void CreateProgramGroup(const char* target) {
    char* buffer =
        static_cast<char*>(VirtualAlloc(NULL, kCommandBufferSize, MEM_COMMIT, PAGE_READWRITE));
    if (buffer == NULL) return;
    if (DdeInitializeA(&DdeInstance, DdeCallback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR) {
        HSZ service = DdeCreateStringHandleA(DdeInstance, PROGMAN_SERVICE, CP_WINANSI);
        if (service != 0) {
            // One handle names both the service and the topic.
            HCONV conversation = DdeConnect(DdeInstance, service, service, &ConvContext);
            uint32_t length = FormatGroupCommand(buffer, kCommandBufferSize);
            if (SendExecute(conversation, buffer, length, kGroupTimeoutMs) != 0) {
                length = FormatItemCommand(buffer, kCommandBufferSize, target);
                SendExecute(conversation, buffer, length, kItemTimeoutMs);
            }
            DdeFreeStringHandle(DdeInstance, service);
            if (conversation != 0) DdeDisconnect(conversation);
        }
        DdeUninitialize(DdeInstance);
    }
    // Released, not merely decommitted, so that no reserved range is left
    // behind.
    VirtualFree(buffer, 0, MEM_RELEASE);
    DdeInstance = 0;
}
