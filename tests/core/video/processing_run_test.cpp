// The processing run on frames in a working folder: output numbering with
// ping-pong and held end frames, the pool against one frame at a time,
// cancel, and failures that end the run with their reason.
#include "core/video/processing_run.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_import.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr int kFrames = 12;

class ProcessingRunTest : public testing::Test {
protected:
    void SetUp() override {
        std::mt19937 random(5);
        for (int n = 1; n <= kFrames; ++n) {
            // Each frame its own colour, so a wrong source shows.
            ASSERT_TRUE(save_jpeg(test::uniform_frame(40, 30, static_cast<std::uint8_t>(20 * n),
                                                      100, static_cast<std::uint8_t>(250 - 20 * n)),
                                  frame_file_path(work_.path(), n)));
        }
        grid_ = test::random_grid(random);
    }

    RunJob job(int start, int stop) const {
        RunJob j;
        j.work_dir = work_.path();
        j.start_frame = start;
        j.stop_frame = stop;
        j.settings.rotation_angle = 90;
        j.settings.steps.cut = OutputSteps::Rect{2, 3, 20, 30};
        j.settings.steps.resample = OutputSteps::Size{16, 24};
        j.settings.steps.mirror_columns = true;
        j.settings.steps.color_transformation = kInverse;
        j.grid = grid_;
        j.output_prefix = (out_ / "shot").string();
        return j;
    }

    // What one frame at a time writes for source frame n.
    std::vector<std::uint8_t> expected_bytes(const RunJob& j, int n) const {
        return process_frame_file(frame_file_path(work_.path(), n), j.settings, j.grid).value();
    }

    std::vector<std::uint8_t> output_bytes(int k) const {
        return read_file_bytes(run_output_path((out_ / "shot").string(), k)).value();
    }

    test::TemporaryFolder work_;
    test::TemporaryFolder out_;
    CorrectionGrid grid_;
};

struct NumberingCase {
    const char* name;
    int start, stop;
    bool ping_pong;
    int static_frame, count;
    std::vector<int> sources;  // the source frame of outputs 1, 2, …
};

class RunNumbering : public ProcessingRunTest, public testing::WithParamInterface<NumberingCase> {};

TEST_P(RunNumbering, OutputsFollowTheRangeThePingPongAndTheEndFrames) {
    const NumberingCase& c = GetParam();
    RunJob j = job(c.start, c.stop);
    j.ping_pong = c.ping_pong;
    j.static_frame = c.static_frame;
    j.end_count = c.count;
    std::vector<RunEvent> events;
    const RunOutcome outcome = run_to_end(
        j, [&events](const RunEvent& e) { events.push_back(e); }, {}, 3);
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;

    std::set<std::string> names;
    for (std::size_t k = 1; k <= c.sources.size(); ++k) {
        EXPECT_EQ(output_bytes(static_cast<int>(k)), expected_bytes(j, c.sources[k - 1]))
            << "output " << k;
        names.insert(run_output_path("shot", static_cast<int>(k)).string());
    }
    EXPECT_EQ(out_.names(), names);  // nothing more, no temporary left
    EXPECT_EQ(fs::exists(end_frame_path(work_.path())), c.count > 0);

    // One line per frame of the range, in source order, progress k after the k-th.
    ASSERT_EQ(events.size(), static_cast<std::size_t>(c.stop - c.start + 1));
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].log_line,
                  frame_file_path(work_.path(), c.start + static_cast<int>(i)).string());
        EXPECT_EQ(events[i].progress, static_cast<int>(i) + 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RunNumbering,
    testing::Values(
        NumberingCase{"PingPong1to3", 1, 3, true, 1, 0, {1, 2, 3, 3, 2, 1}},
        NumberingCase{"PingPong5to7Count2", 5, 7, true, 6, 2, {5, 6, 7, 7, 6, 5, 6, 6}},
        NumberingCase{"Count2StaticFrame1", 10, 12, false, 1, 2, {10, 11, 12, 1, 1}},
        NumberingCase{"Plain1to3", 1, 3, false, 1, 0, {1, 2, 3}},
        NumberingCase{
            "WholeClipOnAPool", 1, kFrames, false, 1, 0, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}}),
    [](const testing::TestParamInfo<NumberingCase>& info) { return info.param.name; });

TEST_F(ProcessingRunTest, CancelKeepsAGapFreePrefixAndRunsNoCommand) {
    RunJob j = job(1, kFrames);
    const fs::path touched = out_ / "encoded";
    j.finishing.push_back({"Save FLV file", {"touch", {touched.string()}, {}}, nullptr});
    int seen = 0;
    const RunOutcome outcome = run_to_end(
        j, [&seen](const RunEvent& e) { seen += e.progress > 0; }, [&seen] { return seen < 2; }, 2);
    EXPECT_EQ(outcome.state, ProcessingRun::State::Cancelled);
    const std::set<std::string> names = out_.names();
    ASSERT_GE(names.size(), 2u);
    for (int k = 1; k <= static_cast<int>(names.size()); ++k) {
        EXPECT_TRUE(names.count(run_output_path("shot", k).string())) << "gap at " << k;
    }
    EXPECT_FALSE(fs::exists(touched));
}

TEST_F(ProcessingRunTest, FailuresEndTheRunWithTheirReason) {
    // A source frame that is not there.
    RunOutcome outcome = run_to_end(job(kFrames - 1, kFrames + 1), {});
    EXPECT_EQ(outcome.state, ProcessingRun::State::Failed);
    EXPECT_NE(outcome.failure.find(frame_file_path(work_.path(), kFrames + 1).string()),
              std::string::npos)
        << outcome.failure;
    EXPECT_TRUE(
        fs::exists(run_output_path((out_ / "shot").string(), 2)));  // the frames before stay

    // A destination that cannot be written.
    RunJob j = job(1, 2);
    j.output_prefix = (out_ / "missing folder" / "shot").string();
    outcome = run_to_end(j, {});
    EXPECT_EQ(outcome.state, ProcessingRun::State::Failed);
    EXPECT_NE(outcome.failure.find("missing folder"), std::string::npos) << outcome.failure;

    // An encoder that fails: its command, last words and exit status.
    j = job(1, 1);
    j.finishing.push_back({"Save FLV file",
                           {"sh", {"-c", "echo first >&2; echo 'no such codec' >&2; exit 3"}, {}},
                           nullptr});
    outcome = run_to_end(j, {});
    EXPECT_EQ(outcome.state, ProcessingRun::State::Failed);
    EXPECT_NE(outcome.failure.find("no such codec\nsh ended with exit status 3."),
              std::string::npos)
        << outcome.failure;
    // In the interface language, the encoder's words as they stand.
    j.language = "rus";
    outcome = run_to_end(j, {});
    EXPECT_NE(outcome.failure.find("no such codec\nsh завершился с кодом 3.\nКоманда: sh -c"),
              std::string::npos)
        << outcome.failure;
}

// The encoding reports its frames as a second stage, and its file is put in
// place only once it has ended well.
TEST_F(ProcessingRunTest, TheEncodingShowsItsFramesAndPutsItsFileInPlace) {
    RunJob j = job(1, 2);
    // A name whose container is not checked: the script writes no real video.
    const fs::path output = out_ / "video.bin";
    auto pending = std::make_shared<PendingFile>(PendingFile::create(output).value());
    j.finishing.push_back(
        {"Save FLV file",
         {"sh",
          {"-c",
           "printf 'frame=1\\nfps=0\\nprogress=continue\\nframe=4\\nprogress=end\\n'; "
           "printf encoded > \"$1\"",
           "sh", pending->temporary().string()},
          {}},
         pending,
         4});
    pending.reset();
    std::vector<RunEvent> encoding;
    const RunOutcome outcome = run_to_end(j, [&encoding](const RunEvent& e) {
        if (e.stage == RunStage::Encoding) encoding.push_back(e);
    });
    ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;
    ASSERT_FALSE(encoding.empty());
    EXPECT_EQ(encoding.back().progress, 4);
    EXPECT_EQ(encoding.back().total, 4);
    EXPECT_TRUE(encoding.back().log_line.empty());
    EXPECT_EQ(read_file_bytes(output).value(),
              (std::vector<std::uint8_t>{'e', 'n', 'c', 'o', 'd', 'e', 'd'}));
    EXPECT_EQ(out_.names(), (std::set<std::string>{"shot0001.jpg", "shot0002.jpg", "video.bin"}));
}

// A stream that hands its encoder `script` (run by sh with the encoder's
// output as $1), and writes the video and its poster beside it.
RunJob stream_job(RunJob j, const fs::path& video, const std::string& script,
                  const std::string& program = "sh") {
    auto output = std::make_shared<PendingFile>(PendingFile::create(video).value());
    FrameStream stream;
    stream.title = "Save MP4 file";
    stream.command = {program, {"-c", script, "sh", output->temporary().string()}, {}};
    stream.output = output;
    const OutputSteps::Size size = *j.settings.steps.resample;
    stream.size = even_frame_size(size.width, size.height);
    j.stream = stream;
    fs::path poster = video;
    j.poster = std::make_shared<PendingFile>(
        PendingFile::create(poster.replace_extension(".jpg")).value());
    j.poster_even_size = true;
    return j;
}

// The encoder reads the outputs raw, in output order (the range, backwards,
// the end frame as often as it is held), each the even part of the processed
// frame, and the poster shows the first of them. Rows of 16 pixels need no
// padding and go as the frame holds them; rows of 15 lose a pixel and are packed.
TEST_F(ProcessingRunTest, AStreamSendsTheOutputsInOrderAndThePosterShowsTheFirst) {
    for (const OutputSteps::Size size : {OutputSteps::Size{15, 23}, OutputSteps::Size{16, 24}}) {
        SCOPED_TRACE(size.width);
        const EvenSize even = even_frame_size(size.width, size.height);
        RunJob j = job(5, 7);
        j.settings.steps.resample = size;
        j.ping_pong = true;
        j.static_frame = 2;
        j.end_count = 2;
        const FrameSettings settings = j.settings;
        // The run holds the only references to its pending files.
        std::vector<std::string> lines;
        const RunOutcome outcome = run_to_end(
            stream_job(j, out_ / "video.raw",
                       "cat > \"$1\"; printf 'frame=8\\nprogress=end\\n'"),
            [&lines](const RunEvent& e) { lines.push_back(e.log_line); }, {}, 3);
        ASSERT_EQ(outcome.state, ProcessingRun::State::Finished) << outcome.failure;

        std::string expected;
        for (const int source : {5, 6, 7, 7, 6, 5, 2, 2}) {
            const Frame frame =
                process_frame_from_file(frame_file_path(work_.path(), source), settings, grid_)
                    .value();
            std::vector<std::uint8_t> packed;
            const std::string_view raw = raw_frame_bytes(frame, even, packed);
            ASSERT_EQ(raw.size(), 3u * even.width * even.height);
            if (expected.empty()) {
                Frame first;
                cut_frame(frame, 0, 0, even.width, even.height, first);
                EXPECT_EQ(read_file_bytes(out_ / "video.jpg").value(), encode_jpeg(first).value());
            }
            expected += raw;
        }
        const std::vector<std::uint8_t> sent = read_file_bytes(out_ / "video.raw").value();
        EXPECT_EQ(std::string(sent.begin(), sent.end()), expected);
        EXPECT_EQ(out_.names(), (std::set<std::string>{"video.raw", "video.jpg"}));
        EXPECT_FALSE(fs::exists(end_frame_path(work_.path())));
        // The range's frames in the log, in order, after the title and the command.
        std::vector<std::string> frames;
        for (const std::string& line : lines) {
            if (line.find(work_.path().string() + "/pic") == 0) frames.push_back(line);
        }
        EXPECT_EQ(frames, (std::vector<std::string>{frame_file_path(work_.path(), 5).string(),
                                                    frame_file_path(work_.path(), 6).string(),
                                                    frame_file_path(work_.path(), 7).string()}));
    }
}

struct BrokenEncoder {
    const char* name;
    const char* program;
    const char* script;
    bool cancel;  // the test cancels once the encoder has started
    ProcessingRun::State state;
    const char* said;
};

// The text with "@FRAMES@" standing for the frames the run sends.
std::string with_frame_count(std::string text) {
    if (const std::size_t at = text.find("@FRAMES@"); at != std::string::npos) {
        text.replace(at, 8, std::to_string(kFrames));
    }
    return text;
}

class StreamEncoderFailure : public ProcessingRunTest,
                             public testing::WithParamInterface<BrokenEncoder> {};

// Frames larger than the pipe holds, so the encoder's end meets the writing.
// Nothing is left behind, and a broken pipe is a report, never a crash.
TEST_P(StreamEncoderFailure, EndsTheRunAndLeavesNothing) {
    const BrokenEncoder& c = GetParam();
    RunJob j = job(1, kFrames);
    const std::string script = with_frame_count(c.script);
    j.settings.steps.resample = OutputSteps::Size{640, 480};
    const auto start = std::chrono::steady_clock::now();
    const RunOutcome outcome = run_to_end(
        stream_job(j, out_ / "video.mp4", script, c.program), {},
        [&] {
            return !c.cancel ||
                   std::chrono::steady_clock::now() - start < std::chrono::milliseconds(300);
        },
        2);
    EXPECT_EQ(outcome.state, c.state);
    EXPECT_NE(outcome.failure.find(with_frame_count(c.said)), std::string::npos)
        << outcome.failure;
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(out_.names().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, StreamEncoderFailure,
    testing::Values(
        BrokenEncoder{"DiesMidStream", "sh",
                      "head -c 100000 > /dev/null; echo 'Error writing trailer: No space left on "
                      "device' >&2; exit 1",
                      false, ProcessingRun::State::Failed,
                      "Save MP4 file\nError writing trailer: No space left on device\nsh ended "
                      "with exit status 1."},
        BrokenEncoder{"StopsReadingEarly", "sh", "head -c 100000 > /dev/null; echo x > \"$1\"",
                      false, ProcessingRun::State::Failed, "sh stopped reading the frames after "},
        BrokenEncoder{"CannotStart", "/no/such/ffmpeg", "", false, ProcessingRun::State::Failed,
                      "Can't start \"/no/such/ffmpeg\""},
        BrokenEncoder{"NeverReadsAndIsCancelled", "sh", "exec sleep 30", true,
                      ProcessingRun::State::Cancelled, ""},
        // Encoders that exit with 0 and still leave no video worth keeping.
        BrokenEncoder{"SaysTheDiskIsFullAndExitsZero", "sh",
                      "cat > /dev/null; head -c 3000 /dev/urandom > \"$1\"; "
                      "printf 'frame=@FRAMES@\\nprogress=end\\n'; "
                      "echo 'Error writing trailer of x.mp4: No space left on device' >&2",
                      false, ProcessingRun::State::Failed,
                      "sh could not finish its file: Error writing trailer of x.mp4: No space "
                      "left on device"},
        BrokenEncoder{"ReportsNoFramesEncoded", "sh",
                      "cat > /dev/null; head -c 3000 /dev/urandom > \"$1\"; "
                      "printf 'frame=0\\nprogress=end\\n'",
                      false, ProcessingRun::State::Failed, "sh reported 0 of @FRAMES@ frames"},
        BrokenEncoder{"WritesNoMp4", "sh",
                      "cat > /dev/null; head -c 3000 /dev/urandom > \"$1\"; "
                      "printf 'frame=@FRAMES@\\nprogress=end\\n'",
                      false, ProcessingRun::State::Failed, "but the file is not whole"}),
    [](const testing::TestParamInfo<BrokenEncoder>& info) { return info.param.name; });

}  // namespace
}  // namespace tintora
