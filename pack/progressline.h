// qvpack's progress line on a terminal: a bar, the share done and the
// megabytes, redrawn at most ten times a second however often the packer
// reports (it reports every 64 KB or so).
#ifndef QUORVANEL_PACK_PROGRESSLINE_H
#define QUORVANEL_PACK_PROGRESSLINE_H

#include <stdint.h>
#include <stdio.h>

enum { kProgressIntervalMs = 100 };

struct ProgressLine {
    FILE* Out;                // none: nothing is shown
    const char* Phase;        // "packing", "verifying"
    int64_t (*Clock)(void);   // milliseconds of a monotonic clock; none: the system's
    int32_t LastPermille;     // -1 before the first drawing of a phase
    int64_t LastDrawMs;
    uint32_t Redraws;         // drawings so far
};

ProgressLine StartProgressLine(FILE* out, const char* phase);
// The packer's progress callback (user is the ProgressLine): draws when the
// share has changed and a tenth of a second has passed since the last
// drawing, and always the first and the finished state.
void UpdateProgressLine(void* user, uint64_t done, uint64_t total);
// Clears the line; the next phase draws afresh.
void EndProgressLine(ProgressLine* line);

#endif
