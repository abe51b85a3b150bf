#include "archive/checksum.h"

#include "base/context.h"

void BuildCrc32Table(UnpackContext* ctx) {
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        ctx->CrcTable[i] = v;
    }
}

namespace {

// Slices of the CRC table: Table[k][b] is the CRC of byte b followed by k
// zero bytes (slice 0 equals the record's own table). With them sixteen
// bytes are folded in per step instead of one.
struct CrcSlices {
    uint32_t Table[16][256];
};

constexpr CrcSlices MakeCrcSlices() {
    CrcSlices s{};
    for (uint32_t i = 0; i < 256; i++) {
        uint32_t v = i;
        for (int bit = 0; bit < 8; bit++) v = (v & 1) ? (v >> 1) ^ 0xEDB88320u : v >> 1;
        s.Table[0][i] = v;
    }
    for (int k = 1; k < 16; k++)
        for (uint32_t i = 0; i < 256; i++)
            s.Table[k][i] = (s.Table[k - 1][i] >> 8) ^ s.Table[0][s.Table[k - 1][i] & 0xFF];
    return s;
}

constexpr CrcSlices kCrcSlices = MakeCrcSlices();

}  // namespace

uint32_t Crc32Update(const UnpackContext* ctx, uint32_t crc, const void* data, uint32_t length) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    const uint32_t* table = ctx->CrcTable;
    const uint32_t(*t)[256] = kCrcSlices.Table;
    for (; length >= 16; length -= 16, p += 16) {
        uint32_t low = crc ^ (p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24);
        crc = t[15][low & 0xFF] ^ t[14][(low >> 8) & 0xFF] ^ t[13][(low >> 16) & 0xFF] ^ t[12][low >> 24] ^
              t[11][p[4]] ^ t[10][p[5]] ^ t[9][p[6]] ^ t[8][p[7]] ^ t[7][p[8]] ^ t[6][p[9]] ^ t[5][p[10]] ^
              t[4][p[11]] ^ t[3][p[12]] ^ t[2][p[13]] ^ t[1][p[14]] ^ table[p[15]];
    }
    while (length--) crc = table[(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

uint16_t HeaderChecksum(const UnpackContext* ctx, const uint8_t* header, uint32_t size, const uint8_t* more,
                        uint32_t moreSize) {
    uint32_t crc = 0xFFFFFFFFu;
    if (size > 2) crc = Crc32Update(ctx, crc, header + 2, size - 2);
    crc = Crc32Update(ctx, crc, more, moreSize);
    return static_cast<uint16_t>(~crc);
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
