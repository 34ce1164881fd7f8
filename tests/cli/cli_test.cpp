// The command-line front end as a user runs it: its exit codes, and a demo
// project made, rendered, composed and matched.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <future>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/demo_project.hpp"
#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/processing_run.hpp"
#include "support/cli_runner.hpp"
#include "support/processes.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"
#include "support/without_hanging.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

struct ExitCase {
    const char* name;
    // "P" stands for an existing project file, "W" for a working folder, "F"
    // for the folder that holds the project.
    std::vector<std::string> arguments;
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
        if (a == "F") a = folder.path().string();
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
                    ExitCase{"EmptyFlvName", {"render", "P", "--flv", ""}, 2},
                    ExitCase{"VideoOfUnknownFormat", {"render", "P", "--video", "out.avi"}, 2},
                    ExitCase{"EmptyJpegName", {"render", "P", "--jpeg", ""}, 2},
                    ExitCase{"EmptyWavName", {"render", "P", "--wav", ""}, 2},
                    ExitCase{"EmptyPictureName", {"compose", "P", ""}, 2},
                    ExitCase{"DemoIntoAFolderWithFiles", {"demo", "F"}, 1},
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
    EXPECT_TRUE(fs::exists(run_output_path((folder / "shot").string(), kDemoFrameCount)));
    EXPECT_FALSE(fs::exists(run_output_path((folder / "shot").string(), kDemoFrameCount + 1)));

    // A video for the browser, its poster asked for in the project: both the
    // whole 640 by 360 frame, as the selection of the whole frame cuts it.
    const std::vector<std::uint8_t> saved = read_file_bytes(project).value();
    ASSERT_TRUE(
        write_file(project, std::string(saved.begin(), saved.end()) + "POSTER_IMAGE=1\r\n"));
    const CommandResult video =
        test::run_cli({"render", project.string(), "--video", (folder / "tour.mp4").string(),
                       "--workdir", work.string(), "--ffmpeg", ffmpeg.string()});
    ASSERT_TRUE(video.succeeded()) << video.error_tail;
    EXPECT_GT(fs::file_size(folder / "tour.mp4"), 0u);
    const Frame poster = load_jpeg(folder / "tour.jpg").value();
    EXPECT_EQ(poster.width(), kDemoClipWidth);
    EXPECT_EQ(poster.height(), kDemoClipHeight);

    const fs::path picture = folder / "composed.ppm";
    ASSERT_TRUE(test::run_cli({"compose", project.string(), picture.string(), "--workdir",
                               work.string(), "--ffmpeg", ffmpeg.string()})
                    .succeeded());
    // The 2048 by 1024 panorama at the demo's 67 %.
    const std::vector<std::uint8_t> bytes = read_file_bytes(picture).value();
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 15), "P6\n1372 686\n255");
    EXPECT_EQ(bytes.size(), 16u + 3u * 1372u * 686u);

    // Matched in colour over three frames: the channel pairs are written in
    // the project.
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

    // Following the light: the project keeps it, the working folder the
    // pass's numbers for the next render, and that render follows it too.
    const fs::path tracked = folder / "tracked.project";
    const CommandResult track =
        test::run_cli({"match", project.string(), tracked.string(), "--track", "--workdir",
                       work.string(), "--ffmpeg", ffmpeg.string()});
    ASSERT_TRUE(track.succeeded()) << track.error_tail;
    const std::vector<std::uint8_t> tracked_text = read_file_bytes(tracked).value();
    EXPECT_NE(std::string(tracked_text.begin(), tracked_text.end())
                  .find("\r\nTRACK_LIGHT=1\r\nTRACK_LIGHT_FRAME="),
              std::string::npos);
    const auto light_caches = std::count_if(
        fs::directory_iterator(work), fs::directory_iterator(), [](const fs::directory_entry& e) {
            return e.path().filename().string().starts_with(".tintora-light-");
        });
    EXPECT_EQ(light_caches, 1);
    const CommandResult frames =
        test::run_cli({"render", tracked.string(), "--jpeg", (folder / "lit").string(), "--workdir",
                       work.string(), "--ffmpeg", ffmpeg.string()});
    EXPECT_TRUE(frames.succeeded()) << frames.error_tail;
}

// A project that names only its clip; the rest takes the defaults.
std::string read_text(const fs::path& path) {
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path);
    return bytes ? std::string(bytes.value().begin(), bytes.value().end()) : std::string();
}

fs::path clip_project(const fs::path& folder, const fs::path& clip) {
    const fs::path project = folder / (clip.stem().string() + ".project");
    EXPECT_TRUE(write_file(project, "VIDEO_FILENAME=" + clip.string() + "\r\n"));
    return project;
}

// A shell script standing in for a program.
fs::path script(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

// Without --workdir each render has a private working folder under TMPDIR,
// gone afterwards: two at once keep their own frames.
TEST(CliRender, TwoAtOnceWithoutAWorkdirKeepTheirOwnFrames) {
    const fs::path ffmpeg = test::find_encoder();
    test::TemporaryFolder folder;
    const struct {
        fs::path project;
        fs::path prefix;
        int frames, width;
    } renders[] = {
        {clip_project(folder.path(), test::test_clip("25", "1", true, "64x48")), folder / "a", 25,
         64},
        {clip_project(folder.path(), test::test_clip("25", "2", true, "96x64")), folder / "b", 50,
         96},
    };
    const fs::path tmpdir = folder / "tmp";
    fs::create_directory(tmpdir);
    const char* old_tmpdir = std::getenv("TMPDIR");
    const std::string kept_tmpdir = old_tmpdir != nullptr ? old_tmpdir : "";
    ::setenv("TMPDIR", tmpdir.c_str(), 1);
    std::vector<std::future<CommandResult>> running;
    for (const auto& r : renders) {
        running.push_back(std::async(std::launch::async, [&r, &ffmpeg] {
            return test::run_cli({"render", r.project.string(), "--jpeg", r.prefix.string(),
                                  "--ffmpeg", ffmpeg.string()});
        }));
    }
    for (std::size_t i = 0; i < 2; ++i) {
        const CommandResult result = running[i].get();
        EXPECT_TRUE(result.succeeded()) << result.error_tail;
        const auto& r = renders[i];
        EXPECT_TRUE(fs::exists(run_output_path(r.prefix.string(), r.frames)));
        EXPECT_FALSE(fs::exists(run_output_path(r.prefix.string(), r.frames + 1)));
        // The clip's own size.
        EXPECT_EQ(load_jpeg(run_output_path(r.prefix.string(), r.frames)).value().width(),
                  r.width);
    }
    if (old_tmpdir != nullptr) {
        ::setenv("TMPDIR", kept_tmpdir.c_str(), 1);
    } else {
        ::unsetenv("TMPDIR");
    }
    EXPECT_TRUE(fs::is_empty(tmpdir));
}

TEST(CliRender, RefusesTheClipAsOutputAndStopsWhenTheImportFails) {
    const fs::path ffmpeg = test::find_encoder();
    test::TemporaryFolder folder;
    const fs::path clip = folder / "clip.mp4";
    fs::copy_file(test::test_clip("25", "1", true), clip);
    const std::uintmax_t size = fs::file_size(clip);
    const fs::path project = clip_project(folder.path(), clip);
    CommandResult result = test::run_cli(
        {"render", project.string(), "--flv", clip.string(), "--ffmpeg", ffmpeg.string()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.error_tail.find("is the project's own video"), std::string::npos)
        << result.error_tail;
    EXPECT_EQ(fs::file_size(clip), size);

    // The project file itself is no output of any command, and it is said
    // before the clip is imported.
    const std::string project_text = read_text(project);
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"render", project.string(), "--wav", project.string()},
          {"compose", project.string(), project.string()},
          {"match", project.string(), project.string()}}) {
        result = test::run_cli(arguments);
        EXPECT_EQ(result.exit_status, 1) << arguments[0];
        EXPECT_NE(result.error_tail.find("is the project file itself!"), std::string::npos)
            << result.error_tail;
    }
    EXPECT_EQ(read_text(project), project_text);

    // An extraction that fails after it wrote frames gives no render.
    const fs::path failing =
        script(folder / "ffmpeg",
               "'" + ffmpeg.string() +
                   "' \"$@\"\n"
                   "case \" $* \" in *' -vframes '*) echo 'Killed' >&2; exit 137;; esac");
    result = test::run_cli({"render", project.string(), "--jpeg", (folder / "shot").string(),
                            "--ffmpeg", failing.string()});
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_NE(result.error_tail.find("Can't extract frames from the video!"), std::string::npos)
        << result.error_tail;
    EXPECT_FALSE(fs::exists(run_output_path((folder / "shot").string(), 1)));
}

// The picture goes through a temporary file like every output: a FIFO is
// refused at once, and a project whose clip does not open gives no picture.
TEST(CliCompose, RefusesAFifoAndAProjectWhoseClipDoesNotOpen) {
    test::TemporaryFolder folder;
    const fs::path background = folder / "panorama.jpg";
    ASSERT_TRUE(save_jpeg(test::uniform_frame(64, 32, 90, 120, 150), background));
    const fs::path fifo = folder / "picture.jpg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path with_background = folder / "background.project";
    ASSERT_TRUE(write_file(with_background, "BACKGROUND_FILENAME=" + background.string() + "\r\n"));
    const fs::path with_lost_clip = folder / "lost clip.project";
    ASSERT_TRUE(write_file(with_lost_clip,
                           "BACKGROUND_FILENAME=" + background.string() +
                               "\r\nVIDEO_FILENAME=" + (folder / "gone.mp4").string() + "\r\n"));
    const struct {
        const char* name;
        fs::path project, picture;
        const char* said;
    } cases[] = {
        {"Fifo", with_background, fifo, "it is not a regular file"},
        {"LostClip", with_lost_clip, folder / "out.ppm", "gone.mp4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const CommandResult result = test::without_hanging([&c] {
            return test::run_cli({"compose", c.project.string(), c.picture.string()});
        });
        EXPECT_EQ(result.exit_status, 1);
        EXPECT_NE(result.error_tail.find(c.said), std::string::npos) << result.error_tail;
    }
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_FALSE(fs::exists(folder / "out.ppm"));
}

struct StopSignal {
    const char* name;
    int signal_number;
    int exit_status;
};

class CliStopSignal : public testing::TestWithParam<StopSignal> {};

// An encoder stuck on a FIFO: the signal stops it and everything it started,
// the private working folder goes, and the exit status names the signal.
TEST_P(CliStopSignal, EndsAStuckImportAndLeavesNothingBehind) {
    test::TemporaryFolder folder;
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path pids = folder / "pids";
    const fs::path stuck = script(folder / "ffmpeg", "cat '" + fifo.string() +
                                                         "' > /dev/null &\n"
                                                         "echo \"$$ $!\" > '" +
                                                         pids.string() + "'\nwait");
    const fs::path clip = folder / "clip.mp4";
    ASSERT_TRUE(write_file(clip, "a clip"));
    const fs::path tmpdir = folder / "tmp";
    fs::create_directory(tmpdir);
    // The program in the background, signalled once the encoder is stuck.
    const std::string driver =
        "TMPDIR=\"$6\" \"$1\" render \"$2\" --flv \"$3\" --ffmpeg \"$4\" & cli=$!\n"
        "n=0; while [ ! -s \"$5\" ] && [ $n -lt 250 ]; do sleep 0.02; n=$((n+1)); done\n"
        "kill -" +
        std::to_string(GetParam().signal_number) + " $cli; wait $cli; echo \"exit $?\" >&2";
    const auto start = std::chrono::steady_clock::now();
    const auto within_seconds = [&start] {
        return std::chrono::steady_clock::now() - start < std::chrono::seconds(10);
    };
    const CommandResult result = run_command(
        {"sh",
         {"-c", driver, "sh", TINTORA_CLI, clip_project(folder.path(), clip).string(),
          (folder / "out.flv").string(), stuck.string(), pids.string(), tmpdir.string()},
         {}},
        within_seconds);
    ASSERT_FALSE(result.cancelled) << "still running after 10 s";
    EXPECT_EQ(result.last_error_line(), "exit " + std::to_string(GetParam().exit_status))
        << result.error_tail;
    std::ifstream started(pids);
    pid_t shell = 0;
    pid_t reader = 0;
    ASSERT_TRUE(started >> shell >> reader);
    EXPECT_TRUE(test::process_gone(shell));
    EXPECT_TRUE(test::process_gone(reader));
    EXPECT_TRUE(fs::is_empty(tmpdir));
    EXPECT_FALSE(fs::exists(folder / "out.flv"));
}

INSTANTIATE_TEST_SUITE_P(Signals, CliStopSignal,
                         testing::Values(StopSignal{"Interrupt", SIGINT, 130},
                                         StopSignal{"Terminate", SIGTERM, 143},
                                         StopSignal{"HangUp", SIGHUP, 129},
                                         StopSignal{"BrokenPipe", SIGPIPE, 141}),
                         [](const testing::TestParamInfo<StopSignal>& info) {
                             return std::string(info.param.name);
                         });

// A project of the background and the clip, in the folder.
fs::path project_of(const fs::path& folder, const fs::path& background, const fs::path& clip) {
    const fs::path project = folder / "both.project";
    EXPECT_TRUE(write_file(project, "BACKGROUND_FILENAME=" + background.string() +
                                        "\r\nVIDEO_FILENAME=" + clip.string() + "\r\n"));
    return project;
}

// A clip of one pixel: each command says what it needs, no encoder's riddle.
TEST(CliTinyClip, SaysWhatTheVideoAndTheMatchNeed) {
    test::TemporaryFolder folder;
    const fs::path background = folder / "panorama.jpg";
    ASSERT_TRUE(save_jpeg(test::uniform_frame(64, 32, 90, 120, 150), background));
    const fs::path clip = folder / "pixel.avi";
    ASSERT_TRUE(run_command({test::find_encoder(),
                             {"-f", "lavfi", "-i", "testsrc=size=1x1:rate=25:duration=0.4", "-c:v",
                              "mpeg4", clip.string()},
                             {}})
                    .succeeded());
    const fs::path project = project_of(folder.path(), background, clip);
    const CommandResult video =
        test::run_cli({"render", project.string(), "--video", (folder / "tiny.mp4").string()});
    EXPECT_EQ(video.exit_status, 1);
    EXPECT_NE(video.error_tail.find("this video format needs at least 2 by 2"), std::string::npos)
        << video.error_tail;
    const CommandResult match =
        test::run_cli({"match", project.string(), (folder / "matched.project").string()});
    EXPECT_EQ(match.exit_status, 1);
    EXPECT_NE(match.error_tail.find("too small to match"), std::string::npos) << match.error_tail;
    EXPECT_FALSE(fs::exists(folder / "tiny.mp4"));
}

// The highest resident memory of the command line running these
// arguments, in kilobytes, and whether it ended by itself (0 or 1: the
// matched project, or a match refused on the scene, after reading its frames).
std::pair<long, bool> peak_memory(const std::vector<std::string>& arguments) {
    std::vector<std::string> texts{TINTORA_CLI};
    texts.insert(texts.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        // Freed memory is given back at once, so what is held is what counts.
        ::setenv("ASAN_OPTIONS", "quarantine_size_mb=0:detect_leaks=0", 1);
        ::execv(TINTORA_CLI, argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage usage {};
    ::wait4(child, &status, 0, &usage);
    return {usage.ru_maxrss, WIFEXITED(status) && WEXITSTATUS(status) <= 1};
}

// A match takes its frames one at a time: a hundred times the frames, not
// more memory (holding 200 of these frames would take 46 MB more).
TEST(CliMatch, ItsMemoryDoesNotGrowWithTheFrames) {
    test::TemporaryFolder folder;
    const fs::path background = folder / "panorama.jpg";
    ASSERT_TRUE(save_jpeg(test::uniform_frame(640, 320, 90, 120, 150), background));
    const fs::path project =
        project_of(folder.path(), background, test::test_clip("25", "8", false, "320x240"));
    const auto match = [&](const char* frames) {
        return peak_memory({"match", project.string(), (folder / "out.project").string(),
                            "--frames", frames, "--workdir", (folder / "work").string()});
    };
    const auto [few, few_done] = match("2");
    const auto [many, many_done] = match("200");
    ASSERT_TRUE(few_done && many_done);
    EXPECT_LT(many, few + 16 * 1024) << few << " KB for 2 frames, " << many << " KB for 200";
}

// SIGKILL cannot be caught: the encoder dies with the program, and the next
// run clears the hidden partial output and the private working folder left.
TEST(CliKilled, TheEncoderDiesWithItAndTheNextRunClearsWhatItLeft) {
    const fs::path ffmpeg = test::find_encoder();
    test::TemporaryFolder folder;
    const fs::path fifo = folder / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path pids = folder / "pids";
    // The import runs; the encoding (the command that reads -framerate) hangs.
    const fs::path stuck = script(
        folder / "ffmpeg", "case \" $* \" in *' -framerate '*) echo $$ > '" + pids.string() +
                               "'; exec cat '" + fifo.string() + "' > /dev/null;; esac\nexec '" +
                               ffmpeg.string() + "' \"$@\"");
    const fs::path project = clip_project(folder.path(), test::test_clip("25", "1", true));
    const test::TemporaryFolder out;
    const fs::path tmpdir = folder / "tmp";
    fs::create_directory(tmpdir);
    const std::string driver =
        "TMPDIR=\"$5\" \"$1\" render \"$2\" --flv \"$3\" --ffmpeg \"$4\" & cli=$!\n"
        "n=0; while [ ! -s \"$6\" ] && [ $n -lt 500 ]; do sleep 0.02; n=$((n+1)); done\n"
        "kill -9 $cli; wait $cli; echo \"exit $?\" >&2";
    const CommandResult killed = test::without_hanging([&] {
        return run_command({"sh",
                            {"-c", driver, "sh", TINTORA_CLI, project.string(),
                             (out / "tour.flv").string(), stuck.string(), tmpdir.string(),
                             pids.string()},
                            {}});
    });
    EXPECT_EQ(killed.last_error_line(), "exit 137") << killed.error_tail;
    std::ifstream started(pids);
    pid_t encoder = 0;
    ASSERT_TRUE(started >> encoder);
    EXPECT_TRUE(test::process_gone(encoder));
    ASSERT_EQ(out.names().size(), 1u);  // the hidden partial video
    EXPECT_EQ(out.names().begin()->find(".tour."), 0u);
    EXPECT_FALSE(fs::is_empty(tmpdir));

    const CommandResult next = test::without_hanging([&] {
        return run_command({"sh",
                            {"-c", "TMPDIR=\"$1\" exec \"$2\" render \"$3\" --wav \"$4\"",
                             "sh", tmpdir.string(), TINTORA_CLI, project.string(),
                             (out / "tour.wav").string()},
                            {}});
    });
    EXPECT_TRUE(next.succeeded()) << next.error_tail;
    EXPECT_EQ(out.names(), std::set<std::string>{"tour.wav"});
    EXPECT_TRUE(fs::is_empty(tmpdir));
}

}  // namespace
}  // namespace tintora
