#include "core/video/light_track.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/composition/colour_matching.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/video_import.hpp"
#include "support/colour_scene.hpp"
#include "support/temporary_folder.hpp"

namespace tintora {
namespace {

// A clip whose camera's exposure ramps by ±20 % and whose white balance
// drifts over its length, with an object moving across it.
test::ColourClip drifting_light_clip() {
    test::ColourClipOptions options;
    options.width = 320;
    options.height = 200;
    options.frame_count = 21;
    options.moving_object = true;
    options.exposure_ramp = 0.2;
    options.white_drift = 0.08;
    options.seed = 5;
    return test::make_colour_clip(options);
}

// The frames as the import leaves them (JPEG), decoded at 1/8 as the pass
// decodes them.
std::vector<Frame> reduced_frames(const std::vector<Frame>& frames) {
    std::vector<Frame> reduced;
    for (const Frame& frame : frames) {
        const std::vector<std::uint8_t> bytes = encode_jpeg(frame).value();
        reduced.push_back(decode_jpeg_reduced(bytes.data(), bytes.size(), kLightReduction).value());
    }
    return reduced;
}

LightTrack track_of(const std::vector<Frame>& reduced) {
    const int count = static_cast<int>(reduced.size());
    return track_frames({1, count},
                        [&](int frame) { return &reduced[static_cast<std::size_t>(frame - 1)]; });
}

struct Figures {
    test::ColourErrors errors;
    double largest_step = 0.0;  // the largest change of a frame's mean from the one before
};

// Matches `matched` (0-based frames) with the shown frame `reference`,
// following the light or not, and measures every frame corrected as the
// run corrects it.
Figures match_and_measure(const test::ColourClip& clip, const LightTrack* track,
                          const std::vector<int>& matched, int reference) {
    std::vector<Frame> frames;
    for (const int f : matched) frames.push_back(clip.frames[static_cast<std::size_t>(f)]);
    const MatchFrameLight light = [&](int index) {
        return track ? track->gains(matched[static_cast<std::size_t>(index)] + 1, reference + 1)
                     : LightGains{};
    };
    const MatchOutcome outcome = match_colours(
        clip.grid, CorrectionMode::Colour, static_cast<int>(frames.size()),
        [&](int index) -> Result<Frame> { return frames[static_cast<std::size_t>(index)]; },
        {&clip.background, 0}, {}, light);
    EXPECT_EQ(outcome.problem, MatchProblem::None);
    std::vector<Frame> corrected;
    for (std::size_t f = 0; f < clip.frames.size(); ++f) {
        const LightGains gains =
            track ? track->gains(static_cast<int>(f) + 1, reference + 1) : LightGains{};
        corrected.push_back(
            process_frame(clip.frames[f], FrameSettings{}, outcome.result.grid, gains));
    }
    Figures figures;
    figures.errors = test::colour_errors(clip, corrected);
    double before = -1.0;
    for (std::size_t f = 0; f < clip.frames.size(); ++f) {
        const double error = test::mean_delta_e(corrected[f], clip.under[f], clip.still[f]);
        if (before >= 0.0)
            figures.largest_step = std::max(figures.largest_step, std::abs(error - before));
        before = error;
    }
    return figures;
}

TEST(FollowTheLight, EveryFrameOfADriftingClipMatchesAsWellAsTheShownOne) {
    const test::ColourClip clip = drifting_light_clip();
    const LightTrack track = track_of(reduced_frames(clip.frames));
    const int shown = 10;  // the middle frame
    const std::vector<int> five{0, 5, 10, 15, 20};
    const Figures fixed_shown = match_and_measure(clip, nullptr, {shown}, shown);
    const Figures fixed_five = match_and_measure(clip, nullptr, five, shown);
    const Figures followed_shown = match_and_measure(clip, &track, {shown}, shown);
    const Figures followed_five = match_and_measure(clip, &track, five, shown);
    const auto row = [](const char* name, const Figures& figures) {
        std::printf("%-26s mean %.2f  worst %.2f  best %.2f  largest step %.2f\n", name,
                    figures.errors.mean, figures.errors.worst_frame, figures.errors.best_frame,
                    figures.largest_step);
    };
    row("light fixed, shown frame", fixed_shown);
    row("light fixed, five frames", fixed_five);
    row("light followed, shown", followed_shown);
    row("light followed, five", followed_five);

    for (const Figures* followed : {&followed_shown, &followed_five}) {
        EXPECT_LE(followed->errors.worst_frame, 1.3 * followed->errors.mean);
        // A step between neighbours well under what anyone notices.
        EXPECT_LT(followed->largest_step, 0.5);
    }
    EXPECT_LT(followed_shown.errors.mean, 0.8 * fixed_shown.errors.mean);
    EXPECT_LT(followed_five.errors.mean, 0.8 * fixed_five.errors.mean);
    // Pooled in one light, five frames fit as one does (not blurred by the
    // light's changes, as they are without following it).
    EXPECT_LT(followed_five.errors.mean, 1.03 * followed_shown.errors.mean);
}

ImportStamp stamp_of(int frames) { return {"/clips/a.mp4", 1234, 5678, frames}; }

LightTrack small_track() {
    LightTrack track{3, 5, {}};
    track.lights = {
        {{0.0, 0.0, 0.0}, true}, {{0.1, -0.05, 0.125}, true}, {{-0.3, 0.2, 1.0 / 3.0}, true}};
    return track;
}

TEST(LightCache, ReadsBackOnlyItsOwnClipAndSpanWhole) {
    const LightTrack track = small_track();
    const std::string text = format_light_cache(stamp_of(9), track);
    const std::optional<LightTrack> read = parse_light_cache(text, stamp_of(9), {3, 5});
    ASSERT_TRUE(read);
    EXPECT_EQ(read->lights, track.lights);

    struct Case {
        const char* name;
        std::string text;
        ImportStamp stamp;
        LightSpan span;
    };
    ImportStamp other_clip = stamp_of(9);
    other_clip.modified_ns += 1;
    const Case refused[] = {
        {"another import", text, other_clip, {3, 5}},
        {"another span", text, stamp_of(9), {3, 6}},
        {"cut short", text.substr(0, text.size() - 4), stamp_of(9), {3, 5}},
        {"a number damaged",
         std::string(text).replace(text.find("0.125"), 5, "0.1x5"),
         stamp_of(9),
         {3, 5}},
        {"a gain out of range",
         std::string(text).replace(text.find("0.125"), 5, "9.125"),
         stamp_of(9),
         {3, 5}},
        {"empty", "", stamp_of(9), {3, 5}},
    };
    for (const Case& c : refused) {
        EXPECT_FALSE(parse_light_cache(c.text, c.stamp, c.span)) << c.name;
    }
}

TEST(LightTrack, GainsBringAFrameToTheReferenceAndHoldBeyondTheSpan) {
    const LightTrack track = small_track();
    const LightGains to_first = track.gains(4, 3);
    EXPECT_NEAR(to_first.bgr[0], std::exp(-0.1), 1e-12);
    EXPECT_NEAR(to_first.bgr[2], std::exp(-0.125), 1e-12);
    EXPECT_EQ(track.gains(9, 3), track.gains(5, 3));  // held at the nearer end
    EXPECT_TRUE(track.gains(4, 2).neutral());         // no reference in the track
}

// Writes frames pic0001.jpg … of a clip that brightens by 2 % a frame.
void write_brightening_frames(const std::filesystem::path& folder, int count) {
    const test::ColourClip clip = drifting_light_clip();
    for (int n = 1; n <= count; ++n) {
        ASSERT_TRUE(
            save_jpeg(clip.frames[static_cast<std::size_t>(n - 1)], frame_file_path(folder, n)));
    }
}

TEST(LightPass, WritesItsCacheWholeOrNotAtAll) {
    test::TemporaryFolder folder;
    write_brightening_frames(folder.path(), 6);
    const ImportStamp stamp = stamp_of(6);
    const LightSpan span{1, 6};
    const std::filesystem::path cache = light_cache_path(folder.path(), span);

    // Cancelled half-way: nothing is written, not even a temporary file.
    const auto names_before = folder.names();
    const LightPassOutcome cancelled =
        follow_clip_light(folder.path(), stamp, span, [](int done, int) { return done < 3; });
    EXPECT_EQ(cancelled.problem, LightPassProblem::Cancelled);
    EXPECT_EQ(folder.names(), names_before);
    for (const char* language : {"eng", "rus"}) {
        EXPECT_FALSE(light_pass_text(cancelled, language).empty());
    }
    EXPECT_NE(light_pass_text(cancelled, "eng"), light_pass_text(cancelled, "rus"));

    const LightPassOutcome done = follow_clip_light(folder.path(), stamp, span);
    ASSERT_EQ(done.problem, LightPassProblem::None);
    ASSERT_TRUE(std::filesystem::exists(cache));
    // The exposure ramps up: each frame is brighter than the one before.
    for (std::size_t i = 1; i < done.track.lights.size(); ++i) {
        EXPECT_GT(done.track.lights[i].log_bgr[1], done.track.lights[i - 1].log_bgr[1]);
    }

    // The cache answers the next caller, the frames no longer read.
    std::filesystem::remove(frame_file_path(folder.path(), 4));
    const LightPassOutcome cached = follow_clip_light(folder.path(), stamp, span);
    ASSERT_EQ(cached.problem, LightPassProblem::None);
    EXPECT_EQ(cached.track.lights, done.track.lights);

    // Another clip's stamp does not take it, and its pass meets the missing frame.
    const LightPassOutcome other = follow_clip_light(folder.path(), stamp_of(7), span);
    EXPECT_EQ(other.problem, LightPassProblem::FrameUnreadable);
    EXPECT_NE(light_pass_text(other, "eng").find("pic0004.jpg"), std::string::npos);
}

}  // namespace
}  // namespace tintora
