// What the tools and the installer read of the program image in front of
// the archive. The installer needs one thing: whether it is a signed PE
// image, whose certificate table (the Authenticode signature) is appended
// behind everything else, so also behind the archive. The packer also reads
// the image's kind, its sections and its resources, to make sure it appends
// archives to the installer program alone.
#ifndef QUORVANEL_ARCHIVE_PEIMAGE_H
#define QUORVANEL_ARCHIVE_PEIMAGE_H

#include <stdint.h>

#include "base/stream.h"

enum {
    kPeMachineI386 = 0x014C,
    kPeMachineAmd64 = 0x8664,
    kPeMagicPe32 = 0x10B,
    kPeMagicPe32Plus = 0x20B,
    kPeFileDll = 0x2000,  // in the COFF header's characteristics
    kPeSubsystemGui = 2,
    kPeSubsystemConsole = 3,
    kPeDirectoryResources = 2,
    kPeDirectoryCertificates = 4,
    kPeResourceRcData = 10  // RT_RCDATA
};

// The headers of the PE image at the start of a stream, as far as they are
// read here.
struct PeHeaders {
    uint16_t Machine;
    uint16_t Characteristics;
    uint16_t Magic;           // kPeMagicPe32 or kPeMagicPe32Plus
    uint16_t Subsystem;
    uint32_t SectionCount;
    uint32_t SectionsAt;      // file offset of the section table (40 bytes a section)
    uint32_t DirectoryCount;  // data directories the optional header holds (8 bytes each)
    uint32_t DirectoriesAt;   // file offset of the first
};

// One section: where it lies in memory (relative to the image base) and in
// the file.
struct PeSection {
    uint32_t VirtualAddress;
    uint32_t VirtualSize;
    uint32_t RawSize;
    uint32_t RawOffset;
};

// Reads the DOS header, "PE\0\0", the COFF header and the optional header of
// the PE image at the start of stream. False when stream holds no PE image
// of either layout, or its headers are cut short.
bool ReadPeHeaders(FileStream* stream, PeHeaders* pe);
// Reads section index (below pe->SectionCount) from the section table.
bool ReadPeSection(FileStream* stream, const PeHeaders* pe, uint32_t index, PeSection* section);
// Finds resource id of the given type (in any language) and where its data
// lies in the file. False when the image has no such resource or its data
// does not lie whole within a section's bytes in the file.
bool FindPeResource(FileStream* stream, const PeHeaders* pe, uint32_t type, uint32_t id, uint32_t* offset,
                    uint32_t* size);

// Finds where the certificate table entry of the PE image at the start of
// stream lies (its file offset, 8 bytes: the table's offset and size); false
// when stream holds no PE image with one.
bool FindCertificateTableEntry(FileStream* stream, uint32_t* entryOffset);
// Reads the certificate table entry of the PE image at the start of stream
// (data directory 4 of the optional header: the table's file offset and
// size). True when the image has one that is non-empty; the stream
// position is left anywhere.
bool FindCertificateTable(FileStream* stream, uint32_t* offset, uint32_t* size);

#endif
