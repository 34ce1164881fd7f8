#include "core/viewer/camera_warp.hpp"

#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "core/viewer/mesh_map.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora {
namespace {

// A position on the picture as loaded, on the background as the main
// window shows it (turned by `rotation_index`): loaded_position undone.
PicturePosition shown_position(PicturePosition loaded, int rotation_index, int width, int height) {
    switch (rotation_index) {
        case 1:
            return {height - loaded.y, loaded.x};
        case 2:
            return {width - loaded.x, height - loaded.y};
        case 3:
            return {loaded.y, width - loaded.x};
        default:
            return loaded;
    }
}

// What one perspective warp needs: the mesh's map and where it lies.
struct PerspectiveWarp {
    MeshMap map;
    PanoramaGeometry geometry;
    int rotation_index;
    // The loaded picture's column of the mesh's centre, and the columns a
    // whole turn of the sphere spans.
    double centre_x;
    double turn;

    BackgroundPoint operator()(double u, double v) const {
        const std::optional<PlanePoint> on = map.plane_at({u, v});
        if (!on) {
            constexpr double kNowhere = std::numeric_limits<double>::quiet_NaN();
            return {kNowhere, kNowhere};
        }
        const Angles angles = angles_of(map.plane().direction(*on));
        const PanoramaGeometry& g = geometry;
        double x = ((angles.yaw - g.yaw) / g.hfov + 0.5) * g.width;
        const double y = (0.5 - (angles.pitch - g.pitch) / g.vfov) * g.height;
        // The turn of the sphere the mesh's centre lies in, so the frame
        // stays whole where it reaches over the picture's seam (what lies
        // beyond the picture is not drawn, as with the bilinear rule).
        x += turn * std::round((centre_x - x) / turn);
        const PicturePosition shown = shown_position({x, y}, rotation_index, g.width, g.height);
        return {shown.x, shown.y};
    }
};

}  // namespace

MeshWarpMaker perspective_mesh_warp() {
    return [](const CorrectionGrid& grid, const WarpedBackground& background) -> MeshWarp {
        if (background.panorama.mesh_model != MeshModel::Perspective) return {};
        const PanoramaGeometry geometry =
            panorama_geometry(background.width, background.height, background.panorama);
        std::optional<MeshMap> map = MeshMap::make(grid, geometry, background.rotation_index,
                                                   MeshModel::Perspective);
        if (!map) return {};
        const double turn = 360.0 / geometry.hfov * geometry.width;
        const double centre_x =
            ((angles_of(map->plane().centre).yaw - geometry.yaw) / geometry.hfov + 0.5) *
            geometry.width;
        return PerspectiveWarp{std::move(*map), geometry, background.rotation_index,
                               centre_x - turn * std::floor(centre_x / turn), turn};
    };
}

}  // namespace tintora
