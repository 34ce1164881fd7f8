#pragma once

#include <array>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "core/composition/overlay_landing.hpp"
#include "core/composition/panorama_choices.hpp"
#include "core/correction/correction_grid.hpp"

namespace tintora {

// Where a model of the mesh other than the bilinear one lays frame position
// (u, v) (0..1 across and down, as the grid counts them) on the background
// as shown (turned), pixel (x, y) covering [x, x + 1) by [y, y + 1): the
// counterpart of the bilinear rule's grid.map_to_background(u, v, 1), and
// truncated alike to the pixel the position lands on (an area point's
// pixel at the grid's points).
using MeshWarp = std::function<BackgroundPoint(double u, double v)>;

// The background a warp is made for: its size as loaded, the quarter turns
// it is shown at, and what the project says of it as a panorama (the mesh's
// model among that).
struct WarpedBackground {
    int width = 0;
    int height = 0;
    int rotation_index = 0;
    PanoramaChoices panorama;

    bool operator==(const WarpedBackground&) const = default;
};

// Makes the warp of a grid's mesh on a background by the background's
// model; an empty warp where the bilinear rule stands (that model, or a
// mesh the model cannot place). The panorama's geometry lives in a layer
// above the composition, so whoever builds a composition, or asks for a
// match, hands it a maker from there.
using MeshWarpMaker =
    std::function<MeshWarp(const CorrectionGrid& grid, const WarpedBackground& background)>;

// A place along one axis of a lattice: the node before it and the share of
// the way to the next.
struct LatticeSpan {
    int first = 0;
    double fraction = 0.0;
};

// A warp on a lattice of frame positions, fine enough that blending its
// nodes bilinearly stays within about kTolerance background pixels of the
// warp: what the drawing and the pairing place each sample by, as the warp
// itself is far too slow for that. The mesh's middle lines are lines of
// nodes: the warp may bend there.
class WarpLattice {
public:
    static constexpr double kTolerance = 0.04;
    // Cells along either axis of a half of the frame, at most.
    static constexpr int kMostCellsPerHalf = 128;

    // The lattice of the grid's warp; nothing for the bilinear model, without
    // a maker, when it makes no warp or the warp leaves the finite numbers.
    // `previous` is handed back when it was made for the same area points
    // and background.
    static std::shared_ptr<const WarpLattice> make(
        const MeshWarpMaker& maker, const CorrectionGrid& grid,
        const WarpedBackground& background,
        const std::shared_ptr<const WarpLattice>& previous = nullptr);

    LatticeSpan across(double u) const { return span(u, columns_); }
    LatticeSpan down(double v) const { return span(v, rows_); }
    // The blend of the nodes around a frame position.
    BackgroundPoint at(double u, double v) const;
    // The box of the nodes, which holds every blend of them.
    BackgroundPoint low() const { return low_; }
    BackgroundPoint high() const { return high_; }

    // The band of cells below node row `band` as a HalfMesh holds a half of
    // the bilinear mesh: per column (given by its span across) its place on
    // the band's top row, moved by `shift`, and the way down to its bottom row.
    void fill_band(int band, const std::vector<LatticeSpan>& columns, BackgroundPoint shift,
                   composition_detail::HalfMesh& mesh) const;

private:
    // Nodes at i / (columns - 1) across and j / (rows - 1) down, row-major.
    WarpLattice(int columns, int rows, std::vector<BackgroundPoint> nodes);
    // The warp at 2 cells + 1 nodes along either axis.
    static WarpLattice evaluated(const MeshWarp& warp, int cells);
    // Every other node of this one's along either axis.
    WarpLattice every_other() const;
    // The lattice of `across` and `down` cells per half through cubics of
    // this one's nodes, which has at least three cells per half.
    WarpLattice refined(int across, int down) const;
    static LatticeSpan span(double position, int nodes);
    BackgroundPoint node(int i, int j) const {
        return nodes_[static_cast<std::size_t>(j) * static_cast<std::size_t>(columns_) +
                      static_cast<std::size_t>(i)];
    }
    bool finite() const;
    // How far, at worst, the nodes of the lattice with twice the cells lie
    // from this one's blend there: halfway along its rows, and down its columns.
    std::pair<double, double> errors_against(const WarpLattice& halved) const;
    // How far apart the nodes of two lattices of one size lie, at worst.
    double farthest_from(const WarpLattice& other) const;

    int columns_ = 0;
    int rows_ = 0;
    std::vector<BackgroundPoint> nodes_;  // row-major
    BackgroundPoint low_;
    BackgroundPoint high_;
    // What it was made for.
    std::array<int, kGridPointCount> area_x_{};
    std::array<int, kGridPointCount> area_y_{};
    WarpedBackground background_;
};

// The rows of a frame's samples through a lattice, one band of it at a
// time, for the per-row landing kernels: the band a row lies in and the
// row's weight toward the band's bottom row.
class WarpRows {
public:
    WarpRows(const WarpLattice& lattice, std::vector<LatticeSpan> columns,
             BackgroundPoint shift = {});

    // Readies the band that row position v lies in; returns v's weight in it.
    double select(double v);
    const composition_detail::HalfMesh& mesh() const { return mesh_; }

private:
    const WarpLattice& lattice_;
    std::vector<LatticeSpan> columns_;
    BackgroundPoint shift_;
    int band_ = -1;
    composition_detail::HalfMesh mesh_;
};

}  // namespace tintora
