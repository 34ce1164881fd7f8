#include "core/correction/correction_grid.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <limits>
#include <random>

namespace tintora {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

using Pixel = std::array<int, 3>;  // R, G, B

Pixel corrected(const CorrectionGrid& grid, double x, double y, Pixel pixel) {
    auto r = static_cast<std::uint8_t>(pixel[0]);
    auto g = static_cast<std::uint8_t>(pixel[1]);
    auto b = static_cast<std::uint8_t>(pixel[2]);
    grid.correct_pixel(x, y, r, g, b);
    return {r, g, b};
}

// A grid whose every table holds `filler` everywhere: any table entry the
// correction should not have looked at shows up in the result.
CorrectionGrid grid_filled_with(std::uint8_t filler) {
    CorrectionGrid grid;
    for (ColorTable& table : grid.color_table) table.fill(filler);
    return grid;
}

TEST(FindGridCell, QuadrantsAndWeightsWithSharedEdgesInTheEarlierQuadrant) {
    const struct {
        double x, y;
        int top_left;
        double u, w;
    } cases[] = {
        {0.0, 0.0, 0, 0.0, 0.0},  {0.25, 0.25, 0, 0.5, 0.5}, {0.5, 0.5, 0, 1.0, 1.0},
        {0.5, 0.25, 0, 1.0, 0.5}, {0.25, 0.5, 0, 0.5, 1.0},  {0.75, 0.25, 1, 0.5, 0.5},
        {0.75, 0.5, 1, 0.5, 1.0}, {1.0, 0.0, 1, 1.0, 0.0},   {0.25, 0.75, 3, 0.5, 0.5},
        {0.5, 0.75, 3, 1.0, 0.5}, {0.0, 1.0, 3, 0.0, 1.0},   {0.75, 0.75, 4, 0.5, 0.5},
        {1.0, 1.0, 4, 1.0, 1.0},  {1.0, 0.5, 1, 1.0, 1.0},   {0.5, 1.0, 3, 1.0, 1.0},
    };
    for (const auto& t : cases) {
        GridCell cell{};
        ASSERT_TRUE(find_grid_cell(t.x, t.y, cell)) << t.x << ", " << t.y;
        EXPECT_EQ(cell.top_left, t.top_left) << t.x << ", " << t.y;
        EXPECT_DOUBLE_EQ(cell.u, t.u) << t.x << ", " << t.y;
        EXPECT_DOUBLE_EQ(cell.w, t.w) << t.x << ", " << t.y;
    }
    const std::pair<double, double> outside[] = {
        {1.2, 0.5},  {0.5, -0.1},  {-1e-9, 0.3},   {0.3, 1.0 + 1e-12}, {kNaN, 0.5},
        {0.5, kNaN}, {kNaN, kNaN}, {kInfinity, 0}, {0, -kInfinity}};
    for (const auto& [x, y] : outside) {
        GridCell cell{};
        EXPECT_FALSE(find_grid_cell(x, y, cell)) << x << ", " << y;
    }
}

TEST(CorrectPixel, EachGridPointPositionTakesThatPointsTableAlone) {
    // Pixel (40, 80, 120) has intensity 80. Point p maps 80 to 20 (p + 1),
    // a gain of (p + 1) / 4, exact in binary.
    CorrectionGrid grid = grid_filled_with(7);
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.color_table[p][80] = static_cast<std::uint8_t>(20 * (p + 1));
    }
    for (int p = 0; p < kGridPointCount; ++p) {
        const double x = (p % 3) / 2.0;
        const double y = (p / 3) / 2.0;
        const int k = p + 1;
        const Pixel expected{10 * k, 20 * k, std::min(30 * k, 255)};
        EXPECT_EQ(corrected(grid, x, y, {40, 80, 120}), expected) << "point " << p;
    }
}

TEST(CorrectPixel, BlendsTheFourSurroundingTablesBilinearly) {
    const struct {
        double x, y;
        std::array<int, 9> targets;  // each point's table entry at intensity 100
        Pixel in, out;
    } cases[] = {
        // C = 150 from 100, 200, 100, 200: gain 1.5, blue clipped at 255.
        {0.25, 0.25, {100, 200, 0, 100, 200, 0, 0, 0, 0}, {30, 60, 210}, {45, 90, 255}},
        // u = 0.5, w = 0.25: top 80, bottom 200, C = 110.
        {0.75, 0.625, {0, 0, 0, 0, 40, 120, 0, 200, 200}, {100, 100, 100}, {110, 110, 110}},
        // On the middle column only points 1, 4 and 7 count: C = (100 + 200) / 2.
        {0.5, 0.75, {0, 0, 0, 0, 100, 0, 0, 200, 0}, {100, 100, 100}, {150, 150, 150}},
        // On the middle row only points 3, 4 and 5 count: C = (60 + 100) / 2.
        {0.25, 0.5, {0, 0, 0, 60, 100, 0, 0, 0, 0}, {50, 100, 150}, {40, 80, 120}},
    };
    for (const auto& t : cases) {
        CorrectionGrid grid = grid_filled_with(255);
        for (int p = 0; p < kGridPointCount; ++p) {
            grid.color_table[p][100] = static_cast<std::uint8_t>(t.targets[p]);
        }
        EXPECT_EQ(corrected(grid, t.x, t.y, t.in), t.out) << t.x << ", " << t.y;
    }
}

TEST(CorrectPixel, OneGainForAllChannelsClippedAndTruncatedPerChannel) {
    const struct {
        Pixel in;
        int target;  // every table's entry at the pixel's intensity
        Pixel out;
    } cases[] = {
        {{200, 100, 0}, 200, {255, 200, 0}},  // gain 2: red clipped alone
        {{10, 20, 30}, 21, {10, 21, 31}},     // gain 1.05: 10.5 and 31.5 truncated
        {{7, 8, 9}, 4, {3, 4, 4}},            // gain 0.5: 3.5 and 4.5 truncated
        {{3, 0, 0}, 255, {255, 0, 0}},        // intensity 1, gain 255
        {{90, 90, 93}, 0, {0, 0, 0}},         // target black
        {{255, 255, 255}, 255, {255, 255, 255}},
    };
    for (const auto& t : cases) {
        CorrectionGrid grid;
        const int intensity = (t.in[0] + t.in[1] + t.in[2]) / 3;
        for (ColorTable& table : grid.color_table) {
            table[intensity] = static_cast<std::uint8_t>(t.target);
        }
        for (const auto& [x, y] : {std::pair{0.0, 0.0}, {0.3, 0.9}, {1.0, 0.5}}) {
            EXPECT_EQ(corrected(grid, x, y, t.in), t.out)
                << t.in[0] << "," << t.in[1] << "," << t.in[2] << " at " << x << ", " << y;
        }
    }
}

TEST(CorrectPixel, IntensityZeroBecomesBlackWhateverTheTables) {
    CorrectionGrid grid;
    for (ColorTable& table : grid.color_table) table[0] = 255;
    for (const Pixel& pixel : {Pixel{1, 1, 0}, Pixel{0, 0, 2}, Pixel{2, 0, 0}, Pixel{0, 0, 0}}) {
        EXPECT_EQ(corrected(grid, 0.5, 0.5, pixel), (Pixel{0, 0, 0}));
        EXPECT_EQ(corrected(CorrectionGrid{}, 0.1, 0.7, pixel), (Pixel{0, 0, 0}));
    }
}

TEST(CorrectPixel, IdentityTablesKeepEveryPixelOfPositiveIntensity) {
    const CorrectionGrid grid;
    std::mt19937 random(12);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_real_distribution<double> position(0.0, 1.0);
    for (int i = 0; i < 20000; ++i) {
        const Pixel pixel{byte(random), byte(random), byte(random)};
        if (pixel[0] + pixel[1] + pixel[2] < 3) continue;
        const double x = i % 7 == 0 ? 0.5 : position(random);
        const double y = i % 5 == 0 ? 1.0 : position(random);
        ASSERT_EQ(corrected(grid, x, y, pixel), pixel) << x << ", " << y;
    }
}

TEST(CorrectPixel, PositionsOutsideTheFrameLeaveThePixelAlone) {
    CorrectionGrid grid = grid_filled_with(200);
    const Pixel pixel{30, 60, 90};
    ASSERT_NE(corrected(grid, 0.5, 0.5, pixel), pixel);
    const std::pair<double, double> outside[] = {{1.2, 0.5},  {0.5, -0.5}, {-0.001, 0.0},
                                                 {kNaN, 0.5}, {0.5, kNaN}, {kInfinity, 0.5}};
    for (const auto& [x, y] : outside)
        EXPECT_EQ(corrected(grid, x, y, pixel), pixel) << x << ", " << y;
}

// Colour mode: each channel is the blend of its own channel's tables at its
// own value, truncated; no common gain, and intensity 0 is no special case.
TEST(CorrectPixelColour, EachChannelBlendsItsOwnTablesAtItsOwnValue) {
    const struct {
        double x, y;
        Pixel in, out;
    } cases[] = {
        // Point 4's tables alone: red 10 -> 12, green 20 -> 40, blue 0 -> 7.
        {0.5, 0.5, {10, 20, 0}, {12, 40, 7}},
        // Between points 0 and 1 (u = 0.5): red 12 and 0 blend to 6, green
        // 40 and 0 to 20, blue 7 and 0 to 3.5, truncated.
        {0.25, 0.0, {10, 20, 0}, {6, 20, 3}},
        // A channel at a value no table changes stays as it is.
        {0.5, 0.5, {200, 20, 201}, {200, 40, 201}},
        {1.5, 0.5, {10, 20, 0}, {10, 20, 0}},  // outside: unchanged
    };
    CorrectionGrid grid;
    grid.correction_mode = CorrectionMode::Colour;
    for (const int p : {1, 4}) {
        grid.channel_color_table[kRedChannel][p][10] = p == 4 ? 12 : 0;
        grid.channel_color_table[kGreenChannel][p][20] = p == 4 ? 40 : 0;
        grid.channel_color_table[kBlueChannel][p][0] = p == 4 ? 7 : 0;
    }
    grid.channel_color_table[kRedChannel][0][10] = 12;
    grid.channel_color_table[kGreenChannel][0][20] = 40;
    grid.channel_color_table[kBlueChannel][0][0] = 7;
    for (const auto& t : cases) {
        EXPECT_EQ(corrected(grid, t.x, t.y, t.in), t.out) << t.x << ", " << t.y;
    }
}

TEST(MapToBackground, BlendsTheAreaPointsAndScales) {
    CorrectionGrid grid;
    grid.area_x = {10, 50, 110, 12, 60, 100, 20, 40, 130};
    grid.area_y = {5, 9, 3, 40, 50, 45, 90, 95, 100};
    for (const double scale : {1.0, 0.5, 2.5}) {
        for (int p = 0; p < kGridPointCount; ++p) {
            const BackgroundPoint at = grid.map_to_background((p % 3) / 2.0, (p / 3) / 2.0, scale);
            EXPECT_DOUBLE_EQ(at.x, grid.area_x[p] * scale) << "point " << p;
            EXPECT_DOUBLE_EQ(at.y, grid.area_y[p] * scale) << "point " << p;
        }
    }
    const struct {
        double x, y, bx, by;
    } cases[] = {
        {0.25, 0.0, 30.0, 7.0},    // midpoint of points 0 and 1
        {1.0, 0.25, 105.0, 24.0},  // midpoint of points 2 and 5
        {0.25, 0.25, 33.0, 26.0},  // mean of points 0, 1, 3, 4
        {0.75, 0.75, 82.5, 72.5},  // mean of points 4, 5, 7, 8
        {0.5, 0.75, 50.0, 72.5},   // midpoint of points 4 and 7
    };
    for (const auto& t : cases) {
        const BackgroundPoint at = grid.map_to_background(t.x, t.y, 2.0);
        EXPECT_DOUBLE_EQ(at.x, 2.0 * t.bx) << t.x << ", " << t.y;
        EXPECT_DOUBLE_EQ(at.y, 2.0 * t.by) << t.x << ", " << t.y;
    }
    const BackgroundPoint outside = grid.map_to_background(kNaN, 1.5, 1.0);
    EXPECT_EQ(outside.x, 0.0);
    EXPECT_EQ(outside.y, 0.0);
}

}  // namespace
}  // namespace tintora
