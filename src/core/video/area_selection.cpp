#include "core/video/area_selection.hpp"

#include <cstdint>

namespace tintora {
namespace {

using Field = ParameterField;

// Toward zero, saturated: a view position divided by a tiny scale must not
// leave the range of int.
int truncate(long double value) {
    if (!(value > -2147483648.0L)) return value != value ? 0 : INT32_MIN;
    if (!(value < 2147483648.0L)) return INT32_MAX;
    return static_cast<int>(value);
}

void write_cut_fields(const VideoSession& s, VideoParameters& p) {
    p.text(Field::CutX) = std::to_string(s.CutX);
    p.text(Field::CutY) = std::to_string(s.CutY);
    p.text(Field::CutWidth) = std::to_string(s.CutWidth);
    p.text(Field::CutHeight) = std::to_string(s.CutHeight);
}

}  // namespace

DisplayGeometry display_geometry(int frame_width, int frame_height, int view_width, int view_height,
                                 Precision precision) {
    DisplayGeometry g;
    if (frame_width <= 0 || frame_height <= 0 || view_width <= 0 || view_height <= 0) return g;
    // The aspect and the scale are stored rounded to single or double
    // precision; the products with them are formed in extended precision.
    // That is what makes a 640 by 480 frame 399 pixels wide in a 300-pixel
    // high view in double precision (and 400 in single).
    const auto stored = [precision](long double value) -> long double {
        return precision == Precision::Single ? static_cast<float>(value)
                                              : static_cast<double>(value);
    };
    const long double aspect = stored(static_cast<long double>(frame_width) / frame_height);
    if (static_cast<long double>(view_width) / view_height >= aspect) {
        g.scale = stored(static_cast<long double>(view_height) / frame_height);
        g.height = view_height;
        g.width = truncate(view_height * aspect);
    } else {
        g.scale = stored(static_cast<long double>(view_width) / frame_width);
        g.width = view_width;
        g.height = truncate(view_width / aspect);
    }
    return g;
}

void draw_selection(VideoSession& s, VideoParameters& p, SelectionShape& shape, int view_width,
                    int view_height) {
    if (s.FrameCount < 1) {
        shape.visible = false;
        return;
    }
    const DisplayGeometry g =
        display_geometry(s.FrameWidth, s.FrameHeight, view_width, view_height, Precision::Single);
    const std::int32_t w = s.FrameWidth;
    const std::int32_t h = s.FrameHeight;
    s.CutX = read_whole_number(p.text(Field::CutX), 0);
    s.CutY = read_whole_number(p.text(Field::CutY), 0);
    s.CutWidth = read_whole_number(p.text(Field::CutWidth), w);
    s.CutHeight = read_whole_number(p.text(Field::CutHeight), h);
    if (s.CutX < 0) s.CutX = 0;
    if (s.CutX > w - 1) s.CutX = w - 1;
    if (s.CutY < 0) s.CutY = 0;
    if (s.CutY > h - 1) s.CutY = h - 1;
    if (s.CutWidth < 0) s.CutWidth = 4;
    if (std::int64_t{s.CutX} + s.CutWidth > w - 1) s.CutWidth = w - 1 - s.CutX;
    if (s.CutHeight < 0) s.CutHeight = 4;
    if (std::int64_t{s.CutY} + s.CutHeight > h - 1) s.CutHeight = h - 1 - s.CutY;
    write_cut_fields(s, p);
    const long double scale = g.scale;
    shape.rect = {truncate(s.CutX * scale), truncate(s.CutY * scale), truncate(s.CutWidth * scale),
                  truncate(s.CutHeight * scale)};
    shape.visible = true;
}

void recalculate_selection(VideoSession& s, VideoParameters& p, const SelectionShape& shape,
                           int view_width, int view_height) {
    if (s.FrameCount < 1) return;
    const DisplayGeometry g =
        display_geometry(s.FrameWidth, s.FrameHeight, view_width, view_height, Precision::Single);
    if (g.scale <= 0.0) return;
    const long double scale = g.scale;
    s.CutX = truncate(shape.rect.left / scale);
    s.CutY = truncate(shape.rect.top / scale);
    s.CutWidth = truncate(shape.rect.width / scale);
    s.CutHeight = truncate(shape.rect.height / scale);
    if (s.CutX < 0) s.CutX = 0;
    if (s.CutX >= s.FrameWidth - 1) s.CutX = s.FrameWidth - 2;
    if (s.CutY < 0) s.CutY = 0;
    if (s.CutY >= s.FrameHeight - 1) s.CutY = s.FrameHeight - 2;
    if (std::int64_t{s.CutX} + s.CutWidth > s.FrameWidth) s.CutWidth = s.FrameWidth - s.CutX;
    if (std::int64_t{s.CutY} + s.CutHeight > s.FrameHeight) s.CutHeight = s.FrameHeight - s.CutY;
    write_cut_fields(s, p);
}

void clear_area_selection(VideoSession& s, VideoParameters& p, SelectionShape& shape,
                          int view_width, int view_height) {
    for (const Field field : {Field::CutX, Field::CutY, Field::CutWidth, Field::CutHeight}) {
        p.text(field).clear();
    }
    s.CutX = 0;
    s.CutY = 0;
    s.CutWidth = s.FrameWidth;
    s.CutHeight = s.FrameHeight;
    shape.rect = {0, 0, view_width, view_height};
    shape.visible = false;
}

void select_all_area(VideoSession& s, VideoParameters& p, SelectionShape& shape, int view_width,
                     int view_height) {
    p.text(Field::CutX) = "0";
    p.text(Field::CutY) = "0";
    p.text(Field::CutWidth) = std::to_string(s.FrameWidth);
    p.text(Field::CutHeight) = std::to_string(s.FrameHeight);
    draw_selection(s, p, shape, view_width, view_height);
}

}  // namespace tintora
