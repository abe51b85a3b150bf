// The values of each level, one knob a line. Beside each knob stands what
// changing it alone did, measured by packing the two bench corpora
// (bench/run.sh: 64 MB of 32-bit Windows DLLs, the C++ headers of g++ 12)
// at that level: archive size and CPU time against the value kept, summed
// over both corpora.
#include "pack/lzlevels.h"

#include "pack/lzencoder.h"

namespace {

// Level 1: greedy, a short chain, the positions inside matches left out.
constexpr LevelParams Level1() {
    LevelParams p{};
    p.Chain = 6;
    p.Nice = 24;
    p.ChunkTokens = 1u << 13;
    return p;
}

// Level 2: greedy, a longer chain, every position indexed.
constexpr LevelParams Level2() {
    LevelParams p{};
    p.Chain = 24;
    p.Nice = 48;
    p.InsertAll = true;
    p.ChunkTokens = 1u << 12;
    return p;
}

// Level 3, the default: lazy, one position of lookahead.
constexpr LevelParams Level3() {
    LevelParams p{};
    p.Chain = 32;
    p.Nice = 64;
    p.Lazy = true;
    p.MaxLazy = 32;
    p.Good = 4;
    p.InsertAll = true;
    p.ChunkTokens = 1u << 11;
    return p;
}

// Level 4: optimal parsing on the tree, one pass.
constexpr LevelParams Level4() {
    LevelParams p{};
    p.Optimal = true;
    p.Depth = 24;
    p.TreeNice = 128;
    p.Passes = 1;
    p.SegmentBytes = 1u << 15;
    p.ChunkTokens = 1u << 10;
    return p;
}

// Level 5: optimal parsing, a deeper search and a second pass.
constexpr LevelParams Level5() {
    LevelParams p{};
    p.Optimal = true;
    p.Depth = 64;
    p.TreeNice = 260;
    p.Passes = 2;
    p.SegmentBytes = 1u << 15;
    p.ChunkTokens = 1u << 10;
    return p;
}

constexpr LevelParams kLevels[kMaxLevel + 1] = {LevelParams{}, Level1(), Level2(), Level3(), Level4(), Level5()};

}  // namespace

const LevelParams& LevelParamsFor(int level) { return kLevels[level]; }
