#include "core/composition/light_tracking.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace tintora {
namespace {

// A smooth, mid-grey scene with gentle colour and noise.
Frame scene(int width, int height) {
    Frame frame(width, height);
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0.0, 1.5);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = frame.pixel(y, x);
            const double base = 70.0 + 60.0 * x / width + 30.0 * std::sin(y * 0.2);
            for (int c = 0; c < 3; ++c) {
                pixel[c] = static_cast<std::uint8_t>(
                    std::clamp(base * (0.8 + 0.15 * c) + noise(random), 0.0, 255.0));
            }
        }
    }
    return frame;
}

// The scene in another light, with a box of another colour over a quarter of it.
Frame relit(const Frame& frame, const std::array<double, 3>& gains, int box_left) {
    Frame lit = frame;
    for (int y = 0; y < lit.height(); ++y) {
        for (int x = 0; x < lit.width(); ++x) {
            std::uint8_t* pixel = lit.pixel(y, x);
            const bool boxed =
                x >= box_left && x < box_left + lit.width() / 2 && y < lit.height() / 2;
            for (int c = 0; c < 3; ++c) {
                const double value = boxed ? 40.0 + 70.0 * c : pixel[c] * gains[c];
                pixel[c] = static_cast<std::uint8_t>(std::clamp(std::round(value), 0.0, 255.0));
            }
        }
    }
    return lit;
}

TEST(LightMeter, FindsEachChannelsGainPastWhatMoves) {
    const Frame anchor = scene(60, 40);
    LightMeter meter;
    EXPECT_TRUE(meter.measure(anchor).measured);
    const std::array<double, 3> gains{1.15, 0.93, 1.04};
    for (const int box_left : {0, 20, 30}) {
        const FrameLight light = meter.measure(relit(anchor, gains, box_left));
        ASSERT_TRUE(light.measured);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(light.log_bgr[c], std::log(gains[c]), 0.01) << c;
    }
    EXPECT_FALSE(meter.measure(scene(30, 20)).measured);  // another size
}

std::vector<FrameLight> lights_of(const std::vector<double>& values, int unmeasured = -1) {
    std::vector<FrameLight> lights;
    for (std::size_t i = 0; i < values.size(); ++i) {
        lights.push_back({{values[i], values[i], values[i]}, static_cast<int>(i) != unmeasured});
    }
    return lights;
}

TEST(SmoothLights, KeepRampsStraightAndDropSlipsAndGaps) {
    struct Case {
        const char* name;
        std::vector<FrameLight> raw;
        std::vector<double> expected;
        double tolerance;
    };
    std::vector<double> ramp;
    for (int i = 0; i < 12; ++i) ramp.push_back(0.02 * i);
    std::vector<double> slipped = ramp;
    slipped[6] += 0.3;  // one frame measured wrong
    std::vector<double> gap = ramp;
    gap[4] = 5.0;  // not measured: its value is not looked at
    const Case cases[] = {
        {"a ramp stays a ramp to its ends", lights_of(ramp), ramp, 1e-9},
        {"a single slip is dropped", lights_of(slipped), ramp, 0.015},
        {"a frame not measured takes its neighbours' line", lights_of(gap, 4), ramp, 1e-9},
        {"one frame", lights_of({0.1}), {0.1}, 1e-12},
        {"none", {}, {}, 0.0},
    };
    for (const Case& c : cases) {
        const std::vector<FrameLight> smooth = smooth_lights(c.raw);
        ASSERT_EQ(smooth.size(), c.expected.size()) << c.name;
        for (std::size_t i = 0; i < smooth.size(); ++i) {
            EXPECT_TRUE(smooth[i].measured) << c.name;
            EXPECT_NEAR(smooth[i].log_bgr[1], c.expected[i], c.tolerance)
                << c.name << " frame " << i;
        }
    }
}

}  // namespace
}  // namespace tintora
