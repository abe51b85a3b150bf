// The hash chains first, then the binary tree; see matchfinder.h for when
// each serves.
#include "pack/matchfinder.h"

#include <stdlib.h>

#include "pack/lzformat.h"

// --- Hash chains -----------------------------------------------------------

namespace {

// Zero-filled tables of words[i] 32-bit words each; false when one of them
// cannot be had (those that could stay, for FreeTables).
bool AllocateTables(uint32_t** const tables[], const size_t words[], size_t count) {
    bool all = true;
    for (size_t i = 0; i < count; i++) {
        *tables[i] = static_cast<uint32_t*>(calloc(words[i], sizeof(uint32_t)));
        all = all && *tables[i] != nullptr;
    }
    return all;
}

void FreeTables(uint32_t** const tables[], size_t count) {
    for (size_t i = 0; i < count; i++) {
        free(*tables[i]);
        *tables[i] = nullptr;
    }
}

}  // namespace

bool CreateChainFinder(ChainFinder* f, uint32_t nice) {
    f->Nice = nice;
    f->Inserted = 0;
    uint32_t** tables[] = {&f->Head, &f->Chain, &f->Head2, &f->Head3};
    const size_t words[] = {1u << kChainHashBits, kWindowSize, 1u << 16, 1u << kChainHashBits};
    return AllocateTables(tables, words, 4);
}

void DestroyChainFinder(ChainFinder* f) {
    uint32_t** tables[] = {&f->Head, &f->Chain, &f->Head2, &f->Head3};
    FreeTables(tables, 4);
}

void ResetChainFinder(ChainFinder* f, uint32_t base) {
    memset(f->Head, 0, sizeof(uint32_t) << kChainHashBits);
    memset(f->Head3, 0, sizeof(uint32_t) << kChainHashBits);
    memset(f->Head2, 0, sizeof(uint32_t) << 16);
    f->Inserted = base;
}

void ChainFindMatches(ChainFinder* f, const FinderSpot& spot, uint32_t chainLimit, std::vector<Found>* out) {
    const uint32_t pos = spot.Pos;
    const uint32_t limit = spot.Limit;
    ChainIndexUpTo(f, spot, pos);
    out->clear();
    const uint8_t* here = spot.Here;
    uint32_t oldest = pos - spot.Reach;
    if (limit >= 2) {
        uint32_t pair = f->Head2[here[0] << 8 | here[1]];
        if (pair && pos - (pair - 1) <= kShortMaxDistance && pair - 1 >= oldest) out->push_back({2, pos - (pair - 1)});
    }
    uint32_t bestLength = 2;
    if (limit >= 3) {
        uint32_t three = f->Head3[HashThree(here, kChainHashBits)];
        if (three && three - 1 >= oldest) {
            uint32_t d = pos - (three - 1);
            uint32_t n = CommonLength(here, here - d, limit);
            if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
            if (n >= 3) {
                out->push_back({n, d});
                bestLength = n;
            }
        }
    }
    if (limit >= 4 && bestLength < f->Nice) {
        uint32_t cand = f->Head[HashFour(here, kChainHashBits)];
        uint32_t chain = chainLimit;
        uint32_t previous = pos;
        while (cand && chain--) {
            uint32_t c = cand - 1;
            if (c >= previous || c < oldest || bestLength >= limit) break;
            previous = c;
            uint32_t d = pos - c;
            const uint8_t* there = here - d;
            if (there[bestLength] == here[bestLength]) {
                uint32_t n = CommonLength(here, there, limit);
                uint32_t maxLength = MaxLengthFor(d);
                if (n > maxLength) n = maxLength;
                if (n > bestLength) {
                    out->push_back({n, d});
                    bestLength = n;
                    if (n >= f->Nice) break;
                }
            }
            cand = f->Chain[c & kWindowMask];
        }
    }
    ChainIndex(f, here, pos, pos + spot.Avail);
    f->Inserted = pos + 1;
}

// --- The binary tree ---------------------------------------------------------

namespace {

// Appends a match unless it is no longer than the last one reported; when
// the list is full the longest so far is replaced.
inline void Report(Found* out, uint32_t* count, uint32_t* longest, uint32_t length, uint32_t distance) {
    if (length <= *longest) return;
    *longest = length;
    if (*count == kMaxFound) --*count;
    out[(*count)++] = {length, distance};
}

// The nearest byte pair and triple: their tables take the position, and
// with out given the pair is reported as a short match and the triple as a
// match of 3 or more, when they are near enough for those symbols.
inline void FindNear(TreeFinder* f, const FinderSpot& spot, uint32_t reportLimit, Found* out, uint32_t* count,
                     uint32_t* longest) {
    const uint8_t* here = spot.Here;
    const uint32_t pos = spot.Pos;
    uint32_t pairKey = static_cast<uint32_t>(here[0]) << 8 | here[1];
    uint32_t pair = f->Head2[pairKey];
    f->Head2[pairKey] = pos + 1;
    uint32_t tripleKey = HashThree(here, 16);
    uint32_t triple = f->Head3[tripleKey];
    f->Head3[tripleKey] = pos + 1;
    if (out) {
        if (pair && spot.Limit >= kShortLength) {
            uint32_t d = pos - (pair - 1);
            if (d <= kShortMaxDistance && d <= spot.Reach) Report(out, count, longest, kShortLength, d);
        }
        if (triple && spot.Limit >= kMatchMinLength) {
            uint32_t d = pos - (triple - 1);
            if (d < kFarBonusDistance && d <= spot.Reach) {
                uint32_t n = CommonLength(here, here - d, reportLimit);
                if (n >= kMatchMinLength) {
                    if (n > spot.Limit) n = spot.Limit;
                    if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
                    Report(out, count, longest, n, d);
                }
            }
        }
    }
}

// The search and insertion both: descends the tree from the newest position
// with the same four-byte hash, hanging the position in as the new root and
// splitting the visited nodes into its smaller and larger subtrees. With
// out null nothing is reported.
uint32_t InsertAsRoot(TreeFinder* f, const FinderSpot& spot, Found* out) {
    const uint8_t* here = spot.Here;
    const uint32_t pos = spot.Pos;
    if (spot.Avail < 4) return 0;  // too near the end of the input to hash; nothing links to it
    uint32_t lenLimit = spot.Avail < f->Nice ? spot.Avail : f->Nice;
    uint32_t count = 0, longest = 1;
    // Lengths are compared up to lenLimit in the tree; the longest match is
    // then followed further, as far as it may be reported.
    uint32_t reportLimit = spot.Limit < spot.Avail ? spot.Limit : spot.Avail;

    FindNear(f, spot, reportLimit, out, &count, &longest);

    uint32_t key = HashFour(here, kTreeHashBits);
    uint32_t cand = f->Head4[key];
    f->Head4[key] = pos + 1;
    // The next position's head and this walk's first node, asked for ahead:
    // level 5 on the C++ headers 3-5% less CPU time, the same bytes.
    if (spot.Avail >= 5) __builtin_prefetch(&f->Head4[HashFour(here + 1, kTreeHashBits)], 1);
    if (cand) __builtin_prefetch(f->Tree + 2 * ((cand - 1) & kWindowMask));
    uint32_t* smaller = f->Tree + 2 * (pos & kWindowMask);
    uint32_t* larger = smaller + 1;
    uint32_t smallerLength = 0, largerLength = 0;
    uint32_t depth = f->Depth;
    for (;;) {
        uint32_t d = cand ? pos - (cand - 1) : 0;
        if (!cand || d > spot.Reach || depth-- == 0) {
            *smaller = *larger = 0;
            break;
        }
        uint32_t* links = f->Tree + 2 * ((cand - 1) & kWindowMask);
        const uint8_t* there = here - d;
        uint32_t len = smallerLength < largerLength ? smallerLength : largerLength;
        if (there[len] == here[len]) {
            len += 1 + CommonLength(there + len + 1, here + len + 1, lenLimit - len - 1);
            if (out && len > longest) {
                uint32_t n = len;
                if (n == lenLimit && reportLimit > lenLimit)
                    n += CommonLength(there + lenLimit, here + lenLimit, reportLimit - lenLimit);
                if (n > spot.Limit) n = spot.Limit;
                if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
                if (n >= kMatchMinLength + MatchLengthBonus(d)) Report(out, &count, &longest, n, d);
            }
            if (len == lenLimit) {
                // The same as far as we compare: the node gives way to the new one.
                *smaller = links[0];
                *larger = links[1];
                break;
            }
        }
        if (there[len] < here[len]) {
            *smaller = cand;
            smaller = links + 1;
            cand = *smaller;
            smallerLength = len;
        } else {
            *larger = cand;
            larger = links;
            cand = *larger;
            largerLength = len;
        }
    }
    return count;
}

}  // namespace

bool CreateTreeFinder(TreeFinder* f, uint32_t depth, uint32_t nice) {
    f->Depth = depth;
    f->Nice = nice < kMaxMatchLength ? nice : uint32_t(kMaxMatchLength);
    uint32_t** tables[] = {&f->Tree, &f->Head4, &f->Head3, &f->Head2};
    const size_t words[] = {2 * kWindowSize, 1u << kTreeHashBits, 1u << 16, 1u << 16};
    return AllocateTables(tables, words, 4);
}

void DestroyTreeFinder(TreeFinder* f) {
    uint32_t** tables[] = {&f->Tree, &f->Head4, &f->Head3, &f->Head2};
    FreeTables(tables, 4);
}

void ResetTreeFinder(TreeFinder* f) {
    memset(f->Head4, 0, sizeof(uint32_t) << kTreeHashBits);
    memset(f->Head3, 0, sizeof(uint32_t) << 16);
    memset(f->Head2, 0, sizeof(uint32_t) << 16);
}

uint32_t TreeFindMatches(TreeFinder* f, const FinderSpot& spot, Found* out) { return InsertAsRoot(f, spot, out); }

void TreeSkipPosition(TreeFinder* f, const FinderSpot& spot) { InsertAsRoot(f, spot, nullptr); }
