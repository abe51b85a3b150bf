// The packed stream's symbols as the encoder sees them: which length,
// distance and short-distance slot codes a value. The slots themselves are
// defined with the format (base/format.h).
#ifndef QUORVANEL_PACK_LZFORMAT_H
#define QUORVANEL_PACK_LZFORMAT_H

#include <stdint.h>

#include "base/format.h"

// The farthest distance a short match (261..268) reaches.
constexpr uint32_t kShortMaxDistance =
    ShortDistanceBase[kShortSymbols - 1] + (1u << ShortDistanceExtraBits[kShortSymbols - 1]);

// The longest match a symbol of 270..297 codes at this distance, and the
// longest one of 257..260 (a recent distance) codes: the minimum, the
// distance's bonus and the largest length value, 255.
inline uint32_t MaxLengthFor(uint32_t distance) { return kMatchMinLength + 255 + MatchLengthBonus(distance); }
inline uint32_t MaxRecentLengthFor(uint32_t distance) { return kRecentMinLength + 255 + RecentLengthBonus(distance); }

// Slot of a length value 0..255 (the length minus its minimum).
inline uint32_t LengthSlot(uint32_t value) {
    if (value < 8) return value;
    uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(value));  // 3..7
    return 8 + (top - 3) * 4 + ((value >> (top - 2)) & 3);
}

// Slot of a distance 1..0x100000.
inline uint32_t DistanceSlot(uint32_t distance) {
    uint32_t value = distance - 1;
    if (value < 4) return value;
    if (value >= 0x40000) return 36 + ((value - 0x40000) >> 16);
    uint32_t top = 31 - static_cast<uint32_t>(__builtin_clz(value));  // 2..17
    return top * 2 + ((value >> (top - 1)) & 1);
}

// Symbol offset 0..7 of a short match at distance 1..256.
inline uint32_t ShortSlot(uint32_t distance) {
    uint32_t value = distance - 1;
    if (value < 8) return value >> 2;
    if (value < 128) return 31 - static_cast<uint32_t>(__builtin_clz(value)) - 1;  // 8..15 -> 2 ... 64..127 -> 5
    return 6 + ((value - 128) >> 6);
}

#endif
