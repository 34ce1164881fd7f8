#include "core/video/light_following.hpp"

#include "core/video/matching_frames.hpp"

namespace tintora {

LightSpan following_span(const VideoWorkspace& workspace, int reference) {
    const FrameRange range = matching_range(workspace);
    return light_span(range.start, range.stop, reference);
}

LightPassOutcome follow_workspace_light(const VideoWorkspace& workspace, int reference,
                                        const std::filesystem::path& work_dir,
                                        const std::function<bool(int done, int total)>& progress) {
    const std::optional<ImportStamp>& stamp = workspace.import_stamp();
    std::optional<std::string> refused = workspace.frames_refusal();
    if (!stamp || refused) {
        LightPassOutcome outcome;
        outcome.problem = LightPassProblem::FrameUnreadable;
        outcome.error = refused.value_or(std::string());
        return outcome;
    }
    return follow_clip_light(work_dir, *stamp, following_span(workspace, reference), progress);
}

std::shared_ptr<const LightTrack> followed_light(const VideoWorkspace& workspace,
                                                 const std::filesystem::path& work_dir) {
    if (!workspace.light_following().on || workspace.session().FrameCount <= 0) return nullptr;
    LightPassOutcome outcome =
        follow_workspace_light(workspace, workspace.light_following().reference_frame, work_dir);
    if (outcome.problem != LightPassProblem::None) return nullptr;
    return std::make_shared<const LightTrack>(std::move(outcome.track));
}

LightGains followed_gains(const VideoWorkspace& workspace, const LightTrack* track, int frame) {
    if (track == nullptr) return {};
    return track->gains(frame, workspace.light_following().reference_frame);
}

}  // namespace tintora
