#include "core/composition/colour_matching.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "core/correction/curves.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/video/frame_pipeline.hpp"
#include "support/colour_scene.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

struct Sample {
    int video, target;
    double weight;
};

CurveSamples samples_of(const std::vector<Sample>& list) {
    CurveSamples samples;
    for (const Sample& s : list) samples.add(s.video, s.target, s.weight);
    return samples;
}

// Samples on a curve: at every video level from `from` to `to`, the target
// curve(v) with weight 10, and an outlier far above with weight 3.
template <class Curve>
CurveSamples samples_on(int from, int to, Curve curve) {
    CurveSamples samples;
    for (int v = from; v <= to; ++v) {
        samples.add(v, curve(v), 10.0);
        samples.add(v, std::min(255, curve(v) + 90), 3.0);
    }
    return samples;
}

std::vector<int> pair_levels(const ControlValues& pairs) {
    std::vector<int> levels;
    for (int v = 0; v < kIntensityCount; ++v) {
        if (pairs[v] != NO_PAIR) levels.push_back(v);
    }
    return levels;
}

TEST(FitCurve, RobustLevelsMonotoneFitAndFewPairs) {
    const struct {
        const char* name;
        CurveSamples samples;
        int most_pairs;   // the fit takes at most this many pairs
        double accuracy;  // and its curve stays this close to `expected` on [from, to]
        int from, to;
        int (*expected)(int);
    } cases[] = {
        // A straight line needs its two ends only, outliers or not.
        {"line", samples_on(20, 220, [](int v) { return 40 + 3 * v / 4; }), 2, 1.0, 20, 220,
         [](int v) { return 40 + 3 * v / 4; }},
        // Two straight pieces: the bend is the third pair.
        {"bend", samples_on(10, 240, [](int v) { return v < 100 ? v + 40 : 140 + (v - 100) / 2; }),
         3, 1.0, 10, 240, [](int v) { return v < 100 ? v + 40 : 140 + (v - 100) / 2; }},
        // A gamma curve: more pairs, still within a level.
        {"gamma",
         samples_on(5, 250,
                    [](int v) { return static_cast<int>(255.0 * std::pow(v / 255.0, 0.6)); }),
         kMaxMatchedPairs, 1.0, 5, 250,
         [](int v) { return static_cast<int>(255.0 * std::pow(v / 255.0, 0.6)); }},
        // A dip against the rise is pooled flat: the curve never falls.
        {"dip",
         samples_of({{50, 100, 50}, {60, 110, 50}, {70, 60, 50}, {80, 120, 50}, {90, 130, 50}}),
         kMaxMatchedPairs, 1.0, 50, 70, [](int) { return 90; }},
    };
    for (const auto& c : cases) {
        const std::optional<ControlValues> pairs = fit_curve(c.samples);
        ASSERT_TRUE(pairs) << c.name;
        EXPECT_LE(pair_levels(*pairs).size(), static_cast<std::size_t>(c.most_pairs)) << c.name;
        ControlValues curve = *pairs;
        fill_curve(curve);
        for (int v = 1; v < kIntensityCount; ++v) {
            ASSERT_GE(curve[v], curve[v - 1]) << c.name << " falls at " << v;
        }
        for (int v = c.from; v <= c.to; ++v) {
            EXPECT_NEAR(curve[v], c.expected(v), c.accuracy) << c.name << " at " << v;
        }
    }
}

TEST(FitCurve, MediansPoolingAndTheFewestPairsOnSmallInputs) {
    // Weighted median: the target where half the weight is reached; on an
    // exact half, the middle of it and the next target seen.
    const std::vector<LevelValue> medians = level_medians(samples_of(
        {{10, 100, 1}, {10, 110, 3}, {20, 50, 2}, {20, 70, 2}, {30, 200, 1}, {40, 9, 2.5}}));
    ASSERT_EQ(medians.size(), 3u);  // level 30 weighs too little
    EXPECT_EQ(medians[0].value, 110);
    EXPECT_EQ(medians[1].value, 60);
    EXPECT_EQ(medians[2].video, 40);
    EXPECT_EQ(medians[2].weight, 2.5);

    // Pool adjacent violators: weighted means of the falling runs.
    const std::vector<LevelValue> pooled =
        monotone_fit({{1, 10, 1}, {2, 30, 1}, {3, 20, 3}, {4, 40, 1}, {5, 5, 1}});
    const double expected[] = {10, 22.5, 22.5, 22.5, 22.5};
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(pooled[i].value, expected[i]) << i;

    // No samples, or too little weight: nothing to fit, the pairs stay.
    EXPECT_FALSE(fit_curve(CurveSamples{}));
    EXPECT_FALSE(fit_curve(samples_of({{100, 120, kMinCurveWeight / 2}})));
    // Enough weight on one level: one pair there.
    const std::optional<ControlValues> one = fit_curve(samples_of({{100, 120, kMinCurveWeight}}));
    ASSERT_TRUE(one);
    EXPECT_EQ(pair_levels(*one), std::vector<int>{100});
    EXPECT_EQ((*one)[100], 120);
}

// A 40 by 30 background and a 21 by 15 frame laid on it 1:1 from (10, 8).
struct SmallScene {
    Frame background = test::uniform_frame(40, 30, 60, 100, 140);
    Frame frame = test::uniform_frame(21, 15, 40, 80, 120);
    CorrectionGrid grid;

    SmallScene() {
        for (int p = 0; p < kGridPointCount; ++p) {
            grid.area_x[p] = 10 + 10 * (p % 3);
            grid.area_y[p] = 8 + 7 * (p / 3);
        }
    }
    MatchBackground on() const { return {&background, 0}; }
};

// Clipped channels (0 or from 250 up, in either picture) and strong edges
// are left out: in brightness mode a clipped channel leaves out the pixel;
// in colour mode a channel near clipping (from 245 up, or up to 2) leaves
// out that channel of the pixel and of its neighbours, the others paired.
TEST(MatchStatistics, LeavesOutClippedPixelsAndStrongEdges) {
    const struct {
        const char* name;
        CorrectionMode mode;
        int frame_b, background_b;  // the blue channels of the two pictures
        std::int64_t paired;        // of the 19 x 13 inner pixels' curves
    } cases[] = {
        {"brightness", CorrectionMode::Brightness, 40, 60, 19 * 13},
        {"colour", CorrectionMode::Colour, 40, 60, 3 * 19 * 13},
        {"frame blue at 0", CorrectionMode::Brightness, 0, 60, 0},
        {"background blue at 250", CorrectionMode::Brightness, 40, 250, 0},
        {"brightness, frame blue near clipping", CorrectionMode::Brightness, 246, 60, 19 * 13},
        {"colour, frame blue near clipping", CorrectionMode::Colour, 246, 60, 2 * 19 * 13},
        {"colour, background blue near black", CorrectionMode::Colour, 40, 2, 2 * 19 * 13},
    };
    for (const auto& c : cases) {
        SmallScene scene;
        scene.frame = test::uniform_frame(21, 15, static_cast<std::uint8_t>(c.frame_b), 80, 120);
        scene.background =
            test::uniform_frame(40, 30, static_cast<std::uint8_t>(c.background_b), 100, 140);
        MatchStatistics statistics(c.mode);
        statistics.add_frame(scene.frame, scene.grid, scene.on());
        EXPECT_EQ(statistics.landed(), 21 * 15) << c.name;
        EXPECT_EQ(statistics.paired(), c.paired) << c.name;
    }
    // One frame pixel near clipping (and no strong edge): in colour mode
    // its channels near clipping are left out there and at its eight
    // neighbours; those nine pixels count as clipped when all three are.
    const struct {
        const char* name;
        std::uint8_t b, g, r;  // the frame, and the pixel near clipping
        std::uint8_t pixel_b, pixel_g, pixel_r;
        std::int64_t paired, clipped;
    } near_clipping[] = {
        {"green", 40, 200, 120, 40, 245, 120, 3 * 19 * 13 - 9, 0},
        {"all three", 3, 244, 3, 2, 245, 2, 3 * (19 * 13 - 9), 9},
    };
    for (const auto& c : near_clipping) {
        SmallScene scene;
        scene.frame = test::uniform_frame(21, 15, c.b, c.g, c.r);
        std::uint8_t* pixel = scene.frame.pixel(7, 10);
        pixel[0] = c.pixel_b, pixel[1] = c.pixel_g, pixel[2] = c.pixel_r;
        MatchStatistics statistics(CorrectionMode::Colour);
        statistics.add_frame(scene.frame, scene.grid, scene.on());
        EXPECT_EQ(statistics.paired(), c.paired) << c.name;
        EXPECT_EQ(statistics.clipped(), c.clipped) << c.name;
    }
    // A step in the frame (from column 5) or in the background (from row
    // 14) leaves out the pixels on either side of it.
    SmallScene scene;
    for (int y = 0; y < 15; ++y) {
        for (int x = 5; x < 21; ++x) scene.frame.pixel(y, x)[1] = 200;
    }
    for (int y = 14; y < 30; ++y) {
        for (int x = 0; x < 40; ++x) scene.background.pixel(y, x)[1] = 20;
    }
    MatchStatistics statistics(CorrectionMode::Brightness);
    statistics.add_frame(scene.frame, scene.grid, scene.on());
    EXPECT_EQ(statistics.paired(), (19 - 2) * (13 - 2));
}

// Where the frame lies off the background, its points keep their pairs;
// the others are fitted to what they see.
TEST(MatchColours, PointsWithoutPixelsKeepTheirPairs) {
    SmallScene scene;
    // The right column of points far beyond the background's right edge.
    for (const int p : {2, 5, 8}) scene.grid.area_x[p] = 500;
    CorrectionGrid grid = scene.grid;
    for (int p = 0; p < kGridPointCount; ++p) grid.channel_control_values[kRedChannel][p][10] = 99;
    recalculate_color_tables(grid);
    const std::vector<Frame> frames{test::uniform_frame(121, 61, 40, 80, 120)};
    const MatchOutcome outcome = match_colours(grid, CorrectionMode::Colour, frames, scene.on());
    ASSERT_EQ(outcome.problem, MatchProblem::None);
    const CorrectionGrid& matched = outcome.result.grid;
    EXPECT_EQ(matched.correction_mode, CorrectionMode::Colour);
    for (int p = 0; p < kGridPointCount; ++p) {
        const bool kept = p % 3 == 2;
        EXPECT_EQ(matched.channel_control_values[kRedChannel][p][10] == 99, kept) << p;
        if (!kept) {
            // Red 120 is seen as 140, green 80 as 100, blue 40 as 60.
            EXPECT_EQ(matched.channel_color_table[kRedChannel][p][120], 140) << p;
            EXPECT_EQ(matched.channel_color_table[kGreenChannel][p][80], 100) << p;
            EXPECT_EQ(matched.channel_color_table[kBlueChannel][p][40], 60) << p;
        }
    }
    EXPECT_EQ(outcome.result.fitted, 6 * 3);
    // The brightness curves are not touched by a colour match.
    EXPECT_EQ(matched.control_values, grid.control_values);
}

// A frame's left and right exchanged.
Frame left_to_right(const Frame& frame) {
    Frame mirrored;
    mirror_columns(frame, mirrored);
    return mirrored;
}

// Stripes two pixels wide: every pixel lies on a strong edge.
Frame striped_frame(int width, int height) {
    Frame frame = test::uniform_frame(width, height, 20, 20, 20);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            if (x / 2 % 2 == 1) std::fill(frame.pixel(y, x), frame.pixel(y, x) + 3, 220);
        }
    }
    return frame;
}

TEST(MatchColours, NothingToMatchIsSaidAndNothingChanges) {
    SmallScene scene;
    const std::vector<Frame> frames{scene.frame};
    const Frame empty;
    CorrectionGrid away = scene.grid;
    for (int p = 0; p < kGridPointCount; ++p) away.area_x[p] = -500 + p % 3;
    // A place with structure, and a frame of another place: its own
    // mirror image.
    test::ColourClipOptions options;
    options.frame_count = 1;
    const test::ColourClip place = test::make_colour_clip(options);
    const Frame elsewhere = left_to_right(place.frames[0]);
    const struct {
        const char* name;
        const CorrectionGrid& grid;
        std::vector<Frame> frames;
        MatchBackground background;
        MatchProblem problem;
    } cases[] = {
        {"no background", scene.grid, frames, {&empty, 0}, MatchProblem::NoBackground},
        {"no clip", scene.grid, {}, scene.on(), MatchProblem::NoClip},
        {"frame off the background", away, frames, scene.on(), MatchProblem::FrameOffBackground},
        {"too clipped",
         scene.grid,
         {test::uniform_frame(21, 15, 255, 255, 255)},
         scene.on(),
         MatchProblem::TooClipped},
        {"too dark", scene.grid, {test::uniform_frame(21, 15, 9, 12, 15)}, scene.on(),
         MatchProblem::TooDark},
        {"only edges", scene.grid, {striped_frame(21, 15)}, scene.on(),
         MatchProblem::TooFewPixels},
        {"frames of another place",
         place.grid,
         {elsewhere, elsewhere},
         {&place.background, 0},
         MatchProblem::FramesDisagree},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(match_colours(c.grid, CorrectionMode::Colour, c.frames, c.background).problem,
                  c.problem)
            << c.name;
    }
}

// The scenes, their frames exported as a run processes them and measured
// as people see colour (mean CIEDE2000 over the static place) against the
// background under them; beside them the frames uncorrected and the best
// one curve per channel for each whole frame, fitted on the answer itself,
// which is all a global colour tool can reach; and the fine texture (local
// spread) of the exported frames against the background's.
struct SceneFigures {
    test::ColourErrors uncorrected, best_global, matched;
    double spread_ratio[3];  // red, green, blue
};

SceneFigures measure(const test::ColourClip& clip, CorrectionMode mode,
                     std::span<const Frame> matched_frames) {
    SceneFigures figures{};
    const MatchOutcome outcome =
        match_colours(clip.grid, mode, matched_frames, {&clip.background, 0});
    EXPECT_EQ(outcome.problem, MatchProblem::None);
    std::vector<Frame> exported;
    std::vector<Frame> global;
    for (std::size_t f = 0; f < clip.frames.size(); ++f) {
        exported.push_back(process_frame(clip.frames[f], FrameSettings{}, outcome.result.grid));
        global.push_back(test::best_global_curves(clip.frames[f], clip.under[f], clip.still[f]));
    }
    figures.uncorrected = test::colour_errors(clip, clip.frames);
    figures.best_global = test::colour_errors(clip, global);
    figures.matched = test::colour_errors(clip, exported);
    for (int channel = 0; channel < kChannelCount; ++channel) {
        const int byte = 2 - channel;
        double spread = 0.0;
        double place = 0.0;
        for (std::size_t f = 0; f < clip.frames.size(); ++f) {
            spread += test::local_spread(exported[f], byte, clip.still[f]);
            place += test::local_spread(clip.under[f], byte, clip.still[f]);
        }
        figures.spread_ratio[channel] = spread / place;
    }
    return figures;
}

void print(const std::string& name, const SceneFigures& f) {
    std::printf(
        "%s: mean dE00 uncorrected %.2f, best global curves %.2f, matched %.2f (frames %.2f to "
        "%.2f); local spread ratio R %.3f G %.3f B %.3f\n",
        name.c_str(), f.uncorrected.mean, f.best_global.mean, f.matched.mean,
        f.matched.best_frame, f.matched.worst_frame, f.spread_ratio[0], f.spread_ratio[1],
        f.spread_ratio[2]);
}

// Colour mode keeps the hues: its error lies under half the best global
// curves', which see the answer; and the fine texture: the exported
// frames' local spread within a tenth of the background's. (The uneven
// light's place is smooth: its local spread is the clip's noise.)
TEST(MatchScene, ColourModeKeepsHuesAndFineTexture) {
    test::ColourClipOptions strong;
    strong.frame_count = 1;
    const struct {
        const char* name;
        test::ColourClip clip;
        bool textured;
    } scenes[] = {
        {"uneven light", test::clip_of(test::make_colour_scene(240, 160, 7)), false},
        {"strong colours and a bright sky", test::make_colour_clip(strong), true},
    };
    for (const auto& scene : scenes) {
        const SceneFigures figures = measure(scene.clip, CorrectionMode::Colour, scene.clip.frames);
        print(std::string("colour mode, ") + scene.name, figures);
        EXPECT_LE(figures.matched.mean, 0.5 * figures.best_global.mean) << scene.name;
        if (!scene.textured) continue;
        for (const double ratio : figures.spread_ratio) EXPECT_NEAR(ratio, 1.0, 0.1) << scene.name;
    }
}

TEST(MatchScene, BrightnessModeIsClearlyBetterThanUncorrected) {
    const test::ColourClip clip = test::clip_of(test::make_colour_scene(240, 160, 7));
    const SceneFigures figures = measure(clip, CorrectionMode::Brightness, clip.frames);
    print("brightness mode, uneven light", figures);
    EXPECT_LE(figures.matched.mean, 0.75 * figures.uncorrected.mean);
}

// A camera that pans slowly away from where the mesh was placed (on the
// first frame), with something moving through: matched over its five
// frames, each paired where it really lies, the clip comes out no worse
// than matched on the first frame alone, and no frame far worse than the
// others.
TEST(MatchScene, FramesOfADriftingCameraDoNoWorseThanTheShownFrame) {
    test::ColourClipOptions options;
    options.pan_x = 0.025 * options.width;
    options.pan_y = 0.01 * options.width;
    options.moving_object = true;
    const test::ColourClip clip = test::make_colour_clip(options);
    const SceneFigures five = measure(clip, CorrectionMode::Colour, clip.frames);
    const SceneFigures shown =
        measure(clip, CorrectionMode::Colour, std::span<const Frame>(clip.frames).first(1));
    print("colour mode, drifting camera, five frames", five);
    print("colour mode, drifting camera, the first frame", shown);
    EXPECT_LE(five.matched.mean, shown.matched.mean);
    EXPECT_LE(five.matched.mean, 0.5 * five.best_global.mean);
    EXPECT_LE(five.matched.worst_frame, 1.3 * five.matched.mean);
}

// The frame drawn through the mesh is found where the camera looked, to a
// fraction of a background pixel, up to kMaxDriftShare of its width;
// further, or at another place, it is left out; a plain picture cannot be
// placed and stays where the mesh puts it.
TEST(RegisterFrame, FindsTheDriftAndJudgesTheFrame) {
    const struct {
        const char* name;
        double pan_x, pan_y;  // of the frame's width
        bool mirrored;        // left to right: another place
        FrameVerdict verdict;
    } cases[] = {
        {"where the mesh says", 0.0, 0.0, false, FrameVerdict::Agrees},
        {"2 % right, 1 % down", 0.02, 0.01, false, FrameVerdict::Agrees},
        {"4 % left, 2 % up", -0.04, -0.02, false, FrameVerdict::Agrees},
        {"12 % right", 0.12, 0.0, false, FrameVerdict::MovedTooFar},
        {"another place", 0.0, 0.0, true, FrameVerdict::Unlike},
    };
    test::ColourClipOptions options;
    options.frame_count = 1;
    const test::ColourClip place = test::make_colour_clip(options);
    for (const auto& c : cases) {
        options.frame_count = 2;
        options.pan_x = c.pan_x * options.width;
        options.pan_y = c.pan_y * options.width;
        test::ColourClip clip = test::make_colour_clip(options);
        if (c.mirrored) clip.frames[1] = left_to_right(clip.frames[1]);
        const FrameRegistration registration =
            register_frame(clip.frames[1], place.grid, {&place.background, 0});
        EXPECT_TRUE(registration.measured) << c.name;
        EXPECT_EQ(registration.verdict, c.verdict) << c.name;
        if (c.verdict != FrameVerdict::Agrees) continue;
        EXPECT_NEAR(registration.shift.x, clip.drift[1].x, 0.6) << c.name;
        EXPECT_NEAR(registration.shift.y, clip.drift[1].y, 0.6) << c.name;
    }
    // Where the mesh says, the frame is paired exactly where it was: the
    // brightness mode's curves come out as without registration.
    MatchStatistics unregistered(CorrectionMode::Brightness);
    unregistered.add_frame(place.frames[0], place.grid, {&place.background, 0});
    EXPECT_EQ(match_colours(place.grid, CorrectionMode::Brightness, place.frames,
                            {&place.background, 0})
                  .result.grid,
              fit_matched_curves(place.grid, unregistered).grid);

    const Frame plain = test::uniform_frame(320, 200, 90, 120, 150);
    const FrameRegistration unplaced = register_frame(plain, place.grid, {&place.background, 0});
    EXPECT_FALSE(unplaced.measured);
    EXPECT_EQ(unplaced.verdict, FrameVerdict::Agrees);
    EXPECT_EQ(unplaced.shift.x, 0.0);
    EXPECT_EQ(unplaced.shift.y, 0.0);
}

}  // namespace
}  // namespace tintora
