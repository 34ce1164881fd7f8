#pragma once

#include <filesystem>

#include "core/common/result.hpp"
#include "core/video/command_runner.hpp"

namespace tintora {

// Makes a demo project in folder: a synthetic panorama whose brightness
// falls off across the place the clip goes, a short clip made by the encoder
// from its test sources (too dark for that place), and a project that lays
// the clip's frame there with a few pairs already sampled. Returns the
// project file's path. The encoder stops when keep_running says so.
Result<std::filesystem::path> make_demo_project(const std::filesystem::path& folder,
                                                const std::filesystem::path& ffmpeg,
                                                const KeepRunning& keep_running = {});

}  // namespace tintora
