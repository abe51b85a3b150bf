// The target directory the install dialog proposes, and the registry value
// that remembers the directory of the last installation.
#ifndef QUORVANEL_INSTALL_TARGET_H
#define QUORVANEL_INSTALL_TARGET_H

#include <stdint.h>

#include "install/fileops.h"

// HKEY_CURRENT_USER\Software\Quorvanel, value "Dir" (REG_SZ).
#define TARGET_KEY_NAME "Software\\Quorvanel"
#define TARGET_VALUE_NAME "Dir"

// Fills buffer (kPathSize bytes, caller-owned) with the stored directory or,
// when none is stored, the computed default. Never fails as seen by the
// caller; the result may be empty when no sound default can be formed.
void GetDefaultTarget(char* buffer);
// Remembers target (with its NUL) for the next run. Failures are ignored.
// Called only for a target the installation has accepted and made.
void StoreTarget(const char* target);

// True for a path that names one place whatever the current drive and
// directory: a drive letter, a colon and a backslash ("C:\..."), or a share
// ("\\server\share..."). Relative forms ("dir\sub", "C:dir", "\dir") and
// the device namespaces ("\\.\", "\\?\") are not.
bool IsFullTargetPath(const char* path);

// The target typed in the dialog made the absolute directory to install to,
// into full (kPathSize bytes). False, with nothing done on disk, when it is
// refused: longer than kPathSize - 1 characters, not a full path, or one
// the system cannot make absolute within kPathSize - 1 characters.
bool ResolveTypedTarget(const char* typed, char* full);

// Makes sure a directory stands at target: made, with its missing parents,
// when nothing stands there. False when it could not be made or something
// else stands there (a file is never taken for the target directory).
bool PrepareTargetDirectory(const char* target);

// The decision behind GetDefaultTarget, apart from the registry and the
// system. A stored value is size bytes as the registry query returned them
// into buffer (kPathSize bytes). True when it is a usable, non-empty
// string, which is then NUL-terminated inside the buffer; false when the
// default has to be computed (empty, kPathSize bytes without a terminator,
// or not a full path: a relative value would name a different place
// depending on where the installer runs).
bool AcceptStoredTarget(char* buffer, uint32_t size);

// Tells whether a path exists (file or directory), as CheckFileExists.
typedef FileExistence (*PathExistsFunc)(const char* path);

// Computes the default from the Windows directory: its parent (the drive
// root when Windows lies directly under it), then "Programme" when that
// exists there, else "Program Files", then "Quorvanel". buffer holds
// kPathSize bytes. When windowsDirectory is null or empty, its parent is
// empty, or the result would not fit, buffer is left empty: the user then
// types a directory.
void ComposeDefaultTarget(char* buffer, const char* windowsDirectory, PathExistsFunc exists);

#endif
