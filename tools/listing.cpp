#include "tools/listing.h"

#include <string.h>

#include "base/dostime.h"
#include "install/walk.h"

namespace {

std::string Hex(uint32_t byte) {
    char text[8];
    snprintf(text, sizeof text, "\\x%02X", byte & 0xFF);
    return text;
}

// Every byte outside printable ASCII as \xHH.
std::string AsciiOnly(const char* name) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; p++)
        out += (*p >= 0x20 && *p < 0x7F) ? std::string(1, static_cast<char>(*p)) : Hex(*p);
    return out;
}

// Control characters of converted text as \xHH: C0, DEL, and C1 as UTF-8
// writes them (C2 80 .. C2 9F).
std::string WithoutControls(const char* text, size_t length) {
    std::string out;
    for (size_t i = 0; i < length; i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) {
            out += Hex(c);
        } else if (c == 0xC2 && i + 1 < length && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80) {
            out += Hex(c) + Hex(static_cast<unsigned char>(text[i + 1]));
            i++;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

// The name in UTF-8; false when it does not convert.
bool Utf8Name(const char* stored, uint32_t charset, std::string* name) {
    char out[4 * (kMaxStoredName + 1)];
    size_t length;
    if (ConvertCharset(charset, kCodePageUtf8, stored, strlen(stored), out, sizeof out, &length, NULL) !=
        kCharsetDone)
        return false;
    name->assign(out, length);
    return true;
}

std::string StoredHex(const char* stored) {
    std::string out;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(stored); *p; p++) {
        char two[4];
        snprintf(two, sizeof two, "%02x", *p);
        out += two;
    }
    return out;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c == 0x7F) {
            char u[8];
            snprintf(u, sizeof u, "\\u%04x", c);
            out += u;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

// The MS-DOS date and time as ISO 8601 local time, fields as stored.
std::string IsoTime(uint32_t dos) {
    DosTimeFields f = UnpackDosDateTime(dos);
    char text[32];
    snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second);
    return text;
}

}  // namespace

uint32_t StoredNameCharset(uint8_t hostSystem, const NameCharsets& sets) {
    switch (hostSystem) {
        case kHostMsDos:
        case kHostOs2: return sets.OemCodePage;
        case kHostWin32: return sets.CodePage;
        default: return kCharsetLocale;
    }
}

NameCharsets WithArchiveCodePage(NameCharsets sets, uint32_t recorded) {
    if (!sets.CodePageGiven && IsWindowsAnsiCodePage(recorded) && IsSingleByteCodePage(recorded))
        sets.CodePage = recorded;
    return sets;
}

std::string ShownStoredName(const char* stored, uint32_t charset) {
    char out[4 * (kMaxStoredName + 1)];
    size_t length;
    if (ConvertCharset(charset, kCharsetLocale, stored, strlen(stored), out, sizeof out, &length, NULL) !=
        kCharsetDone)
        return AsciiOnly(stored);
    return WithoutControls(out, length);
}

void PrintTsvHeader(FILE* out) {
    fputs("name\tstored\thost\tcodepage\tpacked\tunpacked\ttime\tdos_time\tattributes\tcrc\tflags\tversion\t"
          "method\tdata_offset\tdirectory\tinstallable\n",
          out);
}

void PrintEntryRecord(FILE* out, ListFormat format, const FileBlockHeader* h, uint32_t charset, uint32_t dataOffset,
                      bool installable) {
    std::string name;
    bool named = Utf8Name(h->Name, charset, &name);
    bool directory = IsPassedOverEntry(h);
    installable = installable && !directory;
    char crc[16];
    snprintf(crc, sizeof crc, "%08X", h->DataCrc);
    if (format == kListJson) {
        fprintf(out,
                "{\"name\":%s,\"stored\":\"%s\",\"host\":%u,\"codepage\":%s,\"packed\":%u,\"unpacked\":%u,"
                "\"time\":\"%s\",\"dos_time\":%u,\"attributes\":%u,\"crc\":\"%s\",\"flags\":%u,\"version\":%u,"
                "\"method\":%u,\"data_offset\":%u,\"directory\":%s,\"installable\":%s}\n",
                named ? JsonString(name).c_str() : "null", StoredHex(h->Name).c_str(), h->HostSystem,
                charset == kCharsetLocale ? "null" : std::to_string(charset).c_str(), h->PackedSize,
                h->UnpackedSize, IsoTime(h->DosDateTime).c_str(), h->DosDateTime, h->Attributes, crc, h->BlockFlags,
                h->VersionNeeded, h->MethodCode, dataOffset, directory ? "true" : "false",
                installable ? "true" : "false");
        return;
    }
    fprintf(out, "%s\t%s\t%u\t%s\t%u\t%u\t%s\t%u\t%u\t%s\t%u\t%u\t%u\t%u\t%u\t%u\n",
            named ? WithoutControls(name.data(), name.size()).c_str() : "", StoredHex(h->Name).c_str(),
            h->HostSystem, charset == kCharsetLocale ? "" : std::to_string(charset).c_str(), h->PackedSize,
            h->UnpackedSize, IsoTime(h->DosDateTime).c_str(), h->DosDateTime, h->Attributes, crc, h->BlockFlags,
            h->VersionNeeded, h->MethodCode, dataOffset, directory ? 1u : 0u, installable ? 1u : 0u);
}
