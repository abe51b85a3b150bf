// Canonical Huffman codes for the packer: code lengths from symbol counts,
// limited to 15 bits, and the codes the decoder's tables assign to them.
#ifndef QUORVANEL_PACK_HUFFMAN_H
#define QUORVANEL_PACK_HUFFMAN_H

#include <stdint.h>

#include "base/format.h"



// Fills lengths[0..count) (count up to kMaxCodeLengths) with code lengths of
// at most maxBits (up to kMaxCodeBits) for the given
// counts: 0 for a symbol of count 0; a lone used symbol gets length 1.
// The result is deterministic (ties broken by symbol number).
void BuildCodeLengths(const uint32_t* counts, uint32_t count, uint32_t maxBits, uint8_t* lengths);

// Canonical codes of a length list, as the decoder builds them: shorter
// codes first, within one length by ascending symbol.
void AssignCanonicalCodes(const uint8_t* lengths, uint32_t count, uint16_t* codes);

#endif
