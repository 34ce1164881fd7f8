#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/correction/frame.hpp"
#include "core/viewer/mesh_map.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora {

// The widest region a hotspot frame may span, in degrees: a flat frame
// stretches its edges without bound as it nears 180.
inline constexpr double kWidestHotspot = 150;
// The widest hotspot video, in pixels: what browsers decode everywhere.
inline constexpr int kWidestHotspotVideo = 4096;
// Pixels added beyond the mesh on every side, so that resampling near its
// outline still finds neighbours.
inline constexpr int kHotspotMargin = 2;

// krpano's numbers for a distorted hotspot of that frame.
struct KrpanoPlacement {
    double ath = 0;     // the centre's yaw
    double atv = 0;     // minus its pitch: krpano counts down
    double width = 0;   // 1000 tan(alpha)
    double height = 0;  // 1000 tan(beta)
};

// The flat frame a panorama viewer shows the clip in: centred on the mesh's
// centre, on the plane tangent to the sphere there, reaching just past the
// mesh's outline. Frame pixel (i, j) of width by height looks along
// c + X r + Y u with X = (2 (i + 0.5) / width - 1) tan_alpha and
// Y = (1 - 2 (j + 0.5) / height) tan_beta.
struct HotspotFrame {
    TangentPlane plane;
    Angles centre;
    double tan_alpha = 0;
    double tan_beta = 0;
    int width = 0;
    int height = 0;
    std::array<Angles, 4> corners{};  // top-left, top-right, bottom-right, bottom-left
    KrpanoPlacement krpano;

    double horizontal_fov() const;  // degrees, 2 alpha
    double vertical_fov() const;    // degrees, 2 beta
    PlanePoint plane_point(double i, double j) const;
};

enum class HotspotProblem { None, TooWide, Folded, TooSmall };

struct HotspotPlacement {
    HotspotProblem problem = HotspotProblem::None;
    HotspotFrame frame;  // with HotspotProblem::None
};

// The frame for a clip whose output frames are `clip` in size, laid by the
// map: the largest |X| and |Y| over the mesh's whole outline (its edges
// bulge past the nine points) plus the margin; as many pixels per degree at
// the centre as the clip has there, at most kWidestHotspotVideo across, an
// even width and height in the ratio of the frame's arcs across its top and
// down its left side.
HotspotPlacement place_hotspot(const MeshMap& map, FrameSize clip);

// The panorama alone as the frame sees it: each pixel the panorama read
// bilinearly (fractions in 256ths) between its pixel centres where the
// pixel's direction meets it, wrapping across the seam of a whole turn;
// black where the panorama does not reach.
Frame panorama_in_frame(const HotspotFrame& frame, const Frame& panorama,
                        const PanoramaGeometry& geometry);

namespace hotspot_detail {

struct ClipLattice;

// The clip's taps along a row of one lattice cell, where its places are a
// straight line: pixel k of the cell reads the clip at x + k dx, y + k dy,
// in 65536ths of a clip pixel.
struct TapLine {
    std::int32_t x = 0, y = 0;
    std::int32_t dx = 0, dy = 0;
};

// A growing array whose new elements are left for their writer to set.
template <class T>
class PlanArray {
public:
    void reserve(std::size_t count) {
        if (count > capacity_) grow_to(count);
    }
    // `count` more elements at the end, unset: the first of them.
    T* extend(std::size_t count) {
        if (size_ + count > capacity_) grow_to(std::max(size_ + count, 2 * capacity_));
        T* first = data_.get() + size_;
        size_ += count;
        return first;
    }
    const T* data() const { return data_.get(); }
    std::size_t size() const { return size_; }

private:
    void grow_to(std::size_t capacity) {
        std::unique_ptr<T[]> grown = std::make_unique_for_overwrite<T[]>(capacity);
        if (size_ > 0) std::copy(data_.get(), data_.get() + size_, grown.get());
        data_ = std::move(grown);
        capacity_ = capacity;
    }

    std::unique_ptr<T[]> data_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace hotspot_detail

// The per-pixel plan of the baked frames, worked out once per clip and
// mesh: where each frame pixel reads the clip (bilinearly) and how much of
// it shows over the panorama's own pixel there. Across a band of
// `edge_blend` clip pixels inside the mesh's outline the clip fades into
// the panorama (0: a hard edge). Each frame is then a gather and a blend.
class HotspotBake {
public:
    HotspotBake(const HotspotFrame& frame, const MeshMap& map, FrameSize clip,
                const Frame& panorama, const PanoramaGeometry& geometry, int edge_blend);
    // The same with the panorama alone already made (panorama_in_frame).
    HotspotBake(const HotspotFrame& frame, const MeshMap& map, FrameSize clip, Frame background,
                int edge_blend);

    const HotspotFrame& frame() const { return frame_; }
    // The panorama alone, as the frame sees it (panorama_in_frame).
    const Frame& background() const { return background_; }
    // The clip's place that frame pixel (i, j) shows, as the plan has it
    // before its rounding to 256ths (beyond 0..1 where it lies outside the
    // clip), nothing where the map finds none.
    std::optional<FramePoint> place(int i, int j) const;

    // The baked frame of one corrected output frame of the clip's size (of
    // another size: the panorama alone).
    void bake(const Frame& clip, Frame& out) const;

    // The memory the lookup holds, the panorama alone not counted.
    std::size_t lookup_bytes() const;

private:
    // What a stretch of a row shows: the panorama alone, the clip alone, or
    // the clip blended over the panorama; Line: the clip alone, its taps
    // worked out per frame from one TapLine per lattice cell (most of the
    // frame: the lookup stays small and quick to make).
    enum class RunKind : std::uint8_t { Panorama, Clip, Blend, Line };
    struct Run {
        std::int32_t first = 0;  // the run's first pixel in its row
        std::int32_t length = 0;
        RunKind kind = RunKind::Panorama;
        // Its first entry in the taps (Clip, Blend) or in lines_ (Line).
        std::uint32_t taps = 0;
        std::uint32_t weights = 0;  // its first entry in weights_ (Blend)
    };

    void plan_rows(int edge_blend);

    HotspotFrame frame_;
    FrameSize clip_;
    Frame background_;
    // The clip's places at a lattice of frame pixels, by each quadrant's
    // rule; pixels in between are interpolated.
    std::shared_ptr<const hotspot_detail::ClipLattice> lattice_;
    // Each row's runs, left to right: runs_[row_runs_[j] .. row_runs_[j + 1]).
    std::vector<Run> runs_;
    std::vector<std::uint32_t> row_runs_;
    // For each pixel of the Clip and Blend runs, in order: the clip's
    // top-left tap and its fractions to the right and down in 256ths; for
    // each pixel of the Blend runs the clip's weight in 256ths less one.
    hotspot_detail::PlanArray<std::uint16_t> tap_x_;
    hotspot_detail::PlanArray<std::uint16_t> tap_y_;
    hotspot_detail::PlanArray<std::uint8_t> fraction_x_;
    hotspot_detail::PlanArray<std::uint8_t> fraction_y_;
    hotspot_detail::PlanArray<std::uint8_t> weights_;
    // The Line runs' lines: one per lattice cell of `line_step_` pixels, the
    // first at the run's first pixel.
    hotspot_detail::PlanArray<hotspot_detail::TapLine> lines_;
    int line_step_ = 1;
};

// The plain arithmetic of one baked channel: the bilinear sample of the
// four taps (a, b above; c, d below) at fractions fx, fy in 256ths,
// rounded, blended over the panorama's value with the clip's weight in
// 256ths, rounded.
inline std::uint8_t baked_channel(int panorama, int a, int b, int c, int d, int fx, int fy,
                                  int weight) {
    const int sample = (a * (256 - fx) * (256 - fy) + b * fx * (256 - fy) + c * (256 - fx) * fy +
                        d * fx * fy + 32768) >>
                       16;
    return static_cast<std::uint8_t>((panorama * (256 - weight) + sample * weight + 128) >> 8);
}

}  // namespace tintora
