#include "install/progman.h"

#include "base/text.h"

uint32_t FormatGroupCommand(char* buffer, uint32_t size) {
    TextBuffer text;
    StartText(&text, buffer, size);
    AppendText(&text, "[CreateGroup(" PROGRAM_GROUP_NAME ")]");
    return FinishText(&text);
}

uint32_t FormatItemCommand(char* buffer, uint32_t size, const char* target) {
    // Only the plain blank counts: a tab does not split a command line here.
    const char* quote = HasChar(target, ' ') ? "\"" : "";
    TextBuffer text;
    StartText(&text, buffer, size);
    AppendText(&text, "[AddItem(");
    AppendText(&text, quote);
    AppendText(&text, target);
    AppendText(&text, PROGRAM_FILE_NAME);
    AppendText(&text, quote);
    AppendText(&text, "," PROGRAM_GROUP_NAME ")]");
    return FinishText(&text);
}
