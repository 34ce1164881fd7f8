// Window tests of the exports: the guard messages, a run shown in the
// progress dialog to its end, Cancel, and a dialog closed by its title bar.
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
#include <fstream>
#include <iterator>
#include <memory>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/processing_run.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/video/video_window.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Field = ParameterField;

class ExportWindowTest : public testing::Test {
protected:
    void SetUp() override {
        SettingsEnvironment environment;
        environment.program_dir = folder_.path();
        program_ = std::make_unique<Program>(environment);
        AppSettings& settings = program_->settings();
        settings.ffmpeg_path = test::find_encoder();
        settings.work_dir = folder_ / "work";
        settings.language = "eng";
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

    // Runs `step` as soon as the run's dialog shows.
    void when_running(std::function<void()> step) {
        auto* poll = new QTimer(&dialog());
        QObject::connect(poll, &QTimer::timeout, [this, poll, step] {
            if (dialog().isVisible()) {
                poll->deleteLater();
                step();
            }
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
    ASSERT_EQ(catcher.texts().size(), 3u);
    EXPECT_EQ(catcher.texts()[0], "Откройте исходное видео прежде чем сохранять результат!");
    EXPECT_EQ(catcher.texts()[1], "Откройте исходное видео пржде чем сохранять результат!");
    EXPECT_EQ(catcher.texts()[2], "Откройте исходное видео пржде чем сохранять результат!");
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

TEST_F(ExportWindowTest, ClosingTheDialogLetsTheRunGoOnToItsEnd) {
    open_clip("0.48");
    test::MessageBoxCatcher catcher;
    when_running([this] { dialog().close(); });
    const fs::path output = folder_ / "out.flv";
    window().export_video_to(output);
    // The dialog is gone before the run ends; the run goes on under the timer.
    QTRY_VERIFY_WITH_TIMEOUT(!window().run_active(), 20000);
    EXPECT_EQ(catcher.texts(), std::vector<std::string>{"Operation finished!"});
    EXPECT_TRUE(fs::exists(output));
    EXPECT_TRUE(dialog().log_text().contains(QStringLiteral("Save FLV file")));
}

// Cancel while the encoder works: the bar showed the encoding, the user is
// told, and the file of that name is the earlier one, byte for byte.
TEST_F(ExportWindowTest, CancelDuringTheEncodingSaysSoAndKeepsTheEarlierFile) {
    open_clip("0.48");
    const fs::path output = folder_ / "out.flv";
    ASSERT_TRUE(write_file(output, "the earlier video"));
    use_slow_encoder();
    test::MessageBoxCatcher catcher;
    auto* poll = new QTimer(&dialog());
    QObject::connect(poll, &QTimer::timeout, [this, poll] {
        if (!dialog().stage_text().startsWith(QStringLiteral("Encoding: 3 of "))) return;
        poll->deleteLater();
        QTest::mouseClick(dialog().findChild<QPushButton*>("cancelRunButton"), Qt::LeftButton);
    });
    poll->start(5);
    window().export_video_to(output);
    EXPECT_FALSE(window().run_active());
    EXPECT_EQ(catcher.texts(),
              std::vector<std::string>{"Export cancelled! The file was not written."});
    std::ifstream kept(output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the earlier video");
    for (const fs::directory_entry& entry : fs::directory_iterator(folder_.path())) {
        EXPECT_EQ(entry.path().filename().string().find(".out"), std::string::npos) << entry.path();
    }
}

// "New project" while a run goes on without its dialog asks first: "Cancel"
// keeps the run and the clip, "Stop the run" stops it and then resets.
TEST_F(ExportWindowTest, ANewProjectDuringARunAsksWhetherToStopIt) {
    open_clip("0.48");
    use_slow_encoder();  // the run waits in its encoding until it is stopped
    when_running([this] { dialog().close(); });
    window().export_video_to(folder_ / "out.flv");
    QTRY_VERIFY_WITH_TIMEOUT(dialog().stage_text().startsWith(QStringLiteral("Encoding")), 10000);
    ASSERT_TRUE(window().run_active());
    const int frames = session().FrameCount;

    // Answers the question with `choice`; the question about unsaved changes,
    // asked first, is answered "Don't save"; any other message box is closed.
    std::vector<std::string> said;
    QString choice;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&said, &choice] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        const bool save_question = box->text() == QStringLiteral("Save changes to the project?");
        if (!save_question) said.push_back(box->text().toStdString());
        for (QAbstractButton* button : box->buttons()) {
            if (button->text() == (save_question ? QStringLiteral("Don't save") : choice)) {
                return button->click();
            }
        }
        box->close();
    });
    answer.start(5);
    choice = QStringLiteral("Cancel");
    program_->main_window().new_project();
    EXPECT_TRUE(window().run_active());
    EXPECT_EQ(session().FrameCount, frames);

    choice = QStringLiteral("Stop the run");
    program_->main_window().new_project();
    EXPECT_FALSE(window().run_active());
    EXPECT_EQ(session().FrameCount, 0);
    const std::string question = "A processing run is still going on. Stop it first?";
    EXPECT_EQ(said, (std::vector<std::string>{question, question,
                                              "Export cancelled! The file was not written."}));
}

// "Save video…" follows "Save flv"; a name without an extension takes the
// chosen filter's format, the ticked "Poster image" box puts the first frame
// beside the video, and a name of another format is refused naming the three.
TEST_F(ExportWindowTest, SaveVideoWritesTheChosenFormatWithItsPoster) {
    QStringList items;
    for (QAction* item : window().findChild<QMenu*>("videoFileMenu")->actions()) {
        items << item->objectName();
    }
    EXPECT_EQ(items, (QStringList{"openVideoFileAction", "saveFlvAction", "saveVideoAsAction",
                                  "saveJpegSequenceAction", "saveWavAction"}));
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
    EXPECT_EQ(load_jpeg(folder_ / "tour.jpg").value().width(), 62);  // the even part of 63
    EXPECT_TRUE(dialog().log_text().contains(QStringLiteral("Save WebM file")));
    window().export_video_as(folder_ / "tour.avi", VideoFormat::Mp4);
    EXPECT_EQ(catcher.texts(),
              (std::vector<std::string>{
                  "Operation finished!",
                  "\"tour.avi\" names no video format Tintora writes! End the name in .mp4 "
                  "(H.264, AAC), .webm (VP9, Opus) or .flv."}));
}

}  // namespace
}  // namespace tintora
