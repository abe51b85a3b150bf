// The two match finders, side by side. Both report, at a position, the
// matches worth weighing by increasing length; both index every position
// they are asked about exactly once, in stream order.
//
// Hash chains (levels 1-3): per hash of four bytes, the positions with it,
// newest first, linked through a table over the window; a search follows
// the chain a given number of links. Cheap to keep up, and a parser that
// takes a long match may pass over the positions inside it.
//
// The binary tree (levels 4-5): every position a node, ordered by the bytes
// that follow it, entered through a hash of four bytes. A search walks down
// the tree and hangs the position in as the new root, so it finds the
// longest matches at every distance the walk meets, at the price of
// inserting every position with a walk of its own.
//
// Both keep direct tables for the nearest byte pair (short matches) and
// triple, which a hash of four bytes does not see.
#ifndef QUORVANEL_PACK_MATCHFINDER_H
#define QUORVANEL_PACK_MATCHFINDER_H

#include <stdint.h>
#include <string.h>

#include <vector>

#include "base/format.h"

// How many bytes from a and b on agree, up to limit.
inline uint32_t CommonLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        memcpy(&x, a + n, 8);
        memcpy(&y, b + n, 8);
        if (x != y) return n + (__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n]) n++;
    return n;
}

// Hashes of the four and three bytes at p, bits wide, for the heads of
// hash chains and trees.
inline uint32_t HashFour(const uint8_t* p, int bits) {
    uint32_t v;
    memcpy(&v, p, 4);
    return (v * 2654435761u) >> (32 - bits);
}

inline uint32_t HashThree(const uint8_t* p, int bits) {
    uint32_t v = static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - bits);
}

// A match the finder saw. A finder reports matches by increasing length,
// each the nearest it met of that length, so every shorter length down to
// the symbol's minimum is available at that distance too.
struct Found {
    uint32_t Length;
    uint32_t Distance;
};

// Where a search stands: here points at stream position pos in the input;
// avail bytes are readable from here on (they may belong to later entries),
// matches may reach back reach bytes (below the window size) and are
// reported up to limit bytes long.
struct FinderSpot {
    const uint8_t* Here;
    uint32_t Pos;
    uint32_t Avail;
    uint32_t Reach;
    uint32_t Limit;
};

// --- Hash chains ---------------------------------------------------------

enum {
    kChainHashBits = 17,
    // What the chain finder allocates: four-byte heads, chain links, pair and triple heads.
    kChainFinderBytes = (2 * (1 << kChainHashBits) + kWindowSize + (1 << 16)) * 4
};

struct ChainFinder {
    uint32_t* Head;   // position + 1 of the newest 4-byte string per hash; 0 none
    uint32_t* Chain;  // position + 1 of the previous one with the same hash
    uint32_t* Head3;  // position + 1 of the newest 3-byte string per hash
    uint32_t* Head2;  // position + 1 of the newest occurrence of each byte pair
    uint32_t Inserted;  // positions below this are indexed or passed over
    uint32_t Nice;      // a match this long ends the search
};

// False when memory is short; the finder may be freed all the same.
bool CreateChainFinder(ChainFinder* finder, uint32_t nice);
void DestroyChainFinder(ChainFinder* finder);
// Forgets every position: the next one indexed is base. The chain links
// need no clearing, since only positions indexed since are reached.
void ResetChainFinder(ChainFinder* finder, uint32_t base);

// Indexes position pos, whose bytes are at p, for the strings that end
// before total (the end of the input).
inline void ChainIndex(ChainFinder* f, const uint8_t* p, uint32_t pos, uint32_t total) {
    if (pos + 1 < total) {
        f->Head2[p[0] << 8 | p[1]] = pos + 1;
        if (pos + 2 < total) f->Head3[HashThree(p, kChainHashBits)] = pos + 1;
        if (pos + 3 < total) {
            uint32_t h = HashFour(p, kChainHashBits);
            f->Chain[pos & kWindowMask] = f->Head[h];
            f->Head[h] = pos + 1;
        }
    }
}

// Indexes the positions from Inserted up to end (exclusive). The spot names
// the input: position q lies at spot.Here + (q - spot.Pos), and the input
// ends at spot.Pos + spot.Avail; a position too near that end for a string
// is indexed only for the strings that fit.
inline void ChainIndexUpTo(ChainFinder* f, const FinderSpot& spot, uint32_t end) {
    uint32_t q = f->Inserted;
    if (q >= end) return;
    const uint32_t total = spot.Pos + spot.Avail;
    const uint8_t* p = q < spot.Pos ? spot.Here - (spot.Pos - q) : spot.Here + (q - spot.Pos);
    for (; q < end; q++, p++) ChainIndex(f, p, q, total);
    f->Inserted = end;
}
// Passes over the positions up to end without indexing them.
inline void ChainPassOver(ChainFinder* finder, uint32_t end) {
    if (finder->Inserted < end) finder->Inserted = end;
}
// Indexes up to the spot's position, searches it following at most
// chainLimit links, and indexes it. Fills out with a short match (length 2,
// distance 1..kShortMaxDistance) when the pair table has one, then matches
// of 3 or more by increasing length, each the nearest of its length; each
// at most the limit and what a symbol codes at its distance.
void ChainFindMatches(ChainFinder* finder, const FinderSpot& spot, uint32_t chainLimit, std::vector<Found>* out);

// --- The binary tree -------------------------------------------------------

enum {
    kTreeHashBits = 19,
    kMaxFound = 32,  // matches one search reports at most
    // What the tree finder allocates: tree, four-byte heads, pair and triple heads.
    kTreeFinderBytes = (2 * kWindowSize + (1 << kTreeHashBits) + 2 * (1 << 16)) * 4
};

struct TreeFinder {
    uint32_t* Tree;   // two links per window slot: older positions with smaller / larger suffixes
    uint32_t* Head4;  // position + 1 of the newest position per four-byte hash; 0 none
    uint32_t* Head3;  // the same per three-byte hash
    uint32_t* Head2;  // the same per byte pair
    uint32_t Depth;   // tree nodes visited per search at most
    uint32_t Nice;    // a match this long ends the search
};

// False when memory is short; the finder is then empty and may be freed.
bool CreateTreeFinder(TreeFinder* finder, uint32_t depth, uint32_t nice);
void DestroyTreeFinder(TreeFinder* finder);
// Forgets every position (the tree's links are written as each position
// is inserted, so only the heads are cleared).
void ResetTreeFinder(TreeFinder* finder);

// Searches and inserts the position; fills out (kMaxFound entries) with
// lengths of 2 (distance 1..256 only), 3 (below 0x2000) or more, and returns
// how many. Each length is at most the limit and at most what a symbol can
// code at that distance.
uint32_t TreeFindMatches(TreeFinder* finder, const FinderSpot& spot, Found* out);
// Inserts the position without reporting.
void TreeSkipPosition(TreeFinder* finder, const FinderSpot& spot);

#endif
