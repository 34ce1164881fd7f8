// The project file: what is written, and what a replay of any text does.
#include "core/project/project_file.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/correction/curves.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

// Records what the replay asks to open; the background's name is kept as a
// failed open keeps it, the clip's as the import does.
class RecordingLoaders : public ProjectLoaders {
public:
    RecordingLoaders(Composition& composition, VideoWorkspace& workspace)
        : composition_(composition), workspace_(workspace) {}
    void open_background(const std::filesystem::path& path) override {
        calls.push_back("background " + path.string());
        (void)composition_.open_background(path);
    }
    void open_video(const std::filesystem::path& path) override {
        calls.push_back("video " + path.string());
        workspace_.session().clip_path = path;
    }
    std::vector<std::string> calls;

private:
    Composition& composition_;
    VideoWorkspace& workspace_;
};

struct Project {
    AppSettings settings;
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace{settings};
    RecordingLoaders loaders{composition, workspace};

    ProjectState state() { return {composition, grid, workspace}; }
    std::string text() const { return format_project(composition, grid, workspace); }
    void replay(std::string_view text) { replay_project(text, state(), loaders); }
};

TEST(ProjectFile, AfterStartUpWritesEmptyNamesZeroPointsAndNoPair) {
    Project project;
    std::string expected =
        "BACKGROUND_FILENAME=\r\nBACKGROUND_ROTATE=0\r\nBACKGROUND_SCALE=100%\r\n"
        "VIDEOFRAME_DENSITY=100%\r\nVIDEO_FILENAME=\r\nCURRENT_POINT=0\r\nCURRENT_FRAME=1\r\n"
        "START_FRAME=\r\nSTOP_FRAME=\r\nCUT_X=\r\nCUT_Y=\r\nCUT_WIDTH=\r\nCUT_HEIGHT=\r\n"
        "ROTATE=0\r\nMIRROR_HOR=0\r\nMIRROR_VERT=0\r\nRESAMPLE_WIDTH=\r\nRESAMPLE_HEIGHT=\r\n"
        "COLOR_TRANFORMATION=No transformation\r\nFPS=\r\nBITRATE=512\r\nCHANNELS=Mono\r\n"
        "VOLUME=\r\nRATE=22050\r\nAUDIO_BITRATE=64\r\nPING-PONG=0\r\nEND_FRAME=0\r\n"
        "END_COUNT=0\r\n";
    for (int p = 0; p < kGridPointCount; ++p) {
        expected += "AREA_POINT" + std::to_string(p) + "=0,0\r\n";
    }
    expected += "POSTER_IMAGE=0\r\n";
    EXPECT_EQ(project.text(), expected);
}

TEST(ProjectFile, AFullProjectComesBackAsItWasSaved) {
    Project original;
    original.composition.choices = {2, 8, 6, true, {}};
    (void)original.composition.open_background("/pictures/Панорама 1.jpg");
    original.workspace.session().clip_path = "/clips/my clip ü.mp4";
    original.grid.cur_point = 7;
    VideoParameters& p = original.workspace.parameters();
    const char* texts[] = {"5",   "6", "600", "300", "640", "360", "30",
                           "200", "2", "90",  "29",  "3",   "4"};
    for (int i = 0; i < kParameterFieldCount; ++i) p.texts[static_cast<std::size_t>(i)] = texts[i];
    p.rotation_index = 2;
    p.mirror_horizontally = p.mirror_vertically = p.ping_pong = p.poster_image = true;
    p.color_transformation_index = kInverse;
    p.video_bitrate_index = 10;
    p.channels_index = 2;
    p.rate_index = 3;
    p.audio_bitrate_index = 8;
    p.quality_index = static_cast<int>(WebQuality::BitrateList);
    for (int point = 0; point < kGridPointCount; ++point) {
        original.grid.area_x[point] = 100 * point - 50;
        original.grid.area_y[point] = 7 * point;
    }
    original.grid.control_values[0][0] = 10;
    original.grid.control_values[4][128] = 200;
    original.grid.control_values[8][254] = 200;
    original.workspace.light_following() = {true, 4};
    const std::string saved = original.text();
    // The quality, not the default, follows the poster line, then following the light.
    EXPECT_EQ(saved.substr(saved.find("POINT8\t254")),
              "POINT8\t254\t200\r\nPOSTER_IMAGE=1\r\nQUALITY=Bitrate list\r\n"
              "TRACK_LIGHT=1\r\nTRACK_LIGHT_FRAME=4\r\n");

    Project copy;
    copy.replay(saved);
    EXPECT_EQ(copy.loaders.calls, (std::vector<std::string>{"background /pictures/Панорама 1.jpg",
                                                            "video /clips/my clip ü.mp4"}));
    // The frame list and its fields are back; the output rate and volume
    // went through their rules, and the input rate is not stored.
    p.text(Field::InputFps).clear();
    copy.workspace.parameters().text(Field::InputFps).clear();
    original.composition.choices.hide_frame = false;  // a replay always shows the frame
    EXPECT_EQ(copy.text(), original.text());
    EXPECT_EQ(copy.workspace.parameters().resample_index, kCustomResampling);
    EXPECT_EQ(copy.workspace.session().OutputFps, 30.0);
    EXPECT_EQ(copy.grid.color_table[4][128], 200);  // the tables are rebuilt from the pairs
    EXPECT_EQ(copy.grid.color_table[1][77], 77);    // no pair: the identity
    EXPECT_EQ(copy.workspace.light_following(), (LightFollowing{true, 4}));
}

TEST(ProjectFile, ReplayFollowsTheKeysRules) {
    Project project;
    VideoParameters& p = project.workspace.parameters();
    p.mirror_horizontally = true;
    p.poster_image = true;                  // a project without the key has no poster
    p.quality_index = 2;                    // and the default quality
    project.workspace.light_following().on = true;  // nor follows the light
    project.grid.control_values[5][5] = 5;  // every pair goes before the replay
    project.replay(
        "POINT3 010 99\r\n"     // a leading 0: octal
        "POINT2\t0x1F\t+7\r\n"  // 0x: hexadecimal
        "ROTATE=45\r\n"         // not a button: no change
        "MIRROR_HOR=0\r\n"      // a 0 does not uncheck
        "BITRATE=513\r\n"       // no such item: no change
        "CHANNELS=Stereo\n"     // LF alone ends a line too
        "AREA_POINT4=12,-34\r\n"
        "CURRENT_POINT=5\r\n"
        "CUT_X=10");  // no line break at the end: the value stays whole
    EXPECT_EQ(project.grid.control_values[3][8], 99);
    EXPECT_EQ(project.grid.control_values[2][31], 7);
    EXPECT_EQ(project.grid.control_values[5][5], NO_PAIR);
    EXPECT_EQ(p.rotation_index, 0);
    EXPECT_TRUE(p.mirror_horizontally);
    EXPECT_FALSE(p.poster_image);
    EXPECT_EQ(p.quality_index, 0);
    EXPECT_FALSE(project.workspace.light_following().on);
    EXPECT_EQ(p.video_bitrate_index, 2);
    EXPECT_EQ(p.channels_index, 2);
    EXPECT_EQ(project.grid.area_x[4], 12);
    EXPECT_EQ(project.grid.area_y[4], -34);
    EXPECT_EQ(project.grid.cur_point, 5);
    EXPECT_EQ(p.text(Field::CutX), "10");
}

TEST(ProjectFile, HostileLinesChangeNothingOutsideTheGrid) {
    Project project;
    std::string text =
        "POINT9\t1\t1\r\nPOINT-1\t1\t1\r\nPOINT0\t256\t1\r\nPOINT0\t1\t300\r\nPOINT0\t1\r\n"
        "POINT0 99999999999 1\r\nAREA_POINT9=1,1\r\nAREA_POINT0=1\r\nCURRENT_POINT=12\r\n"
        "\r\n\n\r\r\n";
    text += std::string("CUT_Y=") + std::string(100000, '7') + "\r\n";  // a huge line, read whole
    text += std::string("\0\xff\xfe POINT", 9) + "\r\n";
    project.replay(text);
    for (const ControlValues& values : project.grid.control_values) {
        for (const std::int32_t v : values) EXPECT_EQ(v, NO_PAIR);
    }
    EXPECT_EQ(project.grid.area_x[0], 0);
    EXPECT_EQ(project.grid.cur_point, 0);
    EXPECT_EQ(project.workspace.parameters().text(Field::CutY).size(), 100000u);
}

TEST(ProjectFile, NewProjectKeepsTheGridAndTheFileNames) {
    Project project;
    (void)project.composition.open_background("/p/back.jpg");
    project.workspace.session().clip_path = "/c/clip.mp4";
    project.grid.area_x[3] = 33;
    project.grid.control_values[1][40] = 90;
    project.workspace.parameters().text(Field::Count) = "2";
    project.composition.choices.scale_index = 0;
    reset_project(project.state());
    const std::string text = project.text();
    for (const char* kept :
         {"BACKGROUND_FILENAME=/p/back.jpg\r\n", "VIDEO_FILENAME=/c/clip.mp4\r\n",
          "AREA_POINT3=33,0\r\n", "POINT1\t40\t90\r\n", "END_COUNT=2\r\n",
          "BACKGROUND_SCALE=100%\r\n", "FPS=18\r\n"}) {
        EXPECT_NE(text.find(kept), std::string::npos) << kept;
    }
}

// The colour mode's lines come after the others and only when they hold
// something; a file without them (as every earlier file) opens in
// brightness mode with no channel pairs left from before.
TEST(ProjectFile, ColourModeLinesFollowThePairsAndReadBack) {
    Project original;
    original.grid.control_values[2][30] = 40;
    original.grid.correction_mode = CorrectionMode::Colour;
    original.grid.channel_control_values[kRedChannel][0][100] = 120;
    original.grid.channel_control_values[kBlueChannel][8][7] = 9;
    const std::string saved = original.text();
    EXPECT_NE(saved.find("POINT2\t30\t40\r\nCOLOR_MODE=Colour\r\nPOINT_R0\t100\t120\r\n"
                         "POINT_B8\t7\t9\r\n"),
              std::string::npos);

    // The grid's lines; the field lines go through their rules on a replay.
    const auto grid_lines = [](const std::string& text) { return text.substr(text.find("AREA")); };
    Project copy;
    copy.replay(saved);
    EXPECT_EQ(grid_lines(copy.text()), grid_lines(saved));
    EXPECT_EQ(copy.grid.correction_mode, CorrectionMode::Colour);
    EXPECT_EQ(copy.grid.control_values, original.grid.control_values);
    EXPECT_EQ(copy.grid.channel_color_table[kRedChannel][0][100], 120);

    // Channel pairs kept in brightness mode are written with the mode.
    copy.grid.correction_mode = CorrectionMode::Brightness;
    EXPECT_NE(copy.text().find("COLOR_MODE=Brightness\r\nPOINT_R0"), std::string::npos);

    // An earlier file (no mode, no poster line): brightness, the channel
    // pairs gone, written as read with the poster line after the pairs.
    std::string earlier = Project{}.text();
    earlier.erase(earlier.find("POSTER_IMAGE="));
    earlier += "POINT1\t9\t9\r\n";
    copy.replay(earlier);
    EXPECT_EQ(copy.grid.correction_mode, CorrectionMode::Brightness);
    EXPECT_EQ(copy.grid.channel_control_values, CorrectionGrid{}.channel_control_values);
    EXPECT_EQ(grid_lines(copy.text()), grid_lines(earlier) + "POSTER_IMAGE=0\r\n");
    // An unknown mode changes nothing; blanks around a known one do not hide it.
    copy.replay(saved + "COLOR_MODE=Sepia\r\n");
    EXPECT_EQ(copy.grid.correction_mode, CorrectionMode::Colour);
    copy.replay(earlier + "COLOR_MODE=Colour \t\r\n");
    EXPECT_EQ(copy.grid.correction_mode, CorrectionMode::Colour);
}

TEST(ScanInteger, ReadsAsPercentIDoes) {
    const struct {
        const char* text;
        std::size_t read;
        std::int32_t value;
    } cases[] = {{" 42x", 3, 42},
                 {"010", 3, 8},
                 {"0x1f", 4, 31},
                 {"-0X10", 5, -16},
                 {"0x", 1, 0},
                 {"08", 1, 0},
                 {"-2147483648", 11, INT32_MIN},
                 {"2147483648", 0, 0},
                 {"", 0, 0},
                 {"+", 0, 0}};
    for (const auto& c : cases) {
        std::int32_t value = 0;
        EXPECT_EQ(scan_integer(c.text, value), c.read) << '"' << c.text << '"';
        if (c.read > 0) {
            EXPECT_EQ(value, c.value) << '"' << c.text << '"';
        }
    }
}

}  // namespace
}  // namespace tintora
