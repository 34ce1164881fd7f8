#include "core/composition/sampling.hpp"

#include <cstdio>
#include <cstring>

#include "core/correction/curves.hpp"

namespace tintora {
namespace {

ColourReading read_window(const Frame& picture, int first_column, int y) {
    const std::uint8_t* p = picture.pixel(y, first_column);
    int sb = 0;
    int sg = 0;
    int sr = 0;
    for (int i = 0; i < 3; ++i, p += 3) {
        sb += p[0];
        sg += p[1];
        sr += p[2];
    }
    return {sr / 3, sg / 3, sb / 3, sample_intensity(sr + sg + sb)};
}

// The first column of the window around x: x's neighbours, moved inside the
// row at either end.
int window_start(int x, int picture_width) {
    const int middle = x == 0 ? 1 : (x == picture_width - 1 ? picture_width - 2 : x);
    return middle - 1;
}

}  // namespace

std::optional<SampleReading> take_sample(const SampledRegion& region,
                                         const SampleGeometry& geometry, int x, int y) {
    if (region.picture_width < 3 || x < 0 || x >= region.picture_width ||
        !(geometry.display_scale > 0.0)) {
        return std::nullopt;
    }
    const int first = window_start(x, region.picture_width) - region.origin.left;
    const int row = y - region.origin.top;
    const Frame* uncorrected = region.uncorrected ? region.uncorrected : &region.composed;
    for (const Frame* picture : {&region.clean, &region.composed, uncorrected}) {
        if (row < 0 || row >= picture->height() || first < 0 || first + 3 > picture->width()) {
            return std::nullopt;
        }
    }
    SampleReading reading;
    const int bx = static_cast<int>(x / geometry.display_scale);
    const int by = static_cast<int>(y / geometry.display_scale);
    const int w = geometry.background_width;
    const int h = geometry.background_height;
    switch (geometry.rotation_index) {
        case 1:
            reading.shown_x = by;
            reading.shown_y = h - bx;
            break;
        case 2:
            reading.shown_x = w - bx;
            reading.shown_y = h - by;
            break;
        case 3:
            reading.shown_x = w - by;
            reading.shown_y = bx;
            break;
        default:
            reading.shown_x = bx;
            reading.shown_y = by;
            break;
    }
    reading.background = read_window(region.clean, first, row);
    reading.video = read_window(region.composed, first, row);
    reading.frame = read_window(*uncorrected, first, row);
    return reading;
}

std::optional<SampleReading> take_sample(const Frame& clean_background, const Frame& composed,
                                         const SampleGeometry& geometry, int x, int y) {
    if (clean_background.width() != composed.width()) return std::nullopt;
    return take_sample(SampledRegion{clean_background, composed, {}, composed.width()}, geometry, x,
                       y);
}

std::optional<SampleReading> sample_composition(const Composition& composition, int x, int y) {
    SampleGeometry geometry;
    geometry.rotation_index = composition.choices.rotation_index;
    geometry.display_scale = composition.display_scale();
    geometry.background_width = composition.background_width();
    geometry.background_height = composition.background_height();
    const int width = composition.picture_width();
    if (x < 0 || x >= width || y < 0 || y >= composition.picture_height()) return std::nullopt;
    // The background alone is cheap to make for three pixels; the composed
    // ones come from what the window shows, rendered only when it lacks them.
    Frame clean;
    const RegionOrigin origin = composition.render_clean(window_start(x, width), y, 3, 1, clean);
    Frame composed;
    Frame uncorrected;
    const Frame& shown = composition.shown_picture();
    const RegionOrigin at = composition.shown_origin();
    const int column = origin.left - at.left;
    const int row = origin.top - at.top;
    // What the window shows has the markers drawn in; a reading near one is
    // rendered without them, so it reads the video under the marker.
    const bool near_marker =
        composition.markers_cover(origin.left, origin.top, clean.width(), clean.height());
    if (!near_marker && composition.has_shown_region() && column >= 0 && row >= 0 &&
        column + clean.width() <= shown.width() && row < shown.height()) {
        const auto copy_row = [&](const Frame& from, Frame& to) {
            to = clean;
            std::memcpy(to.row(0), from.pixel(row, column),
                        3 * static_cast<std::size_t>(clean.width()));
        };
        copy_row(shown, composed);
        copy_row(composition.shown_uncorrected(), uncorrected);
    } else {
        composition.render_region(origin.left, origin.top, clean.width(), 1, composed, nullptr,
                                  Composition::Markers::Left);
        composition.render_uncorrected(origin.left, origin.top, clean.width(), 1, uncorrected,
                                       Composition::Markers::Left);
    }
    return take_sample(SampledRegion{clean, composed, origin, width, &uncorrected}, geometry, x, y);
}

std::string background_status_text(const SampleReading& reading) {
    char text[160];
    std::snprintf(text, sizeof text, "Background: X=%i Y=%i (r=%i, g=%i, b=%i)", reading.shown_x,
                  reading.shown_y, reading.background.r, reading.background.g,
                  reading.background.b);
    return text;
}

std::string video_status_text(const SampleReading& reading) {
    char text[96];
    std::snprintf(text, sizeof text, "Videoframe: (r=%i, g=%i, b=%i)", reading.video.r,
                  reading.video.g, reading.video.b);
    return text;
}

void store_sampled_pair(CorrectionGrid& grid, int video_intensity, int background_intensity) {
    if (video_intensity < 0 || video_intensity >= kIntensityCount) return;
    grid.control_values[grid.current_point()][video_intensity] = background_intensity;
    recalculate_color_tables(grid);
}

void store_sampled_pair(CorrectionGrid& grid, const SampleReading& reading) {
    if (grid.correction_mode != CorrectionMode::Colour) {
        store_sampled_pair(grid, reading.frame.intensity, reading.background.intensity);
        return;
    }
    const int point = grid.current_point();
    const int video[kChannelCount] = {reading.frame.r, reading.frame.g, reading.frame.b};
    const int target[kChannelCount] = {reading.background.r, reading.background.g,
                                       reading.background.b};
    for (int c = 0; c < kChannelCount; ++c) {
        if (video[c] >= 0 && video[c] < kIntensityCount) {
            grid.channel_control_values[c][point][video[c]] = target[c];
        }
    }
    recalculate_color_tables(grid);
}

}  // namespace tintora
