// Window tests of the video workspace on a real clip: opening it through the
// encoder, the buttons, the fields' exit rules, a drag on the source view,
// the tabs, the language and a missing encoder.
#include "gui/video/video_window.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSlider>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>
#include <memory>
#include <vector>

#include "core/correction/jpeg_codec.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

class VideoWindowTest : public testing::Test {
protected:
    void SetUp() override {
        clip_ = test::test_clip("25", "0.48", true);  // 12 frames of 64 by 48
        ASSERT_FALSE(clip_.empty()) << "the test clip could not be made";
        SettingsEnvironment environment;
        environment.program_dir = folder_.path();
        program_ = std::make_unique<Program>(environment);
        AppSettings& settings = program_->settings();
        settings.ffmpeg_path = test::find_encoder();
        settings.work_dir = folder_ / "work 'dir'";  // created by the import
        settings.language = "eng";
        window().resize(820, 680);  // views of 790 by 440 pixels
        window().show();
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    VideoWindow& window() { return program_->video_window(); }
    VideoWorkspace& workspace() { return program_->video_workspace(); }
    template <class T>
    T* child(const char* name) {
        T* found = window().findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }
    std::string text(const char* field) { return child<QLineEdit>(field)->text().toStdString(); }
    std::string panel(int index) {
        return child<QLabel>(("statusPanel" + std::to_string(index)).c_str())->text().toStdString();
    }
    void click(const char* button) {
        QTest::mouseClick(child<QPushButton>(button), Qt::LeftButton);
    }
    void open_clip() {
        window().open_video_file(QString::fromStdString(clip_.string()));
        // The progress dialog took the activation; the user is back here.
        window().activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    void mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button,
               Qt::MouseButtons held) {
        QMouseEvent event(type, QPointF(at), target->mapToGlobal(QPointF(at)), button, held,
                          Qt::NoModifier);
        QApplication::sendEvent(target, &event);
    }

    test::TemporaryFolder folder_;
    fs::path clip_;
    std::unique_ptr<Program> program_;
};

TEST_F(VideoWindowTest, OpeningAClipShowsFrameOneAndDrawsItOnTheBackground) {
    ASSERT_TRUE(save_jpeg(test::uniform_frame(300, 200, 200, 190, 180), folder_ / "back.jpg"));
    ASSERT_TRUE(program_->main_window().open_background_file(
        QString::fromStdString((folder_ / "back.jpg").string())));
    ASSERT_EQ(program_->composition().picture(), program_->composition().clean_background());

    open_clip();
    EXPECT_EQ(window().windowTitle().toStdString(), "Video - " + clip_.string());
    EXPECT_EQ(child<QTabWidget>("videoPages")->currentIndex(), kSourceTab);
    EXPECT_EQ(child<QSlider>("frameSlider")->maximum(), 12);
    EXPECT_EQ(text("cutWidthField"), "63");
    EXPECT_EQ(text("cutHeightField"), "47");
    EXPECT_EQ(text("inputFpsField"), "25");
    EXPECT_EQ(text("stopFrameField"), "12");
    EXPECT_EQ(panel(kPositionPanel), "Position: 1 / 12");
    EXPECT_EQ(panel(kInputPanel), "Input video: 64x48@25");
    const QWidget* bar = child<QWidget>("rangeBar");
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->width(), child<QSlider>("frameSlider")->width() - 20);
    // The frame now lies on the background through the mesh.
    EXPECT_NE(program_->composition().picture(), program_->composition().clean_background());
}

TEST_F(VideoWindowTest, ButtonsStepThroughTheFramesAndMarkTheRange) {
    open_clip();
    click("nextButton");
    click("nextButton");
    EXPECT_EQ(panel(kPositionPanel), "Position: 3 / 12");
    EXPECT_EQ(child<QSlider>("frameSlider")->value(), 3);
    click("startButton");
    click("endButton");
    click("nextButton");
    EXPECT_EQ(workspace().session().CurrentFrame, 12);
    child<QSlider>("frameSlider")->setValue(8);  // as a drag of the slider does
    EXPECT_EQ(panel(kPositionPanel), "Position: 8 / 12");
    click("stopButton");
    EXPECT_EQ(text("startFrameField"), "3");
    EXPECT_EQ(text("stopFrameField"), "8");
    const QRect slider = child<QSlider>("frameSlider")->geometry();
    const QWidget* bar = child<QWidget>("rangeBar");
    EXPECT_EQ(bar->x(), slider.x() + 10 + (slider.width() - 20) * 2 / 11);
    EXPECT_EQ(bar->width(), (slider.width() - 20) * 5 / 11);
    EXPECT_EQ(child<QSlider>("frameSlider")->toolTip().toStdString(), "Start: 3, stop: 8");
}

TEST_F(VideoWindowTest, LeavingAFieldAppliesItsRuleEvenWhenTheTextIsUnchanged) {
    open_clip();
    child<QTabWidget>("videoPages")->setCurrentIndex(kParametersTab);
    QLineEdit* width = child<QLineEdit>("cutWidthField");
    QLineEdit* x = child<QLineEdit>("cutXField");
    width->setFocus();
    width->selectAll();
    QTest::keyClicks(width, "2");
    x->setFocus();
    EXPECT_EQ(width->text().toStdString(), "4");
    EXPECT_EQ(workspace().session().CutWidth, 4);

    // A text put there by the program, not typed, gets the rule when left.
    workspace().parameters().text(ParameterField::CutX) = "700";
    child<QLineEdit>("volumeField")->setFocus();
    EXPECT_EQ(x->text().toStdString(), "60");  // W - 4; the width then drawn 1 pixel inside
    EXPECT_EQ(width->text().toStdString(), "3");
}

TEST_F(VideoWindowTest, DraggingOnTheSourceViewSetsTheCutAndTheCursorReadOut) {
    open_clip();
    window().findChild<QAction*>("clearAreaAction")->trigger();
    EXPECT_EQ(text("cutXField"), "");
    QWidget* view = child<QWidget>("sourceView");
    // The 64 by 48 frame is shown 9.1666… times enlarged.
    mouse(view, QEvent::MouseButtonPress, {92, 46}, Qt::LeftButton, Qt::LeftButton);
    mouse(view, QEvent::MouseMove, {183, 137}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(panel(kCursorPanel), "Cursor: x=19  y=14");
    mouse(view, QEvent::MouseButtonRelease, {183, 137}, Qt::LeftButton, Qt::NoButton);
    EXPECT_EQ(text("cutXField"), "9");
    EXPECT_EQ(text("cutYField"), "4");
    EXPECT_EQ(text("cutWidthField"), "10");
    EXPECT_EQ(text("cutHeightField"), "10");

    // Another tab redraws with the cut; the Parameters tab clears the read-out.
    child<QTabWidget>("videoPages")->tabBar()->setCurrentIndex(kResultTab);
    EXPECT_EQ(workspace().session().result_picture.width(), 10);
    EXPECT_EQ(panel(kOutputPanel), "Output video: 10x10@25");
    child<QTabWidget>("videoPages")->tabBar()->setCurrentIndex(kParametersTab);
    EXPECT_EQ(panel(kCursorPanel), "");
}

TEST_F(VideoWindowTest, RotateMenuTurnsTheFrameAndSelectsItAll) {
    open_clip();
    window().findChild<QAction*>("rotate90Action")->trigger();
    EXPECT_EQ(workspace().session().FrameWidth, 48);
    EXPECT_EQ(text("cutWidthField"), "47");
    EXPECT_EQ(text("cutHeightField"), "63");
    EXPECT_TRUE(child<QWidget>("rotation90Button")->property("checked").toBool());
}

TEST_F(VideoWindowTest, TextsFollowTheLanguageOnTheNextTick) {
    window().hide();
    program_->settings().language = "rus";
    window().follow_program_state();
    EXPECT_EQ(child<QTabWidget>("videoPages")->tabText(kSourceTab).toStdString(), "Исходное видео");
    EXPECT_EQ(child<QPushButton>("playButton")->text().toStdString(), "Воспр");
    EXPECT_EQ(window().findChild<QAction*>("clearAreaAction")->text().toStdString(),
              "&Очистить прямоугольное выделение");  // with its Alt key
}

// Every button and field says what it does, in both languages; Start and
// Stop say which frame they set.
TEST_F(VideoWindowTest, EveryButtonAndFieldHasAHintInBothLanguages) {
    std::vector<QWidget*> controls;
    for (QPushButton* button : window().findChildren<QPushButton*>()) controls.push_back(button);
    for (QLineEdit* field : window().findChildren<QLineEdit*>()) controls.push_back(field);
    ASSERT_EQ(controls.size(), 7u + kParameterFieldCount);
    std::vector<QString> english;
    for (QWidget* control : controls) {
        EXPECT_FALSE(control->toolTip().isEmpty()) << control->objectName().toStdString();
        english.push_back(control->toolTip());
    }
    EXPECT_NE(child<QPushButton>("startButton")->toolTip().indexOf("first frame"), -1);
    EXPECT_NE(child<QPushButton>("stopButton")->toolTip().indexOf("last frame"), -1);
    program_->settings().language = "rus";
    window().follow_program_state();
    for (std::size_t i = 0; i < controls.size(); ++i) {
        // The volume field keeps its "1-256" in both languages.
        if (controls[i]->objectName() == "volumeField") continue;
        EXPECT_NE(controls[i]->toolTip(), english[i]) << controls[i]->objectName().toStdString();
    }
}

// MP4 and WebM's Quality list sits with the output's lists, mirrors the
// parameters both ways, and a note says which lists each format follows, in
// the interface language like the list's items.
TEST_F(VideoWindowTest, QualityListIsReadIntoTheParametersBesideTheFormatNote) {
    auto* list = child<QComboBox>("qualityList");
    ASSERT_EQ(list->count(), static_cast<int>(kQualityItems.size()));
    EXPECT_EQ(list->parentWidget(), child<QWidget>("outputGroup"));
    EXPECT_EQ(list->currentText().toStdString(), "Automatic");
    list->setCurrentIndex(static_cast<int>(WebQuality::Small));
    EXPECT_EQ(web_quality(workspace().parameters()), WebQuality::Small);
    workspace().parameters().quality_index = static_cast<int>(WebQuality::BitrateList);
    window().refresh_from_workspace();
    EXPECT_EQ(list->currentText().toStdString(), "Bitrate list");
    auto* note = child<QLabel>("formatNote");
    for (const char* format : {"FLV", "MP4", "WebM"}) EXPECT_NE(note->text().indexOf(format), -1);
    const QString english_note = note->text();
    program_->settings().language = "rus";
    window().follow_program_state();
    EXPECT_EQ(list->itemText(0).toStdString(), "Автоматически");
    EXPECT_NE(note->text(), english_note);
    EXPECT_FALSE(list->toolTip().isEmpty());
}

TEST_F(VideoWindowTest, RangeHintFollowsTheRangeFieldsAsTheyAreTyped) {
    open_clip();
    QLineEdit* stop = child<QLineEdit>("stopFrameField");
    stop->setFocus();
    stop->selectAll();
    QTest::keyClicks(stop, "5");
    EXPECT_EQ(child<QSlider>("frameSlider")->toolTip().toStdString(), "Start: 1, stop: 5");
}

// At the smallest size the layout allows, the Parameters tab scrolls
// instead of squeezing its fields.
TEST_F(VideoWindowTest, ParametersTabScrollsRatherThanSqueezes) {
    window().resize(980, 600);
    child<QTabWidget>("videoPages")->setCurrentIndex(kParametersTab);
    QApplication::processEvents();
    for (const char* name : {"cutXField", "cutWidthField", "startFrameField", "inputFpsField"}) {
        EXPECT_GE(child<QLineEdit>(name)->width(), 48) << name;
    }
}

TEST_F(VideoWindowTest, AMissingEncoderIsReportedWithItsPath) {
    program_->settings().ffmpeg_path = folder_ / "no-such-ffmpeg";
    test::MessageBoxCatcher catcher;
    open_clip();
    ASSERT_EQ(catcher.texts().size(), 1u);
    EXPECT_NE(catcher.texts()[0].find("Can't start the video encoder"), std::string::npos);
    EXPECT_NE(catcher.texts()[0].find("no-such-ffmpeg"), std::string::npos);
    EXPECT_EQ(workspace().session().FrameCount, 0);
    EXPECT_EQ(child<QSlider>("frameSlider")->maximum(), 1);
    EXPECT_FALSE(child<QWidget>("rangeBar")->isVisible());
}

}  // namespace
}  // namespace tintora
