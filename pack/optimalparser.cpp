// The optimal parse of levels 4-5, in pipeline order: the prices of a pass,
// the search (every position's matches, found once and cached, since each
// further pass would otherwise search again), the forward pass (the
// cheapest arrival at every position), the backtrace (the path read back
// from the arrivals), and the segments that drive them. Inside a match of
// the nice length both the search and the forward pass skip ahead: such a
// match is almost always part of the best path, and weighing the positions
// inside it is most of the cost on repetitive data.
#include "pack/optimalparser.h"

#include <string.h>

namespace {

constexpr uint32_t kUnreached = 0xFFFFFFFFu;

// What one parse of a slice works with.
struct OptimalRun {
    OptimalParse* Parse;
    const LevelParams* Params;
    SliceView* View;
    ParseModel* Model;
    ParsedSteps* Steps;
    uint64_t* SegmentsCut;
};

// --- Prices of a pass ------------------------------------------------------

// Counts the symbols of the path in Path, which starts at stream position
// start, as they would be coded from the current match state under p.
void PathStats(const OptimalRun& r, uint32_t start, const Prices& p, Stats* s) {
    ClearStats(s);
    MatchState m = r.Model->Match;
    uint32_t pos = start;
    for (const Step& step : r.Parse->Path) {
        Token t;
        if (step.Length == 1) {
            t.Symbol = *At(r.View, pos);
        } else {
            ChooseSymbol(p, m, step.Length, step.Distance, &t);
            Record(&m, step.Length, step.Distance);
        }
        CountToken(s, t);
        pos += step.Length;
    }
}

// The prices for the next pass: those of the codes the block would get
// with the path in Path added to what it holds (before).
void PricesAfterPath(const OptimalRun& r, uint32_t start, const Stats& before, Prices* p) {
    Stats s;
    PathStats(r, start, *p, &s);
    AddStats(&s, before);
    uint8_t lengths[kLzTableSetSize];
    LengthsFor(s, lengths);
    SetPrices(p, lengths);
}

// --- Search ----------------------------------------------------------------

// Ends the cache after n positions: matches that would reach past the new
// end are cut to end there, and CacheStart[n] closes the last position.
void CutSegment(const OptimalRun& r, uint32_t n) {
    OptimalParse& o = *r.Parse;
    ++*r.SegmentsCut;
    o.CacheStart[n] = static_cast<uint32_t>(o.Cached.size());
    for (uint32_t j = n > kMaxMatchLength ? n - kMaxMatchLength : 0; j < n; j++)
        for (uint32_t c = o.CacheStart[j]; c < o.CacheStart[j + 1]; c++) {
            Found& f = o.Cached[c];
            if (f.Length <= n - j) continue;
            f.Length = n - j;
            // Length 2 stands for a short match; one too far for that is of no use.
            if (f.Length == kShortLength && f.Distance > kShortMaxDistance) f.Length = 1;
        }
}

// Finds the matches of every position from start to end once, for all
// passes: those of position start + i are Cached[CacheStart[i] ..
// CacheStart[i + 1]). Inside a match of the nice length or more the
// positions are only indexed. The cache has a fixed room; when it runs full
// the segment ends early. Returns where the segment ends.
uint32_t CacheMatches(const OptimalRun& r, uint32_t start, uint32_t end) {
    OptimalParse& o = *r.Parse;
    uint32_t n = end - start;
    o.Cached.clear();
    const size_t room = o.Cached.capacity();
    Found found[kMaxFound];
    uint32_t skipTo = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (o.Cached.size() + kMaxFound > room) {
            CutSegment(r, i);
            return start + i;
        }
        FinderSpot spot = SpotAt(r.View, start + i, end);
        o.CacheStart[i] = static_cast<uint32_t>(o.Cached.size());
        if (i < skipTo) {
            TreeSkipPosition(&o.Tree, spot);
            continue;
        }
        uint32_t count = TreeFindMatches(&o.Tree, spot, found);
        o.Cached.insert(o.Cached.end(), found, found + count);
        if (count && found[count - 1].Length >= o.Tree.Nice) skipTo = i + found[count - 1].Length;
    }
    o.CacheStart[n] = static_cast<uint32_t>(o.Cached.size());
    return start + n;
}

// --- Forward pass ----------------------------------------------------------

// What one forward pass works on: the segment's bytes from stream position
// Start, Length positions, and the arrivals at positions 0..Length.
struct Pass {
    Arrival* Arrivals;
    const uint8_t* Segment;
    uint32_t Start;
    uint32_t Length;
    const Prices* Price;
};

// Arrival at to by a match of length and distance from the arrival from,
// at cost, when that is cheaper than the arrival to has.
inline void Relax(Arrival* arrivals, const Arrival& from, uint32_t to, uint32_t cost, uint32_t length,
                  uint32_t distance) {
    Arrival& b = arrivals[to];
    if (cost >= b.Cost) return;
    b.Cost = cost;
    b.Length = static_cast<uint16_t>(length);
    b.First = 0;
    b.Distance = distance;
    b.PrevLength = static_cast<uint16_t>(length);
    b.RecentDistances[0] = distance;
    b.RecentDistances[1] = from.RecentDistances[0];
    b.RecentDistances[2] = from.RecentDistances[1];
    b.RecentDistances[3] = from.RecentDistances[2];
}

// A match from position i (cost the price up to its end), one literal and
// the match's distance again (the literal is where the match ends): the
// path can keep the distance across the literal. Relaxes the arrival after
// the longest such repeat.
inline void RelaxThenRepeat(const uint8_t* segment, Arrival* arrivals, const Arrival& from, uint32_t i, uint32_t n,
                            uint32_t cost, uint32_t length, uint32_t distance, const Prices& p) {
    uint32_t after = i + length + 1;
    if (after + kRecentMinLength > n) return;
    const uint8_t* q = segment + after;
    uint32_t bonus = RecentLengthBonus(distance);
    uint32_t lo = kRecentMinLength + bonus;
    uint32_t cap = n - after;
    if (cap > MaxRecentLengthFor(distance)) cap = MaxRecentLengthFor(distance);
    if (cap < lo || q[-1] == *(q - 1 - distance)) return;
    uint32_t m = CommonLength(q, q - distance, cap);
    if (m < lo) return;
    cost += p.Symbol[q[-1]] + p.Symbol[kSymbolFirstRecent] + p.RecentLength[m - lo];
    Arrival& b = arrivals[after + m];
    if (cost >= b.Cost) return;
    b.Cost = cost;
    b.Length = static_cast<uint16_t>(length + 1 + m);
    b.First = length;
    b.Distance = distance;
    b.PrevLength = static_cast<uint16_t>(m);
    b.RecentDistances[0] = distance;
    b.RecentDistances[1] = distance;
    b.RecentDistances[2] = from.RecentDistances[0];
    b.RecentDistances[3] = from.RecentDistances[1];
}

// The steps from position i (reached as cur, limit bytes left for a match)
// that name one of cur's recent distances: the last match repeated, and a
// recent-distance match of every length, the longest also followed by a
// literal and the distance again. Returns the longest such match, 0: none.
inline uint32_t RelaxRecent(const SliceView* v, const Pass& s, const Arrival& cur, uint32_t i, uint32_t limit) {
    const Prices& p = *s.Price;
    Arrival* arrivals = s.Arrivals;
    uint32_t pos = s.Start + i;
    const uint8_t* here = s.Segment + i;
    uint32_t longest = 0;
    uint32_t reach = pos - OldestReachable(v, pos);
    for (uint32_t k = 0; k < kRecentDistances; k++) {
        uint32_t d = cur.RecentDistances[k];
        if (d == 0 || d > reach) continue;
        bool seen = false;
        for (uint32_t j = 0; j < k; j++) seen |= cur.RecentDistances[j] == d;
        if (seen) continue;  // the newer slot names it no dearer
        uint32_t bonus = RecentLengthBonus(d);
        uint32_t cap = MaxRecentLengthFor(d) < limit ? MaxRecentLengthFor(d) : limit;
        uint32_t m = CommonLength(here, here - d, cap);
        if (k == 0 && cur.PrevLength >= 2 && cur.PrevLength <= m)
            Relax(arrivals, cur, i + cur.PrevLength, cur.Cost + p.Symbol[kSymbolRepeatLast], cur.PrevLength, d);
        uint32_t lo = kRecentMinLength + bonus;
        if (m < lo) continue;
        uint32_t base = cur.Cost + p.Symbol[kSymbolFirstRecent + k];
        for (uint32_t l = lo; l <= m; l++) Relax(arrivals, cur, i + l, base + p.RecentLength[l - lo], l, d);
        RelaxThenRepeat(s.Segment, arrivals, cur, i, s.Length, base + p.RecentLength[m - lo], m, d, p);
        if (m > longest) longest = m;
    }
    return longest;
}

// The steps from position i (reached as cur) with the matches cached
// there: a short match, or a match of every length its distance codes that
// the shorter matches before it did not cover already, the longest also
// followed by a literal and the distance again. Returns the longest length
// covered, at least 1.
inline uint32_t RelaxCached(const OptimalParse& o, const Pass& s, const Arrival& cur, uint32_t i) {
    const Prices& p = *s.Price;
    Arrival* arrivals = s.Arrivals;
    uint32_t covered = 1;
    const Found* cached = o.Cached.data();
    const uint32_t last = o.CacheStart[i + 1];
    for (uint32_t c = o.CacheStart[i]; c < last; c++) {
        const Found& f = cached[c];
        uint32_t d = f.Distance;
        if (f.Length == kShortLength) {
            Relax(arrivals, cur, i + 2, cur.Cost + ShortPrice(p, d), 2, d);
            covered = 2;
            continue;
        }
        uint32_t shortest = kMatchMinLength + MatchLengthBonus(d);
        uint32_t lo = shortest > covered ? shortest : covered + 1;
        uint32_t base = cur.Cost + p.Slot[DistanceSlot(d)];
        const uint32_t* lengthPrice = p.MatchLength;
        for (uint32_t l = lo; l <= f.Length; l++) Relax(arrivals, cur, i + l, base + lengthPrice[l - shortest], l, d);
        if (f.Length >= lo)
            RelaxThenRepeat(s.Segment, arrivals, cur, i, s.Length, base + lengthPrice[f.Length - shortest], f.Length,
                            d, p);
        if (f.Length > covered) covered = f.Length;
    }
    return covered;
}

// Fills the arrivals at positions 0..end - start with the cheapest way to
// each under the prices p, from the current match state at start; each
// path's own match state decides what its recent distances and repeats
// cost. Positions inside a match of the nice length are not weighed.
void ForwardPass(const OptimalRun& r, uint32_t start, uint32_t end, const Prices& p) {
    OptimalParse& o = *r.Parse;
    const Pass s = {o.Arrivals.data(), At(r.View, start), start, end - start, &p};
    const uint32_t n = s.Length;
    Arrival* arrivals = s.Arrivals;
    for (uint32_t i = 1; i <= n; i++) arrivals[i].Cost = kUnreached;
    arrivals[0].Cost = 0;
    arrivals[0].Length = 0;
    arrivals[0].PrevLength = static_cast<uint16_t>(r.Model->Match.PrevLength);
    memcpy(arrivals[0].RecentDistances, r.Model->Match.RecentDistances, sizeof arrivals[0].RecentDistances);
    arrivals[0].First = 0;
    const uint32_t nice = o.Tree.Nice;
    uint32_t skipTo = 0;
    for (uint32_t i = 0; i < n; i++) {
        if (i < skipTo) continue;
        const Arrival cur = arrivals[i];
        uint32_t limit = n - i < uint32_t(kMaxMatchLength) ? n - i : uint32_t(kMaxMatchLength);
        Arrival& next = arrivals[i + 1];
        uint32_t literal = cur.Cost + p.Symbol[s.Segment[i]];
        if (literal < next.Cost) {
            next = cur;
            next.Cost = literal;
            next.Length = 1;
            next.First = 0;
        }
        uint32_t longest = limit >= 2 ? RelaxRecent(r.View, s, cur, i, limit) : 0;
        uint32_t covered = RelaxCached(o, s, cur, i);
        if (covered > longest) longest = covered;
        // A long match is taken as it is: the positions inside are not weighed.
        if (longest >= nice) skipTo = i + longest;
    }
}

// --- Backtrace -------------------------------------------------------------

// The steps of the cheapest path to position n, read back from the
// arrivals, into Path in stream order; a match-literal-repeat arrival gives
// its three steps.
void Backtrace(OptimalParse* o, uint32_t n) {
    const Arrival* arrivals = o->Arrivals.data();
    std::vector<Step>& path = o->Path;
    path.clear();
    for (uint32_t i = n; i > 0; i -= arrivals[i].Length) {
        const Arrival& a = arrivals[i];
        if (a.First) {
            path.push_back({a.Length - a.First - 1u, a.Distance});
            path.push_back({1, 0});
            path.push_back({a.First, a.Distance});
        } else {
            path.push_back({a.Length, a.Distance});
        }
    }
    for (size_t a = 0, b = path.size(); a + 1 < b; a++, b--) {
        Step t = path[a];
        path[a] = path[b - 1];
        path[b - 1] = t;
    }
}

// --- Segments --------------------------------------------------------------

// Parses one segment (within one entry): the matches once, then passes of
// the cheapest path, each priced by the codes of the block with the path
// before it, and the last one taken. The prices the last pass used stay in
// force for the next segment. Returns where the segment ended.
uint32_t ParseSegment(const OptimalRun& r, uint32_t start, uint32_t end) {
    ParseModel* m = r.Model;
    end = CacheMatches(r, start, end);
    Stats before = m->Block;
    AddStats(&before, m->Chunk);
    bool fresh = m->BlockTokens == 0 && m->ChunkTokens == 0 && !m->HaveTables;
    uint32_t passes = r.Params->Passes + (fresh ? 1 : 0);
    Prices p = m->Price;
    for (uint32_t pass = 0;; pass++) {
        ForwardPass(r, start, end, p);
        Backtrace(r.Parse, end - start);
        if (pass + 1 >= passes) break;
        PricesAfterPath(r, start, before, &p);
    }
    m->Price = p;
    uint32_t pos = start;
    for (const Step& step : r.Parse->Path) {
        if (step.Length == 1) {
            AddLiteralStep(r.Steps);
            ModelLiteral(m, *At(r.View, pos));
        } else {
            AddMatchStep(r.Steps, step.Length, step.Distance);
            ModelMatch(m, step.Length, step.Distance);
        }
        pos += step.Length;
    }
    return end;
}

}  // namespace

bool CreateOptimalParse(OptimalParse* o, const LevelParams& params) {
    bool ok = CreateTreeFinder(&o->Tree, params.Depth, params.TreeNice);
    o->CacheStart.resize(params.SegmentBytes + 1);
    o->Arrivals.resize(params.SegmentBytes + 1);
    o->Cached.reserve(size_t(params.SegmentBytes) * kCachedPerPosition);
    o->Path.reserve(params.SegmentBytes + 2);
    return ok;
}

void DestroyOptimalParse(OptimalParse* o) { DestroyTreeFinder(&o->Tree); }

size_t OptimalParseBytes(const LevelParams& params) {
    size_t n = params.SegmentBytes;
    return kTreeFinderBytes + (n + 1) * (sizeof(uint32_t) + sizeof(Arrival)) + n * kCachedPerPosition * sizeof(Found) +
           (n + 2) * sizeof(Step);
}

void ParseOptimal(OptimalParse* o, const LevelParams& params, SliceView* view, ParseModel* model,
                  ParsedSteps* steps, uint64_t* segmentsCut) {
    const OptimalRun r = {o, &params, view, model, steps, segmentsCut};
    ResetTreeFinder(&o->Tree);
    // The history goes in as deep as any position: cut at 8 nodes, the tree
    // lost the older history of the branches it cut, and the headers packed
    // 0.2% larger for 20% less time spent on the history.
    for (uint32_t pos = view->Base; pos < view->Start; pos++) TreeSkipPosition(&o->Tree, SpotAt(view, pos, view->Start));
    uint32_t pos = view->Start;
    while (pos < view->End) {
        uint32_t entryEnd = EntryEndAt(view, pos);
        uint32_t segmentEnd = pos + params.SegmentBytes;
        if (segmentEnd > entryEnd) segmentEnd = entryEnd;
        pos = ParseSegment(r, pos, segmentEnd);
        if (model->ChunkTokens >= params.ChunkTokens) EndChunk(model, steps);
    }
}
