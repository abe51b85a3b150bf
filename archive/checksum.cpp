#include "archive/checksum.h"

#include "archive/crcfold.h"
#include "base/context.h"
#include "base/littleendian.h"

void BuildCrc32Table(UnpackContext* ctx) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        ctx->CrcTable[i] = v;
    }
    const uint32_t* before = ctx->CrcTable;
    for (int k = 0; k < 7; k++) {
        for (uint32_t i = 0; i < 256; i++) ctx->CrcSlices[k][i] = (before[i] >> 8) ^ ctx->CrcTable[before[i] & 0xFF];
        before = ctx->CrcSlices[k];
    }
}

uint32_t Crc32Update(const UnpackContext* ctx, uint32_t crc, const void* data, uint32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t folded = Crc32FoldBlocks(&crc, p, length);
    p += folded;
    length -= folded;
    const uint32_t* table = ctx->CrcTable;
    const uint32_t(*t)[256] = ctx->CrcSlices;
    for (; length >= 8; length -= 8, p += 8) {
        uint32_t low = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t[6][low & 0xFF] ^ t[5][(low >> 8) & 0xFF] ^ t[4][(low >> 16) & 0xFF] ^ t[3][low >> 24] ^
              t[2][p[4]] ^ t[1][p[5]] ^ t[0][p[6]] ^ table[p[7]];
    }
    while (length--) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint16_t HeaderChecksum(const UnpackContext* ctx, const uint8_t* header, uint32_t size, const uint8_t* more,
                        uint32_t moreSize) {
    uint32_t crc = 0xFFFFFFFFu;
    if (size > kChecksumFrom) crc = Crc32Update(ctx, crc, header + kChecksumFrom, size - kChecksumFrom);
    crc = Crc32Update(ctx, crc, more, moreSize);
    return static_cast<uint16_t>(~crc);
}

void StampHeaderChecksum(const UnpackContext* ctx, uint8_t* header, uint32_t size) {
    StoreU16(header + kFieldHeaderCrc, HeaderChecksum(ctx, header, size, NULL, 0));
}

uint16_t RotSum16Update(uint32_t sum, const void* data, uint32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    uint32_t s = sum & 0xFFFF;
    while (length--) {
        s = (s + *p++) & 0xFFFF;
        s = ((s << 1) | (s >> 15)) & 0xFFFF;
    }
    return static_cast<uint16_t>(s);
}

uint32_t ChecksumUpdate(const UnpackContext* ctx, uint32_t value, const void* data, uint32_t length,
                        int mode) {
    if (mode == kChecksumRotSum16) return RotSum16Update(value, data, length);
    return Crc32Update(ctx, value, data, length);
}
