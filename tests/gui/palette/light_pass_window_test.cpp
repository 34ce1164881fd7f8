// Window tests of the pass that measures the clip's light: it shows its
// progress over the window that needs it, and its Cancel leaves the project
// and the working folder as they were.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <memory>
#include <string>

#include "core/correction/jpeg_codec.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"
#include "support/encoding_program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

const std::string kCancelled =
    "Following the light was stopped before the end: the project is unchanged.";

// Presses the light pass's Cancel as soon as its dialog exists, keeping the
// text it showed.
class PassCanceller {
public:
    explicit PassCanceller(QWidget& main_window) {
        QObject::connect(&timer_, &QTimer::timeout, [this, &main_window] {
            auto* dialog = main_window.findChild<QProgressDialog*>("lightPassDialog");
            if (dialog == nullptr || dialog->wasCanceled()) return;
            label = dialog->labelText().toStdString();
            dialog->cancel();
        });
        timer_.start(0);
    }
    std::string label;

private:
    QTimer timer_;
};

class LightPassWindowTest : public testing::Test {
protected:
    void SetUp() override {
        program_ = test::encoding_program(folder_);
        const fs::path background = folder_ / "background.jpg";
        ASSERT_TRUE(save_jpeg(test::uniform_frame(300, 200, 170, 180, 190), background));
        ASSERT_TRUE(main().open_background_file(QString::fromStdString(background.string())));
        const fs::path clip = test::test_clip("25", "0.48", false);  // 12 frames
        ASSERT_FALSE(clip.empty());
        program_->video_window().open_video_file(QString::fromStdString(clip.string()));
        ASSERT_GE(program_->video().FrameCount, 2);
        program_->video_workspace().session().CurrentFrame = 5;
        main().findChild<QAction*>("colorPaletteAction")->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&palette()));
    }

    MainWindow& main() { return program_->main_window(); }
    PaletteWindow& palette() { return program_->palette_window(); }
    QCheckBox& follow_box() { return *palette().findChild<QCheckBox*>("followLightBox"); }
    void match() {
        QTest::mouseClick(palette().findChild<QPushButton*>("matchButton"), Qt::LeftButton);
    }
    int light_caches() const {
        int count = 0;
        for (const auto& entry : fs::directory_iterator(program_->settings().work_dir)) {
            count += entry.path().filename().string().starts_with(".tintora-light") ? 1 : 0;
        }
        return count;
    }

    test::TemporaryFolder folder_;
    std::unique_ptr<Program> program_;
};

TEST_F(LightPassWindowTest, CancelledPassChangesNothingAndAFinishedOneIsKept) {
    const CorrectionGrid grid = program_->grid();
    {
        // Turning the light on measures it first: stopped, it stays off.
        PassCanceller canceller(main());
        test::MessageBoxCatcher boxes;
        follow_box().click();
        EXPECT_EQ(canceller.label, "Measuring the clip's light…");
        EXPECT_FALSE(follow_box().isChecked());
        EXPECT_EQ(program_->video_workspace().light_following(), LightFollowing{});
        EXPECT_EQ(boxes.texts(), std::vector<std::string>{kCancelled});
    }
    {
        // The match, in Russian: stopped in its light pass, it does not
        // happen at all.
        program_->settings().language = "rus";
        follow_box().setChecked(true);
        PassCanceller canceller(main());
        test::MessageBoxCatcher boxes;
        match();
        EXPECT_EQ(canceller.label, "Измеряю свет видео…");
        ASSERT_EQ(boxes.texts().size(), 1u);
        EXPECT_EQ(boxes.texts()[0], "Слежение за светом остановлено до конца: проект не изменён.");
    }
    EXPECT_EQ(program_->grid(), grid);
    EXPECT_EQ(program_->video_workspace().light_following(), LightFollowing{});
    EXPECT_EQ(light_caches(), 0);
    {
        // Left to its end, the pass leaves its cache for the match and the
        // preview to read.
        test::MessageBoxCatcher boxes;
        match();
        EXPECT_EQ(light_caches(), 1);
    }
}

}  // namespace
}  // namespace tintora
