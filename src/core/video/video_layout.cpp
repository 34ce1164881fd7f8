#include "core/video/video_layout.hpp"

#include <algorithm>
#include <cstdint>

#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

int saturate(std::int64_t value) {
    return static_cast<int>(std::clamp<std::int64_t>(value, INT32_MIN, INT32_MAX));
}

}  // namespace

VideoLayout video_layout(int outer_width, int outer_height) {
    VideoLayout layout;
    layout.pages = {kPagesLeft, 0, outer_width - 20, outer_height - 200};
    layout.view_width = layout.pages.width - 10;
    layout.view_height = layout.pages.height - 40;
    layout.track = {kPagesLeft, outer_height - 130, layout.pages.width, kTrackHeight};
    layout.buttons_top = layout.track.top - 70;
    layout.buttons_left = (outer_width - 777) / 2;
    return layout;
}

RangeBar selected_frames_bar(const VideoParameters& parameters, int frame_count,
                             const PixelRect& slider) {
    RangeBar bar;
    if (frame_count <= 0) return bar;
    const std::int64_t start = read_whole_number(parameters.text(ParameterField::StartFrame), 1);
    const std::int64_t stop =
        read_whole_number(parameters.text(ParameterField::StopFrame), frame_count);
    const std::int64_t span = slider.width - 20;
    // One frame has no span to divide: the bar sits at the left, empty.
    const std::int64_t intervals = frame_count - 1;
    const std::int64_t offset = intervals == 0 ? 0 : span * (start - 1) / intervals;
    const std::int64_t width = intervals == 0 ? 0 : span * (stop - start) / intervals;
    bar.rect = {saturate(slider.left + 10 + offset), slider.top + slider.height, saturate(width),
                4};
    bar.hint = fill_in(video_texts::kRangeHint, {std::to_string(start), std::to_string(stop)});
    bar.visible = true;
    return bar;
}

}  // namespace tintora
