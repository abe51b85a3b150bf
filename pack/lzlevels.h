// The compression levels: which parser each level runs, on which match
// finder, and how hard it looks. Levels 1-3 parse greedily or lazily on hash
// chains (lazyparser.cpp), levels 4-5 optimally on the binary tree
// (optimalparser.cpp). lzlevels.cpp holds the values, each with what it
// was measured to do to size and time.
#ifndef QUORVANEL_PACK_LZLEVELS_H
#define QUORVANEL_PACK_LZLEVELS_H

#include <stdint.h>

struct LevelParams {
    // Greedy and lazy levels, on hash chains.
    uint32_t Chain;    // chain links followed per search
    uint32_t Nice;     // a match this long ends the search and the lazy check
    bool Lazy;         // look one position ahead before taking a match ...
    uint32_t MaxLazy;  // ... shorter than this
    uint32_t Good;     // with a match this long in hand, look ahead with a quarter of the chain
    bool InsertAll;    // index every position inside matches too
    // Optimal levels, on the tree.
    bool Optimal;
    uint32_t Depth;         // tree nodes per search
    uint32_t TreeNice;      // a match this long is taken at once
    uint32_t Passes;        // parses of each segment, each priced by the codes the one before gives
    uint32_t SegmentBytes;  // positions one parse weighs at once
    // Both.
    uint32_t ChunkTokens;  // steps between decisions to end the block
};

// The parameters of a level from kMinLevel to kMaxLevel (lzencoder.h).
const LevelParams& LevelParamsFor(int level);

#endif
