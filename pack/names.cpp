#include "pack/names.h"

#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <wctype.h>

#include <set>

#include "base/context.h"
#include "install/charset.h"
#include "install/target.h"
#include "install/walk.h"

namespace {

bool IsControl(unsigned char c) { return c < 0x20; }

// The character of a UTF-8 (or other) text at offset: its bytes up to the
// next character start, for messages.
std::string CharacterAt(const std::string& text, size_t offset) {
    size_t end = offset + 1;
    while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) end++;
    return text.substr(offset, end - offset);
}

FileExistence NothingExists(const char*) { return kFileMissing; }

// The character of well-formed UTF-8 at *at, which moves behind it.
uint32_t DecodeUtf8(const char* text, size_t length, size_t* at) {
    uint32_t lead = static_cast<uint8_t>(text[*at]);
    int more = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    uint32_t c = more ? lead & (0x3Fu >> more) : lead;
    (*at)++;
    for (; more > 0 && *at < length; more--, (*at)++) c = c << 6 | (static_cast<uint8_t>(text[*at]) & 0x3Fu);
    return c;
}

}  // namespace

std::string ShownName(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (IsControl(c) || c == 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

const char* WindowsNameProblem(const std::string& component) {
    for (unsigned char c : component) {
        if (IsControl(c)) return "Windows cannot create a name with a control character";
        if (c && strchr("<>:\"|?*", c)) return "Windows cannot create a name with any of < > : \" | ? *";
    }
    if (!component.empty() && (component.back() == '.' || component.back() == ' '))
        return "Windows drops a dot or a space at the end of a name and would create another";
    // Beside the device names the installer refuses, Windows takes COM and
    // LPT with a superscript 1, 2 or 3 for devices too.
    std::string base = component.substr(0, component.find('.'));
    while (!base.empty() && base.back() == ' ') base.pop_back();
    if (base.size() == 5 && (strncasecmp(base.c_str(), "COM", 3) == 0 || strncasecmp(base.c_str(), "LPT", 3) == 0) &&
        (base.compare(3, 2, "\xC2\xB9") == 0 || base.compare(3, 2, "\xC2\xB2") == 0 || base.compare(3, 2, "\xC2\xB3") == 0))
        return "Windows opens a device for this name";
    return nullptr;
}

bool StoredNameOf(const std::string& name, uint32_t codePage, std::string* stored, std::string* error) {
    size_t start = 0;
    for (;;) {
        size_t end = name.find('\\', start);
        std::string component = name.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (const char* why = WindowsNameProblem(component)) {
            *error = ShownName(name) + ": " + why;
            return false;
        }
        if (end == std::string::npos) break;
        start = end + 1;
    }
    // The installer refuses to install under such a name (a device such as
    // CON, an empty component, a component of dots and spaces).
    if (!IsSafeStoredName(name.c_str())) {
        *error = ShownName(name) + ": a name the installer refuses (a device name, an empty or dots-only component)";
        return false;
    }
    // Through UTF-8, so that a name the locale cannot read is told apart
    // from a character the code page lacks.
    char utf8[4 * kPathSize], out[4 * kPathSize];
    size_t utf8Length, length, at;
    CharsetResult read = ConvertCharset(kCharsetLocale, kCodePageUtf8, name.data(), name.size(), utf8, sizeof utf8,
                                        &utf8Length, &at);
    if (read != kCharsetDone) {
        *error = ShownName(name) + ": not a name in the locale's character set (byte " + std::to_string(at) + ")";
        return false;
    }
    switch (ConvertCharset(kCodePageUtf8, codePage, utf8, utf8Length, out, sizeof out, &length, &at)) {
        case kCharsetDone: break;
        case kCharsetUnmappable:
            *error = ShownName(name) + ": code page " + std::to_string(codePage) + " has no character for '" +
                     CharacterAt(std::string(utf8, utf8Length), at) + "' (see --codepage)";
            return false;
        case kCharsetNoRoom:
            *error = ShownName(name) + ": stored name longer than " + std::to_string(kMaxStoredName) + " bytes";
            return false;
        default:
            *error = "code page " + std::to_string(codePage) + " is not known to this system's converter";
            return false;
    }
    *stored = std::string(out, length);
    if (stored->size() > kMaxStoredName) {
        *error = ShownName(name) + ": stored name longer than " + std::to_string(kMaxStoredName) + " bytes";
        return false;
    }
    return true;
}

std::string FoldedStoredName(const std::string& stored, uint32_t codePage) {
    // Through Unicode with the upper case of a UTF-8 locale, which knows
    // every alphabet; ASCII alone where that locale cannot be had.
    static locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    char utf8[4 * kPathSize];
    size_t length;
    std::string folded;
    if (unicode &&
        ConvertCharset(codePage, kCodePageUtf8, stored.data(), stored.size(), utf8, sizeof utf8, &length, nullptr) ==
            kCharsetDone) {
        for (size_t i = 0; i < length;) {
            uint32_t c = DecodeUtf8(utf8, length, &i);
            c = static_cast<uint32_t>(towupper_l(static_cast<wint_t>(c), unicode));
            for (int shift = 0; shift < 32; shift += 8) folded += static_cast<char>(c >> shift);
        }
        return folded;
    }
    for (char c : stored) folded += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    return folded;
}

void WarnLongStoredPaths(const std::vector<std::string>& storedNames, std::vector<std::string>* warnings) {
    char target[kPathSize];
    ComposeDefaultTarget(target, "C:\\WINDOWS", NothingExists);
    size_t base = strlen(target) + 1;  // and the '\' the installer appends
    std::set<std::string> told;
    for (const std::string& name : storedNames) {
        size_t slash = name.rfind('\\');
        if (slash != std::string::npos && base + slash + 1 > kMaxDirectoryPath) {
            std::string dir = name.substr(0, slash);
            if (told.insert(dir).second)
                warnings->push_back(ShownName(dir) + ": under the default target " + target + " the directory path has " +
                                    std::to_string(base + slash) + " characters, more than the " +
                                    std::to_string(kMaxDirectoryPath - 1) + " Windows creates");
        } else if (base + name.size() + 1 > kPathSize) {
            warnings->push_back(ShownName(name) + ": under the default target " + target + " the path has " +
                                std::to_string(base + name.size()) + " characters, more than the " +
                                std::to_string(kPathSize - 1) + " the installer can open");
        }
    }
}
