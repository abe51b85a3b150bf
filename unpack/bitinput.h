// Packed-byte input and bit reading, most significant bit first, through
// the context's fixed input buffer.
#ifndef QUORVANEL_UNPACK_BITINPUT_H
#define QUORVANEL_UNPACK_BITINPUT_H

#include <stdint.h>

#include "base/context.h"

enum {
    // A refill keeps the last kCarriedBytes bytes of the buffer, moved to its
    // front, so that a peek near the end still finds the bytes it needs.
    kCarriedBytes = 32,
    kRefillBytes = kInputBufferSize - kCarriedBytes,
    kPeekBytes = 3  // PeekBits reads the byte at InputPos and the two after it
};

// There is no end test in the bit reader: callers refill when InputPos is
// above a limit of theirs, so that every peek until their next check stays
// in the buffer. With InputPos at most refillAbove and bits consumed before
// the last peek, that peek starts at most (7 + bits) / 8 bytes further on.
constexpr bool PeeksStayInBuffer(uint32_t refillAbove, uint32_t bitsBeforeLastPeek) {
    return refillAbove + (7 + bitsBeforeLastPeek) / 8 + kPeekBytes <= kInputBufferSize;
}
// A refill moves the last kCarriedBytes to the front and keeps InputPos
// pointing at the same byte (InputPos AND 31) only when InputPos lies among them.
constexpr bool RefillKeepsPosition(uint32_t refillAbove) { return refillAbove + 1 >= kRefillBytes; }

// Reads up to count packed bytes of the current entry.
uint32_t ReadPackedBytes(UnpackContext* ctx, uint8_t* destination, uint32_t count);
// firstFill: fill for a new entry; otherwise refill, keeping the last 32 bytes.
void FillInputBuffer(UnpackContext* ctx, bool firstFill);
// The next 16 bits, first bit in the most significant place; consumes nothing.
uint32_t PeekBits(const UnpackContext* ctx);
void SkipBits(UnpackContext* ctx, uint32_t count);

#endif
