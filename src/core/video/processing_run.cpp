#include "core/video/processing_run.hpp"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <system_error>

#include "core/common/file_io.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/container_check.hpp"
#include "core/video/encoder_report.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

// Where an output is written before it is renamed into place: hidden, in
// the same folder (so the rename is atomic), and never matching the names
// the exports delete.
fs::path temporary_path(const fs::path& target) { return partial_path(target); }

Status write_bytes(const fs::path& target, const std::vector<std::uint8_t>& bytes,
                   Sync sync = Sync::No) {
    return write_file(
        target, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), sync);
}

Status rename_into_place(const fs::path& target) {
    std::error_code error;
    fs::rename(temporary_path(target), target, error);
    if (error) return file_error(target, "Cannot write", error.value());
    return {};
}

void remove_quietly(const fs::path& path) {
    std::error_code ignored;
    fs::remove(path, ignored);
}

// What ready_ holds for the k-th output: not made yet, written under its
// temporary name(s), or also on the disk where that matters, so that it may
// be named.
constexpr char kWritten = 1;
constexpr char kNameable = 2;

// How often the frames of a sequence the user keeps are flushed to the disk
// and named: each flush is a request to the disk and a wait, so one for the
// frames of a tenth of a second costs far less than one per frame.
constexpr std::chrono::milliseconds kFlushInterval{100};

// Flushes the file at `path`, or with `whole_file_system` everything written
// to the file system that holds it.
Status flush_to_disk(const fs::path& path, bool whole_file_system) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return file_error(path, "Cannot open", errno);
    const bool flushed = (whole_file_system ? ::syncfs(fd) : ::fsync(fd)) == 0;
    const int error_number = errno;
    ::close(fd);
    if (!flushed) return file_error(path, "Cannot write", error_number);
    return {};
}

// Whether one flush of the file system that holds `folder` puts the data of
// every file in it on the disk, as each file's own flush would: so on the
// usual local file systems. Through FUSE or on a network share only a file's
// own flush is sure to reach the far end.
bool flushes_as_a_whole(const fs::path& folder) {
    struct statfs status {};
    if (::statfs(folder.empty() ? "." : folder.c_str(), &status) != 0) return false;
    switch (status.f_type) {
        case EXT4_SUPER_MAGIC:  // ext2 and ext3 too
        case XFS_SUPER_MAGIC:
        case BTRFS_SUPER_MAGIC:
        case F2FS_SUPER_MAGIC:
        case TMPFS_MAGIC:
            return true;
        default:
            return false;
    }
}

// How many pictures a stream's workers may make ahead of the encoder: enough
// to keep every worker busy while the encoder takes one, few enough that
// large frames do not fill the memory.
int stream_window(int workers) { return 2 * workers + 2; }

}  // namespace

fs::path run_output_path(const std::string& output_prefix, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return fs::path(output_prefix + digits + ".jpg");
}

fs::path end_frame_path(const fs::path& work_dir) { return work_dir / "converted" / "end.jpg"; }

int resampled_frame_count(int sequence_frames, double input_fps, double output_fps) {
    if (input_fps == output_fps || !(input_fps > 0) || !(output_fps > 0)) return sequence_frames;
    const double frames = std::round(sequence_frames * output_fps / input_fps);
    return static_cast<int>(std::clamp(frames, 1.0, double{INT32_MAX}));
}

int resampled_source(int output_frame, double input_fps, double output_fps) {
    if (input_fps == output_fps || !(input_fps > 0) || !(output_fps > 0)) return output_frame;
    // A frame whose time falls on a boundary by the rates' arithmetic is shown
    // from there on, not a rounding error earlier.
    constexpr double kBoundarySlack = 1e-6;
    return static_cast<int>(std::floor(output_frame * input_fps / output_fps + kBoundarySlack));
}

int RunJob::output_count() const {
    const int range = std::max(stop_frame - start_frame + 1, 0);
    return (ping_pong ? 2 * range : range) + std::max(end_count, 0);
}

LightGains RunJob::light_gains(int source) const {
    return light ? light->gains(source, light_reference) : LightGains{};
}

ProcessingRun::ProcessingRun(RunJob job, int workers)
    : job_(std::move(job)),
      worker_count_(workers > 0
                        ? workers
                        : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))),
      ready_(static_cast<std::size_t>(std::max(frame_total(), 0)) + 2, 0) {
    if (job_.stream) {
        const int frames =
            resampled_frame_count(job_.output_count(), job_.stream->input_fps, job_.stream->output_fps);
        for (int j = 0; j < frames; ++j) {
            const int k = stream_picture(j);
            if (stream_pictures_.empty() || stream_pictures_.back() != k) stream_pictures_.push_back(k);
        }
    }
    coordinator_ = std::thread([this] { coordinate(); });
}

int ProcessingRun::stream_picture(int output_frame) const {
    const int sequence = job_.output_count();
    const int position = std::clamp(
        resampled_source(output_frame, job_.stream->input_fps, job_.stream->output_fps), 0,
        std::max(sequence - 1, 0));
    // The range and its way back are pictures of their own; every held end
    // frame is the one last picture.
    const int moving = sequence - std::max(job_.end_count, 0);
    return position < moving ? position + 1 : picture_total();
}

ProcessingRun::~ProcessingRun() {
    cancel();
    if (coordinator_.joinable()) coordinator_.join();
}

fs::path ProcessingRun::output(int number) const {
    return run_output_path(job_.output_prefix, number);
}

void ProcessingRun::cancel() {
    cancelled_ = true;
    changed_.notify_all();
}

ProcessingRun::State ProcessingRun::state() const {
    const std::lock_guard lock(mutex_);
    return state_;
}

std::string ProcessingRun::failure() const {
    const std::lock_guard lock(mutex_);
    return failure_;
}

std::vector<RunEvent> ProcessingRun::take_events() {
    const std::lock_guard lock(mutex_);
    return std::exchange(events_, {});
}

std::vector<RunEvent> ProcessingRun::wait_events(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, timeout,
                      [this] { return !events_.empty() || state_ != State::Running; });
    return std::exchange(events_, {});
}

void ProcessingRun::push(RunEvent event) {
    events_.push_back(std::move(event));
    changed_.notify_all();
}

void ProcessingRun::fail(std::string why, int frame) {
    const std::lock_guard lock(mutex_);
    if (!failed_ && !cancelled_) {
        failure_ = std::move(why);
        failed_frame_ = frame;
        failed_ = true;
    }
    changed_.notify_all();
}

void ProcessingRun::coordinate() {
    bool done = job_.stream ? stream_to_encoder()
                            : make_frame_files() && finish_end_frames() && run_finishing_commands();
    // The poster goes beside the video only once the video is in place.
    if (done && job_.poster) {
        if (Status placed = job_.poster->commit(); !placed) {
            fail(placed.error());
            done = false;
        }
    }
    if (done && job_.after_outputs) {
        if (Status written = job_.after_outputs(); !written) {
            fail(written.error());
            done = false;
        }
    }
    const std::lock_guard lock(mutex_);
    state_ = done ? State::Finished : cancelled_ ? State::Cancelled : State::Failed;
    if (state_ == State::Failed && failure_.empty()) failure_ = "The processing stopped.";
    changed_.notify_all();
}

std::vector<std::thread> ProcessingRun::start_workers() {
    std::vector<std::thread> workers;
    const int count = std::min(worker_count_, job_.stream ? static_cast<int>(stream_pictures_.size())
                                                          : picture_total());
    for (int i = 0; i < count; ++i) workers.emplace_back([this] { work(); });
    return workers;
}

int ProcessingRun::picture_total() const {
    const int range = std::max(frame_total(), 0);
    if (!job_.stream) return range;
    return (job_.ping_pong ? 2 * range : range) + (job_.end_count > 0 ? 1 : 0);
}

int ProcessingRun::source_of(int k) const {
    const int range = frame_total();
    if (k <= range) return job_.start_frame + k - 1;
    // A stream's backward half (outputs N + 1 to 2N hold frames N to 1),
    // then the held end frame.
    if (job_.ping_pong && k <= 2 * range) return job_.start_frame + 2 * range - k;
    return job_.static_frame;
}

bool ProcessingRun::make_frame_files() {
    const int total = frame_total();
    std::vector<std::thread> workers = start_workers();
    // A sequence the user keeps reaches the disk before its names do: this
    // thread flushes what the workers have written, every kFlushInterval,
    // and names it, so no worker waits for the disk. Whatever was written
    // when the workers stopped is flushed and named after them (after a
    // failure, the frames before it).
    const bool as_a_whole = flushes_as_a_whole(output(1).parent_path());
    const auto flush = [this, total, as_a_whole](int first, int last) {
        if (as_a_whole) return flush_to_disk(temporary_path(output(first)), true);
        Status flushed;
        for (int k = first; flushed && k <= last; ++k) {
            flushed = flush_to_disk(temporary_path(output(k)), false);
            if (flushed && job_.ping_pong) {
                flushed = flush_to_disk(temporary_path(output(2 * total - k + 1)), false);
            }
        }
        return flushed;
    };
    const auto flush_and_name = [this, total, &flush](bool workers_done) {
        int first = 0;
        int last = 0;
        {
            std::unique_lock lock(mutex_);
            const auto written_through = [this, total] {
                int k = committed_;
                while (k < total && ready_[static_cast<std::size_t>(k + 1)] == kWritten) ++k;
                return k;
            };
            if (!workers_done) {
                changed_.wait_for(lock, kFlushInterval,
                                  [&] { return stopping() || written_through() == total; });
            }
            first = committed_ + 1;
            last = written_through();
        }
        if (last >= first) {
            if (const Status flushed = flush(first, last); !flushed) {
                fail(flushed.error(), first);
                return false;
            }
            // One at a time, so the workers never wait for a whole batch's renames.
            for (int k = first; k <= last; ++k) {
                const std::lock_guard lock(mutex_);
                ready_[static_cast<std::size_t>(k)] = kNameable;
                commit_ready();
            }
        }
        const std::lock_guard lock(mutex_);
        return !stopping() && committed_ < total;
    };
    const bool flushed_first = frames_are_final() && total > 0;
    if (flushed_first) {
        while (flush_and_name(false)) {
        }
    }
    for (std::thread& worker : workers) worker.join();
    if (flushed_first) flush_and_name(true);
    // Outputs that were made but not put in place when the run stopped.
    for (int k = committed_ + 1; k <= total; ++k) {
        remove_quietly(temporary_path(output(k)));
        remove_quietly(temporary_path(output(2 * total - k + 1)));
    }
    // The names of a sequence the user keeps are on the disk, not only the data.
    if (committed_ > 0 && frames_are_final()) {
        if (Status synced = sync_folder(output(1).parent_path()); !synced) fail(synced.error());
    }
    return !stopping() && committed_ == std::max(total, 0);
}

void ProcessingRun::work() {
    const int total =
        job_.stream ? static_cast<int>(stream_pictures_.size()) : picture_total();
    // A frame taken is finished even when another fails meanwhile: it may
    // come before the failed one and belong in place.
    while (!stopping()) {
        // A stream's pictures are counted by their place in the order sent.
        const int index = next_frame_++;
        if (index > total) return;
        const int k = job_.stream ? stream_pictures_[static_cast<std::size_t>(index - 1)] : index;
        if (job_.stream && !wait_for_room(index)) return;
        const int source = source_of(k);
        Result<Frame> frame =
            process_frame_from_file(frame_file_path(job_.work_dir, source), job_.settings,
                                    job_.grid, job_.light_gains(source));
        if (!frame) return fail(frame.error(), k);
        if (job_.present) frame = job_.present(frame.value());
        if (k == 1 && job_.poster) {
            if (Status written = write_poster(frame.value()); !written) {
                return fail(written.error(), k);
            }
        }
        if (job_.stream) {
            hand_to_stream(index, std::move(frame).value());
        } else if (Status written = write_outputs(k, frame.value()); !written) {
            return fail(written.error(), k);
        }
    }
}

Status ProcessingRun::write_poster(const Frame& frame) {
    Frame even;
    if (job_.poster_even_size) {
        const EvenSize size = even_frame_size(frame.width(), frame.height());
        cut_frame(frame, 0, 0, size.width, size.height, even);
    }
    const Result<std::vector<std::uint8_t>> bytes =
        encode_jpeg(job_.poster_even_size ? even : frame, kJpegQuality);
    if (!bytes) return Error{bytes.error()};
    return job_.poster->write(std::string_view(reinterpret_cast<const char*>(bytes.value().data()),
                                               bytes.value().size()));
}

Status ProcessingRun::write_outputs(int k, const Frame& frame) {
    const Result<std::vector<std::uint8_t>> bytes = encode_jpeg(frame, kJpegQuality);
    if (!bytes) return Error{bytes.error()};
    if (Status written = write_bytes(temporary_path(output(k)), bytes.value()); !written) {
        return written;
    }
    // With ping-pong the same picture also stands at 2N - k + 1.
    if (job_.ping_pong) {
        const fs::path copy = temporary_path(output(2 * frame_total() - k + 1));
        if (Status written = write_bytes(copy, bytes.value()); !written) return written;
    }
    const std::lock_guard lock(mutex_);
    // A sequence the user keeps is flushed to the disk before it is named
    // (see make_frame_files); the material of an encoding is named at once.
    if (frames_are_final()) {
        ready_[static_cast<std::size_t>(k)] = kWritten;
        changed_.notify_all();
        return {};
    }
    ready_[static_cast<std::size_t>(k)] = kNameable;
    commit_ready();
    return {};
}

void ProcessingRun::commit_ready() {
    const int total = frame_total();
    while (!cancelled_ && committed_ < total &&
           ready_[static_cast<std::size_t>(committed_ + 1)] == kNameable) {
        const int k = committed_ + 1;
        if (failed_ && (failed_frame_ == 0 || k >= failed_frame_)) return;
        Status placed = rename_into_place(output(k));
        if (placed && job_.ping_pong) placed = rename_into_place(output(2 * total - k + 1));
        if (!placed) {
            // fail() takes the lock; this is the one place that holds it already.
            if (!failed_) {
                failure_ = placed.error();
                failed_frame_ = k;
                failed_ = true;
            }
            return;
        }
        committed_ = k;
        push({frame_file_path(job_.work_dir, job_.start_frame + k - 1).string(), k});
    }
}

bool ProcessingRun::finish_end_frames() {
    if (job_.end_count <= 0) return true;
    const fs::path end_frame = end_frame_path(job_.work_dir);
    std::error_code error;
    fs::create_directories(end_frame.parent_path(), error);
    if (error) {
        fail(
            file_error(end_frame.parent_path(), "Cannot create the folder", error.value()).message);
        return false;
    }
    const Result<std::vector<std::uint8_t>> bytes =
        process_frame_file(frame_file_path(job_.work_dir, job_.static_frame), job_.settings,
                           job_.grid, job_.light_gains(job_.static_frame));
    if (!bytes) {
        fail(bytes.error());
        return false;
    }
    Status written = write_bytes(temporary_path(end_frame), bytes.value());
    if (written) written = rename_into_place(end_frame);
    // The held frames follow the last output written: N + 1 on, or 2N + 1 on.
    const int last = job_.ping_pong ? 2 * frame_total() : frame_total();
    const Sync sync = frames_are_final() ? Sync::Yes : Sync::No;
    for (int i = 1; written && i <= job_.end_count && !stopping(); ++i) {
        const fs::path target = output(last + i);
        written = write_bytes(temporary_path(target), bytes.value(), sync);
        if (written) written = rename_into_place(target);
    }
    if (written && sync == Sync::Yes) written = sync_folder(output(last).parent_path());
    if (!written) fail(written.error());
    return !stopping();
}

bool ProcessingRun::run_finishing_commands() {
    for (const FinishingCommand& step : job_.finishing) {
        if (stopping() || !run_finishing_command(step)) return false;
    }
    return true;
}

OutputReader ProcessingRun::encode_progress_reader(EncodeProgress& progress, int& reported,
                                                   int total) {
    return [this, &progress, &reported, total](std::string_view text) {
        progress.read(text);
        if (progress.frames() == reported) return;
        reported = progress.frames();
        const std::lock_guard lock(mutex_);
        push({{}, reported, RunStage::Encoding, total});
    };
}

bool ProcessingRun::run_finishing_command(const FinishingCommand& step) {
    {
        const std::lock_guard lock(mutex_);
        push({step.title, -1});
        push({command_text(step.command), -1});
    }
    finishing_ = true;
    EncodeProgress progress;
    int reported = -1;
    const bool reports = step.encoded_frames > 0;
    const CommandResult result = run_command(
        step.command, [this] { return !cancelled_.load(); },
        reports ? encode_progress_reader(progress, reported, step.encoded_frames) : OutputReader());
    return conclude_command(
        step.title, step.command, result, step.output,
        {reports ? &progress : nullptr, step.encoded_frames, step.sent_frames});
}

std::string ProcessingRun::output_defect(const Command& command, const CommandResult& result,
                                         const PendingFile& output,
                                         const Expected& expected) const {
    using namespace message_texts;
    const std::string program = command.program.filename().string();
    const std::string_view language = job_.language;
    if (!output.has_content()) {
        return fill_in(message_text(kNothingWritten, language),
                       {program, output.target().string()});
    }
    if (expected.progress != nullptr) {
        const int encoded = expected.progress->frames();
        const auto near = [encoded](int count) {
            return std::abs(encoded - count) <= kRateChangeSlack;
        };
        const bool counted = expected.sent == expected.frames
                                 ? encoded == expected.frames
                                 : near(expected.frames) || near(expected.sent);
        if (!expected.progress->ended() || !counted) {
            return fill_in(message_text(kEncodedTooFew, language),
                           {program, std::to_string(encoded), std::to_string(expected.frames)});
        }
    }
    // The encoder may say that writing failed and still exit with 0.
    if (const std::string line = output_error_line(result.error_tail); !line.empty()) {
        return fill_in(message_text(kEncoderWriteFailed, language), {program, line});
    }
    if (const std::optional<std::string> defect =
            container_defect(output.temporary(), container_kind_of(output.target()))) {
        return fill_in(message_text(kOutputNotWhole, language),
                       {program, output.target().string(), *defect});
    }
    return {};
}

bool ProcessingRun::conclude_command(const std::string& title, const Command& command,
                                     const CommandResult& result,
                                     const std::shared_ptr<PendingFile>& output,
                                     const Expected& expected) {
    if (result.cancelled) return false;
    if (!result.succeeded()) {
        fail(title + "\n" + describe_command_failure(command, result, job_.language));
        return false;
    }
    if (!output) return true;
    // An exit status of 0 alone does not make a whole file.
    if (const std::string defect = output_defect(command, result, *output, expected);
        !defect.empty()) {
        fail(title + "\n" + defect + "\n" +
             fill_in(message_text(message_texts::kCommandLine, job_.language),
                     {command_text(command)}));
        return false;
    }
    if (Status placed = output->commit(); !placed) {
        fail(title + "\n" + placed.error());
        return false;
    }
    return true;
}

bool ProcessingRun::wait_for_room(int k) {
    const int window = stream_window(worker_count_);
    std::unique_lock lock(mutex_);
    // Timed waits: a cancel sets its flag without taking the lock.
    while (!stopping() && !stream_ended_ && k > sent_ + window) {
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return !stopping() && !stream_ended_;
}

void ProcessingRun::hand_to_stream(int k, Frame frame) {
    const std::lock_guard lock(mutex_);
    streamed_[k] = std::move(frame);
    changed_.notify_all();
}

bool ProcessingRun::take_streamed(int k, Frame& frame) {
    std::unique_lock lock(mutex_);
    while (!stopping() && streamed_.count(k) == 0) {
        changed_.wait_for(lock, std::chrono::milliseconds(50));
    }
    const auto made = streamed_.find(k);
    if (made == streamed_.end() || stopping()) return false;
    frame = std::move(made->second);
    streamed_.erase(made);
    return true;
}

bool ProcessingRun::stream_to_encoder() {
    const FrameStream& stream = *job_.stream;
    const int range = std::max(frame_total(), 0);
    const int frames = resampled_frame_count(job_.output_count(), stream.input_fps, stream.output_fps);
    {
        const std::lock_guard lock(mutex_);
        push({stream.title, -1});
        push({command_text(stream.command), -1});
        // The frames and their encoding are one stage here.
        push({{}, 0, RunStage::Encoding, frames});
    }
    finishing_ = true;
    EncodeProgress progress;
    int encoded = 0;
    CommandFeed encoder(stream.command, encode_progress_reader(progress, encoded, frames));
    std::vector<std::thread> workers = start_workers();
    const KeepRunning keep_running = [this] { return !stopping(); };
    CommandFeed::Fed fed = CommandFeed::Fed::All;
    int frames_sent = 0;
    int index = 0;  // the picture in hand, by its place in stream_pictures_
    Frame picture;
    std::string_view bytes;
    std::vector<std::uint8_t> packed;  // for frames whose rows are padded or cut
    for (int j = 0; j < frames && fed == CommandFeed::Fed::All; ++j) {
        const int k = stream_picture(j);
        // A picture shown for several output frames is made and packed once.
        if (index == 0 || stream_pictures_[static_cast<std::size_t>(index - 1)] != k) {
            {
                const std::lock_guard lock(mutex_);
                sent_ = index;
                changed_.notify_all();
            }
            if (!take_streamed(++index, picture)) {
                fed = CommandFeed::Fed::Stopped;
                break;
            }
            bytes = raw_frame_bytes(picture, stream.size, packed);
            if (k <= range) {
                const std::lock_guard lock(mutex_);
                push({frame_file_path(job_.work_dir, source_of(k)).string(), encoded,
                      RunStage::Encoding, frames});
            }
        }
        fed = encoder.write(bytes, keep_running);
        if (fed == CommandFeed::Fed::All) ++frames_sent;
    }
    picture = Frame();
    const CommandResult result = fed == CommandFeed::Fed::Stopped
                                     ? encoder.stop()
                                     : encoder.finish([this] { return !cancelled_.load(); });
    stream_ended_ = true;
    changed_.notify_all();
    for (std::thread& worker : workers) worker.join();
    if (fed == CommandFeed::Fed::Stopped || stopping()) return false;
    // An encoder that ends well before it has read every frame made a
    // shorter video than asked for.
    if (fed == CommandFeed::Fed::Closed && result.succeeded()) {
        fail(stream.title + "\n" +
             fill_in(message_text(message_texts::kStoppedReading, job_.language),
                     {stream.command.program.filename().string(), std::to_string(frames_sent),
                      std::to_string(frames)}) +
             "\n" + describe_command_failure(stream.command, result, job_.language));
        return false;
    }
    // Every file is checked before any is put in place.
    for (const std::shared_ptr<PendingFile>& more : stream.more_outputs) {
        if (const std::string defect = output_defect(stream.command, result, *more, {});
            !defect.empty()) {
            fail(stream.title + "\n" + defect);
            return false;
        }
    }
    if (!conclude_command(stream.title, stream.command, result, stream.output,
                          {&progress, frames, frames})) {
        return false;
    }
    for (const std::shared_ptr<PendingFile>& more : stream.more_outputs) {
        if (Status placed = more->commit(); !placed) {
            fail(stream.title + "\n" + placed.error());
            return false;
        }
    }
    return true;
}

RunOutcome run_to_end(RunJob job, const std::function<void(const RunEvent&)>& on_event,
                      const std::function<bool()>& keep_running, int workers) {
    ProcessingRun run(std::move(job), workers);
    for (;;) {
        // The state is read first: a run that has ended has pushed its last
        // line before, so the lines taken next are all there are.
        const ProcessingRun::State state = run.state();
        for (const RunEvent& event : run.wait_events(std::chrono::milliseconds(50))) {
            if (on_event) on_event(event);
        }
        if (state != ProcessingRun::State::Running) return {state, run.failure()};
        if (keep_running && !keep_running()) run.cancel();
    }
}

}  // namespace tintora
