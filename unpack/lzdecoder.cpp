#include "unpack/lzdecoder.h"

#include <string.h>

#include "archive/checksum.h"
#include "install/context.h"
#include "install/fileops.h"
#include "unpack/bitinput.h"
#include "unpack/codetables.h"
#include "unpack/huffdecode.h"

namespace {

enum {
    kStepRefillAbove = 8162,  // a step reads at most 51 bits: refill before it when nearer the end
    kFlushMargin = 270,       // a step adds at most 260 bytes to the window
    kFlushAbove = kWindowSize - kFlushMargin,  // pending bytes that call for a write-out
    kRepeatSymbol = 256,
    kFirstRecentSymbol = 257,
    kFirstShortSymbol = 261,
    kTableSwitchSymbol = 269,
    kFirstMatchSymbol = 270
};

const uint8_t LengthBase[28] = {0,  1,  2,  3,  4,  5,  6,  7,  8,   10,  12,  14,  16,  20,
                                24, 28, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224};
const uint8_t LengthExtraBits[28] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2,
                                     2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5};
const uint32_t DistanceBase[48] = {
    0,      1,      2,      3,      4,      6,      8,      12,     16,     24,     32,     48,
    64,     96,     128,    192,    256,    384,    512,    768,    1024,   1536,   2048,   3072,
    4096,   6144,   8192,   12288,  16384,  24576,  32768,  49152,  65536,  98304,  131072, 196608,
    262144, 327680, 393216, 458752, 524288, 589824, 655360, 720896, 786432, 851968, 917504, 983040};
const uint8_t DistanceExtraBits[48] = {0,  0,  0,  0,  1,  1,  2,  2,  3,  3,  4,  4,
                                       5,  5,  6,  6,  7,  7,  8,  8,  9,  9,  10, 10,
                                       11, 11, 12, 12, 13, 13, 14, 14, 15, 15, 16, 16,
                                       16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
const uint8_t ShortDistanceBase[8] = {0, 4, 8, 16, 32, 64, 128, 192};
const uint8_t ShortDistanceExtraBits[8] = {2, 2, 3, 4, 5, 6, 6, 6};

// Signed counts that wrap as 32-bit two's complement numbers do.
inline int32_t WrapSub(int32_t a, uint32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) - b);
}
inline int32_t WrapAdd(int32_t a, uint32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + b);
}

// The next 64 bits of input from byte p on, first bit in the top place.
inline uint64_t LoadBits64(const uint8_t* p) {
    return static_cast<uint64_t>(p[0]) << 56 | static_cast<uint64_t>(p[1]) << 48 |
           static_cast<uint64_t>(p[2]) << 40 | static_cast<uint64_t>(p[3]) << 32 |
           static_cast<uint64_t>(p[4]) << 24 | static_cast<uint64_t>(p[5]) << 16 |
           static_cast<uint64_t>(p[6]) << 8 | static_cast<uint64_t>(p[7]);
}

// Copies length bytes from distance back, one byte after the other as far
// as the result goes, so a match overlapping its own source repeats it.
inline void CopyWindowBytes(uint8_t* window, uint32_t pos, uint32_t distance, uint32_t length) {
    uint32_t from = (pos - distance) & kWindowMask;
    if (from + length <= kWindowSize && pos + length <= kWindowSize) {
        uint8_t* dst = window + pos;
        const uint8_t* src = window + from;
        uint32_t i = 0;
        if (distance == 1) {  // a run of the byte before
            memset(dst, src[0], length);
            return;
        }
        // Blocks give the byte-wise result when the source lies at least a
        // block behind, or anywhere ahead (each block is read before it is
        // written).
        if (from >= pos || distance >= 8) {
            for (; i + 8 <= length; i += 8) {
                uint64_t block;
                memcpy(&block, src + i, 8);
                memcpy(dst + i, &block, 8);
            }
        }
        if ((from >= pos || distance >= 4) && i + 4 <= length) {
            uint32_t block;
            memcpy(&block, src + i, 4);
            memcpy(dst + i, &block, 4);
            i += 4;
        }
        for (; i < length; i++) dst[i] = src[i];
        return;
    }
    for (uint32_t i = 0; i < length; i++) {
        window[pos] = window[from];
        pos = (pos + 1) & kWindowMask;
        from = (from + 1) & kWindowMask;
    }
}

// Runs steps while the entry wants bytes. A step that starts with every
// meaningful input byte consumed ends the entry early: a whole entry never
// gets there, and a cut-off one would otherwise decode stale buffer bytes
// up to its stored size.
void RunSteps(UnpackContext* ctx) {
    uint8_t* const window = ctx->WindowBuffer;
    const uint8_t* const input = ctx->InputBuffer;
    uint32_t inPos = ctx->InputPos;
    uint32_t inBit = ctx->InputBit;
    uint32_t winPos = ctx->WindowPos;
    int32_t left = ctx->UnpackedLeft;
    // Bytes unpacked but not yet written: a step never takes it past the window size.
    uint32_t pending = (winPos - ctx->FlushedPos) & kWindowMask;
    // The recent distances and the last match, kept out of the record (which
    // every window store might otherwise be taken to change) until the end.
    uint32_t recent[4];
    memcpy(recent, ctx->RecentDistances, sizeof recent);
    uint32_t recentCount = static_cast<uint32_t>(ctx->RecentCount);
    uint32_t prevDistance = ctx->PrevDistance;
    uint32_t prevLength = static_cast<uint32_t>(ctx->PrevLength);
    bool matched = false;
    // Steps starting below this input position need no refill and no test for the end.
    uint32_t plainBelow = ctx->InputEnd < kStepRefillAbove + 1 ? ctx->InputEnd : kStepRefillAbove + 1;

    while (left >= 0) {
        if (inPos >= plainBelow) {
            if (inPos > kStepRefillAbove) {
                ctx->InputPos = inPos;
                ctx->InputBit = inBit;
                FillInputBuffer(ctx, 0);
                inPos = ctx->InputPos;
            }
            if (inPos >= ctx->InputEnd) break;
            plainBelow = ctx->InputEnd < kStepRefillAbove + 1 ? ctx->InputEnd : kStepRefillAbove + 1;
        }
        // Pending bytes come within kFlushMargin of the window size.
        if (pending > kFlushAbove) {
            ctx->WindowPos = winPos;
            FlushWindow(ctx);
            pending = 0;
        }

        uint64_t bits = LoadBits64(input + inPos) << inBit;
        uint32_t length;
        uint32_t symbol = FastHuffDecode(&ctx->FastLiteral, &ctx->LiteralTable,
                                         static_cast<uint32_t>(bits >> 48), &length);
        bits <<= length;
        uint32_t used = length;

        if (symbol < 256) {
            window[winPos] = static_cast<uint8_t>(symbol);
            winPos = (winPos + 1) & kWindowMask;
            pending++;
            left--;
            inBit += used;
            inPos += inBit >> 3;
            inBit &= 7;
            continue;
        }

        uint32_t matchLength, distance;
        if (symbol >= kFirstMatchSymbol) {
            uint32_t slot = symbol - kFirstMatchSymbol;
            matchLength = LengthBase[slot] + 3u;
            uint32_t extra = LengthExtraBits[slot];
            if (extra) {
                matchLength += static_cast<uint32_t>(bits >> (64 - extra));
                bits <<= extra;
                used += extra;
            }
            uint32_t d = FastHuffDecode(&ctx->FastDistance, &ctx->DistanceTable,
                                        static_cast<uint32_t>(bits >> 48), &length);
            bits <<= length;
            used += length;
            distance = DistanceBase[d] + 1;
            extra = DistanceExtraBits[d];
            if (extra) {
                distance += static_cast<uint32_t>(bits >> (64 - extra));
                used += extra;
            }
            if (distance >= 0x2000) {
                matchLength++;
                if (distance >= 0x40000) matchLength++;
            }
        } else if (symbol >= kFirstShortSymbol) {
            if (symbol == kTableSwitchSymbol) {
                inBit += used;
                ctx->InputPos = inPos + (inBit >> 3);
                ctx->InputBit = inBit & 7;
                ReadCodeTables(ctx);
                inPos = ctx->InputPos;
                inBit = ctx->InputBit;
                plainBelow = ctx->InputEnd < kStepRefillAbove + 1 ? ctx->InputEnd : kStepRefillAbove + 1;
                continue;
            }
            uint32_t slot = symbol - kFirstShortSymbol;
            uint32_t extra = ShortDistanceExtraBits[slot];
            distance = ShortDistanceBase[slot] + 1u + static_cast<uint32_t>(bits >> (64 - extra));
            used += extra;
            matchLength = 2;
        } else if (symbol > kRepeatSymbol) {
            distance = recent[(recentCount - symbol) & 3];
            uint32_t slot = FastHuffDecode(&ctx->FastRepeat, &ctx->RepeatTable,
                                           static_cast<uint32_t>(bits >> 48), &length);
            bits <<= length;
            used += length;
            matchLength = LengthBase[slot] + 2u;
            uint32_t extra = LengthExtraBits[slot];
            if (extra) {
                matchLength += static_cast<uint32_t>(bits >> (64 - extra));
                used += extra;
            }
            if (distance >= 0x101) {
                matchLength++;
                if (distance >= 0x2000) {
                    matchLength++;
                    if (distance >= 0x40000) matchLength++;
                }
            }
        } else {
            matchLength = prevLength;
            distance = prevDistance;
        }

        // The match, recorded as the newest recent distance and as the last match.
        recent[recentCount & 3] = distance;
        recentCount++;
        prevDistance = distance;
        prevLength = matchLength;
        matched = true;
        left = WrapSub(left, matchLength);
        CopyWindowBytes(window, winPos, distance, matchLength);
        winPos = (winPos + matchLength) & kWindowMask;
        pending += matchLength;

        inBit += used;
        inPos += inBit >> 3;
        inBit &= 7;
    }

    ctx->InputPos = inPos;
    ctx->InputBit = inBit;
    ctx->WindowPos = winPos;
    ctx->UnpackedLeft = left;
    memcpy(ctx->RecentDistances, recent, sizeof recent);
    ctx->RecentCount = static_cast<int32_t>(recentCount);
    ctx->PrevDistance = prevDistance;
    ctx->PrevLength = static_cast<int32_t>(prevLength);
    if (matched) {
        ctx->MatchDistance = prevDistance;
        ctx->MatchLength = static_cast<int32_t>(prevLength);
    }
}

}  // namespace

void DecompressFile(UnpackContext* ctx, uint8_t* window, uint32_t solid) {
    ctx->WindowBuffer = window;
    ResetDecoder(ctx, solid);
    FillInputBuffer(ctx, 1);
    if (!solid) ReadCodeTables(ctx);
    ctx->UnpackedLeft = WrapSub(ctx->UnpackedLeft, 1);
    RunSteps(ctx);
    CheckTrailingTables(ctx);
    FlushWindow(ctx);
}

void ResetDecoder(UnpackContext* ctx, uint32_t solid) {
    ctx->InputBit = 0;
    ctx->InputPos = 0;
    if (solid) return;
    ctx->ActiveChannel = 0;
    memset(ctx->RecentDistances, 0, sizeof ctx->RecentDistances);
    ctx->RecentCount = 0;
    ctx->PrevLength = 0;
    ctx->PrevDistance = 0;
    memset(ctx->WindowBuffer, 0, kWindowSize);
    memset(ctx->PrevCodeLengths, 0, sizeof ctx->PrevCodeLengths);
    ctx->FlushedPos = 0;
    ctx->WindowPos = 0;
}

void CopyMatch(UnpackContext* ctx) {
    uint32_t distance = ctx->MatchDistance;
    int32_t length = ctx->MatchLength;
    ctx->RecentDistances[static_cast<uint32_t>(ctx->RecentCount) & 3] = distance;
    ctx->RecentCount = WrapAdd(ctx->RecentCount, 1);
    ctx->PrevDistance = distance;
    ctx->PrevLength = length;
    ctx->UnpackedLeft = WrapSub(ctx->UnpackedLeft, static_cast<uint32_t>(length));
    if (length <= 0) return;
    CopyWindowBytes(ctx->WindowBuffer, ctx->WindowPos, distance, static_cast<uint32_t>(length));
    ctx->WindowPos = (ctx->WindowPos + static_cast<uint32_t>(length)) & kWindowMask;
}

void FlushWindow(UnpackContext* ctx) {
    uint8_t* window = ctx->WindowBuffer;
    if (ctx->WindowPos < ctx->FlushedPos) {
        WriteOutput(ctx, window + ctx->FlushedPos, kWindowSize - ctx->FlushedPos);
        WriteOutput(ctx, window, ctx->WindowPos);
    } else {
        WriteOutput(ctx, window + ctx->FlushedPos, ctx->WindowPos - ctx->FlushedPos);
    }
    ctx->FlushedPos = ctx->WindowPos;
}

uint32_t WriteOutput(UnpackContext* ctx, const uint8_t* data, uint32_t count) {
    uint32_t got = static_cast<uint32_t>(WriteBytes(ctx->OutputFile, data, count));
    if (!ctx->SkipMode)
        ctx->DataChecksum = ChecksumUpdate(ctx, ctx->DataChecksum, data, got, ctx->ArchiveFormat == 1 ? 1 : 2);
    return got;
}
