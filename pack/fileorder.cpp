#include "pack/fileorder.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <algorithm>

namespace {

enum {
    kGearShift = 4,  // a 64-bit gear hash forgets a byte after 16 more
    kStringBytes = 64 / kGearShift,
    kBucketBits = 9,
    kMaxRounds = 16  // rounds of improving the path at most
};
static_assert(1 << kBucketBits == kSketchBuckets, "bucket bits");

// Random 64-bit values per byte value, the same in every run.
struct GearTable {
    uint64_t Value[256];
    GearTable() {
        uint64_t x = 0x9E3779B97F4A7C15ull;
        for (uint64_t& v : Value) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            v = x;
        }
    }
};
const GearTable kGear;

inline uint64_t Mix(uint64_t h) {
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return h;
}

bool SketchFile(const std::string& path, ContentSketch* sketch, std::string* error) {
    StartSketch(sketch);
    FILE* f = fopen(path.c_str(), "rb");
    if (!f) {
        *error = "cannot open " + path + ": " + strerror(errno);
        return false;
    }
    uint8_t chunk[1 << 16];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, f)) > 0) AddToSketch(sketch, chunk, got);
    bool failed = ferror(f) != 0;
    fclose(f);
    if (failed) *error = "cannot read " + path + ": " + strerror(errno);
    return !failed;
}

// How alike the files at path positions i and j are; 0 beyond either end.
struct PathView {
    const std::vector<uint16_t>& Alike;
    const std::vector<size_t>& Order;
    long Count;
    long operator()(long i, long j) const {
        if (i < 0 || j < 0 || i >= Count || j >= Count) return 0;
        return Alike[Order[static_cast<size_t>(i)] * static_cast<size_t>(Count) + Order[static_cast<size_t>(j)]];
    }
};

// Reverses a stretch of the path wherever that makes its two ends more
// alike to their new neighbours.
bool ReverseStretches(std::vector<size_t>& order, const PathView& s) {
    bool changed = false;
    for (long i = -1; i + 2 < s.Count; i++)
        for (long j = i + 2; j < s.Count; j++) {
            long before = s(i, i + 1) + s(j, j + 1);
            long after = s(i, j) + s(i + 1, j + 1);
            if (after > before) {
                std::reverse(order.begin() + (i + 1), order.begin() + (j + 1));
                changed = true;
            }
        }
    return changed;
}

// Moves single files to the place between two others where they gain most.
bool MoveFiles(std::vector<size_t>& order, const PathView& s) {
    bool changed = false;
    for (long i = 0; i < s.Count; i++) {
        long removal = s(i - 1, i + 1) - s(i - 1, i) - s(i, i + 1);
        long bestGain = 0, bestAfter = 0;
        // Between the files now at a and b (b the next one once i is out).
        for (long a = -1; a < s.Count; a++) {
            if (a == i || a == i - 1) continue;
            long b = a + 1 == i ? i + 1 : a + 1;
            long gain = removal - s(a, b) + s(a, i) + s(i, b);
            if (gain > bestGain) {
                bestGain = gain;
                bestAfter = a;
            }
        }
        if (bestGain > 0) {
            size_t file = order[static_cast<size_t>(i)];
            order.erase(order.begin() + i);
            order.insert(order.begin() + (bestAfter < i ? bestAfter + 1 : bestAfter), file);
            changed = true;
        }
    }
    return changed;
}

}  // namespace

void StartSketch(ContentSketch* sketch) {
    memset(sketch->Min, 0xFF, sizeof sketch->Min);
    sketch->Rolling = 0;
    sketch->Seen = 0;
}

void AddToSketch(ContentSketch* sketch, const uint8_t* data, size_t size) {
    uint64_t h = sketch->Rolling;
    size_t i = 0;
    for (; i < size && sketch->Seen + i + 1 < kStringBytes; i++) h = (h << kGearShift) + kGear.Value[data[i]];
    for (; i < size; i++) {
        h = (h << kGearShift) + kGear.Value[data[i]];
        uint64_t v = Mix(h);
        uint32_t& slot = sketch->Min[v >> (64 - kBucketBits)];
        uint32_t low = static_cast<uint32_t>(v);
        if (low < slot) slot = low;
    }
    sketch->Rolling = h;
    sketch->Seen += size;
}

uint32_t Alike(const ContentSketch& a, const ContentSketch& b) {
    uint32_t shared = 0, used = 0;
    for (int i = 0; i < kSketchBuckets; i++) {
        uint32_t x = a.Min[i], y = b.Min[i];
        uint32_t inUse = (x & y) != 0xFFFFFFFFu;  // not empty in both
        used += inUse;
        shared += inUse & (x == y);
    }
    return used ? shared * kAlikeScale / used : 0;
}

std::vector<size_t> OrderBySketches(const std::vector<ContentSketch>& sketches) {
    size_t n = sketches.size();
    std::vector<uint16_t> alike(n * n, 0);
    for (size_t a = 0; a < n; a++)
        for (size_t b = a + 1; b < n; b++)
            alike[a * n + b] = alike[b * n + a] = static_cast<uint16_t>(Alike(sketches[a], sketches[b]));
    // The chain: always on to the most alike file left, the first of them on a tie.
    std::vector<size_t> order;
    std::vector<size_t> left;
    for (size_t i = 1; i < n; i++) left.push_back(i);
    if (n) order.push_back(0);
    while (!left.empty()) {
        size_t current = order.back(), best = 0;
        uint32_t bestAlike = 0;
        for (size_t k = 0; k < left.size(); k++)
            if (alike[current * n + left[k]] > bestAlike) {
                bestAlike = alike[current * n + left[k]];
                best = k;
            }
        order.push_back(left[best]);
        left.erase(left.begin() + static_cast<long>(best));
    }
    PathView view = {alike, order, static_cast<long>(n)};
    for (int round = 0; round < kMaxRounds; round++) {
        bool changed = ReverseStretches(order, view);
        changed = MoveFiles(order, view) || changed;
        if (!changed) break;
    }
    return order;
}

bool OrderForPacking(std::vector<PackSource>* sources, std::string* error) {
    std::vector<PackSource> ordered;
    ordered.reserve(sources->size());
    std::vector<ContentSketch> sketches;
    for (size_t group = 0; group < sources->size(); group += kOrderGroup) {
        size_t end = std::min(sources->size(), group + kOrderGroup);
        sketches.resize(end - group);
        for (size_t i = group; i < end; i++)
            if (!SketchFile((*sources)[i].Path, &sketches[i - group], error)) return false;
        for (size_t k : OrderBySketches(sketches)) ordered.push_back((*sources)[group + k]);
    }
    sources->swap(ordered);
    return true;
}
