// The parser of levels 4-5: the input is cut into segments, the matches of
// every position of a segment are found once on the binary tree, and the
// cheapest path of literals and matches through the segment is worked out
// under the prices of the codes, in one or more passes, each priced by the
// codes the path before it gives. Each path carries its own match state, so
// recent distances and repeats are priced as the decoder will see them.
#ifndef QUORVANEL_PACK_OPTIMALPARSER_H
#define QUORVANEL_PACK_OPTIMALPARSER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "base/format.h"
#include "pack/lzlevels.h"
#include "pack/matchfinder.h"
#include "pack/parserun.h"

enum {
    // Room for matches per position of a segment (2-4 are usual); when a
    // segment fills it, the segment ends early (PackCensus::SegmentsCut).
    kCachedPerPosition = 8
};

// One position of the optimal parse: the cheapest way found to get here.
struct Arrival {
    uint32_t Cost;  // bits from the segment's start; kUnreached
    uint32_t Distance;
    uint16_t Length;  // of the step that ends here; 1: literal
    uint16_t PrevLength;
    uint32_t RecentDistances[kRecentDistances];
    // Non-zero: the step is a match of this length, a literal and the same
    // distance again for the rest of Length.
    uint32_t First;
};

// A step of the path: a literal (length 1) or a match.
struct Step {
    uint32_t Length;
    uint32_t Distance;
};

struct OptimalParse {
    TreeFinder Tree;
    std::vector<uint32_t> CacheStart;  // per position of the segment, its first match in Cached
    std::vector<Found> Cached;
    std::vector<Arrival> Arrivals;
    std::vector<Step> Path;
};

// Takes everything the parse works with at its full size; false when
// memory is short (the parse may be destroyed all the same).
bool CreateOptimalParse(OptimalParse* parse, const LevelParams& params);
void DestroyOptimalParse(OptimalParse* parse);
// What CreateOptimalParse allocates.
size_t OptimalParseBytes(const LevelParams& params);

// Parses the slice whole, segment by segment (a segment never runs across
// an entry's end): the tree starts empty and takes the history first, then
// each step goes to steps and is counted into the model, whose chunk closes
// after the segment that fills it to ChunkTokens steps. Segments ended
// early, their match cache full, are counted into segmentsCut.
void ParseOptimal(OptimalParse* parse, const LevelParams& params, SliceView* view, ParseModel* model,
                  ParsedSteps* steps, uint64_t* segmentsCut);

#endif
