#include "core/video/matching_frames.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace tintora {
namespace {

TEST(FramesOverRange, SpreadEvenlyWithBothEndsAndNoRepeats) {
    const struct {
        int start, stop, count;
        std::vector<int> frames;
    } cases[] = {
        {1, 100, 5, {1, 26, 51, 75, 100}},  // 24.75 apart, rounded
        {1, 100, 1, {50}},                  // one: the middle
        {10, 12, 5, {10, 11, 12}},          // fewer frames than asked
        {7, 7, 3, {7}},
        {1, 2, 2, {1, 2}},
        {5, 4, 3, {}},  // no range
        {1, 9, 0, {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(frames_over_range(c.start, c.stop, c.count), c.frames)
            << c.start << ".." << c.stop << " x" << c.count;
    }
}

}  // namespace
}  // namespace tintora
