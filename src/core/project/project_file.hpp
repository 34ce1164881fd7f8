#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/result.hpp"
#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// The state a project is made of: the main window's composition and lists,
// the correction grid and the video workspace.
struct ProjectState {
    Composition& composition;
    CorrectionGrid& grid;
    VideoWorkspace& workspace;
};

// The project file's text: the 28 key lines in their order, the nine
// AREA_POINT lines and one tab-separated POINT line per pair; then, when the
// grid is in colour mode or has channel pairs, COLOR_MODE and one POINT_R,
// POINT_G or POINT_B line per channel pair, in the same form; then the
// POSTER_IMAGE line; then, each only when it is not the default, QUALITY,
// the panorama's PANORAMA_HFOV, _VFOV, _YAW and _PITCH, MESH_MODEL,
// EDGE_BLEND, and TRACK_LIGHT=1 with TRACK_LIGHT_FRAME (the frame whose
// light the curves fit) when the clip's light is followed. Each line is
// ended by CR LF.
std::string format_project(const Composition& composition, const CorrectionGrid& grid,
                           const VideoWorkspace& workspace);

// Writes the project through a temporary file, so a failed save leaves the
// old file whole.
Status save_project(const std::filesystem::path& path, const Composition& composition,
                    const CorrectionGrid& grid, const VideoWorkspace& workspace);

// Opening the background and the clip as their menus do, without dialogs:
// the window's loaders report a failure to the user, the command line's on
// its error output. The replay goes on with the next line either way.
class ProjectLoaders {
public:
    virtual ~ProjectLoaders() = default;
    virtual void open_background(const std::filesystem::path& path) = 0;
    virtual void open_video(const std::filesystem::path& path) = 0;
};

// Replays a project's text line by line, in file order: every pair is
// cleared first; each line that starts with a key takes effect as its
// control would; the background and the clip are opened by the loaders
// (an empty clip name closes the clip). Then the tables are rebuilt from
// the pairs, a stop frame beyond the clip's frames (an import cancelled
// part-way) pulled to its last, and the workspace's result picture and
// selection redrawn. Any
// bytes are safe: lines of any length, CR LF or LF, a last line without a
// break, numbers out of range (pair and area lines outside the grid or
// 0..255 are skipped).
void replay_project(std::string_view text, ProjectState state, ProjectLoaders& loaders);

// Reads a project file and replays it; nothing changes when it cannot be read.
Status open_project(const std::filesystem::path& path, ProjectState state, ProjectLoaders& loaders);

// What "New project" resets: the lists, the background, the clip (counted
// as closed) and the workspace's settings; the grid, the file names, the
// effects and the input rate stay.
void reset_project(ProjectState state);

// The MESH_MODEL value of a model: "Bilinear" or "Perspective".
std::string_view mesh_model_text(MeshModel model);

// The COLOR_MODE value of a mode, "Brightness" or "Colour", and back
// (nothing for any other text).
std::string_view correction_mode_text(CorrectionMode mode);
std::optional<CorrectionMode> correction_mode_from_text(std::string_view text);

// A number as C's "%i" reads it: blanks skipped, an optional sign, then
// hexadecimal after 0x, octal after a leading 0, decimal otherwise. Returns
// the characters read (0 when no number starts here); out of the 32-bit
// range is no number.
std::size_t scan_integer(std::string_view text, std::int32_t& value);

}  // namespace tintora
