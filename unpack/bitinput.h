// Packed-byte input, bit reading (most significant bit first) and canonical
// Huffman decode tables with code lengths of at most 15 bits.
#ifndef QUORVANEL_UNPACK_BITINPUT_H
#define QUORVANEL_UNPACK_BITINPUT_H

#include <stdint.h>

struct UnpackContext;
struct HuffTable;

// Reads up to count packed bytes of the current entry.
uint32_t ReadPackedBytes(UnpackContext* ctx, uint8_t* destination, uint32_t count);
// firstFill non-zero: fill for a new entry; zero: refill keeping the last 32 bytes.
void FillInputBuffer(UnpackContext* ctx, int firstFill);
// The next 16 bits, first bit in the most significant place; consumes nothing.
uint32_t PeekBits(UnpackContext* ctx);
void SkipBits(UnpackContext* ctx, uint32_t count);
void BuildHuffTable(const uint8_t* lengths, HuffTable* table, uint32_t count);
uint32_t DecodeHuffSymbol(UnpackContext* ctx, const HuffTable* table);

#endif
