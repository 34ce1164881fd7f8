#include "core/composition/mesh_drag.hpp"

#include <cstdint>

#include "core/composition/composition.hpp"

namespace tintora {

std::optional<PicturePoint> marker_centre(const CorrectionGrid& grid, double display_scale, int p) {
    const BackgroundPoint at = grid.map_to_background((p % 3) / 2.0, (p / 3) / 2.0, display_scale);
    if (!(at.x > -2147483648.0 && at.x < 2147483648.0 && at.y > -2147483648.0 &&
          at.y < 2147483648.0)) {
        return std::nullopt;
    }
    return PicturePoint{static_cast<int>(at.x), static_cast<int>(at.y)};
}

std::optional<int> handle_at(const CorrectionGrid& grid, double display_scale, int x, int y,
                             int reach) {
    std::optional<int> nearest;
    std::int64_t nearest_distance = std::int64_t{reach} * reach;
    for (int p = 0; p < kGridPointCount; ++p) {
        const std::optional<PicturePoint> centre = marker_centre(grid, display_scale, p);
        if (!centre) continue;
        const std::int64_t dx = std::int64_t{x} - centre->x;
        const std::int64_t dy = std::int64_t{y} - centre->y;
        const std::int64_t distance = dx * dx + dy * dy;
        if (distance < nearest_distance || (distance == nearest_distance && !nearest)) {
            nearest = p;
            nearest_distance = distance;
        }
    }
    return nearest;
}

bool MeshDrag::press(CorrectionGrid& grid, double display_scale, int x, int y, bool shift_or_ctrl,
                     bool markers_shown) {
    active_ = false;
    if (shift_or_ctrl) return false;
    if (markers_shown) {
        if (const std::optional<int> p = handle_at(grid, display_scale, x, y)) {
            const PicturePoint centre = *marker_centre(grid, display_scale, *p);
            const bool changed = grid.cur_point != *p;
            grid.cur_point = *p;
            offset_x_ = x - centre.x;
            offset_y_ = y - centre.y;
            active_ = true;
            return changed;
        }
    }
    offset_x_ = 0;
    offset_y_ = 0;
    active_ = move_current_area_point(grid, display_scale, x, y, false);
    return active_;
}

bool MeshDrag::move(CorrectionGrid& grid, double display_scale, int x, int y) {
    if (!active_) return false;
    const int p = grid.current_point();
    const std::int32_t old_x = grid.area_x[p];
    const std::int32_t old_y = grid.area_y[p];
    const std::int64_t to_x = std::int64_t{x} - offset_x_;
    const std::int64_t to_y = std::int64_t{y} - offset_y_;
    if (to_x < INT32_MIN || to_x > INT32_MAX || to_y < INT32_MIN || to_y > INT32_MAX) return false;
    move_current_area_point(grid, display_scale, static_cast<int>(to_x), static_cast<int>(to_y),
                            false);
    return grid.area_x[p] != old_x || grid.area_y[p] != old_y;
}

}  // namespace tintora
