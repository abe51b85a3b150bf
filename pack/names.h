// Stored names as Windows will see them. The installer hands a stored name
// to the 8-bit file calls, which read it in the system's ANSI code page and
// refuse or silently change what Windows cannot create; so the packer takes
// each name from the locale's character set, refuses what Windows would not
// create as named, and stores the name in the code page the installer will
// meet (install/charset.h).
#ifndef QUORVANEL_PACK_NAMES_H
#define QUORVANEL_PACK_NAMES_H

#include <stdint.h>

#include <string>
#include <vector>

enum {
    // A directory path Windows creates holds at most 247 characters and its
    // NUL (MAX_PATH less room for an 8.3 name).
    kMaxDirectoryPath = 248
};

// Why Windows could not create a file or directory named component (one
// name between separators, in the locale's character set), or none: the
// characters < > : " | ? * and control characters, a dot or a space at its
// end (Windows drops them: "trail." would be created as "trail"), or COM
// and LPT with a superscript digit, which Windows takes for devices.
const char* WindowsNameProblem(const std::string& component);

// The stored form of name (in the locale's character set, '\' between
// components): each component judged by WindowsNameProblem and by the
// installer's own rules (IsSafeStoredName), then converted to codePage.
// False with a message that gives the name and why.
bool StoredNameOf(const std::string& name, uint32_t codePage, std::string* stored, std::string* error);

// A stored name folded as Windows compares names, ignoring case in every
// alphabet the code page holds, not in ASCII alone.
std::string FoldedStoredName(const std::string& stored, uint32_t codePage);

// Warnings for stored names the installer could not create under its
// default target ("C:\Program Files\Quorvanel"): a directory part that
// makes a directory path of more than 247 characters, a whole path of more
// than 259. One warning a directory.
void WarnLongStoredPaths(const std::vector<std::string>& storedNames, std::vector<std::string>* warnings);

// name with control characters shown as \xHH, for messages.
std::string ShownName(const std::string& name);

#endif
