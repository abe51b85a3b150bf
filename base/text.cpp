#include "base/text.h"

bool HasChar(const char* s, char c) {
    for (; *s; s++)
        if (*s == c) return true;
    return false;
}

void StartText(TextBuffer* text, char* out, uint32_t size) {
    text->Out = out;
    text->Size = size;
    text->Length = 0;
    text->Overflow = false;
    out[0] = '\0';
}

void AppendText(TextBuffer* text, const char* s) {
    for (; *s; s++) {
        if (text->Length + 1 >= text->Size) {
            text->Overflow = true;
            break;
        }
        text->Out[text->Length++] = *s;
    }
    text->Out[text->Length] = '\0';
}

void AppendHex(TextBuffer* text, uint32_t value, uint32_t minDigits) {
    char digits[9];
    uint32_t n = 0;
    do {
        digits[7 - n] = "0123456789abcdef"[value & 15];
        value >>= 4;
        n++;
    } while (value || (n < minDigits && n < 8));
    digits[8] = '\0';
    AppendText(text, digits + 8 - n);
}

uint32_t FinishText(const TextBuffer* text) { return text->Overflow ? 0 : text->Length + 1; }
