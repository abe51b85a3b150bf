// The values of each level, one knob a line. Beside each knob stands what
// changing it alone (to the value after the arrow) did, the others kept:
// - size: the archives of both bench corpora (bench/run.sh: 64 MB of 32-bit
//   Windows DLLs and the C++ headers of g++ 12), summed;
// - time: instructions of a whole qvpack run (callgrind) on a 3.6 MB sample
//   of both (2.6 MB of the DLLs, 1 MB of the headers); CPU seconds on a
//   shared machine varied too much between identical runs to tell a few
//   percent apart.
// A knob a level does not use is left out of it.
#include "pack/lzlevels.h"

#include "pack/lzencoder.h"

namespace {

// Level 1: greedy, a short chain, the positions inside matches left out.
constexpr LevelParams Level1() {
    LevelParams p{};
    p.Chain = 6;               // -> 12: -0.97% size, +2.4% time
    p.Nice = 24;               // -> 48: -0.14% size, -0.1% time
    p.InsertAll = false;       // -> true: -1.44% size, +13.8% time
    p.ChunkTokens = 1u << 13;  // -> 1 << 12: -0.32% size, +8.4% time
    return p;
}

// Level 2: greedy, a longer chain, every position indexed.
constexpr LevelParams Level2() {
    LevelParams p{};
    p.Chain = 24;              // -> 12: +0.86% size, -4.0% time
    p.Nice = 48;               // -> 24: +0.31% size, -0.7% time
    p.InsertAll = true;        // -> false: +2.11% size, -11.7% time
    p.ChunkTokens = 1u << 12;  // -> 1 << 13: +0.38% size, -5.9% time
    return p;
}

// Level 3, the default: lazy, one position of lookahead.
constexpr LevelParams Level3() {
    LevelParams p{};
    p.Chain = 32;              // -> 16: +0.78% size, -3.9% time
    p.Nice = 64;               // -> 32: +0.19% size, -0.1% time
    p.Lazy = true;             // -> false: +3.99% size, -19.2% time
    p.MaxLazy = 32;            // -> 16: +0.29% size, -2.9% time
    p.Good = 4;                // -> 8: -0.12% size, +3.9% time
    p.InsertAll = true;        // -> false: +2.23% size, -8.4% time
    p.ChunkTokens = 1u << 11;  // -> 1 << 12: +0.18% size, -5.9% time
    return p;
}

// Level 4: optimal parsing on the tree, one pass.
constexpr LevelParams Level4() {
    LevelParams p{};
    p.Optimal = true;
    p.Depth = 24;               // -> 12: +0.43% size, -5.1% time
    p.TreeNice = 128;           // -> 64: +0.19% size, -13.2% time
    p.Passes = 1;               // -> 2: -0.47% size, +52.2% time
    p.SegmentBytes = 1u << 15;  // -> 1 << 14: -0.21% size, +1.5% time
    p.ChunkTokens = 1u << 10;   // -> 1 << 11: +0.08% size, -0.2% time
    return p;
}

// Level 5: level 4 with a deeper search and a second pass. Its segments and
// chunks as level 4's: 1 << 14 bytes a segment made it -0.20% size, +1.0%
// time; 1 << 11 steps a chunk +0.05% size, +0.0% time.
constexpr LevelParams Level5() {
    LevelParams p = Level4();
    p.Depth = 64;      // -> 32: +0.02% size, -0.9% time
    p.TreeNice = 260;  // -> 128: +0.26% size, -45.1% time
    p.Passes = 2;      // -> 1: +0.49% size, -39.6% time
    return p;
}

constexpr LevelParams kLevels[kMaxLevel + 1] = {LevelParams{}, Level1(), Level2(), Level3(), Level4(), Level5()};

}  // namespace

const LevelParams& LevelParamsFor(int level) { return kLevels[level]; }
