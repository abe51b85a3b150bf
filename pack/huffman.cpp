#include "pack/huffman.h"

#include <algorithm>
#include <vector>

namespace {

enum { kMaxSymbols = kMaxCodeLengths };

struct Leaf {
    uint32_t Count;
    uint16_t Symbol;
};

// Depths of an unrestricted Huffman tree over the n leaves, which are
// sorted by ascending count. Two-queue construction: leaves and merged
// nodes both come out in non-decreasing weight order, so each step takes
// the two lightest.
void TreeDepths(const Leaf* leaves, size_t n, uint32_t* depth) {
    uint64_t weight[2 * kMaxSymbols];
    uint32_t parent[2 * kMaxSymbols];
    for (size_t i = 0; i < n; i++) weight[i] = leaves[i].Count;
    size_t nextLeaf = 0, nextNode = n, made = n;
    auto takeLightest = [&]() -> size_t {
        if (nextLeaf < n && (nextNode >= made || weight[nextLeaf] <= weight[nextNode])) return nextLeaf++;
        return nextNode++;
    };
    while (made < 2 * n - 1) {
        size_t a = takeLightest();
        size_t b = takeLightest();
        weight[made] = weight[a] + weight[b];
        parent[a] = parent[b] = static_cast<uint32_t>(made);
        made++;
    }
    uint32_t nodeDepth[2 * kMaxSymbols];
    nodeDepth[2 * n - 2] = 0;
    for (size_t i = 2 * n - 2; i-- > 0;) nodeDepth[i] = nodeDepth[parent[i]] + 1;
    for (size_t i = 0; i < n; i++) depth[i] = nodeDepth[i];
}

}  // namespace

void BuildCodeLengths(const uint32_t* counts, uint32_t count, uint32_t maxBits, uint8_t* lengths) {
    Leaf leaves[kMaxSymbols];
    size_t n = 0;
    for (uint32_t i = 0; i < count; i++) {
        lengths[i] = 0;
        if (counts[i]) leaves[n++] = {counts[i], static_cast<uint16_t>(i)};
    }
    if (n == 0) return;
    if (n == 1) {
        lengths[leaves[0].Symbol] = 1;
        return;
    }
    std::sort(leaves, leaves + n, [](const Leaf& a, const Leaf& b) {
        return a.Count != b.Count ? a.Count < b.Count : a.Symbol < b.Symbol;
    });
    uint32_t depth[kMaxSymbols];
    TreeDepths(leaves, n, depth);

    // Count codes per length and fold anything deeper than maxBits into
    // maxBits. That over-fills the code space; lengthen the deepest codes
    // below maxBits, one at a time, until the Kraft sum fits again.
    uint32_t perLength[kMaxCodeBits + 1] = {0};
    for (size_t i = 0; i < n; i++) perLength[std::min(depth[i], maxBits)]++;
    uint64_t kraft = 0;  // in units of 2^-maxBits
    for (uint32_t len = 1; len <= maxBits; len++) kraft += static_cast<uint64_t>(perLength[len]) << (maxBits - len);
    const uint64_t full = 1ull << maxBits;
    while (kraft > full) {
        uint32_t len = maxBits - 1;
        while (perLength[len] == 0) len--;  // some length below maxBits is used while over-full
        perLength[len]--;
        perLength[len + 1]++;
        kraft -= 1ull << (maxBits - len - 1);
    }
    // Longest codes go to the rarest symbols (leaves are in ascending order).
    size_t leaf = 0;
    for (uint32_t len = maxBits; len >= 1; len--)
        for (uint32_t k = 0; k < perLength[len]; k++) lengths[leaves[leaf++].Symbol] = static_cast<uint8_t>(len);
}

void AssignCanonicalCodes(const uint8_t* lengths, uint32_t count, uint16_t* codes) {
    uint32_t perLength[16] = {0};
    for (uint32_t i = 0; i < count; i++) perLength[lengths[i] & 15]++;
    perLength[0] = 0;
    uint32_t next[16] = {0};
    uint32_t code = 0;
    for (uint32_t len = 1; len < 16; len++) {
        code = (code + perLength[len - 1]) << 1;
        next[len] = code;
    }
    for (uint32_t i = 0; i < count; i++) codes[i] = lengths[i] ? static_cast<uint16_t>(next[lengths[i]]++) : 0;
}
