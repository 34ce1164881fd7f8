#include "core/correction/correction_grid.hpp"

namespace tintora {

bool find_grid_cell(double x, double y, GridCell& cell) {
    const bool left = 0.0 <= x && x <= 0.5;
    const bool right = 0.5 <= x && x <= 1.0;
    const bool upper = 0.0 <= y && y <= 0.5;
    const bool lower = 0.5 <= y && y <= 1.0;
    double lx = 0.0;
    double ly = 0.0;
    if (left && upper) {
        cell.top_left = 0;
        lx = x;
        ly = y;
    } else if (right && upper) {
        cell.top_left = 1;
        lx = x - 0.5;
        ly = y;
    } else if (left && lower) {
        cell.top_left = 3;
        lx = x;
        ly = y - 0.5;
    } else if (right && lower) {
        cell.top_left = 4;
        lx = x - 0.5;
        ly = y - 0.5;
    } else {
        return false;
    }
    cell.u = 2.0 * lx;
    cell.w = 2.0 * ly;
    return true;
}

CorrectionGrid::CorrectionGrid() {
    for (ControlValues& values : control_values) values.fill(NO_PAIR);
    for (auto& channel : channel_control_values) {
        for (ControlValues& values : channel) values.fill(NO_PAIR);
    }
    reset_color_tables();
}

void CorrectionGrid::reset_color_tables() {
    const auto reset = [](ColorTable& table) {
        for (int v = 0; v < kIntensityCount; ++v) table[v] = static_cast<std::uint8_t>(v);
    };
    for (ColorTable& table : color_table) reset(table);
    for (auto& channel : channel_color_table) {
        for (ColorTable& table : channel) reset(table);
    }
}

void CorrectionGrid::correct_pixel(double x, double y, std::uint8_t& r, std::uint8_t& g,
                                   std::uint8_t& b) const {
    if (correction_mode == CorrectionMode::Colour) {
        correct_pixel_colour(x, y, r, g, b);
        return;
    }
    GridCell cell;
    if (!find_grid_cell(x, y, cell)) return;
    const int intensity = pixel_intensity(r, g, b);
    const int e = cell.top_left;
    const double target =
        blend_corners(cell.u, cell.w, color_table[e][intensity], color_table[e + 1][intensity],
                      color_table[e + 3][intensity], color_table[e + 4][intensity]);
    const double gain = intensity > 0 ? target / intensity : 0.0;
    r = scale_channel(r, gain);
    g = scale_channel(g, gain);
    b = scale_channel(b, gain);
}

void CorrectionGrid::correct_pixel_colour(double x, double y, std::uint8_t& r, std::uint8_t& g,
                                          std::uint8_t& b) const {
    GridCell cell;
    if (!find_grid_cell(x, y, cell)) return;
    const int e = cell.top_left;
    const auto blend = [&](int channel, std::uint8_t& value) {
        const auto& tables = channel_color_table[static_cast<std::size_t>(channel)];
        value = blend_channel(cell.u, cell.w, tables[e][value], tables[e + 1][value],
                              tables[e + 3][value], tables[e + 4][value]);
    };
    blend(kRedChannel, r);
    blend(kGreenChannel, g);
    blend(kBlueChannel, b);
}

bool same_correction(const CorrectionGrid& a, const CorrectionGrid& b) {
    if (a.correction_mode != b.correction_mode) return false;
    return a.correction_mode == CorrectionMode::Colour
               ? a.channel_color_table == b.channel_color_table
               : a.color_table == b.color_table;
}

BackgroundPoint CorrectionGrid::map_to_background(double x, double y, double scale) const {
    GridCell cell;
    if (!find_grid_cell(x, y, cell)) return {};
    const int e = cell.top_left;
    const double bx =
        blend_corners(cell.u, cell.w, area_x[e], area_x[e + 1], area_x[e + 3], area_x[e + 4]);
    const double by =
        blend_corners(cell.u, cell.w, area_y[e], area_y[e + 1], area_y[e + 3], area_y[e + 4]);
    return {bx * scale, by * scale};
}

}  // namespace tintora
