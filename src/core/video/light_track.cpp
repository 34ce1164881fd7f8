#include "core/video/light_track.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/video_import.hpp"

namespace tintora {

LightGains LightTrack::gains(int frame, int reference) const {
    if (!covers(reference) || lights.size() != static_cast<std::size_t>(last - first + 1)) {
        return {};
    }
    frame = std::clamp(frame, first, last);
    return gains_between(lights[static_cast<std::size_t>(frame - first)],
                         lights[static_cast<std::size_t>(reference - first)]);
}

LightSpan light_span(int start, int stop, int reference) {
    LightSpan span{std::max(std::min(start, stop), 1), std::max(start, stop)};
    if (reference >= 1) {
        span.first = std::min(span.first, reference);
        span.last = std::max(span.last, reference);
    }
    return span;
}

std::filesystem::path light_cache_path(const std::filesystem::path& work_dir, LightSpan span) {
    return work_dir /
           (".tintora-light-" + std::to_string(span.first) + "-" + std::to_string(span.last));
}

namespace {

constexpr std::string_view kCacheHeader = "TINTORA-LIGHT 1";
constexpr std::string_view kCacheEnd = "END";

std::string cache_key(const ImportStamp& stamp, LightSpan span) {
    return std::string(kCacheHeader) + "\nCLIP=" + stamp.clip.string() +
           "\nSIZE=" + std::to_string(stamp.size) +
           "\nMODIFIED=" + std::to_string(stamp.modified_ns) +
           "\nFRAMES=" + std::to_string(stamp.frame_count) +
           "\nSPAN=" + std::to_string(span.first) + " " + std::to_string(span.last) + "\n";
}

}  // namespace

std::string format_light_cache(const ImportStamp& stamp, const LightTrack& track) {
    std::string text = cache_key(stamp, {track.first, track.last});
    char line[128];
    for (const FrameLight& light : track.lights) {
        std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", light.log_bgr[0], light.log_bgr[1],
                      light.log_bgr[2]);
        text += line;
    }
    text += kCacheEnd;
    text += "\n";
    return text;
}

std::optional<LightTrack> parse_light_cache(std::string_view text, const ImportStamp& stamp,
                                            LightSpan span) {
    const std::string key = cache_key(stamp, span);
    if (span.last < span.first || text.substr(0, key.size()) != key) return std::nullopt;
    LightTrack track{span.first, span.last, {}};
    const auto count = static_cast<std::size_t>(span.last - span.first + 1);
    std::size_t begin = key.size();
    while (track.lights.size() < count) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) return std::nullopt;
        // strtod needs its text ended: a line is short, copy it.
        const std::string line(text.substr(begin, end - begin));
        begin = end + 1;
        FrameLight light{{}, true};
        const char* at = line.c_str();
        for (double& value : light.log_bgr) {
            char* after = nullptr;
            value = std::strtod(at, &after);
            // A gain is held to 1/4..4: a log beyond ±2 is no light of ours.
            if (after == at || !(value >= -2.0 && value <= 2.0)) return std::nullopt;
            at = after;
        }
        if (*at != '\0') return std::nullopt;
        track.lights.push_back(light);
    }
    if (text.substr(begin) != std::string(kCacheEnd) + "\n") return std::nullopt;
    return track;
}

LightTrack track_frames(LightSpan span, const std::function<const Frame*(int frame)>& frame_at) {
    LightTrack track{span.first, span.last, {}};
    LightMeter meter;
    std::vector<FrameLight> raw;
    for (int frame = span.first; frame <= span.last; ++frame) {
        const Frame* reduced = frame_at(frame);
        if (reduced == nullptr) return {};
        raw.push_back(meter.measure(*reduced));
    }
    track.lights = smooth_lights(raw);
    return track;
}

LightPassOutcome follow_clip_light(const std::filesystem::path& work_dir, const ImportStamp& stamp,
                                   LightSpan span,
                                   const std::function<bool(int done, int total)>& progress) {
    LightPassOutcome outcome;
    const std::filesystem::path cache = light_cache_path(work_dir, span);
    if (const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(cache); bytes) {
        const std::string_view text(reinterpret_cast<const char*>(bytes.value().data()),
                                    bytes.value().size());
        if (std::optional<LightTrack> cached = parse_light_cache(text, stamp, span)) {
            outcome.track = std::move(*cached);
            return outcome;
        }
    }
    const int total = span.last - span.first + 1;
    Frame reduced;
    try {
        LightTrack track = track_frames(span, [&](int frame) -> const Frame* {
            if (outcome.problem != LightPassProblem::None) return nullptr;
            Result<Frame> loaded =
                load_jpeg_reduced(frame_file_path(work_dir, frame), kLightReduction);
            if (!loaded) {
                outcome.problem = LightPassProblem::FrameUnreadable;
                outcome.error = loaded.error();
                return nullptr;
            }
            reduced = std::move(loaded).value();
            if (progress && !progress(frame - span.first + 1, total)) {
                outcome.problem = LightPassProblem::Cancelled;
                return nullptr;
            }
            return &reduced;
        });
        if (outcome.problem != LightPassProblem::None) return outcome;
        outcome.track = std::move(track);
    } catch (const std::bad_alloc&) {
        outcome.problem = LightPassProblem::FrameUnreadable;
        outcome.error = "Not enough memory.";
        return outcome;
    }
    // The pass gives the same numbers every time, so a cache that cannot be
    // written (a full disk) only costs the next caller the pass again.
    (void)write_file_atomically(cache, format_light_cache(stamp, outcome.track));
    return outcome;
}

std::string light_pass_text(const LightPassOutcome& outcome, std::string_view language) {
    using namespace message_texts;
    switch (outcome.problem) {
        case LightPassProblem::Cancelled:
            return std::string(message_text(kLightPassCancelled, language));
        case LightPassProblem::FrameUnreadable:
            return std::string(message_text(kLightPassCantReadFrame, language)) + "\n" +
                   outcome.error;
        case LightPassProblem::None:
            break;
    }
    return {};
}

}  // namespace tintora
