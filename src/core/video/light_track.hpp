#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/text_pair.hpp"
#include "core/composition/light_tracking.hpp"
#include "core/correction/light_gains.hpp"
#include "core/video/import_stamp.hpp"

namespace tintora {

// The light of every frame of a span of the clip, smoothed over time: what
// the preview, play in panorama, every export and the hotspot video all
// read, so that they agree frame for frame.
struct LightTrack {
    int first = 1;  // the span, inclusive
    int last = 0;
    std::vector<FrameLight> lights;  // frame first + i at i

    bool covers(int frame) const { return frame >= first && frame <= last; }
    // The gains that bring frame `frame` to the light of frame `reference`;
    // a frame beyond the track has the light of its nearer end (the held end
    // frames, say); neutral when the track does not cover the reference.
    LightGains gains(int frame, int reference) const;
};

// Following the light, as a project holds it: on or off, and the frame whose
// light the curves were matched in (the frame shown at the time of the
// match; 0 before any).
struct LightFollowing {
    bool on = false;
    int reference_frame = 0;

    bool operator==(const LightFollowing&) const = default;
};

// The frames a track spans for a range and a reference frame: the range,
// widened to take in the reference.
struct LightSpan {
    int first = 1;
    int last = 0;
};
LightSpan light_span(int start, int stop, int reference);

// Each frame is looked at this much smaller (libjpeg-turbo's scaled
// decoding): the light of a frame is in its broad areas, not its detail.
inline constexpr int kLightReduction = 8;

// The track's cache in the working folder, one per clip and span:
// WorkDir/.tintora-light-FIRST-LAST. It names the import's stamp, so
// frames of another clip never take its numbers.
std::filesystem::path light_cache_path(const std::filesystem::path& work_dir, LightSpan span);
std::string format_light_cache(const ImportStamp& stamp, const LightTrack& track);
// The track a cache's text holds for this stamp and span; nothing when it
// is another clip's or span's, or damaged in any way.
std::optional<LightTrack> parse_light_cache(std::string_view text, const ImportStamp& stamp,
                                            LightSpan span);

// The lights of frames given one at a time (already reduced), smoothed:
// what the pass does with the frames it reads.
LightTrack track_frames(LightSpan span, const std::function<const Frame*(int frame)>& frame_at);

enum class LightPassProblem { None, Cancelled, FrameUnreadable };

struct LightPassOutcome {
    LightPassProblem problem = LightPassProblem::None;
    std::string error;  // which frame or file, and why
    LightTrack track;   // with LightPassProblem::None
};

// The track of a span of the clip whose import left `stamp`: from its cache
// when that is the clip's and the span's, else by a pass that decodes each
// frame at 1 / kLightReduction, measures it (LightMeter) and smooths the
// lights, then writes the cache whole (through a temporary file) before it
// returns (one that cannot be written is made again next time).
// progress(done, total) is called after each frame; its false cancels the
// pass, and nothing is written.
LightPassOutcome follow_clip_light(const std::filesystem::path& work_dir, const ImportStamp& stamp,
                                   LightSpan span,
                                   const std::function<bool(int done, int total)>& progress = {});

// What to tell the user of a pass that did not end well, in either language.
std::string light_pass_text(const LightPassOutcome& outcome, std::string_view language);

namespace message_texts {
inline constexpr TextPair kLightPassCancelled{
    "Following the light was stopped before the end: the project is unchanged.",
    "Слежение за светом остановлено до конца: проект не изменён."};
inline constexpr TextPair kLightPassCantReadFrame{
    "Following the light cannot read a frame of the clip:",
    "Для слежения за светом не удаётся прочитать кадр видео:"};
}  // namespace message_texts

}  // namespace tintora
