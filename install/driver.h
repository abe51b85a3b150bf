// The install entry and the extraction driver.
#ifndef QUORVANEL_INSTALL_DRIVER_H
#define QUORVANEL_INSTALL_DRIVER_H

#include <stddef.h>
#include <stdint.h>

struct UnpackContext;
struct FileBlockHeader;

enum {
    kInstallOk = 0,
    kInstallFailed = 1,       // no context, an entry that cannot be installed, a file not written
    kInstallNoArchive = 2,    // cannot open, no archive, continued volume
    kInstallBadChecksum = 3,  // unpacked data or a header did not match, or the archive is not whole
    kInstallBadTarget = 4,    // the target cannot take the files (paths too long, not made)
    kInstallNoWindow = 9      // the 1 MB window could not be allocated
};

// What the installer says when its own file is not whole.
extern const char kTextDamagedInstaller[];  // "The installer is damaged or incomplete. ..."
extern const char kTextCannotCreatePath[];  // "Cannot create path."

// Makes the target directory (and whatever a front end keeps of it) once
// the archive has been checked and found to fit; false, having told the
// user why, stops the installation before anything is written.
typedef bool (*PrepareTargetFn)(void* owner, const char* targetDir);

// What becomes of a file entry when a front end installs only some.
enum EntrySelection {
    kSelectInstall,     // installed as without a selection
    kSelectDecodeOnly,  // decoded in skip mode, nothing written: a solid entry after it needs the state it leaves
    kSelectPassOver,    // neither decoded nor written
    kSelectStop         // nothing from here on is decoded; the installation ends as if the archive did
};
// Asked for each file entry in archive order, after the whole archive has
// been checked and the target prepared.
typedef EntrySelection (*SelectEntryFn)(void* owner, const FileBlockHeader* header);

// The check an installer makes at its start, before it shows anything:
// the whole file at path is walked and checked. Returns 0, or the result to
// end with after the box that told the user (damaged or incomplete: 2 or
// 3; unreadable: 2; no memory: 9).
uint32_t CheckInstaller(void* owner, const char* path);

// targetDir is the caller's buffer; a backslash is appended in place, so it
// needs room for one more character. The archive is checked whole before
// anything is written; prepare (when given) then makes the target. Without
// select every file entry is installed.
uint32_t InstallFromArchive(void* owner, const char* archivePath, char* targetDir,
                            PrepareTargetFn prepare = NULL, SelectEntryFn select = NULL);
uint32_t ExtractAllFiles(void* owner, UnpackContext* ctx, PrepareTargetFn prepare = NULL,
                         SelectEntryFn select = NULL);

#endif
