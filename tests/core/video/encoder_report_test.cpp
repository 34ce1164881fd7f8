// What the encoder reports: the line of its error output that says why it
// failed, the whole failure for the user, and its progress.
#include "core/video/encoder_report.hpp"

#include <gtest/gtest.h>

#include <csignal>
#include <string>

namespace tintora {
namespace {

struct ReasonCase {
    const char* name;
    const char* error_output;
    const char* reason;
};

class FailureReason : public testing::TestWithParam<ReasonCase> {};

TEST_P(FailureReason, IsTheLastLineThatSaysWhy) {
    EXPECT_EQ(failure_reason(GetParam().error_output), GetParam().reason);
}

INSTANTIATE_TEST_SUITE_P(
    ErrorOutputs, FailureReason,
    testing::Values(
        ReasonCase{"FullDisk",
                   "Input #0, image2, from '/w/converted/pic%4d.jpg':\n"
                   "  Duration: 00:00:03.00, start: 0.000000, bitrate: N/A\n"
                   "Press [q] to stop, [?] for help\n"
                   "frame=   12 fps=0.0 q=2.0 size=     256kB time=00:00:00.44 bitrate=N/A\r"
                   "[flv @ 0x55d0c0e4] Failed to update header with correct duration.\n"
                   "Error writing trailer of /o/.out.a1b2c3.partial.flv: No space left on device\n"
                   "frame=   75 fps=0.0 q=2.0 Lsize=     900kB time=00:00:03.00 bitrate=N/A\n"
                   "video:880kB audio:24kB subtitle:0kB other streams:0kB global headers:0kB\n"
                   "Conversion failed!\n",
                   "Error writing trailer of /o/.out.a1b2c3.partial.flv: No space left on device"},
        ReasonCase{"ContextKept",
                   "[NULL @ 0x5612] Unable to find a suitable output format for '/o/x.foo'\n"
                   "/o/x.foo: Invalid argument\n",
                   "/o/x.foo: Invalid argument"},
        ReasonCase{"CodecStatisticsAndStopSignal",
                   "[aac @ 0x1] Too many bits per frame requested\n"
                   "[libx264 @ 0x2] frame I:1     Avg QP:20.00  size:  2011\n"
                   "[libx264 @ 0x2] kb/s:421.12\n"
                   "Exiting normally, received signal 15.\n",
                   "[aac @ 0x1] Too many bits per frame requested"},
        ReasonCase{"OnlyProgressAndDescription",
                   "ffmpeg version 5.1.6 Copyright (c) 2000-2024 the FFmpeg developers\n"
                   "  built with gcc 12\n"
                   "Stream mapping:\n"
                   "  Stream #0:0 -> #0:0 (mjpeg (native) -> flv1 (flv))\n"
                   "frame=    1 fps=0.0 q=0.0 size=       0kB time=00:00:00.00\r",
                   ""},
        ReasonCase{"OddSizeBeforeTheWrapUp",
                   "[libx264 @ 0x5] width not divisible by 2 (1919x1079)\n"
                   "Error initializing output stream 0:0 -- Error while opening encoder for "
                   "output stream #0:0 - maybe incorrect parameters such as bit_rate, rate, "
                   "width or height\n"
                   "Conversion failed!\n",
                   "[libx264 @ 0x5] width not divisible by 2 (1919x1079)"},
        ReasonCase{"SystemErrorBeforeLaterWarnings",
                   "Error writing trailer of /o/x.mp4: No space left on device\n"
                   "[aac @ 0x1] Qavg: 123\n"
                   "[mp4 @ 0x2] Starting second pass: moving the moov atom\n",
                   "Error writing trailer of /o/x.mp4: No space left on device"},
        ReasonCase{"Nothing", "", ""},
        ReasonCase{"NoLineEnd", "/c/clip.mp4: Permission denied",
                   "/c/clip.mp4: Permission denied"}),
    [](const testing::TestParamInfo<ReasonCase>& info) { return std::string(info.param.name); });

TEST(CommandFailure, SaysWhyHowItEndedAndTheCommandInTheLanguage) {
    const Command command{"/usr/bin/ffmpeg", {"-i", "/c/my clip.mp4"}, {}};
    CommandResult exited;
    exited.started = true;
    exited.exit_status = 1;
    exited.error_tail = "/c/my clip.mp4: No such file or directory\n";
    EXPECT_EQ(describe_command_failure(command, exited, "eng"),
              "/c/my clip.mp4: No such file or directory\n"
              "ffmpeg ended with exit status 1.\n"
              "Command: /usr/bin/ffmpeg -i '/c/my clip.mp4'");

    CommandResult killed;
    killed.started = true;
    killed.exit_status = 128 + SIGKILL;
    killed.signal = SIGKILL;
    killed.error_tail = "frame=  3 fps=0.0\r";
    EXPECT_EQ(describe_command_failure(command, killed, "rus"),
              "ffmpeg остановлен сигналом 9.\n"
              "Команда: /usr/bin/ffmpeg -i '/c/my clip.mp4'");

    CommandResult missing;
    missing.start_error = "Cannot run \"/usr/bin/ffmpeg\": No such file or directory";
    missing.start_error_number = ENOENT;
    EXPECT_EQ(describe_command_failure(command, missing, "rus"),
              "Невозможно запустить \"/usr/bin/ffmpeg\": No such file or directory\n"
              "Команда: /usr/bin/ffmpeg -i '/c/my clip.mp4'");
}

// A reason is quoted at a readable length, however long the line.
TEST(FailureReason, CutsALineOfJunk) {
    const std::string junk(4096, 'q');
    const std::string reason = failure_reason(junk + "\n");
    EXPECT_EQ(reason, std::string(kMaxQuotedLine, 'q') + "…");
    EXPECT_EQ(output_error_line("Error closing file " + junk), "Error closing file " +
                                                                    junk.substr(0, kMaxQuotedLine - 19) +
                                                                    "…");
    EXPECT_EQ(output_error_line("[mp3 @ 0x1] Error while decoding stream #1:0\n"), "");
}

TEST(EncodeProgress, FollowsTheFramesInPiecesOfAnySize) {
    const std::string report =
        "frame=12\nfps=24.0\nout_time_us=480000\nprogress=continue\n"
        "frame=75\r\nout_time_us=3000000\nprogress=end\n";
    for (const std::size_t piece : {std::size_t{1}, std::size_t{7}, report.size()}) {
        EncodeProgress progress;
        int highest = 0;
        for (std::size_t at = 0; at < report.size(); at += piece) {
            progress.read(std::string_view(report).substr(at, piece));
            EXPECT_GE(progress.frames(), highest);
            highest = progress.frames();
        }
        EXPECT_EQ(progress.frames(), 75) << piece;
        EXPECT_DOUBLE_EQ(progress.seconds(), 3.0);
        EXPECT_TRUE(progress.ended());
    }
    EncodeProgress garbled;
    garbled.read("frame=x\nframe=\nnothing\nout_time_us=N/A\n");
    EXPECT_EQ(garbled.frames(), 0);
    EXPECT_FALSE(garbled.ended());
    // A report that never ends its line is skipped, not kept: the next line counts.
    const std::string endless(1 << 16, '7');
    for (int i = 0; i < 64; ++i) garbled.read("frame=" + endless);
    garbled.read("\nframe=9\n");
    EXPECT_EQ(garbled.frames(), 9);
}

}  // namespace
}  // namespace tintora
