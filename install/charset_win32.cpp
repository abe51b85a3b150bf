// Character-set conversion on Windows: through UTF-16 with the system's
// code-page calls. kCharsetLocale is CP_ACP, the code page of the A calls.
#include "install/charset.h"

#include <windows.h>

namespace {

enum { kWideRoom = 4096 };

}  // namespace

CharsetResult ConvertCharset(uint32_t from, uint32_t to, const char* in, size_t inLength, char* out, size_t room,
                             size_t* outLength, size_t* problemAt) {
    *outLength = 0;
    if (problemAt) *problemAt = 0;
    if (room == 0) return kCharsetNoRoom;
    out[0] = '\0';
    if ((from != kCharsetLocale && !IsValidCodePage(from)) || (to != kCharsetLocale && !IsValidCodePage(to)))
        return kCharsetUnknown;
    if (inLength == 0) return kCharsetDone;
    if (inLength > kWideRoom || room - 1 > 0x7FFFFFFF) return kCharsetNoRoom;
    static WCHAR wide[kWideRoom];
    int count = MultiByteToWideChar(from, MB_ERR_INVALID_CHARS, in, static_cast<int>(inLength), wide, kWideRoom);
    if (count <= 0) return kCharsetUnmappable;
    BOOL defaulted = FALSE;
    BOOL* usedDefault = to == kCodePageUtf8 ? NULL : &defaulted;
    DWORD flags = to == kCodePageUtf8 ? 0 : WC_NO_BEST_FIT_CHARS;
    int written = WideCharToMultiByte(to, flags, wide, count, out, static_cast<int>(room - 1), NULL, usedDefault);
    if (written <= 0) {
        out[0] = '\0';
        return GetLastError() == ERROR_INSUFFICIENT_BUFFER ? kCharsetNoRoom : kCharsetUnmappable;
    }
    if (defaulted) {
        out[0] = '\0';
        return kCharsetUnmappable;
    }
    out[written] = '\0';
    *outLength = static_cast<size_t>(written);
    return kCharsetDone;
}

bool IsSingleByteCodePage(uint32_t codePage) {
    CPINFO info;
    if (codePage == kCharsetLocale || codePage == kCodePageUtf8 || !IsValidCodePage(codePage) ||
        !GetCPInfo(codePage, &info) || info.MaxCharSize != 1)
        return false;
    for (uint32_t b = 0x20; b < 0x7F; b++) {
        char in = static_cast<char>(b), out[8];
        size_t length;
        if (ConvertCharset(codePage, kCodePageUtf8, &in, 1, out, sizeof out, &length, NULL) != kCharsetDone ||
            length != 1 || out[0] != in)
            return false;
    }
    return true;
}
