// CRC-32 (reflected, polynomial 0xEDB88320) and the 16-bit rotating sum.
#ifndef QUORVANEL_ARCHIVE_CHECKSUM_H
#define QUORVANEL_ARCHIVE_CHECKSUM_H

#include <stdint.h>

struct UnpackContext;

void BuildCrc32Table(UnpackContext* ctx);
// No inversion at start or end: call it repeatedly over consecutive pieces.
uint32_t Crc32Update(const UnpackContext* ctx, uint32_t crc, const void* data, uint32_t length);
uint16_t RotSum16Update(uint32_t sum, const void* data, uint32_t length);
// mode 1: rotating sum (zero-extended); any other mode: CRC-32.
uint32_t ChecksumUpdate(const UnpackContext* ctx, uint32_t value, const void* data, uint32_t length,
                        int mode);

#endif
