#include "core/video/processing_run.hpp"

#include <cstdio>
#include <string_view>
#include <system_error>

#include "core/common/file_io.hpp"
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

Status write_bytes(const fs::path& target, const std::vector<std::uint8_t>& bytes) {
    return write_file(target,
                      std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
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

}  // namespace

fs::path run_output_path(const std::string& output_prefix, int number) {
    char digits[16];
    std::snprintf(digits, sizeof digits, "%04d", number);
    return fs::path(output_prefix + digits + ".jpg");
}

fs::path end_frame_path(const fs::path& work_dir) { return work_dir / "converted" / "end.jpg"; }

int RunJob::output_count() const {
    const int range = std::max(stop_frame - start_frame + 1, 0);
    return (ping_pong ? 2 * range : range) + std::max(end_count, 0);
}

ProcessingRun::ProcessingRun(RunJob job, int workers)
    : job_(std::move(job)),
      worker_count_(workers > 0
                        ? workers
                        : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()))),
      ready_(static_cast<std::size_t>(std::max(frame_total(), 0)) + 2, 0) {
    coordinator_ = std::thread([this] { coordinate(); });
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
}

void ProcessingRun::coordinate() {
    const int total = frame_total();
    if (total > 0) {
        std::vector<std::thread> workers;
        const int count = std::min(worker_count_, total);
        for (int i = 0; i < count; ++i) workers.emplace_back([this] { work(); });
        for (std::thread& worker : workers) worker.join();
    }
    // Outputs that were made but not put in place when the run stopped.
    for (int k = committed_ + 1; k <= total; ++k) {
        remove_quietly(temporary_path(output(k)));
        remove_quietly(temporary_path(output(2 * total - k + 1)));
    }
    const bool frames_done = !stopping() && committed_ == std::max(total, 0);
    const bool done = frames_done && finish_end_frames() && run_finishing_commands();
    const std::lock_guard lock(mutex_);
    state_ = done ? State::Finished : cancelled_ ? State::Cancelled : State::Failed;
    if (state_ == State::Failed && failure_.empty()) failure_ = "The processing stopped.";
    changed_.notify_all();
}

void ProcessingRun::work() {
    const int total = frame_total();
    // A frame taken is finished even when another fails meanwhile: it may
    // come before the failed one and belong in place.
    while (!stopping()) {
        const int k = next_frame_++;
        if (k > total) return;
        const fs::path source = frame_file_path(job_.work_dir, job_.start_frame + k - 1);
        const Result<std::vector<std::uint8_t>> bytes =
            process_frame_file(source, job_.settings, job_.grid);
        if (!bytes) return fail(bytes.error(), k);
        const fs::path target = output(k);
        if (Status written = write_bytes(temporary_path(target), bytes.value()); !written) {
            return fail(written.error(), k);
        }
        // With ping-pong the same picture also stands at 2N - k + 1.
        if (job_.ping_pong) {
            const fs::path copy = temporary_path(output(2 * total - k + 1));
            if (Status written = write_bytes(copy, bytes.value()); !written) {
                return fail(written.error(), k);
            }
        }
        const std::lock_guard lock(mutex_);
        ready_[static_cast<std::size_t>(k)] = 1;
        commit_ready();
    }
}

void ProcessingRun::commit_ready() {
    const int total = frame_total();
    while (!cancelled_ && committed_ < total && ready_[static_cast<std::size_t>(committed_ + 1)]) {
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
    const Result<std::vector<std::uint8_t>> bytes = process_frame_file(
        frame_file_path(job_.work_dir, job_.static_frame), job_.settings, job_.grid);
    if (!bytes) {
        fail(bytes.error());
        return false;
    }
    Status written = write_bytes(temporary_path(end_frame), bytes.value());
    if (written) written = rename_into_place(end_frame);
    // The held frames follow the last output written: N + 1 on, or 2N + 1 on.
    const int last = job_.ping_pong ? 2 * frame_total() : frame_total();
    for (int i = 1; written && i <= job_.end_count && !stopping(); ++i) {
        const fs::path target = output(last + i);
        written = write_bytes(temporary_path(target), bytes.value());
        if (written) written = rename_into_place(target);
    }
    if (!written) fail(written.error());
    return !stopping();
}

bool ProcessingRun::run_finishing_commands() {
    for (const FinishingCommand& step : job_.finishing) {
        if (stopping() || !run_finishing_command(step)) return false;
    }
    return true;
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
    const OutputReader report_progress = [&](std::string_view text) {
        progress.read(text);
        if (progress.frames() == reported) return;
        reported = progress.frames();
        const std::lock_guard lock(mutex_);
        push({{}, reported, RunStage::Encoding, step.encoded_frames});
    };
    const CommandResult result = run_command(
        step.command, [this] { return !cancelled_.load(); },
        step.encoded_frames > 0 ? report_progress : OutputReader());
    if (result.cancelled) return false;
    if (!result.succeeded()) {
        fail(step.title + "\n" + describe_command_failure(step.command, result, job_.language));
        return false;
    }
    if (!step.output) return true;
    // An exit status of 0 alone does not make a file.
    if (!step.output->has_content()) {
        fail(step.title + "\n" +
             fill_in(message_text(message_texts::kNothingWritten, job_.language),
                     {step.command.program.filename().string(), step.output->target().string()}));
        return false;
    }
    if (Status placed = step.output->commit(); !placed) {
        fail(step.title + "\n" + placed.error());
        return false;
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
