#include "unpack/codetables.h"

#include <string.h>

#include "install/context.h"
#include "unpack/bitinput.h"
#include "unpack/huffdecode.h"

namespace {

enum {
    kTablesRefillAbove = 8167,   // room for the header and the 19 pre-code lengths
    kLengthsRefillAbove = 8187,  // room for one pre-code symbol and its extra bits
    kAudioSwitchSymbol = 256,
    kTableSwitchSymbol = 269
};

// The table of an audio channel (the record's own when the references were
// never set).
HuffTable* AudioTable(UnpackContext* ctx, int32_t channel) {
    HuffTable* table = ctx->AudioTables[channel];
    return table ? table : &ctx->AudioTableStore[channel];
}

// Reads an n-bit number (n = 1..16).
uint32_t ReadNumber(UnpackContext* ctx, uint32_t bits) {
    uint32_t value = PeekBits(ctx) >> (16 - bits);
    SkipBits(ctx, bits);
    return value;
}

}  // namespace

void ReadCodeTables(UnpackContext* ctx) {
    if (ctx->InputPos > kTablesRefillAbove) FillInputBuffer(ctx, 0);

    uint32_t header = PeekBits(ctx);
    ctx->AudioFlag = header & 0x8000;
    if ((header & 0x4000) == 0) memset(ctx->PrevCodeLengths, 0, sizeof ctx->PrevCodeLengths);
    SkipBits(ctx, 2);

    uint32_t setSize = kLzTableSetSize;
    if (ctx->AudioFlag) {
        ctx->ChannelCount = static_cast<int32_t>(((header >> 12) & 3) + 1);
        if (ctx->ActiveChannel >= ctx->ChannelCount) ctx->ActiveChannel = 0;
        SkipBits(ctx, 2);
        setSize = static_cast<uint32_t>(ctx->ChannelCount) * kAudioSymbols;
    }

    uint8_t preLengths[kPreCodeSymbols];
    for (int i = 0; i < kPreCodeSymbols; i++) preLengths[i] = static_cast<uint8_t>(ReadNumber(ctx, 4));
    BuildHuffTable(preLengths, &ctx->PreCodeTable, kPreCodeSymbols);

    // Positions beyond the set size stay 0; they only serve as the base of
    // a later, larger set with the keep flag.
    uint8_t lengths[kMaxCodeLengths] = {0};
    const uint8_t* previous = ctx->PrevCodeLengths;
    uint32_t i = 0;
    while (i < setSize) {
        if (ctx->InputPos > kLengthsRefillAbove) FillInputBuffer(ctx, 0);
        uint32_t s = DecodeHuffSymbol(ctx, &ctx->PreCodeTable);
        if (s < 16) {
            lengths[i] = static_cast<uint8_t>((previous[i] + s) & 15);
            i++;
            continue;
        }
        uint32_t run;
        uint8_t value = 0;
        if (s == 16) {
            run = ReadNumber(ctx, 2) + 3;
            value = i > 0 ? lengths[i - 1] : 0;  // nothing before position 0: repeat 0
        } else if (s == 17) {
            run = ReadNumber(ctx, 3) + 3;
        } else {
            run = ReadNumber(ctx, 7) + 11;
        }
        // A run that would pass the end of the set is cut there.
        for (; run > 0 && i < setSize; run--) lengths[i++] = value;
    }

    if (ctx->AudioFlag) {
        for (int32_t c = 0; c < ctx->ChannelCount; c++)
            BuildHuffTable(lengths + c * kAudioSymbols, AudioTable(ctx, c), kAudioSymbols);
    } else {
        BuildHuffTable(lengths, &ctx->LiteralTable, kLiteralSymbols);
        BuildHuffTable(lengths + kLiteralSymbols, &ctx->DistanceTable, kDistanceSymbols);
        BuildHuffTable(lengths + kLiteralSymbols + kDistanceSymbols, &ctx->RepeatTable, kRepeatSymbols);
        BuildFastTable(&ctx->LiteralTable, &ctx->FastLiteral);
        BuildFastTable(&ctx->DistanceTable, &ctx->FastDistance);
        BuildFastTable(&ctx->RepeatTable, &ctx->FastRepeat);
    }
    memcpy(ctx->PrevCodeLengths, lengths, sizeof ctx->PrevCodeLengths);
}

void CheckTrailingTables(UnpackContext* ctx) {
    if (ctx->InputEnd < ctx->InputPos + 5) return;  // fewer than five meaningful bytes left
    if (ctx->AudioFlag) {
        if (DecodeHuffSymbol(ctx, AudioTable(ctx, ctx->ActiveChannel)) == kAudioSwitchSymbol)
            ReadCodeTables(ctx);
    } else if (DecodeHuffSymbol(ctx, &ctx->LiteralTable) == kTableSwitchSymbol) {
        ReadCodeTables(ctx);
    }
}
