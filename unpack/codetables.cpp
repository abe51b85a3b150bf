#include "unpack/codetables.h"

#include <string.h>

#include "unpack/bitinput.h"
#include "unpack/huffman.h"

namespace {

enum {
    // Bits a table set's start reads: the two flags, the channel count and
    // the 19 pre-code lengths. One code length takes a pre-code symbol and at
    // most 7 extra bits of a run.
    kTableHeaderBits = 2 + 2 + kPreCodeSymbols * kPreCodeLengthBits,
    // Refill before a table set nearer the end of the buffer than this, and
    // before each code length.
    kTablesRefillAbove = kInputBufferSize - 25,
    kLengthsRefillAbove = kInputBufferSize - 5,
    // The pre-code is decoded by a lookup of this many leading bits.
    kPreCodeLookupBits = 7
};
static_assert(PeeksStayInBuffer(kTablesRefillAbove, kTableHeaderBits - kPreCodeLengthBits),
              "the header and the 19 pre-code lengths need no refill");
static_assert(PeeksStayInBuffer(kLengthsRefillAbove, kMaxCodeBits), "one code length needs no refill");
static_assert(RefillKeepsPosition(kTablesRefillAbove) && RefillKeepsPosition(kLengthsRefillAbove),
              "a refill happens only where the carried bytes hold the position");

// Reads an n-bit number (n = 1..16).
uint32_t ReadNumber(UnpackContext* ctx, uint32_t bits) {
    uint32_t value = PeekBits(ctx) >> (16 - bits);
    SkipBits(ctx, bits);
    return value;
}

}  // namespace

void ReadCodeTables(UnpackContext* ctx) {
    if (ctx->InputPos > kTablesRefillAbove) FillInputBuffer(ctx, false);

    uint32_t header = PeekBits(ctx);
    ctx->AudioFlag = header & kTableFlagAudio;
    if ((header & kTableFlagKeep) == 0) memset(ctx->PrevCodeLengths, 0, sizeof ctx->PrevCodeLengths);
    SkipBits(ctx, 2);

    uint32_t setSize = kLzTableSetSize;
    if (ctx->AudioFlag) {
        ctx->ChannelCount = static_cast<int32_t>(((header >> 12) & 3) + 1);
        if (ctx->ActiveChannel >= ctx->ChannelCount) ctx->ActiveChannel = 0;
        SkipBits(ctx, 2);
        setSize = static_cast<uint32_t>(ctx->ChannelCount) * kAudioSymbols;
    }

    uint8_t preLengths[kPreCodeSymbols];
    for (int i = 0; i < kPreCodeSymbols; i++)
        preLengths[i] = static_cast<uint8_t>(ReadNumber(ctx, kPreCodeLengthBits));
    BuildHuffTable(preLengths, &ctx->PreCodeTable, kPreCodeSymbols);
    uint32_t preLookup[1 << kPreCodeLookupBits];
    BuildLookup(&ctx->PreCodeTable, preLookup, kPreCodeLookupBits, kLookupSymbol);

    // Positions beyond the set size stay 0; they only serve as the base of
    // a later, larger set with the keep flag.
    uint8_t lengths[kMaxCodeLengths] = {0};
    const uint8_t* previous = ctx->PrevCodeLengths;
    uint32_t i = 0;
    while (i < setSize) {
        if (ctx->InputPos > kLengthsRefillAbove) FillInputBuffer(ctx, false);
        // The symbol DecodeHuffSymbol gives, by lookup where that settles it.
        uint32_t entry = LookupOrRule(preLookup, kPreCodeLookupBits, &ctx->PreCodeTable, kLookupSymbol, PeekBits(ctx));
        SkipBits(ctx, EntryBits(entry));
        uint32_t s = EntryValue(entry);
        if (s < kPreCodeRepeat) {
            lengths[i] = static_cast<uint8_t>((previous[i] + s) & 15);
            i++;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (s == kPreCodeRepeat) {
            run = ReadNumber(ctx, kRepeatRunBits) + kRepeatRunBase;
            value = i > 0 ? lengths[i - 1] : 0;  // nothing before position 0: repeat 0
        } else if (s == kPreCodeZeros) {
            run = ReadNumber(ctx, kZerosRunBits) + kZerosRunBase;
        } else {
            run = ReadNumber(ctx, kLongZerosRunBits) + kLongZerosRunBase;
        }
        // A run that would pass the end of the set is cut there.
        for (; run > 0 && i < setSize; run--) lengths[i++] = value;
    }

    if (ctx->AudioFlag) {
        // An audio set is read in full and its channel tables are built, but
        // no data is decoded with them: this decoder has no audio filter.
        // The literal, distance and repeat tables and their lookups stay
        // those of the last LZ set, and the steps after this set go on
        // decoding LZ symbols with them. Only CheckTrailingTables reads an
        // audio table, for whether a set follows at the entry's end.
        for (int32_t c = 0; c < ctx->ChannelCount; c++)
            BuildHuffTable(lengths + c * kAudioSymbols, &ctx->AudioTables[c], kAudioSymbols);
    } else {
        BuildHuffTable(lengths, &ctx->LiteralTable, kLiteralSymbols);
        BuildHuffTable(lengths + kLiteralSymbols, &ctx->DistanceTable, kDistanceSymbols);
        BuildHuffTable(lengths + kLiteralSymbols + kDistanceSymbols, &ctx->RepeatTable, kRepeatSymbols);
        BuildLookup(&ctx->LiteralTable, ctx->FastLiteral, kFastLiteralBits, kLookupLiteral);
        BuildLookup(&ctx->DistanceTable, ctx->FastDistance, kFastDistanceBits, kLookupDistance);
        BuildLookup(&ctx->RepeatTable, ctx->FastRepeat, kFastRepeatBits, kLookupRepeat);
    }
    memcpy(ctx->PrevCodeLengths, lengths, sizeof ctx->PrevCodeLengths);
}

void CheckTrailingTables(UnpackContext* ctx) {
    if (ctx->InputEnd < ctx->InputPos + 5) return;  // fewer than five meaningful bytes left
    if (ctx->AudioFlag) {
        if (DecodeHuffSymbol(ctx, &ctx->AudioTables[ctx->ActiveChannel]) == kAudioSwitchSymbol)
            ReadCodeTables(ctx);
    } else if (DecodeHuffSymbol(ctx, &ctx->LiteralTable) == kSymbolSwitchTables) {
        ReadCodeTables(ctx);
    }
}
