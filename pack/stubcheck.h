// Checks that an installer built from a program image finds its archive:
// the image must not hide the archive behind it, and the written installer
// must locate it where it was appended. Both checks run the installer's own
// location rule.
#ifndef QUORVANEL_PACK_STUBCHECK_H
#define QUORVANEL_PACK_STUBCHECK_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Checks that an archive appended directly to image is the first thing the
// installer's scan finds: the image is not signed (the archive would break
// the signature), not too large for the scan, not 1 to 6 bytes long (the
// scan starts at offset 7), and holds no marker or old signature of its own
// that the scan would take first. False with a message.
bool CheckStubImage(const uint8_t* image, size_t size, std::string* error);

// Opens the file at path as the installer does and checks that its archive
// is found at archiveOffset. False with a message.
bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error);

#endif
