// The exports: the names, the commands, and whole exports through the real
// encoder on a small clip, checked with ffprobe.
#include "core/video/video_export.hpp"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/video/video_import.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using Field = ParameterField;

TEST(JpegSequencePrefix, DropsTheExtensionWhereverItStands) {
    EXPECT_EQ(jpeg_sequence_prefix("/clips/clip.jpeg"), "/clips/clip");
    EXPECT_EQ(jpeg_sequence_prefix("/clips/clip.JPG"), "/clips/clip");
    EXPECT_EQ(jpeg_sequence_prefix("/clips/clip"), "/clips/clip");
    EXPECT_EQ(jpeg_sequence_prefix("/a.jpg.d/shot"), "/a.jpg.d/");  // the last 4, all the same
    EXPECT_TRUE(is_numbered_jpeg_name("shot0001.jpg", "shot"));
    EXPECT_TRUE(is_numbered_jpeg_name("shot12345.jpg", "shot"));
    EXPECT_FALSE(is_numbered_jpeg_name("shotgun.jpg", "shot"));
    EXPECT_FALSE(is_numbered_jpeg_name("shot001.jpg", "shot"));
    EXPECT_FALSE(is_numbered_jpeg_name("shot0001.jpeg", "shot"));
}

TEST(ExportCommands, FollowTheirCommandLines) {
    EXPECT_EQ(range_start_seconds(1, 25), "0");
    EXPECT_EQ(range_duration_seconds(1, 50, 25), "1.96");
    const Command sound = sound_cut_command("/usr/bin/ffmpeg", "/c/a b.mp4", 26, 50, 25, "/o.wav");
    EXPECT_EQ(sound.arguments, (std::vector<std::string>{"-i", "/c/a b.mp4", "-y", "-ss", "1", "-t",
                                                         "0.96", "/o.wav"}));
    VideoParameters parameters;  // "512", "Mono", "22050", "64"
    Command video =
        video_encoding_command("/usr/bin/ffmpeg", "/w", parameters, true, 255, 25, "/out.flv");
    EXPECT_EQ(video.arguments, (std::vector<std::string>{
                                   "-i", "/w/converted/pic%4d.jpg", "-y", "-i",
                                   "/w/converted/sound.wav", "-ar", "22050", "-ab", "64k", "-ac",
                                   "1", "-vol", "255", "-b", "512000", "-r", "25", "/out.flv"}));
    parameters.channels_index = 0;  // "No audio"
    parameters.video_bitrate_index = 10;
    video = video_encoding_command("ffmpeg", "/w 100%", parameters, true, 255, 29.97, "/o.MP4");
    EXPECT_EQ(video.arguments,
              (std::vector<std::string>{
                  "-i", "/w 100%%/converted/pic%4d.jpg", "-y", "-b", "16000000", "-r", "29.97",
                  "-vf", "crop=trunc(iw/2)*2:trunc(ih/2)*2", "-pix_fmt", "yuv420p", "/o.MP4"}));
}

// What ffprobe says of a file (of its streams of one type, when given), as
// "key=value" lines.
std::string probe(const fs::path& file, const std::string& entries,
                  const std::string& stream_type = "") {
    test::TemporaryFolder folder;
    const fs::path report = folder / "probe.txt";
    Command command{"ffprobe", {"-v", "error", "-count_frames"}, {}};
    if (!stream_type.empty()) {
        command.arguments.insert(command.arguments.end(), {"-select_streams", stream_type});
    }
    command.arguments.insert(
        command.arguments.end(),
        {"-show_entries", entries, "-of", "default=nw=1", "-o", report.string(), file.string()});
    const CommandResult result = run_command(command);
    if (!result.succeeded()) return "ffprobe failed: " + result.last_error_line();
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(report);
    return bytes ? std::string(bytes.value().begin(), bytes.value().end()) : std::string();
}

double probed_number(const std::string& report, const std::string& key) {
    const std::size_t at = report.find(key + "=");
    return at == std::string::npos ? -1.0 : std::stod(report.substr(at + key.size() + 1));
}

// A clip of 60 frames (2.4 s at 25 fps) with sound, imported into WorkDir.
class VideoExport : public testing::Test {
protected:
    void SetUp() override {
        settings_.ffmpeg_path = test::find_encoder();
        ASSERT_FALSE(settings_.ffmpeg_path.empty()) << "ffmpeg is not found along PATH";
        settings_.work_dir = work_.path();
        const fs::path clip = test::test_clip("25", "2.4", true);
        ASSERT_FALSE(clip.empty());
        ImportProgress progress;
        const ImportOutcome outcome =
            import_video(settings_.ffmpeg_path, clip, work_.path(), progress);
        ASSERT_EQ(outcome.frame_count, 60) << outcome.problem_detail;
        workspace_.set_view_size(320, 240);
        ASSERT_TRUE(workspace_.finish_import(clip, outcome));
        VideoParameters& p = workspace_.parameters();
        p.text(Field::StartFrame) = "1";
        p.text(Field::StopFrame) = "10";
        p.text(Field::Count) = "2";
        p.text(Field::StaticFrame) = "5";
        p.ping_pong = true;
    }

    RunOutcome run(const Result<RunJob>& job) {
        if (!job) return {ProcessingRun::State::Failed, job.error()};
        return run_to_end(job.value(), {});
    }

    test::TemporaryFolder work_;
    test::TemporaryFolder out_;
    AppSettings settings_;
    VideoWorkspace workspace_{settings_};
    CorrectionGrid grid_;
};

struct ContainerCase {
    const char* name;
    const char* file;
    const char* video_codec;
    const char* audio_codec;
};

class VideoExportContainer : public VideoExport,
                             public testing::WithParamInterface<ContainerCase> {};

TEST_P(VideoExportContainer, CarriesThePingPongEndFramesAndTheSoundOfTheRange) {
    const fs::path output = out_ / GetParam().file;
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    const std::string video = probe(output, "stream=codec_name,nb_read_frames");
    EXPECT_NE(video.find(std::string("codec_name=") + GetParam().video_codec), std::string::npos)
        << video;
    EXPECT_NE(video.find(std::string("codec_name=") + GetParam().audio_codec), std::string::npos)
        << video;
    EXPECT_EQ(probed_number(probe(output, "stream=nb_read_frames", "v"), "nb_read_frames"),
              2 * 10 + 2);
    // The sound lasts the range less one frame period: 9 / 25 s.
    const std::string sound =
        probe(converted_folder(work_.path()) / "sound.wav", "format=duration");
    EXPECT_NEAR(probed_number(sound, "duration"), 0.36, 0.01) << sound;
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoExportContainer,
                         testing::Values(ContainerCase{"Flv", "out.flv", "flv1", "mp3"},
                                         ContainerCase{"Mp4", "out.mp4", "h264", "aac"}),
                         [](const testing::TestParamInfo<ContainerCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(VideoExport, NoAudioLeavesTheSoundOutButStillCutsIt) {
    workspace_.parameters().channels_index = 0;
    const fs::path output = out_ / "silent.flv";
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    EXPECT_EQ(probe(output, "stream=codec_type").find("audio"), std::string::npos);
    EXPECT_TRUE(fs::exists(converted_folder(work_.path()) / "sound.wav"));
}

TEST_F(VideoExport, WavLastsTheRangeLessOneFramePeriod) {
    workspace_.parameters().text(Field::StopFrame) = "50";
    const fs::path output = out_ / "range.wav";
    const Result<Command> command = prepare_wav_export(workspace_, settings_, output);
    ASSERT_TRUE(command) << command.error();
    ASSERT_TRUE(run_command(command.value()).succeeded());
    EXPECT_NEAR(probed_number(probe(output, "format=duration"), "duration"), 1.96, 0.01);
}

TEST_F(VideoExport, JpegSequenceWritesItsFilesOnlyAndKeepsTheUsersOwn) {
    workspace_.parameters().text(Field::Count) = "0";
    std::ofstream(out_ / "shotgun.jpg") << "a user's picture";
    std::ofstream(out_ / "shot9999.jpg") << "an old sequence";
    const std::string prefix = jpeg_sequence_prefix((out_ / "shot.JPG").string());
    const RunOutcome outcome = run(prepare_sequence_export(workspace_, settings_, grid_, prefix));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    std::set<std::string> expected{"shotgun.jpg"};
    for (int k = 1; k <= 20; ++k) expected.insert(run_output_path("shot", k).string());
    EXPECT_EQ(out_.names(), expected);
    EXPECT_FALSE(fs::exists(converted_folder(work_.path())));
}

TEST_F(VideoExport, FieldsOutOfRangeAreBroughtInBeforeTheRun) {
    VideoParameters& p = workspace_.parameters();
    p.text(Field::StartFrame) = "first";
    p.text(Field::StopFrame) = "999";
    p.text(Field::CutX) = "60";  // beyond the 64 by 48 frame with the default width
    p.text(Field::CutWidth) = "";
    p.text(Field::ResampleWidth) = "";
    p.rotation_index = 1;  // "90", chosen with its button only
    const Result<RunJob> job =
        prepare_sequence_export(workspace_, settings_, grid_, (out_ / "s").string());
    ASSERT_TRUE(job) << job.error();
    EXPECT_EQ(job.value().start_frame, 1);
    EXPECT_EQ(job.value().stop_frame, 60);
    const OutputSteps& steps = job.value().settings.steps;
    EXPECT_EQ(steps.cut->x, 47);  // inside the turned 48 by 64 frame
    EXPECT_EQ(steps.cut->width, 0);
    EXPECT_EQ(steps.resample->width, steps.cut->width);  // the cut's size, not exchanged
    EXPECT_EQ(steps.resample->height, steps.cut->height);
}

TEST_F(VideoExport, RefusalsAndFailuresAreReported) {
    workspace_.session().InputFps = 0;
    const Result<RunJob> refused =
        prepare_video_export(workspace_, settings_, grid_, out_ / "x.flv");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("Undefined FPS value!"), std::string::npos);
    EXPECT_FALSE(fs::exists(converted_folder(work_.path())));

    workspace_.session().InputFps = 25;
    const RunOutcome unwritable =
        run(prepare_video_export(workspace_, settings_, grid_, out_ / "no folder" / "x.flv"));
    EXPECT_EQ(unwritable.state, ProcessingRun::State::Failed);
    EXPECT_NE(unwritable.failure.find("Save FLV file"), std::string::npos) << unwritable.failure;

    settings_.ffmpeg_path = "/bin/false";
    const RunOutcome failing =
        run(prepare_video_export(workspace_, settings_, grid_, out_ / "x.flv"));
    EXPECT_EQ(failing.state, ProcessingRun::State::Failed);
    EXPECT_NE(failing.failure.find("Extract sound"), std::string::npos) << failing.failure;
}

}  // namespace
}  // namespace tintora
