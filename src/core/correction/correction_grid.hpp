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

// How a frame is corrected: Brightness scales a pixel's three channels by
// one gain toward a target intensity (the default, and what a project
// without a mode gets); Colour maps each channel through its own curve, so
// a colour cast can be corrected.
enum class CorrectionMode { Brightness, Colour };

// The colour mode's channels, in the order the palette and the project
// file name them. Frames store their bytes as B, G, R.
inline constexpr int kChannelCount = 3;
inline constexpr int kRedChannel = 0;
inline constexpr int kGreenChannel = 1;
inline constexpr int kBlueChannel = 2;

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

    CorrectionMode correction_mode = CorrectionMode::Brightness;
    // The colour mode's curves: per channel (red, green, blue) and point its
    // own pairs and table, kept whichever mode is chosen.
    std::array<std::array<ControlValues, kGridPointCount>, kChannelCount> channel_control_values;
    std::array<std::array<ColorTable, kGridPointCount>, kChannelCount> channel_color_table;

    // A copy holds the whole state, mode and every curve included, so a
    // snapshot compares equal exactly when nothing changed: undo tells an
    // edit from a click that changed nothing.
    bool operator==(const CorrectionGrid&) const = default;

    // cur_point held to 0..8, for indexing: a bad value read from a file can
    // then never address outside the grid.
    int current_point() const {
        return cur_point < 0 ? 0 : (cur_point >= kGridPointCount ? kGridPointCount - 1 : cur_point);
    }

    // Every table back to the identity, entry v = v.
    void reset_color_tables();

    // Corrects one pixel by the grid's mode. Brightness: scales the pixel's
    // three channels by one common gain so its intensity moves to the target
    // blended from the four surrounding points' tables; the channel order
    // does not matter. Colour: correct_pixel_colour. x and y are the
    // relative position in the frame (0..1); outside the unit square the
    // pixel is left as it is.
    void correct_pixel(double x, double y, std::uint8_t& r, std::uint8_t& g, std::uint8_t& b) const;
    // The colour mode's rule: each channel becomes the blend, as in the
    // brightness mode, of the four surrounding points' tables of that
    // channel at the channel's own value, truncated (blend_channel).
    void correct_pixel_colour(double x, double y, std::uint8_t& r, std::uint8_t& g,
                              std::uint8_t& b) const;

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

// The colour mode's rounding, the one place it is written: a channel is the
// bilinear blend of its four corner table entries, truncated toward zero.
// A blend of bytes lies within 0..255; the clip only guards the cast.
inline std::uint8_t blend_channel(double u, double w, int tl, int tr, int bl, int br) {
    double blended = blend_corners(u, w, tl, tr, bl, br);
    if (blended > 255.0) blended = 255.0;
    return static_cast<std::uint8_t>(blended);
}

// Whether two grids correct every pixel alike: the same mode and the same
// tables of that mode (area points and pairs aside).
bool same_correction(const CorrectionGrid& a, const CorrectionGrid& b);

}  // namespace tintora
