// The few operating-system services the installer spine needs. One Win32
// file and one POSIX file implement them; everything above is portable.
// Paths handed in use '\' as separator; the POSIX side turns it into '/'.
//
// Each operation answers with a named result: PlatformResult (done, or not),
// or a result of its own where the caller needs to know why.
#ifndef QUORVANEL_INSTALL_PLATFORM_H
#define QUORVANEL_INSTALL_PLATFORM_H

#include <stdint.h>

#include "base/stream.h"

enum PlatformResult {
    kPlatformDone = 0,
    kPlatformFailed = -1  // the reason is not told; no caller acts on it
};

enum CreateDirResult {
    kCreateDirOk = 0,
    kCreateDirParentMissing = 3,  // a parent is missing (ERROR_PATH_NOT_FOUND)
    kCreateDirFailed = 1          // any other reason, existing included
};

// Creates one directory.
CreateDirResult PlatformCreateDirectory(const char* path);
// True on the Windows 95/98 family (top bit of GetVersion).
bool PlatformIsLegacyFamily(void);
// True where '\' separates the parts of a host path (Windows). Elsewhere it
// is an ordinary character of a name, which a path of the core (where '\'
// is the separator) cannot carry.
bool PlatformBackslashSeparates(void);
// Deletes one file with the plain call (Windows 95/98 family).
PlatformResult PlatformDeleteFile(const char* path);
// Deletes one file silently through the shell (Windows NT family).
PlatformResult PlatformShellDeleteFile(void* owner, const char* path);
// The attribute word of what stands at path (0x10 a directory, 0x01
// read-only); failed when nothing stands there or its attributes cannot be
// read.
PlatformResult PlatformGetAttributes(const char* path, uint32_t* attributes);
// Clears the read-only attribute, keeping the others. A file that is not
// read-only is left untouched.
PlatformResult PlatformClearReadOnly(const char* path);
// Opens a stream on path (see OpenStream for the modes).
FileStream* PlatformOpenStream(const char* path, const char* mode, StreamShare share);

// Restores the last-write time from an MS-DOS date (high 16 bits) and time
// (low 16 bits) taken as local time. Creation and last-access times stay
// as they are.
PlatformResult PlatformSetFileTime(const char* path, uint32_t dosDateTime);
// The same on a file still open for writing, after its last byte: one open
// of the file fewer. The caller then sets the time by path afterwards when
// this fails.
PlatformResult PlatformSetStreamTime(FileStream* stream, uint32_t dosDateTime);
// Applies the stored attribute word (read-only 0x01 at least).
PlatformResult PlatformSetAttributes(const char* path, uint32_t attributes);
// Creates the temporary file at path with an open that fails where
// anything stands, then holds it (PlatformHoldTemporary) and notes it
// (PlatformNoteTemporary). A stop by a signal is held off from before the
// create until the note: it comes before there is a file or after the file
// is noted, never between. None when nothing could be created.
FileStream* PlatformCreateTemporary(const char* path);
// Holds a temporary file just created for this process, so that
// PlatformDeleteStaleTemporary leaves it alone while it is open.
PlatformResult PlatformHoldTemporary(FileStream* stream);
// Deletes a temporary file that an earlier, interrupted run left behind;
// one that a running installer holds open is left alone (failed).
PlatformResult PlatformDeleteStaleTemporary(const char* path);
// The temporary file being written now, or none once it was moved into
// place or deleted: what a stop by a signal deletes. Once
// PlatformRemoveTemporaryOnSignals was called, SIGINT, SIGTERM and SIGHUP
// delete it before they end the program as they would have. On Windows
// neither does anything (the installer's own window decides when it ends).
void PlatformNoteTemporary(const char* path);
void PlatformRemoveTemporaryOnSignals(void);
// The system's code of the last failed call (errno, GetLastError).
uint32_t PlatformLastError(void);
// Moves a file over an existing one (Windows NT family).
PlatformResult PlatformMoveReplacing(const char* from, const char* to);
// Moves a file to a path where nothing stands: the one move the Windows
// 95/98 family implements.
PlatformResult PlatformMoveFile(const char* from, const char* to);

// How the driver talks to the person installing: the status line and the
// error box. A front end installs hooks of its own (the install dialog
// writes its status line, qvinstall prints); by default the status goes
// nowhere and errors show in the platform's error box (Win32) or on the
// error stream (POSIX).
struct HostUiHooks {
    void (*ShowStatus)(void* owner, const char* text);
    void (*ShowError)(void* owner, const char* text, const char* caption);
    // A file that could not be written, with the system's code of why;
    // without this hook it shows as ShowError does.
    void (*ShowWriteFailure)(void* owner, const char* text, const char* caption, uint32_t systemError);
};
void SetHostUiHooks(const HostUiHooks* hooks);  // null restores the default
void HostShowStatus(void* owner, const char* text);
void HostShowError(void* owner, const char* text, const char* caption);
void HostShowWriteFailure(void* owner, const char* text, const char* caption, uint32_t systemError);
// The platform's defaults behind the hooks.
void PlatformShowStatusDefault(void* owner, const char* text);
void PlatformShowErrorDefault(void* owner, const char* text, const char* caption);
// Drops keystrokes that are waiting for the program, before a box is shown
// that they would otherwise answer at once.
void PlatformDiscardKeystrokes(void);

#endif
