// How qvinstall shows entries: stored names in the character set they were
// made in, the text listing, and the machine-readable listings (JSON lines,
// tab-separated).
#ifndef QUORVANEL_TOOLS_LISTING_H
#define QUORVANEL_TOOLS_LISTING_H

#include <stdint.h>
#include <stdio.h>

#include <string>

#include "base/format.h"
#include "install/charset.h"
#include "install/walk.h"

struct NameCharsets {
    uint32_t CodePage = kDefaultCodePage;        // names made on Win32 (what qvpack stores)
    uint32_t OemCodePage = kDefaultOemCodePage;  // names made on MS-DOS and OS/2
    bool CodePageGiven = false;                  // CodePage came from the command line
};

// The code page a sealed archive's closing block records for its names
// (0: none) takes the place of sets.CodePage unless that was given on the
// command line; a value that is no Windows ANSI code page is not taken.
NameCharsets WithArchiveCodePage(NameCharsets sets, uint32_t recorded);

// The character set of names made on hostSystem: the OEM code page on
// MS-DOS and OS/2, the ANSI code page on Win32, and on Unix (and anything
// else) the bytes as the making system wrote them, taken in the locale's
// own character set (kCharsetLocale).
uint32_t StoredNameCharset(uint8_t hostSystem, const NameCharsets& sets);

// A stored name in charset, for a terminal: converted to the locale's
// character set with control characters (C0, DEL, and C1 in UTF-8) as
// \xHH; where it does not convert, every byte outside printable ASCII as
// \xHH.
std::string ShownStoredName(const char* stored, uint32_t charset);

enum ListFormat {
    kListText,
    kListJson,  // one object a line
    kListTsv    // a header line, then one line of tab-separated fields an entry
};

// The text listing: a heading naming the archive (where its signature
// stands, old or "Rar!", and its main header flags) above the column names;
// one line an entry with what the installer's own rule says of it
// (refusal) or that it continues from a previous volume; the totals.
void PrintTextHeading(FILE* out, const char* file, bool oldSignature, int32_t archiveStart, uint16_t mainFlags);
void PrintTextEntry(FILE* out, const FileBlockHeader* h, uint32_t charset, uint32_t dataOffset, EntryRefusal refusal,
                    bool continued);
void PrintTextTotals(FILE* out, uint64_t packed, uint64_t unpacked, uint32_t entries, uint32_t subBlocks);

// The header line of the tab-separated listing.
void PrintTsvHeader(FILE* out);
// One entry (its header as delivered by the walk, its names in charset) as
// a JSON line or a tab-separated line.
// installable: what the installer's own rule (CheckEntry) says of the entry.
void PrintEntryRecord(FILE* out, ListFormat format, const FileBlockHeader* h, uint32_t charset, uint32_t dataOffset,
                      bool installable);

#endif
