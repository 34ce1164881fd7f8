#include "core/composition/mesh_drag.hpp"

#include <charconv>
#include <cstdint>
#include <string_view>
#include <system_error>
#include <utility>

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

bool is_corner_point(int p) { return p == 0 || p == 2 || p == 6 || p == 8; }

namespace {

// The mesh alone, to tell whether a gesture moved it.
using AreaPoints =
    std::pair<std::array<std::int32_t, kGridPointCount>, std::array<std::int32_t, kGridPointCount>>;
AreaPoints area_points(const CorrectionGrid& grid) { return {grid.area_x, grid.area_y}; }

// In 64 bits: the sum of area points far out would overflow an int.
std::int32_t mean(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>((std::int64_t{a} + b) / 2);
}

std::int32_t mean(std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
    return static_cast<std::int32_t>((std::int64_t{a} + b + c + d) / 4);
}

void lay_between_corners(std::array<std::int32_t, kGridPointCount>& axis) {
    axis[1] = mean(axis[0], axis[2]);
    axis[3] = mean(axis[0], axis[6]);
    axis[5] = mean(axis[2], axis[8]);
    axis[7] = mean(axis[6], axis[8]);
    axis[4] = mean(axis[0], axis[2], axis[6], axis[8]);
}

}  // namespace

bool lay_mesh_between_corners(CorrectionGrid& grid) {
    const AreaPoints before = area_points(grid);
    lay_between_corners(grid.area_x);
    lay_between_corners(grid.area_y);
    return area_points(grid) != before;
}

PressAction press_action(const CorrectionGrid& grid, double display_scale, int x, int y,
                         HeldKeys keys, bool markers_shown) {
    if (keys.ctrl) return PressAction::Nothing;
    const std::optional<int> handle =
        markers_shown ? handle_at(grid, display_scale, x, y) : std::nullopt;
    if (keys.shift) {
        return handle && is_corner_point(*handle) ? PressAction::TakeCornerWithMesh
                                                  : PressAction::Nothing;
    }
    return handle ? PressAction::TakeMarker : PressAction::MoveCurrentHere;
}

bool MeshDrag::press(CorrectionGrid& grid, double display_scale, int x, int y, HeldKeys keys,
                     bool markers_shown) {
    active_ = false;
    keeps_mesh_ = false;
    offset_x_ = 0;
    offset_y_ = 0;
    switch (press_action(grid, display_scale, x, y, keys, markers_shown)) {
        case PressAction::Nothing:
            return false;
        case PressAction::MoveCurrentHere:
            active_ = move_current_area_point(grid, display_scale, x, y, false);
            return active_;
        case PressAction::TakeCornerWithMesh:
            keeps_mesh_ = true;
            [[fallthrough]];
        case PressAction::TakeMarker:
            break;
    }
    const int p = *handle_at(grid, display_scale, x, y);
    const PicturePoint centre = *marker_centre(grid, display_scale, p);
    const bool changed = grid.cur_point != p;
    grid.cur_point = p;
    offset_x_ = x - centre.x;
    offset_y_ = y - centre.y;
    active_ = true;
    return changed;
}

bool MeshDrag::move(CorrectionGrid& grid, double display_scale, int x, int y) {
    if (!active_) return false;
    const std::int64_t to_x = std::int64_t{x} - offset_x_;
    const std::int64_t to_y = std::int64_t{y} - offset_y_;
    if (to_x < INT32_MIN || to_x > INT32_MAX || to_y < INT32_MIN || to_y > INT32_MAX) return false;
    const AreaPoints before = area_points(grid);
    move_current_area_point(grid, display_scale, static_cast<int>(to_x), static_cast<int>(to_y),
                            false);
    if (keeps_mesh_) lay_mesh_between_corners(grid);
    return area_points(grid) != before;
}

AreaBounds area_bounds(const Composition& composition) {
    const int width = composition.background_width();
    const int height = composition.background_height();
    // A quarter turn swaps the sides; no turn chosen shows the background as loaded.
    const int rotation = composition.choices.rotation_index;
    if (rotation == 1 || rotation == 3) return {height, width};
    return {width, height};
}

TypedAreaPoints typed_area_points(const CorrectionGrid& grid) {
    TypedAreaPoints typed;
    for (int p = 0; p < kGridPointCount; ++p) {
        typed.x[p] = std::to_string(grid.area_x[p]);
        typed.y[p] = std::to_string(grid.area_y[p]);
    }
    return typed;
}

namespace {

// A whole number from 0 to below `limit`, blanks around it allowed.
std::optional<std::int32_t> read_coordinate(std::string_view text, int limit) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    std::int32_t value = 0;
    const char* end = text.data() + text.size();
    const std::from_chars_result read = std::from_chars(text.data(), end, value);
    if (text.empty() || read.ec != std::errc() || read.ptr != end) return std::nullopt;
    if (value < 0 || value >= limit) return std::nullopt;
    return value;
}

}  // namespace

std::optional<AreaPointField> first_refused_field(const TypedAreaPoints& typed, AreaBounds bounds) {
    for (int p = 0; p < kGridPointCount; ++p) {
        if (!read_coordinate(typed.x[p], bounds.width)) return AreaPointField{p, false};
        if (!read_coordinate(typed.y[p], bounds.height)) return AreaPointField{p, true};
    }
    return std::nullopt;
}

bool set_typed_area_points(CorrectionGrid& grid, const TypedAreaPoints& typed, AreaBounds bounds) {
    if (first_refused_field(typed, bounds)) return false;
    const AreaPoints before = area_points(grid);
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.area_x[p] = *read_coordinate(typed.x[p], bounds.width);
        grid.area_y[p] = *read_coordinate(typed.y[p], bounds.height);
    }
    return area_points(grid) != before;
}

}  // namespace tintora
