// The exports: the names, the commands, and whole exports through the real
// encoder on a small clip, checked with ffprobe.
#include "core/video/video_export.hpp"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_import.hpp"
#include "core/video/work_dir_lock.hpp"
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

// The frames are read at the clip's own rate and the sound lasts as long as
// the frames of the range: both mend the plain command lines, which read the
// frames at the encoder's 25 and cut the sound one frame short.
TEST(ExportCommands, ReadTheFramesAtTheClipsRateAndCutTheSoundOfEveryFrame) {
    EXPECT_EQ(range_start_seconds(1, 25), "0");
    EXPECT_EQ(range_duration_seconds(1, 50, 25), "2");
    EXPECT_EQ(range_duration_seconds(1, 90, 29.97), "3.003");  // 90 frames at 30000/1001
    const Command sound = sound_cut_command("/usr/bin/ffmpeg", "/c/a b.mp4", 26, 50, 25, "/o.wav");
    EXPECT_EQ(sound.arguments, (std::vector<std::string>{"-i", "/c/a b.mp4", "-y", "-ss", "1", "-t",
                                                         "1", "/o.wav"}));
    VideoParameters parameters;  // "512", "Mono", "22050", "64"
    Command video =
        video_encoding_command("/usr/bin/ffmpeg", "/w", parameters, true, 255, 30, 25, 102, "/out.flv");
    EXPECT_EQ(video.arguments, (std::vector<std::string>{"-framerate",
                                                         "30",
                                                         "-i",
                                                         "/w/converted/pic%4d.jpg",
                                                         "-y",
                                                         "-i",
                                                         "/w/converted/sound.wav",
                                                         "-ar",
                                                         "22050",
                                                         "-ab",
                                                         "64k",
                                                         "-ac",
                                                         "1",
                                                         "-vol",
                                                         "255",
                                                         "-b",
                                                         "512000",
                                                         "-r",
                                                         "25",
                                                         "-t",
                                                         "3.4",
                                                         "-progress",
                                                         "pipe:1",
                                                         "/out.flv"}));
    parameters.channels_index = 0;  // "No audio"
    parameters.video_bitrate_index = 10;
    video =
        video_encoding_command("ffmpeg", "/w 100%", parameters, true, 255, 29.97, 29.97, 90, "/o.MP4");
    EXPECT_EQ(video.arguments,
              (std::vector<std::string>{"-framerate", "30000/1001", "-i",
                                        "/w 100%%/converted/pic%4d.jpg", "-y", "-b", "16000000",
                                        "-r", "30000/1001", "-vf", "crop=trunc(iw/2)*2:trunc(ih/2)*2",
                                        "-pix_fmt", "yuv420p", "-progress", "pipe:1", "/o.MP4"}));
}

// MP4 and WebM: the Quality choice's options by format and frame size (a
// level; for H.264 a cap by pixels per second with a floor, which libvpx
// would refuse beside -b:v 0; "Bitrate list" as FLV), and their sound: FLV's
// defaults give what web players expect, any list changed what was chosen.
TEST(WebVideo, QualityAndSoundFollowTheChoicesTheFormatAndTheFrameSize) {
    using Options = std::vector<std::string>;
    using enum VideoFormat;
    using enum WebQuality;
    struct QualityCase {
        VideoFormat format;
        WebQuality quality;
        EvenSize size;
        double fps;
        Options options;
    };
    const QualityCase qualities[] = {
        {Mp4, Automatic, {640, 360}, 25, {"-crf", "21", "-maxrate", "1500k", "-bufsize", "3000k"}},
        {Mp4, Automatic, {1280, 720}, 25, {"-crf", "22", "-maxrate", "3456k", "-bufsize", "6912k"}},
        {Mp4, Automatic, {1920, 1080}, 12, {"-crf", "23", "-maxrate", "3732k", "-bufsize", "7464k"}},
        {WebM, Automatic, {640, 360}, 25, {"-crf", "32", "-b:v", "0"}},
        {WebM, Automatic, {1920, 1080}, 25, {"-crf", "34", "-b:v", "0"}},
        {Mp4, High, {62, 46}, 25, {"-crf", "19", "-maxrate", "1500k", "-bufsize", "3000k"}},
        {Mp4, Small, {1920, 1080}, 25, {"-crf", "28", "-maxrate", "7776k", "-bufsize", "15552k"}},
        {WebM, Medium, {1280, 720}, 50, {"-crf", "35", "-b:v", "0"}},
        {Mp4, BitrateList, {1920, 1080}, 25, {"-b:v", "16000000"}},
        {WebM, BitrateList, {640, 360}, 25, {"-b:v", "16000000"}},
    };
    for (const QualityCase& c : qualities) {
        EXPECT_EQ(web_video_quality(c.format, c.quality, c.size, c.fps, 16000000), c.options)
            << video_format_extension(c.format) << " " << kQualityItems[static_cast<int>(c.quality)]
            << " " << c.size.width << "x" << c.size.height;
    }
    VideoParameters parameters;
    parameters.quality_index = 99;  // no such item: the default
    EXPECT_EQ(web_quality(parameters), WebQuality::Automatic);

    struct SoundCase {
        const char* name;
        int channels_index;
        int rate_index;
        int audio_bitrate_index;
        std::optional<ExportSound> sound;
    };
    const SoundCase sounds[] = {
        {"FLV's defaults", 1, 0, 2, ExportSound{2, "48000", "128", 200}},
        {"Stereo", 2, 0, 2, ExportSound{2, "22050", "64", 200}},
        {"44100", 1, 1, 2, ExportSound{1, "44100", "64", 200}},
        {"96 kbit/s", 1, 0, 3, ExportSound{1, "22050", "96", 200}},
        {"No audio", 0, 0, 2, std::nullopt},
    };
    for (const SoundCase& c : sounds) {
        parameters.channels_index = c.channels_index;
        parameters.rate_index = c.rate_index;
        parameters.audio_bitrate_index = c.audio_bitrate_index;
        const std::optional<ExportSound> sound = web_export_sound(parameters, true, 200);
        ASSERT_EQ(sound.has_value(), c.sound.has_value()) << c.name;
        if (!sound) continue;
        EXPECT_EQ(sound->channels, c.sound->channels) << c.name;
        EXPECT_EQ(sound->rate, c.sound->rate) << c.name;
        EXPECT_EQ(sound->kilobits, c.sound->kilobits) << c.name;
        EXPECT_EQ(sound->volume, 200) << c.name;
    }
    EXPECT_FALSE(web_export_sound(VideoParameters{}, false, 256)) << "a clip without sound";
}

TEST(ExactInputRate, TakesTheEncodersTwoDecimalsBackToTheNtscFraction) {
    const struct {
        double parsed;
        const char* argument;
    } cases[] = {
        {29.97, "30000/1001"},
        {23.98, "24000/1001"},
        {23.976, "24000/1001"},
        {59.94, "60000/1001"},
        {47.95, "48000/1001"},
        {119.88, "120000/1001"},
        {25, "25"},
        {30, "30"},
        {24, "24"},
        {60, "60"},
        {12.5, "12.5"},
        {29.5, "29.5"},
        {15, "15"},
    };
    for (const auto& c : cases) {
        const ExactRate rate = exact_frame_rate(c.parsed);
        EXPECT_EQ(rate.argument, c.argument) << c.parsed;
        EXPECT_NEAR(rate.frames_per_second, c.parsed, 0.005) << c.parsed;
    }
    EXPECT_EQ(exact_frame_rate(29.97).frames_per_second, 30000.0 / 1001.0);
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

// How long a file's sound (or with "v" its video) lasts, from the first
// packet's start to the last one's end, in seconds.
double sound_seconds(const fs::path& file, const std::string& stream_type = "a") {
    test::TemporaryFolder folder;
    const fs::path report = folder / "packets.txt";
    const CommandResult result = run_command(
        {"ffprobe",
         {"-v", "error", "-select_streams", stream_type, "-show_entries",
          "packet=pts_time,duration_time", "-of", "csv=p=0", "-o", report.string(), file.string()},
         {}});
    if (!result.succeeded()) return -1;
    std::ifstream lines(report);
    double start = 1e9;
    double end = -1;
    for (std::string line; std::getline(lines, line);) {
        const std::size_t comma = line.find(',');
        if (comma == std::string::npos) continue;
        const double pts = std::stod(line);
        start = std::min(start, pts);
        end = std::max(end, pts + std::stod(line.substr(comma + 1)));
    }
    return end - start;
}

// A shell script standing in for the encoder.
fs::path encoder_script(const fs::path& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body << "\n";
    fs::permissions(path, fs::perms::owner_all);
    return path;
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

    // The whole clip at camera rates: a fresh WorkDir and clip for the test.
    void open(const std::string& rate, const std::string& seconds,
              const std::string& size = "64x48") {
        const fs::path clip = test::test_clip(rate, seconds, true, size);
        ASSERT_FALSE(clip.empty());
        ImportProgress progress;
        const ImportOutcome outcome = import_video(settings_.ffmpeg_path, clip, work_.path(),
                                                   progress, "eng", workspace_.work_dir_lock());
        ASSERT_EQ(outcome.problem, ImportProblem::None) << outcome.problem_detail;
        ASSERT_TRUE(workspace_.finish_import(clip, outcome));
        workspace_.parameters().text(Field::Count) = "0";
        workspace_.parameters().ping_pong = false;
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
    int poster_width;  // of the 63 pixels wide output frame
};

class VideoExportContainer : public VideoExport,
                             public testing::WithParamInterface<ContainerCase> {};

TEST_P(VideoExportContainer, CarriesThePingPongEndFramesAndTheSoundOfTheRange) {
    const fs::path output = out_ / GetParam().file;
    workspace_.parameters().poster_image = true;
    // An odd width, which the H.264 of an .mp4 name makes even.
    workspace_.parameters().text(Field::ResampleWidth) = "63";
    workspace_.parameters().text(Field::ResampleHeight) = "48";
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, {}, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    const std::string video = probe(output, "stream=codec_name,nb_read_frames");
    EXPECT_NE(video.find(std::string("codec_name=") + GetParam().video_codec), std::string::npos)
        << video;
    EXPECT_NE(video.find(std::string("codec_name=") + GetParam().audio_codec), std::string::npos)
        << video;
    EXPECT_EQ(probed_number(probe(output, "stream=nb_read_frames", "v"), "nb_read_frames"),
              2 * 10 + 2);
    // The sound lasts as long as the frames of the range: 10 / 25 s.
    const std::string sound =
        probe(converted_folder(work_.path()) / "sound.wav", "format=duration");
    EXPECT_NEAR(probed_number(sound, "duration"), 0.4, 0.01) << sound;
    // The poster shows what the video shows: H.264 drops the odd column.
    fs::path poster = output;
    EXPECT_EQ(load_jpeg(poster.replace_extension(".jpg")).value().width(), GetParam().poster_width);
}

INSTANTIATE_TEST_SUITE_P(Containers, VideoExportContainer,
                         testing::Values(ContainerCase{"Flv", "out.flv", "flv1", "mp3", 63},
                                         ContainerCase{"Mp4", "out.mp4", "h264", "aac", 62}),
                         [](const testing::TestParamInfo<ContainerCase>& info) {
                             return std::string(info.param.name);
                         });

// How far two B, G, R pictures lie apart in the means of their 8 by 8
// blocks: a codec's 4:2:0 and rounding errors at sharp edges average out, a
// wrong range or colour matrix does not.
double block_difference(const std::uint8_t* a, const std::uint8_t* b, int width, int height) {
    double total = 0;
    int blocks = 0;
    for (int top = 0; top + 8 <= height; top += 8) {
        for (int left = 0; left + 8 <= width; left += 8) {
            for (int channel = 0; channel < 3; ++channel) {
                int sum = 0;
                for (int r = top; r < top + 8; ++r) {
                    for (int c = left; c < left + 8; ++c) {
                        const std::size_t at =
                            (static_cast<std::size_t>(r) * width + c) * 3 + channel;
                        sum += int{a[at]} - int{b[at]};
                    }
                }
                total += std::abs(sum) / 64.0;
                ++blocks;
            }
        }
    }
    return total / blocks;
}

struct StreamedCase {
    const char* name;
    const char* file;
    VideoFormat format;
    const char* video;  // codec, pixel format and range as ffprobe names them
    const char* sound;  // codec, sample rate and channels
};

class VideoExportStreamed : public VideoExport, public testing::WithParamInterface<StreamedCase> {
protected:
    // The samples the file's sound decodes to (the encoder's priming and
    // padding left out, as players leave them out), in seconds.
    double decoded_sound_seconds(const fs::path& video) {
        const fs::path raw = out_ / "decoded.pcm";
        const CommandResult result =
            run_command({settings_.ffmpeg_path,
                         {"-v", "error", "-i", video.string(), "-map", "0:a:0", "-ac", "1", "-ar",
                          "48000", "-f", "s16le", raw.string()},
                         {}});
        EXPECT_TRUE(result.succeeded()) << result.last_error_line();
        const double seconds = static_cast<double>(fs::file_size(raw)) / (2 * 48000);
        fs::remove(raw);
        return seconds;
    }

    // The file's pictures decoded to B, G, R as a player shows them.
    std::vector<std::uint8_t> decoded(const fs::path& video) {
        const fs::path raw = out_ / "decoded.bgr";
        const CommandResult result =
            run_command({settings_.ffmpeg_path,
                         {"-v", "error", "-i", video.string(), "-vf",
                          "scale=flags=accurate_rnd+full_chroma_int,format=bgr24", "-f", "rawvideo",
                          raw.string()},
                         {}});
        EXPECT_TRUE(result.succeeded()) << result.last_error_line();
        Result<std::vector<std::uint8_t>> bytes = read_file_bytes(raw);
        fs::remove(raw);
        return bytes ? std::move(bytes).value() : std::vector<std::uint8_t>();
    }
};

// What a browser plays: the codecs in 4:2:0 in the TV range, the sound as
// long as the pictures, MP4's index before its data; the pictures are the
// run's frames (their even part) up to what the codec changes, with no JPEG
// step through WorkDir.
TEST_P(VideoExportStreamed, CarriesTheRunsFramesAndTheSoundInPlayableStreams) {
    const StreamedCase& c = GetParam();
    VideoParameters& p = workspace_.parameters();
    p.ping_pong = false;
    p.text(Field::Count) = "0";
    // An odd size, which 4:2:0 video makes even.
    p.text(Field::ResampleWidth) = "63";
    p.text(Field::ResampleHeight) = "47";
    const fs::path output = out_ / c.file;
    const Result<RunJob> job =
        prepare_video_export_as(workspace_, settings_, grid_, {}, {output, c.format});
    ASSERT_TRUE(job) << job.error();
    const FrameSettings settings = job.value().settings;
    const RunOutcome outcome = run(job);
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;

    EXPECT_EQ(probe(output, "stream=codec_name,width,height,pix_fmt,color_range", "v"), c.video);
    // The default quality, and the web's sound for FLV's default lists.
    EXPECT_EQ(probe(output, "stream=codec_name,sample_rate,channels", "a"), c.sound);
    // Ten frames at 25 a second, and as much sound as a player hears.
    EXPECT_NEAR(sound_seconds(output, "v"), 0.4, 0.001);
    EXPECT_NEAR(decoded_sound_seconds(output), 0.4, 1.0 / 25);
    if (c.format == VideoFormat::Mp4) {
        const std::vector<std::uint8_t> bytes = read_file_bytes(output).value();
        const std::string boxes(bytes.begin(), bytes.end());
        EXPECT_LT(boxes.find("moov"), boxes.find("mdat"));
        // x264 writes its settings into the stream: the level and the cap.
        const std::vector<std::string> quality =
            web_video_quality(c.format, WebQuality::Automatic, {62, 46}, 25, 0);
        EXPECT_NE(boxes.find(" rc=crf "), std::string::npos);
        EXPECT_NE(boxes.find(" crf=" + quality[1] + ".0 "), std::string::npos);
        EXPECT_NE(boxes.find(" vbv_maxrate=" + quality[3].substr(0, quality[3].size() - 1) + " "),
                  std::string::npos);
    }
    EXPECT_FALSE(fs::exists(converted_folder(work_.path())));

    const std::vector<std::uint8_t> pictures = decoded(output);
    const std::size_t frame_bytes = 62 * 46 * 3;
    ASSERT_EQ(pictures.size(), 10 * frame_bytes);
    for (int k = 1; k <= 10; ++k) {
        const Frame frame =
            process_frame_from_file(frame_file_path(work_.path(), k), settings, grid_).value();
        std::vector<std::uint8_t> packed;
        const std::string_view made = raw_frame_bytes(frame, {62, 46}, packed);
        const double difference =
            block_difference(reinterpret_cast<const std::uint8_t*>(made.data()),
                             pictures.data() + (k - 1) * frame_bytes, 62, 46);
        EXPECT_LT(difference, 2.5) << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, VideoExportStreamed,
    testing::Values(
        StreamedCase{"Mp4", "out.mp4", VideoFormat::Mp4,
                     "codec_name=h264\nwidth=62\nheight=46\npix_fmt=yuv420p\ncolor_range=tv\n",
                     "codec_name=aac\nsample_rate=48000\nchannels=2\n"},
        StreamedCase{"WebM", "out.webm", VideoFormat::WebM,
                     "codec_name=vp9\nwidth=62\nheight=46\npix_fmt=yuv420p\ncolor_range=tv\n",
                     "codec_name=opus\nsample_rate=48000\nchannels=2\n"}),
    [](const testing::TestParamInfo<StreamedCase>& info) { return std::string(info.param.name); });

struct CameraRate {
    const char* name;
    const char* rate;
    int frames;  // of a 3 s clip
};

class VideoExportTiming : public VideoExport, public testing::WithParamInterface<CameraRate> {};

// Phones and cameras record at 30 or 29.97 fps: the export at 25 keeps the
// clip's duration, and its sound ends with its pictures.
TEST_P(VideoExportTiming, KeepsTheDurationAndTheSync) {
    open(GetParam().rate, "3");
    ASSERT_EQ(workspace_.session().FrameCount, GetParam().frames);
    workspace_.parameters().text(Field::OutputFps) = "25";
    workspace_.leave_field(Field::OutputFps);
    const fs::path output = out_ / "camera.flv";
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, {}, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    const double seconds =
        GetParam().frames / exact_frame_rate(workspace_.session().InputFps).frames_per_second;
    const double frames =
        probed_number(probe(output, "stream=nb_read_frames", "v"), "nb_read_frames");
    EXPECT_NEAR(frames, seconds * 25, 1.0);
    // The sound lasts as long as the pictures, within one output frame and
    // the sound codec's own frame (1152 samples of MP3 at 22050 Hz).
    EXPECT_NEAR(sound_seconds(output), frames / 25, 1.0 / 25 + 1152.0 / 22050);
}

INSTANTIATE_TEST_SUITE_P(Rates, VideoExportTiming,
                         testing::Values(CameraRate{"Fps30", "30", 90},
                                         CameraRate{"Fps29_97", "30000/1001", 90}),
                         [](const testing::TestParamInfo<CameraRate>& info) {
                             return std::string(info.param.name);
                         });

// A 1920 by 1080 clip at 29.97 fps comes out of every export at its own
// size, and with the output rate nobody changed at its own rate: as many
// frames as the clip has. At another rate the video lasts as long as the
// sound, within one frame.
TEST_F(VideoExport, KeepsTheClipsOwnSizeAndRate) {
    open("30000/1001", "0.2", "1920x1080");
    const int frames = workspace_.session().FrameCount;
    ASSERT_EQ(frames, 6);
    EXPECT_EQ(exact_frame_rate(workspace_.session().OutputFps).argument, "30000/1001");
    workspace_.parameters().poster_image = true;
    const std::string whole = "width=1920\nheight=1080\n";
    for (const char* name : {"own.mp4", "own.webm", "own.flv"}) {
        SCOPED_TRACE(name);
        const fs::path output = out_ / name;
        const RunOutcome outcome = run(prepare_video_export_as(
            workspace_, settings_, grid_, {}, {output, *video_format_of(output)}));
        ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
        EXPECT_EQ(probe(output, "stream=width,height", "v"), whole);
        EXPECT_EQ(probed_number(probe(output, "stream=nb_read_frames", "v"), "nb_read_frames"),
                  frames);
        EXPECT_EQ(load_jpeg(out_ / "own.jpg").value().width(), 1920);
    }
    ASSERT_EQ(run(prepare_sequence_export(workspace_, settings_, grid_, {},
                                          (out_ / "own").string()))
                  .state,
              ProcessingRun::State::Finished);
    const Frame last = load_jpeg(run_output_path((out_ / "own").string(), frames)).value();
    EXPECT_EQ(last.width(), 1920);
    EXPECT_EQ(last.height(), 1080);

    open("30000/1001", "2");
    workspace_.parameters().text(Field::OutputFps) = "25";
    workspace_.leave_field(Field::OutputFps);
    for (const char* name : {"rate.mp4", "rate.flv"}) {
        SCOPED_TRACE(name);
        const fs::path output = out_ / name;
        const RunOutcome outcome = run(prepare_video_export_as(
            workspace_, settings_, grid_, {}, {output, *video_format_of(output)}));
        ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
        const double seconds = workspace_.session().FrameCount * 1001.0 / 30000.0;
        EXPECT_NEAR(probed_number(probe(output, "stream=nb_read_frames", "v"), "nb_read_frames"),
                    seconds * 25, 1.0);
        // The sound codec's own frame (1152 samples of MP3 at 22050 Hz) aside.
        EXPECT_NEAR(sound_seconds(output), seconds, 1.0 / 25 + 1152.0 / 22050);
    }
}

struct FailingEncoder {
    const char* name;
    const char* encoding;  // what the script does instead of encoding
    const char* said;      // in the failure message
};

class VideoExportFailingEncoder : public VideoExport,
                                  public testing::WithParamInterface<FailingEncoder> {};

// An encoder that fails halfway, or succeeds without writing, leaves the
// earlier file byte for byte and no temporary file beside it.
TEST_P(VideoExportFailingEncoder, KeepsTheEarlierFile) {
    const fs::path output = out_ / "kept.flv";
    std::ofstream(output) << "the earlier video";
    // The sound cut goes to the real encoder; the encoding (the command that
    // reads the frames at -framerate) does what the case says.
    test::TemporaryFolder tools;
    settings_.ffmpeg_path =
        encoder_script(tools / "ffmpeg",
                       "real='" + test::find_encoder().string() +
                           "'\nfor a; do last=$a; done\n"
                           "case \" $* \" in *' -framerate '*) " +
                           std::string(GetParam().encoding) +
                           ";; esac\nexec \"$real\" \"$@\"");
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, {}, output));
    EXPECT_EQ(outcome.state, ProcessingRun::State::Failed);
    EXPECT_NE(outcome.failure.find(GetParam().said), std::string::npos) << outcome.failure;
    std::ifstream kept(output);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "the earlier video");
    EXPECT_EQ(out_.names(), std::set<std::string>{"kept.flv"});
}

INSTANTIATE_TEST_SUITE_P(
    Failures, VideoExportFailingEncoder,
    testing::Values(FailingEncoder{"FullDisk",
                                   "printf 'half a video' > \"$last\"; "
                                   "echo \"Error writing trailer of $last: No space left on "
                                   "device\" >&2; echo 'Conversion failed!' >&2; exit 1",
                                   "No space left on device\nffmpeg ended with exit status 1."},
                    FailingEncoder{"WritesNothing", "exit 0", "wrote nothing into"},
                    // The real encoder's work, then a lie: exit status 0 for a
                    // file cut short, or one it said it could not close.
                    FailingEncoder{"TruncatesItsFileAndExitsZero",
                                   "\"$real\" \"$@\"; truncate -s 3000 \"$last\"; exit 0",
                                   "but the file is not whole"},
                    FailingEncoder{"SaysTheDiskIsFullAndExitsZero",
                                   "\"$real\" \"$@\"; echo \"Error closing file $last: No space "
                                   "left on device\" >&2; exit 0",
                                   "ffmpeg could not finish its file: Error closing file"}),
    [](const testing::TestParamInfo<FailingEncoder>& info) {
        return std::string(info.param.name);
    });

// A full disk while the encoder writes its trailer: the encoder says so on
// its error output but exits with 0; the earlier video stays as it was.
TEST_F(VideoExport, AFullDiskKeepsTheEarlierVideo) {
    if (::geteuid() != 0) GTEST_SKIP() << "a small tmpfs for the full disk needs root";
    test::TemporaryFolder small;
    if (std::system(("mount -t tmpfs -o size=8m tmpfs '" + small.path().string() + "'").c_str()) !=
        0) {
        GTEST_SKIP() << "tmpfs cannot be mounted here";
    }
    const fs::path output = small / "tour.mp4";
    std::ofstream(output) << "the earlier video";
    {
        // All but 16 KB taken: less than the video needs.
        std::ofstream filler(small / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (int i = 0; i < (8 * 1024 - 16) / 4; ++i) filler << block;
    }
    workspace_.parameters().text(Field::StopFrame) = "60";
    const RunOutcome outcome = run(
        prepare_video_export_as(workspace_, settings_, grid_, {}, {output, VideoFormat::Mp4}));
    const Result<std::vector<std::uint8_t>> kept = read_file_bytes(output);
    const std::string after = kept ? std::string(kept.value().begin(), kept.value().end()) : "";
    const std::set<std::string> names = small.names();
    EXPECT_EQ(std::system(("umount -l '" + small.path().string() + "'").c_str()), 0);
    EXPECT_EQ(outcome.state, ProcessingRun::State::Failed);
    EXPECT_NE(outcome.failure.find("No space left on device"), std::string::npos)
        << outcome.failure;
    EXPECT_TRUE(after == "the earlier video") << after.size() << " bytes now";
    EXPECT_EQ(names, (std::set<std::string>{"filler", "tour.mp4"}));
}

// Names an export must not write are refused before anything is written:
// the clip, a converted frame and the work files stay as they were.
TEST_F(VideoExport, RefusesTheProjectsOwnFilesAndWorkDirsBeforeWritingAnything) {
    const fs::path clip = workspace_.session().clip_path;
    const fs::path background = out_ / "shot0001.jpg";
    std::ofstream(background) << "the panorama";
    fs::create_symlink(clip, out_ / "clip link.flv");
    const fs::path converted = converted_folder(work_.path());
    fs::create_directory(converted);
    std::ofstream(converted / "pic0001.jpg") << "a converted frame";
    const std::uintmax_t clip_size = fs::file_size(clip);

    const std::string source = "is the project's own video or background!";
    const std::string work_file = "is a file Tintora itself writes in the working folder!";
    const struct {
        const char* name;
        std::string output;  // a file, or with `sequence` a sequence prefix
        bool sequence;
        std::string said;
    } cases[] = {
        {"TheClip", clip.string(), false, source},
        {"ALinkToTheClip", (out_ / "clip link.flv").string(), false, source},
        {"TheBackground", background.string(), false, source},
        {"APosterOverTheBackground", (out_ / "shot0001.mp4").string(), false, source},
        {"ASequenceOverTheBackground", (out_ / "shot").string(), true, source},
        {"AFrameOfWorkDir", (work_ / "pic0007.jpg").string(), false, work_file},
        {"TheSoundOfWorkDir", (work_ / "sound.wav").string(), false, work_file},
        {"IntoConverted", (converted / "out.flv").string(), false, work_file},
        {"ASequenceOfFrameNamesInWorkDir", (work_ / "pic0").string(), true, work_file},
        {"NoName", "", false, "No output file name was given!"},
        {"TheProjectFile", (out_ / "tour.project").string(), false,
         "is the project file itself!"},
        {"APosterLinkedToTheVideo", (out_ / "linked.flv").string(), false,
         "are the same file, and both are written by this export!"},
    };
    std::ofstream(out_ / "tour.project") << "the project";
    workspace_.session().project_path = out_ / "tour.project";
    // The poster of linked.flv is linked.jpg, which leads to the video.
    fs::create_symlink("linked.flv", out_ / "linked.jpg");
    workspace_.parameters().poster_image = true;  // NAME.jpg beside each video
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Result<RunJob> job =
            c.sequence ? prepare_sequence_export(workspace_, settings_, grid_, background, c.output)
                       : prepare_video_export(workspace_, settings_, grid_, background, c.output);
        ASSERT_FALSE(job);
        EXPECT_NE(job.error().find(c.said), std::string::npos) << job.error();
    }
    EXPECT_EQ(fs::file_size(clip), clip_size);
    EXPECT_TRUE(fs::exists(background));
    EXPECT_TRUE(fs::exists(converted / "pic0001.jpg"));
    EXPECT_EQ(count_frame_files(work_.path()), 60);
    EXPECT_EQ(out_.names(), (std::set<std::string>{"shot0001.jpg", "clip link.flv", "tour.project",
                                                    "linked.jpg"}));

    // The workspace holds WorkDir while its clip is open: no other import
    // gets in, and frames another clip left there are never taken for its own.
    ImportProgress progress;
    const ImportOutcome other =
        import_video(settings_.ffmpeg_path, test::test_clip("30", "1", false), work_.path(),
                     progress);
    EXPECT_EQ(other.problem, ImportProblem::WorkDirInUse);
    EXPECT_EQ(count_frame_files(work_.path()), 60);
    ImportStamp foreign = read_import_stamp(work_.path()).value();
    foreign.clip = "/elsewhere/other.mp4";
    ASSERT_TRUE(write_import_stamp(work_.path(), foreign));
    const Result<RunJob> stale =
        prepare_video_export(workspace_, settings_, grid_, background, out_ / "x.flv");
    ASSERT_FALSE(stale);
    EXPECT_NE(stale.error().find("are no longer those of"), std::string::npos) << stale.error();
    EXPECT_TRUE(fs::exists(converted / "pic0001.jpg"));
}

TEST_F(VideoExport, NoAudioLeavesTheSoundOutButStillCutsIt) {
    workspace_.parameters().channels_index = 0;
    const fs::path output = out_ / "silent.flv";
    const RunOutcome outcome = run(prepare_video_export(workspace_, settings_, grid_, {}, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    EXPECT_EQ(probe(output, "stream=codec_type").find("audio"), std::string::npos);
    EXPECT_TRUE(fs::exists(converted_folder(work_.path()) / "sound.wav"));
}

TEST_F(VideoExport, WavLastsAsLongAsTheFramesOfTheRange) {
    workspace_.parameters().text(Field::StopFrame) = "50";
    const fs::path output = out_ / "range.wav";
    const RunOutcome outcome = run(prepare_wav_export(workspace_, settings_, {}, output));
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    EXPECT_NEAR(probed_number(probe(output, "format=duration"), "duration"), 2.0, 0.01);
    EXPECT_EQ(out_.names(), std::set<std::string>{"range.wav"});
}

TEST_F(VideoExport, JpegSequenceWritesItsFilesOnlyAndKeepsTheUsersOwn) {
    workspace_.parameters().text(Field::Count) = "0";
    std::ofstream(out_ / "shotgun.jpg") << "a user's picture";
    std::ofstream(out_ / "shot9999.jpg") << "an old sequence";
    const std::string prefix = jpeg_sequence_prefix((out_ / "shot.JPG").string());
    const RunOutcome outcome =
        run(prepare_sequence_export(workspace_, settings_, grid_, {}, prefix));
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
        prepare_sequence_export(workspace_, settings_, grid_, {}, (out_ / "s").string());
    ASSERT_TRUE(job) << job.error();
    EXPECT_EQ(job.value().start_frame, 1);
    EXPECT_EQ(job.value().stop_frame, 60);
    const OutputSteps& steps = job.value().settings.steps;
    EXPECT_EQ(steps.cut->x, 47);  // inside the turned 48 by 64 frame
    EXPECT_EQ(steps.cut->width, 1);  // the selection's last column is the frame's
    EXPECT_EQ(steps.resample->width, steps.cut->width);  // the cut's size, not exchanged
    EXPECT_EQ(steps.resample->height, steps.cut->height);
}

TEST_F(VideoExport, RefusalsAndFailuresAreReported) {
    workspace_.session().InputFps = 0;
    const Result<RunJob> refused =
        prepare_video_export(workspace_, settings_, grid_, {}, out_ / "x.flv");
    ASSERT_FALSE(refused);
    EXPECT_NE(refused.error().find("Undefined FPS value!"), std::string::npos);
    EXPECT_FALSE(fs::exists(converted_folder(work_.path())));

    workspace_.session().InputFps = 25;
    // A folder that is not there is refused before the run.
    const RunOutcome unwritable =
        run(prepare_video_export(workspace_, settings_, grid_, {}, out_ / "no folder" / "x.flv"));
    EXPECT_EQ(unwritable.state, ProcessingRun::State::Failed);
    EXPECT_NE(unwritable.failure.find("no folder"), std::string::npos) << unwritable.failure;

    settings_.ffmpeg_path = "/bin/false";
    const RunOutcome failing =
        run(prepare_video_export(workspace_, settings_, grid_, {}, out_ / "x.flv"));
    EXPECT_EQ(failing.state, ProcessingRun::State::Failed);
    EXPECT_NE(failing.failure.find("Extract sound"), std::string::npos) << failing.failure;
    EXPECT_NE(failing.failure.find("false ended with exit status 1."), std::string::npos)
        << failing.failure;
    EXPECT_TRUE(out_.names().empty());  // no temporary file left
}

}  // namespace
}  // namespace tintora
