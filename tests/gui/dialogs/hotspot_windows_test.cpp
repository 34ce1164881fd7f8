// Window tests of the hotspot's windows: the Service menu's guide page; the
// Panorama dialog's values taken into the project and its file, or refused
// with their message; and the hotspot placement window following the mesh
// with the core's numbers, its snippet and its refusals.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/correction/jpeg_codec.hpp"
#include "core/project/project_file.hpp"
#include "core/viewer/hotspot_files.hpp"
#include "core/viewer/hotspot_layout.hpp"
#include "core/viewer/viewer_texts.hpp"
#include "gui/dialogs/hotspot_placement_window.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "support/dialog_answer.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class HotspotWindowsTest : public testing::Test {
protected:
    void SetUp() override {
        SettingsEnvironment environment;
        environment.program_dir = folder_.path();
        program_ = std::make_unique<Program>(environment);
        program_->settings().language = "eng";
    }

    // A 2:1 panorama with the mesh on a quarter of its width, a sixth of its
    // height (90 by 30 degrees), and a video frame over it.
    void open_panorama_and_clip() {
        std::mt19937 random(3);
        const fs::path panorama = folder_ / "panorama.jpg";
        ASSERT_TRUE(save_jpeg(test::random_frame(512, 256, random), panorama));
        ASSERT_TRUE(main().open_background_file(QString::fromStdString(panorama.string())));
        program_->set_video_result(test::uniform_frame(64, 48, 90, 100, 110), 1);
        move_mesh(0, 0);
    }
    // The mesh at its place above, shifted by (dx, dy) pixels of the panorama.
    void move_mesh(int dx, int dy) {
        CorrectionGrid& grid = program_->grid();
        for (int p = 0; p < kGridPointCount; ++p) {
            grid.area_x[p] = 200 + (p % 3) * 32 + dx;
            grid.area_y[p] = 106 + (p / 3) * 11 + dy;
        }
        program_->recompose();
    }

    MainWindow& main() { return program_->main_window(); }
    QAction* action(const char* name) { return main().findChild<QAction*>(name); }
    PanoramaChoices& panorama() { return program_->composition().choices.panorama; }

    test::TemporaryFolder folder_;
    std::unique_ptr<Program> program_;
};

// Service > "Krpano overlay hotspot counter" opens the guide's hotspots page,
// as Help > Guide opens its main page: missing here, it says where it looked.
TEST_F(HotspotWindowsTest, KrpanoItemOpensTheGuidesHotspotsPage) {
    test::MessageBoxCatcher catcher;
    action("krpanoCounterAction")->trigger();
    ASSERT_EQ(catcher.texts().size(), 1u);
    EXPECT_NE(catcher.texts()[0].find((folder_ / "guide" / "hotspots_en.html").string()),
              std::string::npos)
        << catcher.texts()[0];
}

// ------------------------------------------------------------ the Panorama dialog

struct PanoramaCase {
    const char* name;
    const char* language;
    // Typed into the fields: hfov, vfov, yaw, pitch, edge blend; the model's item.
    std::array<const char*, 5> typed;
    int model;
    PanoramaChoices taken;  // when no message
    const char* message;    // "" when the dialog takes the values
    const char* refocused;  // the field a refusal gives the focus to
};

// The choices the project starts with, which a refusal leaves as they are.
const PanoramaChoices kBefore{300, 150, 5, -5, MeshModel::Perspective, 10};

class PanoramaDialogTest : public HotspotWindowsTest,
                           public testing::WithParamInterface<PanoramaCase> {
protected:
    // Service > "Panorama…": the fields typed and OK pressed; a refusal's
    // message kept, with the field that then has the focus.
    Strings type_panorama(const PanoramaCase& c, std::string& focused) {
        test::DialogAnswer answer(
            QStringLiteral("panoramaDialog"),
            [&c](QDialog& dialog) {
                const char* names[] = {"hfovField", "vfovField", "yawField", "pitchField",
                                       "edgeBlendField"};
                for (std::size_t i = 0; i < c.typed.size(); ++i) {
                    dialog.findChild<QLineEdit*>(names[i])->setText(QString::fromUtf8(c.typed[i]));
                }
                dialog.findChild<QComboBox*>("meshModelList")->setCurrentIndex(c.model);
            },
            [&focused](QDialog& dialog) {
                focused = dialog.focusWidget()->objectName().toStdString();
            });
        action("panoramaAction")->trigger();
        return answer.messages();
    }
};

TEST_P(PanoramaDialogTest, TakesTheTypedValuesIntoTheProjectOrRefusesThem) {
    const PanoramaCase& c = GetParam();
    program_->settings().language = c.language;
    panorama() = kBefore;
    program_->mark_project_unmodified();
    std::string focused;
    const Strings messages = type_panorama(c, focused);
    const bool refused = *c.message != '\0';
    EXPECT_EQ(messages, refused ? Strings{c.message} : Strings{});
    EXPECT_EQ(panorama(), refused ? kBefore : c.taken);
    EXPECT_EQ(program_->project_modified(), !refused);
    if (refused) {
        EXPECT_EQ(focused, c.refocused);
        return;
    }
    // The project file keeps them: a project read back from it has them.
    const fs::path project = folder_ / "project.tpr";
    ASSERT_TRUE(save_project(project, program_->composition(), program_->grid(),
                             program_->video_workspace()));
    Composition read;
    CorrectionGrid grid;
    VideoWorkspace workspace(program_->settings());
    struct NoFiles : ProjectLoaders {
        void open_background(const fs::path&) override {}
        void open_video(const fs::path&) override {}
    } loaders;
    ASSERT_TRUE(open_project(project, {read, grid, workspace}, loaders));
    EXPECT_EQ(read.choices.panorama, c.taken);
}

INSTANTIATE_TEST_SUITE_P(
    Values, PanoramaDialogTest,
    testing::Values(
        PanoramaCase{"EveryValue",
                     "eng",
                     {"90", "45,5", "-30", " 12.25 ", "0"},
                     0,
                     PanoramaChoices{90, 45.5, -30, 12.25, MeshModel::Bilinear, 0},
                     "",
                     ""},
        PanoramaCase{"EmptiedAnglesGoBackToTheirDefaults",
                     "eng",
                     {"", "", "", "", "1000"},
                     1,
                     PanoramaChoices{{}, {}, {}, {}, MeshModel::Perspective, 1000},
                     "",
                     ""},
        PanoramaCase{"HfovOverAWholeTurn",
                     "eng",
                     {"361", "", "", "", "24"},
                     0,
                     {},
                     "The horizontal field of view must be a number of degrees above 0 and at "
                     "most 360, or empty for the default.",
                     "hfovField"},
        PanoramaCase{"PitchNotANumber",
                     "eng",
                     {"", "", "", "up", "24"},
                     0,
                     {},
                     "The pitch of the centre must be a number of degrees from -90 to 90, or "
                     "empty for 0.",
                     "pitchField"},
        PanoramaCase{"EdgeBlendAFraction",
                     "eng",
                     {"", "", "", "", "2.5"},
                     0,
                     {},
                     "The edge blend must be a whole number of pixels from 0 (a hard edge) to "
                     "1000.",
                     "edgeBlendField"},
        PanoramaCase{"VfovOfNothingInRussian",
                     "rus",
                     {"", "0", "", "", "24"},
                     0,
                     {},
                     "Угол обзора по вертикали должен быть числом градусов больше 0 и не больше "
                     "180 или пустым (значение по умолчанию).",
                     "vfovField"}),
    [](const testing::TestParamInfo<PanoramaCase>& info) { return std::string(info.param.name); });

// ------------------------------------------------------------ the placement window

class PlacementWindowTest : public HotspotWindowsTest {
protected:
    HotspotPlacementWindow& window() { return program_->hotspot_placement_window(); }
    void open_window() {
        action("hotspotPlacementAction")->trigger();
        ASSERT_TRUE(window().isVisible());
    }
    Strings values() {
        Strings shown;
        for (const QLabel* value : window().findChildren<QLabel*>()) {
            if (value->objectName().startsWith(QStringLiteral("lineValue")) &&
                value->isVisibleTo(&window())) {
                shown.push_back(value->text().toStdString());
            }
        }
        return shown;
    }
    std::string snippet() {
        return window().findChild<QPlainTextEdit*>("snippetText")->toPlainText().toStdString();
    }
    std::string refusal() {
        const QLabel* label = window().findChild<QLabel*>("refusalLabel");
        return label->isVisibleTo(&window()) ? label->text().toStdString() : std::string();
    }
    bool buttons_enabled() {
        return window().findChild<QPushButton*>("copySnippetButton")->isEnabled() &&
               window().findChild<QPushButton*>("previewButton")->isEnabled();
    }
    // What the core makes of the project as it stands.
    std::string core_snippet() {
        const Result<HotspotLayout> layout =
            hotspot_layout(program_->composition(), program_->grid(), {64, 48}, "eng");
        return layout ? krpano_hotspot_xml(layout.value().frame, hotspot_files("hotspot"))
                      : std::string();
    }
    // A recomposition is shown once the events of its burst have been handled.
    void let_it_follow() { QTest::qWait(20); }
};

TEST_F(PlacementWindowTest, FollowsTheMeshWithTheCoresNumbersAndSnippet) {
    open_panorama_and_clip();
    open_window();
    const Strings first = values();
    // Centre, angular size, frame, and the models' distance for the bilinear model.
    ASSERT_EQ(first.size(), 4u);
    EXPECT_EQ(snippet(), core_snippet());
    EXPECT_TRUE(refusal().empty());
    EXPECT_TRUE(buttons_enabled());

    move_mesh(60, -20);
    let_it_follow();
    const Strings moved = values();
    ASSERT_EQ(moved.size(), 4u);
    EXPECT_NE(moved[0], first[0]);  // the centre moved
    EXPECT_EQ(snippet(), core_snippet());
    EXPECT_NE(snippet(), "");

    window().findChild<QPushButton*>("copySnippetButton")->click();
    EXPECT_EQ(QApplication::clipboard()->text().toStdString(), snippet());

    // The perspective model has nothing to be compared with.
    panorama().mesh_model = MeshModel::Perspective;
    program_->recompose();
    let_it_follow();
    EXPECT_EQ(values().size(), 3u);
    EXPECT_EQ(snippet(), core_snippet());
}

struct RefusalCase {
    const char* name;
    const char* language;
    bool background;
    bool clip;
    // What becomes of the mesh placed on the background.
    void (*change)(CorrectionGrid&);
    const TextPair& refusal;
};

class PlacementRefusalTest : public PlacementWindowTest,
                             public testing::WithParamInterface<RefusalCase> {};

TEST_P(PlacementRefusalTest, ShowsTheCoresRefusalWithoutANumber) {
    const RefusalCase& c = GetParam();
    program_->settings().language = c.language;
    std::mt19937 random(4);
    if (c.background) {
        const fs::path panorama = folder_ / "panorama.jpg";
        ASSERT_TRUE(save_jpeg(test::random_frame(512, 256, random), panorama));
        ASSERT_TRUE(main().open_background_file(QString::fromStdString(panorama.string())));
    }
    if (c.clip) program_->set_video_result(test::uniform_frame(64, 48, 90, 100, 110), 1);
    if (c.change != nullptr) c.change(program_->grid());
    open_window();
    EXPECT_EQ(refusal(), message_text(c.refusal, c.language));
    EXPECT_TRUE(values().empty());
    EXPECT_EQ(snippet(), "");
    EXPECT_FALSE(buttons_enabled());
}

INSTANTIATE_TEST_SUITE_P(
    Problems, PlacementRefusalTest,
    testing::Values(
        RefusalCase{"NoBackground", "eng", false, true, nullptr, viewer_texts::kNeedsBackground},
        RefusalCase{"NoClip", "rus", true, false, nullptr, viewer_texts::kNeedsClip},
        // The top corners swapped turn the top quarters over.
        RefusalCase{"Folded", "eng", true, true,
                    [](CorrectionGrid& grid) { std::swap(grid.area_x[0], grid.area_x[2]); },
                    viewer_texts::kFolded},
        // The side columns nearly a whole turn apart.
        RefusalCase{"TooWide", "rus", true, true,
                    [](CorrectionGrid& grid) {
                        for (int row = 0; row < 3; ++row) {
                            grid.area_x[3 * row] = 10;
                            grid.area_x[3 * row + 2] = 500;
                        }
                    },
                    viewer_texts::kTooWide}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tintora
