#include "core/correction/curve_graph.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "core/correction/correction_grid.hpp"

namespace tintora {
namespace {

// Graphs whose single-precision scales are exact, so every column and row
// can be worked out by hand: 660 by 510 has plot width 510 and sx = sy = 2;
// 405 by 255 has plot width 255 and sx = sy = 1.
TEST(CurveGraphGeometry, ColumnsAndRowsOfIntensities) {
    const CurveGraphGeometry designed(706, 441);
    EXPECT_EQ(designed.plot_width(), 556);
    EXPECT_EQ(designed.bottom(), 440);

    const struct {
        int width, height, v, x, y;
    } cases[] = {
        {660, 510, 0, 0, 509},    {660, 510, 1, 2, 507}, {660, 510, 100, 200, 309},
        {660, 510, 255, 510, -1}, {405, 255, 0, 0, 254}, {405, 255, 37, 37, 217},
        {405, 255, 255, 255, -1},
    };
    for (const auto& c : cases) {
        const CurveGraphGeometry graph(c.width, c.height);
        EXPECT_EQ(graph.x_of(c.v), c.x) << c.width << "x" << c.height << " v " << c.v;
        EXPECT_EQ(graph.y_of(c.v), c.y) << c.width << "x" << c.height << " v " << c.v;
    }
}

TEST(CurveGraphPress, PairUnderThePress) {
    const struct {
        int width, height, x, y;
        bool pair;
        int v, t;
    } cases[] = {
        {706, 441, 0, 440, true, 0, 0},  // bottom-left corner of the plot
        {706, 441, 0, 0, true, 0, 254},  // the top row gives 254, not 255
        {706, 441, 0, 1, true, 0, 254},
        {706, 441, 0, 2, true, 0, 253},
        {706, 441, 0, 439, true, 0, 0},
        {706, 441, 278, 220, true, 128, 127},  // 127.5 rounds up; q = 127
        {706, 441, 555, 0, true, 255, 254},
        {706, 441, 557, 100, true, 255, 197},  // still nearest to 255
        {706, 441, 558, 100, false, 0, 0},     // v = 256: over the colour bars
        {706, 441, 700, 100, false, 0, 0},
        {706, 441, -5, 100, false, 0, 0},
        {706, 441, 10, -1, false, 0, 0},
        {405, 255, 10, 0, true, 10, 254},
        {405, 255, 200, 100, true, 200, 154},
        {405, 255, 254, 254, true, 254, 0},
        {405, 255, 0, 253, true, 0, 1},  // q = 64515 div 254 = 253
        {150, 441, 0, 0, false, 0, 0},   // no room for a plot
        {100, 441, 0, 0, false, 0, 0},
        {706, 1, 0, 0, false, 0, 0},
    };
    for (const auto& c : cases) {
        const std::optional<GraphPair> pair =
            pair_at_press(CurveGraphGeometry(c.width, c.height), c.x, c.y);
        ASSERT_EQ(pair.has_value(), c.pair)
            << c.width << "x" << c.height << " at " << c.x << "," << c.y;
        if (!pair) continue;
        EXPECT_EQ(pair->v, c.v) << c.width << "x" << c.height << " at " << c.x << "," << c.y;
        EXPECT_EQ(pair->t, c.t) << c.width << "x" << c.height << " at " << c.x << "," << c.y;
    }
}

TEST(CurveGraphPress, ChannelOfTheBarsUnderThePress) {
    const CurveGraphGeometry graph(706, 441);  // the bars from column 556
    const struct {
        int x;
        std::optional<int> channel;
    } cases[] = {{555, std::nullopt},  {556, kRedChannel},  {605, kRedChannel},
                 {606, kGreenChannel}, {656, kBlueChannel}, {705, kBlueChannel},
                 {706, std::nullopt},  {-3, std::nullopt}};
    for (const auto& c : cases) EXPECT_EQ(channel_at_press(graph, c.x), c.channel) << c.x;
}

TEST(CurveGraphMarker, PlaceOfTheCandidatePair) {
    const struct {
        int left, top, width, height, i, j;
        int marker_left, marker_top;
    } cases[] = {
        {135, 8, 706, 441, 0, 0, 133, 447},     {135, 8, 706, 441, 255, 255, 689, 6},
        {135, 8, 706, 441, 1, 254, 135, 7},      // 556 div 255 = 2; 8 + 1.73 - 2
        {135, 8, 706, 441, 120, 135, 394, 213},  // 66720 div 255 = 261; 8 + 207.53 - 2
        {0, 0, 406, 100, 0, 254, -2, -1},        // 0.39 - 2 truncates toward zero
        {0, 0, 660, 510, 128, 51, 254, 406},
    };
    for (const auto& c : cases) {
        const MarkerPlace place =
            candidate_marker_place(c.left, c.top, c.width, c.height, c.i, c.j);
        EXPECT_EQ(place.left, c.marker_left) << c.i << "," << c.j;
        EXPECT_EQ(place.top, c.marker_top) << c.i << "," << c.j;
    }
}

// A press at the centre of the candidate marker stores (within a step) the
// pair the marker shows: the two mappings agree on both axes.
TEST(CurveGraphMarker, PressAtTheMarkerCentreGivesItsPair) {
    for (const auto& size : {std::pair{706, 441}, std::pair{500, 300}, std::pair{1200, 900}}) {
        const CurveGraphGeometry graph(size.first, size.second);
        for (int i = 0; i < 256; ++i) {
            for (int j = 0; j < 256; ++j) {
                const MarkerPlace place =
                    candidate_marker_place(0, 0, size.first, size.second, i, j);
                const int y = std::min(place.top + 2, size.second - 1);
                const std::optional<GraphPair> pair = pair_at_press(graph, place.left + 2, y);
                ASSERT_TRUE(pair.has_value()) << i << "," << j;
                ASSERT_LE(std::abs(pair->v - i), 1) << size.first << " " << i << "," << j;
                ASSERT_LE(std::abs(pair->t - j), 1) << size.second << " " << i << "," << j;
            }
        }
    }
}

}  // namespace
}  // namespace tintora
