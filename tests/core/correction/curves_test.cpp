#include "core/correction/curves.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <utility>
#include <vector>

#include "support/test_pictures.hpp"

namespace tintora {
namespace {

ControlValues filled(const std::vector<std::pair<int, std::int32_t>>& pairs) {
    ControlValues values = make_empty_pairs();
    for (const auto& [v, t] : pairs) values[v] = t;
    fill_curve(values);
    return values;
}

bool is_identity(const ColorTable& table) {
    for (int v = 0; v < kIntensityCount; ++v) {
        if (table[v] != v) return false;
    }
    return true;
}

bool has_no_pairs(const ControlValues& values) { return values == make_empty_pairs(); }

TEST(FillCurve, NoPairsGiveTheIdentity) {
    const ControlValues values = filled({});
    for (int v = 0; v < kIntensityCount; ++v) EXPECT_EQ(values[v], v);
}

TEST(FillCurve, WorkedCurves) {
    const struct {
        const char* name;
        std::vector<std::pair<int, std::int32_t>> pairs;
        std::vector<std::pair<int, std::int32_t>> expected;  // (v, a[v])
    } cases[] = {
        {"one pair in the middle",
         {{100, 150}},
         {{0, 0}, {50, 75}, {99, 148}, {100, 150}, {101, 150}, {200, 217}, {255, 255}}},
        // a[v] = 40 + (215 v) div 255.
        {"black lifted", {{0, 40}}, {{0, 40}, {1, 40}, {128, 147}, {254, 254}, {255, 255}}},
        {"a drop between neighbours is kept",
         {{100, 150}, {101, 90}},
         {{99, 148}, {100, 150}, {101, 90}, {102, 91}, {255, 255}}},
        // Truncation toward zero: flooring would give 93 and 86.
        {"falling gap rounds up",
         {{10, 100}, {13, 80}},
         {{5, 50}, {11, 94}, {12, 87}, {13, 80}, {14, 80}}},
        {"a pair at 255 wins over the anchor", {{255, 0}}, {{0, 0}, {128, 0}, {254, 0}, {255, 0}}},
        {"falling all the way", {{0, 255}, {255, 0}}, {{1, 254}, {128, 127}, {254, 1}}},
        // 1000 + (-745 x 64) div 127 = 1000 - 375.
        {"value beyond 255 from a file", {{128, 1000}}, {{64, 500}, {128, 1000}, {192, 625}}},
    };
    for (const auto& t : cases) {
        const ControlValues values = filled(t.pairs);
        for (const auto& [v, want] : t.expected)
            EXPECT_EQ(values[v], want) << t.name << ", a[" << v << "]";
    }
}

// Whatever the pairs, set entries stay and every filled entry lies on the
// straight line between its gap's ends, off by less than one and only
// toward the left end's value.
TEST(FillCurve, FilledEntriesLieOnTheSegmentRoundedTowardItsLeftEnd) {
    std::mt19937 random(13);
    std::uniform_int_distribution<int> intensity(0, 255);
    std::uniform_int_distribution<int> pair_count(0, 12);
    for (int round = 0; round < 300; ++round) {
        ControlValues values = make_empty_pairs();
        for (int n = pair_count(random); n > 0; --n) values[intensity(random)] = intensity(random);
        const ControlValues pairs = values;
        fill_curve(values);

        std::vector<int> set;  // the set entries after anchoring
        for (int v = 0; v < kIntensityCount; ++v) {
            const bool is_set = pairs[v] != NO_PAIR || v == 0 || v == 255;
            if (!is_set) continue;
            set.push_back(v);
            const std::int32_t want = pairs[v] != NO_PAIR ? pairs[v] : (v == 0 ? 0 : 255);
            ASSERT_EQ(values[v], want) << "set entry " << v << " changed";
        }
        for (std::size_t i = 1; i < set.size(); ++i) {
            const int left = set[i - 1];
            const int right = set[i];
            const double a = values[left];
            const double b = values[right];
            for (int k = left + 1; k < right; ++k) {
                const double exact = a + (b - a) * (k - left) / (right - left);
                const double off = values[k] - exact;
                if (b >= a) {
                    ASSERT_TRUE(off <= 0 && off > -1)
                        << "a[" << k << "]=" << values[k] << " vs " << exact;
                } else {
                    ASSERT_TRUE(off >= 0 && off < 1)
                        << "a[" << k << "]=" << values[k] << " vs " << exact;
                }
            }
        }
    }
}

// Values read from a file may be any 32-bit number; the sums and products
// wrap as 32-bit registers do (and must not be undefined behaviour).
TEST(FillCurve, ExtremeValuesWrapAroundIn32Bits) {
    // Rise -2147483600 - 2147483600 wraps to 96; 2147483600 + 48 wraps to the minimum.
    ControlValues values = make_empty_pairs();
    values[0] = 2147483600;
    values[2] = -2147483600;
    values[3] = 0;
    fill_curve(values);
    EXPECT_EQ(values[1], std::numeric_limits<std::int32_t>::min());

    // 2000000000 k wraps for k >= 2: 4000000000 - 2^32 = -294967296,
    // 6000000000 - 2^32 = 1705032704; each then divided by 255.
    values = filled({{255, 2000000000}});
    EXPECT_EQ(values[1], 7843137);
    EXPECT_EQ(values[2], -1156734);
    EXPECT_EQ(values[3], 6686402);

    values = filled({{0, std::numeric_limits<std::int32_t>::min()},
                     {255, std::numeric_limits<std::int32_t>::max()}});
    // The rise wraps to -1: (-k) div 255 is 0 across the gap.
    EXPECT_EQ(values[128], std::numeric_limits<std::int32_t>::min());
}

TEST(RecalculateColorTable, KeepsTheLowEightBitsAndTouchesOnlyItsPoint) {
    CorrectionGrid grid;
    grid.control_values[5][50] = -2;
    grid.control_values[5][100] = 300;
    grid.control_values[5][200] = 256;
    grid.control_values[2][100] = 10;  // stale on purpose: point 2 is not rebuilt
    const CorrectionGrid before = grid;
    recalculate_color_table(grid, 5);

    const ColorTable& table = grid.color_table[5];
    EXPECT_EQ(table[10], 0);    // (-2 x 10) div 50 = 0
    EXPECT_EQ(table[30], 255);  // (-2 x 30) div 50 = -1
    EXPECT_EQ(table[50], 254);  // -2
    EXPECT_EQ(table[100], 44);  // 300
    EXPECT_EQ(table[150], 22);  // 300 + (-44 x 50) div 100 = 278
    EXPECT_EQ(table[200], 0);   // 256
    EXPECT_EQ(table[255], 255);
    EXPECT_EQ(grid.control_values, before.control_values);
    for (int p = 0; p < kGridPointCount; ++p) {
        if (p != 5) {
            EXPECT_TRUE(is_identity(grid.color_table[p])) << "point " << p;
        }
    }
}

TEST(CurveOperations, ClearTouchesOnlyTheCurrentPoint) {
    std::mt19937 random(15);
    const CorrectionGrid original = test::random_grid(random);
    // A stored current point beyond the grid is taken as the last point.
    for (const auto& [stored, cleared] : {std::pair{4, 4}, {0, 0}, {12, 8}}) {
        CorrectionGrid grid = original;
        grid.cur_point = stored;
        clear_point(grid);
        for (int p = 0; p < kGridPointCount; ++p) {
            if (p == cleared) {
                EXPECT_TRUE(has_no_pairs(grid.control_values[p]));
                EXPECT_TRUE(is_identity(grid.color_table[p]));
            } else {
                EXPECT_EQ(grid.control_values[p], original.control_values[p]) << "point " << p;
                EXPECT_EQ(grid.color_table[p], original.color_table[p]) << "point " << p;
            }
        }
    }
    CorrectionGrid grid = original;
    clear_all_points(grid);
    for (int p = 0; p < kGridPointCount; ++p) {
        EXPECT_TRUE(has_no_pairs(grid.control_values[p]));
        EXPECT_TRUE(is_identity(grid.color_table[p]));
    }
}

TEST(CurveOperations, CopyAndPaste) {
    std::mt19937 random(16);
    CorrectionGrid grid = test::random_grid(random);
    const CorrectionGrid original = grid;
    PairClipboard clipboard = make_empty_pairs();

    grid.cur_point = 3;
    copy_pairs(grid, clipboard);
    EXPECT_EQ(clipboard, original.control_values[3]);
    EXPECT_EQ(grid.control_values, original.control_values);

    // Point 1 gets a new pair without a rebuild: pasting rebuilds every table.
    grid.control_values[1][128] = 0;
    grid.cur_point = 7;
    paste_pairs(grid, clipboard);
    EXPECT_EQ(grid.control_values[7], original.control_values[3]);
    EXPECT_EQ(grid.color_table[7], original.color_table[3]);
    EXPECT_EQ(grid.color_table[1][128], 0);
    for (const int p : {0, 2, 3, 4, 5, 6, 8}) {
        EXPECT_EQ(grid.control_values[p], original.control_values[p]) << "point " << p;
        EXPECT_EQ(grid.color_table[p], original.color_table[p]) << "point " << p;
    }

    // The clipboard starts empty: pasting it before any copy removes the pairs.
    grid.cur_point = 2;
    paste_pairs(grid, make_empty_pairs());
    EXPECT_TRUE(has_no_pairs(grid.control_values[2]));
    EXPECT_TRUE(is_identity(grid.color_table[2]));
}

TEST(CurveOperations, SetForAllGivesEveryPointTheCurrentPairs) {
    std::mt19937 random(18);
    CorrectionGrid grid = test::random_grid(random);
    const CorrectionGrid original = grid;
    grid.cur_point = 6;
    set_pairs_for_all(grid);
    for (int p = 0; p < kGridPointCount; ++p) {
        EXPECT_EQ(grid.control_values[p], original.control_values[6]) << "point " << p;
        EXPECT_EQ(grid.color_table[p], original.color_table[6]) << "point " << p;
    }

    // With the current point empty every point ends without pairs.
    grid = original;
    grid.cur_point = 0;
    clear_point(grid);
    set_pairs_for_all(grid);
    for (int p = 0; p < kGridPointCount; ++p) {
        EXPECT_TRUE(has_no_pairs(grid.control_values[p])) << "point " << p;
        EXPECT_TRUE(is_identity(grid.color_table[p])) << "point " << p;
    }
}

// In colour mode the whole-curve operations take all three channels of a
// point and leave the brightness pairs alone; the first change to colour
// starts the channels from the brightness pairs, later changes keep each
// mode's own curves.
TEST(CurvesInColourMode, OperationsTakeTheThreeChannelsAndTheModeKeepsEachSet) {
    CorrectionGrid grid;
    grid.control_values[4][100] = 150;
    recalculate_color_tables(grid);
    set_correction_mode(grid, CorrectionMode::Colour);
    for (int c = 0; c < kChannelCount; ++c) {
        EXPECT_EQ(grid.channel_control_values[c][4][100], 150) << c;
        EXPECT_EQ(grid.channel_color_table[c][4][100], 150) << c;
    }
    grid.cur_point = 4;
    grid.channel_control_values[kBlueChannel][4][30] = 60;
    PairClipboard brightness = make_empty_pairs();
    ChannelPairClipboard channels = make_empty_channel_pairs();
    copy_pairs(grid, brightness, channels);
    EXPECT_EQ(brightness, make_empty_pairs());
    EXPECT_EQ(channels[kBlueChannel][30], 60);
    grid.cur_point = 0;
    paste_pairs(grid, brightness, channels);
    EXPECT_EQ(grid.channel_control_values[kBlueChannel][0][30], 60);
    EXPECT_EQ(grid.channel_color_table[kBlueChannel][0][30], 60);
    EXPECT_EQ(grid.control_values[0], make_empty_pairs());
    set_pairs_for_all(grid);
    EXPECT_EQ(grid.channel_control_values[kRedChannel][8][100], 150);
    EXPECT_EQ(&edited_pairs(grid, 8, kGreenChannel),
              &grid.channel_control_values[kGreenChannel][8]);
    clear_all_points(grid);
    EXPECT_EQ(grid.channel_control_values[kRedChannel][4], make_empty_pairs());
    EXPECT_EQ(grid.control_values[4][100], 150);

    // Back and forth: each mode keeps its curves, emptied channels included.
    set_correction_mode(grid, CorrectionMode::Brightness);
    EXPECT_EQ(&edited_pairs(grid, 8, kGreenChannel), &grid.control_values[8]);
    grid.channel_control_values[kRedChannel][2][5] = 50;
    set_correction_mode(grid, CorrectionMode::Colour);
    EXPECT_EQ(grid.channel_control_values[kGreenChannel][4], make_empty_pairs());
}

}  // namespace
}  // namespace tintora
