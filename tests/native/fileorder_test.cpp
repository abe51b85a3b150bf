// The packing order: files alike end up next to each other, every file
// exactly once, the same order on every run.
#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>
#include <vector>

#include "pack/fileorder.h"
#include "support/testdata.h"
#include "support/archive_builder.h"

namespace {

using qvtest::Bytes;

ContentSketch SketchOf(const Bytes& data, size_t pieces = 1) {
    ContentSketch s;
    StartSketch(&s);
    // In pieces: the rolling hash carries across calls.
    size_t step = (data.size() + pieces - 1) / pieces;
    for (size_t at = 0; at < data.size(); at += step)
        AddToSketch(&s, data.data() + at, std::min(step, data.size() - at));
    return s;
}

// A family of files: one base with a few bytes changed per member.
Bytes Member(uint32_t family, uint32_t member) {
    Bytes b = qvtest::Noise(6000, family * 977 + 1);
    for (uint32_t k = 0; k < 4; k++) b[(member * 131 + k * 1499) % b.size()] ^= static_cast<uint8_t>(member + 1);
    return b;
}

TEST(FileOrder, AlikeMeasuresSharedContent) {
    Bytes a = qvtest::Noise(20000, 1);
    EXPECT_EQ(Alike(SketchOf(a), SketchOf(a, 7)), uint32_t(kAlikeScale));
    EXPECT_LT(Alike(SketchOf(a), SketchOf(qvtest::Noise(20000, 2))), uint32_t(kAlikeScale) / 20);
    // Half the content shared: about half the measure.
    Bytes half(a.begin(), a.begin() + 10000);
    Bytes other = qvtest::Noise(10000, 3);
    half.insert(half.end(), other.begin(), other.end());
    uint32_t h = Alike(SketchOf(a), SketchOf(half));
    EXPECT_GT(h, uint32_t(kAlikeScale) / 5);
    EXPECT_LT(h, uint32_t(kAlikeScale) * 4 / 5);
    // Empty files and files shorter than the sketched strings share nothing.
    EXPECT_EQ(Alike(SketchOf(Bytes()), SketchOf(Bytes())), 0u);
    EXPECT_EQ(Alike(SketchOf(Bytes(5, 'x')), SketchOf(a)), 0u);
}

TEST(FileOrder, FamiliesEndUpTogether) {
    // Three families, interleaved, with unrelated files between.
    std::vector<ContentSketch> sketches;
    std::vector<int> family;
    for (uint32_t m = 0; m < 6; m++)
        for (uint32_t f = 0; f < 3; f++) {
            sketches.push_back(SketchOf(Member(f, m)));
            family.push_back(static_cast<int>(f));
            if (m % 2 == 0) {
                sketches.push_back(SketchOf(qvtest::Noise(3000, 1000 + m * 3 + f)));
                family.push_back(-1);
            }
        }
    std::vector<size_t> order = OrderBySketches(sketches);
    std::vector<size_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (size_t i = 0; i < sorted.size(); i++) ASSERT_EQ(sorted[i], i);
    // Each family's members form one run.
    std::vector<int> runs(3, 0);
    for (size_t i = 0; i < order.size(); i++) {
        int f = family[order[i]];
        if (f >= 0 && (i == 0 || family[order[i - 1]] != f)) runs[static_cast<size_t>(f)]++;
    }
    EXPECT_EQ(runs, std::vector<int>({1, 1, 1}));
    EXPECT_EQ(OrderBySketches(sketches), order);
    EXPECT_TRUE(OrderBySketches({}).empty());
}

TEST(FileOrder, OrdersSourcesAndReportsUnreadableFiles) {
    std::string dir = qvtest::MakeTempDir("order");
    std::vector<PackSource> sources;
    for (uint32_t i = 0; i < 8; i++) {
        PackSource s;
        s.Name = "f" + std::to_string(i);
        s.Path = dir + "/" + s.Name;
        Bytes data = Member(i % 2, i);
        FILE* f = fopen(s.Path.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        fwrite(data.data(), 1, data.size(), f);
        fclose(f);
        s.Size = data.size();
        sources.push_back(s);
    }
    std::vector<PackSource> ordered = sources;
    std::string error;
    ASSERT_TRUE(OrderForPacking(&ordered, &error)) << error;
    ASSERT_EQ(ordered.size(), sources.size());
    // One family, then the other.
    int first = (ordered[0].Name[1] - '0') % 2;
    for (size_t i = 0; i < ordered.size(); i++) EXPECT_EQ((ordered[i].Name[1] - '0') % 2, i < 4 ? first : 1 - first) << i;

    sources[3].Path += ".gone";
    EXPECT_FALSE(OrderForPacking(&sources, &error));
    EXPECT_NE(error.find(".gone"), std::string::npos);
}

}  // namespace
