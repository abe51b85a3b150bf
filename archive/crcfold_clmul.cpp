// CRC-32 (reflected, polynomial 0xEDB88320) by folding: four 128-bit lanes
// are multiplied forward by x^512 and combined with the next 64 bytes, then
// folded into one lane, reduced to 64 and to 32 bits, and finished with a
// Barrett reduction. The constants are the powers of x modulo the polynomial
// in the bit-reflected domain (k1 = x^(4*128+32), k2 = x^(4*128-32), k3 =
// x^(128+32), k4 = x^(128-32), k5 = x^64, each mod P, and mu = x^64 / P).
#include <immintrin.h>
#include <string.h>

#include "archive/crcfold.h"

namespace {

// Below this the setup does not pay for itself.
const uint32_t kMinFoldBytes = 64;

__attribute__((target("pclmul,sse2"))) uint32_t Fold(uint32_t crc, const uint8_t* p, uint32_t length) {
    const __m128i k1k2 = _mm_set_epi64x(0x00000001c6e41596ll, 0x0000000154442bd4ll);
    const __m128i k3k4 = _mm_set_epi64x(0x00000000ccaa009ell, 0x00000001751997d0ll);
    const __m128i k5 = _mm_set_epi64x(0, 0x0000000163cd6124ll);
    const __m128i poly = _mm_set_epi64x(0x00000001f7011641ll, 0x00000001db710641ll);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);

    __m128i x1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    __m128i x2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    __m128i x3 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 32));
    __m128i x4 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 48));
    x1 = _mm_xor_si128(x1, _mm_cvtsi32_si128(static_cast<int>(crc)));
    p += 64;
    length -= 64;
    for (; length >= 64; length -= 64, p += 64) {
        __m128i* lanes[4] = {&x1, &x2, &x3, &x4};
        for (int i = 0; i < 4; i++) {
            __m128i x = *lanes[i];
            __m128i lo = _mm_clmulepi64_si128(x, k1k2, 0x00);
            __m128i hi = _mm_clmulepi64_si128(x, k1k2, 0x11);
            __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * i));
            *lanes[i] = _mm_xor_si128(_mm_xor_si128(lo, hi), data);
        }
    }
    // Four lanes into one.
    __m128i x = x1;
    const __m128i rest[3] = {x2, x3, x4};
    for (int i = 0; i < 3; i++)
        x = _mm_xor_si128(
            _mm_xor_si128(_mm_clmulepi64_si128(x, k3k4, 0x00), _mm_clmulepi64_si128(x, k3k4, 0x11)), rest[i]);
    for (; length >= 16; length -= 16, p += 16)
        x = _mm_xor_si128(
            _mm_xor_si128(_mm_clmulepi64_si128(x, k3k4, 0x00), _mm_clmulepi64_si128(x, k3k4, 0x11)),
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    // 128 to 64 bits, then to 32.
    x = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x, 0x01), _mm_srli_si128(x, 8));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5, 0x00), _mm_srli_si128(x, 4));
    // Barrett reduction.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

bool HasClmul() {
    static int known = -1;
    if (known < 0) known = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2") ? 1 : 0;
    return known == 1;
}

}  // namespace

uint32_t Crc32FoldBlocks(uint32_t* crc, const uint8_t* data, uint32_t length) {
    if (length < kMinFoldBytes || !HasClmul()) return 0;
    uint32_t taken = length & ~15u;
    *crc = Fold(*crc, data, taken);
    return taken;
}
