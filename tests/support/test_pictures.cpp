#include "support/test_pictures.hpp"

#include "core/correction/curves.hpp"

namespace tintora::test {

Frame uniform_frame(int width, int height, std::uint8_t b, std::uint8_t g, std::uint8_t r) {
    Frame frame(width, height);
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            std::uint8_t* p = frame.pixel(y, x);
            p[0] = b;
            p[1] = g;
            p[2] = r;
        }
    }
    return frame;
}

Frame random_frame(int width, int height, std::mt19937& random) {
    Frame frame(width, height);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int r = 0; r < frame.height(); ++r) {
        std::uint8_t* p = frame.row(r);
        for (int i = 0; i < 3 * frame.width(); ++i) p[i] = static_cast<std::uint8_t>(byte(random));
    }
    return frame;
}

Frame numbered_frame(int width, int height) {
    Frame frame(width, height);
    for (int r = 0; r < frame.height(); ++r) {
        for (int c = 0; c < frame.width(); ++c) {
            std::uint8_t* p = frame.pixel(r, c);
            p[0] = static_cast<std::uint8_t>(c * 7 + r);
            p[1] = static_cast<std::uint8_t>(r * 13 + c);
            p[2] = static_cast<std::uint8_t>((r + c) * 3);
        }
    }
    return frame;
}

CorrectionGrid random_grid(std::mt19937& random) {
    CorrectionGrid grid;
    std::uniform_int_distribution<int> intensity(0, 255);
    std::uniform_int_distribution<int> pair_count(1, 6);
    for (int p = 0; p < kGridPointCount; ++p) {
        for (int n = pair_count(random); n > 0; --n) {
            grid.control_values[p][intensity(random)] = intensity(random);
        }
    }
    recalculate_color_tables(grid);
    return grid;
}

CorrectionGrid random_colour_grid(std::mt19937& random) {
    CorrectionGrid grid;
    grid.correction_mode = CorrectionMode::Colour;
    for (auto& channel : grid.channel_control_values) channel = random_grid(random).control_values;
    recalculate_color_tables(grid);
    return grid;
}

void correct_frame_reference(Frame& frame, const CorrectionGrid& grid) {
    const double last_column = frame.width() - 1.0;
    const double last_row = frame.height() - 1.0;
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            std::uint8_t* p = frame.pixel(y, x);
            grid.correct_pixel(x / last_column, y / last_row, p[2], p[1], p[0]);
        }
    }
}

}  // namespace tintora::test
