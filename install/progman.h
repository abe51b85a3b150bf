// The Program Manager group "Quorvanel" with one item for the installed
// program, requested through DDE once an installation has succeeded.
#ifndef QUORVANEL_INSTALL_PROGMAN_H
#define QUORVANEL_INSTALL_PROGMAN_H

#include <stdint.h>

enum {
    kCommandBufferSize = 2048,
    kGroupTimeoutMs = 10000,
    kItemTimeoutMs = 1000
};

#define PROGMAN_SERVICE "PROGMAN"
#define PROGRAM_GROUP_NAME "Quorvanel"
#define PROGRAM_FILE_NAME "QRVNL.EXE"

// Asks Program Manager for the group and, once that succeeded, for the item
// that starts target + QRVNL.EXE. target ends in a backslash. Nothing is
// reported, whatever the outcome.
void CreateProgramGroup(const char* target);

// The two execute commands, formatted into buffer (size bytes). Each returns
// the length to send, terminating NUL included, or 0 when the command would
// not fit (it is then not to be sent at all).
uint32_t FormatGroupCommand(char* buffer, uint32_t size);
// The item's command line is quoted when target holds a blank (0x20).
uint32_t FormatItemCommand(char* buffer, uint32_t size, const char* target);

#endif
