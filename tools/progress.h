// How qvinstall shows an installation as it goes: a line an entry on the
// error stream or, on a terminal, one line redrawn with the share of the
// bytes done; and the captions of the driver's messages, with the target
// as the command line gave it.
#ifndef QUORVANEL_TOOLS_PROGRESS_H
#define QUORVANEL_TOOLS_PROGRESS_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

#include "install/charset.h"

struct ProgressDisplay {
    FILE* Out = stderr;
    bool Terminal = false;      // one line redrawn in place
    bool Quiet = false;         // no line an entry
    int64_t LastDrawMs = -1;    // when the terminal line was last drawn
    std::vector<uint64_t> Sizes;  // unpacked size of each entry to be installed, in order
    uint64_t Total = 0;
    uint64_t Done = 0;
    size_t Shown = 0;           // entries started
    bool LineOpen = false;
    // How names are shown: the stored names' character set, and the paths
    // whose start is shown as the command line gave it.
    uint32_t Charset = kDefaultCodePage;
    std::string TargetCore;   // with its '\'
    std::string ArchiveCore;
};

// One more entry the installation will write, of this unpacked size.
void ExpectEntry(ProgressDisplay* p, uint64_t unpacked);
// A status caption of the driver: the entry it starts on.
void ShowEntryStarted(ProgressDisplay* p, const char* name);
// Ends the terminal line, so that a message starts on a line of its own.
void EndProgressLine(ProgressDisplay* p);
// A status or error caption: a stored name, a path below the target (the
// target as given, the rest converted) or the archive's path.
std::string ShownCaption(const ProgressDisplay* p, const char* caption);

#endif
