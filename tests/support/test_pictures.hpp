#pragma once

#include <cstdint>
#include <random>

#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora::test {

// A frame of one colour.
Frame uniform_frame(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r);

// A frame whose every byte is drawn from the generator.
Frame random_frame(int width, int height, std::mt19937& random);

// A frame with pixel (r, c) = (B, G, R) = (c * 7 + r, r * 13 + c, (r + c) * 3), mod 256:
// every pixel tells where it came from.
Frame numbered_frame(int width, int height);

// A grid whose nine points have different random pairs and rebuilt tables.
CorrectionGrid random_grid(std::mt19937& random);
// The same in colour mode: every channel of every point its own random pairs.
CorrectionGrid random_colour_grid(std::mt19937& random);

// The plain per-pixel correction: correct_pixel at (x / (W - 1), y / (H - 1))
// for every pixel, the rule the fast whole-frame correction must match.
void correct_frame_reference(Frame& frame, const CorrectionGrid& grid);

}  // namespace tintora::test
