// The greedy and lazy parse: each position's best match by gain, the
// recent distances tried before the chains because they are the cheapest
// to name. Gains are reckoned with the prices of the block being gathered,
// so a match that the codes make dear loses to literals.
#include "pack/lazyparser.h"

namespace {

// What one parse of a slice works with.
struct LazyRun {
    LazyParse* Parse;
    const LevelParams* Params;
    SliceView* View;
    ParseModel* Model;
    ParsedSteps* Steps;
};

// Takes the match as best when it gains more than best does.
void Consider(const ParseModel* m, uint32_t length, uint32_t distance, Choice* best) {
    uint32_t cost = ChooseSymbol(m->Price, m->Match, length, distance, nullptr);
    if (!cost) return;
    int32_t gain = static_cast<int32_t>(length * m->AverageLiteral) - static_cast<int32_t>(cost);
    if (gain > best->Gain) *best = {length, distance, gain};
}

// The best match at pos, for a match that ends by entryEnd, as far as the
// search goes (chainLimit links); length 0 when no match gains. Indexes
// pos and the positions before it.
Choice Search(const LazyRun& r, uint32_t pos, uint32_t entryEnd, uint32_t chainLimit) {
    const ParseModel* m = r.Model;
    Choice best = {0, 0, 0};
    FinderSpot spot = SpotAt(r.View, pos, entryEnd);
    const uint32_t limit = spot.Limit;
    const uint8_t* here = spot.Here;
    if (limit >= 2) {
        // Recent distances first: they are the cheapest to name.
        for (uint32_t k = 0; k < kRecentDistances; k++) {
            uint32_t d = m->Match.RecentDistances[k];
            if (d == 0 || d > spot.Reach) continue;
            uint32_t longest = MaxRecentLengthFor(d);
            uint32_t n = CommonLength(here, here - d, limit < longest ? limit : longest);
            if (n >= kRecentMinLength + RecentLengthBonus(d)) Consider(m, n, d, &best);
            // A shorter repeat of exactly the last match is cheaper still.
            if (k == 0 && m->Match.PrevLength >= 2 && n > m->Match.PrevLength)
                Consider(m, m->Match.PrevLength, d, &best);
        }
    }
    ChainFindMatches(&r.Parse->Chains, spot, chainLimit, &r.Parse->FoundScratch);
    for (const Found& f : r.Parse->FoundScratch) Consider(m, f.Length, f.Distance, &best);
    return best;
}

void TakeLiteral(const LazyRun& r, uint32_t pos) {
    AddLiteralStep(r.Steps);
    ModelLiteral(r.Model, *At(r.View, pos));
}

// Takes the match c at pos and indexes the positions it covers: all of
// them when the level says so or the match is short, else its first four.
// Returns the position after it.
uint32_t TakeMatch(const LazyRun& r, uint32_t pos, uint32_t entryEnd, const Choice& c) {
    AddMatchStep(r.Steps, c.Length, c.Distance);
    ModelMatch(r.Model, c.Length, c.Distance);
    uint32_t after = pos + c.Length;
    FinderSpot spot = SpotAt(r.View, pos, entryEnd);
    ChainFinder* chains = &r.Parse->Chains;
    if (r.Params->InsertAll || c.Length <= 8) {
        ChainIndexUpTo(chains, spot, after);
    } else {
        ChainIndexUpTo(chains, spot, pos + 4);
        ChainPassOver(chains, after);
    }
    return after;
}

}  // namespace

bool CreateLazyParse(LazyParse* parse, const LevelParams& params) {
    parse->FoundScratch.reserve(kMaxMatchLength + 2);
    return CreateChainFinder(&parse->Chains, params.Nice);
}

void DestroyLazyParse(LazyParse* parse) { DestroyChainFinder(&parse->Chains); }

size_t LazyParseBytes() { return (kMaxMatchLength + 2) * sizeof(Found) + kChainFinderBytes; }

void ParseLazy(LazyParse* lazy, const LevelParams& p, SliceView* view, ParseModel* model, ParsedSteps* steps) {
    const LazyRun r = {lazy, &p, view, model, steps};
    ResetChainFinder(&lazy->Chains, view->Base);
    if (view->Start > view->Base) ChainIndexUpTo(&lazy->Chains, SpotAt(view, view->Start, view->End), view->Start);
    lazy->HaveNext = false;
    uint32_t pos = view->Start;
    while (pos < view->End) {
        uint32_t entryEnd = EntryEndAt(view, pos);
        Choice c = lazy->HaveNext ? lazy->Next : Search(r, pos, entryEnd, p.Chain);
        lazy->HaveNext = false;
        if (c.Length == 0) {
            TakeLiteral(r, pos);
            pos++;
        } else {
            if (p.Lazy && c.Length < p.MaxLazy && pos + 1 < entryEnd) {
                // Against a fair match already in hand, a shorter look suffices.
                Choice n = Search(r, pos + 1, entryEnd, c.Length >= p.Good ? p.Chain >> 2 : p.Chain);
                if (n.Gain > c.Gain) {
                    TakeLiteral(r, pos);
                    pos++;
                    lazy->Next = n;
                    lazy->HaveNext = true;
                    continue;
                }
            }
            pos = TakeMatch(r, pos, entryEnd, c);
        }
        // A lookahead in hand was priced with the prices of now: keep the chunk.
        if (!lazy->HaveNext && model->ChunkTokens >= p.ChunkTokens) EndChunk(model, steps);
    }
}
