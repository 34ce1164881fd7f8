#pragma once

#include <filesystem>

#include "core/common/result.hpp"
#include "core/video/command_runner.hpp"

namespace tintora {

// The demo clip: a few seconds of the demo panorama's wall as another camera
// saw it, at 29.97 frames a second (30000/1001) with the sound of wind.
inline constexpr int kDemoClipWidth = 640;
inline constexpr int kDemoClipHeight = 360;
inline constexpr int kDemoFrameCount = 75;

// The frame pixels a flag waves over, right and bottom exclusive, with a
// margin for the blur of compression. Every other pixel shows the wall
// exactly where the demo project's mesh lays it.
struct DemoBox {
    int left;
    int top;
    int right;
    int bottom;
};
inline constexpr DemoBox kDemoFlagReach{396, 4, 604, 140};

// Makes a demo project in folder: a textured equirectangular panorama (2:1)
// of a street with a wall lit from the left, a clip of that wall seen by
// another camera (darker toward the right, with a colour cast, another tone
// response and sensor noise, a flag waving in front of it) made by the
// encoder from frames fed to it, and a project that lays the clip's frame
// on the wall through a mesh that puts each frame pixel on the panorama
// pixel it shows, in colour mode and not yet matched. Returns the project
// file's path. The encoder stops when keep_running says so.
Result<std::filesystem::path> make_demo_project(const std::filesystem::path& folder,
                                                const std::filesystem::path& ffmpeg,
                                                const KeepRunning& keep_running = {});

}  // namespace tintora
