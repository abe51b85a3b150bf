// The greedy and lazy parse: each position's best match by gain, the
// recent distances tried before the chains because they are the cheapest
// to name. Gains are reckoned with the prices of the block being gathered,
// so a match that the codes make dear loses to literals.
#include "pack/lazyparser.h"

#include "pack/encoderstate.h"

namespace {

// Takes the match as best when it gains more than best does.
void Consider(const LzEncoder* e, uint32_t length, uint32_t distance, Choice* best) {
    uint32_t cost = ChooseSymbol(e->Price, e->Match, length, distance, nullptr);
    if (!cost) return;
    int32_t gain = static_cast<int32_t>(length * e->AverageLiteral) - static_cast<int32_t>(cost);
    if (gain > best->Gain) *best = {length, distance, gain};
}

// The best match at pos, for a match that ends by entryEnd, as far as the
// search goes (chainLimit links); length 0 when no match gains. Indexes
// pos and the positions before it.
Choice Search(LzEncoder* e, uint32_t pos, uint32_t entryEnd, uint32_t chainLimit) {
    Choice best = {0, 0, 0};
    FinderSpot spot = SpotAt(e, pos, entryEnd);
    const uint32_t limit = spot.Limit;
    const uint8_t* here = spot.Here;
    if (limit >= 2) {
        // Recent distances first: they are the cheapest to name.
        for (uint32_t k = 0; k < kRecentDistances; k++) {
            uint32_t d = e->Match.RecentDistances[k];
            if (d == 0 || d > spot.Reach) continue;
            uint32_t longest = MaxRecentLengthFor(d);
            uint32_t n = CommonLength(here, here - d, limit < longest ? limit : longest);
            if (n >= kRecentMinLength + RecentLengthBonus(d)) Consider(e, n, d, &best);
            // A shorter repeat of exactly the last match is cheaper still.
            if (k == 0 && e->Match.PrevLength >= 2 && n > e->Match.PrevLength)
                Consider(e, e->Match.PrevLength, d, &best);
        }
    }
    ChainFindMatches(&e->Lazy.Chains, spot, chainLimit, &e->Lazy.FoundScratch);
    for (const Found& f : e->Lazy.FoundScratch) Consider(e, f.Length, f.Distance, &best);
    return best;
}

// Emits the match c at pos and indexes the positions it covers: all of
// them when the level says so or the match is short, else its first four.
void TakeMatch(LzEncoder* e, uint32_t pos, uint32_t entryEnd, const Choice& c) {
    EmitMatch(e, c.Length, c.Distance);
    uint32_t after = pos + c.Length;
    FinderSpot spot = SpotAt(e, pos, entryEnd);
    if (e->Params.InsertAll || c.Length <= 8) {
        ChainIndexUpTo(&e->Lazy.Chains, spot, after);
    } else {
        ChainIndexUpTo(&e->Lazy.Chains, spot, pos + 4);
        ChainPassOver(&e->Lazy.Chains, after);
    }
    e->Pos = after;
}

}  // namespace

bool CreateLazyParse(LazyParse* parse, const LevelParams& params) {
    parse->FoundScratch.reserve(kMaxMatchLength + 2);
    return CreateChainFinder(&parse->Chains, params.Nice);
}

void DestroyLazyParse(LazyParse* parse) { DestroyChainFinder(&parse->Chains); }

size_t LazyParseBytes() { return (kMaxMatchLength + 2) * sizeof(Found) + kChainFinderBytes; }

void ParseLazy(LzEncoder* e, uint32_t end) {
    const LevelParams& p = e->Params;
    LazyParse& lazy = e->Lazy;
    while (e->Pos < end) {
        uint32_t pos = e->Pos;
        uint32_t entryEnd = EntryEndAt(e, pos);
        Choice c = lazy.HaveNext ? lazy.Next : Search(e, pos, entryEnd, p.Chain);
        lazy.HaveNext = false;
        if (c.Length == 0) {
            EmitLiteral(e, pos);
            e->Pos = pos + 1;
        } else {
            if (p.Lazy && c.Length < p.MaxLazy && pos + 1 < entryEnd) {
                // Against a fair match already in hand, a shorter look suffices.
                Choice n = Search(e, pos + 1, entryEnd, c.Length >= p.Good ? p.Chain >> 2 : p.Chain);
                if (n.Gain > c.Gain) {
                    EmitLiteral(e, pos);
                    e->Pos = pos + 1;
                    lazy.Next = n;
                    lazy.HaveNext = true;
                    continue;
                }
            }
            TakeMatch(e, pos, entryEnd, c);
        }
        // A lookahead in hand was priced with the prices of now: keep the chunk.
        if (!lazy.HaveNext && e->Chunk.Tokens.size() >= p.ChunkTokens) CloseChunk(e);
    }
}
