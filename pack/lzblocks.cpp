// Block coding: the steps turned into symbols, where to end a block (a
// chunk joins the block before it when one table set for both is cheaper),
// which tables a block is written with, and the bit writing of its steps
// into each entry's stream.
#include "pack/lzblocks.h"

#include <string.h>

#include "pack/huffman.h"
#include "pack/tableset.h"

namespace {

// Bits of the table set that codes lengths after the set previous.
uint32_t TableSetBits(const uint8_t* lengths, const uint8_t* previous) {
    TableSetPlan plan;
    PlanTableSet(lengths, previous, &plan);
    return plan.Bits;
}

// Whether the block costs less with tables of its own (fresh), their table
// set and the switch symbol counted, than with the tables in force. At the
// start of the stream there are none in force: always fresh.
bool TakesFreshTables(const BlockCoder* e, const Stats& counts, const uint8_t* fresh) {
    if (!e->HaveTables) return true;
    uint64_t oldBits = StatsBits(counts, e->Lengths);
    uint64_t freshBits =
        StatsBits(counts, fresh) + TableSetBits(fresh, e->PrevLengths) + e->Lengths[kSymbolSwitchTables];
    return freshBits < oldBits;
}

// Writes one step with the tables in force: its symbol, then its extra bits
// and second symbol in the order the decoder reads them.
inline void WriteStep(const BlockCoder* e, BitSink* sink, const Token& t) {
    const uint8_t* lengths = e->Lengths;
    const uint16_t* codes = e->Codes;
    const uint8_t* distanceLengths = lengths + kLiteralCount;
    const uint16_t* distanceCodes = codes + kLiteralCount;
    const uint8_t* repeatLengths = distanceLengths + kDistanceSymbols;
    const uint16_t* repeatCodes = distanceCodes + kDistanceSymbols;
    PutBits(sink, codes[t.Symbol], lengths[t.Symbol]);
    if (t.Symbol >= kSymbolFirstMatch) {
        uint32_t slot = t.Symbol - kSymbolFirstMatch;
        PutBits(sink, t.LengthExtra, LengthExtraBits[slot]);
        PutBits(sink, distanceCodes[t.Second], distanceLengths[t.Second]);
        PutBits(sink, t.Extra, DistanceExtraBits[t.Second]);
    } else if (t.Symbol >= kSymbolFirstShort) {
        PutBits(sink, t.Extra, ShortDistanceExtraBits[t.Symbol - kSymbolFirstShort]);
    } else if (t.Symbol >= kSymbolFirstRecent) {
        PutBits(sink, repeatCodes[t.Second], repeatLengths[t.Second]);
        PutBits(sink, t.LengthExtra, LengthExtraBits[t.Second]);
    }
}

// Counts a written step of bits bits into the census.
void CountStep(PackCensus* census, const Token& t, uint64_t bits) {
    int kind = t.Symbol < kSymbolRepeatLast   ? kCensusLiteral
               : t.Symbol < kSymbolFirstRecent ? kCensusRepeatLast
               : t.Symbol < kSymbolFirstShort  ? kCensusRecent
               : t.Symbol < kSymbolFirstMatch  ? kCensusShort
                                               : kCensusMatch;
    census->Steps[kind]++;
    if (kind == kCensusMatch) {
        uint32_t distance = DistanceBase[t.Second] + 1 + t.Extra;
        if (distance > census->FarthestDistance) census->FarthestDistance = distance;
    }
    census->StepBits[kind] += bits;
}

// Moves the coder's entry on to the one that holds its position.
void PassEntryEnds(BlockCoder* c) {
    while (!c->Ends.empty() && c->Ends.front() <= c->Pos) {
        c->Ends.pop_front();
        c->Entry++;
    }
}

// Adds a step at the coder's position to the chunk; a full chunk is closed.
inline void AddToken(BlockCoder* c, Token* t) {
    PassEntryEnds(c);
    t->Entry = c->Entry;
    c->Chunk.Tokens.push_back(*t);
    CountToken(&c->Chunk.Counts, *t);
    if (c->Chunk.Tokens.size() >= kMaxBlockTokens) CloseChunk(c);
}

}  // namespace

void FlushBlock(BlockCoder* e) {
    TokenRun& block = e->Pending;
    if (block.Tokens.empty()) return;
    uint8_t fresh[kLzTableSetSize];
    LengthsFor(block.Counts, fresh);
    BitSink* first = &e->Entries[block.Tokens[0].Entry - e->FirstPending].Sink;
    // The first set of the first entry comes without a switch symbol.
    if (TakesFreshTables(e, block.Counts, fresh)) WriteTables(e, first, fresh, e->HaveTables);

    uint32_t entry = ~0u;
    BitSink* sink = nullptr;
    PackCensus* census = e->Setup->Census;
    for (const Token& t : block.Tokens) {
        if (t.Entry != entry) {
            entry = t.Entry;
            sink = &e->Entries[entry - e->FirstPending].Sink;
        }
        uint64_t bitsBefore = census ? BitsWritten(sink) : 0;
        WriteStep(e, sink, t);
        if (census) CountStep(census, t, BitsWritten(sink) - bitsBefore);
    }
    if (census)
        for (int i = 0; i < kLiteralCount; i++) census->Symbols[i] += block.Counts.Literal[i];
    block.Tokens.clear();
    ClearStats(&block.Counts);
}

void CloseChunk(BlockCoder* e) {
    TokenRun& block = e->Pending;
    TokenRun& chunk = e->Chunk;
    if (chunk.Tokens.empty()) return;
    if (!ChunkJoinsBlock(block.Counts, static_cast<uint32_t>(block.Tokens.size()), chunk.Counts,
                         static_cast<uint32_t>(chunk.Tokens.size()), e->PrevLengths)) {
        FlushBlock(e);
        block.Tokens.swap(chunk.Tokens);
        block.Counts = chunk.Counts;
    } else {
        block.Tokens.insert(block.Tokens.end(), chunk.Tokens.begin(), chunk.Tokens.end());
        AddStats(&block.Counts, chunk.Counts);
    }
    chunk.Tokens.clear();
    ClearStats(&chunk.Counts);
    uint32_t averageLiteral;
    PricesOfBlock(block.Counts, &e->Price, &averageLiteral);
    HandOutReady(e);
}

void WriteTables(BlockCoder* e, BitSink* sink, const uint8_t* lengths, bool viaSwitch) {
    if (viaSwitch) PutBits(sink, e->Codes[kSymbolSwitchTables], e->Lengths[kSymbolSwitchTables]);
    TableSetPlan plan;
    PlanTableSet(lengths, e->PrevLengths, &plan);
    WriteTableSet(sink, plan);
    if (PackCensus* census = e->Setup->Census) {
        census->TableSets++;
        census->TableSetBits += plan.Bits + (viaSwitch ? e->Lengths[kSymbolSwitchTables] : 0);
        if (viaSwitch) census->Symbols[kSymbolSwitchTables]++;
    }
    memcpy(e->Lengths, lengths, kLzTableSetSize);
    memcpy(e->PrevLengths, lengths, kLzTableSetSize);
    AssignCanonicalCodes(e->Lengths, kLiteralCount, e->Codes);
    AssignCanonicalCodes(e->Lengths + kLiteralCount, kDistanceSymbols, e->Codes + kLiteralCount);
    AssignCanonicalCodes(e->Lengths + kLiteralCount + kDistanceSymbols, kRepeatSymbols,
                         e->Codes + kLiteralCount + kDistanceSymbols);
    e->HaveTables = true;
}

void HandOutReady(BlockCoder* e) {
    // Entries before the one the first unwritten step belongs to are final:
    // the table set of that step's block goes into its entry's stream.
    uint32_t ready = !e->Pending.Tokens.empty() ? e->Pending.Tokens[0].Entry
                     : !e->Chunk.Tokens.empty() ? e->Chunk.Tokens[0].Entry
                                                : e->Entry;
    while (e->FirstPending < ready) {
        PendingEntry& entry = e->Entries.front();
        AlignToByte(&entry.Sink);
        if (e->Setup->EntryPacked)
            e->Setup->EntryPacked(e->Setup->User, e->FirstPending, entry.Sink.Bytes.data(), entry.Sink.Bytes.size());
        e->Entries.pop_front();
        e->FirstPending++;
    }
    // A large entry that is still being coded hands out what it has, so its
    // packed bytes need not wait in memory.
    if (!e->Entries.empty() && e->Setup->EntryBytes && e->Entries.front().Sink.Bytes.size() >= kHandOutBytes) {
        std::vector<uint8_t>& bytes = e->Entries.front().Sink.Bytes;
        e->Setup->EntryBytes(e->Setup->User, e->FirstPending, bytes.data(), bytes.size());
        bytes.clear();
    }
}


void InitBlockCoder(BlockCoder* c, const LzEncoderSetup* setup) {
    c->Setup = setup;
    c->Pos = 0;
    c->Entry = 0;
    memset(&c->Match, 0, sizeof c->Match);
    SetDefaultPrices(&c->Price);
    c->Pending.Tokens.reserve(kMaxBlockTokens);
    c->Chunk.Tokens.reserve(kMaxBlockTokens);
    ClearStats(&c->Pending.Counts);
    ClearStats(&c->Chunk.Counts);
    c->HaveTables = false;
    memset(c->Lengths, 0, sizeof c->Lengths);
    memset(c->PrevLengths, 0, sizeof c->PrevLengths);
    memset(c->Codes, 0, sizeof c->Codes);
    c->FirstPending = 0;
}

size_t BlockCoderBytes() { return sizeof(BlockCoder) + 2 * size_t(kMaxBlockTokens) * sizeof(Token); }

void OpenEntry(BlockCoder* c) { c->Entries.emplace_back(); }

void CloseEntry(BlockCoder* c, uint32_t end) {
    if (end == 0 && c->FirstPending + c->Entries.size() == 1) {
        // The first entry is read non-solid and always starts with a table
        // set; an empty one carries a set that only names the switch symbol,
        // so the next entry can bring its own.
        uint8_t lengths[kLzTableSetSize] = {0};
        lengths[kSymbolSwitchTables] = 1;
        WriteTables(c, &c->Entries.back().Sink, lengths, false);
    }
    c->Ends.push_back(end);
    PassEntryEnds(c);
    HandOutReady(c);
}

void CodeSteps(BlockCoder* c, const ParsedSteps& steps, const uint8_t* data) {
    const uint8_t* here = data;
    for (uint32_t word : steps.Words) {
        if (word == kStepChunkEnd) {
            CloseChunk(c);
        } else if (word & kStepLiteralRun) {
            for (uint32_t n = word & ~kStepLiteralRun; n > 0; n--) {
                Token t = {*here++, 0, 0, 0, 0};
                AddToken(c, &t);
                c->Pos++;
            }
        } else {
            uint32_t length = word & kStepLengthMask, distance = word >> kStepLengthBits;
            Token t;
            ChooseSymbol(c->Price, c->Match, length, distance, &t);
            Record(&c->Match, length, distance);
            AddToken(c, &t);
            c->Pos += length;
            here += length;
        }
    }
    PassEntryEnds(c);
}
