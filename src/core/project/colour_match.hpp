#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "core/common/text_pair.hpp"
#include "core/composition/colour_matching.hpp"
#include "core/project/project_file.hpp"
#include "core/video/light_track.hpp"

namespace tintora {

// "Match colours" on a whole project, for the windows and the command line.
struct ColourMatchRequest {
    CorrectionMode mode = CorrectionMode::Brightness;
    // Frames spread over the range of the start and stop fields; 0 matches
    // the frame shown (the workspace's result picture).
    int frame_count = 0;
    // Follow the clip's light: each frame's pairs are first brought to the
    // light of the frame shown, which becomes the reference of the run.
    bool track_light = false;
};

struct ColourMatchReport {
    MatchProblem problem = MatchProblem::None;
    // A frame that could not be read (FrameUnreadable), or why the working
    // folder's frames are not the clip's (ForeignFrames).
    std::string frame_error;
    int fitted = 0;           // curves replaced
    int frames = 0;           // frames looked at
    // Of those, left out: the camera had moved further than the match
    // follows, or the frame is unlike the background under the mesh.
    int frames_moved = 0;
    int frames_unlike = 0;
    // Following the light: its pass did not end well (with the match's
    // problem Cancelled or FrameUnreadable), and why.
    LightPassProblem light_problem = LightPassProblem::None;
    std::string light_error;
};

// Matches the curves of the request's mode over the frames against the
// background under the mesh and, on success, puts the matched grid in
// place in one assignment (that mode chosen, the tables rebuilt), and
// following the light turned on or off as asked, from the frame shown. The frames
// are read one at a time from the working folder, once they are known to be
// the clip's; keep_running is asked between them. Several frames asked for
// over a range of one is a problem (OneFrameRange). On any problem the grid
// is left exactly as it was.
ColourMatchReport match_project_colours(ProjectState state, const std::filesystem::path& work_dir,
                                        const ColourMatchRequest& request,
                                        const std::function<bool()>& keep_running = {});

// What to tell the user about a report, in either language: the problem,
// or what was matched and which frames were left out, and why.
std::string match_report_text(const ColourMatchReport& report, std::string_view language);

}  // namespace tintora
