#include "core/composition/mesh_warp.hpp"

#include <algorithm>
#include <cmath>
#include <utility>

namespace tintora {
namespace {

BackgroundPoint mix(BackgroundPoint a, BackgroundPoint b, double share) {
    return {a.x + share * (b.x - a.x), a.y + share * (b.y - a.y)};
}

// The warp is smooth within each half of the frame but may bend at the
// middle line, so a cubic through four nodes takes them from one half.
struct CubicSpan {
    int first = 0;
    double weights[4] = {};
};

// Lagrange's weights of the four nodes around a position, on an axis of
// nodes k / (2 cells) with at least three cells to each half.
CubicSpan cubic_span(double position, int cells) {
    const double t = position * 2 * cells;
    const int half_start = position <= 0.5 ? 0 : cells;
    const int cell = std::clamp(static_cast<int>(std::floor(t)), half_start, half_start + cells - 1);
    CubicSpan span;
    span.first = std::clamp(cell - 1, half_start, half_start + cells - 3);
    const double x = t - span.first;
    span.weights[0] = -(x - 1) * (x - 2) * (x - 3) / 6;
    span.weights[1] = x * (x - 2) * (x - 3) / 2;
    span.weights[2] = -x * (x - 1) * (x - 3) / 2;
    span.weights[3] = x * (x - 1) * (x - 2) / 6;
    return span;
}

}  // namespace

WarpLattice::WarpLattice(int columns, int rows, std::vector<BackgroundPoint> nodes)
    : columns_(columns), rows_(rows), nodes_(std::move(nodes)) {
    low_ = high_ = nodes_.front();
    for (const BackgroundPoint& at : nodes_) {
        low_ = {std::min(low_.x, at.x), std::min(low_.y, at.y)};
        high_ = {std::max(high_.x, at.x), std::max(high_.y, at.y)};
    }
}

WarpLattice WarpLattice::evaluated(const MeshWarp& warp, int cells) {
    const int nodes = 2 * cells + 1;
    std::vector<BackgroundPoint> values;
    values.reserve(static_cast<std::size_t>(nodes) * static_cast<std::size_t>(nodes));
    for (int j = 0; j < nodes; ++j) {
        for (int i = 0; i < nodes; ++i) values.push_back(warp(i / (nodes - 1.0), j / (nodes - 1.0)));
    }
    return {nodes, nodes, std::move(values)};
}

WarpLattice WarpLattice::every_other() const {
    std::vector<BackgroundPoint> values;
    for (int j = 0; j < rows_; j += 2) {
        for (int i = 0; i < columns_; i += 2) values.push_back(node(i, j));
    }
    return {(columns_ + 1) / 2, (rows_ + 1) / 2, std::move(values)};
}

WarpLattice WarpLattice::refined(int across, int down) const {
    // This lattice's cells per half, along either axis.
    const int cells = (columns_ - 1) / 2;
    const int columns = 2 * across + 1;
    const int rows = 2 * down + 1;
    std::vector<CubicSpan> column_spans;
    for (int i = 0; i < columns; ++i) column_spans.push_back(cubic_span(i / (columns - 1.0), cells));
    std::vector<BackgroundPoint> values;
    values.reserve(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    for (int j = 0; j < rows; ++j) {
        const CubicSpan d = cubic_span(j / (rows - 1.0), cells);
        for (const CubicSpan& a : column_spans) {
            BackgroundPoint sum;
            for (int b = 0; b < 4; ++b) {
                for (int c = 0; c < 4; ++c) {
                    const double weight = d.weights[b] * a.weights[c];
                    const BackgroundPoint at = node(a.first + c, d.first + b);
                    sum.x += weight * at.x;
                    sum.y += weight * at.y;
                }
            }
            values.push_back(sum);
        }
    }
    return {columns, rows, std::move(values)};
}

std::shared_ptr<const WarpLattice> WarpLattice::make(
    const MeshWarpMaker& maker, const CorrectionGrid& grid, const WarpedBackground& background,
    const std::shared_ptr<const WarpLattice>& previous) {
    if (!maker || background.panorama.mesh_model == MeshModel::Bilinear) return nullptr;
    if (previous && previous->area_x_ == grid.area_x && previous->area_y_ == grid.area_y &&
        previous->background_ == background) {
        return previous;
    }
    const MeshWarp warp = maker(grid, background);
    if (!warp) return nullptr;
    // The warp is evaluated on a modest lattice only (each place costs a
    // trip round the sphere); cubics through its nodes fill in the finer
    // lattice a bilinear blend needs. Halving the cells divides a cubic's
    // error by about sixteen and a blend's by four: the evaluated lattice's
    // every other node, against the nodes between, tells whether the cubics
    // are close enough, and how many cells keep each axis's part of the
    // blend's error within half the tolerance (with some to spare, as the
    // bend varies).
    constexpr int kMostEvaluatedCells = 64;
    constexpr double kSpare = 1.25;
    int cells = 16;
    WarpLattice exact = evaluated(warp, cells);
    while (exact.finite() && cells < kMostEvaluatedCells &&
           exact.every_other().refined(cells, cells).farthest_from(exact) / 16 > kTolerance / 2) {
        cells *= 2;
        exact = evaluated(warp, cells);
    }
    if (!exact.finite()) return nullptr;
    const auto [across_error, down_error] = exact.every_other().errors_against(exact);
    const auto cells_for = [cells](double error) {
        const double needed = kSpare * (cells / 2) * std::sqrt(error / (kTolerance / 2));
        return static_cast<int>(
            std::clamp(std::ceil(needed), 1.0 * cells, 1.0 * kMostCellsPerHalf));
    };
    const int across = cells_for(across_error);
    const int down = cells_for(down_error);
    WarpLattice lattice =
        across == cells && down == cells ? std::move(exact) : exact.refined(across, down);
    lattice.area_x_ = grid.area_x;
    lattice.area_y_ = grid.area_y;
    lattice.background_ = background;
    return std::make_shared<const WarpLattice>(std::move(lattice));
}

bool WarpLattice::finite() const {
    return std::isfinite(low_.x) && std::isfinite(low_.y) && std::isfinite(high_.x) &&
           std::isfinite(high_.y);
}

double WarpLattice::farthest_from(const WarpLattice& other) const {
    double most = 0.0;
    for (std::size_t k = 0; k < nodes_.size(); ++k) {
        most = std::max({most, std::fabs(nodes_[k].x - other.nodes_[k].x),
                         std::fabs(nodes_[k].y - other.nodes_[k].y)});
    }
    return most;
}

std::pair<double, double> WarpLattice::errors_against(const WarpLattice& halved) const {
    // The halved lattice's nodes halfway along this one's rows, and halfway
    // down its columns.
    double across = 0.0;
    double down = 0.0;
    for (int j = 0; j < halved.rows_; ++j) {
        for (int i = 0; i < halved.columns_; ++i) {
            const bool on_row = j % 2 == 0;
            // This lattice's own nodes, and its cells' centres, tell nothing apart.
            if (on_row == (i % 2 == 0)) continue;
            const BackgroundPoint blend =
                at(i / (halved.columns_ - 1.0), j / (halved.rows_ - 1.0));
            const BackgroundPoint exact = halved.node(i, j);
            double& worst = on_row ? across : down;
            worst = std::max({worst, std::fabs(blend.x - exact.x), std::fabs(blend.y - exact.y)});
        }
    }
    return {across, down};
}

LatticeSpan WarpLattice::span(double position, int nodes) {
    // A position on a line of nodes belongs to the cell before it, as the
    // mesh's middle lines belong to the upper and left quadrants.
    const int cells = nodes - 1;
    const double t = position * cells;
    const int first = static_cast<int>(std::clamp(std::ceil(t) - 1.0, 0.0, cells - 1.0));
    return {first, t - first};
}

BackgroundPoint WarpLattice::at(double u, double v) const {
    const LatticeSpan a = across(u);
    const LatticeSpan d = down(v);
    const BackgroundPoint top = mix(node(a.first, d.first), node(a.first + 1, d.first), a.fraction);
    const BackgroundPoint bottom =
        mix(node(a.first, d.first + 1), node(a.first + 1, d.first + 1), a.fraction);
    return mix(top, bottom, d.fraction);
}

void WarpLattice::fill_band(int band, const std::vector<LatticeSpan>& columns,
                            BackgroundPoint shift, composition_detail::HalfMesh& mesh) const {
    mesh.resize(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const LatticeSpan a = columns[c];
        const BackgroundPoint top = mix(node(a.first, band), node(a.first + 1, band), a.fraction);
        const BackgroundPoint bottom =
            mix(node(a.first, band + 1), node(a.first + 1, band + 1), a.fraction);
        mesh.top_x[c] = top.x + shift.x;
        mesh.top_y[c] = top.y + shift.y;
        mesh.down_x[c] = bottom.x - top.x;
        mesh.down_y[c] = bottom.y - top.y;
    }
}

WarpRows::WarpRows(const WarpLattice& lattice, std::vector<LatticeSpan> columns,
                   BackgroundPoint shift)
    : lattice_(lattice), columns_(std::move(columns)), shift_(shift) {}

double WarpRows::select(double v) {
    const LatticeSpan span = lattice_.down(v);
    if (span.first != band_) {
        lattice_.fill_band(span.first, columns_, shift_, mesh_);
        band_ = span.first;
    }
    return span.fraction;
}

}  // namespace tintora
