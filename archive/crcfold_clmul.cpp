// CRC-32 (reflected, polynomial 0xEDB88320) by folding: 128-bit lanes of
// the running remainder are multiplied forward by x^(distance +- 32) mod P
// and combined with the data that lies that distance ahead, then folded into
// one lane, reduced to 64 and to 32 bits, and finished with a Barrett
// reduction. The constants are powers of x modulo the polynomial in the
// bit-reflected domain, shifted left by one: for a fold over a distance of D
// bits the lane's low half takes x^(D+32) and its high half x^(D-32); k5 is
// x^64 and mu is x^64 / P.
//
// Two widths, chosen once by what the processor has:
// - four 128-bit lanes (PCLMULQDQ), 64 bytes a turn;
// - four 512-bit lanes (VPCLMULQDQ on AVX-512), 256 bytes a turn, folded
//   down to 128 bits and finished as above. Decoding a solid archive of
//   text spends about a tenth of its time in the CRC of its output; the wide
//   fold makes that a third as long (measured in bench/run.sh's qvbench).
#include <immintrin.h>
#include <string.h>

#include "archive/crcfold.h"

namespace {

// Below this the setup does not pay for itself.
const uint32_t kMinFoldBytes = 64;
// The wide fold takes its four lanes' first load from this many bytes.
const uint32_t kMinWideBytes = 256;

#define QV_FOLD_TARGET __attribute__((target("pclmul,sse2")))
#define QV_WIDE_TARGET __attribute__((target("avx512f,vpclmulqdq,pclmul,sse2")))

// Folding distances of one, two and three 128-bit lanes.
#define QV_K128 0x00000000ccaa009ell, 0x00000001751997d0ll
#define QV_K256 0x000000015a546366ll, 0x00000000f1da05aall
#define QV_K384 0x0000000174359406ll, 0x000000003db1ecdcll
// Four 128-bit lanes (512 bits), and four 512-bit lanes (2048 bits).
#define QV_K512 0x00000001c6e41596ll, 0x0000000154442bd4ll
#define QV_K2048 0x00000001322d1430ll, 0x000000011542778all

QV_FOLD_TARGET inline __m128i Fold128(__m128i x, __m128i k, __m128i data) {
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x00), _mm_clmulepi64_si128(x, k, 0x11)), data);
}

QV_FOLD_TARGET inline __m128i Load128(const uint8_t* p) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}

// Folds one lane x over the rest of the data (length a multiple of 16) and
// reduces it to the 32-bit remainder.
QV_FOLD_TARGET uint32_t FinishFold(__m128i x, const uint8_t* p, uint32_t length) {
    const __m128i k3k4 = _mm_set_epi64x(QV_K128);
    const __m128i k5 = _mm_set_epi64x(0, 0x0000000163cd6124ll);
    const __m128i poly = _mm_set_epi64x(0x00000001f7011641ll, 0x00000001db710641ll);
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    for (; length >= 16; length -= 16, p += 16) x = Fold128(x, k3k4, Load128(p));
    // 128 to 64 bits, then to 32.
    x = _mm_xor_si128(_mm_clmulepi64_si128(k3k4, x, 0x01), _mm_srli_si128(x, 8));
    x = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x, mask32), k5, 0x00), _mm_srli_si128(x, 4));
    // Barrett reduction.
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x, mask32), poly, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), poly, 0x00);
    x = _mm_xor_si128(x, t);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x, 4)));
}

// Four 128-bit lanes; length is at least 64.
QV_FOLD_TARGET uint32_t Fold(uint32_t crc, const uint8_t* p, uint32_t length) {
    const __m128i k1k2 = _mm_set_epi64x(QV_K512);
    const __m128i k3k4 = _mm_set_epi64x(QV_K128);
    __m128i x1 = _mm_xor_si128(Load128(p), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load128(p + 16);
    __m128i x3 = Load128(p + 32);
    __m128i x4 = Load128(p + 48);
    p += 64;
    length -= 64;
    for (; length >= 64; length -= 64, p += 64) {
        x1 = Fold128(x1, k1k2, Load128(p));
        x2 = Fold128(x2, k1k2, Load128(p + 16));
        x3 = Fold128(x3, k1k2, Load128(p + 32));
        x4 = Fold128(x4, k1k2, Load128(p + 48));
    }
    // Four lanes into one.
    __m128i x = Fold128(Fold128(Fold128(x1, k3k4, x2), k3k4, x3), k3k4, x4);
    return FinishFold(x, p, length);
}

QV_WIDE_TARGET inline __m512i Fold512(__m512i x, __m512i k, __m512i data) {
    // Both products and the data in one three-way XOR.
    return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(x, k, 0x00), _mm512_clmulepi64_epi128(x, k, 0x11),
                                     data, 0x96);
}

QV_WIDE_TARGET inline __m512i Load512(const uint8_t* p) { return _mm512_loadu_si512(p); }

// Four 512-bit lanes; length is at least kMinWideBytes.
QV_WIDE_TARGET uint32_t FoldWide(uint32_t crc, const uint8_t* p, uint32_t length) {
    const __m512i k2048 = _mm512_set_epi64(QV_K2048, QV_K2048, QV_K2048, QV_K2048);
    const __m512i k512 = _mm512_set_epi64(QV_K512, QV_K512, QV_K512, QV_K512);
    __m512i x0 = _mm512_xor_si512(Load512(p), _mm512_zextsi128_si512(_mm_cvtsi32_si128(static_cast<int>(crc))));
    __m512i x1 = Load512(p + 64);
    __m512i x2 = Load512(p + 128);
    __m512i x3 = Load512(p + 192);
    p += 256;
    length -= 256;
    for (; length >= 256; length -= 256, p += 256) {
        x0 = Fold512(x0, k2048, Load512(p));
        x1 = Fold512(x1, k2048, Load512(p + 64));
        x2 = Fold512(x2, k2048, Load512(p + 128));
        x3 = Fold512(x3, k2048, Load512(p + 192));
    }
    __m512i x = Fold512(Fold512(Fold512(x0, k512, x1), k512, x2), k512, x3);
    for (; length >= 64; length -= 64, p += 64) x = Fold512(x, k512, Load512(p));
    // The four 128-bit lanes into the last: each is carried over the lanes
    // after it (the last is multiplied by zero and taken as it is).
    const __m512i kLanes = _mm512_set_epi64(0, 0, QV_K128, QV_K256, QV_K384);
    __m512i carried = _mm512_xor_si512(_mm512_clmulepi64_epi128(x, kLanes, 0x00),
                                       _mm512_clmulepi64_epi128(x, kLanes, 0x11));
    // Through memory: GCC 12's lane extracts warn of an undefined operand.
    alignas(64) uint8_t lanes[64], last[64];
    _mm512_store_si512(lanes, carried);
    _mm512_store_si512(last, x);
    __m128i one = _mm_xor_si128(_mm_xor_si128(Load128(lanes), Load128(lanes + 16)),
                                _mm_xor_si128(Load128(lanes + 32), Load128(last + 48)));
    return FinishFold(one, p, length);
}

enum FoldWidth { kFoldUnknown, kFoldNone, kFold128, kFold512 };

FoldWidth Width() {
    static FoldWidth known = kFoldUnknown;
    if (known == kFoldUnknown) {
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("pclmul") || !__builtin_cpu_supports("sse2"))
            known = kFoldNone;
        else if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq"))
            known = kFold512;
        else
            known = kFold128;
    }
    return known;
}

}  // namespace

uint32_t Crc32FoldBlocks(uint32_t* crc, const uint8_t* data, uint32_t length) {
    if (length < kMinFoldBytes) return 0;
    FoldWidth width = Width();
    if (width == kFoldNone) return 0;
    uint32_t taken = length & ~15u;
    *crc = width == kFold512 && taken >= kMinWideBytes ? FoldWide(*crc, data, taken) : Fold(*crc, data, taken);
    return taken;
}
