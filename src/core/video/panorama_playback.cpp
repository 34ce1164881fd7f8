#include "core/video/panorama_playback.hpp"

#include <algorithm>
#include <cmath>
#include <new>

#include "core/correction/jpeg_codec.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/light_following.hpp"
#include "core/video/video_export.hpp"
#include "core/video/video_import.hpp"

namespace tintora {

using Field = ParameterField;

std::vector<int> output_frame_order(const VideoParameters& parameters, int frame_count) {
    if (frame_count < 1) return {};
    const int n = frame_count;
    // The start rule, then the stop rule, as the exports apply them.
    int start = std::clamp(read_whole_number(parameters.text(Field::StartFrame), 1), 1, n);
    int stop = std::max(read_whole_number(parameters.text(Field::StopFrame), n), start);
    stop = std::max(std::min(stop, n), 1);
    start = std::min(start, stop);

    std::vector<int> order;
    for (int frame = start; frame <= stop; ++frame) order.push_back(frame);
    if (parameters.ping_pong) {
        for (int frame = stop; frame >= start; --frame) order.push_back(frame);
    }
    const int end_count = std::clamp(leading_number(parameters.text(Field::Count)), 0, 1000);
    const int static_frame = std::clamp(leading_number(parameters.text(Field::StaticFrame)), 1, n);
    order.insert(order.end(), static_cast<std::size_t>(end_count), static_frame);
    return order;
}

CorrectionGrid uncorrected(const CorrectionGrid& grid) {
    CorrectionGrid plain = grid;
    plain.reset_color_tables();
    return plain;
}

PlaybackJob playback_job(const Composition& composition, const VideoWorkspace& workspace,
                         const CorrectionGrid& grid, const std::filesystem::path& work_dir,
                         int left, int top, int width, int height) {
    const VideoParameters& parameters = workspace.parameters();
    PlaybackJob job;
    job.work_dir = work_dir;
    job.frames = output_frame_order(parameters, workspace.session().FrameCount);
    job.rotation_angle = parameters.rotation_angle();
    job.steps = preview_steps(parameters);
    job.grid = grid;
    // The output field's bounds; a rate never set plays at the default.
    const double fps = workspace.session().OutputFps;
    job.fps = fps >= 1.0 && fps <= 100.0 ? fps : 25.0;
    job.display_scale = composition.display_scale();
    job.density_step = composition.density_step();
    job.draw_frame = !composition.choices.hide_frame;
    job.mesh_warp = composition.mesh_warp();
    job.light = followed_light(workspace, work_dir);
    job.light_reference = workspace.light_following().reference_frame;
    job.left = left;
    job.top = top;
    job.width = width;
    job.height = height;
    return job;
}

PlayedPictureMaker::PlayedPictureMaker(const Composition& composition, const PlaybackJob& job)
    : job_(job) {
    origin_ = composition.render_clean(job.left, job.top, job.width, job.height, clean_);
}

void PlayedPictureMaker::recycle(Frame picture) {
    if (spare_.size() <= PanoramaPlayback::kPreparedAhead && picture.width() == clean_.width() &&
        picture.height() == clean_.height()) {
        spare_.push_back(std::move(picture));
    }
}

Result<PlayedPicture> PlayedPictureMaker::make(int frame, bool corrected) {
    Result<Frame> loaded = load_jpeg(frame_file_path(job_.work_dir, frame));
    if (!loaded) return Error{loaded.error()};
    try {
        // The workspace's source and result pictures, made the same way.
        Frame result = render_output(
            rotate_for_output(std::move(loaded).value(), job_.rotation_angle), job_.steps);
        PlayedPicture played;
        played.frame = frame;
        played.origin = origin_;
        const LightGains gains =
            job_.light ? job_.light->gains(frame, job_.light_reference) : LightGains{};
        const CorrectionGrid grid =
            corrected ? bring_to_light(result, job_.grid, gains) : uncorrected(job_.grid);
        if (!job_.draw_frame) {
            played.picture = clean_;
            draw_markers(played.picture, grid, job_.display_scale, origin_);
            return played;
        }
        if (!layout_ || !layout_->fits(result, clean_)) {
            // Laid out once for the clip's frame size; pictures drawn
            // another way cannot be drawn over again.
            layout_.emplace(result.width(), result.height(), job_.grid, job_.display_scale,
                            job_.density_step, clean_, origin_, job_.mesh_warp.get());
            spare_.clear();
        }
        if (!layout_->fits(result, clean_)) {
            played.picture = clean_;
            draw_overlay(played.picture, std::move(result), grid, job_.display_scale,
                         job_.density_step, origin_, job_.mesh_warp.get());
        } else {
            // A picture drawn before with this layout has its frame's pixels
            // in exactly the places this one's go: it is drawn over as it is.
            if (spare_.empty()) {
                played.picture = clean_;
            } else {
                played.picture = std::move(spare_.back());
                spare_.pop_back();
            }
            layout_->draw(played.picture, std::move(result), grid);
        }
        draw_markers(played.picture, grid, job_.display_scale, origin_);
        return played;
    } catch (const std::bad_alloc&) {
        return Error{"Not enough memory to play the frame"};
    }
}

PanoramaPlayback::PanoramaPlayback(const Composition& composition, PlaybackJob job, bool corrected)
    : job_(std::move(job)), corrected_(corrected) {
    // The shown part of the background is taken here, on the caller's
    // thread: the worker never reads the composition.
    try {
        maker_.emplace(composition, job_);
    } catch (const std::bad_alloc&) {
        return;  // nothing plays; the still picture stays
    }
    worker_ = std::thread([this] { work(); });
}

PanoramaPlayback::~PanoramaPlayback() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::int64_t PanoramaPlayback::position_due_at(Clock::time_point time) const {
    if (!started_ || time <= start_) return 0;
    const double seconds = std::chrono::duration<double>(time - start_).count();
    return static_cast<std::int64_t>(std::floor(seconds * job_.fps));
}

void PanoramaPlayback::work() {
    if (job_.frames.empty()) return;
    const auto count = static_cast<std::int64_t>(job_.frames.size());
    PlayedPictureMaker& maker = *maker_;
    std::int64_t next = 0;
    while (true) {
        std::int64_t position = 0;
        bool corrected = true;
        std::vector<Frame> returned;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || ready_.size() < kPreparedAhead; });
            if (stopping_) return;
            returned.swap(returned_);
            // A picture ready only after its time is not worth making.
            const std::int64_t due = position_due_at(Clock::now() + making_time_);
            if (started_ && due > next) {
                dropped_ += due - next;
                next = due;
            }
            position = next++;
            corrected = corrected_;
        }
        for (Frame& picture : returned) maker.recycle(std::move(picture));
        const Clock::time_point began = Clock::now();
        Result<PlayedPicture> made =
            maker.make(job_.frames[static_cast<std::size_t>(position % count)], corrected);
        const Clock::time_point ended = Clock::now();

        std::unique_lock lock(mutex_);
        making_time_ = ended - began;
        if (!started_) {
            started_ = true;
            start_ = ended;
        }
        if (!made) {
            // A frame that cannot be read leaves a gap: wait for the next
            // one's time rather than spin through a clip that has gone.
            const auto next_due =
                start_ + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>((position + 1) / job_.fps));
            wake_.wait_until(lock, next_due, [this] { return stopping_; });
            continue;
        }
        // Pictures of the other kind (before and after) are no longer wanted.
        if (corrected != corrected_) continue;
        made.value().position = position;
        ready_.push_back(std::move(made).value());
    }
}

void PanoramaPlayback::set_corrected(bool corrected) {
    const std::lock_guard lock(mutex_);
    if (corrected_ == corrected) return;
    corrected_ = corrected;
    for (PlayedPicture& picture : ready_) keep_for_reuse(std::move(picture.picture));
    ready_.clear();
    wake_.notify_all();
}

std::optional<PlayedPicture> PanoramaPlayback::take_due(Clock::time_point now) {
    std::optional<PlayedPicture> taken;
    {
        const std::lock_guard lock(mutex_);
        if (!started_) return std::nullopt;
        const std::int64_t due = position_due_at(now);
        while (!ready_.empty() && ready_.front().position <= due) {
            if (taken) {
                ++dropped_;
                keep_for_reuse(std::move(taken->picture));
            }
            taken = std::move(ready_.front());
            ready_.pop_front();
        }
    }
    if (taken) wake_.notify_all();
    return taken;
}

void PanoramaPlayback::recycle(Frame picture) {
    const std::lock_guard lock(mutex_);
    keep_for_reuse(std::move(picture));
}

void PanoramaPlayback::keep_for_reuse(Frame picture) {
    // Enough to draw ahead into; more would only hold memory.
    if (returned_.size() < kPreparedAhead + 1) returned_.push_back(std::move(picture));
}

std::int64_t PanoramaPlayback::dropped() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}

}  // namespace tintora
