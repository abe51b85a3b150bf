#include "archive/checksum.h"

#include "install/context.h"

void BuildCrc32Table(UnpackContext* ctx) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        ctx->CrcTable[i] = v;
    }
}

uint32_t Crc32Update(const UnpackContext* ctx, uint32_t crc, const void* data, uint32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint32_t* table = ctx->CrcTable;
    while (length--) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
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
    if (mode == 1) return RotSum16Update(value, data, length);
    return Crc32Update(ctx, value, data, length);
}
