#include "core/composition/colour_matching.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "core/correction/curves.hpp"
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
// are left out; in brightness mode a clipped channel leaves out the pixel.
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
        {"colour, frame blue 255", CorrectionMode::Colour, 255, 60, 2 * 19 * 13},
        {"colour, background blue 0", CorrectionMode::Colour, 40, 0, 2 * 19 * 13},
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

TEST(MatchColours, NothingToMatchIsSaidAndNothingChanges) {
    SmallScene scene;
    const std::vector<Frame> frames{scene.frame};
    const Frame empty;
    CorrectionGrid away = scene.grid;
    for (int p = 0; p < kGridPointCount; ++p) away.area_x[p] = -500 + p % 3;
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
        {"only clipped pixels",
         scene.grid,
         {test::uniform_frame(21, 15, 255, 255, 255)},
         scene.on(),
         MatchProblem::TooFewPixels},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(match_colours(c.grid, CorrectionMode::Colour, c.frames, c.background).problem,
                  c.problem)
            << c.name;
    }
}

// The scenes: a background lit brighter and warmer to one side, a clip of
// the same place from another camera with noise. The exported frames (each
// processed as a run processes it) are measured against the background
// under them, against the frame uncorrected and against the best one curve
// per channel for the whole frame, fitted on the answer itself: per channel
// and video level the median of the background values, which is all a
// global colour tool can reach.
struct SceneFigures {
    double uncorrected;
    double best_global;
    double matched;
};

SceneFigures measure_scene(CorrectionMode mode) {
    const test::ColourScene scene = test::make_colour_scene(240, 160, 7);
    const Frame under = test::background_under_frame(scene);
    const std::vector<Frame> frames{scene.frame};
    const MatchOutcome outcome = match_colours(scene.grid, mode, frames, {&scene.background, 0});
    EXPECT_EQ(outcome.problem, MatchProblem::None);
    const Frame exported = process_frame(scene.frame, FrameSettings{}, outcome.result.grid);

    Frame global = scene.frame;
    for (int byte = 0; byte < 3; ++byte) {
        CurveSamples seen;
        for (int y = 0; y < under.height(); ++y) {
            for (int x = 0; x < under.width(); ++x) {
                seen.add(scene.frame.pixel(y, x)[byte], under.pixel(y, x)[byte], 1.0);
            }
        }
        int lookup[kIntensityCount];
        for (int v = 0; v < kIntensityCount; ++v) lookup[v] = v;
        for (const LevelValue& level : level_medians(seen)) {
            lookup[level.video] = static_cast<int>(level.value);
        }
        for (int y = 0; y < global.height(); ++y) {
            for (int x = 0; x < global.width(); ++x) {
                std::uint8_t& value = global.pixel(y, x)[byte];
                value = static_cast<std::uint8_t>(lookup[value]);
            }
        }
    }
    return {test::mean_absolute_difference(scene.frame, under),
            test::mean_absolute_difference(global, under),
            test::mean_absolute_difference(exported, under)};
}

TEST(MatchScene, ColourModeHalvesTheBestGlobalCurvesError) {
    const SceneFigures figures = measure_scene(CorrectionMode::Colour);
    std::printf("colour scene: uncorrected %.2f, best global curves %.2f, matched %.2f\n",
                figures.uncorrected, figures.best_global, figures.matched);
    EXPECT_LE(figures.matched, figures.best_global / 2);
}

TEST(MatchScene, BrightnessModeIsClearlyBetterThanUncorrected) {
    const SceneFigures figures = measure_scene(CorrectionMode::Brightness);
    std::printf("brightness scene: uncorrected %.2f, best global curves %.2f, matched %.2f\n",
                figures.uncorrected, figures.best_global, figures.matched);
    EXPECT_LE(figures.matched, figures.uncorrected * 2 / 3);
}

}  // namespace
}  // namespace tintora
