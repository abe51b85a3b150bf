// What the packer's levels make of a fixed mixed data set: every level's
// size is recorded, and a change of more than 1% either way fails. A test
// that only decodes what was packed cannot see a packer that has grown
// worse; this one does. When the packer improves, the recorded sizes are
// updated on purpose, with the reason in the commit.
#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <vector>

#include "pack/lzencoder.h"
#include "support/testdata.h"

namespace {

size_t PackedSize(const std::vector<std::vector<uint8_t>>& entries, int level) {
    size_t total = 0;
    for (const auto& e : PackBuffers(entries, level)) total += e.size();
    return total;
}

TEST(PackedSizes, EveryLevelKeepsItsRecordedSize) {
    // Bytes of packed data of the data set at levels 1 to 5, as measured
    // when this test was written.
    const size_t kRecorded[kMaxLevel + 1] = {0, 110806, 108901, 111630, 105660, 104227};
    std::vector<std::vector<uint8_t>> entries = qvtest::PackingDataSet();
    size_t input = 0;
    for (const auto& e : entries) input += e.size();
    size_t sizes[kMaxLevel + 1] = {0};
    for (int level = kMinLevel; level <= kMaxLevel; level++) {
        sizes[level] = PackedSize(entries, level);
        double ratio = static_cast<double>(sizes[level]) / static_cast<double>(kRecorded[level]);
        printf("level %d: %zu of %zu bytes (%.1f%%), %.4f of the recorded %zu\n", level, sizes[level], input,
               100.0 * static_cast<double>(sizes[level]) / static_cast<double>(input), ratio, kRecorded[level]);
        EXPECT_LE(ratio, 1.01) << "level " << level << " packs more than 1% larger than recorded";
        EXPECT_GE(ratio, 0.99) << "level " << level << " packs more than 1% smaller: record the new size";
    }
    // The optimal parse never loses to the lazy one.
    EXPECT_LE(sizes[5], sizes[3]);
    EXPECT_LE(sizes[4], sizes[3]);
}

}  // namespace
