// The order files are packed in. The window reaches back 1 MB only, so
// files alike should follow each other: each file gets a small sketch of
// its content, and the order is a path through the files that keeps alike
// files next to each other (a nearest-neighbour chain, then improved by
// reversing and moving parts of it while that makes neighbours more alike).
#ifndef QUORVANEL_PACK_FILEORDER_H
#define QUORVANEL_PACK_FILEORDER_H

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/archivewriter.h"

enum {
    kSketchBuckets = 512,  // a file's content sample: the smallest hash per bucket
    kOrderGroup = 1024,    // files ordered at once (in the order given); memory and time grow with its square
    kAlikeScale = 1024     // Alike() of identical content
};

// A sample of a file's content: the hashes of all its 16-byte strings are
// spread over the buckets by their top bits, and each bucket keeps the
// smallest it got. Two files share a bucket's minimum about as often as
// their sets of strings overlap.
struct ContentSketch {
    uint32_t Min[kSketchBuckets];
    uint64_t Rolling;  // hash of the last bytes added
    uint64_t Seen;     // bytes added
};

void StartSketch(ContentSketch* sketch);
// Adds bytes that continue those added before.
void AddToSketch(ContentSketch* sketch, const uint8_t* data, size_t size);
// 0 (nothing shared) .. kAlikeScale (the same strings).
uint32_t Alike(const ContentSketch& a, const ContentSketch& b);

// Orders the files given by how alike their contents are (a file that
// shares nothing with those left goes on with the first of them in the
// order given). Deterministic. False with a message when a file cannot be
// read.
bool OrderForPacking(std::vector<PackSource>* sources, std::string* error);
// The same for sketches already made: the order as indexes.
std::vector<size_t> OrderBySketches(const std::vector<ContentSketch>& sketches);

#endif
