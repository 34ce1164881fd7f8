#include "core/viewer/mesh_map.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace tintora {
namespace {

// The frame positions of the nine grid points: (column / 2, row / 2).
FramePoint grid_position(int p) { return {(p % 3) / 2.0, (p / 3) / 2.0}; }

// The quadrant blend of nine values at a frame position, as the grid
// blends its area points: bilinear between the four corners of the given
// quadrant.
double mesh_blend(const std::array<double, kGridPointCount>& values, FramePoint at,
                  int quadrant) {
    const int column = quadrant % 2;
    const int row = quadrant / 2;
    const int e = row * 3 + column;
    const double s = 2 * (at.u - 0.5 * column);
    const double t = 2 * (at.v - 0.5 * row);
    const std::size_t tl = static_cast<std::size_t>(e);
    const double top = values[tl] + s * (values[tl + 1] - values[tl]);
    const double bottom = values[tl + 3] + s * (values[tl + 4] - values[tl + 3]);
    return top + t * (bottom - top);
}

// The same blend with its derivatives in u and v, for Newton's method.
struct BlendSlopes {
    double value, du, dv;
};
BlendSlopes mesh_blend_slopes(const std::array<double, kGridPointCount>& values, FramePoint at,
                              int quadrant) {
    const int column = quadrant % 2;
    const int row = quadrant / 2;
    const std::size_t tl = static_cast<std::size_t>(row * 3 + column);
    const double s = 2 * (at.u - 0.5 * column);
    const double t = 2 * (at.v - 0.5 * row);
    const double top_rise = values[tl + 1] - values[tl];
    const double bottom_rise = values[tl + 4] - values[tl + 3];
    const double top = values[tl] + s * top_rise;
    const double bottom = values[tl + 3] + s * bottom_rise;
    return {top + t * (bottom - top), 2 * (top_rise + t * (bottom_rise - top_rise)),
            2 * (bottom - top)};
}

// Solves the n by n system a x = b in place by elimination with partial
// pivoting; false when it is singular.
template <std::size_t N>
bool solve(std::array<std::array<double, N>, N>& a, std::array<double, N>& b) {
    for (std::size_t column = 0; column < N; ++column) {
        std::size_t pivot = column;
        for (std::size_t r = column + 1; r < N; ++r) {
            if (std::fabs(a[r][column]) > std::fabs(a[pivot][column])) pivot = r;
        }
        if (!(std::fabs(a[pivot][column]) > 1e-300)) return false;
        std::swap(a[pivot], a[column]);
        std::swap(b[pivot], b[column]);
        for (std::size_t r = column + 1; r < N; ++r) {
            const double factor = a[r][column] / a[column][column];
            for (std::size_t c = column; c < N; ++c) a[r][c] -= factor * a[column][c];
            b[r] -= factor * b[column];
        }
    }
    for (std::size_t r = N; r-- > 0;) {
        double sum = b[r];
        for (std::size_t c = r + 1; c < N; ++c) sum -= a[r][c] * b[c];
        b[r] = sum / a[r][r];
    }
    return true;
}

}  // namespace

int quadrant_of(FramePoint at) { return (at.v <= 0.5 ? 0 : 2) + (at.u <= 0.5 ? 0 : 1); }

bool in_quadrant(FramePoint at, int quadrant, double slack) {
    const bool across = quadrant % 2 == 0 ? at.u <= 0.5 + slack : at.u >= 0.5 - slack;
    const bool down = quadrant / 2 == 0 ? at.v <= 0.5 + slack : at.v >= 0.5 - slack;
    return across && down;
}

TangentPlane TangentPlane::at(Vec3 centre) {
    const Vec3 c = normalised(centre);
    const Angles angles = angles_of(c);
    constexpr double kRadiansPerDegree = 3.14159265358979323846 / 180.0;
    const double h = angles.yaw * kRadiansPerDegree;
    const double p = angles.pitch * kRadiansPerDegree;
    TangentPlane plane;
    plane.centre = c;
    plane.right = {std::cos(h), 0, -std::sin(h)};
    plane.up = {-std::sin(p) * std::sin(h), std::cos(p), -std::sin(p) * std::cos(h)};
    return plane;
}

std::optional<PlanePoint> TangentPlane::project(Vec3 direction) const {
    const double ahead = dot(direction, centre);
    if (!(ahead > 1e-9)) return std::nullopt;
    return PlanePoint{dot(direction, right) / ahead, dot(direction, up) / ahead};
}

Vec3 TangentPlane::direction(PlanePoint point) const {
    return normalised(centre + point.x * right + point.y * up);
}

std::optional<std::array<double, 9>> fit_homography(const std::array<FramePoint, 9>& from,
                                                    const std::array<PlanePoint, 9>& to) {
    // The plane points moved to their mean and scaled to unit spread, for a
    // well-conditioned system; undone at the end.
    double mean_x = 0;
    double mean_y = 0;
    for (const PlanePoint& p : to) {
        mean_x += p.x / to.size();
        mean_y += p.y / to.size();
    }
    double spread = 0;
    for (const PlanePoint& p : to) spread += std::hypot(p.x - mean_x, p.y - mean_y) / to.size();
    if (!(spread > 0)) return std::nullopt;
    // Normal equations of the 18 linear equations in h11 .. h32.
    std::array<std::array<double, 8>, 8> normal{};
    std::array<double, 8> right{};
    const auto add = [&](const std::array<double, 8>& row, double value) {
        for (std::size_t i = 0; i < 8; ++i) {
            for (std::size_t j = 0; j < 8; ++j) normal[i][j] += row[i] * row[j];
            right[i] += row[i] * value;
        }
    };
    for (std::size_t k = 0; k < from.size(); ++k) {
        const double u = from[k].u;
        const double v = from[k].v;
        const double x = (to[k].x - mean_x) / spread;
        const double y = (to[k].y - mean_y) / spread;
        add({u, v, 1, 0, 0, 0, -x * u, -x * v}, x);
        add({0, 0, 0, u, v, 1, -y * u, -y * v}, y);
    }
    if (!solve(normal, right)) return std::nullopt;
    const std::array<double, 9> scaled{right[0], right[1], right[2], right[3], right[4],
                                       right[5], right[6], right[7], 1.0};
    // Back to the plane's own units: x = spread x' + mean_x, so row 1 gains
    // spread and mean_x times row 3.
    std::array<double, 9> h{};
    for (std::size_t c = 0; c < 3; ++c) {
        h[c] = spread * scaled[c] + mean_x * scaled[6 + c];
        h[3 + c] = spread * scaled[3 + c] + mean_y * scaled[6 + c];
        h[6 + c] = scaled[6 + c];
    }
    return h;
}

PlanePoint apply_homography(const std::array<double, 9>& h, FramePoint at) {
    const double w = h[6] * at.u + h[7] * at.v + h[8];
    return {(h[0] * at.u + h[1] * at.v + h[2]) / w, (h[3] * at.u + h[4] * at.v + h[5]) / w};
}

std::optional<MeshMap> MeshMap::make(const CorrectionGrid& grid, const PanoramaGeometry& geometry,
                                     int rotation_index, MeshModel model) {
    if (geometry.width <= 0 || geometry.height <= 0) return std::nullopt;
    MeshMap map;
    map.model_ = model;
    for (std::size_t p = 0; p < map.shown_x_.size(); ++p) {
        map.shown_x_[p] = grid.area_x[p] + 0.5;
        map.shown_y_[p] = grid.area_y[p] + 0.5;
    }
    map.geometry_ = geometry;
    map.rotation_index_ = rotation_index;
    // An area point stands for the centre of its background pixel.
    std::array<Vec3, kGridPointCount> directions;
    Vec3 sum;
    for (int p = 0; p < kGridPointCount; ++p) {
        const PicturePosition at =
            loaded_position({grid.area_x[p] + 0.5, grid.area_y[p] + 0.5}, rotation_index,
                            geometry.width, geometry.height);
        directions[static_cast<std::size_t>(p)] = direction_at(geometry, at);
        sum = sum + directions[static_cast<std::size_t>(p)];
    }
    if (!(dot(sum, sum) > 1e-12)) return std::nullopt;
    map.plane_ = TangentPlane::at(sum);
    std::array<FramePoint, 9> positions;
    for (int p = 0; p < kGridPointCount; ++p) {
        const std::optional<PlanePoint> point =
            map.plane_.project(directions[static_cast<std::size_t>(p)]);
        if (!point) return std::nullopt;
        map.points_[static_cast<std::size_t>(p)] = *point;
        positions[static_cast<std::size_t>(p)] = grid_position(p);
    }
    if (model == MeshModel::Perspective) {
        const std::optional<std::array<double, 9>> h = fit_homography(positions, map.points_);
        if (!h) return std::nullopt;
        map.homography_ = *h;
        for (int p = 0; p < kGridPointCount; ++p) {
            const PlanePoint fitted = apply_homography(*h, grid_position(p));
            const PlanePoint& point = map.points_[static_cast<std::size_t>(p)];
            map.residual_x_[static_cast<std::size_t>(p)] = point.x - fitted.x;
            map.residual_y_[static_cast<std::size_t>(p)] = point.y - fitted.y;
        }
    }
    // The table reaches half a frame beyond each side: the places just
    // outside the frame are asked about too.
    for (int j = 0; j <= kTableSteps; ++j) {
        for (int i = 0; i <= kTableSteps; ++i) {
            const FramePoint at{-0.5 + 2.0 * i / kTableSteps, -0.5 + 2.0 * j / kTableSteps};
            map.table_[static_cast<std::size_t>(j * (kTableSteps + 1) + i)] = map.plane_at(at);
        }
    }
    return map;
}

std::optional<PlanePoint> MeshMap::bilinear_plane_at(FramePoint at, int quadrant) const {
    const PicturePosition shown{mesh_blend(shown_x_, at, quadrant),
                                mesh_blend(shown_y_, at, quadrant)};
    return plane_.project(direction_at(
        geometry_, loaded_position(shown, rotation_index_, geometry_.width, geometry_.height)));
}

PlanePoint MeshMap::perspective_plane_at(FramePoint at, int quadrant) const {
    const PlanePoint fitted = apply_homography(homography_, at);
    return {fitted.x + mesh_blend(residual_x_, at, quadrant),
            fitted.y + mesh_blend(residual_y_, at, quadrant)};
}

std::optional<MeshMap::PlaneSlopes> MeshMap::bilinear_slopes_at(FramePoint at,
                                                                int quadrant) const {
    // The value as bilinear_plane_at works it out, step by step, each step's
    // derivatives carried along by the chain rule.
    const BlendSlopes sx = mesh_blend_slopes(shown_x_, at, quadrant);
    const BlendSlopes sy = mesh_blend_slopes(shown_y_, at, quadrant);
    const PicturePosition loaded = loaded_position({sx.value, sy.value}, rotation_index_,
                                                   geometry_.width, geometry_.height);
    // loaded_position's quarter turns: each loaded coordinate is one shown
    // coordinate or its negative.
    BlendSlopes lx{loaded.x, sx.du, sx.dv};
    BlendSlopes ly{loaded.y, sy.du, sy.dv};
    switch (rotation_index_) {
        case 1:
            lx = {loaded.x, sy.du, sy.dv};
            ly = {loaded.y, -sx.du, -sx.dv};
            break;
        case 2:
            lx = {loaded.x, -sx.du, -sx.dv};
            ly = {loaded.y, -sy.du, -sy.dv};
            break;
        case 3:
            lx = {loaded.x, -sy.du, -sy.dv};
            ly = {loaded.y, sx.du, sx.dv};
            break;
        default:
            break;
    }
    const Angles angles = angles_at(geometry_, loaded);
    constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;
    const double h = angles.yaw * kRadiansPerDegree;
    const double p = angles.pitch * kRadiansPerDegree;
    const double yaw_per_x = geometry_.hfov / geometry_.width * kRadiansPerDegree;
    const double pitch_per_y = -geometry_.vfov / geometry_.height * kRadiansPerDegree;
    const double sin_h = std::sin(h);
    const double cos_h = std::cos(h);
    const double sin_p = std::sin(p);
    const double cos_p = std::cos(p);
    const Vec3 direction{cos_p * sin_h, sin_p, cos_p * cos_h};
    const Vec3 along_yaw{cos_p * cos_h, 0, -cos_p * sin_h};
    const Vec3 along_pitch{-sin_p * sin_h, cos_p, -sin_p * cos_h};
    const Vec3 along_u = (yaw_per_x * lx.du) * along_yaw + (pitch_per_y * ly.du) * along_pitch;
    const Vec3 along_v = (yaw_per_x * lx.dv) * along_yaw + (pitch_per_y * ly.dv) * along_pitch;
    const std::optional<PlanePoint> on = plane_.project(direction);
    if (!on) return std::nullopt;
    // The projection x = (d . r) / (d . c), y = (d . u) / (d . c).
    const double ahead = dot(direction, plane_.centre);
    const auto moved = [&](Vec3 along, Vec3 axis, double value) {
        return (dot(along, axis) - value * dot(along, plane_.centre)) / ahead;
    };
    return PlaneSlopes{*on, moved(along_u, plane_.right, on->x), moved(along_v, plane_.right, on->x),
                       moved(along_u, plane_.up, on->y), moved(along_v, plane_.up, on->y)};
}

MeshMap::PlaneSlopes MeshMap::perspective_slopes_at(FramePoint at, int quadrant) const {
    const std::array<double, 9>& h = homography_;
    const PlanePoint fitted = apply_homography(h, at);
    const double w = h[6] * at.u + h[7] * at.v + h[8];
    const BlendSlopes rx = mesh_blend_slopes(residual_x_, at, quadrant);
    const BlendSlopes ry = mesh_blend_slopes(residual_y_, at, quadrant);
    return {{fitted.x + rx.value, fitted.y + ry.value},
            (h[0] - fitted.x * h[6]) / w + rx.du,
            (h[1] - fitted.x * h[7]) / w + rx.dv,
            (h[3] - fitted.y * h[6]) / w + ry.du,
            (h[4] - fitted.y * h[7]) / w + ry.dv};
}

std::optional<PlanePoint> MeshMap::plane_at(FramePoint at) const {
    return plane_at(at, quadrant_of(at));
}

std::optional<PlanePoint> MeshMap::plane_at(FramePoint at, int quadrant) const {
    if (model_ == MeshModel::Perspective) return perspective_plane_at(at, quadrant);
    return bilinear_plane_at(at, quadrant);
}

std::optional<FramePoint> MeshMap::frame_at(PlanePoint target, FramePoint guess) const {
    return solve(target, guess, kAnyQuadrant, kFinestStep);
}

std::optional<FramePoint> MeshMap::frame_at(PlanePoint target, FramePoint guess, int quadrant,
                                            double last_step) const {
    return solve(target, guess, quadrant, last_step);
}

std::optional<FramePoint> MeshMap::solve(PlanePoint target, FramePoint guess, int quadrant,
                                         double last_step) const {
    constexpr int kMostIterations = 30;
    const auto rule = [quadrant](FramePoint at) {
        return quadrant == kAnyQuadrant ? quadrant_of(at) : quadrant;
    };
    FramePoint at = guess;
    for (int iteration = 0; iteration < kMostIterations; ++iteration) {
        std::optional<PlaneSlopes> here;
        if (model_ == MeshModel::Perspective) {
            here = perspective_slopes_at(at, rule(at));
        } else {
            here = bilinear_slopes_at(at, rule(at));
        }
        if (!here) return std::nullopt;
        const double ex = here->at.x - target.x;
        const double ey = here->at.y - target.y;
        const double a = here->x_u;
        const double b = here->x_v;
        const double c = here->y_u;
        const double d = here->y_v;
        const double determinant = a * d - b * c;
        if (!(std::fabs(determinant) > 1e-300)) return std::nullopt;
        const double du = (d * ex - b * ey) / determinant;
        const double dv = (a * ey - c * ex) / determinant;
        at.u -= du;
        at.v -= dv;
        if (!std::isfinite(at.u) || !std::isfinite(at.v)) return std::nullopt;
        // Newton's steps shrink quadratically: after a small step what is
        // left is of the order of its square.
        if (std::fabs(du) + std::fabs(dv) < last_step) return at;
    }
    const std::optional<PlanePoint> reached = plane_at(at, rule(at));
    if (reached && std::hypot(reached->x - target.x, reached->y - target.y) < 1e-9) return at;
    return std::nullopt;
}

FramePoint MeshMap::rough_frame_at(PlanePoint target) const {
    FramePoint best{0.5, 0.5};
    double best_distance = std::numeric_limits<double>::infinity();
    for (int j = 0; j <= kTableSteps; ++j) {
        for (int i = 0; i <= kTableSteps; ++i) {
            const std::optional<PlanePoint>& p =
                table_[static_cast<std::size_t>(j * (kTableSteps + 1) + i)];
            if (!p) continue;
            const double distance = std::hypot(p->x - target.x, p->y - target.y);
            if (distance < best_distance) {
                best_distance = distance;
                best = {-0.5 + 2.0 * i / kTableSteps, -0.5 + 2.0 * j / kTableSteps};
            }
        }
    }
    return best;
}

bool MeshMap::folded() const {
    // The map's orientation (the sign of its Jacobian) is the same all over
    // an unfolded frame; the quadrants' own edges are sampled too.
    constexpr int kSteps = 32;
    constexpr double kStep = 1e-6;
    int sign = 0;
    for (int j = 0; j <= kSteps; ++j) {
        for (int i = 0; i <= kSteps; ++i) {
            // Kept a step inside, so each difference stays in one quadrant.
            const FramePoint at{std::min(double(i) / kSteps, 1 - kStep),
                                std::min(double(j) / kSteps, 1 - kStep)};
            const FramePoint near_at{at.u == 0.5 ? at.u - kStep : at.u,
                                     at.v == 0.5 ? at.v - kStep : at.v};
            const std::optional<PlanePoint> here = plane_at(near_at);
            const std::optional<PlanePoint> across = plane_at({near_at.u + kStep, near_at.v});
            const std::optional<PlanePoint> down = plane_at({near_at.u, near_at.v + kStep});
            if (!here || !across || !down) return true;
            const double determinant = (across->x - here->x) * (down->y - here->y) -
                                       (down->x - here->x) * (across->y - here->y);
            const int here_sign = determinant > 0 ? 1 : determinant < 0 ? -1 : 0;
            if (here_sign == 0 || (sign != 0 && here_sign != sign)) return true;
            sign = here_sign;
        }
    }
    return false;
}

}  // namespace tintora
