#pragma once

#include <string>

#include "core/video/pixel_rect.hpp"
#include "core/video/video_parameters.hpp"
#include "core/video/video_session.hpp"

namespace tintora {

// The red selection rectangle over the source view.
struct SelectionShape {
    PixelRect rect{0, 0, 65, 65};
    bool visible = false;
    bool drag_cursor = false;  // shown over the rectangle once it has been taken hold of
};

// How a frame is drawn in a view: stretched with its aspect kept, anchored
// at the top-left corner.
struct DisplayGeometry {
    // View pixels per frame pixel, as stored in the precision it was computed
    // in; 0 when nothing can be shown.
    long double scale = 0.0L;
    int width = 0;  // displayed size in view pixels
    int height = 0;
};

// Drawing the selection, recalculating it and a press compute in single
// precision, the move handlers in double precision; the two can differ by a
// pixel (a 640 by 480 frame in an 800 by 300 view is 400 or 399 wide).
enum class Precision { Single, Double };
DisplayGeometry display_geometry(int frame_width, int frame_height, int view_width, int view_height,
                                 Precision precision);

// The four cut fields, clamped one pixel inside the right and bottom edge,
// into the stored cut and onto the rectangle; without a video the rectangle
// is hidden.
void draw_selection(VideoSession& session, VideoParameters& parameters, SelectionShape& shape,
                    int view_width, int view_height);
// The rectangle back into the stored cut and the four fields.
void recalculate_selection(VideoSession& session, VideoParameters& parameters,
                           const SelectionShape& shape, int view_width, int view_height);
// Fields emptied, the cut the whole frame, the rectangle hidden over the whole view.
void clear_area_selection(VideoSession& session, VideoParameters& parameters, SelectionShape& shape,
                          int view_width, int view_height);
// The whole frame into the fields, then drawn.
void select_all_area(VideoSession& session, VideoParameters& parameters, SelectionShape& shape,
                     int view_width, int view_height);

}  // namespace tintora
