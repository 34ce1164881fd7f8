#include "core/project/colour_match.hpp"

#include <gtest/gtest.h>

#include <string>

#include "core/correction/frame_transforms.hpp"
#include "core/settings/texts.hpp"
#include "support/colour_scene.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

// A project whose clip shows `shown` and has frame_count frames from start
// to stop, over the textured place's background and mesh.
struct Project {
    Composition composition;
    CorrectionGrid grid;
    AppSettings settings;
    VideoWorkspace workspace{settings};

    Project(const test::ColourClip& place, Frame shown, int frame_count, const char* start,
            const char* stop) {
        composition.set_background(place.background);
        grid = place.grid;
        workspace.session().FrameCount = frame_count;
        workspace.session().result_picture = std::move(shown);
        workspace.parameters().text(ParameterField::StartFrame) = start;
        workspace.parameters().text(ParameterField::StopFrame) = stop;
    }
    ProjectState state() { return {composition, grid, workspace}; }
};

Frame left_to_right(const Frame& frame) {
    Frame mirrored;
    mirror_columns(frame, mirrored);
    return mirrored;
}

// What cannot be measured is said in both languages, and the grid stays as
// it was.
TEST(MatchProjectColours, BadInputIsSaidAndChangesNothing) {
    test::ColourClipOptions options;
    options.frame_count = 1;
    const test::ColourClip place = test::make_colour_clip(options);
    const struct {
        const char* name;
        Frame shown;
        int frames_asked;  // 0: the frame shown
        const char* start;
        const char* stop;
        MatchProblem problem;
        TextPair text;
    } cases[] = {
        {"a range of one frame", place.frames[0], 5, "7", "7", MatchProblem::OneFrameRange,
         message_texts::kMatchOneFrameRange},
        {"too dark", test::uniform_frame(320, 200, 6, 9, 12), 0, "1", "10", MatchProblem::TooDark,
         message_texts::kMatchTooDark},
        {"too clipped", test::uniform_frame(320, 200, 255, 255, 255), 0, "1", "10",
         MatchProblem::TooClipped, message_texts::kMatchTooClipped},
        {"unlike the background", left_to_right(place.frames[0]), 0, "1", "10",
         MatchProblem::FramesDisagree, message_texts::kMatchFramesDisagree},
    };
    for (const auto& c : cases) {
        Project project(place, c.shown, 10, c.start, c.stop);
        const CorrectionGrid before = project.grid;
        const ColourMatchReport report = match_project_colours(
            project.state(), "/nonexistent", {CorrectionMode::Colour, c.frames_asked});
        EXPECT_EQ(report.problem, c.problem) << c.name;
        EXPECT_EQ(project.grid, before) << c.name;
        EXPECT_EQ(match_report_text(report, "eng"), c.text.eng) << c.name;
        EXPECT_EQ(match_report_text(report, "rus"), c.text.rus) << c.name;
    }
}

// Frames left out are counted, with why, after what was matched.
TEST(MatchReportText, SaysWhichFramesWereLeftOut) {
    ColourMatchReport report;
    report.fitted = 27;
    report.frames = 5;
    report.frames_moved = 1;
    report.frames_unlike = 2;
    EXPECT_EQ(match_report_text(report, "eng"),
              "Colours matched: 27 curves over 2 frames. 1 frame of 5 left out: the camera had "
              "moved too far from where the mesh puts the frame. 2 frames of 5 left out: unlike "
              "the background under the mesh (covered by something, or another place).");
    EXPECT_EQ(match_report_text(report, "rus"),
              "Цвета подобраны: кривых 27, кадров 2. Пропущено кадров: 1 из 5 — камера ушла "
              "слишком далеко от места, куда кадр ставит сетка. Пропущено кадров: 2 из 5 — не "
              "похожи на фон под сеткой (что-то заслоняет, или другое место).");
}

}  // namespace
}  // namespace tintora
