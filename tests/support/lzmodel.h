// A plain reference of what the LZ decoder produces: every symbol applied
// one byte at a time to a growing output, the window seen as the last
// 0x100000 bytes of it (zeros before the first byte of a non-solid entry).
// Paired with an LzWriter it lets tests write a stream and know its output.
#ifndef QUORVANEL_TESTS_SUPPORT_LZMODEL_H
#define QUORVANEL_TESTS_SUPPORT_LZMODEL_H

#include <stdint.h>

#include <vector>

#include "support/bitwriter.h"
#include "support/bytes.h"

namespace qvtest {

struct LzModel {
    Bytes output;
    // The decoder's ring: the newest at (recentCount - 1) & 3.
    uint32_t recentDistances[4] = {0, 0, 0, 0};
    uint32_t recentCount = 0;
    uint32_t prevLength = 0, prevDistance = 0;

    // The byte at the given distance behind the end of output; distance 0
    // and 0x100000 both name the byte one window length back.
    uint8_t Behind(uint32_t distance) const;
    void Copy(uint32_t length, uint32_t distance);  // records the match, then copies

    // Each writes the symbol to writer and applies it here.
    void Literal(LzWriter& w, uint8_t byte);
    void Match(LzWriter& w, uint32_t length, uint32_t distance);
    void ShortMatch(LzWriter& w, uint32_t distance);
    void RecentMatch(LzWriter& w, int which, int lengthSlot, uint32_t extra);
    void RepeatLast(LzWriter& w);
};

// The length a match at a recent distance gets from its slot value.
uint32_t RecentMatchLength(uint32_t slotValue, uint32_t distance);

}  // namespace qvtest

#endif
