#include "pack/matchfinder.h"

#include <stdlib.h>

#include "pack/lzformat.h"

namespace {

// Appends a match unless it is no longer than the last one reported; when
// the list is full the longest so far is replaced.
inline void Report(Found* out, uint32_t* count, uint32_t* longest, uint32_t length, uint32_t distance) {
    if (length <= *longest) return;
    *longest = length;
    if (*count == kMaxFound) --*count;
    out[(*count)++] = {length, distance};
}

// The search and insertion both: walks the tree from the newest position
// with the same four-byte hash, hanging the position in as the new root and
// splitting the visited nodes into its smaller and larger subtrees. With
// out null nothing is reported.
uint32_t Walk(TreeFinder* f, const FinderSpot& spot, Found* out) {
    const uint8_t* here = spot.Here;
    const uint32_t pos = spot.Pos;
    if (spot.Avail < 4) return 0;  // too near the end of the input to hash; nothing links to it
    uint32_t lenLimit = spot.Avail < f->Nice ? spot.Avail : f->Nice;
    uint32_t count = 0, longest = 1;
    // Lengths are compared up to lenLimit in the tree; the longest match is
    // then followed further, as far as it may be reported.
    uint32_t reportLimit = spot.Limit < spot.Avail ? spot.Limit : spot.Avail;

    uint32_t pairKey = static_cast<uint32_t>(here[0]) << 8 | here[1];
    uint32_t pair = f->Head2[pairKey];
    f->Head2[pairKey] = pos + 1;
    uint32_t tripleKey = HashThree(here, 16);
    uint32_t triple = f->Head3[tripleKey];
    f->Head3[tripleKey] = pos + 1;
    if (out) {
        if (pair && spot.Limit >= kShortLength) {
            uint32_t d = pos - (pair - 1);
            if (d <= kShortMaxDistance && d <= spot.Reach) Report(out, &count, &longest, kShortLength, d);
        }
        if (triple && spot.Limit >= kMatchMinLength) {
            uint32_t d = pos - (triple - 1);
            if (d < kFarBonusDistance && d <= spot.Reach) {
                uint32_t n = CommonLength(here, here - d, reportLimit);
                if (n >= kMatchMinLength) {
                    if (n > spot.Limit) n = spot.Limit;
                    if (n > MaxLengthFor(d)) n = MaxLengthFor(d);
                    Report(out, &count, &longest, n, d);
                }
            }
        }
    }

    uint32_t key = HashFour(here, kTreeHashBits);
    uint32_t cand = f->Head4[key];
    f->Head4[key] = pos + 1;
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
    f->Tree = static_cast<uint32_t*>(calloc(2 * kWindowSize, sizeof(uint32_t)));
    f->Head4 = static_cast<uint32_t*>(calloc(1u << kTreeHashBits, sizeof(uint32_t)));
    f->Head3 = static_cast<uint32_t*>(calloc(1u << 16, sizeof(uint32_t)));
    f->Head2 = static_cast<uint32_t*>(calloc(1u << 16, sizeof(uint32_t)));
    return f->Tree && f->Head4 && f->Head3 && f->Head2;
}

void DestroyTreeFinder(TreeFinder* f) {
    free(f->Tree);
    free(f->Head4);
    free(f->Head3);
    free(f->Head2);
    f->Tree = f->Head4 = f->Head3 = f->Head2 = nullptr;
}

uint32_t TreeFindMatches(TreeFinder* f, const FinderSpot& spot, Found* out) { return Walk(f, spot, out); }

void TreeSkipPosition(TreeFinder* f, const FinderSpot& spot) { Walk(f, spot, nullptr); }
