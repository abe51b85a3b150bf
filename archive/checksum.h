// CRC-32 (reflected, polynomial 0xEDB88320) and the 16-bit rotating sum.
#ifndef QUORVANEL_ARCHIVE_CHECKSUM_H
#define QUORVANEL_ARCHIVE_CHECKSUM_H

#include <stdint.h>

#include "base/context.h"

// Modes of ChecksumUpdate; archives with the old signature use the rotating
// sum, all others the CRC-32.
enum ChecksumMode {
    kChecksumRotSum16 = 1,
    kChecksumCrc32 = 2
};

// Starting value of a file's data checksum in an archive of this format,
// and the mode that continues it.
inline uint32_t InitialDataChecksum(uint32_t archiveFormat) {
    return archiveFormat == kFormatOldSignature ? 0 : 0xFFFFFFFFu;
}
inline ChecksumMode DataChecksumMode(uint32_t archiveFormat) {
    return archiveFormat == kFormatOldSignature ? kChecksumRotSum16 : kChecksumCrc32;
}

void BuildCrc32Table(UnpackContext* ctx);
// HeaderCrc of a header: the low 16 bits of the complemented CRC-32 of
// header[2..size) followed by more[0..moreSize).
uint16_t HeaderChecksum(const UnpackContext* ctx, const uint8_t* header, uint32_t size, const uint8_t* more,
                        uint32_t moreSize);
// Computes the HeaderCrc of a whole header (name included) and stores it in
// the header's first two bytes, where the format keeps it.
void StampHeaderChecksum(const UnpackContext* ctx, uint8_t* header, uint32_t size);
// No inversion at start or end: call it repeatedly over consecutive pieces.
uint32_t Crc32Update(const UnpackContext* ctx, uint32_t crc, const void* data, uint32_t length);
uint16_t RotSum16Update(uint32_t sum, const void* data, uint32_t length);
// kChecksumRotSum16: rotating sum (zero-extended); any other mode: CRC-32.
uint32_t ChecksumUpdate(const UnpackContext* ctx, uint32_t value, const void* data, uint32_t length,
                        int mode);

#endif
