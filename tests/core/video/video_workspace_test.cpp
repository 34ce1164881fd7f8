// The video workspace without a window: the selection geometry, the range
// bar and layout, the preview chain, and the handlers on frames in a
// working folder.
#include "core/video/video_workspace.hpp"

#include <gtest/gtest.h>

#include <random>

#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/output_chain.hpp"
#include "core/video/video_layout.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

void expect_rect(const PixelRect& r, int left, int top, int width, int height) {
    EXPECT_EQ(r.left, left);
    EXPECT_EQ(r.top, top);
    EXPECT_EQ(r.width, width);
    EXPECT_EQ(r.height, height);
}

void expect_cut_fields(const VideoParameters& p, const char* x, const char* y, const char* w,
                       const char* h) {
    EXPECT_EQ(p.text(Field::CutX), x);
    EXPECT_EQ(p.text(Field::CutY), y);
    EXPECT_EQ(p.text(Field::CutWidth), w);
    EXPECT_EQ(p.text(Field::CutHeight), h);
}

// A 640 by 480 frame shown in an 800 by 300 view.
struct SelectionFixture : testing::Test {
    VideoSession session;
    VideoParameters parameters;
    SelectionShape shape;
    SelectionFixture() {
        session.FrameCount = 1;
        session.FrameWidth = 640;
        session.FrameHeight = 480;
    }
};

TEST_F(SelectionFixture, DrawAndRecalculateFollowTheDisplayScale) {
    EXPECT_EQ(display_geometry(640, 480, 800, 300, Precision::Single).width, 400);
    EXPECT_EQ(display_geometry(640, 480, 800, 300, Precision::Double).width, 399);
    EXPECT_EQ(display_geometry(640, 480, 800, 300, Precision::Single).scale, 0.625);
    EXPECT_EQ(display_geometry(0, 480, 800, 300, Precision::Single).scale, 0.0);

    parameters.text(Field::CutX) = "100";
    parameters.text(Field::CutY) = "50";
    parameters.text(Field::CutWidth) = "320";
    parameters.text(Field::CutHeight) = "240";
    draw_selection(session, parameters, shape, 800, 300);
    EXPECT_TRUE(shape.visible);
    expect_rect(shape.rect, 62, 31, 200, 150);
    recalculate_selection(session, parameters, shape, 800, 300);
    expect_cut_fields(parameters, "99", "49", "320", "240");
    EXPECT_EQ(session.CutX, 99);
}

TEST_F(SelectionFixture, DrawClampsOnePixelInsideAndMendsNegativeSides) {
    select_all_area(session, parameters, shape, 800, 300);
    expect_cut_fields(parameters, "0", "0", "639", "479");
    parameters.text(Field::CutX) = "636";
    parameters.text(Field::CutWidth) = "4";
    parameters.text(Field::CutHeight) = "-9";
    draw_selection(session, parameters, shape, 800, 300);
    expect_cut_fields(parameters, "636", "0", "3", "4");
    clear_area_selection(session, parameters, shape, 800, 300);
    EXPECT_FALSE(shape.visible);
    expect_cut_fields(parameters, "", "", "", "");
    EXPECT_EQ(session.CutWidth, 640);
    draw_selection(session, parameters, shape, 800, 300);
    expect_cut_fields(parameters, "0", "0", "639", "479");
    session.FrameCount = 0;
    draw_selection(session, parameters, shape, 800, 300);
    EXPECT_FALSE(shape.visible);
}

TEST_F(SelectionFixture, RecalculatedCornerStaysTwoPixelsInside) {
    shape.rect = {399, 299, 10, 10};
    recalculate_selection(session, parameters, shape, 800, 300);
    expect_cut_fields(parameters, "638", "478", "2", "2");
}

// The handlers over the view, on a workspace whose frame needs no file.
struct MouseFixture : testing::Test {
    AppSettings settings;
    VideoWorkspace workspace{settings};
    MouseFixture() {
        VideoSession& s = workspace.session();
        s.FrameCount = 1;
        s.FrameWidth = 640;
        s.FrameHeight = 480;
        s.source_picture = Frame(640, 480);
        workspace.set_view_size(800, 300);
    }
};

TEST_F(MouseFixture, PressDragAndReleaseDrawANewRectangle) {
    // The press uses the single-precision width (400), the move the double one (399).
    workspace.press_on_source(399, 10, true);
    EXPECT_TRUE(workspace.selection().visible);
    expect_rect(workspace.selection().rect, 397, 8, 2, 2);
    workspace.move_on_source(399, 20, true);
    expect_rect(workspace.selection().rect, 397, 8, 2, 2);
    EXPECT_EQ(workspace.status_panel(kCursorPanel), "");
    workspace.release_on_source(0, 0, true);
    workspace.press_on_source(100, 100, true);
    workspace.move_on_source(50, 40, true);  // up and left of the press
    expect_rect(workspace.selection().rect, 98, 98, -48, -58);
    EXPECT_EQ(workspace.status_panel(kCursorPanel), "Cursor: x=80  y=64");
    workspace.release_on_source(50, 40, true);
    expect_rect(workspace.selection().rect, 50, 40, 48, 58);
    expect_cut_fields(workspace.parameters(), "80", "64", "76", "92");
}

TEST_F(MouseFixture, PressInsideTheRectangleMovesItAndKeepsTheStoredSize) {
    workspace.parameters().text(Field::CutWidth) = "320";
    workspace.parameters().text(Field::CutHeight) = "240";
    workspace.draw_selection();  // 0, 0, 200, 150 in the view
    workspace.press_on_source(10, 10, true);
    EXPECT_TRUE(workspace.drag_cursor_at(10, 10));
    workspace.move_on_source(60, 30, true);
    expect_rect(workspace.selection().rect, 50, 20, 200, 150);
    expect_cut_fields(workspace.parameters(), "80", "32", "320", "240");
    workspace.move_on_source(1000, 30, true);  // held at the displayed width
    EXPECT_EQ(workspace.selection().rect.left, 199);
    EXPECT_EQ(workspace.session().CutWidth, 320);
    workspace.release_on_source(1000, 30, true);
    EXPECT_EQ(workspace.selection().rect.left, 199);  // the rectangle has no release rule
}

TEST_F(MouseFixture, ARectangleWiderThanThePictureGoesNegative) {
    workspace.press_on_source(10, 10, true);
    workspace.release_on_source(500, 200, true);  // released beyond the picture
    workspace.press_on_source(20, 20, true);
    workspace.move_on_source(21, 20, true);
    EXPECT_EQ(workspace.selection().rect.left, 399 - 492);
}

TEST(RangeBarAndLayout, FollowTheSliderAndTheWindow) {
    VideoParameters parameters;
    const PixelRect slider{4, 500, 780, 30};
    parameters.text(Field::StartFrame) = "5";
    parameters.text(Field::StopFrame) = "5";
    RangeBar bar = selected_frames_bar(parameters, 9, slider);
    EXPECT_TRUE(bar.visible);
    EXPECT_EQ(bar.rect.left, 4 + 10 + 760 * 4 / 8);
    EXPECT_EQ(bar.rect.top, 530);
    EXPECT_EQ(bar.rect.width, 0);
    EXPECT_EQ(bar.hint, "Start: 5, stop: 5");
    parameters.text(Field::StartFrame) = "";
    parameters.text(Field::StopFrame) = "";
    bar = selected_frames_bar(parameters, 1, slider);  // one frame: nothing to divide
    EXPECT_EQ(bar.rect.left, 14);
    EXPECT_EQ(bar.rect.width, 0);
    EXPECT_FALSE(selected_frames_bar(parameters, 0, slider).visible);

    const VideoLayout layout = video_layout(977, 700);
    EXPECT_EQ(layout.buttons_left, 100);
    EXPECT_EQ(layout.pages.width, 957);
    EXPECT_EQ(layout.view_height, 700 - 240);
    EXPECT_EQ(layout.track.top, 570);
    EXPECT_EQ(layout.buttons_top, 500);
}

// The chain with a copy at every step, as the steps are written.
Frame plain_chain(const Frame& rotated, const OutputSteps& steps, const CorrectionGrid* grid) {
    Frame a;
    Frame b = rotated;
    if (steps.cut) {
        // A selection's W - 1 by H - 1 of the whole frame is the whole frame.
        const bool to_right = steps.cut->x + steps.cut->width == rotated.width() - 1;
        const bool to_bottom = steps.cut->y + steps.cut->height == rotated.height() - 1;
        cut_frame(b, steps.cut->x, steps.cut->y, steps.cut->width + to_right,
                  steps.cut->height + to_bottom, a);
    } else {
        copy_frame(b, a);
    }
    if (steps.resample) {
        b.resize(steps.resample->width, steps.resample->height);
        resample_frame(a, b);
    } else {
        copy_frame(a, b);
    }
    if (steps.mirror_rows)
        mirror_rows(b, a);
    else
        copy_frame(b, a);
    if (steps.mirror_columns)
        mirror_columns(a, b);
    else
        copy_frame(a, b);
    if (grid != nullptr) test::correct_frame_reference(b, *grid);
    if (steps.color_transformation == kGrayscale) to_grayscale(b);
    if (steps.color_transformation == kInverse) invert_frame(b);
    return b;
}

TEST(OutputChain, SkipsIdleStepsWithoutChangingAByte) {
    std::mt19937 random(7);
    const CorrectionGrid grid = test::random_grid(random);
    // Rows padded (37 pixels) and not (36): the last row's end must not be over-read.
    for (const int width : {37, 36}) {
        const Frame rotated = test::random_frame(width, 23, random);
        for (int mask = 0; mask < 128; ++mask) {
            OutputSteps steps;
            // The cut reaches outside the frame and is clipped to 34 (or 33) by
            // 21: the resample to 34 by 21 is then idle (or adds one column).
            // The other cut is the selection of the whole frame after an
            // import (0, 0, W - 1, H - 1): the frame stays whole.
            const bool corner = mask & 64;
            if (mask & 1) {
                steps.cut = corner ? OutputSteps::Rect{0, 0, width - 1, 22}
                                   : OutputSteps::Rect{3, 2, 40, 40};
            }
            if (mask & 2) {
                steps.resample = mask & 1 ? (corner ? OutputSteps::Size{width, 23}
                                                    : OutputSteps::Size{34, 21})
                                          : OutputSteps::Size{20, 19};
            }
            steps.mirror_rows = mask & 4;
            steps.mirror_columns = mask & 8;
            steps.color_transformation = (mask >> 4) % 3;
            const bool corrected = mask & 32;
            const Frame expected = plain_chain(rotated, steps, corrected ? &grid : nullptr);
            EXPECT_EQ(render_output(rotated, steps, corrected ? &grid : nullptr), expected)
                << "steps " << mask << ", width " << width;
            EXPECT_EQ(render_output(Frame(rotated), steps, corrected ? &grid : nullptr), expected)
                << "frame given up, steps " << mask << ", width " << width;
        }
    }
}

TEST(OutputChain, PreviewReadsCompleteFieldsOnly) {
    VideoParameters parameters;
    parameters.text(Field::CutX) = "1";
    parameters.text(Field::CutY) = "2";
    parameters.text(Field::CutWidth) = "3";
    EXPECT_FALSE(preview_steps(parameters).cut.has_value());
    parameters.text(Field::CutHeight) = "4";
    EXPECT_TRUE(preview_steps(parameters).cut.has_value());
    parameters.text(Field::ResampleWidth) = "99999";  // typed, not yet left
    EXPECT_FALSE(preview_steps(parameters).resample.has_value());
    parameters.text(Field::ResampleHeight) = "10";
    EXPECT_EQ(preview_steps(parameters).resample->width, 2000);
}

// A working folder with numbered frames whose first pixel tells which
// frame they are.
class WorkspaceFramesTest : public testing::Test {
protected:
    void SetUp() override {
        settings_.work_dir = folder_.path();
        for (int n = 1; n <= kFrames; ++n) {
            ASSERT_TRUE(
                save_jpeg(test::uniform_frame(64, 48, 0, 0, static_cast<std::uint8_t>(n * 40)),
                          frame_file_path(folder_.path(), n)));
        }
        workspace_.set_view_size(320, 200);
    }

    ImportOutcome outcome(std::string info = "Stream #0:0: Video: h264, 64x48, 25 fps, 25 tbr") {
        ImportOutcome o;
        o.frame_count = kFrames;
        o.info_text = std::move(info);
        return o;
    }

    // The red byte of the frame shown, about 40 times its number.
    int shown_label() const {
        return (workspace_.session().source_picture.pixel(0, 0)[2] + 20) / 40;
    }

    static constexpr int kFrames = 5;
    test::TemporaryFolder folder_;
    AppSettings settings_;
    VideoWorkspace workspace_{settings_};
};

TEST_F(WorkspaceFramesTest, ImportOpensTheFirstFrameAsTheSourceTab) {
    workspace_.parameters().text(Field::Volume) = "7";
    ASSERT_TRUE(workspace_.finish_import("/clips/a b.mp4", outcome()));
    const VideoSession& s = workspace_.session();
    EXPECT_EQ(workspace_.caption(), "Video - /clips/a b.mp4");
    EXPECT_EQ(s.CurrentFrame, 1);
    EXPECT_EQ(s.track_maximum, kFrames);
    EXPECT_EQ(s.InputFps, 25.0);
    EXPECT_EQ(s.ResampleWidth, 64);
    EXPECT_EQ(workspace_.active_tab(), kSourceTab);
    const VideoParameters& p = workspace_.parameters();
    expect_cut_fields(p, "0", "0", "63", "47");
    EXPECT_EQ(p.text(Field::Volume), "255");
    EXPECT_EQ(p.text(Field::OutputFps), "25");
    EXPECT_EQ(p.text(Field::StopFrame), "5");
    EXPECT_EQ(workspace_.status_panel(kPositionPanel), "Position: 1 / 5");
    EXPECT_EQ(workspace_.status_panel(kInputPanel), "Input video: 64x48@25");
    EXPECT_EQ(shown_label(), 1);

    EXPECT_FALSE(workspace_.finish_import("/clips/x.mp4", outcome("no rate here")));
    EXPECT_EQ(workspace_.session().InputFps, 0.0);
}

TEST_F(WorkspaceFramesTest, NavigationStopsAtTheEndsAndPlaysFromTheFrameShown) {
    workspace_.finish_import("/clips/a.mp4", outcome());
    workspace_.go_to_previous();
    EXPECT_EQ(workspace_.session().CurrentFrame, 1);
    workspace_.go_to_end();
    workspace_.go_to_next();
    EXPECT_EQ(shown_label(), 5);
    workspace_.go_to_previous();
    EXPECT_EQ(workspace_.status_panel(kPositionPanel), "Position: 4 / 5");
    workspace_.mark_start_frame();
    EXPECT_EQ(workspace_.parameters().text(Field::StartFrame), "4");
    const std::optional<Command> play = workspace_.play_command();
    ASSERT_TRUE(play.has_value());
    EXPECT_EQ(play->arguments.back(), "0.160000");

    // A frame file that went missing keeps the picture shown.
    std::filesystem::remove(frame_file_path(folder_.path(), 5));
    workspace_.go_to_end();
    EXPECT_EQ(workspace_.session().CurrentFrame, 5);
    EXPECT_EQ(shown_label(), 4);
}

TEST_F(WorkspaceFramesTest, RotateMenuTurnsTheFrameAndSelectsItAll) {
    workspace_.finish_import("/clips/a.mp4", outcome());
    workspace_.rotate_from_menu(1);
    const VideoSession& s = workspace_.session();
    EXPECT_EQ(s.FrameWidth, 48);
    EXPECT_EQ(s.FrameHeight, 64);
    EXPECT_EQ(s.InputWidth, 64);
    // The fields read as the selection's rules write them; the output is
    // the whole turned frame.
    expect_cut_fields(workspace_.parameters(), "0", "0", "47", "63");
    EXPECT_EQ(s.result_picture.width(), 48);
    EXPECT_EQ(workspace_.status_panel(kOutputPanel), "Output video: 48x64@25");
}

TEST_F(WorkspaceFramesTest, StatusTextsFollowTheLanguage) {
    workspace_.finish_import("/clips/a.mp4", outcome());
    settings_.language = "rus";
    workspace_.change_tab(kParametersTab);
    EXPECT_EQ(workspace_.status_panel(kPositionPanel), "Положение: 1 / 5");
    EXPECT_EQ(workspace_.status_panel(kOutputPanel), "Результирующее видео: 64x48@25");
    EXPECT_EQ(workspace_.status_panel(kCursorPanel), "");
}

// The status bar follows the fields as they are left, not the next tab
// change; before any clip no frame is shown.
TEST_F(WorkspaceFramesTest, StatusFollowsTheFieldsAtOnceAndShowsNoFrameBeforeAClip) {
    workspace_.change_tab(kResultTab);
    EXPECT_EQ(workspace_.status_panel(kPositionPanel), "Position: 0 / 0");
    workspace_.finish_import("/clips/a.mp4", outcome());
    VideoParameters& p = workspace_.parameters();
    p.text(Field::OutputFps) = "30";
    workspace_.leave_field(Field::OutputFps);
    EXPECT_EQ(workspace_.status_panel(kOutputPanel), "Output video: 64x48@30");
    p.text(Field::CutWidth) = "20";
    workspace_.leave_field(Field::CutWidth);
    EXPECT_EQ(workspace_.status_panel(kOutputPanel), "Output video: 20x48@30");
}

// A project's stop frame beyond the frames an import kept (one cancelled
// part-way) is pulled to the last; other texts stay as they are.
TEST_F(WorkspaceFramesTest, StopFrameBeyondTheFramesKeptIsPulledToTheLast) {
    workspace_.finish_import("/clips/a.mp4", outcome());
    VideoParameters& p = workspace_.parameters();
    const struct {
        const char* start;
        const char* stop;
        const char* start_after;
        const char* stop_after;
    } cases[] = {{"2", "250", "2", "5"}, {"9", "250", "5", "5"}, {"2", "3", "2", "3"},
                 {"", "", "", ""},        {"1", "x", "1", "x"}};
    for (const auto& c : cases) {
        p.text(Field::StartFrame) = c.start;
        p.text(Field::StopFrame) = c.stop;
        workspace_.hold_stop_frame_within_clip();
        EXPECT_EQ(p.text(Field::StartFrame), c.start_after) << c.start << " " << c.stop;
        EXPECT_EQ(p.text(Field::StopFrame), c.stop_after) << c.start << " " << c.stop;
    }
}

TEST_F(WorkspaceFramesTest, NewProjectResetsTheTabAndClosesTheClip) {
    workspace_.finish_import("/clips/a.mp4", outcome());
    VideoParameters& p = workspace_.parameters();
    p.mirror_vertically = true;
    p.ping_pong = true;
    p.text(Field::Count) = "3";
    p.channels_index = 0;
    workspace_.reset_for_new_project();
    EXPECT_EQ(workspace_.session().FrameCount, 0);
    EXPECT_FALSE(workspace_.selection().visible);
    EXPECT_FALSE(p.mirror_vertically);
    EXPECT_EQ(p.channels_index, 1);
    EXPECT_EQ(p.text(Field::OutputFps), "18");
    EXPECT_EQ(p.text(Field::StopFrame), "");
    EXPECT_TRUE(p.ping_pong);
    EXPECT_EQ(p.text(Field::Count), "3");
    EXPECT_EQ(workspace_.session().OutputFps, 25.0);
}

}  // namespace
}  // namespace tintora
