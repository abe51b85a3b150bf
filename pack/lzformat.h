// The symbol alphabet of the packed stream as the encoder sees it: length,
// distance and short-distance slots, and the length bonuses the decoder adds
// for far distances.
#ifndef QUORVANEL_PACK_LZFORMAT_H
#define QUORVANEL_PACK_LZFORMAT_H

#include <stdint.h>

enum {
    kSymRepeatLast = 256,  // same length and distance as the last match
    kSymRecent = 257,      // 257..260: one of the four recent distances
    kSymShort = 261,       // 261..268: length 2, distance 1..256
    kSymSwitchTables = 269,
    kSymMatch = 270,       // 270..297: length slot 0..27, then a distance slot
    kLengthSlots = 28,
    kDistanceSlots = 48,
    kWindowBytes = 0x100000,
    kMaxMatchLength = 260  // 258 plus both far-distance bonuses
};

extern const uint8_t kLengthBaseTable[kLengthSlots];
extern const uint8_t kLengthExtraTable[kLengthSlots];
extern const uint32_t kDistanceBaseTable[kDistanceSlots];
extern const uint8_t kDistanceExtraTable[kDistanceSlots];
extern const uint8_t kShortBaseTable[8];
extern const uint8_t kShortExtraTable[8];

// Length added by the decoder to a 270..297 match at this distance.
inline uint32_t MatchBonus(uint32_t distance) { return (distance >= 0x2000) + (distance >= 0x40000); }
// Length added to a 257..260 match at this recent distance.
inline uint32_t RecentBonus(uint32_t distance) {
    return (distance >= 0x101) + (distance >= 0x2000) + (distance >= 0x40000);
}

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
