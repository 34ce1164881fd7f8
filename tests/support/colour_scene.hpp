#pragma once

#include <cstdint>
#include <vector>

#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora::test {

// A place seen twice: a background lit unevenly, brighter and warmer to the
// right, and a clip frame of the same place from another camera (another
// response curve and white balance, with noise), laid on the background's
// middle through a mesh whose area points say exactly where. Frame pixel
// (x, y) shows what the background pixel under it shows, so the background
// under the frame is what a perfect correction would give.
struct ColourScene {
    Frame background;
    Frame frame;
    CorrectionGrid grid;  // area points only: no pairs, brightness mode
};

// The frame is frame_width by frame_height; the background is about twice
// as large and holds the frame in 0.8 of its own pixels per frame pixel.
ColourScene make_colour_scene(int frame_width, int frame_height, std::uint32_t seed);

// The background pixel under each frame pixel, as the mesh places it.
Frame background_under_frame(const ColourScene& scene);

// Mean absolute difference per channel value between two frames of one size.
double mean_absolute_difference(const Frame& a, const Frame& b);

// A clip of a place with strong colours, seen as a phone sees it: golden
// grass and yellow-greens with fine texture, saturated red and blue
// patches and a bright sky whose clouds come near white. The background's
// camera has the place lit on its left and shaded on its right, warm to
// cool; the clip's camera another white balance, a cast of its own across
// its frame, a veil of haze, another gamma and noise. Its camera pans
// slowly away from where the mesh (placed on the first frame) says, and an
// object not in the background moves across it.
struct ColourClip {
    Frame background;
    std::vector<Frame> frames;
    CorrectionGrid grid;  // area points only: where the first frame lies
    // Per frame, how far its view lies from the mesh's place, in background
    // pixels.
    std::vector<BackgroundPoint> drift;
    // Per frame, the background pixel under each frame pixel where the
    // camera really looked: what a perfect correction gives.
    std::vector<Frame> under;
    // Per frame and pixel (row-major), 1 where it shows the static place,
    // 0 where the moving object covers it.
    std::vector<std::vector<std::uint8_t>> still;
};

struct ColourClipOptions {
    int width = 320;
    int height = 200;
    int frame_count = 5;
    // The last frame's pan from the first, in frame pixels; the frames
    // between lie evenly spread.
    double pan_x = 0.0;
    double pan_y = 0.0;
    bool moving_object = false;
    std::uint32_t seed = 1;
    // The clip's light drifting over its length, linearly from the first
    // frame to the last: its exposure from 1 - exposure_ramp to
    // 1 + exposure_ramp times the middle frame's, and its white balance
    // from red 1 + white_drift and blue 1 - white_drift times the middle
    // frame's to the reverse.
    double exposure_ramp = 0.0;
    double white_drift = 0.0;
};

ColourClip make_colour_clip(const ColourClipOptions& options);

// The one-frame scene as a clip that does not move.
ColourClip clip_of(const ColourScene& scene);

// How far a corrected clip's colours lie from the place's, as people see
// them (CIEDE2000), over the pixels that show the static place: the mean
// over all of them, and the mean of the worst and of the best frame.
struct ColourErrors {
    double mean = 0.0;
    double worst_frame = 0.0;
    double best_frame = 0.0;
};
ColourErrors colour_errors(const ColourClip& clip, const std::vector<Frame>& corrected);

// Mean CIEDE2000 of two frames of one size over the pixels whose mask entry
// (row-major) is not 0; an empty mask takes every pixel.
double mean_delta_e(const Frame& a, const Frame& b, const std::vector<std::uint8_t>& mask = {});

// Fine texture: the standard deviation of a channel (byte 0 blue, 1 green,
// 2 red) minus its 5 by 5 box mean, over the pixels whose whole box lies in
// the frame and shows the static place (mask as above).
double local_spread(const Frame& frame, int byte, const std::vector<std::uint8_t>& mask = {});

// The best one curve per channel for a whole frame, fitted on the answer
// itself: per channel and level the median of the place's values over the
// static pixels. All a global colour tool can reach.
Frame best_global_curves(const Frame& frame, const Frame& under,
                         const std::vector<std::uint8_t>& mask = {});

}  // namespace tintora::test
