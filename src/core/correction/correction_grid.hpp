#pragma once

#include <array>
#include <cstdint>

namespace tintora {

inline constexpr int kGridPointCount = 9;
inline constexpr int kIntensityCount = 256;
// A control value meaning "no pair at this intensity".
inline constexpr std::int32_t NO_PAIR = -1;

using ControlValues = std::array<std::int32_t, kIntensityCount>;
using ColorTable = std::array<std::uint8_t, kIntensityCount>;

// The intensity that every curve is indexed by: the integer mean of a pixel.
constexpr int pixel_intensity(int r, int g, int b) { return (r + g + b) / 3; }

// A position on the background, in background pixels times the display scale.
struct BackgroundPoint {
    double x = 0.0;
    double y = 0.0;
};

// The bilinear cell of the mesh that holds a relative frame position: the
// index of its top-left grid point and the weights toward its right and
// bottom corners (0..1).
struct GridCell {
    int top_left;
    double u;
    double w;
};

// Finds the cell of (x, y): the four quadrants are tried in the order upper
// left, upper right, lower left, lower right with inclusive bounds, so a
// position on a shared edge falls into the earlier one. False for positions
// outside the unit square and for NaN.
bool find_grid_cell(double x, double y, GridCell& cell);

// How a video frame is to be changed so it blends into the background: per
// grid point (index = row * 3 + column, row 0 at the top) where it lies on
// the background (the area point), the control pairs the user set and the
// intensity curve built from them, held as parallel arrays.
struct CorrectionGrid {
    CorrectionGrid();

    std::array<std::int32_t, kGridPointCount> area_x{};
    std::array<std::int32_t, kGridPointCount> area_y{};
    // Point-major blocks: entry v of point p is [p][v].
    std::array<ControlValues, kGridPointCount> control_values;
    std::array<ColorTable, kGridPointCount> color_table;
    // The point the user works on: sampling adds pairs to it, the palette
    // shows its curve, a left click moves its area point.
    std::int32_t cur_point = 0;

    // cur_point held to 0..8, for indexing: a bad value read from a file can
    // then never address outside the grid.
    int current_point() const {
        return cur_point < 0 ? 0 : (cur_point >= kGridPointCount ? kGridPointCount - 1 : cur_point);
    }

    // Every table back to the identity, entry v = v.
    void reset_color_tables();

    // Member by member: undo tells an edit from a click that changed nothing.
    friend bool operator==(const CorrectionGrid&, const CorrectionGrid&) = default;

    // Scales the pixel's three channels by one common gain so its intensity
    // moves to the target blended from the four surrounding points' tables.
    // x and y are the relative position in the frame (0..1); outside the unit
    // square the pixel is left as it is. The channel order does not matter.
    void correct_pixel(double x, double y, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) const;

    // The background position of a relative frame position, blended from
    // the four surrounding area points, times scale. Defined inside the unit
    // square only; outside it the result is (0, 0).
    BackgroundPoint map_to_background(double x, double y, double scale) const;
};

// The gain step of correct_pixel on one channel: c * k, clipped at 255,
// truncated toward zero.
inline std::uint8_t scale_channel(std::uint8_t c, double k) {
    double scaled = c * k;
    if (scaled > 255.0) scaled = 255.0;
    return static_cast<std::uint8_t>(scaled);
}

// The bilinear blend of four corner values (table entries or area
// coordinates), horizontal first, in double precision.
inline double blend_corners(double u, double w, double tl, double tr, double bl, double br) {
    const double top = tl + u * (tr - tl);
    const double bottom = bl + u * (br - bl);
    return top + w * (bottom - top);
}

}  // namespace tintora
