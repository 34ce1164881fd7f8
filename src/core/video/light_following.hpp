#pragma once

#include <filesystem>
#include <functional>
#include <memory>

#include "core/video/light_track.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// Following the light of the workspace's clip, as the match, the preview,
// play in panorama and every export read it, so that they all take the
// same track: the span of the start and stop fields (read as the run reads
// them) widened to the reference frame.
LightSpan following_span(const VideoWorkspace& workspace, int reference);

// The track of that span, from its cache or by a pass (see
// follow_clip_light). Frames that are not the clip's (another import's in
// the folder) are unreadable for it.
LightPassOutcome follow_workspace_light(
    const VideoWorkspace& workspace, int reference, const std::filesystem::path& work_dir,
    const std::function<bool(int done, int total)>& progress = {});

// What the run and the preview take: the track when the workspace follows
// the light and its pass succeeds; none otherwise (frames as they are).
std::shared_ptr<const LightTrack> followed_light(const VideoWorkspace& workspace,
                                                 const std::filesystem::path& work_dir);

// The gains of one frame of the workspace's clip under that track.
LightGains followed_gains(const VideoWorkspace& workspace, const LightTrack* track, int frame);

}  // namespace tintora
