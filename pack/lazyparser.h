// The parser of levels 1-3: at each position the match with the best gain
// (the price of its bytes as average literals less the price of its
// symbol), found among the recent distances and on the hash chains; greedy
// at levels 1-2, lazy at 3, where a match is first held against the one at
// the next position.
#ifndef QUORVANEL_PACK_LAZYPARSER_H
#define QUORVANEL_PACK_LAZYPARSER_H

#include <stddef.h>
#include <stdint.h>

#include <vector>

#include "pack/lzlevels.h"
#include "pack/matchfinder.h"
#include "pack/parserun.h"

// A match weighed against literals.
struct Choice {
    uint32_t Length;  // 0: none
    uint32_t Distance;
    int32_t Gain;  // price of the bytes as literals minus the price of the match
};

struct LazyParse {
    ChainFinder Chains;
    bool HaveNext;  // the lookahead won: Next is the choice at the position, priced already
    Choice Next;
    std::vector<Found> FoundScratch;
};

// False when memory is short; the parse may be destroyed all the same.
bool CreateLazyParse(LazyParse* parse, const LevelParams& params);
void DestroyLazyParse(LazyParse* parse);
// What CreateLazyParse allocates.
size_t LazyParseBytes();

// Parses the slice whole: the chains start empty and take the history
// first, then each step goes to steps and is counted into the model, whose
// chunk ends every ChunkTokens steps.
void ParseLazy(LazyParse* parse, const LevelParams& params, SliceView* view, ParseModel* model,
               ParsedSteps* steps);

#endif
