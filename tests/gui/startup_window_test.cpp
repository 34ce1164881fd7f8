// Window tests of start-up and the main window's frame: the menus and
// captions in both languages, the settings file read at start and written
// when the program ends, the windows' places, and the F4, F5 and F6 keys.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/correction/jpeg_codec.hpp"
#include "gui/dialogs/about_box.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/palette/palette_window.hpp"
#include "gui/program.hpp"
#include "gui/video/progress_dialog.hpp"
#include "gui/video/video_window.hpp"
#include "gui/window_geometry.hpp"
#include "support/message_box_catcher.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

std::string read_text(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void write_text(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// A menu text as the user reads it, and the Alt key it has.
std::string visible(const QAction* action) {
    return action->text().remove(QLatin1Char('&')).toStdString();
}
QChar alt_key(const QAction* action) {
    const QString text = action->text();
    const qsizetype at = text.indexOf(QLatin1Char('&'));
    return at >= 0 && at + 1 < text.size() ? text.at(at + 1).toLower() : QChar();
}

// Each menu of the bar as its title followed by its items, "-" for a
// separator; every title and item has an Alt key of its own in its menu.
std::vector<Strings> menu_layout(const MainWindow& window) {
    std::vector<Strings> menus;
    const auto expect_own_keys = [](const QList<QAction*>& actions) {
        QList<QChar> keys;
        for (const QAction* action : actions) {
            if (action->isSeparator()) continue;
            const QChar key = alt_key(action);
            EXPECT_FALSE(key.isNull() || keys.contains(key)) << action->text().toStdString();
            keys.append(key);
        }
    };
    expect_own_keys(window.menuBar()->actions());
    for (const QAction* entry : window.menuBar()->actions()) {
        Strings items{visible(entry)};
        expect_own_keys(entry->menu()->actions());
        for (const QAction* item : entry->menu()->actions()) {
            items.push_back(item->isSeparator() ? "-" : visible(item));
        }
        menus.push_back(items);
    }
    return menus;
}

// The translated captions of the left column, top to bottom.
Strings left_column_captions(const MainWindow& window) {
    Strings texts;
    // The client area only: the owned windows (the video window) have captions of their own.
    const QWidget* client = window.centralWidget();
    const QWidget* picture = window.findChild<QWidget*>("scrollBox");
    for (const QGroupBox* group : client->findChildren<QGroupBox*>()) {
        texts.push_back(group->title().toStdString());
    }
    for (const QLabel* label : client->findChildren<QLabel*>()) {
        if (!label->text().isEmpty() && !picture->isAncestorOf(label)) {
            texts.push_back(label->text().toStdString());
        }
    }
    texts.push_back(window.findChild<QCheckBox*>("hideFrameBox")->text().toStdString());
    texts.push_back(window.findChild<QPushButton*>("refreshButton")->text().toStdString());
    texts.push_back(window.findChild<QPushButton*>("defaultButton")->text().toStdString());
    return texts;
}

const std::vector<Strings> kEnglishMenus{
    {"File", "New project", "Open project", "Save project", "-", "Open image", "Open video", "-",
     "Exit"},
    {"Edit", "Video", "Color palette", "-", "Options", "-", "Match colours", "Play in panorama",
     "Area points…", "-", "Undo", "Redo"},
    {"Language", "English", "Русский"},
    {"Service", "Krpano overlay hotspot counter", "Hotspot placement…", "Panorama…"},
    {"Help", "Context", "-", "About", "Guide"},
};
const std::vector<Strings> kRussianMenus{
    {"Файл", "Новый поект", "Открыть поект", "Сохранить поект", "-", "Открыть фон", "Открыть видео",
     "-", "Выход"},
    {"Редактирование", "Видео", "Коррекция яркости", "-", "Настройки", "-", "Подобрать цвета",
     "Воспроизвести в панораме", "Точки области…", "-", "Отменить", "Повторить"},
    {"Язык", "English", "Русский"},
    {"Сервис", "Вычисление параметров оверлея krpano", "Размещение хотспота…", "Панорама…"},
    {"Помощь", "Справка", "-", "О программе", "Руководство"},
};
const Strings kEnglishCaptions{"Background", "Video frame", "Rotate",       "Scale",
                               "Density",    "hide [F4]",   "Refresh [F5]", "Default [F6]"};
const Strings kRussianCaptions{"Фон",       "Видео кадр",  "Вращение",      "Масштаб",
                               "Плотность", "скрыть [F4]", "Обновить [F5]", "По умолчанию [F6]"};

void expect_language_shown(const MainWindow& window, bool russian) {
    EXPECT_EQ(menu_layout(window), russian ? kRussianMenus : kEnglishMenus);
    EXPECT_EQ(left_column_captions(window), russian ? kRussianCaptions : kEnglishCaptions);
    EXPECT_EQ(window.findChild<QAction*>("russianAction")->isChecked(), russian);
    EXPECT_EQ(window.findChild<QAction*>("englishAction")->isChecked(), !russian);
    // The caption is not translated.
    EXPECT_EQ(window.windowTitle().toStdString(), "Tintora for Video in Panorama");
}

class StartupWindowTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(folder_.isValid()); }

    fs::path dir() const { return fs::path(folder_.path().toStdString()); }
    fs::path ini() const { return dir() / "Tintora.ini"; }

    Program& start(int country_code = 0, std::optional<fs::path> program_dir = std::nullopt) {
        SettingsEnvironment environment;
        environment.program_dir = program_dir.value_or(dir());
        environment.country_code = country_code;
        program_ = std::make_unique<Program>(environment);
        return *program_;
    }

    // A start on a desktop of these screens, whatever the test platform's are.
    Program& start_on(const Screens& screens) {
        SettingsEnvironment environment;
        environment.program_dir = dir();
        program_ = std::make_unique<Program>(environment, screens);
        return *program_;
    }

    // The first four lines of the settings file: the values; the windows'
    // places follow them.
    std::string settings_values() const {
        const std::string text = read_text(ini());
        std::size_t end = 0;
        for (int line = 0; line < 4 && end != std::string::npos; ++line) {
            end = text.find('\n', end);
            if (end != std::string::npos) ++end;
        }
        return text.substr(0, end);
    }

    // The four lines the program writes for the given values, CR LF ended.
    static std::string ini_text(const std::string& lang, const fs::path& temp,
                                const fs::path& ffmpeg, const fs::path& ffplay) {
        return "LANG=" + lang + "\r\nTEMP=" + temp.string() + "\r\nFFMPEG=" + ffmpeg.string() +
               "\r\nFFPLAY=" + ffplay.string() + "\r\n";
    }

    QTemporaryDir folder_;
    std::unique_ptr<Program> program_;
};

// ------------------------------------------------------------ start-up

struct LanguageCase {
    const char* name;
    const char* settings_file;  // null: no file
    int country_code;
    const char* language;
    bool russian;
};

class StartupLanguageTest : public StartupWindowTest,
                            public testing::WithParamInterface<LanguageCase> {};

TEST_P(StartupLanguageTest, StartsWithTheLanguageOfTheFileOrTheLocale) {
    const LanguageCase& c = GetParam();
    if (c.settings_file != nullptr) write_text(ini(), c.settings_file);
    Program& program = start(c.country_code);
    EXPECT_EQ(program.settings().language, c.language);
    expect_language_shown(program.main_window(), c.russian);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StartupLanguageTest,
    testing::Values(LanguageCase{"NoFile", nullptr, 0, "eng", false},
                    LanguageCase{"NoFileRussianLocale", nullptr, 7, "rus", true},
                    LanguageCase{"RusInFile", "LANG=rus\r\nTEMP=/w\r\n", 0, "rus", true},
                    LanguageCase{"FileOverridesLocale", "LANG=eng\n", 7, "eng", false},
                    LanguageCase{"LowerCaseKeyIgnored", "lang=rus\r\n", 0, "eng", false},
                    // Only exactly "rus" gives the main window Russian captions.
                    LanguageCase{"BlankBeforeValue", "LANG= rus\r\n", 0, " rus", false}),
    [](const testing::TestParamInfo<LanguageCase>& info) { return info.param.name; });

TEST_F(StartupWindowTest, TheMainWindowOpensWithThePaletteAndTheOthersWaitHidden) {
    Program& program = start();
    program.main_window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.main_window()));
    // The palette opens beside it; the main window keeps the keyboard.
    EXPECT_TRUE(program.palette_window().isVisible());
    EXPECT_TRUE(QTest::qWaitForWindowActive(&program.main_window()));
    EXPECT_FALSE(program.video_window().isVisible());
    EXPECT_FALSE(program.progress_dialog().isVisible());
    EXPECT_FALSE(program.about_box().isVisible());
    EXPECT_FALSE(program.options_dialog().isVisible());

    // The two language items are radio items of one exclusive group.
    const auto* english = program.main_window().findChild<QAction*>("englishAction");
    const auto* russian = program.main_window().findChild<QAction*>("russianAction");
    ASSERT_NE(english->actionGroup(), nullptr);
    EXPECT_EQ(english->actionGroup(), russian->actionGroup());
    EXPECT_TRUE(english->actionGroup()->isExclusive());
    EXPECT_TRUE(english->isCheckable() && russian->isCheckable());
}

TEST_F(StartupWindowTest, PathsComeFromTheFileElseBesideTheProgram) {
    {
        Program& program = start();
        EXPECT_EQ(program.settings().work_dir, dir() / "Temp");
        EXPECT_EQ(program.settings().ffmpeg_path, dir() / "ffmpeg");
        EXPECT_EQ(program.settings().ffplay_path, dir() / "ffplay");
    }
    write_text(ini(),
               "LANG=rus\r\nTEMP=/srv/work dir\r\nFFMPEG=/opt/a/ffmpeg\r\n"
               "FFMPEG=/opt/b/ffmpeg\r\nFFPLAY=/opt/b/ffplay\r\n");
    Program& program = start();
    EXPECT_EQ(program.settings().work_dir, "/srv/work dir");
    EXPECT_EQ(program.settings().ffmpeg_path, "/opt/b/ffmpeg");  // the last line wins
    EXPECT_EQ(program.settings().ffplay_path, "/opt/b/ffplay");
}

// ------------------------------------------------------------ language menu

TEST_F(StartupWindowTest, LanguageMenuSwitchesTheCaptionsAtOnce) {
    MainWindow& window = start().main_window();
    window.findChild<QAction*>("russianAction")->trigger();
    EXPECT_EQ(program_->settings().language, "rus");
    expect_language_shown(window, true);
    window.findChild<QAction*>("englishAction")->trigger();
    EXPECT_EQ(program_->settings().language, "eng");
    expect_language_shown(window, false);
}

// ------------------------------------------------------------ settings file at the end

TEST_F(StartupWindowTest, ClosingWritesTheFourCurrentValues) {
    write_text(ini(),
               "LANG=rus\r\nTEMP=/srv/work\r\nOTHER=kept?\r\nFFMPEG=/opt/ffmpeg\r\n"
               "FFPLAY=/opt/ffplay\r\n");
    Program& program = start();
    program.main_window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.main_window()));
    // A change made during the run reaches the file.
    program.main_window().findChild<QAction*>("englishAction")->trigger();
    test::MessageBoxCatcher catcher;
    EXPECT_TRUE(program.main_window().close());
    EXPECT_TRUE(catcher.texts().empty());
    EXPECT_EQ(settings_values(), ini_text("eng", "/srv/work", "/opt/ffmpeg", "/opt/ffplay"));
}

TEST_F(StartupWindowTest, ClosingWithoutASettingsFileCreatesOneWithTheDefaults) {
    Program& program = start(7);
    program.main_window().close();
    EXPECT_EQ(settings_values(),
              ini_text("rus", dir() / "Temp", dir() / "ffmpeg", dir() / "ffplay"));
}

TEST_F(StartupWindowTest, ExitWritesTheFileAndEndsTheApplication) {
    // Written with LF only; nothing changes during the run.
    write_text(ini(), "LANG=eng\nTEMP=/t\nFFMPEG=/f\nFFPLAY=/p\n");
    Program& program = start();
    QObject guard;
    QTimer::singleShot(0, &guard, [&program] {
        program.main_window().findChild<QAction*>("exitAction")->trigger();
    });
    // Should Exit not end the event loop, this ends it with another code.
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_EQ(settings_values(), ini_text("eng", "/t", "/f", "/p"));
}

struct UnwritableCase {
    const char* name;
    int country_code;
    const char* message;
};

class UnwritableSettingsTest : public StartupWindowTest,
                               public testing::WithParamInterface<UnwritableCase> {};

TEST_P(UnwritableSettingsTest, ClosingTellsTheUserInTheInterfaceLanguage) {
    // A program folder below a regular file can hold no file at all.
    write_text(dir() / "blocker", "a file, not a folder");
    Program& program = start(GetParam().country_code, dir() / "blocker" / "program");
    program.main_window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.main_window()));
    test::MessageBoxCatcher catcher;
    program.main_window().close();
    // The message, then why the write failed, naming the file.
    ASSERT_EQ(catcher.texts().size(), 1u);
    const std::string& text = catcher.texts()[0];
    EXPECT_EQ(text.substr(0, text.find('\n')), GetParam().message);
    EXPECT_NE(text.find("\nCannot write \"" + (dir() / "blocker" / "program").string()),
              std::string::npos)
        << text;
    // The window closes all the same.
    EXPECT_FALSE(program.main_window().isVisible());
}

INSTANTIATE_TEST_SUITE_P(
    Languages, UnwritableSettingsTest,
    testing::Values(UnwritableCase{"English", 0, "Can't write ini-file!"},
                    UnwritableCase{"Russian", 7, "Невозножно сохранить ini-файл!"}),
    [](const testing::TestParamInfo<UnwritableCase>& info) { return info.param.name; });

// ------------------------------------------------------------ window places

TEST_F(StartupWindowTest, FirstStartLaysTheWindowsSideBySideAndLaterStartsKeepTheirPlaces) {
    const QRect room(0, 0, 2800, 1400);
    const Screens desktop{to_screen_rect(room), {to_screen_rect(room)}};
    const auto frames = [](Program& program) {
        return std::array<QRect, 3>{program.main_window().frameGeometry(),
                                    program.palette_window().frameGeometry(),
                                    program.video_window().frameGeometry()};
    };
    QPoint main_place;
    {
        Program& program = start_on(desktop);
        program.main_window().show();
        program.video_window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.video_window()));
        ASSERT_TRUE(program.palette_window().isVisible());
        const std::array<QRect, 3> shown = frames(program);
        for (std::size_t i = 0; i < shown.size(); ++i) {
            EXPECT_TRUE(room.contains(shown[i])) << i;
            for (std::size_t j = i + 1; j < shown.size(); ++j) {
                EXPECT_FALSE(shown[i].intersects(shown[j])) << i << " and " << j;
            }
        }
        // The user moves the palette, and the video window to a monitor
        // that will be gone at the next start.
        main_place = program.main_window().pos();
        program.palette_window().move(1500, 900);
        program.video_window().move(5000, -3000);
        program.main_window().close();
    }
    {
        Program& program = start_on(desktop);
        EXPECT_EQ(program.main_window().pos(), main_place);
        EXPECT_EQ(program.palette_window().pos(), QPoint(1500, 900));
        EXPECT_TRUE(room.contains(program.video_window().geometry()));
        program.main_window().show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.main_window()));
        EXPECT_TRUE(program.palette_window().isVisible());
        // Closed when the program ends, it stays closed at the next start.
        program.palette_window().close();
        program.main_window().close();
    }
    Program& program = start_on(desktop);
    program.main_window().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&program.main_window()));
    EXPECT_FALSE(program.palette_window().isVisible());
}

// ------------------------------------------------------------ keys

TEST_F(StartupWindowTest, FunctionKeysHideTheFrameRecomposeAndRestoreTheLayout) {
    Frame background(300, 200);
    for (int r = 0; r < 200; ++r) {
        for (int c = 0; c < 300; ++c) std::fill_n(background.pixel(r, c), 3, std::uint8_t{200});
    }
    ASSERT_TRUE(save_jpeg(background, dir() / "background.jpg"));
    Program& program = start();
    MainWindow& window = program.main_window();
    ASSERT_TRUE(
        window.open_background_file(QString::fromStdString((dir() / "background.jpg").string())));
    Frame video(201, 135);  // black: far from the light background
    program.set_video_result(video, 1);
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    const Composition& composition = program.composition();
    // (125, 80) lies inside the frame, away from the markers.
    const auto overlay_shown = [&composition] {
        return composition.picture().pixel(80, 125)[0] !=
               composition.clean_background().pixel(80, 125)[0];
    };
    auto* hide_box = window.findChild<QCheckBox*>("hideFrameBox");
    ASSERT_TRUE(overlay_shown());

    QTest::keyClick(&window, Qt::Key_F4);
    EXPECT_TRUE(hide_box->isChecked());
    EXPECT_FALSE(overlay_shown());
    // The markers stay.
    EXPECT_EQ(composition.picture().pixel(66, 100)[2], 255);
    QTest::keyClick(&window, Qt::Key_F4);
    EXPECT_FALSE(hide_box->isChecked());
    EXPECT_TRUE(overlay_shown());
    // Also while a list has the focus, where F4 would otherwise open it.
    auto* rotation_list = window.findChild<QComboBox*>("rotationList");
    rotation_list->setFocus();
    QTest::keyClick(rotation_list, Qt::Key_F4);
    EXPECT_TRUE(hide_box->isChecked());
    EXPECT_FALSE(rotation_list->view()->isVisible());
    QTest::keyClick(rotation_list, Qt::Key_F4);
    EXPECT_FALSE(hide_box->isChecked());

    // F5 draws what the state says now.
    const Frame default_picture = composition.picture();
    program.grid().area_x.fill(10);
    program.grid().area_y.fill(10);
    EXPECT_EQ(composition.picture(), default_picture);
    QTest::keyClick(&window, Qt::Key_F5);
    EXPECT_FALSE(overlay_shown());

    QTest::keyClick(&window, Qt::Key_F6);
    EXPECT_EQ(program.grid().area_x[0], 100);
    EXPECT_EQ(program.grid().area_y[8], 133);
    EXPECT_EQ(composition.picture(), default_picture);
}

}  // namespace
}  // namespace tintora
