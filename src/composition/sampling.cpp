#include "composition/sampling.hpp"

#include <cstdio>

#include "correction/curves.hpp"

namespace tintora {
namespace {

ColourReading read_window(const Frame& picture, int first_column, int y) {
    const std::uint8_t* p = picture.pixel(y, first_column);
    int sb = 0;
    int sg = 0;
    int sr = 0;
    for (int i = 0; i < 3; ++i, p += 3) {
        sb += p[0];
        sg += p[1];
        sr += p[2];
    }
    return {sr / 3, sg / 3, sb / 3, sample_intensity(sr + sg + sb)};
}

bool holds_window(const Frame& picture, int y) {
    return picture.width() >= 3 && y >= 0 && y < picture.height();
}

}  // namespace

std::optional<SampleReading> take_sample(const Frame& clean_background, const Frame& composed,
                                         const SampleGeometry& geometry, int x, int y) {
    if (!holds_window(clean_background, y) || !holds_window(composed, y) ||
        clean_background.width() != composed.width() || x < 0 || x >= composed.width() ||
        !(geometry.display_scale > 0.0)) {
        return std::nullopt;
    }
    SampleReading reading;
    const int bx = static_cast<int>(x / geometry.display_scale);
    const int by = static_cast<int>(y / geometry.display_scale);
    const int w = geometry.background_width;
    const int h = geometry.background_height;
    switch (geometry.rotation_index) {
        case 1:
            reading.shown_x = by;
            reading.shown_y = h - bx;
            break;
        case 2:
            reading.shown_x = w - bx;
            reading.shown_y = h - by;
            break;
        case 3:
            reading.shown_x = w - by;
            reading.shown_y = bx;
            break;
        default:
            reading.shown_x = bx;
            reading.shown_y = by;
            break;
    }
    // The window's middle pixel is x, moved in by one at either end.
    const int middle = x == 0 ? 1 : (x == composed.width() - 1 ? composed.width() - 2 : x);
    reading.background = read_window(clean_background, middle - 1, y);
    reading.video = read_window(composed, middle - 1, y);
    return reading;
}

std::string background_status_text(const SampleReading& reading) {
    char text[160];
    std::snprintf(text, sizeof text, "Background: X=%i Y=%i (r=%i, g=%i, b=%i)", reading.shown_x,
                  reading.shown_y, reading.background.r, reading.background.g,
                  reading.background.b);
    return text;
}

std::string video_status_text(const SampleReading& reading) {
    char text[96];
    std::snprintf(text, sizeof text, "Videoframe: (r=%i, g=%i, b=%i)", reading.video.r,
                  reading.video.g, reading.video.b);
    return text;
}

void store_sampled_pair(CorrectionGrid& grid, int video_intensity, int background_intensity) {
    if (video_intensity < 0 || video_intensity >= kIntensityCount) return;
    grid.control_values[grid.current_point()][video_intensity] = background_intensity;
    recalculate_color_tables(grid);
}

}  // namespace tintora
