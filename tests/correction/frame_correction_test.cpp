#include "correction/frame_correction.hpp"

#include <gtest/gtest.h>

#include <random>

#include "correction/curves.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

// The fast whole-frame correction must give the bytes of the plain
// per-pixel loop, for every size that has its own edge: no position (1 wide
// or high), the centre column and row exactly at 0.5 (odd sizes) or not
// (even sizes), chunk boundaries (wider than 512) and vector tails.
TEST(CorrectFrame, MatchesThePixelByPixelLoopByteForByte) {
    const struct {
        int width;
        int height;
    } sizes[] = {{1, 1},  {1, 7},   {7, 1},  {2, 2},    {3, 3},  {5, 4},
                 {9, 9},  {17, 3},  {31, 5}, {64, 2},   {513, 3}, {1027, 5},
                 {640, 9}, {1, 300}, {300, 1}};
    std::mt19937 random(20261207);
    for (const VectorIsa isa : supported_vector_isas()) {
        for (const auto& size : sizes) {
            for (int round = 0; round < 3; ++round) {
                const CorrectionGrid grid = test::random_grid(random);
                Frame fast = test::random_frame(size.width, size.height, random);
                Frame plain = fast;
                correct_frame(fast, grid, isa);
                test::correct_frame_reference(plain, grid);
                ASSERT_EQ(fast, plain) << vector_isa_name(isa) << " " << size.width << "x"
                                       << size.height << " round " << round;
            }
        }
    }
}

TEST(CorrectFrame, IdentityTablesKeepEveryPixelOfPositiveIntensity) {
    std::mt19937 random(7);
    Frame frame = test::random_frame(33, 17, random);
    // Intensity 0 pixels become black whatever the tables; lift them first.
    for (int r = 0; r < frame.height(); ++r) frame.pixel(r, 0)[0] = 200;
    Frame original = frame;
    for (int r = 0; r < frame.height(); ++r) {
        for (int c = 0; c < frame.width(); ++c) {
            const std::uint8_t* p = frame.pixel(r, c);
            if (p[0] + p[1] + p[2] < 3) original.pixel(r, c)[0] = original.pixel(r, c)[1] =
                original.pixel(r, c)[2] = 0;
        }
    }
    correct_frame(frame, CorrectionGrid{});
    EXPECT_EQ(frame, original);
}

}  // namespace
}  // namespace tintora
