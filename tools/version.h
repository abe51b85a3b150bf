// What --version tells of the command-line tools: the release they belong
// to and the archive format qvpack writes and qvinstall reads.
#ifndef QUORVANEL_TOOLS_VERSION_H
#define QUORVANEL_TOOLS_VERSION_H

#include <stdio.h>

#include "base/format.h"

#define QV_TOOLS_VERSION "2.21"

inline void PrintToolVersion(const char* program, const char* verb) {
    printf("%s " QV_TOOLS_VERSION " (ZT Quorvanel Lite)\n"
           "archive format: %s sealed archives, closing block 0x%02X\n",
           program, verb, static_cast<unsigned>(kBlockClosing));
}

#endif
