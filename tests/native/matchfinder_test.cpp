// The binary-tree match finder of the best levels against a search of
// every earlier position: what it reports is there, in the order the parse
// relies on, and with the search unbounded it misses no longest match.
#include <gtest/gtest.h>

#include <string.h>

#include <vector>

#include "pack/lzformat.h"
#include "pack/matchfinder.h"
#include "support/testdata.h"

namespace {

// The longest match at pos of at least four bytes that a symbol can code,
// over every distance up to reach, each length capped at limit.
uint32_t LongestByHand(const std::vector<uint8_t>& b, uint32_t pos, uint32_t reach, uint32_t limit) {
    uint32_t best = 0;
    for (uint32_t d = 1; d <= reach && d <= pos; d++) {
        uint32_t n = CommonLength(&b[pos], &b[pos - d], limit);
        if (n >= 4 && n >= kMatchMinLength + MatchLengthBonus(d) && n > best) best = n;
    }
    return best;
}

// With nice below the limit a search ends at the first match of nice
// bytes, so only that much of the longest is owed.
void CheckPositions(uint32_t reachCap, uint32_t nice) {
    const uint32_t kSize = 12 * 1024, kFirstSearched = 9 * 1024, kLimit = 200;
    std::vector<uint8_t> data = qvtest::MatchMaterial(kSize);
    data.resize(kSize + 16, 0);  // room for the finder's word-wise compares past the end
    TreeFinder finder;
    ASSERT_TRUE(CreateTreeFinder(&finder, 1u << 20, nice));
    uint32_t checked = 0, withMatch = 0;
    for (uint32_t pos = 0; pos < kSize; pos++) {
        FinderSpot spot;
        spot.Here = &data[pos];
        spot.Pos = pos;
        spot.Avail = kSize - pos;
        spot.Reach = pos < reachCap ? pos : reachCap;
        spot.Limit = spot.Avail < kLimit ? spot.Avail : kLimit;
        if (pos < kFirstSearched || pos % 5 == 0) {  // skipped positions are still indexed
            TreeSkipPosition(&finder, spot);
            continue;
        }
        Found found[kMaxFound];
        uint32_t count = TreeFindMatches(&finder, spot, found);
        ASSERT_LE(count, uint32_t(kMaxFound));
        uint32_t longest = 0;
        for (uint32_t i = 0; i < count; i++) {
            const Found& f = found[i];
            SCOPED_TRACE(testing::Message() << "position " << pos << ", match " << i);
            ASSERT_GE(f.Distance, 1u);
            ASSERT_LE(f.Distance, spot.Reach);
            ASSERT_GE(f.Length, uint32_t(kShortLength));
            ASSERT_LE(f.Length, spot.Limit);
            EXPECT_EQ(0, memcmp(&data[pos], &data[pos - f.Distance], f.Length));  // really there
            EXPECT_GT(f.Length, longest);                                           // by increasing length
            if (f.Length == kShortLength) {
                EXPECT_LE(f.Distance, kShortMaxDistance);
            } else {
                EXPECT_GE(f.Length, kMatchMinLength + MatchLengthBonus(f.Distance));
            }
            longest = f.Length;
        }
        uint32_t expected = LongestByHand(data, pos, spot.Reach, spot.Limit);
        if (expected >= 4) {
            if (nice >= kLimit) EXPECT_EQ(expected, longest) << "position " << pos;
            else EXPECT_GE(longest, expected < nice ? expected : nice) << "position " << pos;
            withMatch++;
        }
        checked++;
    }
    DestroyTreeFinder(&finder);
    EXPECT_GT(checked, 2000u);
    EXPECT_GT(withMatch, checked / 2);
}

TEST(TreeFinder, ReportsWhatIsThereAndMissesNoLongestMatch) { CheckPositions(kWindowSize - 1, kMaxMatchLength); }

TEST(TreeFinder, NothingBeyondTheReach) { CheckPositions(3000, kMaxMatchLength); }

// A short nice length makes nodes give way to equal newer ones all the
// time; the tree must stay ordered through that.
TEST(TreeFinder, ShortNiceLengthKeepsTheTreeOrdered) { CheckPositions(kWindowSize - 1, 16); }

// Depth bounds the work: with one node per search only the newest
// position of the same hash is looked at, and what is found is still real.
TEST(TreeFinder, ShallowSearchStaysCorrect) {
    std::vector<uint8_t> data = qvtest::MatchMaterial(4096);
    data.resize(4096 + 16, 0);
    TreeFinder finder;
    ASSERT_TRUE(CreateTreeFinder(&finder, 1, 32));
    for (uint32_t pos = 0; pos < 4096; pos++) {
        FinderSpot spot = {&data[pos], pos, 4096 - pos, pos, 4096 - pos < 260 ? 4096 - pos : 260};
        Found found[kMaxFound];
        uint32_t count = TreeFindMatches(&finder, spot, found);
        for (uint32_t i = 0; i < count; i++) {
            ASSERT_LE(found[i].Distance, pos);
            ASSERT_EQ(0, memcmp(&data[pos], &data[pos - found[i].Distance], found[i].Length)) << pos;
        }
    }
    DestroyTreeFinder(&finder);
}

}  // namespace
