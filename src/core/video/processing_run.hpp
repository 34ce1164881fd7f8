#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/encoder_report.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/light_track.hpp"
#include "core/video/video_formats.hpp"
#include "core/video/work_dir_lock.hpp"

namespace tintora {

// A command run after the frames (the video export's sound cut and encoding),
// logged under its title.
struct FinishingCommand {
    std::string title;
    Command command;
    // Where the command writes (its temporary name is in the command): put in
    // place when the command succeeded and wrote something, else removed,
    // the file of the target's name left as it was.
    std::shared_ptr<PendingFile> output;
    // The frames it encodes, reported on its standard output ("-progress
    // pipe:1") and shown as the encode stage; 0: it reports none.
    int encoded_frames = 0;
    // The pictures it reads. When that differs from encoded_frames the encoder
    // changes the rate itself, and its count is its own: a format of fixed
    // rate gives about encoded_frames, one of variable rate (FLV) keeps the
    // pictures; either within kRateChangeSlack.
    int sent_frames = 0;
};

// How far an encoder that changes the frame rate itself may end from the
// counts above.
inline constexpr int kRateChangeSlack = 3;

// An encoder that takes the run's frames raw on its standard input, in
// output order, while they are made: the range, again backwards with
// ping-pong, then the held end frames, that sequence (at the clip's rate)
// shown at the output rate: each output frame is the sequence's frame of its
// time, so frames are repeated or left out here, and the encoder encodes
// exactly the frames it is sent.
struct FrameStream {
    std::string title;  // logged before its command
    Command command;    // reads size.width by size.height BGR frames at output_fps
    EvenSize size;      // the top left part of each output frame it takes
    double input_fps = 25;   // the clip's exact rate
    double output_fps = 25;  // the video's
    // Where the command writes (its temporary name is in the command): put
    // in place when the encoder succeeded and wrote something, else removed.
    std::shared_ptr<PendingFile> output;
    // Further files the same command writes from the same frames (a second
    // format), each checked and put in place as the first.
    std::vector<std::shared_ptr<PendingFile>> more_outputs;
};

// How many frames a sequence of `sequence_frames` at input_fps gives at
// output_fps (at least one), and which of them (0-based) output frame
// `output_frame` shows: the one on screen at its time.
int resampled_frame_count(int sequence_frames, double input_fps, double output_fps);
int resampled_source(int output_frame, double input_fps, double output_fps);

// Everything a processing run needs, fixed when it starts.
struct RunJob {
    std::filesystem::path work_dir;  // the source frames pic0001.jpg … live here
    int start_frame = 1;             // the range, inclusive
    int stop_frame = 1;
    FrameSettings settings;
    CorrectionGrid grid;
    bool ping_pong = false;  // the range again backwards after it
    int static_frame = 1;    // source frame of the held end frames
    int end_count = 0;       // how many end frames follow
    // The k-th output is output_prefix + k (at least four digits) + ".jpg".
    std::string output_prefix;
    std::vector<FinishingCommand> finishing;
    // With a stream the frames go to its encoder instead of files under
    // output_prefix (and there are no finishing commands).
    std::optional<FrameStream> stream;
    // The first output frame as a JPEG beside the video (none: no poster),
    // put in place once the video is; with poster_even_size only its even
    // part, as the video shows it.
    std::shared_ptr<PendingFile> poster;
    bool poster_even_size = false;
    // How each output frame is presented before it is written or sent
    // (none: as it is); the hotspot export bakes it into its viewer's frame.
    std::function<Frame(const Frame&)> present;
    // Following the clip's light: every frame brought to the light of frame
    // light_reference before its correction (none: as it is).
    std::shared_ptr<const LightTrack> light;
    int light_reference = 0;
    // What is written once every output is in place (none: nothing); its
    // failure fails the run.
    std::function<Status()> after_outputs;
    // Held while the run uses WorkDir (none for a job that reads no frames).
    std::shared_ptr<const WorkDirLock> work_dir_lock;
    // The interface language of the failure messages.
    std::string language = "eng";

    // How many frame files the run writes: the range, again backwards with
    // ping-pong, then the held end frames.
    int output_count() const;
    // The gains of a source frame (neutral without light).
    LightGains light_gains(int source) const;
};

// The k-th output's name.
std::filesystem::path run_output_path(const std::string& output_prefix, int number);
// Where the processed end frame is kept: converted/end.jpg in WorkDir.
std::filesystem::path end_frame_path(const std::filesystem::path& work_dir);

// The two stages a run's progress shows: its frames, then their encoding.
enum class RunStage { Frames, Encoding };

// What a run reports. In the frames stage a line for the progress log, with
// progress k after the k-th frame of the range and -1 for lines that are not
// a frame. In the encoding stage no line, and progress frames encoded of
// `total` expected.
struct RunEvent {
    std::string log_line;
    int progress = -1;
    RunStage stage = RunStage::Frames;
    int total = 0;
};

// Runs a job on a pool of workers, one per core. Outputs are written under
// temporary names and renamed in output order, so the files on disk are
// always a gap-free prefix of what the run makes, byte for byte what a run
// one frame at a time makes. After the range come the end frames, then the
// finishing commands. Reports lines in source order to whoever polls it, and
// can be cancelled from any thread.
class ProcessingRun {
public:
    enum class State { Running, Finished, Failed, Cancelled };

    // workers 0: one per core.
    explicit ProcessingRun(RunJob job, int workers = 0);
    ~ProcessingRun();  // cancels what still runs and waits for it
    ProcessingRun(const ProcessingRun&) = delete;
    ProcessingRun& operator=(const ProcessingRun&) = delete;

    // The lines since the last call, in order; never blocks.
    std::vector<RunEvent> take_events();
    // Waits until there are lines or the run has ended, at most `timeout`.
    std::vector<RunEvent> wait_events(std::chrono::milliseconds timeout);
    void cancel();
    State state() const;
    // Why a failed run stopped: the file or command, and the encoder's reason.
    std::string failure() const;
    // Whether the finishing commands have begun (a cancel then stops an
    // encoding that the user waits for).
    bool finishing() const { return finishing_; }

private:
    void coordinate();
    std::vector<std::thread> start_workers();
    void work();
    // The k-th picture the workers make: its source frame number.
    int source_of(int k) const;
    // How many pictures the workers make: the range, and for a stream its
    // backward half and the end frame too.
    int picture_total() const;
    // The pictures a stream's workers make, in order: those its output frames show.
    int stream_picture(int index) const;
    Status write_poster(const Frame& frame);
    // The file outputs: the k-th frame written under its temporary names.
    Status write_outputs(int k, const Frame& frame);
    bool make_frame_files();
    void commit_ready();  // with mutex_ held
    bool finish_end_frames();
    bool run_finishing_commands();
    bool run_finishing_command(const FinishingCommand& step);
    // The streamed outputs: a worker waits until picture k is within reach
    // of the encoder, hands it over, and the coordinator sends the pictures
    // in order.
    bool wait_for_room(int k);
    void hand_to_stream(int k, Frame frame);
    bool take_streamed(int k, Frame& frame);
    bool stream_to_encoder();
    // Reads an encoder's "-progress pipe:1" report into encode-stage events.
    OutputReader encode_progress_reader(EncodeProgress& progress, int& reported, int total);
    // What a finished command leaves: a failure reported, or its output put
    // in place once it is whole (see accept_output).
    struct Expected {
        const EncodeProgress* progress = nullptr;  // none: the command reports no frames
        int frames = 0;
        int sent = 0;  // differs from frames where the encoder changes the rate
    };
    bool conclude_command(const std::string& title, const Command& command,
                          const CommandResult& result, const std::shared_ptr<PendingFile>& output,
                          const Expected& expected);
    // Why an output whose command exited with 0 is not whole: its report did
    // not end with the frames sent, its error output says writing failed, it
    // is empty, or its container is broken; empty when it is whole.
    std::string output_defect(const Command& command, const CommandResult& result,
                              const PendingFile& output, const Expected& expected) const;
    // A failure at frame k stops the run; the frames before it are still
    // put in place, as a run one frame at a time would have written them.
    void fail(std::string why, int frame = 0);
    void push(RunEvent event);  // with mutex_ held
    bool stopping() const { return cancelled_ || failed_; }
    // Whether the frame files are what the user keeps (a JPEG sequence), not
    // the material of an encoding.
    bool frames_are_final() const { return !job_.stream && job_.finishing.empty(); }
    int frame_total() const { return job_.stop_frame - job_.start_frame + 1; }
    std::filesystem::path output(int number) const;

    RunJob job_;
    int worker_count_;
    std::atomic<int> next_frame_{1};  // the next k a worker takes
    std::atomic<bool> cancelled_{false};
    std::atomic<bool> failed_{false};
    std::atomic<bool> finishing_{false};
    std::atomic<int> failed_frame_{0};  // 0: not a frame's failure

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<char> ready_;        // by k: written under its temporary name(s)
    int committed_ = 0;              // outputs 1..committed_ are in place
    std::vector<int> stream_pictures_;  // a stream's pictures, in the order they are sent
    std::map<int, Frame> streamed_;     // by index into stream_pictures_: made, not sent yet
    int sent_ = 0;                      // indices 1..sent_ went to the encoder
    std::atomic<bool> stream_ended_{false};
    std::vector<RunEvent> events_;
    std::string failure_;
    State state_ = State::Running;

    std::thread coordinator_;
};

// Drives a run to its end from the calling thread, handing every line to
// on_event as it comes; keep_running is asked between lines (false cancels).
struct RunOutcome {
    ProcessingRun::State state;
    std::string failure;
};
RunOutcome run_to_end(RunJob job, const std::function<void(const RunEvent&)>& on_event,
                      const std::function<bool()>& keep_running = {}, int workers = 0);

}  // namespace tintora
