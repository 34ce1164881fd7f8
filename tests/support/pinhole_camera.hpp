#pragma once

#include <cmath>
#include <numbers>

#include "core/correction/correction_grid.hpp"
#include "core/viewer/mesh_map.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora::test {

// An ordinary camera at the sphere's centre, turned and rolled (degrees):
// where its frame position (u, v) looks.
struct PinholeCamera {
    double yaw, pitch, roll, hfov, aspect;

    Vec3 look(FramePoint at) const {
        constexpr double kRadian = std::numbers::pi / 180;
        const double x = (2 * at.u - 1) * std::tan(hfov / 2 * kRadian);
        const double y = (1 - 2 * at.v) * std::tan(hfov / 2 * kRadian) / aspect;
        const double xr = x * std::cos(roll * kRadian) - y * std::sin(roll * kRadian);
        const double yr = x * std::sin(roll * kRadian) + y * std::cos(roll * kRadian);
        const TangentPlane axis = TangentPlane::at(direction_of({yaw, pitch}));
        return axis.direction({xr, yr});
    }
};

// The nine area points where the camera puts its grid points on a panorama
// shown unturned: the whole pixels under them, as the mesh holds them.
inline CorrectionGrid grid_of(const PinholeCamera& camera, const PanoramaGeometry& g) {
    CorrectionGrid grid;
    for (int p = 0; p < kGridPointCount; ++p) {
        // A point off the picture is a mistake of the case: value() throws.
        const PicturePosition at =
            position_of(g, camera.look({(p % 3) / 2.0, (p / 3) / 2.0})).value();
        grid.area_x[p] = static_cast<int>(std::lround(at.x - 0.5));
        grid.area_y[p] = static_cast<int>(std::lround(at.y - 0.5));
    }
    return grid;
}

}  // namespace tintora::test
