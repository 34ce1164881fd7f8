#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/correction/frame.hpp"
#include "core/correction/light_gains.hpp"

namespace tintora {

// Following the light: a clip whose exposure or white balance drifts (a
// phone's automatic exposure, a cloud) is brought, frame by frame, to the
// light of one reference frame by a gain per channel, so that one set of
// curves fits all of its frames.

// How a frame is lit against the clip's anchor (the first frame measured):
// per channel, in frame byte order, the natural log of the factor by which
// its static pixels are brighter. Frames that could not be measured (too
// much of them moving, clipped or dark) are not `measured`.
struct FrameLight {
    std::array<double, 3> log_bgr{0.0, 0.0, 0.0};
    bool measured = false;

    bool operator==(const FrameLight&) const = default;
};

// Pixels of the anchor within this many levels of black or white (or near a
// clipped one), or on a strong edge, tell nothing of the light: the level
// of a clipped pixel is not its light, and an edge pairs with something
// else when the camera moves by a pixel.
inline constexpr int kLightDarkBelow = 12;
inline constexpr int kLightBrightFrom = 245;
inline constexpr int kLightEdgeLimit = 48;
// A frame whose static pixels are fewer than this share of those the
// anchor offers, or fewer than kMinLightPixels, is not measured.
inline constexpr double kMinStaticShare = 0.2;
inline constexpr int kMinLightPixels = 32;

// Measures frames of one size against the first one given. A frame's light
// is the robust mean, per channel, of the log ratio of its pixels to the
// anchor's at the same place: the median first, then the mean of the
// pixels whose three channels all lie near it, which leaves out what moves
// (it changes a pixel's colour, not only its light) and keeps the precision
// of a mean over the static rest.
class LightMeter {
public:
    FrameLight measure(const Frame& frame);
    bool anchored() const { return !anchor_.empty(); }

private:
    Frame anchor_;
    std::vector<std::uint8_t> anchor_usable_;  // per pixel, row-major
    std::int64_t anchor_usable_count_ = 0;
};

// Frames at most this far apart (in frames) are blended by the smoothing
// (a Gaussian of this spread over the clip, after a median of five frames
// that drops single-frame slips); a real change of exposure takes longer.
inline constexpr double kLightSmoothing = 1.5;

// The lights of consecutive frames smoothed over time so that nothing
// flickers: frames not measured take the line between their measured
// neighbours (the nearest one's at the ends; the anchor's when none was),
// then the median and the Gaussian, the ends mirrored through their value
// so that a steady ramp stays straight up to them. Every light is measured.
std::vector<FrameLight> smooth_lights(const std::vector<FrameLight>& raw);

// The gains that bring a frame lit as `frame` to the light of `reference`.
LightGains gains_between(const FrameLight& frame, const FrameLight& reference);

}  // namespace tintora
