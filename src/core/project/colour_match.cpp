#include "core/project/colour_match.hpp"

#include <new>
#include <vector>

#include "core/settings/texts.hpp"
#include "core/video/matching_frames.hpp"

namespace tintora {

ColourMatchReport match_project_colours(ProjectState state, const std::filesystem::path& work_dir,
                                        const ColourMatchRequest& request) {
    ColourMatchReport report;
    const Composition& composition = state.composition;
    const VideoWorkspace& workspace = state.workspace;
    if (!composition.background_loaded()) {
        report.problem = MatchProblem::NoBackground;
        return report;
    }
    std::vector<Frame> frames;
    if (workspace.session().FrameCount > 0) {
        if (request.frame_count <= 0) {
            frames.push_back(workspace.session().result_picture);
        } else {
            const FrameRange range = matching_range(workspace);
            const std::vector<int> numbers =
                frames_over_range(range.start, range.stop, request.frame_count);
            Result<std::vector<Frame>> loaded = load_result_frames(workspace, work_dir, numbers);
            if (!loaded) {
                report.problem = MatchProblem::NoClip;
                report.frame_error = loaded.error();
                return report;
            }
            frames = std::move(loaded).value();
        }
    }
    MatchOutcome outcome;
    try {
        outcome =
            match_colours(state.grid, request.mode, frames,
                          {&composition.background_image(), composition.choices.rotation_index});
    } catch (const std::bad_alloc&) {
        report.problem = MatchProblem::NotEnoughMemory;
        return report;
    }
    report.problem = outcome.problem;
    report.frames = static_cast<int>(frames.size());
    if (outcome.problem != MatchProblem::None) return report;
    report.fitted = outcome.result.fitted;
    state.grid = outcome.result.grid;
    return report;
}

std::string match_report_text(const ColourMatchReport& report, std::string_view language) {
    using namespace message_texts;
    const auto text = [language](const TextPair& pair) {
        return std::string(message_text(pair, language));
    };
    switch (report.problem) {
        case MatchProblem::NoBackground:
            return text(kMatchNeedsBackground);
        case MatchProblem::NoClip:
            return report.frame_error.empty()
                       ? text(kMatchNeedsVideo)
                       : text(kMatchCantReadFrame) + "\n" + report.frame_error;
        case MatchProblem::FrameOffBackground:
            return text(kMatchFrameOffBackground);
        case MatchProblem::TooFewPixels:
            return text(kMatchTooFewPixels);
        case MatchProblem::NotEnoughMemory:
            return text(kMatchNotEnoughMemory);
        case MatchProblem::None:
            break;
    }
    return fill_in(message_text(kMatchDone, language),
                   {std::to_string(report.fitted), std::to_string(report.frames)});
}

}  // namespace tintora
