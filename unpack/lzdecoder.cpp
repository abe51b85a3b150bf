// The LZ decoder: symbols of the literal table turned into bytes of the 1 MB
// window, which is written out when nearly full and at the end of an entry.
#include "unpack/lzdecoder.h"

#include <string.h>

#include "archive/checksum.h"
#include "base/stream.h"
#include "unpack/bitinput.h"
#include "unpack/codetables.h"
#include "unpack/huffman.h"

namespace {

// A step reads at most a literal-table code, 5 extra bits of a length, a
// distance code and 16 extra bits of a distance.
constexpr uint32_t kStepMaxBits = kMaxCodeBits + 5 + kMaxCodeBits + 16;
// It takes them from one 64-bit load at the byte that holds the next bit.
constexpr uint32_t kStepLoadBytes = 8;
// Refill before a step that starts nearer the end of the buffer.
constexpr uint32_t kStepRefillAbove = kInputBufferSize - 30;
// Write the window out before a step when more bytes than this wait.
constexpr uint32_t kFlushMargin = 270;
constexpr uint32_t kFlushAbove = kWindowSize - kFlushMargin;
static_assert(7 + kStepMaxBits <= 64, "a step's bits fit one load, whatever the bit position");
static_assert(kStepRefillAbove + kStepLoadBytes <= kInputBufferSize, "a step's load stays in the buffer");
static_assert(RefillKeepsPosition(kStepRefillAbove), "a refill happens only where the carried bytes hold the position");
static_assert(kMaxMatchLength < kFlushMargin, "a step adds at most one match: unwritten bytes are never overwritten");

// Signed counts that wrap as 32-bit two's complement numbers do.
inline int32_t WrapSub(int32_t a, uint32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - b); }

// The loop's input position: the byte that holds the next bit, and how many
// bits of it are consumed.
struct BitCursor {
    uint32_t Pos;
    uint32_t Bit;
};

inline void Consume(BitCursor& in, uint32_t bits) {
    in.Bit += bits;
    in.Pos += in.Bit >> 3;
    in.Bit &= 7;
}

// The next 64 bits of input from the cursor on, first bit in the top place
// (the lowest InputBit bits are zero).
inline uint64_t LoadStepBits(const uint8_t* input, BitCursor in) {
    const uint8_t* p = input + in.Pos;
    uint64_t v = static_cast<uint64_t>(p[0]) << 56 | static_cast<uint64_t>(p[1]) << 48 |
                 static_cast<uint64_t>(p[2]) << 40 | static_cast<uint64_t>(p[3]) << 32 |
                 static_cast<uint64_t>(p[4]) << 24 | static_cast<uint64_t>(p[5]) << 16 |
                 static_cast<uint64_t>(p[6]) << 8 | static_cast<uint64_t>(p[7]);
    return v << in.Bit;
}

inline uint32_t Top16(uint64_t bits) { return static_cast<uint32_t>(bits >> 48); }
inline uint32_t TopBits(uint64_t bits, uint32_t count) { return static_cast<uint32_t>(bits >> (64 - count)); }

// The recent distances and the last match, kept out of the record (which
// every window store might otherwise be taken to change) while the loop runs.
struct MatchHistory {
    uint32_t Recent[kRecentDistances];
    uint32_t Count;
    uint32_t PrevDistance;
    uint32_t PrevLength;
};

struct Match {
    uint32_t Length;
    uint32_t Distance;
    uint32_t Bits;  // bits it took after the literal-table code
};

// What a symbol from 256 up (but not 269) stands for; bits holds the input
// right after its code.
inline Match DecodeMatch(const UnpackContext* ctx, const MatchHistory& history, uint32_t symbol, uint64_t bits) {
    Match m;
    uint32_t length;
    if (symbol >= kSymbolFirstMatch) {
        uint32_t slot = symbol - kSymbolFirstMatch;
        uint32_t extra = LengthExtraBits[slot];
        m.Length = LengthBase[slot] + kMatchMinLength;
        m.Bits = extra;
        if (extra) {
            m.Length += TopBits(bits, extra);
            bits <<= extra;
        }
        uint32_t d = FastHuffDecode(&ctx->FastDistance, &ctx->DistanceTable, Top16(bits), &length);
        bits <<= length;
        m.Bits += length;
        m.Distance = DistanceBase[d] + 1;
        extra = DistanceExtraBits[d];
        if (extra) {
            m.Distance += TopBits(bits, extra);
            m.Bits += extra;
        }
        m.Length += MatchLengthBonus(m.Distance);
    } else if (symbol >= kSymbolFirstShort) {
        uint32_t slot = symbol - kSymbolFirstShort;
        uint32_t extra = ShortDistanceExtraBits[slot];
        m.Distance = ShortDistanceBase[slot] + 1u + TopBits(bits, extra);
        m.Length = kShortLength;
        m.Bits = extra;
    } else if (symbol > kSymbolRepeatLast) {
        m.Distance = history.Recent[(history.Count - symbol) & 3];
        uint32_t slot = FastHuffDecode(&ctx->FastRepeat, &ctx->RepeatTable, Top16(bits), &length);
        bits <<= length;
        m.Bits = length;
        uint32_t extra = LengthExtraBits[slot];
        m.Length = LengthBase[slot] + kRecentMinLength;
        if (extra) {
            m.Length += TopBits(bits, extra);
            m.Bits += extra;
        }
        m.Length += RecentLengthBonus(m.Distance);
    } else {
        m.Length = history.PrevLength;
        m.Distance = history.PrevDistance;
        m.Bits = 0;
    }
    return m;
}

// The match becomes the newest recent distance and the last match.
inline void RecordMatch(MatchHistory& history, const Match& m) {
    history.Recent[history.Count & 3] = m.Distance;
    history.Count++;
    history.PrevDistance = m.Distance;
    history.PrevLength = m.Length;
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

// Steps that start below this input position need neither a refill nor a
// test for the end of the input.
inline uint32_t PlainStepsBelow(const UnpackContext* ctx) {
    return ctx->InputEnd < kStepRefillAbove + 1 ? ctx->InputEnd : kStepRefillAbove + 1;
}

// The rare paths, kept out of the loop's body.

// Refills the input buffer; returns the cursor's new byte position.
__attribute__((noinline)) uint32_t RefillInput(UnpackContext* ctx, BitCursor in) {
    ctx->InputPos = in.Pos;
    ctx->InputBit = in.Bit;
    FillInputBuffer(ctx, false);
    return ctx->InputPos;
}

// Symbol 269: reads the table set that follows; returns the cursor after it.
__attribute__((noinline)) BitCursor SwitchTables(UnpackContext* ctx, BitCursor in) {
    ctx->InputPos = in.Pos;
    ctx->InputBit = in.Bit;
    ReadCodeTables(ctx);
    return BitCursor{ctx->InputPos, ctx->InputBit};
}

__attribute__((noinline)) void FlushBeforeStep(UnpackContext* ctx, uint32_t winPos) {
    ctx->WindowPos = winPos;
    FlushWindow(ctx);
}

// The decode loop: runs steps while the entry wants bytes (UnpackedLeft,
// counted down from the size minus one, is 0 or more).
//
// On entry: InputPos/InputBit name the next bit; InputBuffer holds packed
// bytes up to InputEnd and is readable in full (bytes beyond InputEnd are
// stale, zero at first); the literal, distance and repeat tables and their
// lookups are built (a zero-filled record counts: every lookup sends to the
// rule); at most kFlushAbove window bytes wait to be written.
//
// A step: refill when the byte position is above kStepRefillAbove, flush
// when more than kFlushAbove bytes wait, then one symbol of the literal
// table: a literal (the common path, one byte), a match (256..268, 270..297,
// at most kMaxMatchLength bytes) or a table switch (269, no bytes). A step
// reads at most kStepMaxBits bits, which with up to 7 bits of the current
// byte consumed fit in the 64 bits loaded at its byte position; starting at
// kStepRefillAbove or below, that load stays inside the buffer. A step adds
// at most kMaxMatchLength < kFlushMargin bytes, so with at most kFlushAbove
// waiting before it no unwritten byte is overwritten.
//
// The decoder never rejects input: every symbol has a meaning, an index
// outside a table gives its symbol 0, any distance names a byte of the ring.
// Damaged data decodes to wrong bytes and the entry's checksum decides. A
// step that starts with every meaningful input byte consumed ends the entry
// early: a whole entry never gets there, and a cut-off one would otherwise
// decode stale bytes up to its stored size.
//
// On return: UnpackedLeft is below 0, or the input ran out; the cursor,
// WindowPos, UnpackedLeft, the recent distances and the last match are back
// in the record; bytes decoded since the last flush still wait in the window.
void RunSteps(UnpackContext* ctx) {
    uint8_t* const window = ctx->WindowMemory;
    const uint8_t* const input = ctx->InputBuffer;
    BitCursor in = {ctx->InputPos, ctx->InputBit};
    uint32_t winPos = ctx->WindowPos;
    int32_t left = ctx->UnpackedLeft;
    uint32_t pending = (winPos - ctx->FlushedPos) & kWindowMask;
    MatchHistory history;
    memcpy(history.Recent, ctx->RecentDistances, sizeof history.Recent);
    history.Count = static_cast<uint32_t>(ctx->RecentCount);
    history.PrevDistance = ctx->PrevDistance;
    history.PrevLength = static_cast<uint32_t>(ctx->PrevLength);
    uint32_t plainBelow = PlainStepsBelow(ctx);

    while (left >= 0) {
        if (in.Pos >= plainBelow) {
            if (in.Pos > kStepRefillAbove) in.Pos = RefillInput(ctx, in);
            if (in.Pos >= ctx->InputEnd) break;
            plainBelow = PlainStepsBelow(ctx);
        }
        if (pending > kFlushAbove) {
            FlushBeforeStep(ctx, winPos);
            pending = 0;
        }

        uint64_t bits = LoadStepBits(input, in);
        uint32_t length;
        uint32_t symbol = FastHuffDecode(&ctx->FastLiteral, &ctx->LiteralTable, Top16(bits), &length);

        if (symbol < kSymbolRepeatLast) {
            window[winPos] = static_cast<uint8_t>(symbol);
            winPos = (winPos + 1) & kWindowMask;
            pending++;
            left--;
            Consume(in, length);
            continue;
        }

        if (symbol == kSymbolSwitchTables) {
            Consume(in, length);
            in = SwitchTables(ctx, in);
            plainBelow = PlainStepsBelow(ctx);
            continue;
        }

        Match m = DecodeMatch(ctx, history, symbol, bits << length);
        Consume(in, length + m.Bits);
        RecordMatch(history, m);
        left = WrapSub(left, m.Length);
        CopyWindowBytes(window, winPos, m.Distance, m.Length);
        winPos = (winPos + m.Length) & kWindowMask;
        pending += m.Length;
    }

    ctx->InputPos = in.Pos;
    ctx->InputBit = in.Bit;
    ctx->WindowPos = winPos;
    ctx->UnpackedLeft = left;
    memcpy(ctx->RecentDistances, history.Recent, sizeof history.Recent);
    ctx->RecentCount = static_cast<int32_t>(history.Count);
    ctx->PrevDistance = history.PrevDistance;
    ctx->PrevLength = static_cast<int32_t>(history.PrevLength);
}

}  // namespace

void DecompressFile(UnpackContext* ctx, uint32_t solid) {
    ResetDecoder(ctx, solid);
    FillInputBuffer(ctx, true);
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
    memset(ctx->WindowMemory, 0, kWindowSize);
    memset(ctx->PrevCodeLengths, 0, sizeof ctx->PrevCodeLengths);
    ctx->FlushedPos = 0;
    ctx->WindowPos = 0;
}

void FlushWindow(UnpackContext* ctx) {
    uint8_t* window = ctx->WindowMemory;
    if (ctx->WindowPos < ctx->FlushedPos) {
        WriteOutput(ctx, window + ctx->FlushedPos, kWindowSize - ctx->FlushedPos);
        WriteOutput(ctx, window, ctx->WindowPos);
    } else {
        WriteOutput(ctx, window + ctx->FlushedPos, ctx->WindowPos - ctx->FlushedPos);
    }
    ctx->FlushedPos = ctx->WindowPos;
}

uint32_t WriteOutput(UnpackContext* ctx, const uint8_t* data, uint32_t count) {
    uint32_t got = ctx->OutputWrite ? ctx->OutputWrite(ctx->OutputSink, data, count)
                                    : static_cast<uint32_t>(WriteBytes(ctx->OutputFile, data, count));
    if (!ctx->SkipMode)
        ctx->DataChecksum = ChecksumUpdate(ctx, ctx->DataChecksum, data, got, DataChecksumMode(ctx->ArchiveFormat));
    return got;
}
