// The one thing the reader needs to know of the program image in front of
// the archive: whether it is a signed PE image, whose certificate table
// (the Authenticode signature) is appended behind everything else, so also
// behind the archive.
#ifndef QUORVANEL_ARCHIVE_PEIMAGE_H
#define QUORVANEL_ARCHIVE_PEIMAGE_H

#include <stdint.h>

#include "base/stream.h"

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
