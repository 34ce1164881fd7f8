#pragma once

#include <cstdint>

#include "correction/frame.hpp"

namespace tintora {

// The video workspace's state shared with the other windows.
struct VideoSession {
    // Number of extracted frames; 0 means no video is loaded.
    std::int32_t FrameCount = 0;
    // 0 while no processing run is going.
    std::int32_t RunMode = 0;
    // The current frame after cut, resampling, mirrors and colour
    // transformation: what the main window draws onto the background.
    Frame result_picture;
};

}  // namespace tintora
