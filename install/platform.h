// The few operating-system services the installer spine needs. One Win32
// file and one POSIX file implement them; everything above is portable.
// Paths handed in use '\' as separator; the POSIX side turns it into '/'.
#ifndef QUORVANEL_INSTALL_PLATFORM_H
#define QUORVANEL_INSTALL_PLATFORM_H

#include <stdint.h>
#include <stdio.h>

enum {
    kCreateDirOk = 0,
    kCreateDirParentMissing = 3,  // ERROR_PATH_NOT_FOUND
    kCreateDirFailed = 1          // any other reason, existing included
};

// Creates one directory.
int PlatformCreateDirectory(const char* path);
// True on the Windows 95/98 family (top bit of GetVersion).
bool PlatformIsLegacyFamily(void);
// Deletes one file with the plain call (Windows 95/98 family).
int PlatformDeleteFile(const char* path);
// Deletes one file silently through the shell (Windows NT family).
int PlatformShellDeleteFile(void* owner, const char* path);
// 0 when the path's attributes can be read.
int PlatformAccessExists(const char* path);
// Clears the read-only attribute; 0 on success.
int PlatformClearReadOnly(const char* path);
FILE* PlatformOpenShared(const char* path, const char* mode, int shareFlag);
FILE* PlatformOpen(const char* path, const char* mode);

// Restores the last-write time from an MS-DOS date (high 16 bits) and time
// (low 16 bits) taken as local time; 0 on success.
int PlatformSetFileTime(const char* path, uint32_t dosDateTime);
// Applies the stored attribute word (read-only 0x01 at least); 0 on success.
int PlatformSetAttributes(const char* path, uint32_t attributes);
// Renames a file over an existing one; 0 on success.
int PlatformReplaceFile(const char* from, const char* to);

// How the driver talks to the person installing: the status line of the
// dialog and the error box. A front end may install hooks of its own; by
// default the Win32 build uses the dialog window and the POSIX build prints.
struct HostUiHooks {
    void (*ShowStatus)(void* owner, const char* text);
    void (*ShowError)(void* owner, const char* text, const char* caption);
};
void SetHostUiHooks(const HostUiHooks* hooks);  // null restores the default
void HostShowStatus(void* owner, const char* text);
void HostShowError(void* owner, const char* text, const char* caption);
// The platform's defaults behind the hooks.
void PlatformShowStatusDefault(void* owner, const char* text);
void PlatformShowErrorDefault(void* owner, const char* text, const char* caption);

#endif
