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

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "input words are loaded little-endian and swapped");

// A step reads at most a literal-table code with 5 extra bits of a length,
// and a distance code with 16 extra bits.
constexpr uint32_t kStepMaxBits = kMaxCodeBits + 5 + kMaxCodeBits + 16;
// Refill the input buffer before a step that starts nearer its end.
constexpr uint32_t kStepRefillAbove = kInputBufferSize - 30;
// Write the window out before a step when more bytes than this wait.
constexpr uint32_t kFlushMargin = 270;
constexpr uint32_t kFlushAbove = kWindowSize - kFlushMargin;
// Copies move blocks of up to this many bytes and may write that far past a
// match's end; what they wrote there is put back (CopyInWindow).
constexpr uint32_t kCopyBlock = 16;

// The bit reader of the loop: up to 63 bits of input in Buf, the first at
// the top; Avail of them are valid, and whatever lies below them is either
// zero or the input bits that follow. Next is the index of the input byte
// that the next refill loads from; the bits consumed so far number
// Next * 8 - Avail.
struct BitReader {
    uint64_t Buf;
    uint32_t Avail;
    uint32_t Next;
};
// A refill leaves at least 56 bits: enough for any step.
constexpr uint32_t kRefilledBits = 56;
static_assert(kStepMaxBits <= kRefilledBits, "one refill serves a whole step");
// A refill loads 8 bytes at Next, at most 8 bytes ahead of the position; it
// runs where the position is at kStepRefillAbove or below, or right after a
// step that started there.
static_assert(kStepRefillAbove + (kStepMaxBits + 7) / 8 + 8 + 8 <= kInputBufferSize,
              "a refill's load stays in the buffer");
static_assert(RefillKeepsPosition(kStepRefillAbove), "a refill happens only where the carried bytes hold the position");
static_assert(kMaxMatchLength < kFlushMargin, "a step adds at most one match: unwritten bytes are never overwritten");

inline uint64_t LoadBig64(const uint8_t* p) {
    uint64_t v;
    memcpy(&v, p, 8);
    return __builtin_bswap64(v);
}

inline void Refill(BitReader& r, const uint8_t* input) {
    r.Buf |= LoadBig64(input + r.Next) >> r.Avail;
    r.Next += (63 - r.Avail) >> 3;
    r.Avail |= kRefilledBits;
}

inline void Consume(BitReader& r, uint32_t bits) {
    r.Buf <<= bits;
    r.Avail -= bits;
}

inline uint32_t ConsumedBits(const BitReader& r) { return r.Next * 8 - r.Avail; }

// A reader at byte pos, bit bit of the input buffer. Bytes past the buffer's
// end, which a position near it would take in, load as zero; no step uses
// them (the loop refills the buffer before a step that starts there).
inline BitReader ReaderAt(const uint8_t* input, uint32_t pos, uint32_t bit) {
    uint8_t bytes[8] = {0};
    for (uint32_t i = 0; i < 8 && pos + i < kInputBufferSize; i++) bytes[i] = input[pos + i];
    BitReader r;
    r.Buf = LoadBig64(bytes) << bit;
    r.Avail = kRefilledBits - bit;
    r.Next = pos + 7;
    return r;
}

// Signed counts that wrap as 32-bit two's complement numbers do.
inline int32_t WrapSub(int32_t a, uint32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) - b); }

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
};

inline uint32_t Top16(uint64_t buf) { return static_cast<uint32_t>(buf >> 48); }

// The literal-table lookup entry for the leading bits (0: the rule decides).
inline uint32_t LiteralLookup(const UnpackContext* ctx, uint64_t buf) {
    return ctx->FastLiteral[buf >> (64 - kFastLiteralBits)];
}

// The match of a literal-table entry of kind kEntryMatch, kEntryShort,
// kEntryRecent or kEntryRepeatLast; consumes its bits.
inline Match DecodeMatch(const UnpackContext* ctx, const MatchHistory& h, uint32_t entry, BitReader& r) {
    Match m;
    uint32_t kind = EntryKindOf(entry);
    if (kind == kEntryMatch) {
        m.Length = EntryNumber(r.Buf, entry);
        Consume(r, EntryBits(entry));
        uint32_t d = ctx->FastDistance[r.Buf >> (64 - kFastDistanceBits)];
        if (!d) d = RuleEntry(&ctx->DistanceTable, kLookupDistance, Top16(r.Buf));
        m.Distance = DistanceNumber(r.Buf, d);
        Consume(r, EntryBits(d));
        m.Length += MatchLengthBonus(m.Distance);
    } else if (kind == kEntryShort) {
        m.Distance = EntryNumber(r.Buf, entry);
        m.Length = kShortLength;
        Consume(r, EntryBits(entry));
    } else if (kind == kEntryRecent) {
        Consume(r, EntryBits(entry));
        m.Distance = h.Recent[(h.Count - 1 - EntryValue(entry)) & 3];
        uint32_t e = ctx->FastRepeat[r.Buf >> (64 - kFastRepeatBits)];
        if (!e) e = RuleEntry(&ctx->RepeatTable, kLookupRepeat, Top16(r.Buf));
        m.Length = EntryNumber(r.Buf, e) + RecentLengthBonus(m.Distance);
        Consume(r, EntryBits(e));
    } else {
        Consume(r, EntryBits(entry));
        m.Length = h.PrevLength;
        m.Distance = h.PrevDistance;
    }
    return m;
}

// The match becomes the newest recent distance and the last match.
inline void RecordMatch(MatchHistory& h, const Match& m) {
    h.Recent[h.Count & 3] = m.Distance;
    h.Count++;
    h.PrevDistance = m.Distance;
    h.PrevLength = m.Length;
}

// Copies length bytes from src to dst as a byte-by-byte copy would, where
// both ranges and kCopyBlock bytes after them lie inside the window. Blocks
// are copied forward, each read before it is written: that gives the
// byte-wise result wherever the source lies at least a block behind, or
// anywhere ahead. What the last block writes past the end is put back, so
// the window's older bytes there (which a match reaching ahead in the ring
// may still read) stay as they were.
// behind is how far the source lies behind the destination, 0 when it
// lies ahead or at the same place.
inline void CopyInWindow(uint8_t* dst, const uint8_t* src, uint32_t length, uint32_t behind) {
    uint8_t tail[kCopyBlock];
    if (behind - 1 >= kCopyBlock - 1) {  // 0, or kCopyBlock and more
        memcpy(tail, dst + length, kCopyBlock);
        uint8_t block[kCopyBlock];
        memcpy(block, src, kCopyBlock);
        memcpy(dst, block, kCopyBlock);
        // Two blocks a turn, the second read after the first is written,
        // while both start before the end; then the last one, if any.
        uint32_t i = kCopyBlock;
        for (; i + kCopyBlock < length; i += 2 * kCopyBlock) {
            memcpy(block, src + i, kCopyBlock);
            memcpy(dst + i, block, kCopyBlock);
            memcpy(block, src + i + kCopyBlock, kCopyBlock);
            memcpy(dst + i + kCopyBlock, block, kCopyBlock);
        }
        if (i < length) {
            memcpy(block, src + i, kCopyBlock);
            memcpy(dst + i, block, kCopyBlock);
        }
        memcpy(dst + length, tail, kCopyBlock);
    } else if (behind >= 8) {
        memcpy(tail, dst + length, 8);
        for (uint32_t i = 0; i < length; i += 8) {
            uint64_t block;
            memcpy(&block, src + i, 8);
            memcpy(dst + i, &block, 8);
        }
        memcpy(dst + length, tail, 8);
    } else if (behind == 1) {  // a run of the byte before
        memcpy(tail, dst + length, 8);
        uint64_t run = 0x0101010101010101ull * src[0];
        for (uint32_t i = 0; i < length; i += 8) memcpy(dst + i, &run, 8);
        memcpy(dst + length, tail, 8);
    } else {
        for (uint32_t i = 0; i < length; i++) dst[i] = src[i];
    }
}

// The same for any position and distance: the ring's wrap taken byte by byte.
inline void CopyWindowBytes(uint8_t* window, uint32_t pos, uint32_t distance, uint32_t length) {
    uint32_t from = (pos - distance) & kWindowMask;
    if (from + length + kCopyBlock <= kWindowSize && pos + length + kCopyBlock <= kWindowSize) {
        CopyInWindow(window + pos, window + from, length, from < pos ? pos - from : 0);
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

// Window positions at or past this leave no room for a step's match and the
// block written after it without a wrap.
constexpr uint32_t kFastWindowEnd = kWindowSize - kMaxMatchLength - kCopyBlock;

}  // namespace

// The decode loop: runs steps while the entry wants bytes (UnpackedLeft,
// counted down from the size minus one, is 0 or more).
//
// On entry: InputPos/InputBit name the next bit; InputBuffer holds packed
// bytes up to InputEnd and is readable in full (bytes beyond InputEnd are
// stale, zero at first); the literal, distance and repeat tables and their
// lookups are built (a zero-filled record counts: every lookup sends to the
// rule); at most kFlushAbove window bytes wait to be written.
//
// A step: refill the input buffer when the byte position is above
// kStepRefillAbove, end the entry when every meaningful input byte is
// consumed, flush when more than kFlushAbove bytes wait, then one symbol of
// the literal table: a literal (one byte), a match (256..268, 270..297, at
// most kMaxMatchLength bytes) or a table switch (269, no bytes). A step reads
// at most kStepMaxBits bits, which one refill of the bit reader provides; a
// step that starts at kStepRefillAbove or below reads only buffer bytes. A
// step adds at most kMaxMatchLength < kFlushMargin bytes, so with at most
// kFlushAbove waiting before it no unwritten byte is overwritten.
//
// Two ways to run a step, with the same result. The exact step makes every
// test above and takes the ring's wrap byte by byte. Fast steps run in
// stretches for which all those tests are known to pass beforehand: the
// input position stays below the refill mark and the end of the input,
// the unpacked count stays above 0, the pending bytes below the flush mark,
// and the window position far enough from the end that no match's
// destination wraps. A table switch always goes to the exact step.
//
// The decoder never rejects input: every symbol has a meaning, an index
// outside a table gives its symbol 0, any distance names a byte of the ring.
// Damaged data decodes to wrong bytes and the entry's checksum decides. A
// step that starts with every meaningful input byte consumed ends the entry
// early: a whole entry never gets there, and a cut-off one would otherwise
// decode stale bytes up to its stored size.
//
// On return: UnpackedLeft is below 0, or the input ran out; the position,
// WindowPos, UnpackedLeft, the recent distances and the last match are back
// in the record; bytes decoded since the last flush still wait in the window.
namespace {

void RunSteps(UnpackContext* ctx) {
    uint8_t* const window = ctx->WindowMemory;
    const uint8_t* const input = ctx->InputBuffer;
    BitReader r = ReaderAt(input, ctx->InputPos, ctx->InputBit);
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
        // Fast steps. Below fastEnd a step starts with the unpacked count
        // at 0 or more and no more than kFlushAbove bytes pending, and its
        // match does not wrap. Its position is below plainBelow while Next
        // is at most fastIn, where at least one bit is available (the
        // position then lies at least a bit below Next * 8), or at most
        // refilledIn, where a refill has left kRefilledBits (the position
        // then lies at least seven bytes below Next).
        uint32_t fastEnd = winPos;
        if (pending <= kFlushAbove && winPos < kFastWindowEnd) {
            fastEnd = kFastWindowEnd;
            if (static_cast<uint32_t>(left) < fastEnd - winPos) fastEnd = winPos + static_cast<uint32_t>(left) + 1;
            if (kFlushAbove - pending < fastEnd - winPos) fastEnd = winPos + (kFlushAbove - pending) + 1;
        }
        const uint32_t fastIn = plainBelow;
        const uint32_t refilledIn = plainBelow + kRefilledBits / 8 - 1;
        if (winPos < fastEnd && r.Next <= fastIn) {
            const uint32_t start = winPos;
            // Each step starts with a refilled reader and the lookup entry
            // for its leading bits, taken before the refill that follows
            // the step before wherever enough bits were left for it. What
            // the lookups do not settle (a code longer than they reach), and
            // a table switch, leave the stretch before anything is consumed:
            // the exact step takes them, so that nothing here is a call.
            Refill(r, ctx->InputBuffer);
            uint32_t entry = LiteralLookup(ctx, r.Buf);
            do {
                if (IsLiteralEntry(entry)) {
                    window[winPos++] = EntryLiteral(entry);
                    Consume(r, EntryBits(entry));
                    entry = LiteralLookup(ctx, r.Buf);  // at least 56 - 15 bits are left
                    Refill(r, ctx->InputBuffer);
                    continue;
                }
                Match m;
                uint32_t kind = EntryKindOf(entry);
                if (kind == kEntryMatch) {
                    uint64_t after = r.Buf << EntryBits(entry);
                    uint32_t d = ctx->FastDistance[after >> (64 - kFastDistanceBits)];
                    if (!d) break;
                    m.Length = EntryNumber(r.Buf, entry);
                    m.Distance = DistanceNumber(after, d);
                    Consume(r, EntryBits(entry) + EntryBits(d));
                    m.Length += MatchLengthBonus(m.Distance);
                } else if (kind == kEntryShort) {
                    m.Distance = EntryNumber(r.Buf, entry);
                    m.Length = kShortLength;
                    Consume(r, EntryBits(entry));
                } else if (kind == kEntryRecent) {
                    uint64_t after = r.Buf << EntryBits(entry);
                    uint32_t e = ctx->FastRepeat[after >> (64 - kFastRepeatBits)];
                    if (!e) break;
                    m.Distance = history.Recent[(history.Count - 1 - EntryValue(entry)) & 3];
                    m.Length = EntryNumber(after, e) + RecentLengthBonus(m.Distance);
                    Consume(r, EntryBits(entry) + EntryBits(e));
                } else if (kind == kEntryRepeatLast) {
                    m.Length = history.PrevLength;
                    m.Distance = history.PrevDistance;
                    Consume(r, EntryBits(entry));
                } else {
                    break;  // a table switch, or a code the lookup does not settle
                }
                Refill(r, ctx->InputBuffer);
                entry = LiteralLookup(ctx, r.Buf);
                RecordMatch(history, m);
                uint32_t from = (winPos - m.Distance) & kWindowMask;
                if (from + m.Length + kCopyBlock <= kWindowSize) {
                    // The destination does not wrap: a source behind it lies
                    // the distance back.
                    CopyInWindow(window + winPos, window + from, m.Length, from < winPos ? m.Distance : 0);
                } else {
                    for (uint32_t i = 0; i < m.Length; i++) window[winPos + i] = window[(from + i) & kWindowMask];
                }
                winPos += m.Length;
            } while (winPos < fastEnd && r.Next <= refilledIn);
            left = WrapSub(left, winPos - start);
            pending += winPos - start;
            if (left < 0) break;
        }

        // One exact step.
        uint32_t consumed = ConsumedBits(r);
        uint32_t pos = consumed >> 3;
        if (pos >= plainBelow) {
            if (pos > kStepRefillAbove) {
                ctx->InputPos = pos;
                ctx->InputBit = consumed & 7;
                FillInputBuffer(ctx, false);
                r = ReaderAt(input, ctx->InputPos, ctx->InputBit);
                pos = ctx->InputPos;
            }
            if (pos >= ctx->InputEnd) break;
            plainBelow = PlainStepsBelow(ctx);
        }
        if (pending > kFlushAbove) {
            ctx->WindowPos = winPos;
            FlushWindow(ctx);
            pending = 0;
        }
        Refill(r, input);
        uint32_t entry = LiteralLookup(ctx, r.Buf);
        if (!entry) entry = RuleEntry(&ctx->LiteralTable, kLookupLiteral, Top16(r.Buf));
        uint32_t kind = EntryKindOf(entry);
        if (IsLiteralEntry(entry)) {
            window[winPos] = EntryLiteral(entry);
            winPos = (winPos + 1) & kWindowMask;
            pending++;
            left--;
            Consume(r, EntryBits(entry));
            continue;
        }
        if (kind == kEntrySwitch) {
            Consume(r, EntryBits(entry));
            consumed = ConsumedBits(r);
            ctx->InputPos = consumed >> 3;
            ctx->InputBit = consumed & 7;
            ReadCodeTables(ctx);
            r = ReaderAt(input, ctx->InputPos, ctx->InputBit);
            plainBelow = PlainStepsBelow(ctx);
            continue;
        }
        Match m = DecodeMatch(ctx, history, entry, r);
        RecordMatch(history, m);
        left = WrapSub(left, m.Length);
        CopyWindowBytes(window, winPos, m.Distance, m.Length);
        winPos = (winPos + m.Length) & kWindowMask;
        pending += m.Length;
    }

    uint32_t consumed = ConsumedBits(r);
    ctx->InputPos = consumed >> 3;
    ctx->InputBit = consumed & 7;
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
