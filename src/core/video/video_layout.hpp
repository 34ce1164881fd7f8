#pragma once

#include <string>

#include "core/video/pixel_rect.hpp"
#include "core/video/video_parameters.hpp"

namespace tintora {

// Where the video window's parts go for an outer window size.
struct VideoLayout {
    PixelRect pages;     // the Source / Result / Parameters tabs
    int view_width = 0;  // the source and the result view
    int view_height = 0;
    PixelRect track;  // the frame slider; its height is the caller's
    int buttons_left = 0;
    int buttons_top = 0;
};

inline constexpr int kPagesLeft = 4;
inline constexpr int kTrackHeight = 30;

VideoLayout video_layout(int outer_width, int outer_height);

// The thin bar under the frame slider that spans the chosen frame range, and
// the slider's hint.
struct RangeBar {
    bool visible = false;
    PixelRect rect;  // the width may be negative when stop lies before start
    std::string hint;
};

// From the start and stop fields as they stand (defaults 1 and frame_count,
// not clamped), with 10 pixels of margin at each end of the slider. A clip
// of one frame gives a bar of width 0 at the left.
RangeBar selected_frames_bar(const VideoParameters& parameters, int frame_count,
                             const PixelRect& slider);

}  // namespace tintora
