// Names between character sets. The installer hands stored names to the
// 8-bit ("A") file calls of Windows, which read them in the system's ANSI
// code page; the packer and the tools on Linux see names in the locale's
// character set. These functions convert between the two with the system's
// own converter (iconv on POSIX, the code-page calls on Windows).
//
// A character set is named by its Windows code page number; two numbers
// stand for more: kCharsetLocale, the character set of the running program's
// locale (on POSIX the plain ASCII of the C locale is taken as UTF-8, the
// names Linux systems write), and kCodePageUtf8.
#ifndef QUORVANEL_INSTALL_CHARSET_H
#define QUORVANEL_INSTALL_CHARSET_H

#include <stddef.h>
#include <stdint.h>

enum {
    kCharsetLocale = 0,
    kCodePageUtf8 = 65001,
    kDefaultCodePage = 1252,    // Western European (Windows ANSI): what qvpack stores
    kDefaultOemCodePage = 850,  // Western European (MS-DOS OEM): names made on MS-DOS and OS/2
    kLargestCodePage = 65535
};

enum CharsetResult {
    kCharsetDone = 0,
    kCharsetUnmappable,  // a character the target cannot hold, or bytes the source does not define
    kCharsetNoRoom,      // the result does not fit out
    kCharsetUnknown      // a character set this system cannot convert
};

// Converts inLength bytes of in from one character set to the other into
// out (room bytes; a NUL is appended, which room must leave space for) and
// tells the length in *outLength. On kCharsetUnmappable, *problemAt (when
// given) is the offset in in of the first character that did not convert,
// where the system tells it (else 0).
CharsetResult ConvertCharset(uint32_t from, uint32_t to, const char* in, size_t inLength, char* out, size_t room,
                             size_t* outLength, size_t* problemAt);

// True for a code page the converter knows, with one byte a character and
// the printable ASCII characters at their ASCII bytes: the kind the
// installer's name rules and its '\' separator hold for. Double-byte code
// pages (a trail byte may be 0x5C, read as '\') and UTF-8 are not.
bool IsSingleByteCodePage(uint32_t codePage);

// True for the single-byte code pages Windows uses as a system's ANSI code
// page (Thai 874, 1250-1258), the one the 8-bit file calls read names in.
// The MS-DOS (OEM) code pages such as 437, 850 and 866 are never one.
inline bool IsWindowsAnsiCodePage(uint32_t codePage) {
    return codePage == 874 || (codePage >= 1250 && codePage <= 1258);
}

#endif
