#include "support/colour_scene.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

namespace tintora::test {
namespace {

// Reflectance of the place at background pixel (x, y), channel c (0 red,
// 1 green, 2 blue): soft waves with a colour of their own per channel, and
// on every other tile of a checkerboard a flat patch with sharp edges.
double reflectance(int x, int y, int c) {
    const double wave = 0.45 + 0.22 * std::sin(x / (19.0 + 4 * c)) * std::sin(y / (15.0 + 3 * c)) +
                        0.12 * std::sin((x + 2 * y) / (37.0 - 5 * c));
    const int tile_x = x / 53;
    const int tile_y = y / 41;
    if ((tile_x + tile_y) % 2 == 0 && (tile_x * 7 + tile_y * 3) % 5 < 2) {
        return 0.15 + 0.7 * ((tile_x * 37 + tile_y * 11 + c * 29) % 97) / 97.0;
    }
    return std::clamp(wave, 0.05, 0.95);
}

std::uint8_t to_byte(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

ColourScene make_colour_scene(int frame_width, int frame_height, std::uint32_t seed) {
    ColourScene scene;
    // The frame covers 0.8 of its size on the background, from (left, top).
    const int covered_width = (frame_width * 4 / 5) / 2 * 2;
    const int covered_height = (frame_height * 4 / 5) / 2 * 2;
    const int background_width = 2 * frame_width;
    const int background_height = 2 * frame_height;
    const int left = (background_width - covered_width) / 2;
    const int top = (background_height - covered_height) / 2;
    for (int p = 0; p < kGridPointCount; ++p) {
        scene.grid.area_x[p] = left + covered_width / 2 * (p % 3);
        scene.grid.area_y[p] = top + covered_height / 2 * (p / 3);
    }

    // The background's camera: a gamma of 2.2, under light that grows from
    // 0.35 to 1.15 left to right and turns from cool to warm.
    scene.background = Frame(background_width, background_height);
    for (int y = 0; y < background_height; ++y) {
        for (int x = 0; x < background_width; ++x) {
            const double across = static_cast<double>(x) / background_width;
            const double light = 0.35 + 0.8 * across;
            const double tint[3] = {0.7 + 0.6 * across, 1.0, 1.3 - 0.6 * across};
            std::uint8_t* pixel = scene.background.pixel(y, x);
            for (int c = 0; c < 3; ++c) {
                const double exposure = reflectance(x, y, c) * light * tint[c];
                pixel[2 - c] = to_byte(255.0 * std::pow(exposure, 1 / 2.2));
            }
        }
    }

    // The clip's camera: evenly and more dimly lit, bluer, a gamma of 1.7
    // and noise of two levels.
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    const double balance[3] = {0.85, 1.0, 1.25};
    scene.frame = Frame(frame_width, frame_height);
    for (int y = 0; y < frame_height; ++y) {
        for (int x = 0; x < frame_width; ++x) {
            // The place the mesh puts the pixel on, as the correction sees it.
            const BackgroundPoint at = scene.grid.map_to_background(x / (frame_width - 1.0),
                                                                    y / (frame_height - 1.0), 1.0);
            std::uint8_t* pixel = scene.frame.pixel(y, x);
            for (int c = 0; c < 3; ++c) {
                const double exposure =
                    std::min(reflectance(static_cast<int>(at.x), static_cast<int>(at.y), c) * 0.7 *
                                 balance[c],
                             1.0);
                pixel[2 - c] = to_byte(255.0 * std::pow(exposure, 1 / 1.7) + noise(random));
            }
        }
    }
    return scene;
}

Frame background_under_frame(const ColourScene& scene) {
    const Frame& frame = scene.frame;
    Frame under(frame.width(), frame.height());
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const BackgroundPoint at = scene.grid.map_to_background(
                x / (frame.width() - 1.0), y / (frame.height() - 1.0), 1.0);
            const std::uint8_t* from =
                scene.background.pixel(static_cast<int>(at.y), static_cast<int>(at.x));
            std::copy(from, from + 3, under.pixel(y, x));
        }
    }
    return under;
}

double mean_absolute_difference(const Frame& a, const Frame& b) {
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        for (int i = 0; i < 3 * a.width(); ++i) sum += std::abs(a.row(y)[i] - b.row(y)[i]);
    }
    return sum / (3.0 * a.width() * a.height());
}

}  // namespace tintora::test
