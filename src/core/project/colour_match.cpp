#include "core/project/colour_match.hpp"

#include <new>
#include <vector>

#include "core/settings/texts.hpp"
#include "core/video/light_following.hpp"
#include "core/video/matching_frames.hpp"

namespace tintora {

ColourMatchReport match_project_colours(ProjectState state, const std::filesystem::path& work_dir,
                                        const ColourMatchRequest& request,
                                        const std::function<bool()>& keep_running) {
    ColourMatchReport report;
    const Composition& composition = state.composition;
    const VideoWorkspace& workspace = state.workspace;
    if (!composition.background_loaded()) {
        report.problem = MatchProblem::NoBackground;
        return report;
    }
    const bool clip_open = workspace.session().FrameCount > 0;
    const bool shown_frame = request.frame_count <= 0;
    std::vector<int> numbers;
    if (clip_open && !shown_frame) {
        const FrameRange range = matching_range(workspace);
        numbers = frames_over_range(range.start, range.stop, request.frame_count);
        // Frames asked for to follow the clip, and one frame to look at.
        if (request.frame_count > 1 && numbers.size() == 1) {
            report.problem = MatchProblem::OneFrameRange;
            return report;
        }
        if (std::optional<std::string> refused = workspace.frames_refusal()) {
            report.problem = MatchProblem::ForeignFrames;
            report.frame_error = std::move(*refused);
            return report;
        }
    }
    // Following the light: the track of the run's span, its reference the
    // frame shown, which the curves are fitted in.
    const int reference = workspace.session().CurrentFrame;
    const LightFollowing following{request.track_light, reference};
    LightTrack track;
    if (request.track_light && clip_open) {
        LightPassOutcome pass =
            follow_workspace_light(workspace, reference, work_dir,
                                   [&](int, int) { return !keep_running || keep_running(); });
        if (pass.problem != LightPassProblem::None) {
            report.problem = pass.problem == LightPassProblem::Cancelled
                                 ? MatchProblem::Cancelled
                                 : MatchProblem::FrameUnreadable;
            report.light_problem = pass.problem;
            report.light_error = std::move(pass.error);
            return report;
        }
        track = std::move(pass.track);
    }
    const MatchFrameLight light = [&](int index) {
        return shown_frame ? LightGains{}
                           : track.gains(numbers[static_cast<std::size_t>(index)], reference);
    };
    const int count = !clip_open ? 0 : shown_frame ? 1 : static_cast<int>(numbers.size());
    const MatchFrameSource frames = [&](int index) -> Result<Frame> {
        if (shown_frame) return workspace.session().result_picture;
        return load_result_frame(workspace, work_dir, numbers[static_cast<std::size_t>(index)]);
    };
    MatchOutcome outcome;
    try {
        // Paired where the composition lays the frame, by its mesh model.
        const MatchBackground background{
            &composition.background_image(), composition.choices.rotation_index,
            composition.choices.panorama, composition.mesh_warp_maker()};
        outcome =
            match_colours(state.grid, request.mode, count, frames, background, keep_running, light);
    } catch (const std::bad_alloc&) {
        report.problem = MatchProblem::NotEnoughMemory;
        return report;
    }
    report.problem = outcome.problem;
    report.frame_error = std::move(outcome.frame_error);
    report.frames = count;
    report.frames_moved = count_frames(outcome.registrations, FrameVerdict::MovedTooFar);
    report.frames_unlike = count_frames(outcome.registrations, FrameVerdict::Unlike);
    if (outcome.problem != MatchProblem::None) return report;
    report.fitted = outcome.result.fitted;
    state.grid = outcome.result.grid;
    state.workspace.light_following() = following;
    return report;
}

std::string match_report_text(const ColourMatchReport& report, std::string_view language) {
    using namespace message_texts;
    const auto text = [language](const TextPair& pair) {
        return std::string(message_text(pair, language));
    };
    if (report.light_problem != LightPassProblem::None) {
        return light_pass_text({report.light_problem, report.light_error, {}}, language);
    }
    switch (report.problem) {
        case MatchProblem::NoBackground:
            return text(kMatchNeedsBackground);
        case MatchProblem::NoClip:
            return text(kMatchNeedsVideo);
        case MatchProblem::FrameUnreadable:
            return text(kMatchCantReadFrame) + "\n" + report.frame_error;
        case MatchProblem::ForeignFrames:
            return report.frame_error;
        case MatchProblem::FramesTooSmall:
            return text(kMatchFramesTooSmall);
        case MatchProblem::Cancelled:
            return text(kMatchCancelled);
        case MatchProblem::FrameOffBackground:
            return text(kMatchFrameOffBackground);
        case MatchProblem::TooFewPixels:
            return text(kMatchTooFewPixels);
        case MatchProblem::NotEnoughMemory:
            return text(kMatchNotEnoughMemory);
        case MatchProblem::TooDark:
            return text(kMatchTooDark);
        case MatchProblem::TooClipped:
            return text(kMatchTooClipped);
        case MatchProblem::FramesDisagree:
            return text(kMatchFramesDisagree);
        case MatchProblem::OneFrameRange:
            return text(kMatchOneFrameRange);
        case MatchProblem::None:
            break;
    }
    const auto counted = [language](int count, const TextPair& one, const TextPair& many) {
        return count == 1 ? std::string(message_text(one, language))
                          : fill_in(message_text(many, language), {std::to_string(count)});
    };
    const int used = report.frames - report.frames_moved - report.frames_unlike;
    std::string said = fill_in(message_text(kMatchDone, language),
                               {counted(report.fitted, kOneCurve, kCurveCount),
                                counted(used, kOneFrame, kFrameCount)});
    const auto left_out = [&](int count, const TextPair& why) {
        if (count > 0) {
            said += fill_in(message_text(why, language),
                            {counted(count, kOneFrame, kFrameCount), std::to_string(report.frames)});
        }
    };
    left_out(report.frames_moved, kMatchLeftOutMoved);
    left_out(report.frames_unlike, kMatchLeftOutUnlike);
    return said;
}

}  // namespace tintora
