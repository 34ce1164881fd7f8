#pragma once

#include <optional>

#include "core/correction/correction_grid.hpp"

namespace tintora {

// Geometry of the palette window's curve graph: a plot of video intensity
// (x, left to right) against target intensity (y, bottom to top), with six
// 25-pixel colour bars along its right edge.
class CurveGraphGeometry {
public:
    static constexpr int kBarWidth = 25;
    static constexpr int kBarCount = 6;

    CurveGraphGeometry(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    // A: the plot's width; the bars start at this column.
    int plot_width() const { return plot_width_; }
    // B: the plot's bottom row.
    int bottom() const { return height_ - 1; }
    // The column and row intensity v is drawn at (single-precision scales,
    // truncated toward zero). Values far outside 0..255, possible only from a
    // hand-edited project, are held to a range that stays a valid int.
    int x_of(int v) const { return static_cast<int>(static_cast<float>(held(v)) * sx_); }
    int y_of(int v) const {
        return static_cast<int>(static_cast<float>(bottom()) - static_cast<float>(held(v)) * sy_);
    }
    float sx() const { return sx_; }
    float sy() const { return sy_; }

private:
    static int held(int v) { return v < -65536 ? -65536 : (v > 65536 ? 65536 : v); }

    int width_;
    int height_;
    int plot_width_;
    float sx_;
    float sy_;
};

// A control pair (video intensity v, target t).
struct GraphPair {
    int v;
    int t;
};

// The pair under a mouse press at (x, y): v the nearest intensity under the
// pointer, t from the row (the top row gives 254). Nothing when the press
// lies over the colour bars or the graph has no room for a plot.
std::optional<GraphPair> pair_at_press(const CurveGraphGeometry& graph, int x, int y);

// How near a right press must come to a pair's dot to remove it, in pixels.
inline constexpr int kDotReach = 3;

// The intensity whose pair a right press at (x, y) removes, v being the
// intensity under the pointer (pair_at_press): v itself when it holds a pair;
// otherwise the pair whose dot's centre lies within kDotReach pixels of the
// press, the nearest (the lower intensity on a tie); v again when none does,
// which removes nothing.
int pair_to_remove(const CurveGraphGeometry& graph, const ControlValues& pairs, int x, int y,
                   int v);

// In colour mode each pair of colour bars stands for its channel: the
// channel (kRedChannel, kGreenChannel, kBlueChannel) of the bars under a
// press at x, or nothing off the bars.
std::optional<int> channel_at_press(const CurveGraphGeometry& graph, int x);

// Top-left corner of the 5 by 5 marker that shows the candidate pair
// (video intensity i, background intensity j) on a graph placed at
// (left, top) in its window.
struct MarkerPlace {
    int left;
    int top;
};
MarkerPlace candidate_marker_place(int left, int top, int graph_width, int graph_height, int i,
                                   int j);

}  // namespace tintora
