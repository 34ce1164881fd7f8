#pragma once

#include <cstdint>

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

}  // namespace tintora::test
