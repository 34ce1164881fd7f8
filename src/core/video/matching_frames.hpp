#pragma once

#include <filesystem>
#include <span>
#include <vector>

#include "core/common/result.hpp"
#include "core/correction/frame.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// The frames a colour match looks at besides the one shown: `count` frame
// numbers spread evenly over start..stop, both ends included when count is
// two or more, the middle one when it is one; never the same frame twice.
std::vector<int> frames_over_range(int start, int stop, int count);

// The range the start and stop fields give, read by the rules the run reads
// them with and held inside the clip, without changing the fields.
struct FrameRange {
    int start = 1;
    int stop = 1;
};
FrameRange matching_range(const VideoWorkspace& workspace);

// The result picture of a frame, as the result preview makes it from the
// frame file in the working folder: rotated, cut, resampled, mirrored and
// grey or inverse. A frame that cannot be read is an error naming it.
Result<Frame> load_result_frame(const VideoWorkspace& workspace,
                                const std::filesystem::path& work_dir, int frame);

}  // namespace tintora
