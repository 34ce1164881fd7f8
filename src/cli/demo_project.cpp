#include "cli/demo_project.hpp"

#include <algorithm>
#include <cmath>
#include <system_error>

#include "core/composition/composition.hpp"
#include "core/correction/curves.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/project/project_file.hpp"
#include "core/settings/settings_file.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr int kPanoramaWidth = 2048;
constexpr int kPanoramaHeight = 1024;
// Where the clip's frame goes on the panorama: a wall lit from the left.
constexpr int kWallLeft = 300;
constexpr int kWallTop = 380;
constexpr int kWallWidth = 480;
constexpr int kWallHeight = 270;

std::uint8_t to_byte(double v) { return static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0)); }

// Sky above the horizon, ground below, a lit wall whose brightness falls
// from left to right, and a few pillars so the panorama has something to
// place the mesh by.
Frame demo_panorama() {
    Frame frame(kPanoramaWidth, kPanoramaHeight);
    for (int y = 0; y < kPanoramaHeight; ++y) {
        for (int x = 0; x < kPanoramaWidth; ++x) {
            const double horizon = static_cast<double>(y) / kPanoramaHeight;
            double r, g, b;
            if (horizon < 0.5) {
                r = 120 + 100 * horizon;
                g = 160 + 80 * horizon;
                b = 230;
            } else {
                const double stripe = (x / 64 + y / 64) % 2 == 0 ? 0 : 12;
                r = 110 + stripe - 60 * (horizon - 0.5);
                g = 100 + stripe - 60 * (horizon - 0.5);
                b = 80 + stripe - 40 * (horizon - 0.5);
            }
            if (x % 256 < 10) r = g = b = 60;  // pillars
            const bool on_wall = x >= kWallLeft - 40 && x < kWallLeft + kWallWidth + 40 &&
                                 y >= kWallTop - 30 && y < kWallTop + kWallHeight + 30;
            if (on_wall) {
                const double lit = 1.0 - 0.65 * (x - (kWallLeft - 40)) / (kWallWidth + 80.0);
                r = 235 * lit;
                g = 225 * lit;
                b = 205 * lit;
            }
            std::uint8_t* p = frame.pixel(y, x);
            p[0] = to_byte(b);
            p[1] = to_byte(g);
            p[2] = to_byte(r);
        }
    }
    return frame;
}

}  // namespace

Result<fs::path> make_demo_project(const fs::path& folder, const fs::path& ffmpeg,
                                   const KeepRunning& keep_running) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return Error{"Cannot create \"" + folder.string() + "\": " + error.message()};
    const fs::path absolute = fs::absolute(folder, error).lexically_normal();
    const fs::path panorama = absolute / "panorama.jpg";
    const fs::path clip = absolute / "clip.mp4";
    const fs::path project = absolute / "demo.project";

    if (Status saved = save_jpeg(demo_panorama(), panorama); !saved) return Error{saved.error()};
    // Three seconds of the encoder's test picture, darkened: it does not
    // match the wall until it is corrected.
    const CommandResult made = run_command(
        {ffmpeg,
         {"-nostdin", "-y", "-f", "lavfi", "-i", "testsrc2=size=640x360:rate=25:duration=3", "-f",
          "lavfi", "-i", "sine=frequency=440:duration=3", "-shortest", "-vf",
          "eq=brightness=-0.25:contrast=0.8", "-pix_fmt", "yuv420p", path_argument(clip)},
         {}},
        keep_running);
    if (!made.succeeded()) {
        return Error{"Cannot make the demo clip with \"" + ffmpeg.string() +
                     "\": " + made.last_error_line()};
    }

    Composition composition;
    if (Status opened = composition.open_background(panorama); !opened) {
        return Error{opened.error()};
    }
    composition.choices.scale_index = 3;  // "50%": the whole panorama in view
    CorrectionGrid grid;
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.area_x[p] = kWallLeft + (p % 3) * kWallWidth / 2;
        grid.area_y[p] = kWallTop + (p / 3) * kWallHeight / 2;
    }
    // Pairs as sampling would give them: the video's middle greys against
    // the wall, brighter at the left points than at the right ones.
    for (int p = 0; p < kGridPointCount; ++p) {
        const int column = p % 3;
        grid.control_values[p][60] = 150 - 35 * column;
        grid.control_values[p][120] = 205 - 40 * column;
    }
    recalculate_color_tables(grid);
    grid.cur_point = 0;

    AppSettings settings;
    VideoWorkspace workspace(settings);
    VideoSession& session = workspace.session();
    session.clip_path = clip;
    session.track_position = 1;
    VideoParameters& parameters = workspace.parameters();
    parameters.text(ParameterField::StartFrame) = "1";
    parameters.text(ParameterField::StopFrame) = "75";
    parameters.text(ParameterField::OutputFps) = "25";
    parameters.text(ParameterField::Volume) = "255";
    if (Status saved = save_project(project, composition, grid, workspace); !saved) {
        return Error{saved.error()};
    }
    return project;
}

}  // namespace tintora
