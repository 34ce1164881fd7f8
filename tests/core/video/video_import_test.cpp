#include "core/video/video_import.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "core/correction/jpeg_codec.hpp"
#include "core/settings/settings_file.hpp"
#include "core/video/work_dir_lock.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"
#include "support/without_hanging.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

void put_file(const fs::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// What a successful extraction of `count` frames leaves in WorkDir.
std::set<std::string> frame_names(int count, std::set<std::string> others) {
    for (int i = 1; i <= count; ++i) others.insert(frame_file_path("", i).string());
    return others;
}

// Clips made by the encoder itself from its built-in test sources, on first use.
class VideoImport : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(ffmpeg().empty()) << "ffmpeg is not found along PATH"; }

    static const fs::path& ffmpeg() {
        static const fs::path encoder = test::find_encoder();
        return encoder;
    }
    static fs::path clip(const std::string& rate, const std::string& seconds, bool with_sound) {
        const fs::path path = test::test_clip(rate, seconds, with_sound);
        EXPECT_FALSE(path.empty()) << "the test clip could not be made";
        return path;
    }
    static fs::path silent_clip() { return clip("25", "0.4", false); }

    static ImportOutcome import(const fs::path& clip_path, const fs::path& work_dir,
                                const fs::path& encoder = ffmpeg()) {
        ImportProgress progress;
        ImportOutcome outcome = import_video(encoder, clip_path, work_dir, progress);
        EXPECT_EQ(progress.stage, ImportStage::Finished);
        return outcome;
    }
};

struct ClipRate {
    const char* name;
    const char* rate;
    int frames;
    double fps;
};

class VideoImportRate : public VideoImport, public ::testing::WithParamInterface<ClipRate> {};

TEST_P(VideoImportRate, ExtractsEveryFrameTheSoundAndTheRate) {
    const ClipRate& rate = GetParam();
    test::TemporaryFolder folder;
    const fs::path work_dir = folder / "new" / "work";
    ImportProgress progress;
    const ImportOutcome outcome =
        import_video(ffmpeg(), clip(rate.rate, "1", true), work_dir, progress);
    EXPECT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
    EXPECT_FALSE(outcome.cancelled);
    EXPECT_EQ(outcome.frame_count, rate.frames);
    EXPECT_EQ(progress.frames_expected, rate.frames);
    EXPECT_EQ(parse_input_fps(outcome.info_text), rate.fps);
    EXPECT_TRUE(has_audio_stream(outcome.info_text));
    EXPECT_GT(fs::file_size(sound_file_path(work_dir)), 1000u);
    EXPECT_TRUE(load_jpeg(frame_file_path(work_dir, rate.frames)));
}

INSTANTIATE_TEST_SUITE_P(Clips, VideoImportRate,
                         ::testing::Values(ClipRate{"Fps25", "25", 25, 25.0},
                                           ClipRate{"Fps30", "30", 30, 30.0},
                                           ClipRate{"Fps29_97", "30000/1001", 30, 29.97}),
                         [](const ::testing::TestParamInfo<ClipRate>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(VideoImport, PathsWithShellCharactersStayOneArgument) {
    test::TemporaryFolder folder;
    const fs::path work_dir = folder / "work 'dir' \"x\" $(id) 100% %d";
    const fs::path odd_clip = folder / "-y it's a \"clip\"; %03d `id`.mp4";
    fs::copy_file(silent_clip(), odd_clip);
    const ImportOutcome outcome = import(odd_clip, work_dir);
    EXPECT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
    EXPECT_EQ(outcome.frame_count, 10);
}

TEST_F(VideoImport, AShorterSilentClipReplacesTheFramesAndLeavesTheUsersFiles) {
    test::TemporaryFolder work_dir;
    put_file(work_dir / "holiday.jpg", "mine");
    put_file(work_dir / "pictures.jpg", "mine too");
    ASSERT_EQ(import(clip("25", "1", true), work_dir.path()).frame_count, 25);

    const ImportOutcome outcome = import(silent_clip(), work_dir.path());
    // Without sound the sound command fails, which is no problem.
    EXPECT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
    EXPECT_FALSE(has_audio_stream(outcome.info_text));
    EXPECT_EQ(outcome.frame_count, 10);
    EXPECT_EQ(work_dir.names(), frame_names(10, {"1.tmp", "sound.wav", "holiday.jpg",
                                                 "pictures.jpg", ".tintora.lock",
                                                 ".tintora-import"}));
    // The stamp vouches for these frames of this clip.
    EXPECT_EQ(read_import_stamp(work_dir.path()), stamp_of_clip(silent_clip(), 10));
}

TEST_F(VideoImport, AMissingEncoderIsReportedAndLeavesNoFrames) {
    test::TemporaryFolder work_dir;
    put_file(frame_file_path(work_dir.path(), 1), "an old frame");
    const fs::path missing = work_dir / "no-ffmpeg";
    const ImportOutcome outcome = import(clip("25", "1", true), work_dir.path(), missing);
    EXPECT_EQ(outcome.problem, ImportProblem::EncoderMissing);
    EXPECT_NE(outcome.problem_detail.find(missing.string()), std::string::npos)
        << outcome.problem_detail;
    EXPECT_EQ(outcome.frame_count, 0);
    EXPECT_EQ(count_frame_files(work_dir.path()), 0);
}

TEST_F(VideoImport, AnUnreadableClipGivesTheEncodersReasonAndItsCommand) {
    test::TemporaryFolder folder;
    put_file(folder / "x.mp4", "this is not a video\n");
    const ImportOutcome outcome = import(folder / "x.mp4", folder / "work");
    EXPECT_EQ(outcome.problem, ImportProblem::ExtractionFailed);
    EXPECT_EQ(outcome.problem_detail,
              (folder / "x.mp4").string() + ": Invalid data found when processing input\n" +
                  "ffmpeg ended with exit status 1.\nCommand: " +
                  command_text(extraction_command(ffmpeg(), folder / "x.mp4", folder / "work")));
    EXPECT_EQ(outcome.frame_count, 0);
}

// What must not be handed to the encoder, or must not be written through,
// is dealt with before it runs: a FIFO as the clip would keep it waiting, a
// link of a name it writes would have it write outside WorkDir.
TEST_F(VideoImport, NeitherWaitsOnAFifoNorWritesThroughALink) {
    test::TemporaryFolder folder;
    const fs::path fifo = folder / "clip.mp4";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const ImportOutcome refused =
        test::without_hanging([&] { return import(fifo, folder / "work", ffmpeg()); });
    EXPECT_EQ(refused.problem, ImportProblem::ClipUnreadable);
    EXPECT_EQ(import_problem_text(refused, "eng"),
              "Can't read the video file!\n\n\"" + fifo.string() + "\" is not a regular file.");

    const fs::path work_dir = folder / "work";
    fs::create_directories(work_dir);
    for (const char* name : {"pic0001.jpg", "pic0002.jpg", "1.tmp", "sound.wav"}) {
        fs::create_symlink(folder / (std::string("outside-") + name), work_dir / name);
    }
    const ImportOutcome outcome = import(silent_clip(), work_dir);
    EXPECT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
    EXPECT_EQ(outcome.frame_count, 10);
    EXPECT_EQ(folder.names(), (std::set<std::string>{"clip.mp4", "work"}));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(frame_file_path(work_dir, 1))));
}

TEST_F(VideoImport, ASecondUserOfWorkDirIsToldAndTouchesNothing) {
    test::TemporaryFolder work_dir;
    put_file(frame_file_path(work_dir.path(), 1), "a frame of the other import");
    const WorkDirLock other(work_dir.path());
    ASSERT_TRUE(other.held());
    const ImportOutcome outcome = import(silent_clip(), work_dir.path());
    EXPECT_EQ(outcome.problem, ImportProblem::WorkDirInUse);
    EXPECT_EQ(import_problem_text(outcome, "eng"),
              "The working folder \"" + work_dir.path().string() +
                  "\" is in use by another Tintora! Wait until it has finished, or choose "
                  "another working folder.");
    EXPECT_EQ(work_dir.names(), (std::set<std::string>{"pic0001.jpg", ".tintora.lock"}));
    std::ifstream frame(frame_file_path(work_dir.path(), 1));
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(frame), {}),
              "a frame of the other import");
}

TEST_F(VideoImport, ACancelKeepsTheWholeFramesExtractedSoFar) {
    test::TemporaryFolder work_dir;
    ImportProgress progress;
    std::thread watcher([&progress] {
        while (progress.stage != ImportStage::Finished) {
            if (progress.frames_extracted >= 5) progress.cancel_requested = true;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    const ImportOutcome outcome =
        import_video(ffmpeg(), clip("25", "120", false), work_dir.path(), progress);
    watcher.join();
    EXPECT_TRUE(outcome.cancelled);
    EXPECT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
    EXPECT_GE(outcome.frame_count, 4);
    EXPECT_LT(outcome.frame_count, 3000);
    // No sound was extracted, and the frames have no gap.
    EXPECT_EQ(work_dir.names(),
              frame_names(outcome.frame_count, {"1.tmp", ".tintora.lock", ".tintora-import"}));
    for (int i = 1; i <= outcome.frame_count; ++i) {
        EXPECT_TRUE(load_jpeg(frame_file_path(work_dir.path(), i))) << "frame " << i;
    }
}

TEST(FrameFiles, OnlyFrameNamesAreCountedAndDeleted) {
    EXPECT_EQ(frame_file_path("/w", 7), "/w/pic0007.jpg");
    EXPECT_EQ(frame_file_path("/w", 10000), "/w/pic10000.jpg");
    test::TemporaryFolder work_dir;
    for (const char* name : {"pic0001.jpg", "pic10000.jpg", "pic001.jpg", "pic0002.JPG",
                             "Pic0003.jpg", "pic0004.jpg.bak", "pic00a5.jpg", "picture.jpg"}) {
        put_file(work_dir / name, "x");
    }
    fs::create_directory(work_dir / "pic0006.jpg");
    put_file(work_dir / "pic0006.jpg" / "pic0007.jpg", "inside");
    fs::create_directory_symlink(work_dir / "pic0006.jpg", work_dir / "pic0008.jpg");
    fs::create_symlink(work_dir / "picture.jpg", work_dir / "pic0009.jpg");

    EXPECT_EQ(count_frame_files(work_dir.path()), 3);
    ASSERT_TRUE(delete_frame_files(work_dir.path()));
    // A link of a frame name goes too, whatever it points to; never a folder.
    EXPECT_EQ(work_dir.names(),
              (std::set<std::string>{"pic001.jpg", "pic0002.JPG", "Pic0003.jpg", "pic0004.jpg.bak",
                                     "pic00a5.jpg", "picture.jpg", "pic0006.jpg"}));
    EXPECT_TRUE(fs::exists(work_dir / "pic0006.jpg" / "pic0007.jpg"));

    EXPECT_EQ(count_frame_files(work_dir / "missing"), 0);
    EXPECT_TRUE(delete_frame_files(work_dir / "missing"));
}

TEST(ImportCommands, KeepTheirOrderAndEscapeTheFolder) {
    const fs::path ffmpeg = "/usr/bin/ffmpeg";
    const fs::path clip = "/clips/-y.mp4";
    const fs::path work_dir = "/work/100%";
    const Command info = info_command(ffmpeg, clip, work_dir);
    EXPECT_EQ(info.arguments, (std::vector<std::string>{"-i", "/clips/-y.mp4"}));
    EXPECT_EQ(info.error_output_file, "/work/100%/1.tmp");
    EXPECT_EQ(command_text(extraction_command(ffmpeg, clip, work_dir)),
              "/usr/bin/ffmpeg -i /clips/-y.mp4 -vframes 10000 -qscale 1 /work/100%%/pic%4d.jpg");
    EXPECT_EQ(command_text(sound_command(ffmpeg, clip, work_dir)),
              "/usr/bin/ffmpeg -i /clips/-y.mp4 -y /work/100%/sound.wav");

    const struct {
        int frame;
        double fps;
        const char* seconds;
    } plays[] = {{50, 25.0, "2.000000"},
                 {1, 29.97, "0.033367"},
                 {7, 0.0, "0.000000"},
                 {7, std::numeric_limits<double>::quiet_NaN(), "0.000000"}};
    for (const auto& play : plays) {
        EXPECT_EQ(command_text(play_command("/usr/bin/ffplay", clip, play.frame, play.fps)),
                  std::string("/usr/bin/ffplay -i /clips/-y.mp4 -ss ") + play.seconds);
    }
}

struct FpsText {
    const char* name;
    const char* text;
    std::optional<double> fps;
};

class ParseInputFps : public ::testing::TestWithParam<FpsText> {};

TEST_P(ParseInputFps, ReadsTheNumberBeforeTheFirstUsableMarker) {
    EXPECT_EQ(parse_input_fps(GetParam().text), GetParam().fps);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseInputFps,
    ::testing::Values(
        FpsText{"Fps29_97", "Video: h264, 64x48 [SAR 1:1], 19 kb/s, 29.97 fps, 29.97 tbr", 29.97},
        FpsText{"Fps30", "Video: mpeg4, 640x480, 1200 kb/s, 30 fps, 30 tbr\r\n", 30.0},
        FpsText{"Fps25", "    Stream #0:0: Video: mjpeg, yuvj420p, 320x240, 25 fps, 25 tbr", 25.0},
        FpsText{"OnlyDigitsBeforeTheFirst", "123 fps, then 24 fps, 24 tbr", 24.0},
        FpsText{"OnlyDigitsBeforeTheOnly", "123 fps, then", std::nullopt},
        FpsText{"FirstCharacterIsNeverTheStop", "a25 fps, tbr", std::nullopt},
        FpsText{"MarkerAtTheVeryEnd", "rate 25 fps,", std::nullopt},
        FpsText{"NoNumberThenANumber", "rate . fps, x fps, 12 fps, x", 12.0},
        FpsText{"LongestNumberPrefix", "rate 29.97.5 fps, x", 29.97},
        FpsText{"NoMarker", "Stream #0:0: Video: h264, 25 tbr", std::nullopt},
        FpsText{"Empty", "", std::nullopt}, FpsText{"MarkerOnly", " fps,", std::nullopt},
        FpsText{"ShortestSearched", " fps,x", std::nullopt}),
    [](const ::testing::TestParamInfo<FpsText>& info) { return std::string(info.param.name); });

TEST(ExpectedFrameCount, IsTheDurationTimesTheRateAtMostTenThousand) {
    const std::string stream = "  Stream #0:0: Video: h264, 64x48, 29.97 fps, 29.97 tbr\n";
    EXPECT_EQ(expected_frame_count("  Duration: 00:01:00.04, start: 0.0\n" + stream), 1799);
    EXPECT_EQ(expected_frame_count("  Duration: 01:00:00.00, start: 0.0\n" + stream), 10000);
    EXPECT_EQ(expected_frame_count("  Duration: N/A, start: 0.0\n" + stream), std::nullopt);
    EXPECT_EQ(expected_frame_count("  Duration: 00:00:00.00, start: 0.0\n" + stream), std::nullopt);
    EXPECT_EQ(expected_frame_count("  Duration: 00:00:01.00, start: 0.0\n"), std::nullopt);
}

}  // namespace
}  // namespace tintora
