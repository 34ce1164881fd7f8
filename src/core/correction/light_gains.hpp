#pragma once

#include <array>
#include <cstdint>

#include "core/common/kernel_choice.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// The gains that bring one frame of a clip to the light of another (its
// exposure and white balance): one per channel, in frame byte order (blue,
// green, red). A channel value v becomes gained_level(v, rule) with the
// channel's rule, the one rule the gain pass and the folded tables share,
// so both give the same bytes.
struct LightGains {
    std::array<double, 3> bgr{1.0, 1.0, 1.0};

    bool operator==(const LightGains&) const = default;
    bool neutral() const;
};

// Gains are held to this range: a frame lit four times more or less than
// the reference is not a drift the tracking can follow.
inline constexpr double kLowestLightGain = 0.25;
inline constexpr double kHighestLightGain = 4.0;

// A gain as a whole-number step of 1 / 65536, held to the range above.
std::uint32_t gain_step(double gain);

// How one channel's levels are scaled. A gain below 1 would leave the top
// levels unused, and a channel clipped in a bright frame (its light unknown,
// only that it is at least white) would come out as a grey it never was:
// so above a knee the levels are stretched to reach white still, the
// stretch kHighlightStretch times the slope of the gain below it: steep
// enough to keep most levels exact, gentle enough to draw no contour. A
// gain of 1 or more is the plain product, clipped at 255.
inline constexpr double kHighlightStretch = 4.0;
struct GainRule {
    std::uint32_t step = 65536;  // below and at the knee: v * step / 65536
    int knee = 255;
    int knee_level = 255;           // what the knee becomes
    std::uint32_t stretch = 65536;  // above it: knee_level + (v - knee) * stretch / 65536
};
GainRule gain_rule(double gain);

// Level v under the rule, rounded to the nearest whole level, at most 255.
inline std::uint8_t gained_level(int v, const GainRule& rule) {
    const auto u = static_cast<std::uint32_t>(v);
    const std::uint32_t scaled =
        v <= rule.knee
            ? (u * rule.step + 32768u) >> 16
            : static_cast<std::uint32_t>(rule.knee_level) +
                  (((u - static_cast<std::uint32_t>(rule.knee)) * rule.stretch + 32768u) >> 16);
    return static_cast<std::uint8_t>(scaled > 255u ? 255u : scaled);
}

// Every pixel's channels by the gains (the kernel chosen for
// KernelOperation::TrackingGains), or with the kernel of a named set.
void apply_light_gains(Frame& frame, const LightGains& gains);
void apply_light_gains(Frame& frame, const LightGains& gains, VectorIsa isa);

// The grid whose correction of a frame equals the grid's correction of the
// frame after the gains. The colour mode corrects each channel through its
// own tables, so the gains fold into them exactly; the brightness mode
// corrects the intensity of the three channels together, so it keeps its
// tables and the gains must go over the pixels first (see
// correct_frame_under_light).
CorrectionGrid grid_under_light(const CorrectionGrid& grid, const LightGains& gains);

// Readies a frame for correction under the light: returns the grid to
// correct it with, and in brightness mode brings its pixels to the light
// first. For whoever corrects only part of a frame (the composition draws
// the rows it shows): the same bytes as correct_frame_under_light.
CorrectionGrid bring_to_light(Frame& frame, const CorrectionGrid& grid, const LightGains& gains);

// Corrects the frame as if its pixels had first been brought to the
// reference light: the colour mode by folded tables (no cost per pixel),
// the brightness mode by a gain pass and then the grid.
void correct_frame_under_light(Frame& frame, const CorrectionGrid& grid, const LightGains& gains);

}  // namespace tintora
