#include "install/progman.h"

#include <stdio.h>
#include <string.h>

namespace {

uint32_t FormatChecked(int written, uint32_t size) {
    if (written < 0 || static_cast<uint32_t>(written) >= size) return 0;
    return static_cast<uint32_t>(written) + 1;
}

}  // namespace

uint32_t FormatGroupCommand(char* buffer, uint32_t size) {
    return FormatChecked(snprintf(buffer, size, "[CreateGroup(%s)]", PROGRAM_GROUP_NAME), size);
}

uint32_t FormatItemCommand(char* buffer, uint32_t size, const char* target) {
    // Only the plain blank counts: a tab does not split a command line here.
    const char* format =
        strchr(target, ' ') ? "[AddItem(\"%s%s\",%s)]" : "[AddItem(%s%s,%s)]";
    return FormatChecked(
        snprintf(buffer, size, format, target, PROGRAM_FILE_NAME, PROGRAM_GROUP_NAME), size);
}
