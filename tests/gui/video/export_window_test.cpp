// Window tests of the exports: the guard messages, a run shown in the
// progress dialog to its end, Cancel, and the questions before a run is left:
// its dialog closed by its title bar, a new project, the program ended.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>
#include <thread>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/processing_run.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/video/video_window.hpp"
#include "support/encoding_program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Field = ParameterField;
using Strings = std::vector<std::string>;

const std::string kSaveQuestion = "Save changes to the project?";
const std::string kStopQuestion = "A processing run is still going on. Stop it first?";
const std::string kCancelled = "Export cancelled! The file was not written.";

// Answers every message box, keeping their texts in order: the save question
// "Don't save", any other by its button named `choice`, else it is closed.
class Answers {
public:
    Answers() {
        QObject::connect(&timer_, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            said.push_back(box->text().toStdString());
            const QString wanted =
                said.back() == kSaveQuestion ? QStringLiteral("Don't save") : choice;
            for (QAbstractButton* button : box->buttons()) {
                if (button->text() == wanted) return button->click();
            }
            box->close();
        });
        timer_.start(5);
    }
    QString choice;
    Strings said;

private:
    QTimer timer_;
};

class ExportWindowTest : public testing::Test {
protected:
    void SetUp() override {
        program_ = test::encoding_program(folder_);
    }

    void open_clip(const std::string& seconds, const std::string& size = "64x48") {
        const fs::path clip = test::test_clip("25", seconds, true, size);
        ASSERT_FALSE(clip.empty());
        window().open_video_file(QString::fromStdString(clip.string()));
        ASSERT_GE(session().FrameCount, 1);
    }

    // The encoding reports three frames and then takes its time; the
    // import and the sound cut go to the real encoder.
    void use_slow_encoder() {
        const fs::path encoder = folder_ / "slow-ffmpeg";
        std::ofstream(encoder) << "#!/bin/sh\ncase \" $* \" in *' -framerate '*)\n"
                               << "printf 'frame=3\\nprogress=continue\\n'; exec sleep 30;; esac\n"
                               << "exec '" << program_->settings().ffmpeg_path.string()
                               << "' \"$@\"\n";
        fs::permissions(encoder, fs::perms::owner_all);
        program_->settings().ffmpeg_path = encoder;
    }

    VideoWindow& window() { return program_->video_window(); }
    VideoSession& session() { return program_->video(); }
    VideoParameters& parameters() { return program_->video_workspace().parameters(); }
    ProgressDialog& dialog() { return program_->progress_dialog(); }

    // Runs `step` as soon as the run's dialog shows; with `encoding`, once
    // the slow encoder has reported its frames and waits.
    void when_running(std::function<void()> step, bool encoding = false) {
        auto* poll = new QTimer(&dialog());
        QObject::connect(poll, &QTimer::timeout, [this, poll, step, encoding] {
            if (!dialog().isVisible()) return;
            if (encoding && !dialog().stage_text().startsWith(QStringLiteral("Encoding: 3 of "))) {
                return;
            }
            poll->deleteLater();
            step();
        });
        poll->start(5);
    }

    test::TemporaryFolder folder_;
    std::unique_ptr<Program> program_;
};

TEST_F(ExportWindowTest, WithoutAClipEachExportOnlyTellsSo) {
    program_->settings().language = "rus";
    test::MessageBoxCatcher catcher;
    window().save_video();
    window().save_jpeg_sequence();
    window().save_wav();
    window().save_hotspot();
    ASSERT_EQ(catcher.texts().size(), 4u);
    EXPECT_EQ(catcher.texts()[0], "Откройте исходное видео прежде чем сохранять результат!");
    EXPECT_EQ(catcher.texts()[1], "Откройте исходное видео пржде чем сохранять результат!");
    EXPECT_EQ(catcher.texts()[2], "Откройте исходное видео пржде чем сохранять результат!");
    EXPECT_EQ(catcher.texts()[3], "Откройте исходное видео пржде чем сохранять результат!");
}

TEST_F(ExportWindowTest, ARunLogsItsFramesAndEndsWithTheMessage) {
    open_clip("0.48");  // 12 frames
    parameters().text(Field::StartFrame) = "2";
    parameters().text(Field::StopFrame) = "4";
    parameters().ping_pong = true;
    test::MessageBoxCatcher catcher;
    window().export_jpeg_sequence_to(folder_ / "shot.jpg");
    EXPECT_EQ(session().RunMode, 0);
    EXPECT_FALSE(window().run_active());
    ASSERT_EQ(catcher.texts(), std::vector<std::string>{"Operation finished!"});
    for (int k = 1; k <= 6; ++k)
        EXPECT_TRUE(fs::exists(run_output_path((folder_ / "shot").string(), k)));
    EXPECT_EQ(dialog().progress(), 2);  // the bar's maximum: stop - start
    const QString first_run = dialog().log_text();
    EXPECT_EQ(first_run.count(QStringLiteral("pic000")), 3) << first_run.toStdString();
    EXPECT_TRUE(first_run.startsWith(
        QString::fromStdString(frame_file_path(program_->settings().work_dir, 2).string())));
    // The shortened name stays for the next export; the log is never cleared.
    EXPECT_EQ(session().save_path, folder_ / "shot");
    window().export_jpeg_sequence_to(folder_ / "shot.jpg");
    EXPECT_EQ(dialog().log_text().count(QStringLiteral("pic000")), 6);
}

TEST_F(ExportWindowTest, CancelStopsTheRunWithoutEncodingOrMessage) {
    open_clip("4", "1280x720");  // 100 frames, large enough to take a while
    parameters().text(Field::StartFrame) = "1";
    parameters().text(Field::StopFrame) = "100";
    test::MessageBoxCatcher catcher;
    when_running([this] {
        QTest::mouseClick(dialog().findChild<QPushButton*>("cancelRunButton"), Qt::LeftButton);
    });
    const fs::path output = folder_ / "out.flv";
    window().export_video_to(output);
    EXPECT_EQ(session().RunMode, 0);
    EXPECT_TRUE(catcher.texts().empty());
    EXPECT_FALSE(fs::exists(output));
    const fs::path converted = program_->settings().work_dir / "converted";
    int written = 0;
    while (fs::exists(run_output_path((converted / "pic").string(), written + 1))) ++written;
    EXPECT_LT(written, 100);
    EXPECT_FALSE(fs::exists(run_output_path((converted / "pic").string(), written + 2)));
}

// The close box of the run's dialog asks: going on keeps the dialog and the
// run to its end; stopping cancels it as "Cancel" does.
struct CloseBoxCase {
    const char* name;
    const char* answer;
    // Stopped, the run waits in the slow encoder, so that the encoding is
    // certain to be what is cancelled.
    bool goes_on;
    Strings said;
    bool written;
};

class CloseBoxTest : public ExportWindowTest, public testing::WithParamInterface<CloseBoxCase> {};

TEST_P(CloseBoxTest, ClosingTheDialogAsksWhetherToStopTheRun) {
    const CloseBoxCase& c = GetParam();
    open_clip("0.48");
    if (!c.goes_on) use_slow_encoder();
    Answers answers;
    answers.choice = QString::fromLatin1(c.answer);
    bool kept = false;
    when_running(
        [&] {
            dialog().close();
            kept = dialog().isVisible() && window().run_active();
        },
        !c.goes_on);
    const fs::path output = folder_ / "out.flv";
    window().export_video_to(output);
    EXPECT_EQ(kept, c.goes_on);
    EXPECT_FALSE(window().run_active());
    EXPECT_FALSE(dialog().isVisible());
    EXPECT_EQ(answers.said, c.said);
    EXPECT_EQ(fs::exists(output), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, CloseBoxTest,
    testing::Values(
        CloseBoxCase{"GoOn", "Cancel", true, {kStopQuestion, "Operation finished!"}, true},
        CloseBoxCase{"Stop", "Stop the run", false, {kStopQuestion, kCancelled}, false}),
    [](const testing::TestParamInfo<CloseBoxCase>& info) { return std::string(info.param.name); });

// Cancel pressed after the encoder has put the file in place, before the
// window has taken the run's end: the message says the file is there.
TEST_F(ExportWindowTest, CancelAfterTheExportFinishedSaysTheFileIsInPlace) {
    open_clip("0.48");
    const fs::path output = folder_ / "out.flv";
    test::MessageBoxCatcher catcher;
    when_running([this, &output] {
        // The window's thread waits here, so the run's end cannot be taken first.
        for (int i = 0; i < 3000 && !fs::exists(output); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ASSERT_TRUE(fs::exists(output));
        QTest::mouseClick(dialog().findChild<QPushButton*>("cancelRunButton"), Qt::LeftButton);
    });
    window().export_video_to(output);
    EXPECT_FALSE(window().run_active());
    EXPECT_EQ(catcher.texts(), Strings{"The export had already finished: the file is in place."});
    EXPECT_GT(fs::file_size(output), 0u);
}

// Cancel while the encoder works: the bar showed the encoding, the user is
// told, and the file of that name is the earlier one, byte for byte.
TEST_F(ExportWindowTest, CancelDuringTheEncodingSaysSoAndKeepsTheEarlierFile) {
    open_clip("0.48");
    const fs::path output = folder_ / "out.flv";
    ASSERT_TRUE(write_file(output, "the earlier video"));
    use_slow_encoder();
    test::MessageBoxCatcher catcher;
    when_running(
        [this] {
            QTest::mouseClick(dialog().findChild<QPushButton*>("cancelRunButton"), Qt::LeftButton);
        },
        true);
    window().export_video_to(output);
    EXPECT_FALSE(window().run_active());
    EXPECT_EQ(catcher.texts(), Strings{kCancelled});
    std::ifstream kept(output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the earlier video");
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".out"), std::string::npos) << entry.path();
    }
}

// "New project" during a run asks after the save question: "Cancel" keeps
// the run and the clip, "Stop the run" stops it and then resets.
TEST_F(ExportWindowTest, ANewProjectDuringARunAsksWhetherToStopIt) {
    open_clip("0.48");
    use_slow_encoder();
    const int frames = session().FrameCount;
    Answers answers;
    bool kept = false;
    when_running(
        [&] {
            answers.choice = QStringLiteral("Cancel");
            program_->main_window().new_project();
            kept = window().run_active() && session().FrameCount == frames;
            answers.choice = QStringLiteral("Stop the run");
            program_->main_window().new_project();
        },
        true);
    window().export_video_to(folder_ / "out.flv");
    EXPECT_TRUE(kept);
    EXPECT_FALSE(window().run_active());
    EXPECT_EQ(session().FrameCount, 0);
    EXPECT_EQ(answers.said,
              (Strings{kSaveQuestion, kStopQuestion, kSaveQuestion, kStopQuestion, kCancelled}));
}

// Ending the program during a run asks after the save question: "Cancel"
// keeps the program and the run; "Stop the run" stops it, then the
// settings file is written.
struct LeavingCase {
    const char* name;
    std::function<void(Program&)> leave;
};

class LeavingTest : public ExportWindowTest, public testing::WithParamInterface<LeavingCase> {};

TEST_P(LeavingTest, EndingTheProgramDuringARunAsksWhetherToStopIt) {
    open_clip("0.48");
    use_slow_encoder();
    const fs::path settings_file = folder_ / "Tintora.ini";
    Answers answers;
    bool kept = false;
    when_running(
        [&] {
            answers.choice = QStringLiteral("Cancel");
            GetParam().leave(*program_);
            kept = window().run_active() && !fs::exists(settings_file);
            answers.choice = QStringLiteral("Stop the run");
            GetParam().leave(*program_);
        },
        true);
    // In the application's own loop, which Exit ends (the close box does not).
    QObject guard;
    QTimer::singleShot(0, &guard, [this] {
        window().export_video_to(folder_ / "out.flv");
        QCoreApplication::exit(0);
    });
    QTimer::singleShot(20000, &guard, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(kept);
    EXPECT_FALSE(window().run_active());
    EXPECT_TRUE(fs::exists(settings_file));
    EXPECT_EQ(answers.said,
              (Strings{kSaveQuestion, kStopQuestion, kSaveQuestion, kStopQuestion, kCancelled}));
}

INSTANTIATE_TEST_SUITE_P(
    Ways, LeavingTest,
    testing::Values(LeavingCase{"CloseBox", [](Program& p) { p.main_window().close(); }},
                    LeavingCase{"FileExit",
                                [](Program& p) {
                                    p.main_window().findChild<QAction*>("exitAction")->trigger();
                                }},
                    LeavingCase{
                        "OptionsExit",
                        [](Program& p) {
                            p.options_dialog().findChild<QPushButton*>("exitButton")->click();
                        }}),
    [](const testing::TestParamInfo<LeavingCase>& info) { return std::string(info.param.name); });

// "Save video…" follows "Save flv"; a name without an extension takes the
// chosen filter's format, the ticked "Poster image" box puts the first frame
// beside the video, and a name of another format is refused naming the three.
TEST_F(ExportWindowTest, SaveVideoWritesTheChosenFormatWithItsPoster) {
    QStringList items;
    for (QAction* item : window().findChild<QMenu*>("videoFileMenu")->actions()) {
        items << item->objectName();
    }
    EXPECT_EQ(items, (QStringList{"openVideoFileAction", "saveFlvAction", "saveVideoAsAction",
                                  "saveHotspotAction", "saveJpegSequenceAction", "saveWavAction"}));
    open_clip("0.48");
    window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window()));
    window().findChild<QTabWidget*>("videoPages")->setCurrentIndex(2);
    // On its box, at the left: a check box takes clicks on its box and text only.
    auto* poster = window().findChild<QCheckBox*>("posterImageBox");
    QTest::mouseClick(poster, Qt::LeftButton, {}, QPoint(6, poster->height() / 2));
    ASSERT_TRUE(parameters().poster_image);

    test::MessageBoxCatcher catcher;
    window().export_video_as(folder_ / "tour", VideoFormat::WebM);
    EXPECT_TRUE(fs::exists(folder_ / "tour.webm"));
    EXPECT_EQ(load_jpeg(folder_ / "tour.jpg").value().width(), 64);  // the clip's own width
    EXPECT_TRUE(dialog().log_text().contains(QStringLiteral("Save WebM file")));
    window().export_video_as(folder_ / "tour.avi", VideoFormat::Mp4);
    EXPECT_EQ(catcher.texts(),
              (std::vector<std::string>{
                  "Operation finished!",
                  "\"tour.avi\" names no video format Tintora writes! End the name in .mp4 "
                  "(H.264, AAC), .webm (VP9, Opus) or .flv."}));
}

// "Save hotspot…" goes through the run as "Save video…" does: refused with
// the core's message while there is no panorama, then every file of the
// hotspot written and the run's ending message.
TEST_F(ExportWindowTest, SaveHotspotWritesTheHotspotsFiles) {
    // The preview page's template and script, as the build puts them beside the program.
    fs::create_directory(folder_ / "web");
    ASSERT_TRUE(write_file(folder_ / "web/hotspot_template.html",
                           "<script>window.TINTORA_HOTSPOT = /*TINTORA_HOTSPOT_JSON*/null;"
                           "</script>"));
    ASSERT_TRUE(write_file(folder_ / "web/tintora-viewer.js", "// the viewer"));
    open_clip("0.2");
    const fs::path out = folder_ / "out";
    fs::create_directory(out);
    test::MessageBoxCatcher catcher;
    window().export_hotspot_to(out / "lobby");
    EXPECT_TRUE(fs::is_empty(out));

    const fs::path panorama = folder_ / "panorama.jpg";
    ASSERT_TRUE(save_jpeg(test::uniform_frame(512, 256, 40, 80, 120), panorama));
    ASSERT_TRUE(program_->main_window().open_background_file(
        QString::fromStdString(panorama.string())));
    window().export_hotspot_to(out / "lobby");
    EXPECT_EQ(catcher.texts(),
              (Strings{"Open the panorama first: the hotspot is placed on it.",
                       "Operation finished!"}));
    std::set<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(out)) {
        names.insert(entry.path().filename().string());
    }
    EXPECT_EQ(names, (std::set<std::string>{"lobby.mp4", "lobby.webm", "lobby.jpg", "lobby.json",
                                            "lobby.xml", "lobby.html", "lobby_media.js",
                                            "tintora-viewer.js"}));
}

}  // namespace
}  // namespace tintora
