// CRC-32 over whole blocks by carry-less multiplication, where the build and
// the processor have it (the native tools on x86-64); elsewhere it takes
// nothing and the table-driven CRC does all the work.
#ifndef QUORVANEL_ARCHIVE_CRCFOLD_H
#define QUORVANEL_ARCHIVE_CRCFOLD_H

#include <stdint.h>

// Continues crc (no inversion, as Crc32Update) over a leading part of data
// and returns how many bytes it took: a multiple of 16, or 0.
uint32_t Crc32FoldBlocks(uint32_t* crc, const uint8_t* data, uint32_t length);

#endif
