// The parse's own picture of blocks: the same decision the block coder
// makes on the steps it writes, taken on the parse's counts alone.
#include "pack/parserun.h"

#include <string.h>

#include "pack/lzblocks.h"
#include "pack/tableset.h"

void ResetParseModel(ParseModel* m) {
    SetDefaultPrices(&m->Price);
    m->AverageLiteral = 8;
    memset(&m->Match, 0, sizeof m->Match);
    ClearStats(&m->Block);
    ClearStats(&m->Chunk);
    m->BlockTokens = 0;
    m->ChunkTokens = 0;
    m->HaveTables = false;
    memset(m->PrevLengths, 0, sizeof m->PrevLengths);
}

bool ChunkJoinsBlock(const Stats& block, uint32_t blockTokens, const Stats& chunk, uint32_t chunkTokens,
                     const uint8_t* previous) {
    if (blockTokens == 0 || blockTokens + chunkTokens > kMaxBlockTokens) return false;
    Stats merged = block;
    AddStats(&merged, chunk);
    uint8_t both[kLzTableSetSize], alone[kLzTableSetSize], next[kLzTableSetSize];
    LengthsFor(merged, both);
    LengthsFor(block, alone);
    LengthsFor(chunk, next);
    uint64_t joined = StatsBits(merged, both) + EstimateTableSetBits(both, previous);
    uint64_t split = StatsBits(block, alone) + EstimateTableSetBits(alone, previous) + StatsBits(chunk, next) +
                     EstimateTableSetBits(next, alone) + alone[kSymbolSwitchTables];
    return joined <= split;
}

void PricesOfBlock(const Stats& block, Prices* price, uint32_t* averageLiteral) {
    uint8_t lengths[kLzTableSetSize];
    LengthsFor(block, lengths);
    SetPrices(price, lengths);
    *averageLiteral = AverageLiteralPrice(*price, block);
}

void EndChunk(ParseModel* m, ParsedSteps* steps) {
    if (m->ChunkTokens == 0) return;
    steps->Words.push_back(kStepChunkEnd);
    if (ChunkJoinsBlock(m->Block, m->BlockTokens, m->Chunk, m->ChunkTokens, m->PrevLengths)) {
        AddStats(&m->Block, m->Chunk);
        m->BlockTokens += m->ChunkTokens;
    } else {
        // The block is written: its tables are what the next set is told against.
        if (m->BlockTokens) {
            LengthsFor(m->Block, m->PrevLengths);
            m->HaveTables = true;
        }
        m->Block = m->Chunk;
        m->BlockTokens = m->ChunkTokens;
    }
    ClearStats(&m->Chunk);
    m->ChunkTokens = 0;
    PricesOfBlock(m->Block, &m->Price, &m->AverageLiteral);
}
