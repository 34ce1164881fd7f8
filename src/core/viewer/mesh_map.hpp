#pragma once

#include <array>
#include <optional>
#include <string_view>

#include "core/common/result.hpp"
#include "core/composition/panorama_choices.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora {

// A place on the plane tangent to the sphere at a centre direction c, in
// units of the distance to the sphere's centre: direction c + x r + y u.
struct PlanePoint {
    double x = 0;
    double y = 0;
};

// The tangent plane at a centre direction: r = (cos h, 0, -sin h) to the
// right, u = (-sin p sin h, cos p, -sin p cos h) up, for the centre's yaw h
// and pitch p.
struct TangentPlane {
    Vec3 centre{0, 0, 1};
    Vec3 right{1, 0, 0};
    Vec3 up{0, 1, 0};

    static TangentPlane at(Vec3 centre);
    // Where a direction meets the plane; nothing for one that does not lie
    // in front of it (90 degrees or more from the centre).
    std::optional<PlanePoint> project(Vec3 direction) const;
    Vec3 direction(PlanePoint point) const;
};

// A position in the clip's output frame: 0..1 across and down, the first
// and last pixels' centres at 0 and 1, as the mesh places them.
struct FramePoint {
    double u = 0;
    double v = 0;
};

// The mesh's quadrant a frame position lies in (0..3: upper left, upper
// right, lower left, lower right; the middle lines go to the earlier one,
// the outer ones reach on beyond the frame), and whether it lies in a given
// one (within `slack`).
int quadrant_of(FramePoint at);
bool in_quadrant(FramePoint at, int quadrant, double slack = 0);

// The mesh's map from the output frame to the tangent plane at the mesh's
// centre (the mean of its nine points' directions), by either model.
class MeshMap {
public:
    // The grid's area points lie on the background as the main window shows
    // it (turned by rotation_index); the geometry is that of the picture as
    // loaded. Nothing when a point lies 90 degrees or more from the centre.
    static std::optional<MeshMap> make(const CorrectionGrid& grid,
                                       const PanoramaGeometry& geometry, int rotation_index,
                                       MeshModel model);

    MeshModel model() const { return model_; }
    const TangentPlane& plane() const { return plane_; }
    // The area point of grid point p on the plane.
    PlanePoint point(int p) const { return points_[static_cast<std::size_t>(p)]; }

    // Where a frame position lies on the plane. Positions outside 0..1 go on
    // as the outer quadrants' rules extend; nothing where the bilinear
    // model's place leaves the half of the sphere in front of the plane.
    std::optional<PlanePoint> plane_at(FramePoint at) const;
    // The same by one quadrant's rule (0..3: upper left, upper right, lower
    // left, lower right) wherever the position lies: the map is smooth
    // within a quadrant and bends where quadrants meet.
    std::optional<PlanePoint> plane_at(FramePoint at, int quadrant) const;
    // The frame position whose plane point is `target`, found from `guess`
    // (Newton's method on the map, or on one quadrant's rule); nothing when
    // it does not converge. The answer is taken after a step of less than
    // `last_step` (what is left is about its square): a guess that close
    // takes one step.
    static constexpr double kFinestStep = 1e-9;
    std::optional<FramePoint> frame_at(PlanePoint target, FramePoint guess) const;
    std::optional<FramePoint> frame_at(PlanePoint target, FramePoint guess, int quadrant,
                                       double last_step = kFinestStep) const;
    // A starting place for frame_at anywhere on the plane.
    FramePoint rough_frame_at(PlanePoint target) const;

    // Whether the map turns over somewhere inside the frame (a quadrant
    // folded onto another): its inverse is then not one place.
    bool folded() const;

private:
    // A place on the plane and the map's partial derivatives there.
    struct PlaneSlopes {
        PlanePoint at;
        double x_u = 0, x_v = 0, y_u = 0, y_v = 0;
    };

    std::optional<PlanePoint> bilinear_plane_at(FramePoint at, int quadrant) const;
    PlanePoint perspective_plane_at(FramePoint at, int quadrant) const;
    std::optional<PlaneSlopes> bilinear_slopes_at(FramePoint at, int quadrant) const;
    PlaneSlopes perspective_slopes_at(FramePoint at, int quadrant) const;
    // Newton's method by one quadrant's rule, or (kAnyQuadrant) by the rule
    // of the quadrant each step stands in.
    static constexpr int kAnyQuadrant = -1;
    std::optional<FramePoint> solve(PlanePoint target, FramePoint guess, int quadrant,
                                    double last_step) const;

    MeshModel model_ = MeshModel::Bilinear;
    // The area points as the bilinear model blends them: the centres of
    // their background pixels on the picture as shown.
    std::array<double, kGridPointCount> shown_x_{};
    std::array<double, kGridPointCount> shown_y_{};
    PanoramaGeometry geometry_;
    int rotation_index_ = 0;
    TangentPlane plane_;
    std::array<PlanePoint, kGridPointCount> points_{};
    // Perspective: the homography fitted to the nine points (row-major, the
    // last entry 1) and what each point has left over from it.
    std::array<double, 9> homography_{};
    std::array<double, kGridPointCount> residual_x_{};
    std::array<double, kGridPointCount> residual_y_{};
    // A coarse table of the forward map for rough_frame_at.
    static constexpr int kTableSteps = 16;
    std::array<std::optional<PlanePoint>, (kTableSteps + 1) * (kTableSteps + 1)> table_{};
};

// The homography (row-major 3 by 3, the last entry 1) that best maps the
// frame positions onto the plane points in the least-squares sense of
// x (h31 u + h32 v + 1) = h11 u + h12 v + h13 and the like; nothing when the
// points leave it undetermined.
std::optional<std::array<double, 9>> fit_homography(const std::array<FramePoint, 9>& from,
                                                    const std::array<PlanePoint, 9>& to);
PlanePoint apply_homography(const std::array<double, 9>& h, FramePoint at);

}  // namespace tintora
