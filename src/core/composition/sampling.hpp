#pragma once

#include <optional>
#include <string>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// The intensity of a three-pixel sample from the total of its nine channel
// values: the total times the double nearest 1/9, truncated, which is
// (sum - 1) div 9 for a positive sum. Pure white reads 254.
constexpr int sample_intensity(int sum) { return sum <= 0 ? 0 : (sum - 1) / 9; }

// Channel averages over the sample window: each channel's sum div 3.
struct ColourReading {
    int r = 0;
    int g = 0;
    int b = 0;
    int intensity = 0;  // sample_intensity of the nine values
};

// What the pointer reads at one place of the composed picture.
struct SampleReading {
    int shown_x = 0;  // background position with the rotation undone
    int shown_y = 0;
    ColourReading background;  // from the clean background
    ColourReading video;       // from the composed picture, as the status bar shows it
    // The pair's video side: the same pixels with the frame drawn before
    // correction, since the curves map uncorrected values (elsewhere the
    // picture's own pixels, as `video`).
    ColourReading frame;
};

// Where the sample is taken and how the background position is shown.
struct SampleGeometry {
    int rotation_index = 0;
    double display_scale = 1.0;
    int background_width = 0;  // as loaded, before rotation
    int background_height = 0;
};

// Pictures a sample is read from: a region of the clean background and the
// same region of the composed picture, at `origin` in a picture
// picture_width wide (the region may be the whole picture).
struct SampledRegion {
    const Frame& clean;
    const Frame& composed;
    RegionOrigin origin;
    int picture_width = 0;
    // The same region with the frame uncorrected; none: `frame` reads `composed`.
    const Frame* uncorrected = nullptr;
};

// Reads the three horizontally adjacent pixels around (x, y) (moved inside
// the row at either end) from both pictures. Nothing outside the pictures, on
// a picture less than three pixels wide, or where the region lacks a pixel.
std::optional<SampleReading> take_sample(const SampledRegion& region,
                                         const SampleGeometry& geometry, int x, int y);
// The same on two whole pictures.
std::optional<SampleReading> take_sample(const Frame& clean_background, const Frame& composed,
                                         const SampleGeometry& geometry, int x, int y);

// What the pointer reads at (x, y) of the composition's picture: from the
// part the window shows when it holds the sample, else from the few pixels
// rendered for it.
std::optional<SampleReading> sample_composition(const Composition& composition, int x, int y);

// The status bar texts, the same in both interface languages.
std::string background_status_text(const SampleReading& reading);
std::string video_status_text(const SampleReading& reading);

// Right click: the last reading becomes a control pair of cur_point (video
// intensity -> background intensity) and every color table is rebuilt.
void store_sampled_pair(CorrectionGrid& grid, int video_intensity, int background_intensity);
// The same by the grid's mode, from the uncorrected frame's reading: in
// brightness mode the intensities, in colour mode one pair per channel
// (the frame's channel average -> the background's).
void store_sampled_pair(CorrectionGrid& grid, const SampleReading& reading);

}  // namespace tintora
