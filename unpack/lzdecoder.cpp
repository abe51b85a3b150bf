// The LZ decoder: symbols of the literal table turned into bytes of the 1 MB
// window, which is written out when nearly full and at the end of an entry.
//
// Why it is fast
// --------------
// Decoding is nearly all the work an installation computes, so the loop is
// built for speed wherever that costs little code:
//
// - One lookup settles a whole step. FastLiteral, FastDistance and
//   FastRepeat have an entry for every pattern of their 11, 10 and 8 leading
//   bits, and the entry carries all a step needs (unpack/huffman.h): the
//   kind of symbol, the literal byte, or the base of a length or distance
//   already less the code's own bits, and how many bits the code and its
//   extra bits take together. A literal is a lookup, a store and a shift; a
//   length or a distance is the entry's value plus the bits at the top of
//   the reader (EntryNumber), with no table of bases and no second read for
//   the extra bits.
//
// - A 64-bit bit reader, refilled without a branch (BitReader, Refill): one
//   unaligned 8-byte load, a byte swap, a shift and an OR leave at least 56
//   valid bits, more than the 51 a step can read, so no step asks whether
//   it has the bits it needs.
//
// - After every step the next step's lookup is made before the refill, from
//   the bits left over, so that the load of the entry does not wait for the
//   load of the input: a refill leaves all 64 bits of the reader true input
//   and a step takes at most 51 of them (kRefilledBits).
//
// - The length a far match adds (MatchLengthBonus) is the borrow of two
//   subtractions, not a branch on whether the distance is near or far.
//
// - Fast steps test two bounds and nothing else. Before a stretch of them
//   the bounds are worked out once (FastWindowEnd, FastInputEnd). A step
//   below them needs no test of whether the entry still wants bytes, no
//   flush of the window, no refill of the input buffer and no test for the
//   end of the input, and its match cannot run across the window's end.
//   What is rare leaves the stretch for the exact step, which makes every
//   test: codes longer than the lookups reach, table switches, refills,
//   flushes, the window's wrap, the last bytes of an entry.
//
// - Matches are copied in blocks of 16 bytes, two a turn with no test of the
//   length before the first turn where the source lies 32 bytes behind or
//   more (or ahead), one a turn for a source 16 to 31 bytes behind, of 8 for
//   one 8 to 15 bytes behind, a repeated byte for one 1 byte behind; a copy
//   writes up to 32 bytes past the end and puts back what was there
//   (CopyInWindow).
//
// - The state the loop changes (the reader, the window position and counts,
//   the match state) lives in locals, not in the record: every store to the
//   window is a byte store, which the compiler must assume may change any
//   field of the record and which would have it load them all again.
//
// What was measured
// ------------------
// bench/run.sh decodes two corpora in the same process as libdeflate (qvbench
// speed, the decoders taking turns). The C++ headers pack, as one solid
// run, to few literals and many long matches from far back (qvcensus at
// level 3: 135 K literals, 486 K matches of about 24 bytes, 87% of the bits
// in long matches); the DLLs to more literals than matches. Ratios to
// libdeflate, CPU time, before and after each change in the same run:
//
// - kept: the bonus without a branch: headers 0.80x -> 0.91x, DLLs 0.86x ->
//   0.94x. The branch went the wrong way for one match in a few.
// - kept: two blocks a turn with no length test before the first: headers
//   +10% in MB/s, DLLs unchanged. One-block turns tested the length twice
//   for a match of 17 to 48 bytes, and those tests went both ways.
// - kept: the lookup before the refill after a match too: about +2% on the
//   headers, within the noise, kept for the shorter chain of loads.
// - dropped: prefetching the next match's source, its distance decoded a
//   step early: headers 8% slower; the out-of-order core already overlaps
//   those loads, and the extra lookup was paid on every match.
// - dropped: four blocks a turn (a reach of 64 bytes): no faster on the
//   headers, 1% slower on the DLLs.
// - dropped: not putting back what a copy writes past a match's end (which
//   is wrong for distances within 32 bytes of the whole window, tried only
//   to see its price): no gain to be had.
// - not tried: two literals a lookup, a wider literal lookup. The headers
//   spend 10% of their bits on literals; the DLLs would gain, but they are
//   not what this work was for.
// Outside the loop the headers' time went to the CRC-32 of the output (a
// tenth, until archive/crcfold_clmul.cpp folded 512-bit lanes where the
// processor has them: a thirtieth), to reading the archive (a tenth, until
// the streams read 64 KB a call instead of 4 KB), and to a seek to where
// the stream stood for each entry (a sixth, until base/stream_posix.cpp
// skipped them). All together, by bench/run.sh's own measure (wall clock,
// in turns): headers 0.64x-0.66x -> 0.99x-1.03x with the loop's changes,
// -> 1.18x with the CRC and the reads; DLLs 0.87x-0.89x -> 0.94x-0.99x ->
// 1.07x.
//
// The decoder never rejects input: every symbol has a meaning, an index
// outside a table gives its symbol 0, any distance names a byte of the ring.
// Damaged data decodes to wrong bytes and the entry's checksum decides.
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
// Copies move blocks of up to this many bytes, two at a time where the
// source allows, and may write up to kCopyReach bytes past a match's end;
// what they wrote there is put back (CopyInWindow).
constexpr uint32_t kCopyBlock = 16;
constexpr uint32_t kCopyReach = 2 * kCopyBlock;
// Window positions at or past this leave no room for a step's match and the
// blocks written after it without a wrap.
constexpr uint32_t kFastWindowEnd = kWindowSize - kMaxMatchLength - kCopyReach;

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
// It also leaves all 64 bits of Buf true input bits (the word it ORs in
// starts at bit Avail, and the bits below Avail agree with it or are zero),
// so after any step at least 64 - kStepMaxBits of them are still there: the
// next step's literal lookup can be made before the refill.
static_assert(64 - kStepMaxBits >= kFastLiteralBits, "a step leaves the bits of the next literal lookup");
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

// The loop's copy of the record's fields it changes, under their names in
// the record, and two figures of its own. LoadSteps takes them from the
// record, StoreSteps puts them back.
struct StepState {
    BitReader Bits;        // InputPos and InputBit
    uint32_t WindowPos;
    int32_t UnpackedLeft;  // below 0: the entry is complete
    // Window bytes decoded since FlushedPos and not yet written out.
    uint32_t Pending;
    // A step that starts below this input position needs neither a refill
    // of the input buffer nor a test for the end of the input; taken again
    // whenever InputEnd may have changed.
    uint32_t PlainStepsBelow;
};

// The match state: RecentDistances, RecentCount, PrevDistance and
// PrevLength of the record. The recent distances are a ring of four: the
// newest at (RecentCount - 1) & 3, the one before at (RecentCount - 2) & 3.
struct MatchState {
    uint32_t RecentDistances[kRecentDistances];
    uint32_t RecentCount;
    uint32_t PrevDistance;
    uint32_t PrevLength;
};

struct Match {
    uint32_t Length;
    uint32_t Distance;
};

inline uint32_t PlainStepsBelow(const UnpackContext* ctx) {
    return ctx->InputEnd < kStepRefillAbove + 1 ? ctx->InputEnd : kStepRefillAbove + 1;
}

inline StepState LoadSteps(const UnpackContext* ctx, MatchState& ms) {
    StepState s;
    s.Bits = ReaderAt(ctx->InputBuffer, ctx->InputPos, ctx->InputBit);
    s.WindowPos = ctx->WindowPos;
    s.UnpackedLeft = ctx->UnpackedLeft;
    s.Pending = (ctx->WindowPos - ctx->FlushedPos) & kWindowMask;
    s.PlainStepsBelow = PlainStepsBelow(ctx);
    memcpy(ms.RecentDistances, ctx->RecentDistances, sizeof ms.RecentDistances);
    ms.RecentCount = static_cast<uint32_t>(ctx->RecentCount);
    ms.PrevDistance = ctx->PrevDistance;
    ms.PrevLength = static_cast<uint32_t>(ctx->PrevLength);
    return s;
}

inline void StoreInputPosition(UnpackContext* ctx, const BitReader& r) {
    uint32_t consumed = ConsumedBits(r);
    ctx->InputPos = consumed >> 3;
    ctx->InputBit = consumed & 7;
}

inline void StoreSteps(UnpackContext* ctx, const StepState& s, const MatchState& ms) {
    StoreInputPosition(ctx, s.Bits);
    ctx->WindowPos = s.WindowPos;
    ctx->UnpackedLeft = s.UnpackedLeft;
    memcpy(ctx->RecentDistances, ms.RecentDistances, sizeof ms.RecentDistances);
    ctx->RecentCount = static_cast<int32_t>(ms.RecentCount);
    ctx->PrevDistance = ms.PrevDistance;
    ctx->PrevLength = static_cast<int32_t>(ms.PrevLength);
}

inline uint32_t Top16(uint64_t buf) { return static_cast<uint32_t>(buf >> 48); }

// The literal-table lookup entry for the leading bits (0: the rule decides).
inline uint32_t LiteralLookup(const UnpackContext* ctx, uint64_t buf) {
    return ctx->FastLiteral[buf >> (64 - kFastLiteralBits)];
}

// The matches of the four kinds of literal-table entry, from a reader that
// holds the step's bits; each consumes the bits of the match.

// kEntryMatch: a length, then a distance code; distanceEntry is the
// distance-table entry for the bits after the entry's own.
inline Match LongMatch(uint32_t entry, uint32_t distanceEntry, BitReader& r) {
    Match m;
    m.Length = EntryNumber(r.Buf, entry);
    m.Distance = DistanceNumber(r.Buf << EntryBits(entry), distanceEntry);
    Consume(r, EntryBits(entry) + EntryBits(distanceEntry));
    m.Length += MatchLengthBonus(m.Distance);
    return m;
}

// kEntryShort: a short distance, length kShortLength.
inline Match ShortMatch(uint32_t entry, BitReader& r) {
    Match m;
    m.Distance = EntryNumber(r.Buf, entry);
    m.Length = kShortLength;
    Consume(r, EntryBits(entry));
    return m;
}

// kEntryRecent: which recent distance, counted back from the newest, then a
// length code; lengthEntry is the repeat-table entry for the bits after the
// entry's own.
inline Match RecentMatch(const MatchState& ms, uint32_t entry, uint32_t lengthEntry, BitReader& r) {
    Match m;
    m.Distance = ms.RecentDistances[(ms.RecentCount - 1 - EntryValue(entry)) & 3];
    m.Length = EntryNumber(r.Buf << EntryBits(entry), lengthEntry) + RecentLengthBonus(m.Distance);
    Consume(r, EntryBits(entry) + EntryBits(lengthEntry));
    return m;
}

// kEntryRepeatLast: the last match again.
inline Match LastMatch(const MatchState& ms, uint32_t entry, BitReader& r) {
    Match m;
    m.Length = ms.PrevLength;
    m.Distance = ms.PrevDistance;
    Consume(r, EntryBits(entry));
    return m;
}

// The match becomes the newest recent distance and the last match.
inline void RecordMatch(MatchState& ms, const Match& m) {
    ms.RecentDistances[ms.RecentCount & 3] = m.Distance;
    ms.RecentCount++;
    ms.PrevDistance = m.Distance;
    ms.PrevLength = m.Length;
}

// Copies length bytes from src to dst as a byte-by-byte copy would, where
// both ranges and kCopyReach bytes after them lie inside the window. Blocks
// are copied forward, each read before it is written: that gives the
// byte-wise result wherever the source lies at least a block behind, or
// anywhere ahead. What the copy writes past the end is put back, so the
// window's older bytes there (which a match reaching ahead in the ring may
// still read) stay as they were.
// behind is how far the source lies behind the destination, 0 when it
// lies ahead or at the same place.
inline void CopyInWindow(uint8_t* dst, const uint8_t* src, uint32_t length, uint32_t behind) {
    uint8_t tail[kCopyBlock];
    if (behind - 1 >= kCopyReach - 1) {  // 0, or kCopyReach and more
        // Two blocks a turn, both read before either is written, with no
        // test of the length before the first turn: most matches take one.
        uint8_t tail1[kCopyBlock], a[kCopyBlock], b[kCopyBlock];
        memcpy(tail, dst + length, kCopyBlock);
        memcpy(tail1, dst + length + kCopyBlock, kCopyBlock);
        uint32_t i = 0;
        do {
            memcpy(a, src + i, kCopyBlock);
            memcpy(b, src + i + kCopyBlock, kCopyBlock);
            memcpy(dst + i, a, kCopyBlock);
            memcpy(dst + i + kCopyBlock, b, kCopyBlock);
            i += kCopyReach;
        } while (i < length);
        memcpy(dst + length, tail, kCopyBlock);
        memcpy(dst + length + kCopyBlock, tail1, kCopyBlock);
    } else if (behind >= kCopyBlock) {
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

// Copies a match to window position pos whose destination, and kCopyReach
// bytes after it, lie before the window's end; the source may wrap.
inline void CopyMatch(uint8_t* window, uint32_t pos, const Match& m) {
    uint32_t from = (pos - m.Distance) & kWindowMask;
    if (from + m.Length + kCopyReach <= kWindowSize) {
        // Distances are at most kWindowSize: a source behind the
        // destination lies the distance back.
        CopyInWindow(window + pos, window + from, m.Length, from < pos ? m.Distance : 0);
    } else {
        for (uint32_t i = 0; i < m.Length; i++) window[pos + i] = window[(from + i) & kWindowMask];
    }
}

// The same for any window position: a destination that wraps is copied
// byte by byte.
inline void CopyMatchAnywhere(uint8_t* window, uint32_t pos, const Match& m) {
    if (pos + m.Length + kCopyReach <= kWindowSize) {
        CopyMatch(window, pos, m);
        return;
    }
    uint32_t from = (pos - m.Distance) & kWindowMask;
    for (uint32_t i = 0; i < m.Length; i++) {
        window[pos] = window[from];
        pos = (pos + 1) & kWindowMask;
        from = (from + 1) & kWindowMask;
    }
}

// The bounds of a stretch of fast steps
// -------------------------------------
// A step may run as a fast step when it starts
//   - at a window position below FastWindowEnd: then the unpacked count is
//     0 or more (the entry wants bytes), no more than kFlushAbove bytes wait
//     to be written, and the step's match ends kCopyReach bytes or more
//     before the window's end;
//   - at an input position below PlainStepsBelow: then it needs no refill of
//     the input buffer and stays within the meaningful input. With a reader
//     just refilled (kRefilledBits valid, so the position lies at least 7
//     bytes below Next) that holds while Next is at most FastInputEnd.

// The window position at which a stretch of fast steps stops: the window
// position itself where no fast step may start. Wants UnpackedLeft 0 or more.
inline uint32_t FastWindowEnd(const StepState& s) {
    if (s.Pending > kFlushAbove || s.WindowPos >= kFastWindowEnd) return s.WindowPos;
    uint32_t room = kFastWindowEnd - s.WindowPos;
    uint32_t left = static_cast<uint32_t>(s.UnpackedLeft);
    if (left < room) room = left + 1;  // the last step starts with the count at 0
    if (kFlushAbove - s.Pending < room) room = kFlushAbove - s.Pending + 1;
    return s.WindowPos + room;
}

inline uint32_t FastInputEnd(const StepState& s) { return s.PlainStepsBelow + kRefilledBits / 8 - 1; }

// Fast steps, as many as the bounds above allow.
//
// On entry: UnpackedLeft is 0 or more; the reader holds at least one valid
// bit; the literal, distance and repeat tables and their lookups are built.
//
// Each step starts with a refilled reader and the lookup entry for its
// leading bits. What the lookups do not settle (a code longer than they
// reach) and a table switch end the stretch before anything of that step is
// consumed: the exact step takes them, so that nothing here is a call.
//
// On exit: every step run is accounted in WindowPos (which has not wrapped),
// UnpackedLeft (below 0 when the entry is complete), Pending (at most
// kFlushAbove + kMaxMatchLength) and the match state; the step that stopped
// the stretch is still to run.
//
// Kept out of line: on its own the loop gets the registers it needs, which
// it does not get inside RunSteps, and the call is made once a stretch.
__attribute__((noinline)) void RunFastSteps(const UnpackContext* ctx, StepState& s, MatchState& state) {
    const uint32_t windowEnd = FastWindowEnd(s);
    MatchState ms = state;
    BitReader r = s.Bits;
    uint32_t winPos = s.WindowPos;
    if (winPos >= windowEnd || r.Next > s.PlainStepsBelow) return;  // the position lies a bit below Next
    const uint32_t inputEnd = FastInputEnd(s);
    uint8_t* const window = ctx->WindowMemory;
    const uint8_t* const input = ctx->InputBuffer;
    Refill(r, input);
    uint32_t entry = LiteralLookup(ctx, r.Buf);
    do {
        if (IsLiteralEntry(entry)) {
            window[winPos++] = EntryLiteral(entry);
            Consume(r, EntryBits(entry));
            entry = LiteralLookup(ctx, r.Buf);  // before the refill: see kRefilledBits
            Refill(r, input);
            continue;
        }
        // A match, unless a code after the entry is longer than its lookup.
        Match m;
        uint32_t kind = EntryKindOf(entry);
        if (kind == kEntryMatch) {
            uint32_t d = ctx->FastDistance[(r.Buf << EntryBits(entry)) >> (64 - kFastDistanceBits)];
            if (!d) break;
            m = LongMatch(entry, d, r);
        } else if (kind == kEntryShort) {
            m = ShortMatch(entry, r);
        } else if (kind == kEntryRecent) {
            uint32_t e = ctx->FastRepeat[(r.Buf << EntryBits(entry)) >> (64 - kFastRepeatBits)];
            if (!e) break;
            m = RecentMatch(ms, entry, e, r);
        } else if (kind == kEntryRepeatLast) {
            m = LastMatch(ms, entry, r);
        } else {
            break;  // a table switch
        }
        entry = LiteralLookup(ctx, r.Buf);  // before the refill, as after a literal
        Refill(r, input);
        RecordMatch(ms, m);
        CopyMatch(window, winPos, m);
        winPos += m.Length;
    } while (winPos < windowEnd && r.Next <= inputEnd);
    s.UnpackedLeft = WrapSub(s.UnpackedLeft, winPos - s.WindowPos);
    s.Pending += winPos - s.WindowPos;
    s.WindowPos = winPos;
    s.Bits = r;
    state = ms;
}

// Before an exact step: refills the input buffer when the position is above
// kStepRefillAbove, and writes the window out when more than kFlushAbove
// bytes wait. Returns false when every meaningful input byte is consumed:
// a step that starts there ends the entry early. A whole entry never gets
// there; a cut-off one would otherwise decode stale bytes up to its stored
// size.
//
// On entry: the position lies in the input buffer, at most kStepRefillAbove
// or among the bytes a refill carries to the front.
bool PrepareExactStep(UnpackContext* ctx, StepState& s) {
    uint32_t pos = ConsumedBits(s.Bits) >> 3;
    if (pos >= s.PlainStepsBelow) {
        if (pos > kStepRefillAbove) {
            StoreInputPosition(ctx, s.Bits);
            FillInputBuffer(ctx, false);
            s.Bits = ReaderAt(ctx->InputBuffer, ctx->InputPos, ctx->InputBit);
            pos = ctx->InputPos;
        }
        if (pos >= ctx->InputEnd) return false;
        s.PlainStepsBelow = PlainStepsBelow(ctx);
    }
    if (s.Pending > kFlushAbove) {
        ctx->WindowPos = s.WindowPos;
        FlushWindow(ctx);
        s.Pending = 0;
    }
    return true;
}

// One step with every test made: any code length, a table switch, and the
// window's wrap taken byte by byte.
//
// On entry: UnpackedLeft is 0 or more; the position lies in the input
// buffer, at most kStepRefillAbove or among the bytes a refill carries.
// Returns false, with nothing consumed, when the entry ends early (see
// PrepareExactStep); otherwise the step has run. Its position was at most
// kStepRefillAbove and no more than kFlushAbove bytes waited before it.
bool RunExactStep(UnpackContext* ctx, StepState& s, MatchState& ms) {
    if (!PrepareExactStep(ctx, s)) return false;
    BitReader& r = s.Bits;
    Refill(r, ctx->InputBuffer);
    uint32_t entry = LiteralLookup(ctx, r.Buf);
    if (!entry) entry = RuleEntry(&ctx->LiteralTable, kLookupLiteral, Top16(r.Buf));
    if (IsLiteralEntry(entry)) {
        ctx->WindowMemory[s.WindowPos] = EntryLiteral(entry);
        s.WindowPos = (s.WindowPos + 1) & kWindowMask;
        s.UnpackedLeft--;
        s.Pending++;
        Consume(r, EntryBits(entry));
        return true;
    }
    if (EntryKindOf(entry) == kEntrySwitch) {
        Consume(r, EntryBits(entry));
        StoreInputPosition(ctx, r);
        // A table set follows. After an audio set the steps go on with the
        // LZ tables of the set before: audio tables decode no data here
        // (ReadCodeTables).
        ReadCodeTables(ctx);
        r = ReaderAt(ctx->InputBuffer, ctx->InputPos, ctx->InputBit);
        s.PlainStepsBelow = PlainStepsBelow(ctx);
        return true;
    }
    // A match; a code after the entry that is longer than its lookup goes
    // to the rule.
    Match m;
    uint32_t kind = EntryKindOf(entry);
    uint32_t after = Top16(r.Buf << EntryBits(entry));
    if (kind == kEntryMatch) {
        uint32_t d = LookupOrRule(ctx->FastDistance, kFastDistanceBits, &ctx->DistanceTable,
                                  kLookupDistance, after);
        m = LongMatch(entry, d, r);
    } else if (kind == kEntryShort) {
        m = ShortMatch(entry, r);
    } else if (kind == kEntryRecent) {
        uint32_t e = LookupOrRule(ctx->FastRepeat, kFastRepeatBits, &ctx->RepeatTable, kLookupRepeat, after);
        m = RecentMatch(ms, entry, e, r);
    } else {
        m = LastMatch(ms, entry, r);
    }
    RecordMatch(ms, m);
    CopyMatchAnywhere(ctx->WindowMemory, s.WindowPos, m);
    s.WindowPos = (s.WindowPos + m.Length) & kWindowMask;
    s.UnpackedLeft = WrapSub(s.UnpackedLeft, m.Length);
    s.Pending += m.Length;
    return true;
}

// The decode loop: runs steps while the entry wants bytes (UnpackedLeft,
// counted down from the size minus one, is 0 or more), in stretches of fast
// steps with an exact step wherever a stretch stops.
//
// On entry: InputPos/InputBit name the next bit; InputBuffer holds packed
// bytes up to InputEnd and is readable in full (bytes beyond InputEnd are
// stale, zero at first); the literal, distance and repeat tables and their
// lookups are built (a zero-filled record counts: every lookup sends to the
// rule); at most kFlushAbove window bytes wait to be written.
//
// A step is one symbol of the literal table: a literal (one byte), a match
// (256..268, 270..297, at most kMaxMatchLength bytes) or a table switch
// (269, no bytes). It reads at most kStepMaxBits bits, which one refill of
// the bit reader provides, and adds at most kMaxMatchLength < kFlushMargin
// bytes, so with at most kFlushAbove waiting before it no unwritten byte is
// overwritten.
//
// On return: UnpackedLeft is below 0, or the input ran out; the input
// position, WindowPos, UnpackedLeft and the match state are back in the
// record; bytes decoded since the last flush still wait in the window.
void RunSteps(UnpackContext* ctx) {
    MatchState ms;
    StepState s = LoadSteps(ctx, ms);
    while (s.UnpackedLeft >= 0) {
        RunFastSteps(ctx, s, ms);
        if (s.UnpackedLeft < 0 || !RunExactStep(ctx, s, ms)) break;
    }
    StoreSteps(ctx, s, ms);
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
