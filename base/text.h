// Bounded text building for the few texts the installer composes (command
// strings, temporary names, captions), without the C library's formatting,
// which would bring a formatter of its own into the installer program.
// Pieces are appended while they fit; the text always ends in a NUL, and
// one that did not fit is marked as such, never cut silently.
#ifndef QUORVANEL_BASE_TEXT_H
#define QUORVANEL_BASE_TEXT_H

#include <stdint.h>

struct TextBuffer {
    char* Out;
    uint32_t Size;    // bytes at Out, the NUL included
    uint32_t Length;  // characters written so far
    bool Overflow;    // something did not fit
};

// Whether c occurs in s (c not NUL).
bool HasChar(const char* s, char c);

// size must be at least 1.
void StartText(TextBuffer* text, char* out, uint32_t size);
// As much of s as fits.
void AppendText(TextBuffer* text, const char* s);
// value in lower-case hex digits, at least minDigits of them (zeros first).
void AppendHex(TextBuffer* text, uint32_t value, uint32_t minDigits);
// The length with its NUL when everything fit, else 0.
uint32_t FinishText(const TextBuffer* text);

#endif
