// Window tests of the helps of the workspace: undo and redo of every kind of
// edit, the question before unsaved work is lost, the project file the video
// session knows, handles dragged on the picture, the corrected clip played in
// place, and before/after on B.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "core/correction/curves.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_import.hpp"
#include "gui/main_window/composition_view.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/main_window/panorama_player.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

// Answers the next message boxes with one button, keeping their texts.
class Answering {
public:
    explicit Answering(QMessageBox::StandardButton answer) {
        QObject::connect(&timer_, &QTimer::timeout, [this, answer] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                texts.push_back(box->text().toStdString());
                if (QAbstractButton* button = box->button(answer)) {
                    button->click();
                } else {
                    box->close();
                }
            }
        });
        timer_.start(10);
    }
    std::vector<std::string> texts;

private:
    QTimer timer_;
};

// A background brighter than the frame, so sampled pairs lift the frame;
// the mesh in its default layout: markers at 100, 150, 200 by 66, 100, 133.
class WorkspaceWindowTest : public testing::Test {
public:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(save_jpeg(test::uniform_frame(300, 200, 150, 170, 190), dir() / "back.jpg"));
        SettingsEnvironment environment;
        environment.program_dir = dir();
        program_ = std::make_unique<Program>(environment);
        program_->settings().work_dir = dir() / "work";
        ASSERT_TRUE(
            window().open_background_file(QString::fromStdString((dir() / "back.jpg").string())));
        program_->set_video_result(test::uniform_frame(201, 135, 40, 50, 60), 1);
        window().show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
        view_ = window().findChild<QWidget*>("compositionView");
    }

    fs::path dir() const { return fs::path(folder_.path().toStdString()); }
    MainWindow& window() { return program_->main_window(); }
    CorrectionGrid& grid() { return program_->grid(); }
    const Frame& picture() { return program_->composition().picture(); }
    QAction* action(const char* name) { return window().findChild<QAction*>(name); }
    PaletteWindow& palette() { return program_->palette_window(); }

    void mouse(QEvent::Type type, QPoint at, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QMouseEvent event(type, QPointF(at), view_->mapToGlobal(QPointF(at)), button, held, keys);
        QApplication::sendEvent(view_, &event);
    }
    // A left-button drag through `path` with `keys` held.
    void drag(std::initializer_list<QPoint> path, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        mouse(QEvent::MouseButtonPress, *path.begin(), Qt::LeftButton, Qt::LeftButton, keys);
        for (const QPoint& at : path) {
            mouse(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton, keys);
        }
        mouse(QEvent::MouseButtonRelease, *std::prev(path.end()), Qt::LeftButton, Qt::NoButton,
              keys);
    }
    // Edit > "Area points…": `fill` types into the dialog and OK is pressed;
    // a refusal's message is kept and closed, then the dialog cancelled.
    std::vector<std::string> type_area_points(const std::function<void(QDialog&)>& fill) {
        std::vector<std::string> messages;
        bool filled = false;
        QTimer answer;
        QObject::connect(&answer, &QTimer::timeout, [&] {
            QWidget* modal = QApplication::activeModalWidget();
            if (auto* box = qobject_cast<QMessageBox*>(modal)) {
                messages.push_back(box->text().toStdString());
                box->close();
                return;
            }
            auto* dialog = qobject_cast<QDialog*>(modal);
            if (dialog == nullptr || dialog->objectName() != "areaPointsDialog") return;
            if (filled) {
                dialog->reject();
                return;
            }
            filled = true;
            fill(*dialog);
            // Queued: a refusal's message box waits in its own loop, which
            // must not run inside this timer's tick.
            QMetaObject::invokeMethod(
                dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok),
                &QAbstractButton::click, Qt::QueuedConnection);
        });
        answer.start(10);
        action("areaPointsAction")->trigger();
        // The keys that follow go to the main window again.
        window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
        return messages;
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QTest::keyClick(&window(), static_cast<Qt::Key>(key), modifiers);
    }
    QString path(const fs::path& file) const { return QString::fromStdString(file.string()); }

    // Six frames of growing brightness, as an import leaves them, played at 50 fps.
    void import_six_frames() {
        const fs::path work = program_->settings().work_dir;
        fs::create_directories(work);
        for (int n = 1; n <= 6; ++n) {
            const auto level = static_cast<std::uint8_t>(30 * n);
            ASSERT_TRUE(save_jpeg(test::uniform_frame(64, 48, level, level, level),
                                  frame_file_path(work, n)));
        }
        ImportOutcome outcome;
        outcome.frame_count = 6;
        outcome.info_text = "Stream #0:0: Video: mjpeg, 64x48, 25 fps";
        VideoWorkspace& workspace = program_->video_workspace();
        workspace.finish_import(dir() / "clip.mp4", outcome);
        workspace.session().OutputFps = 50;
        program_->video_window().refresh_from_workspace();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    QTemporaryDir folder_;
    std::unique_ptr<Program> program_;
    QWidget* view_ = nullptr;
};

// ------------------------------------------------------------ undo, redo

struct EditKind {
    const char* name;
    std::function<void(WorkspaceWindowTest&)> edit;
};

class UndoTest : public WorkspaceWindowTest, public testing::WithParamInterface<EditKind> {};

void click(WorkspaceWindowTest& t, const char* button) {
    QTest::mouseClick(t.palette().findChild<QPushButton*>(button), Qt::LeftButton);
}

// Point 8 starts ten pixels off its default place, at (210, 143); the
// clipboard holds point 4's pairs.
const EditKind kEditKinds[] = {
    {"SampledPair",
     [](WorkspaceWindowTest& t) {
         t.mouse(QEvent::MouseMove, {125, 80}, Qt::NoButton, Qt::NoButton);
         QTest::mouseClick(t.view_, Qt::RightButton, Qt::NoModifier, {125, 80});
     }},
    {"CurveEdit",
     [](WorkspaceWindowTest& t) {
         QTest::mousePress(t.palette().findChild<QWidget*>("curveGraph"), Qt::LeftButton,
                           Qt::NoModifier, {100, 120});
     }},
    {"Clear", [](WorkspaceWindowTest& t) { click(t, "clearButton"); }},
    {"ClearAll", [](WorkspaceWindowTest& t) { click(t, "clearAllButton"); }},
    {"Paste", [](WorkspaceWindowTest& t) { click(t, "pasteButton"); }},
    {"SetForAll", [](WorkspaceWindowTest& t) { click(t, "setForAllButton"); }},
    {"MovedAreaPoint",
     [](WorkspaceWindowTest& t) {
         QTest::mouseClick(t.view_, Qt::LeftButton, Qt::NoModifier, {60, 40});
     }},
    {"DraggedHandle",
     [](WorkspaceWindowTest& t) {
         t.mouse(QEvent::MouseButtonPress, {211, 144}, Qt::LeftButton, Qt::LeftButton);
         t.mouse(QEvent::MouseMove, {230, 150}, Qt::NoButton, Qt::LeftButton);
         t.mouse(QEvent::MouseMove, {250, 170}, Qt::NoButton, Qt::LeftButton);
         t.mouse(QEvent::MouseButtonRelease, {250, 170}, Qt::LeftButton, Qt::NoButton);
     }},
    {"MovedMesh",
     [](WorkspaceWindowTest& t) {
         QTest::mouseClick(t.view_, Qt::MiddleButton, Qt::NoModifier, {170, 120});
     }},
    {"DefaultLayout", [](WorkspaceWindowTest& t) { t.key(Qt::Key_F6); }},
    {"ShiftDraggedCorner",
     [](WorkspaceWindowTest& t) {
         t.drag({{211, 144}, {230, 150}, {250, 170}}, Qt::ShiftModifier);
     }},
    {"TypedAreaPoints",
     [](WorkspaceWindowTest& t) {
         t.type_area_points([](QDialog& dialog) {
             dialog.findChild<QLineEdit*>("pointX1")->setText("20");
             dialog.findChild<QLineEdit*>("pointY9")->setText("190");
         });
     }},
};

// Every kind of edit is one step: undone, the grid and the picture are
// exactly as before; redone (either key), exactly as after.
TEST_P(UndoTest, UndoAndRedoRestoreTheGridAndThePicture) {
    // Pairs on point 0 (current) and 4, so the whole-curve buttons change
    // something, and point 8 off its default place.
    grid().control_values[0][60] = 120;
    grid().control_values[4][100] = 30;
    recalculate_color_tables(grid());
    grid().area_x[8] += 10;
    grid().area_y[8] += 10;
    program_->pair_clipboard() = grid().control_values[4];  // point 4 copied
    program_->recompose();
    action("colorPaletteAction")->trigger();
    window().activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    EXPECT_FALSE(action("undoAction")->isEnabled());

    const CorrectionGrid before = grid();
    const Frame picture_before = picture();
    GetParam().edit(*this);
    const CorrectionGrid after = grid();
    const Frame picture_after = picture();
    ASSERT_FALSE(after == before);
    ASSERT_TRUE(action("undoAction")->isEnabled());

    key(Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(grid() == before);
    EXPECT_EQ(picture(), picture_before);
    EXPECT_FALSE(action("undoAction")->isEnabled());
    EXPECT_TRUE(action("redoAction")->isEnabled());

    key(Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_TRUE(grid() == after);
    EXPECT_EQ(picture(), picture_after);
    key(Qt::Key_Z, Qt::ControlModifier);
    key(Qt::Key_Y, Qt::ControlModifier);
    EXPECT_TRUE(grid() == after);
    EXPECT_FALSE(action("redoAction")->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(Kinds, UndoTest, testing::ValuesIn(kEditKinds),
                         [](const testing::TestParamInfo<EditKind>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(WorkspaceWindowTest, OpeningOrStartingAProjectLeavesNothingToUndo) {
    QTest::mouseClick(view_, Qt::LeftButton, Qt::NoModifier, {60, 40});
    ASSERT_TRUE(action("undoAction")->isEnabled());
    Answering discard(QMessageBox::Discard);
    action("newProjectAction")->trigger();
    EXPECT_FALSE(action("undoAction")->isEnabled());
    EXPECT_FALSE(action("redoAction")->isEnabled());
}

// ------------------------------------------------- the question on close

TEST_F(WorkspaceWindowTest, ClosingAsksOnlyWhenTheProjectChangedAndCancelKeepsTheWindow) {
    struct Case {
        const char* change;
        std::function<void()> make;
        bool asks;
    };
    const Case cases[] = {
        {"nothing", [] {}, false},
        {"a scale looked at", [&] { program_->composition().choices.scale_index = 3; }, false},
        {"a pair", [&] { QTest::mouseClick(view_, Qt::RightButton, Qt::NoModifier, {125, 80}); },
         true},
        {"a Parameters field typed", [&] {
             auto* fps = program_->video_window().findChild<QLineEdit*>("outputFpsField");
             QTest::keyClicks(fps, "30");
         },
         true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        program_->mark_project_unmodified();
        c.make();
        {
            Answering cancel(QMessageBox::Cancel);
            EXPECT_EQ(window().close(), !c.asks);
            if (c.asks) {
                EXPECT_EQ(cancel.texts, std::vector<std::string>{"Save changes to the project?"});
            } else {
                EXPECT_TRUE(cancel.texts.empty());
            }
        }
        if (c.asks) {
            EXPECT_TRUE(window().isVisible());
            Answering discard(QMessageBox::Discard);
            EXPECT_TRUE(window().close());
        }
        EXPECT_FALSE(window().isVisible());
        window().show();
    }
}

// The exports must not write over the project file opened or saved last.
TEST_F(WorkspaceWindowTest, TheVideoSessionKnowsTheProjectFileOfTheWindow) {
    const fs::path& known = program_->video().project_path;
    Answering discard(QMessageBox::Discard);  // "Project saved" is closed
    ASSERT_TRUE(window().save_project_file(path(dir() / "saved.tintora")));
    EXPECT_EQ(known, dir() / "saved.tintora");
    fs::copy_file(dir() / "saved.tintora", dir() / "opened.tintora");
    ASSERT_TRUE(window().open_project_file(path(dir() / "opened.tintora")));
    EXPECT_EQ(known, dir() / "opened.tintora");
    window().new_project();
    EXPECT_TRUE(known.empty());
}

// ------------------------------------------------------ handles on the picture

TEST_F(WorkspaceWindowTest, AHandleWithinSixPixelsIsTakenAndDraggedWithoutAJump) {
    // Over a handle the pointer offers to take it.
    mouse(QEvent::MouseMove, {152, 104}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(view_->cursor().shape(), Qt::OpenHandCursor);
    mouse(QEvent::MouseMove, {170, 120}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(view_->cursor().shape(), Qt::ArrowCursor);

    // 3.6 pixels off point 4's marker: point 4 becomes current and follows
    // the pointer at that offset.
    mouse(QEvent::MouseButtonPress, {153, 102}, Qt::LeftButton, Qt::LeftButton);
    EXPECT_EQ(grid().cur_point, 4);
    EXPECT_EQ(grid().area_x[4], 150);
    EXPECT_EQ(view_->cursor().shape(), Qt::ClosedHandCursor);
    mouse(QEvent::MouseMove, {173, 112}, Qt::NoButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {173, 112}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(grid().area_x[4], 170);
    EXPECT_EQ(grid().area_y[4], 110);
    action("undoAction")->trigger();
    EXPECT_EQ(grid().area_x[4], 150);
    EXPECT_EQ(grid().cur_point, 0);

    // A handle taken but not moved is no step to undo.
    mouse(QEvent::MouseButtonPress, {200, 66}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {200, 66}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(grid().cur_point, 2);
    EXPECT_FALSE(action("undoAction")->isEnabled());

    // Seven pixels off every marker: the current point moves to the press.
    mouse(QEvent::MouseButtonPress, {157, 100}, Qt::LeftButton, Qt::LeftButton);
    mouse(QEvent::MouseButtonRelease, {157, 100}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(grid().area_x[2], 157);
    EXPECT_EQ(grid().area_y[2], 100);
    EXPECT_EQ(grid().area_x[4], 150);
}

// Shift on a corner marker: the corner follows the pointer and the edge
// middles and the centre follow it, as means of the corners.
TEST_F(WorkspaceWindowTest, AShiftDragOfACornerKeepsTheMeshEven) {
    drag({{200, 133}, {230, 150}, {251, 171}}, Qt::ShiftModifier);
    using Axis = std::array<std::int32_t, 9>;
    EXPECT_EQ(grid().area_x, (Axis{100, 150, 200, 100, 162, 225, 100, 175, 251}));
    EXPECT_EQ(grid().area_y, (Axis{66, 66, 66, 99, 109, 118, 133, 152, 171}));
    EXPECT_EQ(grid().cur_point, 8);
}

TEST_F(WorkspaceWindowTest, TypedAreaPointsOffTheBackgroundAreRefusedByName) {
    struct Case {
        const char* language;
        const char* field;
        const char* text;
        std::string message;
    };
    const Case cases[] = {
        {"eng", "pointY5", "200", "Y of point 5 (centre) must be a whole number from 0 to 199."},
        {"rus", "pointX3", "x", "X точки 3 (верхняя правая) должен быть целым числом от 0 до 299."},
    };
    const CorrectionGrid before = grid();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.language);
        program_->settings().language = c.language;
        const std::vector<std::string> messages = type_area_points([&](QDialog& dialog) {
            dialog.findChild<QLineEdit*>("pointX1")->setText("20");
            dialog.findChild<QLineEdit*>(c.field)->setText(c.text);
        });
        EXPECT_EQ(messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(grid() == before);
        EXPECT_FALSE(action("undoAction")->isEnabled());
    }
}

// ------------------------------------------------------ the clip played in place

TEST_F(WorkspaceWindowTest, PlayInPanoramaAdvancesFramesAndAKeyStopsOnTheFrameShown) {
    ASSERT_NO_FATAL_FAILURE(import_six_frames());
    const VideoWorkspace& workspace = program_->video_workspace();
    PanoramaPlayer& player = window().panorama_player();
    key(Qt::Key_Space);
    ASSERT_TRUE(player.playing());
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.shown_frame() >= 3; }, 5000));
    auto* view = static_cast<CompositionView*>(view_);
    ASSERT_NE(view->played_picture(), nullptr);
    const Frame played = *view->played_picture();
    const int shown = player.shown_frame();

    key(Qt::Key_Escape);
    EXPECT_FALSE(player.playing());
    EXPECT_EQ(view->played_picture(), nullptr);
    // The frame shown is the current frame now, and the still picture is
    // the played one, byte for byte.
    EXPECT_EQ(workspace.session().CurrentFrame, shown);
    Frame still;
    const QPoint corner = -view_->pos();
    program_->composition().render_region(corner.x(), corner.y(), played.width(), played.height(),
                                          still, nullptr);
    EXPECT_EQ(still, played);
}

TEST_F(WorkspaceWindowTest, SpaceWithoutAClipSaysWhy) {
    program_->set_video_result(Frame(), 0);
    Answering ok(QMessageBox::Ok);
    key(Qt::Key_Space);
    EXPECT_FALSE(window().panorama_player().playing());
    EXPECT_EQ(ok.texts, std::vector<std::string>{"Open a video first to play it in the panorama."});
}

// Closing while the clip plays: the playing ends before the save question,
// whose first click then answers it.
TEST_F(WorkspaceWindowTest, ClosingWhilePlayingStopsThePlayingBeforeTheSaveQuestion) {
    ASSERT_NO_FATAL_FAILURE(import_six_frames());
    PanoramaPlayer& player = window().panorama_player();
    key(Qt::Key_Space);
    ASSERT_TRUE(player.playing());
    // For each look at the question: whether the clip still played. It is
    // answered "Cancel" by one click of the mouse; seen again, it is closed.
    std::vector<bool> playing_when_asked;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        playing_when_asked.push_back(player.playing());
        if (playing_when_asked.size() > 1) return box->reject();
        QTest::mouseClick(box->button(QMessageBox::Cancel), Qt::LeftButton);
    });
    answer.start(10);
    EXPECT_FALSE(window().close());
    EXPECT_EQ(playing_when_asked, std::vector<bool>{false});
    EXPECT_TRUE(window().isVisible());
}

TEST_F(WorkspaceWindowTest, HoldingBShowsTheFrameBeforeTheCorrection) {
    grid().control_values[0][50] = 150;
    recalculate_color_tables(grid());
    program_->recompose();
    const auto frame_pixel = [&] {
        const std::uint8_t* p = picture().pixel(80, 125);
        return std::vector<int>{p[0], p[1], p[2]};
    };
    const std::vector<int> corrected = frame_pixel();
    ASSERT_NE(corrected, (std::vector<int>{40, 50, 60}));
    // Also in the palette, where the curves are judged.
    for (QWidget* held_in : {static_cast<QWidget*>(&window()), static_cast<QWidget*>(&palette())}) {
        QTest::keyPress(held_in, Qt::Key_B);
        EXPECT_EQ(frame_pixel(), (std::vector<int>{40, 50, 60}))
            << held_in->objectName().toStdString();
        QTest::keyRelease(held_in, Qt::Key_B);
        EXPECT_EQ(frame_pixel(), corrected);
    }
}

TEST_F(WorkspaceWindowTest, ColorPaletteComesToTheFrontAlsoWhenMinimised) {
    action("colorPaletteAction")->trigger();
    palette().showMinimized();
    ASSERT_TRUE(palette().isMinimized());
    action("colorPaletteAction")->trigger();
    EXPECT_FALSE(palette().isMinimized());
    EXPECT_TRUE(palette().isVisible());
}

}  // namespace
}  // namespace tintora
