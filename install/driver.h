// The install entry and the extraction driver.
#ifndef QUORVANEL_INSTALL_DRIVER_H
#define QUORVANEL_INSTALL_DRIVER_H

#include <stdint.h>

struct UnpackContext;

enum {
    kInstallOk = 0,
    kInstallFailed = 1,       // no context, bad version, output not created
    kInstallNoArchive = 2,    // cannot open, no archive, continued volume
    kInstallBadChecksum = 3,  // unpacked data or a header did not match, or blocks are damaged
    kInstallNoWindow = 9      // the 1 MB window could not be allocated
};

// targetDir is the caller's buffer; a backslash is appended in place, so it
// needs room for one more character.
uint32_t InstallFromArchive(void* owner, const char* archivePath, char* targetDir);
uint32_t ExtractAllFiles(void* owner, UnpackContext* ctx);

#endif
