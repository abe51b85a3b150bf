// Checks that an installer built from a program image works: the image must
// be the installer program and must not hide the archive behind it, and the
// written installer must locate the archive where it was appended. The
// location checks run the installer's own location rule.
#ifndef QUORVANEL_PACK_STUBCHECK_H
#define QUORVANEL_PACK_STUBCHECK_H

#include <stddef.h>
#include <stdint.h>

#include <string>

// Checks that image is the installer program and that an archive appended
// directly to it is the first thing the installer's scan finds. The image
// must be a PE image for i386 (PE32) or x86-64 (PE32+), a Windows GUI
// program whose sections lie whole within it, carrying the installer's mark
// (base/format.h) as RCDATA resource IDR_INSTALLER_MARK; otherwise the
// message starts "not an installer program: " and says why. It must not be
// signed (the archive would break the signature), nor too large for the
// scan, nor hold a marker or old signature of its own that the scan would
// take first. False with a message.
bool CheckStubImage(const uint8_t* image, size_t size, std::string* error);

// Opens the file at path as the installer does and checks that its archive
// is found at archiveOffset. False with a message.
bool CheckArchiveLocated(const std::string& path, uint64_t archiveOffset, std::string* error);

#endif
