#include "core/correction/frame_correction.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>

#include "core/correction/curves.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

// Grids that drive the kernels down their different roads: distinct random
// curves (mostly the single-precision road), one curve shared by all points
// (whole-number targets: the exact double road), the identity (its own
// shortcut), and curves equal on one row of points only.
CorrectionGrid shared_curve_grid(std::mt19937& random) {
    CorrectionGrid grid = test::random_grid(random);
    set_pairs_for_all(grid);
    return grid;
}

CorrectionGrid half_shared_grid(std::mt19937& random) {
    CorrectionGrid grid = test::random_grid(random);
    for (int p = 3; p < 6; ++p) grid.control_values[p] = grid.control_values[0];
    recalculate_color_tables(grid);
    return grid;
}

// Grey pixels (c = I) make the scaled channel equal the target itself, the
// case where whole numbers are most common. Every fifth pixel of the other
// rows is so dark that its intensity is 0 though a channel is not: gain 0
// must turn it black, which random bytes would almost never test.
Frame greyish_frame(int width, int height, std::mt19937& random) {
    Frame frame = test::random_frame(width, height, random);
    for (int r = 0; r < height; ++r) {
        for (int c = r % 2 == 0 ? 0 : 2; c < width; c += r % 2 == 0 ? 1 : 5) {
            std::uint8_t* p = frame.pixel(r, c);
            if (r % 2 == 0) {
                p[1] = p[2] = p[0];
            } else {
                p[0] = static_cast<std::uint8_t>(random() % 3);
                p[1] = static_cast<std::uint8_t>(p[0] == 2 ? 0 : 1);
                p[2] = 0;
            }
        }
    }
    return frame;
}

// The fast whole-frame correction must give the bytes of the plain
// per-pixel loop, on every instruction set this processor has and for every
// size with its own edge: no position (1 wide or high), the centre column
// and row exactly at 0.5 (odd sizes) or not (even sizes), chunk boundaries
// (wider than 256 or 512) and vector tails.
TEST(CorrectFrame, MatchesThePixelByPixelLoopByteForByte) {
    const struct {
        int width;
        int height;
    } sizes[] = {{1, 1},  {1, 7},  {7, 1},   {2, 2},   {3, 3},    {5, 4},   {9, 9},   {17, 3},
                 {31, 5}, {64, 2}, {257, 3}, {513, 3}, {1027, 5}, {640, 9}, {1, 300}, {300, 1}};
    const std::function<CorrectionGrid(std::mt19937&)> grids[] = {
        test::random_grid, shared_curve_grid, half_shared_grid,
        [](std::mt19937&) { return CorrectionGrid{}; }};
    std::mt19937 random(20261207);
    for (const VectorIsa isa : supported_vector_isas()) {
        for (const auto& size : sizes) {
            for (std::size_t kind = 0; kind < std::size(grids); ++kind) {
                const CorrectionGrid grid = grids[kind](random);
                Frame fast = greyish_frame(size.width, size.height, random);
                Frame plain = fast;
                correct_frame(fast, grid, isa);
                test::correct_frame_reference(plain, grid);
                ASSERT_EQ(fast, plain) << vector_isa_name(isa) << " " << size.width << "x"
                                       << size.height << " grid kind " << kind;
            }
        }
    }
}

// The single-precision road is taken only where it cannot differ from the
// double result; many grids and pixels put that margin to the test, on
// every kernel, as each computes its single-precision gain its own way.
TEST(CorrectFrame, MatchesThePixelByPixelLoopOnManyGrids) {
    std::mt19937 random(4242);
    for (int round = 0; round < 24; ++round) {
        const CorrectionGrid grid =
            round % 3 == 0 ? half_shared_grid(random) : test::random_grid(random);
        const Frame original = greyish_frame(997, 41, random);
        Frame plain = original;
        test::correct_frame_reference(plain, grid);
        for (const VectorIsa isa : supported_vector_isas()) {
            Frame fast = original;
            correct_frame(fast, grid, isa);
            ASSERT_EQ(fast, plain) << vector_isa_name(isa) << " round " << round;
        }
    }
}

// Correcting some rows gives those rows exactly as the whole frame's
// correction does and leaves the others alone, on every kernel.
TEST(CorrectFrame, ChosenRowsAreThoseOfTheWholeFrameAndNoOthersChange) {
    std::mt19937 random(777);
    for (const VectorIsa isa : supported_vector_isas()) {
        // Brightness curves, identity tables, and colour curves.
        for (const int kind : {0, 1, 2}) {
            const CorrectionGrid grid = kind == 0   ? test::random_grid(random)
                                        : kind == 1 ? CorrectionGrid{}
                                                    : test::random_colour_grid(random);
            const Frame original = greyish_frame(301, 23, random);
            Frame whole = original;
            correct_frame(whole, grid, isa);
            std::vector<std::uint8_t> rows(23);
            for (std::uint8_t& wanted : rows) wanted = random() % 2;
            Frame some = original;
            correct_frame_rows(some, grid, rows, isa);
            for (int y = 0; y < 23; ++y) {
                const Frame& expected = rows[static_cast<std::size_t>(y)] ? whole : original;
                ASSERT_TRUE(std::equal(some.row(y), some.row(y) + 3 * 301, expected.row(y)))
                    << vector_isa_name(isa) << " grid kind " << kind << " row " << y;
            }
        }
    }
}

// Colour grids down the colour kernels' roads: distinct random channel
// curves (the single-precision road), one curve per channel shared by all
// points (every blend a whole number: the flat entries), curves shared
// along the middle row of points only (whole numbers on some rows), and one
// channel left at the identity.
CorrectionGrid shared_colour_grid(std::mt19937& random) {
    CorrectionGrid grid = test::random_colour_grid(random);
    set_pairs_for_all(grid);
    return grid;
}

CorrectionGrid half_shared_colour_grid(std::mt19937& random) {
    CorrectionGrid grid = test::random_colour_grid(random);
    for (auto& channel : grid.channel_control_values) {
        for (int p = 3; p < 6; ++p) channel[p] = channel[3];
    }
    grid.channel_control_values[kGreenChannel] = CorrectionGrid{}.channel_control_values[0];
    recalculate_color_tables(grid);
    return grid;
}

// The colour mode's kernels against correct_pixel_colour, the plain double
// blend, on every instruction set and every size with its own edge.
TEST(CorrectFrame, ColourModeMatchesThePixelByPixelLoopByteForByte) {
    const struct {
        int width;
        int height;
    } sizes[] = {{1, 5},  {2, 2},   {3, 3},   {9, 9},    {17, 3},  {31, 5},
                 {64, 2}, {257, 3}, {513, 3}, {1027, 5}, {997, 41}};
    const std::function<CorrectionGrid(std::mt19937&)> grids[] = {
        test::random_colour_grid, shared_colour_grid, half_shared_colour_grid, [](std::mt19937&) {
            CorrectionGrid grid;
            grid.correction_mode = CorrectionMode::Colour;
            return grid;
        }};
    std::mt19937 random(16);
    for (const auto& size : sizes) {
        for (std::size_t kind = 0; kind < std::size(grids); ++kind) {
            const CorrectionGrid grid = grids[kind](random);
            const Frame original = greyish_frame(size.width, size.height, random);
            Frame plain = original;
            test::correct_frame_reference(plain, grid);
            for (const VectorIsa isa : supported_vector_isas()) {
                Frame fast = original;
                correct_frame(fast, grid, isa);
                ASSERT_EQ(fast, plain) << vector_isa_name(isa) << " " << size.width << "x"
                                       << size.height << " grid kind " << kind;
            }
        }
    }
}

TEST(CorrectFrame, IdentityTablesChangeOnlyPixelsOfIntensityZero) {
    Frame frame(4, 2);
    const std::uint8_t pixels[8][3] = {{0, 0, 0}, {1, 1, 0},    {2, 0, 0},       {1, 1, 1},
                                       {0, 0, 3}, {9, 200, 31}, {255, 255, 255}, {0, 1, 0}};
    for (int i = 0; i < 8; ++i) std::copy(pixels[i], pixels[i] + 3, frame.pixel(i / 4, i % 4));
    correct_frame(frame, CorrectionGrid{});
    for (int i = 0; i < 8; ++i) {
        const int sum = pixels[i][0] + pixels[i][1] + pixels[i][2];
        for (int c = 0; c < 3; ++c) {
            EXPECT_EQ(frame.pixel(i / 4, i % 4)[c], sum <= 2 ? 0 : pixels[i][c]) << "pixel " << i;
        }
    }
}

}  // namespace
}  // namespace tintora
