#include "core/correction/light_gains.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "core/correction/curves.hpp"
#include "core/correction/frame_correction.hpp"

namespace tintora {
namespace {

Frame noisy_frame(int width, int height, std::uint32_t seed) {
    Frame frame(width, height);
    std::mt19937 random(seed);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = frame.row(y);
        for (int i = 0; i < 3 * width; ++i) row[i] = static_cast<std::uint8_t>(random() & 0xFF);
    }
    return frame;
}

// The rule by the plain formula: the product below the knee, a straight
// stretch from there to white above it.
int expected_level(int v, double gain) {
    const double g = gain_step(gain) / 65536.0;
    if (g >= 1.0) return std::min(static_cast<int>(std::floor(v * g + 0.5)), 255);
    const int knee =
        static_cast<int>(std::floor(255.0 * (kHighlightStretch - 1.0) / (kHighlightStretch - g)));
    if (v <= knee) return static_cast<int>(std::floor(v * g + 0.5));
    const double knee_level = std::floor(knee * g + 0.5);
    return static_cast<int>(std::min(
        std::round(knee_level + (v - knee) * (255.0 - knee_level) / (255.0 - knee)), 255.0));
}

TEST(LightGains, EveryKernelGivesTheRuleByteForByte) {
    const LightGains gains_list[] = {
        {{1.0, 1.0, 1.0}}, {{1.19, 0.83, 1.0}}, {{0.5, 2.5, 0.97}}, {{0.1, 9.0, 1.0001}}};
    for (const LightGains& gains : gains_list) {
        for (int c = 0; c < 3; ++c) {
            const GainRule rule = gain_rule(gains.bgr[c]);
            for (int v = 0; v < 256; ++v) {
                // Within a level of the plain formula (its rounding of the stretch
                // differs), white staying white, never going down.
                EXPECT_NEAR(gained_level(v, rule), expected_level(v, gains.bgr[c]), 1)
                    << "gain " << gains.bgr[c] << " level " << v;
                if (v > 0) {
                    EXPECT_GE(gained_level(v, rule), gained_level(v - 1, rule));
                }
            }
            EXPECT_EQ(gained_level(255, rule), 255);
        }
        // Widths whose rows end inside a block of the vector loop.
        for (const int width : {1, 16, 37, 333}) {
            const Frame original = noisy_frame(width, 3, 7);
            Frame expected = original;
            for (int y = 0; y < expected.height(); ++y) {
                std::uint8_t* row = expected.row(y);
                for (int i = 0; i < 3 * width; ++i) {
                    row[i] = gained_level(row[i], gain_rule(gains.bgr[i % 3]));
                }
            }
            for (const VectorIsa isa : supported_vector_isas()) {
                Frame frame = original;
                apply_light_gains(frame, gains, isa);
                EXPECT_EQ(frame, expected) << vector_isa_name(isa) << " width " << width;
            }
        }
    }
}

CorrectionGrid bent_grid(CorrectionMode mode) {
    CorrectionGrid grid;
    grid.correction_mode = mode;
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.control_values[p][100] = 80 + 5 * p;
        for (int c = 0; c < kChannelCount; ++c)
            grid.channel_control_values[c][p][120] = 90 + 9 * c + p;
    }
    recalculate_color_tables(grid);
    return grid;
}

TEST(LightGains, CorrectingUnderTheLightIsTheGainPassThenTheGrid) {
    const LightGains gains{{1.12, 0.91, 0.78}};
    const Frame original = noisy_frame(57, 31, 3);
    for (const CorrectionMode mode : {CorrectionMode::Brightness, CorrectionMode::Colour}) {
        const CorrectionGrid grid = bent_grid(mode);
        Frame expected = original;
        apply_light_gains(expected, gains);
        correct_frame(expected, grid);
        Frame corrected = original;
        correct_frame_under_light(corrected, grid, gains);
        EXPECT_EQ(corrected, expected)
            << (mode == CorrectionMode::Colour ? "colour" : "brightness");
    }
}

}  // namespace
}  // namespace tintora
