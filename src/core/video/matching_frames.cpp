#include "core/video/matching_frames.hpp"

#include <algorithm>
#include <new>

#include "core/correction/jpeg_codec.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/output_chain.hpp"

namespace tintora {

std::vector<int> frames_over_range(int start, int stop, int count) {
    std::vector<int> frames;
    if (count < 1 || stop < start) return frames;
    const std::int64_t span = std::int64_t{stop} - start;
    for (int i = 0; i < count; ++i) {
        // Rounded to the nearest frame; one frame takes the middle.
        const std::int64_t offset =
            count == 1 ? span / 2 : (2 * span * i + (count - 1)) / (2 * (count - 1));
        const int frame = static_cast<int>(start + offset);
        if (frames.empty() || frames.back() != frame) frames.push_back(frame);
    }
    return frames;
}

FrameRange matching_range(const VideoWorkspace& workspace) {
    const int count = std::max(workspace.session().FrameCount, 1);
    const VideoParameters& parameters = workspace.parameters();
    const int start =
        std::clamp(read_whole_number(parameters.text(ParameterField::StartFrame), 1), 1, count);
    const int stop = std::clamp(
        read_whole_number(parameters.text(ParameterField::StopFrame), count), start, count);
    return {start, stop};
}

Result<Frame> load_result_frame(const VideoWorkspace& workspace,
                                const std::filesystem::path& work_dir, int frame) {
    const VideoParameters& parameters = workspace.parameters();
    const std::filesystem::path file = frame_file_path(work_dir, frame);
    try {
        Result<Frame> decoded = load_jpeg(file);
        if (!decoded) return Error{file.string() + ": " + decoded.error()};
        return render_output(
            rotate_for_output(std::move(decoded).value(), parameters.rotation_angle()),
            preview_steps(parameters));
    } catch (const std::bad_alloc&) {
        return Error{file.string() + ": not enough memory for the frame"};
    }
}

}  // namespace tintora
