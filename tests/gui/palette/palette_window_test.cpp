// Window tests of the colour palette window: pairs set and removed in the
// graph, the five whole-curve buttons, the table, the timer that follows the
// current point and the language, the candidate marker, and what the graph
// paints. Every edit must reach the main window's picture.
#include "gui/palette/palette_window.hpp"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/correction/curves.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

// The intensity the pointer reads at (x, y): the nine channel values of
// pixels x - 1 .. x + 1 of row y, times the double just below 1/9, truncated.
int intensity_at(const Frame& picture, int x, int y) {
    int total = 0;
    for (int c = x - 1; c <= x + 1; ++c) {
        const std::uint8_t* p = picture.pixel(y, c);
        total += p[0] + p[1] + p[2];
    }
    return total == 0 ? 0 : (total - 1) / 9;
}

// Where the graph draws intensity v, with its single-precision scales.
struct GraphScale {
    explicit GraphScale(const QWidget& graph)
        : a(graph.width() - 150),
          b(graph.height() - 1),
          sx(static_cast<float>(a) / 255.0f),
          sy(static_cast<float>(graph.height()) / 255.0f) {}
    int x(int v) const { return static_cast<int>(static_cast<float>(v) * sx); }
    int y(int v) const {
        return static_cast<int>(static_cast<float>(b) - static_cast<float>(v) * sy);
    }
    int a;
    int b;
    float sx;
    float sy;
};

// The pair a press at `at` sets: the nearest intensity under the pointer,
// and 254 - q for the row's share q of 0..255 (0 on the bottom row).
std::pair<int, int> pair_under(const QWidget& graph, QPoint at) {
    const int v = static_cast<int>(at.x() * 255.0 / (graph.width() - 150) + 0.5);
    const int q = at.y() * 255 / (graph.height() - 1);
    return {v, static_cast<int>(255.0 - (q + 0.5))};
}

ColorTable identity_table() {
    ColorTable table;
    for (int v = 0; v < 256; ++v) table[v] = static_cast<std::uint8_t>(v);
    return table;
}

class PaletteWindowTest : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        const fs::path background = fs::path(folder_.path().toStdString()) / "background.jpg";
        ASSERT_TRUE(save_jpeg(test::uniform_frame(300, 200, 170, 180, 190), background));
        SettingsEnvironment environment;
        environment.program_dir = folder_.path().toStdString();
        program_ = std::make_unique<Program>(environment);
        MainWindow& main = program_->main_window();
        ASSERT_TRUE(main.open_background_file(QString::fromStdString(background.string())));
        // A dark frame: curves that lift intensity 60 visibly change it.
        program_->set_video_result(test::uniform_frame(201, 135, 40, 60, 80), 1);
        main.findChild<QAction*>("colorPaletteAction")->trigger();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&palette()));
        graph_ = palette().findChild<QWidget*>("curveGraph");
        table_ = palette().findChild<QTableWidget*>("intensityTable");
        ASSERT_NE(graph_, nullptr);
        ASSERT_NE(table_, nullptr);
    }

    PaletteWindow& palette() { return program_->palette_window(); }
    CorrectionGrid& grid() { return program_->grid(); }
    const Frame& picture() { return program_->composition().picture(); }
    QPushButton* button(const char* name) { return palette().findChild<QPushButton*>(name); }
    void click(const char* name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    void press(Qt::MouseButton which, QPoint at) {
        QTest::mousePress(graph_, which, Qt::NoModifier, at);
    }

    // Pairs set as a project or sampling would leave them, tables rebuilt.
    void set_pairs(int p, std::initializer_list<std::pair<int, int>> pairs) {
        for (const auto& [v, t] : pairs) grid().control_values[p][v] = t;
        recalculate_color_tables(grid());
    }

    // Clicks the thumbnail cell of point p.
    void choose_point(int p) {
        QTest::mouseClick(program_->main_window().findChild<QWidget*>("gridThumbnail"),
                          Qt::LeftButton, Qt::NoModifier,
                          QPoint(16 + 33 * (p % 3), 16 + 33 * (p / 3)));
        ASSERT_EQ(grid().cur_point, p);
    }

    void expect_table_shows(const ColorTable& expected) {
        for (int v = 0; v < 256; ++v) {
            ASSERT_EQ(table_->item(v, 0)->text(), QString::number(v)) << v;
            ASSERT_EQ(table_->item(v, 1)->text(), QString::number(expected[v])) << v;
        }
    }

    std::vector<std::string> texts() {
        std::vector<std::string> shown{palette().windowTitle().toStdString()};
        for (const char* name :
             {"clearAllButton", "clearButton", "copyButton", "pasteButton", "setForAllButton"}) {
            shown.push_back(button(name)->text().toStdString());
        }
        shown.push_back(table_->horizontalHeaderItem(0)->text().toStdString());
        shown.push_back(table_->horizontalHeaderItem(1)->text().toStdString());
        return shown;
    }

    QTemporaryDir folder_;
    std::unique_ptr<Program> program_;
    QWidget* graph_ = nullptr;
    QTableWidget* table_ = nullptr;
};

// ------------------------------------------------------------ the graph

TEST_F(PaletteWindowTest, LeftPressSetsThePairUnderThePointer) {
    const int plot = graph_->width() - 150;
    const int h = graph_->height();
    struct Case {
        QPoint at;
        int v;
        int t;
    };
    // The bottom-left corner is (0, 0); the top row gives 254, never 255.
    const Case cases[] = {{{0, h - 1}, 0, 0}, {{plot, 0}, 255, 254}, {{plot / 2, h / 4}, -1, -1}};
    for (const Case& c : cases) {
        const auto [v, t] = pair_under(*graph_, c.at);
        SCOPED_TRACE(testing::Message() << "v " << v << " t " << t);
        if (c.v >= 0) {
            EXPECT_EQ(v, c.v);
            EXPECT_EQ(t, c.t);
        }
        const ControlValues before = grid().control_values[0];
        press(Qt::LeftButton, c.at);
        ControlValues expected = before;
        expected[v] = t;
        EXPECT_EQ(grid().control_values[0], expected);
        EXPECT_EQ(grid().color_table[0][v], t);
        EXPECT_EQ(table_->item(v, 1)->text(), QString::number(t));
    }
    expect_table_shows(grid().color_table[0]);
}

TEST_F(PaletteWindowTest, PressesRecomposeTheMainPictureAndRightPressRemovesThePair) {
    const Frame plain = picture();
    const QPoint at(graph_->width() / 2 - 75, graph_->height() / 4);
    const auto [v, t] = pair_under(*graph_, at);
    ASSERT_GT(t, v + 30);  // a curve that lifts the dark frame
    press(Qt::LeftButton, at);
    EXPECT_NE(picture(), plain);
    EXPECT_GT(intensity_at(picture(), 125, 80), intensity_at(plain, 125, 80));

    press(Qt::RightButton, at);
    EXPECT_EQ(grid().control_values[0][v], NO_PAIR);
    EXPECT_EQ(grid().color_table[0], identity_table());
    EXPECT_EQ(table_->item(v, 1)->text(), QString::number(v));
    EXPECT_EQ(picture(), plain);

    // A right press where there is no pair and a middle press change nothing.
    press(Qt::RightButton, at);
    press(Qt::MiddleButton, at);
    EXPECT_EQ(grid().control_values[0], make_empty_pairs());
    EXPECT_EQ(picture(), plain);
}

// A dot is hard to hit to the pixel: a right press that misses its
// intensity but lies within 3 pixels of the dot removes the pair.
TEST_F(PaletteWindowTest, RightPressNearADotRemovesItsPair) {
    const GraphScale g(*graph_);
    const struct {
        int dx, dy;
        bool removed;
    } cases[] = {{3, 0, true}, {2, 2, true}, {-2, -2, true}, {4, 0, false}, {3, 2, false}};
    for (const auto& c : cases) {
        grid().control_values[0] = make_empty_pairs();
        set_pairs(0, {{100, 150}});
        const QPoint at(g.x(100) + c.dx, g.y(150) + c.dy);
        ASSERT_NE(pair_under(*graph_, at).first, 100) << c.dx << "," << c.dy;
        press(Qt::RightButton, at);
        EXPECT_EQ(grid().control_values[0][100] == NO_PAIR, c.removed) << c.dx << "," << c.dy;
    }
}

TEST_F(PaletteWindowTest, PressOverTheColourBarsChangesNothing) {
    set_pairs(0, {{100, 150}});
    const auto values = grid().control_values;
    const auto tables = grid().color_table;
    for (const QPoint at : {QPoint(graph_->width() - 140, 20), QPoint(graph_->width() - 75, 200),
                            QPoint(graph_->width() - 1, graph_->height() - 1)}) {
        press(Qt::LeftButton, at);
        press(Qt::RightButton, at);
    }
    EXPECT_EQ(grid().control_values, values);
    EXPECT_EQ(grid().color_table, tables);
}

// ------------------------------------------------------------ the buttons

TEST_F(PaletteWindowTest, ClearEmptiesTheCurrentPointAndClearAllEveryPoint) {
    const Frame plain = picture();
    set_pairs(0, {{60, 200}, {150, 100}});
    set_pairs(5, {{60, 200}});
    const ControlValues kept_values = grid().control_values[5];
    const ColorTable kept_table = grid().color_table[5];

    click("clearButton");
    EXPECT_EQ(grid().control_values[0], make_empty_pairs());
    EXPECT_EQ(grid().color_table[0], identity_table());
    EXPECT_EQ(grid().control_values[5], kept_values);
    EXPECT_EQ(grid().color_table[5], kept_table);
    expect_table_shows(identity_table());
    // Point 5's curve still lifts the right half of the frame.
    EXPECT_NE(picture(), plain);

    click("clearAllButton");
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(grid().control_values[p], make_empty_pairs()) << p;
        EXPECT_EQ(grid().color_table[p], identity_table()) << p;
    }
    EXPECT_EQ(picture(), plain);
}

TEST_F(PaletteWindowTest, CopyThenPasteGivesAnotherPointTheSamePairs) {
    // Paste before any Copy empties the point: the clipboard starts empty.
    set_pairs(0, {{10, 40}});
    click("pasteButton");
    EXPECT_EQ(grid().control_values[0], make_empty_pairs());
    EXPECT_EQ(grid().color_table[0], identity_table());

    set_pairs(0, {{60, 200}, {200, 220}});
    const auto values = grid().control_values;
    const auto tables = grid().color_table;
    click("copyButton");
    EXPECT_EQ(program_->pair_clipboard(), values[0]);
    EXPECT_EQ(grid().control_values, values);
    EXPECT_EQ(grid().color_table, tables);

    choose_point(3);
    const Frame before_paste = picture();
    click("pasteButton");
    EXPECT_EQ(grid().control_values[3], values[0]);
    EXPECT_EQ(grid().color_table[3], tables[0]);
    EXPECT_EQ(grid().control_values[0], values[0]);
    expect_table_shows(tables[0]);
    EXPECT_NE(picture(), before_paste);
}

TEST_F(PaletteWindowTest, SetForAllGivesEveryPointTheCurrentPointsPairs) {
    set_pairs(1, {{30, 90}});
    set_pairs(4, {{60, 200}, {128, 10}});
    choose_point(4);
    const ControlValues chosen = grid().control_values[4];
    const ColorTable chosen_table = grid().color_table[4];
    const Frame before = picture();
    click("setForAllButton");
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(grid().control_values[p], chosen) << p;
        EXPECT_EQ(grid().color_table[p], chosen_table) << p;
    }
    EXPECT_NE(picture(), before);
}

// ------------------------------------------------------------ timer

TEST_F(PaletteWindowTest, TimerTickFollowsTheCurrentPoint) {
    set_pairs(7, {{100, 30}});
    palette().follow_program_state();
    EXPECT_EQ(palette().last_shown_point(), 0);
    expect_table_shows(identity_table());

    // The main window changes the point without telling the palette.
    choose_point(7);
    EXPECT_EQ(palette().last_shown_point(), 0);
    expect_table_shows(identity_table());
    palette().follow_program_state();
    EXPECT_EQ(palette().last_shown_point(), 7);
    expect_table_shows(grid().color_table[7]);
    // A graph press now edits point 7.
    press(Qt::LeftButton, QPoint(graph_->width() / 2 - 75, graph_->height() / 2));
    EXPECT_EQ(grid().control_values[0], make_empty_pairs());
    EXPECT_NE(grid().control_values[7], make_empty_pairs());
}

TEST_F(PaletteWindowTest, LanguageFollowsOnTheNextTickEvenWhileHidden) {
    palette().hide();
    const std::vector<std::string> english{"Color palette", "Clear all",   "Clear", "Copy",
                                           "Paste",         "Set for all", "№",     "Intensity"};
    const std::vector<std::string> russian{
        "Коррекция яркости", "Очистить все", "Очистить", "Копировать",
        "Вставить",          "Для всех",     "№",        "Яркость"};
    EXPECT_EQ(texts(), english);
    program_->main_window().findChild<QAction*>("russianAction")->trigger();
    EXPECT_EQ(texts(), english);  // not before the tick
    palette().follow_program_state();
    EXPECT_EQ(texts(), russian);
    program_->main_window().findChild<QAction*>("englishAction")->trigger();
    palette().follow_program_state();
    EXPECT_EQ(texts(), english);
    // Any code other than "eng" gives the Russian texts here.
    program_->settings().language = " rus";
    palette().follow_program_state();
    EXPECT_EQ(texts(), russian);
}

TEST_F(PaletteWindowTest, TheOneSecondTimerRunsOnItsOwn) {
    set_pairs(2, {{100, 30}});
    choose_point(2);
    program_->main_window().findChild<QAction*>("russianAction")->trigger();
    EXPECT_TRUE(QTest::qWaitFor([this] { return palette().last_shown_point() == 2; }, 2500));
    expect_table_shows(grid().color_table[2]);
    EXPECT_TRUE(QTest::qWaitFor(
        [this] { return button("clearAllButton")->text() == QStringLiteral("Очистить все"); },
        2500));
}

// ------------------------------------------------------------ sampling

TEST_F(PaletteWindowTest, CandidateMarkerAndTableFollowTheCompositionView) {
    QWidget* marker = palette().findChild<QWidget*>("candidateMarker");
    QWidget* view = program_->main_window().findChild<QWidget*>("compositionView");
    ASSERT_NE(marker, nullptr);
    EXPECT_FALSE(marker->isVisible());
    const QRect g = graph_->geometry();
    int i = 0;
    int j = 0;
    // Over the background only, then over the frame.
    for (const QPoint at : {QPoint(40, 150), QPoint(125, 80)}) {
        i = intensity_at(picture(), at.x(), at.y());
        j = intensity_at(program_->composition().clean_background(), at.x(), at.y());
        QMouseEvent move(QEvent::MouseMove, QPointF(at), view->mapToGlobal(QPointF(at)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        EXPECT_TRUE(marker->isVisible());
        EXPECT_EQ(marker->pos(),
                  QPoint(g.left() + ((g.width() - 150) * i) / 255 - 2,
                         static_cast<int>(g.top() + (1 - j / 255.0) * g.height() - 2)))
            << i << " " << j;
        EXPECT_EQ(marker->size(), QSize(5, 5));
    }
    // A right click stores the last reading as a pair, and the palette's
    // table shows the rebuilt curve at once.
    ASSERT_NE(i, j);
    QTest::mouseClick(view, Qt::RightButton, Qt::NoModifier, QPoint(125, 80));
    EXPECT_EQ(grid().control_values[0][i], j);
    EXPECT_EQ(table_->item(i, 1)->text(), QString::number(j));
    expect_table_shows(grid().color_table[0]);
}

// ------------------------------------------------------------ painting

// Colour mode: the list chooses it, a press on a pair of bars chooses the
// channel the table shows and the graph edits, and the whole-curve buttons
// act on all three channels of the point.
TEST_F(PaletteWindowTest, ColourModeEditsTheChosenChannel) {
    auto* modes = palette().findChild<QComboBox*>("modeList");
    ASSERT_NE(modes, nullptr);
    emit modes->activated(1);
    EXPECT_EQ(grid().correction_mode, CorrectionMode::Colour);
    const int bars = graph_->width() - 150;
    press(Qt::LeftButton, {bars + 60, 10});  // the green pair of bars
    EXPECT_EQ(table_->horizontalHeaderItem(1)->text().toStdString(), "Green");
    const QPoint at(graph_->width() / 2 - 75, graph_->height() / 4);
    const auto [v, t] = pair_under(*graph_, at);
    press(Qt::LeftButton, at);
    EXPECT_EQ(grid().channel_control_values[kGreenChannel][0][v], t);
    EXPECT_EQ(grid().channel_control_values[kRedChannel][0], make_empty_pairs());
    EXPECT_EQ(grid().control_values[0], make_empty_pairs());
    expect_table_shows(grid().channel_color_table[kGreenChannel][0]);
    // Only the green channel of the frame changed.
    const Frame& shown = picture();
    EXPECT_EQ(shown.pixel(80, 125)[0], 40);
    EXPECT_GT(shown.pixel(80, 125)[1], 60);
    EXPECT_EQ(shown.pixel(80, 125)[2], 80);

    grid().channel_control_values[kBlueChannel][0][9] = 9;
    click("clearButton");
    for (const auto& channel : grid().channel_control_values) {
        EXPECT_EQ(channel[0], make_empty_pairs());
    }
    emit modes->activated(0);
    EXPECT_EQ(grid().correction_mode, CorrectionMode::Brightness);
    EXPECT_EQ(table_->horizontalHeaderItem(1)->text().toStdString(), "Intensity");
}

// "Match colours" fits the chosen mode's curves of the frame shown to the
// background under it in one step, and says so; without a background it
// says why and changes nothing.
TEST_F(PaletteWindowTest, MatchColoursFitsTheFrameToTheBackground) {
    const CorrectionGrid brightness = grid();
    const Frame brightness_picture = picture();
    emit palette().findChild<QComboBox*>("modeList")->activated(1);
    const CorrectionGrid colour = grid();
    palette().findChild<QSpinBox*>("framesBox")->setValue(0);
    click("matchButton");
    EXPECT_EQ(grid().correction_mode, CorrectionMode::Colour);
    EXPECT_EQ(grid().channel_color_table[kRedChannel][4][80], 190);
    EXPECT_EQ(grid().channel_color_table[kBlueChannel][4][40], 170);
    const std::uint8_t* drawn = picture().pixel(80, 125);
    EXPECT_NEAR(drawn[0], 170, 1);
    EXPECT_NEAR(drawn[2], 190, 1);
    EXPECT_EQ(palette().findChild<QStatusBar*>()->currentMessage().toStdString(),
              "Colours matched: 27 curves over 1 frame.");
    // The match and the mode change are one undo step each.
    QAction* undo = program_->main_window().findChild<QAction*>("undoAction");
    undo->trigger();
    EXPECT_EQ(grid(), colour);
    undo->trigger();
    EXPECT_EQ(grid(), brightness);
    EXPECT_EQ(picture(), brightness_picture);
    EXPECT_EQ(palette().findChild<QComboBox*>("modeList")->currentIndex(), 0);

    // From the main window's menu with the palette closed, the result is
    // said in the main window's status bar.
    palette().hide();
    palette().findChild<QStatusBar*>()->clearMessage();
    MainWindow& main = program_->main_window();
    main.findChild<QAction*>("matchColoursAction")->trigger();
    const QString said = main.statusBar()->currentMessage();
    EXPECT_TRUE(said.startsWith(QStringLiteral("Colours matched: "))) << said.toStdString();

    SettingsEnvironment environment;
    environment.program_dir = folder_.path().toStdString();
    Program empty(environment);
    const CorrectionGrid before = empty.grid();
    test::MessageBoxCatcher boxes;
    empty.main_window().findChild<QAction*>("matchColoursAction")->trigger();
    ASSERT_EQ(boxes.texts().size(), 1u);
    EXPECT_EQ(boxes.texts()[0], "Open a background image first: the colours are matched to it.");
    EXPECT_EQ(empty.grid(), before);
}

TEST_F(PaletteWindowTest, FollowTheLightBoxTurnsTheProjectsFollowingOnAndOff) {
    auto* box = palette().findChild<QCheckBox*>("followLightBox");
    ASSERT_NE(box, nullptr);
    VideoWorkspace& workspace = program_->video_workspace();
    workspace.session().CurrentFrame = 7;
    box->click();
    EXPECT_EQ(workspace.light_following(), (LightFollowing{true, 7}));
    EXPECT_TRUE(program_->project_modified());
    box->click();
    EXPECT_FALSE(workspace.light_following().on);
    // A project opened with the key checks it on the next tick.
    workspace.light_following().on = true;
    palette().follow_program_state();
    EXPECT_TRUE(box->isChecked());
    program_->main_window().findChild<QAction*>("russianAction")->trigger();
    palette().follow_program_state();
    EXPECT_EQ(box->text().toStdString(), "Следить за светом");
}

// At 0 the Frames box shows a word, longer than its numbers: it is shown
// whole in either language.
TEST_F(PaletteWindowTest, FramesBoxShowsItsWholeWordInBothLanguages) {
    auto* frames = palette().findChild<QSpinBox*>("framesBox");
    frames->setValue(0);
    for (const char* language : {"eng", "rus"}) {
        SCOPED_TRACE(language);
        program_->settings().language = language;
        palette().follow_program_state();
        QApplication::processEvents();  // the status bar lays its widgets out again
        const auto* edit = frames->findChild<QLineEdit*>();
        ASSERT_NE(edit, nullptr);
        EXPECT_EQ(edit->text(), frames->specialValueText());
        // The line edit keeps a margin of 2 pixels on each side.
        EXPECT_GE(edit->width() - 4, edit->fontMetrics().horizontalAdvance(edit->text()));
    }
}

TEST_F(PaletteWindowTest, GraphPaintsPlotCurveAndColourBars) {
    const GraphScale s(*graph_);
    const auto colour = [](const QImage& image, int x, int y) { return image.pixelColor(x, y); };
    QImage shown = graph_->grab().toImage();
    ASSERT_EQ(shown.size(), graph_->size());

    // White between the grid lines, light grey fine lines, dark grey coarse ones.
    const int white_x = (s.x(230) + s.x(235)) / 2;
    const int white_y = (s.y(20) + s.y(25)) / 2;
    EXPECT_EQ(colour(shown, white_x, white_y), QColor(Qt::white));
    EXPECT_EQ(colour(shown, s.x(235), white_y), QColor(200, 200, 200));
    EXPECT_EQ(colour(shown, s.x(220), white_y), QColor(100, 100, 100));
    // The red curve on the identity.
    for (const int v : {50, 100, 200})
        EXPECT_EQ(colour(shown, s.x(v), s.y(v)), QColor(Qt::red)) << v;
    // Without pairs each corrected bar equals its reference bar.
    for (int y = s.y(250); y <= s.y(5); ++y) {
        const QColor red = colour(shown, s.a + 12, y);
        ASSERT_EQ(colour(shown, s.a + 36, y), red) << y;
        ASSERT_EQ(colour(shown, s.a + 86, y), colour(shown, s.a + 62, y)) << y;
        ASSERT_EQ(colour(shown, s.a + 136, y), colour(shown, s.a + 112, y)) << y;
        ASSERT_EQ(red.green() + red.blue(), 0) << y;
        ASSERT_EQ(colour(shown, s.a + 62, y), QColor(0, red.red(), 0)) << y;
    }
    EXPECT_NEAR(colour(shown, s.a + 12, s.y(128)).red(), 128, 2);

    // A pair (128, 200): its circle, and the corrected bars brighter there.
    press(Qt::LeftButton, QPoint(s.x(128), s.y(200)));
    const auto [v, t] = pair_under(*graph_, QPoint(s.x(128), s.y(200)));
    ASSERT_EQ(grid().control_values[0][v], t);
    shown = graph_->grab().toImage();
    EXPECT_EQ(colour(shown, s.x(v) - 2, s.y(t)), QColor(Qt::red));
    EXPECT_EQ(colour(shown, s.x(v) + 2, s.y(t)), QColor(Qt::red));
    EXPECT_GT(colour(shown, s.a + 36, s.y(v)).red(), colour(shown, s.a + 12, s.y(v)).red() + 50);
    EXPECT_GT(colour(shown, s.a + 86, s.y(v)).green(),
              colour(shown, s.a + 62, s.y(v)).green() + 50);
    EXPECT_GT(colour(shown, s.a + 136, s.y(v)).blue(),
              colour(shown, s.a + 112, s.y(v)).blue() + 50);

    // For a look by eye: TINTORA_WINDOW_SHOTS names a folder for the pictures.
    if (const char* folder = std::getenv("TINTORA_WINDOW_SHOTS")) {
        QWidget* view = program_->main_window().findChild<QWidget*>("compositionView");
        QMouseEvent move(QEvent::MouseMove, QPointF(125, 80), view->mapToGlobal(QPointF(125, 80)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(view, &move);
        program_->main_window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&program_->main_window()));
        const QString base = QString::fromLocal8Bit(folder) + QStringLiteral("/");
        EXPECT_TRUE(palette().grab().save(base + QStringLiteral("palette_window.png")));
        EXPECT_TRUE(program_->main_window().grab().save(base + QStringLiteral("main_window.png")));
    }
}

}  // namespace
}  // namespace tintora
