// Window tests of the options dialog and the about box: "OK" and its
// messages, the working-folder list's timer, "Exit", the texts of both
// languages, and the picture the about box shows for the cursor.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QCursor>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gui/dialogs/about_box.hpp"
#include "gui/dialogs/options_dialog.hpp"
#include "gui/program.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

class OptionsWindowTest : public testing::Test {
protected:
    Program& start(const char* language = "eng") {
        SettingsEnvironment environment;
        environment.program_dir = folder_.path();
        program_ = std::make_unique<Program>(environment);
        program_->settings().language = language;
        return *program_;
    }
    OptionsDialog& options() { return program_->options_dialog(); }
    QLineEdit* field(const char* name) { return options().findChild<QLineEdit*>(name); }
    QComboBox* work_dir_list() { return options().findChild<QComboBox*>("workDirList"); }

    test::TemporaryFolder folder_;
    std::unique_ptr<Program> program_;
};

// ------------------------------------------------------------ "OK"

struct OkCase {
    const char* name;
    const char* language;
    bool ffmpeg_exists, ffplay_exists, folder_exists;
    const char* message;  // "" when the dialog closes
};

class OptionsOkTest : public OptionsWindowTest, public testing::WithParamInterface<OkCase> {};

TEST_P(OptionsOkTest, ReportsTheFirstFailedCheckInTheLanguageAndKeepsWhatWasTaken) {
    const OkCase& c = GetParam();
    Program& program = start(c.language);
    std::ofstream(folder_ / "my-ffmpeg") << "tool";
    std::ofstream(folder_ / "my-ffplay") << "tool";
    fs::create_directory(folder_ / "my-work");
    const fs::path ffmpeg = folder_ / (c.ffmpeg_exists ? "my-ffmpeg" : "no-ffmpeg");
    const fs::path ffplay = folder_ / (c.ffplay_exists ? "my-ffplay" : "no-ffplay");
    const fs::path work = folder_ / (c.folder_exists ? "my-work" : "no-work");
    const AppSettings before = program.settings();
    options().show();
    field("ffmpegField")->setText(QString::fromStdString(ffmpeg.string()));
    field("ffplayField")->setText(QString::fromStdString(ffplay.string()));
    work_dir_list()->setEditText(QString::fromStdString(work.string()));

    test::MessageBoxCatcher catcher;
    options().findChild<QPushButton*>("okButton")->click();

    const bool closes = *c.message == '\0';
    EXPECT_EQ(catcher.texts(), closes ? Strings{} : Strings{c.message});
    EXPECT_EQ(options().isVisible(), !closes);
    const AppSettings& after = program.settings();
    EXPECT_EQ(after.ffmpeg_path, c.ffmpeg_exists ? ffmpeg : before.ffmpeg_path);
    EXPECT_EQ(after.ffplay_path, c.ffmpeg_exists && c.ffplay_exists ? ffplay : before.ffplay_path);
    EXPECT_EQ(after.work_dir, closes ? work : before.work_dir);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsOkTest,
    testing::Values(
        OkCase{"FfplayMissing", "eng", true, false, true, "ffplay.exe not found!"},
        OkCase{"FfmpegMissingRussian", "rus", false, true, true, "ffmpeg.exe не найден!"},
        // English only for exactly "eng".
        OkCase{"FolderMissingOtherLanguage", "Eng", true, true, false, "Каталог не существует!"},
        OkCase{"AllValidCloses", "eng", true, true, true, ""}),
    [](const testing::TestParamInfo<OkCase>& info) { return info.param.name; });

// ------------------------------------------------------------ working-folder list

enum class Resolved { temp_folder, program_folder, unchanged };

struct WorkDirCase {
    const char* name;
    const char* text;  // what the user puts into the list
    Resolved resolved;
};

class OptionsWorkDirTest : public OptionsWindowTest,
                           public testing::WithParamInterface<WorkDirCase> {};

TEST_P(OptionsWorkDirTest, ATickResolvesTheChoiceAndTheListShowsWorkDir) {
    const WorkDirCase& c = GetParam();
    test::TemporaryFolder temp;
    const std::optional<QByteArray> old_temp =
        qEnvironmentVariableIsSet("TEMP") ? std::optional(qgetenv("TEMP")) : std::nullopt;
    qputenv("TEMP", QByteArray(temp.path().c_str()));
    const auto restore_temp =
        qScopeGuard([&] { old_temp ? qputenv("TEMP", *old_temp) : qunsetenv("TEMP"); });
    Program& program = start();
    program.settings().work_dir = folder_ / "from-settings";
    const fs::path expected = c.resolved == Resolved::temp_folder      ? temp / "Tintora"
                              : c.resolved == Resolved::program_folder ? folder_ / "Temp"
                                                                       : folder_ / "from-settings";
    QComboBox* list = work_dir_list();
    // As a pick from the list would, whatever was chosen before.
    const int item = list->findText(QString::fromUtf8(c.text));
    if (item >= 0) {
        list->setCurrentIndex(-1);
        list->setCurrentIndex(item);
    } else {
        list->setEditText(QString::fromUtf8(c.text));
    }
    ASSERT_EQ(list->currentText().toStdString(), c.text);

    options().follow_work_dir_choice();
    EXPECT_EQ(list->currentText().toStdString(), expected.string());
    EXPECT_EQ(program.settings().work_dir, expected);
    EXPECT_EQ(fs::is_directory(expected), c.resolved != Resolved::unchanged);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsWorkDirTest,
    testing::Values(WorkDirCase{"WindowsTemp", "Windows TEMP", Resolved::temp_folder},
                    WorkDirCase{"ProgramDirectory", "Program directory", Resolved::program_folder},
                    WorkDirCase{"TypedTextGivesWay", "/typed/elsewhere", Resolved::unchanged}),
    [](const testing::TestParamInfo<WorkDirCase>& info) { return info.param.name; });

TEST_F(OptionsWindowTest, TheListsTimerRunsWhileTheDialogIsHidden) {
    Program& program = start();
    work_dir_list()->setEditText(QStringLiteral("Program directory"));
    ASSERT_FALSE(options().isVisible());
    // One tick comes within a second; the rest is slack for a busy machine.
    // The list shows the folder only once a tick has taken the item.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return work_dir_list()->currentText().toStdString() == (folder_ / "Temp").string(); },
        2000));
    EXPECT_EQ(program.settings().work_dir, folder_ / "Temp");
}

// ------------------------------------------------------------ "Exit"

// "Exit" goes the way File > Exit goes: the save question first ("Cancel"
// keeps the program and the dialog), then the settings file written.
TEST_F(OptionsWindowTest, ExitAsksToSaveWritesTheSettingsAndEndsTheProgram) {
    Program& program = start();
    program.settings().ffplay_path = folder_ / "my-ffplay";  // a change the file takes
    program.video_workspace().parameters().text(ParameterField::OutputFps) = "30";  // unsaved
    const fs::path settings_file = folder_ / "Tintora.ini";
    Strings asked;
    QMessageBox::StandardButton answer = QMessageBox::Cancel;
    QTimer answering;
    QObject::connect(&answering, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            asked.push_back(box->text().toStdString());
            box->button(answer)->click();
        }
    });
    answering.start(5);
    bool kept = false;
    QObject guard;
    QTimer::singleShot(0, &guard, [this] { options().exec(); });
    QTimer::singleShot(50, &guard, [&] {
        ASSERT_TRUE(options().isVisible());
        options().findChild<QPushButton*>("exitButton")->click();
        kept = options().isVisible() && !fs::exists(settings_file);
        answer = QMessageBox::Discard;
        options().findChild<QPushButton*>("exitButton")->click();
    });
    // Should "Exit" not end the event loops, this ends them with another code.
    QTimer::singleShot(5000, &guard, [] { QCoreApplication::exit(99); });
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(kept);
    EXPECT_EQ(asked, Strings(2, "Save changes to the project?"));
    std::ifstream written(settings_file);
    const std::string text(std::istreambuf_iterator<char>(written), {});
    EXPECT_NE(text.find("FFPLAY=" + (folder_ / "my-ffplay").string()), std::string::npos) << text;
}

// ------------------------------------------------------------ texts

// The title, then the captions from top to bottom.
Strings options_texts_shown(const OptionsDialog& dialog) {
    Strings texts{dialog.windowTitle().toStdString()};
    for (const QLabel* label : dialog.findChildren<QLabel*>()) {
        texts.push_back(label->text().toStdString());
    }
    for (const QPushButton* button : dialog.findChildren<QPushButton*>()) {
        texts.push_back(button->text().toStdString());
    }
    return texts;
}

TEST_F(OptionsWindowTest, TextsFollowTheLanguageEachTimeTheDialogIsShown) {
    Program& program = start("rus");
    options().show();
    EXPECT_EQ(options_texts_shown(options()),
              (Strings{"Настройки", "FFMPEG.EXE", "FFPLAY.EXE", "Рабочий каталог",
                       "Если FFMPEG не установлен на этом компьютере Вы можете скачать его",
                       "здесь", "Просмотр", "Просмотр", "OK", "Выход"}));
    options().hide();
    program.settings().language = "eng";
    options().show();
    EXPECT_EQ(options_texts_shown(options()),
              (Strings{"Options", "FFMPEG.EXE", "FFPLAY.EXE", "WORK DIR",
                       "If FFMPEG not installed on this computer you can download if from", "here",
                       "Browse", "Browse", "OK", "Exit"}));
}

TEST_F(OptionsWindowTest, AboutBoxFollowsTheLanguageWithinItsTickWhileHidden) {
    Program& program = start("rus");
    AboutBox& box = program.about_box();
    auto* version = box.findChild<QLabel*>("versionLabel");
    const auto shows = [&](const char* title, const char* version_text) {
        return QTest::qWaitFor(
            [&] {
                return box.windowTitle().toStdString() == title &&
                       version->text().toStdString() == version_text;
            },
            300);
    };
    EXPECT_TRUE(shows("О программе", "Версия 2.0"));
    program.settings().language = "eng";
    EXPECT_TRUE(shows("About program", "Version 2.0"));
    EXPECT_FALSE(box.isVisible());
    EXPECT_EQ(box.findChild<QLabel*>("productName")->text().toStdString(), "Tintora");
}

// ------------------------------------------------------------ gaze

struct GazeCase {
    const char* name;
    int dx, dy;  // from the rectangle's top-left corner
    int picture;
};

class AboutGazeTest : public OptionsWindowTest, public testing::WithParamInterface<GazeCase> {};

TEST_P(AboutGazeTest, ShowsExactlyThePictureThatLooksAtTheCursor) {
    AboutBox& box = start().about_box();
    box.move(300, 200);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    // The rectangle starts at the window's outer corner plus the picture's
    // offset in its panel, not where the picture is drawn.
    const QPoint corner = box.frameGeometry().topLeft() + QPoint(5, 16);
    QCursor::setPos(corner + QPoint(GetParam().dx, GetParam().dy));
    box.follow_language_and_cursor();
    std::vector<int> shown;
    for (int i = 1; i <= 9; ++i) {
        if (box.findChild<QLabel*>(QStringLiteral("gazePicture%1").arg(i))->isVisible()) {
            shown.push_back(i);
        }
    }
    EXPECT_EQ(shown, std::vector<int>{GetParam().picture});
}

INSTANTIATE_TEST_SUITE_P(Cases, AboutGazeTest,
                         testing::Values(GazeCase{"LeftOfA", -1, 0, 4},
                                         GazeCase{"OnTheRectangle", 0, 0, 5},
                                         GazeCase{"FarLowerRight", 2000, 1500, 9}),
                         [](const testing::TestParamInfo<GazeCase>& info) {
                             return info.param.name;
                         });

}  // namespace
}  // namespace tintora
