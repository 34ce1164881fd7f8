#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/common/result.hpp"
#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/light_track.hpp"
#include "core/video/output_chain.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// The source frames the output shows, in its order: the range by the start
// and stop rules (the fields are only read), the range backwards after it
// with ping-pong, then Count copies of the static frame. Empty without a clip.
std::vector<int> output_frame_order(const VideoParameters& parameters, int frame_count);

// The grid with identity curves and the same mesh: it draws a frame as it
// comes, for a look at the picture before the correction.
CorrectionGrid uncorrected(const CorrectionGrid& grid);

// Everything playing the output in the main window's picture needs, fixed
// when it starts.
struct PlaybackJob {
    std::filesystem::path work_dir;
    std::vector<int> frames;  // source frames in play order, played round and round
    int rotation_angle = 0;
    OutputSteps steps;  // the result preview's chain
    CorrectionGrid grid;
    double fps = 25.0;
    // How the composition draws, as its last compose() took it.
    double display_scale = 1.0;
    double density_step = 1.0;
    bool draw_frame = true;
    // Where the mesh lays the frame by a model other than the bilinear one.
    std::shared_ptr<const WarpLattice> mesh_warp;
    // Following the clip's light: each frame corrected in the light of
    // frame light_reference, as the exports correct it (none: as it comes).
    std::shared_ptr<const LightTrack> light;
    int light_reference = 0;
    // The part of the composed picture the window shows.
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

// The job for what the workspace, the composition and the grid hold now,
// showing the part (left, top, width, height) of the picture.
PlaybackJob playback_job(const Composition& composition, const VideoWorkspace& workspace,
                         const CorrectionGrid& grid, const std::filesystem::path& work_dir,
                         int left, int top, int width, int height);

struct PlayedPicture {
    Frame picture;              // the job's part of the composed picture
    RegionOrigin origin;        // where that part lies in the whole picture
    int frame = 0;              // the source frame drawn in it
    std::int64_t position = 0;  // its place in the play order, counted on round after round
};

// Makes a job's played pictures one after another. Each is source frame n
// through the preview chain, drawn onto the background (corrected with the
// job's grid, or as it comes) with the markers: pixel for pixel what the
// main window shows with that frame as the result picture. What stays the
// same from one to the next is worked out once: the shown part of the
// background and where the frame's samples land in it; a picture handed
// back is drawn over again as it is, since the next frame covers the very
// same pixels.
class PlayedPictureMaker {
public:
    PlayedPictureMaker(const Composition& composition, const PlaybackJob& job);

    // A frame file that cannot be read is an error.
    Result<PlayedPicture> make(int frame, bool corrected);
    // A picture no longer shown, to be drawn over again.
    void recycle(Frame picture);

private:
    const PlaybackJob& job_;
    Frame clean_;
    RegionOrigin origin_;
    std::optional<OverlayLayout> layout_;
    std::vector<Frame> spare_;
};

// Plays a job: a worker prepares pictures a few ahead while the window takes
// the one that is due. A picture that would only be ready after its time is
// not made, and one whose time passed unseen is dropped, so the playing keeps
// the output's pace however long a picture takes. The first picture is due
// when it is ready. The composition is read only while this is made.
class PanoramaPlayback {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::size_t kPreparedAhead = 3;

    PanoramaPlayback(const Composition& composition, PlaybackJob job, bool corrected = true);
    ~PanoramaPlayback();  // stops the worker and waits for it
    PanoramaPlayback(const PanoramaPlayback&) = delete;
    PanoramaPlayback& operator=(const PanoramaPlayback&) = delete;

    // Before and after: the pictures from now on drawn corrected or as they come.
    void set_corrected(bool corrected);
    // The newest prepared picture due by `now`; the older due ones are
    // dropped. Nothing when no new picture is due.
    std::optional<PlayedPicture> take_due(Clock::time_point now = Clock::now());
    // Pictures made but never taken, and places skipped as they would have been late.
    std::int64_t dropped() const;
    // A picture taken before and no longer shown, for the worker to draw over again.
    void recycle(Frame picture);

private:
    void work();
    std::int64_t position_due_at(Clock::time_point time) const;  // with mutex_ held
    void keep_for_reuse(Frame picture);                          // with mutex_ held

    const PlaybackJob job_;
    std::optional<PlayedPictureMaker> maker_;  // none when out of memory

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<PlayedPicture> ready_;
    std::vector<Frame> returned_;
    bool stopping_ = false;
    bool corrected_ = true;
    bool started_ = false;
    Clock::time_point start_;
    Clock::duration making_time_{};  // of the last picture
    std::int64_t dropped_ = 0;
    std::thread worker_;
};

}  // namespace tintora
