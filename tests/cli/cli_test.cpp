// The command-line front end as a user runs it: its exit codes, and a demo
// project made, rendered, composed and matched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/video/processing_run.hpp"
#include "support/cli_runner.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

struct ExitCase {
    const char* name;
    std::vector<std::string> arguments;  // "P" stands for an existing project file
    int exit_status;
};

class CliExit : public testing::TestWithParam<ExitCase> {};

TEST_P(CliExit, SaysHowItEnded) {
    test::TemporaryFolder folder;
    const fs::path project = folder / "p.project";
    ASSERT_TRUE(
        write_file(project, "VIDEO_FILENAME=" + (folder / "missing.mp4").string() + "\r\n"));
    std::vector<std::string> arguments = GetParam().arguments;
    for (std::string& a : arguments) {
        if (a == "P") a = project.string();
        if (a == "W") a = (folder / "work").string();
    }
    EXPECT_EQ(test::run_cli(arguments).exit_status, GetParam().exit_status);
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, CliExit,
    testing::Values(ExitCase{"Help", {"--help"}, 0}, ExitCase{"Version", {"--version"}, 0},
                    ExitCase{"NoCommand", {}, 2}, ExitCase{"UnknownCommand", {"paint"}, 2},
                    ExitCase{"RenderWithoutOutput", {"render", "P"}, 2},
                    ExitCase{"RenderTwoOutputs", {"render", "P", "--flv", "a", "--wav", "b"}, 2},
                    ExitCase{"MissingProject", {"render", "/no/such.project", "--flv", "a"}, 2},
                    ExitCase{"BadJobs", {"render", "P", "--jpeg", "s", "--jobs", "0"}, 2},
                    ExitCase{"ComposeToText", {"compose", "P", "out.txt", "--workdir", "W"}, 1},
                    ExitCase{"VideoMissing", {"render", "P", "--jpeg", "s", "--workdir", "W"}, 1},
                    ExitCase{"MatchUnknownMode", {"match", "P", "out", "--mode", "sepia"}, 2},
                    ExitCase{"MatchWithoutBackground", {"match", "P", "out", "--workdir", "W"}, 1}),
    [](const testing::TestParamInfo<ExitCase>& info) { return std::string(info.param.name); });

TEST(CliDemo, MakesAProjectThatRendersAndComposes) {
    const fs::path ffmpeg = test::find_encoder();
    ASSERT_FALSE(ffmpeg.empty());
    test::TemporaryFolder folder;
    const fs::path demo = folder / "demo dir";
    ASSERT_TRUE(test::run_cli({"demo", demo.string(), "--ffmpeg", ffmpeg.string()}).succeeded());
    const fs::path project = demo / "demo.project";
    const fs::path work = folder / "work";
    const CommandResult rendered =
        test::run_cli({"render", project.string(), "--jpeg", (folder / "shot.jpg").string(),
                       "--workdir", work.string(), "--ffmpeg", ffmpeg.string(), "--jobs", "2"});
    ASSERT_TRUE(rendered.succeeded()) << rendered.error_tail;
    EXPECT_NE(rendered.error_tail.find("frames: 100%"), std::string::npos) << rendered.error_tail;
    EXPECT_TRUE(fs::exists(run_output_path((folder / "shot").string(), 75)));
    EXPECT_FALSE(fs::exists(run_output_path((folder / "shot").string(), 76)));

    const fs::path picture = folder / "composed.ppm";
    ASSERT_TRUE(test::run_cli({"compose", project.string(), picture.string(), "--workdir",
                               work.string(), "--ffmpeg", ffmpeg.string()})
                    .succeeded());
    const std::vector<std::uint8_t> bytes = read_file_bytes(picture).value();
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 15), "P6\n1024 512\n255");
    EXPECT_EQ(bytes.size(), 16u + 3u * 1024u * 512u);

    // Matched in colour over three frames: the channel pairs replace the
    // demo's sampled ones in the written project.
    const fs::path matched = folder / "matched.project";
    const CommandResult match =
        test::run_cli({"match", project.string(), matched.string(), "--mode", "colour", "--frames",
                       "3", "--workdir", work.string(), "--ffmpeg", ffmpeg.string()});
    ASSERT_TRUE(match.succeeded()) << match.error_tail;
    EXPECT_NE(match.error_tail.find("Colours matched: 27 curves over 3 frames."), std::string::npos)
        << match.error_tail;
    const std::vector<std::uint8_t> text = read_file_bytes(matched).value();
    const std::string written(text.begin(), text.end());
    for (const char* line : {"\r\nCOLOR_MODE=Colour\r\n", "\r\nPOINT_R4\t", "\r\nPOINT_B8\t"}) {
        EXPECT_NE(written.find(line), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace tintora
