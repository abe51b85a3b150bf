// Bit output for packed streams: most significant bit first, as the
// decoder's bit input reads them.
#ifndef QUORVANEL_PACK_BITSINK_H
#define QUORVANEL_PACK_BITSINK_H

#include <stdint.h>

#include <vector>

struct BitSink {
    std::vector<uint8_t> Bytes;  // whole bytes written so far
    uint64_t Pending = 0;        // the low PendingBits bits are not yet in Bytes
    uint32_t PendingBits = 0;
};

// Appends the low count bits of value (count 0..32), highest bit first.
inline void PutBits(BitSink* sink, uint32_t value, uint32_t count) {
    sink->Pending = (sink->Pending << count) | (count ? value & (0xFFFFFFFFu >> (32 - count)) : 0);
    sink->PendingBits += count;
    while (sink->PendingBits >= 8) {
        sink->PendingBits -= 8;
        sink->Bytes.push_back(static_cast<uint8_t>(sink->Pending >> sink->PendingBits));
    }
}

// Pads the last byte with zero bits.
inline void AlignToByte(BitSink* sink) {
    if (sink->PendingBits) PutBits(sink, 0, 8 - sink->PendingBits);
}

inline uint64_t BitsWritten(const BitSink* sink) { return sink->Bytes.size() * 8ull + sink->PendingBits; }

#endif
