#pragma once

#include <optional>

#include "core/correction/correction_grid.hpp"

namespace tintora {

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

// A left-button gesture on the composed picture that places area points. A
// press on a marker (when the markers are shown) makes its point current
// and drags it, keeping the pointer's offset from the marker's centre, so
// the point does not jump. A press elsewhere moves the current point to the
// press, as a left click always did, and drags it from there. With Shift or
// Ctrl held a press does nothing. Each call returns whether the grid changed.
class MeshDrag {
public:
    bool press(CorrectionGrid& grid, double display_scale, int x, int y, bool shift_or_ctrl,
               bool markers_shown);
    bool move(CorrectionGrid& grid, double display_scale, int x, int y);
    void release() { active_ = false; }
    bool active() const { return active_; }

private:
    bool active_ = false;
    int offset_x_ = 0;
    int offset_y_ = 0;
};

}  // namespace tintora
