// The few operating-system services the installer spine needs. One Win32
// file and one POSIX file implement them; everything above is portable.
// Paths handed in use '\' as separator; the POSIX side turns it into '/'.
#ifndef QUORVANEL_INSTALL_PLATFORM_H
#define QUORVANEL_INSTALL_PLATFORM_H

#include <stdint.h>

#include "base/stream.h"

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
// The attribute word of what stands at path (0x10 a directory, 0x01
// read-only); 0 when it exists, -1 when its attributes cannot be read.
int PlatformGetAttributes(const char* path, uint32_t* attributes);
// Clears the read-only attribute, keeping the others; 0 on success. A file
// that is not read-only is left untouched.
int PlatformClearReadOnly(const char* path);
// Opens a stream on path (see OpenStream for the modes).
FileStream* PlatformOpenStream(const char* path, const char* mode, StreamShare share);

// Restores the last-write time from an MS-DOS date (high 16 bits) and time
// (low 16 bits) taken as local time; 0 on success. Creation and last-access
// times stay as they are.
int PlatformSetFileTime(const char* path, uint32_t dosDateTime);
// The same on a file still open for writing, after its last byte: one open
// of the file fewer. Not 0 where the platform cannot promise that closing
// the stream keeps the time (the caller then sets it by path afterwards).
int PlatformSetStreamTime(FileStream* stream, uint32_t dosDateTime);
// Applies the stored attribute word (read-only 0x01 at least); 0 on success.
int PlatformSetAttributes(const char* path, uint32_t attributes);
// Moves a file over an existing one (Windows NT family); 0 on success.
int PlatformMoveReplacing(const char* from, const char* to);
// Moves a file to a path where nothing stands; 0 on success. The one move
// the Windows 95/98 family implements.
int PlatformMoveFile(const char* from, const char* to);

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
// Drops keystrokes that are waiting for the program, before a box is shown
// that they would otherwise answer at once.
void PlatformDiscardKeystrokes(void);

#endif
