// The installer builder: the installer program's image with the archive
// appended directly behind it, placed where the installer's scan finds it.
#ifndef QUORVANEL_PACK_INSTALLER_H
#define QUORVANEL_PACK_INSTALLER_H

#include <stddef.h>
#include <stdint.h>

#include <string>

enum {
    kScanStart = 7,                                    // the scan reads from this file offset
    kLastMarkerOffset = kScanStart + 0x1FFF0 - 10     // a marker must start here or earlier
};

// Checks that an archive appended directly to image is the first thing the
// installer's scan finds: the image is not too large for the scan, not 1 to
// 6 bytes long (the scan starts at offset 7), and holds no marker or old
// signature of its own that the scan would take first. False with a message.
bool CheckStubImage(const uint8_t* image, size_t size, std::string* error);

// Opens the file at path as the installer does and checks that its archive
// is found at archiveOffset. False with a message.
bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error);

#endif
