#pragma once

#include <array>
#include <optional>
#include <string>

#include "core/correction/correction_grid.hpp"

namespace tintora {

class Composition;

// How near a press must come to a marker's centre to take hold of it, in
// picture pixels.
inline constexpr int kHandleReach = 6;

// A place on the composed picture, in picture pixels.
struct PicturePoint {
    int x = 0;
    int y = 0;
};

// The centre of grid point p's marker, where draw_markers puts it; nothing
// where no int holds it.
std::optional<PicturePoint> marker_centre(const CorrectionGrid& grid, double display_scale, int p);

// The grid point whose marker centre lies within `reach` pixels of (x, y):
// the nearest, the lower index on a tie; nothing when none does.
std::optional<int> handle_at(const CorrectionGrid& grid, double display_scale, int x, int y,
                             int reach = kHandleReach);

// Points 0, 2, 6 and 8: the mesh's four corners.
bool is_corner_point(int p);

// Lays the edge middles on the mean of their two corners and the centre on
// the mean of the four, truncated toward zero as every background position
// is, so the mesh is the bilinear grid of its corners. True when a point
// moved.
bool lay_mesh_between_corners(CorrectionGrid& grid);

// The keys held with a press on the picture.
struct HeldKeys {
    bool shift = false;
    bool ctrl = false;
};

// What a left press on the composed picture does.
enum class PressAction {
    // Ctrl held, or Shift held anywhere but on a corner marker.
    Nothing,
    // On a marker: its point becomes current and follows the pointer.
    TakeMarker,
    // Shift on a corner marker: the corner follows the pointer and the
    // other points keep the mesh the bilinear grid of its corners.
    TakeCornerWithMesh,
    // Elsewhere: the current point jumps to the press, as a left click
    // always did, and follows the pointer from there.
    MoveCurrentHere,
};

// The markers can be taken only where they are shown.
PressAction press_action(const CorrectionGrid& grid, double display_scale, int x, int y,
                         HeldKeys keys, bool markers_shown);

// A left-button gesture on the composed picture that places area points, as
// press_action tells. A taken marker keeps the pointer's offset from its
// centre, so the point does not jump. Each call returns whether the grid
// changed.
class MeshDrag {
public:
    bool press(CorrectionGrid& grid, double display_scale, int x, int y, HeldKeys keys,
               bool markers_shown);
    bool move(CorrectionGrid& grid, double display_scale, int x, int y);
    void release() { active_ = false; }
    bool active() const { return active_; }

private:
    bool active_ = false;
    bool keeps_mesh_ = false;
    int offset_x_ = 0;
    int offset_y_ = 0;
};

// The background as the picture shows it (turned by the rotation list),
// whose pixels the area points count: 0 to width - 1, 0 to height - 1.
struct AreaBounds {
    int width = 0;
    int height = 0;
};
AreaBounds area_bounds(const Composition& composition);

// The nine area points as typed, point by point.
struct TypedAreaPoints {
    std::array<std::string, kGridPointCount> x;
    std::array<std::string, kGridPointCount> y;
};
TypedAreaPoints typed_area_points(const CorrectionGrid& grid);

// A field of the typed points: which point, and whether its Y.
struct AreaPointField {
    int point = 0;
    bool y = false;
};

// The first field, point by point and X before Y, that is not a whole
// number inside the bounds; nothing when all nine points can be taken.
std::optional<AreaPointField> first_refused_field(const TypedAreaPoints& typed, AreaBounds bounds);
// Takes all nine points, or none when a field is refused. True when the
// grid changed.
bool set_typed_area_points(CorrectionGrid& grid, const TypedAreaPoints& typed, AreaBounds bounds);

}  // namespace tintora
