#include "core/correction/curve_graph.hpp"

#include <cstdint>

namespace tintora {

CurveGraphGeometry::CurveGraphGeometry(int width, int height)
    : width_(width),
      height_(height),
      plot_width_(width - kBarCount * kBarWidth),
      sx_(static_cast<float>(plot_width_) / 255.0f),
      sy_(static_cast<float>(height) / 255.0f) {}

std::optional<GraphPair> pair_at_press(const CurveGraphGeometry& graph, int x, int y) {
    if (graph.plot_width() <= 0 || graph.height() < 2) return std::nullopt;
    const int v = static_cast<int>(x * 255.0 / graph.plot_width() + 0.5);
    const int q = (y * 255) / (graph.height() - 1);
    const int t = static_cast<int>(255.0 - (q + 0.5));
    // Over the colour bars v passes 255: not a place on the curve.
    if (x < 0 || v > 255 || y < 0 || t < 0 || t > 255) return std::nullopt;
    return GraphPair{v, t};
}

int pair_to_remove(const CurveGraphGeometry& graph, const ControlValues& pairs, int x, int y,
                   int v) {
    if (v >= 0 && v < kIntensityCount && pairs[v] != NO_PAIR) return v;
    int nearest = v;
    std::int64_t nearest_distance = std::int64_t{kDotReach} * kDotReach + 1;
    for (int u = 0; u < kIntensityCount; ++u) {
        if (pairs[u] == NO_PAIR) continue;
        const std::int64_t dx = std::int64_t{x} - graph.x_of(u);
        const std::int64_t dy = std::int64_t{y} - graph.y_of(pairs[u]);
        const std::int64_t distance = dx * dx + dy * dy;
        if (distance < nearest_distance) {
            nearest = u;
            nearest_distance = distance;
        }
    }
    return nearest;
}

std::optional<int> channel_at_press(const CurveGraphGeometry& graph, int x) {
    const int into = x - graph.plot_width();
    constexpr int kPairWidth = 2 * CurveGraphGeometry::kBarWidth;
    if (graph.plot_width() <= 0 || into < 0 || into >= 3 * kPairWidth) return std::nullopt;
    return into / kPairWidth;
}

MarkerPlace candidate_marker_place(int left, int top, int graph_width, int graph_height, int i,
                                   int j) {
    const int plot_width =
        graph_width - CurveGraphGeometry::kBarCount * CurveGraphGeometry::kBarWidth;
    return {left + (plot_width * i) / 255 - 2,
            static_cast<int>(top + (1.0 - j / 255.0) * graph_height - 2)};
}

}  // namespace tintora
