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

void FormatAttributes(uint32_t a, char* out) {
    const char letters[] = "RHSVDA";  // bits 0x01 .. 0x20
    for (int i = 0; i < 6; i++) out[i] = (a & (1u << i)) ? letters[i] : '.';
    out[6] = '\0';
}

void FormatDosTime(uint32_t dos, char* out, size_t size) {
    DosTimeFields f = UnpackDosDateTime(dos);
    snprintf(out, size, "%04u-%02u-%02u %02u:%02u:%02u", f.Year, f.Month, f.Day, f.Hour, f.Minute, f.Second);
}

void FormatRatio(uint64_t packed, uint64_t unpacked, char* out, size_t size) {
    if (unpacked == 0)
        snprintf(out, size, "%5s", "-");
    else
        snprintf(out, size, "%4u%%", static_cast<unsigned>(packed * 100 / unpacked));
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

void PrintTextHeading(FILE* out, const char* file, bool oldSignature, int32_t archiveStart, uint16_t mainFlags) {
    fprintf(out, "Archive %s (%s signature at offset %d, main header flags %04X)\n", file, oldSignature ? "old" : "Rar!",
            archiveStart, mainFlags);
    fprintf(out, "%10s %10s %5s %-19s %-6s %-8s %-5s %-4s %10s %s\n", "Packed", "Unpacked", "Ratio", "Date and time",
            "Attr", "Checksum", "Flags", "Ver", "Data at", "Name");
}

void PrintTextEntry(FILE* out, const FileBlockHeader* h, uint32_t charset, uint32_t dataOffset, EntryRefusal refusal,
                    bool continued) {
    char attrs[8], when[32], ratio[16];
    FormatAttributes(h->Attributes, attrs);
    FormatDosTime(h->DosDateTime, when, sizeof when);
    FormatRatio(h->PackedSize, h->UnpackedSize, ratio, sizeof ratio);
    static const char* const kRefusals[] = {"", "  (refused: unsupported version)", "  (refused: stored data, method 0)",
                                            "  (refused: unsafe name)"};
    const char* note = continued ? "  (incomplete: continued from a previous volume)" : kRefusals[refusal];
    fprintf(out, "%10u %10u %s %s %s %08X %04X  %u.%u  %10u %s%s\n", h->PackedSize, h->UnpackedSize, ratio, when, attrs,
            h->DataCrc, h->BlockFlags, h->VersionNeeded / 10, h->VersionNeeded % 10, dataOffset,
            ShownStoredName(h->Name, charset).c_str(), note);
}

void PrintTextTotals(FILE* out, uint64_t packed, uint64_t unpacked, uint32_t entries, uint32_t subBlocks) {
    char ratio[16];
    FormatRatio(packed, unpacked, ratio, sizeof ratio);
    fprintf(out, "%10llu %10llu %s %u entries", static_cast<unsigned long long>(packed),
            static_cast<unsigned long long>(unpacked), ratio, entries);
    if (subBlocks) fprintf(out, ", %u sub-blocks", subBlocks);
    fprintf(out, "\n");
}
