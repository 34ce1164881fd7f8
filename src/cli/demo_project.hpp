#pragma once

#include <filesystem>

#include "core/common/result.hpp"

namespace tintora {

// Makes a demo project in folder: a synthetic panorama whose brightness
// falls off across the place the clip goes, a short clip made by the encoder
// from its test sources (too dark for that place), and a project that lays
// the clip's frame there with a few pairs already sampled. Returns the
// project file's path.
Result<std::filesystem::path> make_demo_project(const std::filesystem::path& folder,
                                                const std::filesystem::path& ffmpeg);

}  // namespace tintora
