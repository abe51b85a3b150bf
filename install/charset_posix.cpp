// Character-set conversion on POSIX: iconv, with the code pages known by
// their "CP" names.
#include "install/charset.h"

#include <errno.h>
#include <iconv.h>
#include <langinfo.h>
#include <stdio.h>
#include <string.h>

namespace {

enum { kCharsetNameSize = 32 };

// The locale's character set, with the C locale's ASCII taken as UTF-8.
const char* LocaleCharset(void) {
    const char* set = nl_langinfo(CODESET);
    if (!set || !*set || strcmp(set, "ANSI_X3.4-1968") == 0 || strcmp(set, "ASCII") == 0 ||
        strcmp(set, "US-ASCII") == 0)
        return "UTF-8";
    return set;
}

void CharsetName(uint32_t charset, char* out) {
    if (charset == kCharsetLocale)
        snprintf(out, kCharsetNameSize, "%s", LocaleCharset());
    else if (charset == kCodePageUtf8)
        snprintf(out, kCharsetNameSize, "UTF-8");
    else
        snprintf(out, kCharsetNameSize, "CP%u", charset);
}

// ConvertCharset, telling in *reason the system's error of a failed
// conversion (EINVAL: the input ends inside a character).
CharsetResult Convert(uint32_t from, uint32_t to, const char* in, size_t inLength, char* out, size_t room,
                      size_t* outLength, size_t* problemAt, int* reason) {
    *reason = 0;
    *outLength = 0;
    if (problemAt) *problemAt = 0;
    if (room == 0) return kCharsetNoRoom;
    char fromName[kCharsetNameSize], toName[kCharsetNameSize];
    CharsetName(from, fromName);
    CharsetName(to, toName);
    iconv_t cd = iconv_open(toName, fromName);
    if (cd == reinterpret_cast<iconv_t>(-1)) return kCharsetUnknown;
    char* source = const_cast<char*>(in);
    size_t left = inLength;
    char* target = out;
    size_t space = room - 1;  // the NUL
    CharsetResult result = kCharsetDone;
    if (iconv(cd, &source, &left, &target, &space) == static_cast<size_t>(-1) ||
        iconv(cd, NULL, NULL, &target, &space) == static_cast<size_t>(-1)) {
        *reason = errno;
        result = *reason == E2BIG ? kCharsetNoRoom : kCharsetUnmappable;
        if (problemAt) *problemAt = static_cast<size_t>(source - in);
    }
    iconv_close(cd);
    if (result != kCharsetDone) {
        out[0] = '\0';
        return result;
    }
    *target = '\0';
    *outLength = static_cast<size_t>(target - out);
    return kCharsetDone;
}

}  // namespace

CharsetResult ConvertCharset(uint32_t from, uint32_t to, const char* in, size_t inLength, char* out, size_t room,
                             size_t* outLength, size_t* problemAt) {
    int reason;
    return Convert(from, to, in, inLength, out, room, outLength, problemAt, &reason);
}

bool IsSingleByteCodePage(uint32_t codePage) {
    if (codePage == kCharsetLocale || codePage == kCodePageUtf8 || codePage > kLargestCodePage) return false;
    for (uint32_t b = 1; b < 0x100; b++) {
        char in = static_cast<char>(b), out[8];
        size_t length;
        int reason;
        CharsetResult r = Convert(codePage, kCodePageUtf8, &in, 1, out, sizeof out, &length, NULL, &reason);
        if (r == kCharsetUnknown) return false;
        if (b >= 0x20 && b < 0x7F && (r != kCharsetDone || length != 1 || out[0] != in)) return false;
        // A lead byte alone is an incomplete character, not an undefined one.
        if (r == kCharsetUnmappable && reason == EINVAL) return false;
    }
    return true;
}
