#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/common/result.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"
#include "core/correction/light_gains.hpp"
#include "core/video/output_chain.hpp"

namespace tintora {

// The frame as the rotation button turns it; "0" hands the frame on as it is.
Frame rotate_for_output(Frame decoded, int angle);

// What a processing run does to every frame, fixed when the run starts.
struct FrameSettings {
    int rotation_angle = 0;
    OutputSteps steps;  // a run always cuts and resamples
};

// One frame of a processing run: rotated, cut, resampled, mirrored, every
// pixel corrected with the grid spread over the output frame, then turned
// grey or inverse.
Frame process_frame(Frame decoded, const FrameSettings& settings, const CorrectionGrid& grid);
// The same with the frame brought to the reference light (see
// correct_frame_under_light) just before its correction, where the grid
// meets it, so that the preview, which corrects the frame it shows, gives
// the same bytes.
Frame process_frame(Frame decoded, const FrameSettings& settings, const CorrectionGrid& grid,
                    const LightGains& light);

// Reads a frame file and processes it. A file that cannot be read or
// decoded is an error naming it.
Result<Frame> process_frame_from_file(const std::filesystem::path& source,
                                      const FrameSettings& settings, const CorrectionGrid& grid,
                                      const LightGains& light = {});

// Reads a frame file, processes it and encodes it as JPEG at quality 90.
// A file that cannot be read or decoded is an error naming it.
Result<std::vector<std::uint8_t>> process_frame_file(const std::filesystem::path& source,
                                                     const FrameSettings& settings,
                                                     const CorrectionGrid& grid,
                                                     const LightGains& light = {});

}  // namespace tintora
