// The front end against the window program on the same demo project: the
// rendered frames and the composed picture must be the same bytes.
#include <gtest/gtest.h>

#include <memory>

#include "cli/demo_project.hpp"
#include "core/common/file_io.hpp"
#include "core/video/processing_run.hpp"
#include "gui/main_window/main_window.hpp"
#include "gui/program.hpp"
#include "gui/video/video_window.hpp"
#include "support/cli_runner.hpp"
#include "support/message_box_catcher.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

std::vector<std::uint8_t> bytes_of(const fs::path& path) { return read_file_bytes(path).value(); }

TEST(CliAgainstWindow, RenderAndComposeGiveTheWindowsBytes) {
    const fs::path ffmpeg = test::find_encoder();
    ASSERT_FALSE(ffmpeg.empty());
    test::TemporaryFolder folder;
    const fs::path demo = folder / "demo";
    ASSERT_TRUE(test::run_cli({"demo", demo.string(), "--ffmpeg", ffmpeg.string()}).succeeded());
    const fs::path project = demo / "demo.project";
    const std::vector<std::string> common{"--workdir", (folder / "cli work").string(), "--ffmpeg",
                                          ffmpeg.string()};
    std::vector<std::string> render{"render", project.string(), "--jpeg",
                                    (folder / "cli").string()};
    render.insert(render.end(), common.begin(), common.end());
    ASSERT_TRUE(test::run_cli(render).succeeded());
    std::vector<std::string> compose{"compose", project.string(), (folder / "cli.ppm").string()};
    compose.insert(compose.end(), common.begin(), common.end());
    ASSERT_TRUE(test::run_cli(compose).succeeded());

    SettingsEnvironment environment;
    environment.program_dir = folder.path();
    Program program(environment);
    program.settings().ffmpeg_path = ffmpeg;
    program.settings().work_dir = folder / "window work";
    test::MessageBoxCatcher catcher;
    ASSERT_TRUE(program.main_window().open_project_file(QString::fromStdString(project.string())));
    ASSERT_EQ(program.video().FrameCount, kDemoFrameCount);

    const Frame& picture = program.composition().picture();
    const std::vector<std::uint8_t> ppm = bytes_of(folder / "cli.ppm");
    const std::string header = "P6\n" + std::to_string(picture.width()) + " " +
                               std::to_string(picture.height()) + "\n255\n";
    ASSERT_EQ(std::string(ppm.begin(), ppm.begin() + header.size()), header);
    std::size_t at = header.size();
    for (int r = 0; r < picture.height(); ++r) {
        for (int c = 0; c < picture.width(); ++c, at += 3) {
            const std::uint8_t* p = picture.pixel(r, c);
            ASSERT_TRUE(ppm[at] == p[2] && ppm[at + 1] == p[1] && ppm[at + 2] == p[0])
                << "pixel " << c << "," << r;
        }
    }

    program.video_window().export_jpeg_sequence_to(folder / "window.jpg");
    EXPECT_EQ(catcher.texts(), std::vector<std::string>{"Operation finished!"});
    for (int k = 1; k <= kDemoFrameCount; ++k) {
        ASSERT_EQ(bytes_of(run_output_path((folder / "window").string(), k)),
                  bytes_of(run_output_path((folder / "cli").string(), k)))
            << "output " << k;
    }
}

TEST(ProjectCommands, AFileThatCannotBeReadIsReportedAndChangesNothing) {
    test::TemporaryFolder folder;
    SettingsEnvironment environment;
    environment.program_dir = folder.path();
    Program program(environment);
    program.grid().control_values[2][2] = 50;
    test::MessageBoxCatcher catcher;
    EXPECT_FALSE(program.main_window().open_project_file(
        QString::fromStdString((folder / "none.project").string())));
    ASSERT_EQ(catcher.texts().size(), 1u);
    EXPECT_EQ(catcher.texts()[0].rfind("Can't open project file!", 0), 0u);
    EXPECT_EQ(program.grid().control_values[2][2], 50);

    program.main_window().save_project_file(QString::fromStdString((folder / "p").string()));
    program.main_window().save_project_file(
        QString::fromStdString((folder / "no folder" / "p").string()));
    ASSERT_EQ(catcher.texts().size(), 3u);
    EXPECT_EQ(catcher.texts()[1], "Project file saved!");
    EXPECT_EQ(catcher.texts()[2].rfind("Can't save project file!", 0), 0u);
}

}  // namespace
}  // namespace tintora
