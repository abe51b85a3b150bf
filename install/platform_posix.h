// What the POSIX platform operations offer beyond install/platform.h.
#ifndef QUORVANEL_INSTALL_PLATFORM_POSIX_H
#define QUORVANEL_INSTALL_PLATFORM_POSIX_H

#include <stdint.h>

// From now on, the part of a path below root (a core path ending in '\')
// is taken as stored names in codePage and converted to the locale's
// character set at the system boundary; an operation on a name that does
// not convert fails. Root itself is used as it is. Without a call (or with
// root none) paths go to the system byte for byte.
void PlatformConvertNamesBelow(const char* root, uint32_t codePage);

#endif
