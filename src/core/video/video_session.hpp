#pragma once

#include <cstdint>
#include <filesystem>

#include "core/correction/frame.hpp"

namespace tintora {

// The video workspace's state, one record for the whole run of the program.
// The names are those of the rules that read and write them.
struct VideoSession {
    std::int32_t FrameCount = 0;    // extracted frames in WorkDir; 0: no video
    std::int32_t CurrentFrame = 0;  // the frame shown, 1-based; 0 before the first import
    double InputFps = 0.0;
    double OutputFps = 25.0;
    std::int32_t InputWidth = 0;  // the frame file, before rotation
    std::int32_t InputHeight = 0;
    std::int32_t FrameWidth = 0;  // the frame shown, after rotation
    std::int32_t FrameHeight = 0;
    std::int32_t CutX = 0;
    std::int32_t CutY = 0;
    std::int32_t CutWidth = 0;
    std::int32_t CutHeight = 0;
    std::int32_t ResampleWidth = 0;
    std::int32_t ResampleHeight = 0;
    std::int32_t GrabX = 0;  // where a move of the selection rectangle took hold of it
    std::int32_t GrabY = 0;
    std::int32_t StartFrame = 0;
    std::int32_t StopFrame = 0;
    std::int32_t RunFrame = 0;
    std::int32_t RunMode = 0;  // 0 idle, 1 video export run, 2 JPEG-sequence export run
    std::int32_t Volume = 255;
    bool FrameBusy = false;  // re-entrancy guard of the run and of selection moves
    std::filesystem::path SourceFramePath;
    std::filesystem::path TargetFramePath;

    // The clip of the last import, read again by playback and the exports,
    // and whether its description lists a sound stream.
    std::filesystem::path clip_path;
    bool clip_has_sound = false;
    // The project file opened or saved last: no export may write over it.
    std::filesystem::path project_path;
    // The file name the exports' save dialog keeps from one export to the next.
    std::filesystem::path save_path;
    // The frame slider: its position is the frame shown.
    std::int32_t track_position = 1;
    std::int32_t track_maximum = 1;

    // The current frame after rotation (the source view's picture), and after
    // cut, resampling, mirrors and colour transformation (the result view's
    // picture, which the main window draws onto the background).
    Frame source_picture;
    Frame result_picture;
};

}  // namespace tintora
