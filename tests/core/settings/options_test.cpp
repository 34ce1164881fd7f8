// Tests of the options dialog's rules without windows: what "OK" takes and
// reports, the working-folder list's items, and the about box's choice of
// gaze picture.
#include "core/settings/options.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "support/temporary_folder.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

// ------------------------------------------------------------ "OK"

struct TakeCase {
    const char* name;
    const char* ffmpeg;  // names in a folder holding the files ffmpeg, ffplay and the folder work
    const char* ffplay;
    const char* work_dir;
    const char* message;  // English; "" when all three are taken
    int taken;            // how many of the three the settings hold afterwards
};

class OptionsTakeTest : public testing::TestWithParam<TakeCase> {};

TEST_P(OptionsTakeTest, ChecksInOrderAndKeepsWhatEarlierChecksTook) {
    const TakeCase& c = GetParam();
    test::TemporaryFolder folder;
    std::ofstream(folder / "ffmpeg") << "tool";
    std::ofstream(folder / "ffplay") << "tool";
    fs::create_directory(folder / "work");
    const OptionsFields fields{(folder / c.ffmpeg).string(), (folder / c.ffplay).string(),
                               (folder / c.work_dir).string()};
    AppSettings settings;
    settings.ffmpeg_path = "/old/ffmpeg";
    settings.ffplay_path = "/old/ffplay";
    settings.work_dir = "/old/work";

    const std::optional<TextPair> message = take_options(fields, settings);

    EXPECT_EQ(message ? message->eng : "", c.message);
    EXPECT_EQ(settings.ffmpeg_path, c.taken >= 1 ? fields.ffmpeg : "/old/ffmpeg");
    EXPECT_EQ(settings.ffplay_path, c.taken >= 2 ? fields.ffplay : "/old/ffplay");
    EXPECT_EQ(settings.work_dir, c.taken >= 3 ? fields.work_dir : "/old/work");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsTakeTest,
    testing::Values(
        TakeCase{"AllValid", "ffmpeg", "ffplay", "work", "", 3},
        TakeCase{"FfmpegMissing", "none", "ffplay", "work", "ffmpeg.exe not found!", 0},
        TakeCase{"FfplayMissingFfmpegTaken", "ffmpeg", "none", "work", "ffplay.exe not found!", 1},
        TakeCase{"FolderMissingToolsTaken", "ffmpeg", "ffplay", "none", "Directory not exist!", 2},
        // A folder is no program, and a file is no folder.
        TakeCase{"FfmpegNamesAFolder", "work", "ffplay", "work", "ffmpeg.exe not found!", 0},
        TakeCase{"WorkDirNamesAFile", "ffmpeg", "ffplay", "ffplay", "Directory not exist!", 2}),
    [](const testing::TestParamInfo<TakeCase>& info) { return info.param.name; });

// ------------------------------------------------------------ working-folder list

// Sets or clears an environment variable for one test and puts the old value back.
class EnvironmentValue {
public:
    EnvironmentValue(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        value ? setenv(name, value, 1) : unsetenv(name);
    }
    ~EnvironmentValue() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
    EnvironmentValue(const EnvironmentValue&) = delete;
    EnvironmentValue& operator=(const EnvironmentValue&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

enum class Where { temp, tmpdir, slash_tmp, program, installed, unchanged, blocked };

struct WorkDirCase {
    const char* name;
    const char* text;  // the list's text
    const char* temp;  // TEMP: "<temp>" a fresh folder, null unset, else the value
    bool tmpdir_set;   // TMPDIR names a fresh folder, else it is unset
    Where where;       // the folder work_dir and the list end with
};

class OptionsWorkDirListTest : public testing::TestWithParam<WorkDirCase> {};

TEST_P(OptionsWorkDirListTest, ResolvesTheChoiceAndCreatesItsFolder) {
    const WorkDirCase& c = GetParam();
    test::TemporaryFolder temp, tmpdir, program;
    const bool fresh_temp = c.temp != nullptr && std::string(c.temp) == "<temp>";
    const EnvironmentValue temp_value("TEMP", fresh_temp ? temp.path().c_str() : c.temp);
    const EnvironmentValue tmpdir_value("TMPDIR", c.tmpdir_set ? tmpdir.path().c_str() : nullptr);
    // A program folder below a regular file can hold no folder at all.
    std::ofstream(program / "blocker") << "a file";
    // An installation's bin beside share/tintora.
    fs::create_directories(program / "share" / "tintora");
    const UserFolders user{program / "config", program / "cache"};
    AppSettings settings;
    settings.program_dir = c.where == Where::blocked     ? program / "blocker" / "bin"
                           : c.where == Where::installed ? program / "bin"
                                                         : program.path();
    settings.work_dir = "/from/settings";
    const fs::path expected[] = {temp / "Tintora",
                                 tmpdir / "Tintora",
                                 "/tmp/Tintora",
                                 program / "Temp",
                                 program / "cache" / "tintora" / "Temp",
                                 "/from/settings",
                                 program / "blocker" / "bin" / "Temp"};
    const fs::path& folder = expected[static_cast<int>(c.where)];
    const bool existed = fs::exists(folder);

    EXPECT_EQ(resolve_work_dir_choice(c.text, settings, user), folder.string());
    EXPECT_EQ(settings.work_dir, folder);
    const bool made = c.where != Where::unchanged && c.where != Where::blocked;
    EXPECT_EQ(fs::is_directory(folder), made);
    if (c.where == Where::slash_tmp && !existed) fs::remove(folder);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionsWorkDirListTest,
    testing::Values(
        WorkDirCase{"TempSet", "Windows TEMP", "<temp>", true, Where::temp},
        WorkDirCase{"TmpdirWhenNoTemp", "Windows TEMP", nullptr, true, Where::tmpdir},
        WorkDirCase{"TmpWhenNeither", "Windows TEMP", nullptr, false, Where::slash_tmp},
        // Values that would put the folder at the root are passed over.
        WorkDirCase{"EmptyTempPassedOver", "Windows TEMP", "", true, Where::tmpdir},
        WorkDirCase{"RootTempPassedOver", "Windows TEMP", "/", false, Where::slash_tmp},
        WorkDirCase{"RelativeTempPassedOver", "Windows TEMP", "scratch", false, Where::slash_tmp},
        WorkDirCase{"ProgramDirectory", "Program directory", "<temp>", true, Where::program},
        WorkDirCase{"InstalledProgramsInTheUsersCache", "Program directory", "<temp>", true,
                    Where::installed},
        // Left for "OK" to report.
        WorkDirCase{"FolderThatCannotBeMade", "Program directory", nullptr, false, Where::blocked},
        WorkDirCase{"TypedPathGivesWay", "/some/typed/path", "<temp>", true, Where::unchanged},
        WorkDirCase{"ItemsAreExact", "windows temp", "<temp>", true, Where::unchanged}),
    [](const testing::TestParamInfo<WorkDirCase>& info) { return info.param.name; });

// ------------------------------------------------------------ gaze

struct GazeCase {
    const char* name;
    int x, y;
    int picture;
};

class GazePictureTest : public testing::TestWithParam<GazeCase> {};

// The rectangle (200, 100) .. (300, 200).
TEST_P(GazePictureTest, ChoosesByTheRectangleWithItsLeftAndTopEdgesInside) {
    EXPECT_EQ(gaze_picture(GetParam().x, GetParam().y, 200, 100, 100, 100), GetParam().picture);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GazePictureTest,
    testing::Values(GazeCase{"AboveLeft", 10, 10, 1}, GazeCase{"Above", 250, 99, 2},
                    GazeCase{"AboveRight", 300, 50, 3}, GazeCase{"OnePixelLeftOfA", 199, 100, 4},
                    GazeCase{"TopLeftCornerIsOn", 200, 100, 5},
                    GazeCase{"LastPixelIsOn", 299, 199, 5},
                    GazeCase{"RightEdgeIsRight", 300, 150, 6}, GazeCase{"BelowLeft", -5000, 200, 7},
                    GazeCase{"BottomEdgeIsBelow", 200, 200, 8},
                    GazeCase{"FarLowerRight", 5000, 4000, 9}),
    [](const testing::TestParamInfo<GazeCase>& info) { return info.param.name; });

TEST(GazePicture, ARectangleAtTheEndOfTheRangeDoesNotWrap) {
    const int far = 2147483600;
    EXPECT_EQ(gaze_picture(far + 10, far + 10, far, far, 100, 100), 5);
}

}  // namespace
}  // namespace tintora
