// Window tests of the composition view: opening a background, the lists, the
// clicks that place the mesh, the thumbnail, and colour sampling with the
// mouse, checked on the composed picture and the grid the user changes.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QMouseEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "core/correction/jpeg_codec.hpp"
#include "gui/main_window/grid_thumbnail.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Rgb = std::array<int, 3>;

Frame uniform_frame(int width, int height, Rgb rgb) {
    return test::uniform_frame(width, height, static_cast<std::uint8_t>(rgb[2]),
                               static_cast<std::uint8_t>(rgb[1]),
                               static_cast<std::uint8_t>(rgb[0]));
}

Rgb rgb_at(const Frame& frame, int x, int y) {
    const std::uint8_t* p = frame.pixel(y, x);
    return {p[2], p[1], p[0]};
}

constexpr Rgb kRed{255, 0, 0};
constexpr Rgb kGreen{0, 255, 0};
constexpr Rgb kBackground{190, 180, 170};
// Darker than the background, so the overlay and its correction show.
constexpr Rgb kVideo{80, 60, 40};

// What the pointer reads at (x, y) of a picture: the channel sums of the
// three pixels x - 1, x, x + 1 of row y, and their intensity (the total
// times the double just below 1/9, truncated).
struct Reading {
    Rgb sums{};
    int intensity = 0;
};

Reading read_at(const Frame& picture, int x, int y) {
    Reading reading;
    for (int c = x - 1; c <= x + 1; ++c) {
        const Rgb rgb = rgb_at(picture, c, y);
        for (int i = 0; i < 3; ++i) reading.sums[i] += rgb[i];
    }
    const int total = reading.sums[0] + reading.sums[1] + reading.sums[2];
    reading.intensity = total == 0 ? 0 : (total - 1) / 9;
    return reading;
}

class CompositionWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        ASSERT_TRUE(save_jpeg(uniform_frame(300, 200, kBackground), dir() / "background.jpg"));
        SettingsEnvironment environment;
        environment.program_dir = dir();
        program_ = std::make_unique<Program>(environment);
        view_ = window().findChild<QWidget*>("compositionView");
        ASSERT_NE(view_, nullptr);
    }

    fs::path dir() const { return fs::path(folder_.path().toStdString()); }
    MainWindow& window() { return program_->main_window(); }
    CorrectionGrid& grid() { return program_->grid(); }
    const Frame& picture() { return program_->composition().picture(); }
    const Frame& clean() { return program_->composition().clean_background(); }
    QComboBox* list(const char* name) { return window().findChild<QComboBox*>(name); }

    bool open(const fs::path& path) {
        return window().open_background_file(QString::fromStdString(path.string()));
    }

    // Background opened and a 201 by 135 video frame handed in: at the
    // default layout and "100%" the frame closes the area (100..200, 66..133).
    void open_with_video() {
        ASSERT_TRUE(open(dir() / "background.jpg"));
        program_->set_video_result(uniform_frame(201, 135, kVideo), 1);
    }

    void choose(const char* list_name, const char* item) {
        QComboBox* box = list(list_name);
        const int index = box->findText(QString::fromLatin1(item));
        ASSERT_GE(index, 0) << item;
        box->setCurrentIndex(index);
    }

    void move_mouse(QPoint at) {
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view_->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view_, &move);
    }

    std::string panel(const char* name) {
        return window().findChild<QLabel*>(name)->text().toStdString();
    }

    // Each marker is the 5 by 5 square around its point: check its centre
    // and two opposite corners.
    void expect_marker(int x, int y, Rgb colour) {
        EXPECT_EQ(rgb_at(picture(), x, y), colour) << x << "," << y;
        EXPECT_EQ(rgb_at(picture(), x - 2, y - 2), colour) << x << "," << y;
        EXPECT_EQ(rgb_at(picture(), x + 2, y + 2), colour) << x << "," << y;
    }

    QTemporaryDir folder_;
    std::unique_ptr<Program> program_;
    QWidget* view_ = nullptr;
};

constexpr int kDefaultX[3] = {100, 150, 200};
constexpr int kDefaultY[3] = {66, 100, 133};

TEST_F(CompositionWindowTest, OpeningABackgroundResetsTheListsAndLaysOutTheMesh) {
    // Choices made before the background are forgotten.
    choose("rotationList", "90");
    choose("scaleList", "50%");
    choose("densityList", "0%");
    ASSERT_TRUE(open(dir() / "background.jpg"));
    EXPECT_EQ(list("rotationList")->currentText().toStdString(), "0");
    EXPECT_EQ(list("scaleList")->currentText().toStdString(), "100%");
    EXPECT_EQ(list("densityList")->currentText().toStdString(), "100%");
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(grid().area_x[p], kDefaultX[p % 3]) << p;
        EXPECT_EQ(grid().area_y[p], kDefaultY[p / 3]) << p;
    }
    // Without a video: the background alone, no markers.
    EXPECT_EQ(picture().width(), 300);
    EXPECT_EQ(picture().height(), 200);
    EXPECT_EQ(picture(), clean());
    EXPECT_EQ(view_->size(), QSize(300, 200));

    program_->set_video_result(uniform_frame(201, 135, kVideo), 1);
    for (int p = 0; p < 9; ++p)
        expect_marker(kDefaultX[p % 3], kDefaultY[p / 3], p == 0 ? kRed : kGreen);
    // With identity curves the frame is drawn as it is, inside the mesh only.
    EXPECT_EQ(rgb_at(picture(), 125, 80), kVideo);
    EXPECT_EQ(rgb_at(picture(), 170, 120), kVideo);
    EXPECT_EQ(rgb_at(picture(), 90, 80), rgb_at(clean(), 90, 80));
    EXPECT_EQ(rgb_at(picture(), 125, 140), rgb_at(clean(), 125, 140));
}

TEST_F(CompositionWindowTest, LeftClickMovesTheCurrentAreaPointUnlessShiftOrCtrlIsHeld) {
    open_with_video();
    const Frame default_picture = picture();

    QTest::mouseClick(view_, Qt::LeftButton, Qt::ShiftModifier, QPoint(60, 40));
    QTest::mouseClick(view_, Qt::LeftButton, Qt::ControlModifier, QPoint(60, 40));
    EXPECT_EQ(grid().area_x[0], 100);
    EXPECT_EQ(grid().area_y[0], 66);
    EXPECT_EQ(picture(), default_picture);

    QTest::mouseClick(view_, Qt::LeftButton, Qt::NoModifier, QPoint(60, 40));
    EXPECT_EQ(grid().area_x[0], 60);
    EXPECT_EQ(grid().area_y[0], 40);
    EXPECT_EQ(grid().area_x[1], 150);  // the other points stay
    expect_marker(60, 40, kRed);
    EXPECT_NE(picture(), default_picture);
}

TEST_F(CompositionWindowTest, MiddleClickCentresTheMeshInsideTheBackground) {
    open_with_video();
    struct Case {
        QPoint at;
        int columns[3];
        int rows[3];
    };
    // The outer columns and rows lie a third of 300 by 200 away, held inside.
    const Case cases[] = {{{10, 10}, {0, 10, 110}, {0, 10, 76}},
                          {{290, 190}, {190, 290, 299}, {124, 190, 199}},
                          {{150, 100}, {50, 150, 250}, {34, 100, 166}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.at.x() << "," << c.at.y());
        QTest::mouseClick(view_, Qt::MiddleButton, Qt::NoModifier, c.at);
        for (int p = 0; p < 9; ++p) {
            EXPECT_EQ(grid().area_x[p], c.columns[p % 3]) << p;
            EXPECT_EQ(grid().area_y[p], c.rows[p / 3]) << p;
        }
        expect_marker(c.at.x(), c.at.y(), kGreen);
    }
}

TEST_F(CompositionWindowTest, ThumbnailClickChoosesTheCurrentPoint) {
    open_with_video();
    auto* thumbnail = window().findChild<GridThumbnail*>("gridThumbnail");
    ASSERT_NE(thumbnail, nullptr);
    struct Case {
        QPoint at;
        int point;
    };
    const Case cases[] = {{{99, 99}, 8}, {{34, 1}, 1}, {{50, 50}, 4}, {{1, 70}, 6}, {{5, 5}, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.point);
        QTest::mouseClick(thumbnail, Qt::LeftButton, Qt::NoModifier, c.at);
        EXPECT_EQ(grid().cur_point, c.point);
        EXPECT_EQ(thumbnail->shown_point(), c.point);
        // The thumbnail paints the chosen cell red-orange, the others white.
        const QImage shown = thumbnail->grab().toImage();
        const int column = c.point % 3;
        const int row = c.point / 3;
        EXPECT_EQ(shown.pixelColor(16 + 33 * column, 16 + 33 * row), QColor(244, 58, 20));
        EXPECT_EQ(shown.pixelColor(16 + 33 * ((column + 1) % 3), 16 + 33 * row), QColor(Qt::white));
        // The red marker moved to the chosen point.
        for (int p = 0; p < 9; ++p) {
            EXPECT_EQ(rgb_at(picture(), kDefaultX[p % 3], kDefaultY[p / 3]),
                      p == c.point ? kRed : kGreen);
        }
    }
    // A left click now moves point 0's area point, the last one chosen.
    QTest::mouseClick(view_, Qt::LeftButton, Qt::NoModifier, QPoint(20, 30));
    EXPECT_EQ(grid().area_x[0], 20);
    EXPECT_EQ(grid().area_y[0], 30);
}

TEST_F(CompositionWindowTest, ScaleAndRotationListsChangeThePicture) {
    open_with_video();
    struct Case {
        const char* list;
        const char* item;
        QSize size;
    };
    const Case cases[] = {{"scaleList", "33%", {99, 66}},
                          {"scaleList", "200%", {600, 400}},
                          {"scaleList", "50%", {150, 100}},
                          {"rotationList", "90", {100, 150}},
                          {"rotationList", "180", {150, 100}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.item);
        choose(c.list, c.item);
        EXPECT_EQ(QSize(picture().width(), picture().height()), c.size);
        EXPECT_EQ(view_->size(), c.size);
    }
    // At "50%" the markers sit at half the coordinates and a click is read
    // back in background pixels; the default layout still uses 300 by 200.
    choose("rotationList", "0");
    expect_marker(50, 33, kRed);
    expect_marker(100, 66, kGreen);
    QTest::mouseClick(view_, Qt::LeftButton, Qt::NoModifier, QPoint(40, 30));
    EXPECT_EQ(grid().area_x[0], 80);
    EXPECT_EQ(grid().area_y[0], 60);
    choose("rotationList", "90");
    QTest::mouseClick(window().findChild<QWidget*>("defaultButton"), Qt::LeftButton);
    EXPECT_EQ(grid().area_x[0], 100);
    EXPECT_EQ(grid().area_y[0], 66);
}

TEST_F(CompositionWindowTest, DensityListThinsTheFrameButNotTheMarkers) {
    open_with_video();
    // "0%" samples only the frame's first pixel, which lies under point 0's marker.
    choose("densityList", "0%");
    for (const QPoint at : {QPoint(125, 80), QPoint(170, 120), QPoint(190, 130)}) {
        EXPECT_EQ(rgb_at(picture(), at.x(), at.y()), rgb_at(clean(), at.x(), at.y()));
    }
    expect_marker(100, 66, kRed);
    expect_marker(200, 133, kGreen);
    choose("densityList", "100%");
    EXPECT_EQ(rgb_at(picture(), 125, 80), kVideo);
}

TEST_F(CompositionWindowTest, MouseMoveShowsTheReadingsAndRightClickStoresThePair) {
    // Before any background the pointer reads nothing.
    move_mouse({5, 5});
    EXPECT_EQ(panel("backgroundPanel"), "");
    EXPECT_EQ(panel("videoPanel"), "");

    open_with_video();
    const QPoint at(125, 80);
    const Reading background = read_at(clean(), at.x(), at.y());
    const Reading video = read_at(picture(), at.x(), at.y());
    ASSERT_LT(video.intensity, background.intensity);
    move_mouse(at);
    EXPECT_EQ(panel("backgroundPanel"),
              QString::asprintf("Background: X=125 Y=80 (r=%d, g=%d, b=%d)", background.sums[0] / 3,
                                background.sums[1] / 3, background.sums[2] / 3)
                  .toStdString());
    EXPECT_EQ(panel("videoPanel"),
              QString::asprintf("Videoframe: (r=%d, g=%d, b=%d)", video.sums[0] / 3,
                                video.sums[1] / 3, video.sums[2] / 3)
                  .toStdString());

    const Frame before = picture();
    QTest::mouseClick(view_, Qt::RightButton, Qt::NoModifier, at);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(grid().control_values[0][v],
                  v == video.intensity ? background.intensity : NO_PAIR)
            << v;
    }
    EXPECT_EQ(grid().color_table[0][video.intensity], background.intensity);
    // The area points stay, and the frame is drawn brighter, toward the background.
    EXPECT_EQ(grid().area_x[0], 100);
    EXPECT_NE(picture(), before);
    EXPECT_GT(read_at(picture(), at.x(), at.y()).intensity, video.intensity);
}

// The curves apply to the frame before correction, so a pair is read from
// it: sampling the same place again, with the frame now drawn brighter,
// gives the same pair, not one at the brighter intensity shown.
TEST_F(CompositionWindowTest, PairsAreReadFromTheFrameBeforeCorrection) {
    open_with_video();
    const QPoint at(125, 80);
    const Reading video = read_at(picture(), at.x(), at.y());
    for (int sample = 0; sample < 2; ++sample) {
        move_mouse(at);
        QTest::mouseClick(view_, Qt::RightButton, Qt::NoModifier, at);
    }
    EXPECT_GT(read_at(picture(), at.x(), at.y()).intensity, video.intensity + 20);
    int pairs = 0;
    for (int v = 0; v < 256; ++v) pairs += grid().control_values[0][v] != NO_PAIR;
    EXPECT_EQ(pairs, 1);
    EXPECT_NE(grid().control_values[0][video.intensity], NO_PAIR);
}

// The markers are drawn over the picture, never read: on the centre point's
// green marker the read-out and the pair are the video's under it.
TEST_F(CompositionWindowTest, SamplingOnAMarkerReadsTheVideoUnderIt) {
    open_with_video();
    const QPoint at(kDefaultX[1], kDefaultY[1]);
    expect_marker(at.x(), at.y(), kGreen);
    const Reading background = read_at(clean(), at.x(), at.y());
    move_mouse(at);
    const std::string video = panel("videoPanel");
    QTest::mouseClick(view_, Qt::RightButton, Qt::NoModifier, at);
    int paired = -1;
    for (int v = 0; v < 256; ++v) {
        if (grid().control_values[0][v] != NO_PAIR) paired = v;
    }
    // The JPEG background and the uniform frame give levels near their colours.
    const int video_level = (kVideo[0] + kVideo[1] + kVideo[2]) / 3;
    EXPECT_NEAR(paired, video_level, 2) << video;
    EXPECT_EQ(grid().control_values[0][paired], background.intensity);
    EXPECT_NE(video.find("(r=80, g=60, b=40)"), std::string::npos) << video;
}

TEST_F(CompositionWindowTest, ReadoutUndoesScaleAndRotation) {
    open_with_video();
    struct Case {
        const char* rotation;
        const char* scale;
        QPoint at;
        int x;
        int y;
    };
    const Case cases[] = {{"0", "200%", {101, 51}, 50, 25},
                          {"90", "100%", {10, 20}, 20, 190},
                          {"180", "100%", {10, 20}, 290, 180},
                          {"270", "100%", {10, 20}, 280, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rotation);
        choose("rotationList", c.rotation);
        choose("scaleList", c.scale);
        move_mouse(c.at);
        const Reading background = read_at(clean(), c.at.x(), c.at.y());
        EXPECT_EQ(panel("backgroundPanel"),
                  QString::asprintf("Background: X=%d Y=%d (r=%d, g=%d, b=%d)", c.x, c.y,
                                    background.sums[0] / 3, background.sums[1] / 3,
                                    background.sums[2] / 3)
                      .toStdString());
    }
}

TEST_F(CompositionWindowTest, AFileThatIsNotAJpegIsRefusedAndThePreviousBackgroundStays) {
    open_with_video();
    choose("scaleList", "50%");
    const Frame before = picture();
    std::ofstream(dir() / "notes.jpg") << "not a picture";
    for (const char* name : {"notes.jpg", "missing.jpg"}) {
        SCOPED_TRACE(name);
        test::MessageBoxCatcher catcher;
        EXPECT_FALSE(open(dir() / name));
        ASSERT_EQ(catcher.texts().size(), 1u);
        EXPECT_EQ(catcher.texts()[0].rfind("Can't open the image!", 0), 0u) << catcher.texts()[0];
        EXPECT_EQ(program_->composition().background_path(), dir() / "background.jpg");
        EXPECT_EQ(list("scaleList")->currentText().toStdString(), "50%");
        EXPECT_EQ(picture(), before);
    }
}

TEST_F(CompositionWindowTest, ThePerspectiveModelLaysTheFrameOtherwise) {
    open_with_video();
    const Frame bilinear = picture();
    program_->composition().choices.panorama.mesh_model = MeshModel::Perspective;
    program_->recompose();
    EXPECT_NE(picture(), bilinear);
    // The markers stay on the area points.
    expect_marker(kDefaultX[0], kDefaultY[0], kRed);
    expect_marker(kDefaultX[2], kDefaultY[2], kGreen);
}

}  // namespace
}  // namespace tintora
