#include "core/composition/sampling.hpp"

#include <gtest/gtest.h>

#include <random>

#include "core/composition/composition.hpp"
#include "core/correction/curves.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

void set_pixel(Frame& frame, int x, int y, int b, int g, int r) {
    std::uint8_t* p = frame.pixel(y, x);
    p[0] = static_cast<std::uint8_t>(b);
    p[1] = static_cast<std::uint8_t>(g);
    p[2] = static_cast<std::uint8_t>(r);
}

Frame uniform_frame(int width, int height, int b, int g, int r) {
    Frame frame(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) set_pixel(frame, x, y, b, g, r);
    }
    return frame;
}

TEST(SampleIntensity, IsTheSumTimesTheDoubleBelowOneNinthTruncated) {
    const struct {
        int sum, intensity;
    } cases[] = {{0, 0},  {1, 0},  {8, 0},  {9, 0},      {10, 1},     {17, 1},     {18, 1},
                 {19, 2}, {27, 2}, {28, 3}, {2286, 253}, {2287, 254}, {2294, 254}, {2295, 254}};
    for (const auto& c : cases) EXPECT_EQ(sample_intensity(c.sum), c.intensity) << c.sum;

    // Every possible total, against the multiplication itself in extended precision.
    const double nearest_ninth = 0.1111111111111111;
    for (int sum = 0; sum <= 9 * 255; ++sum) {
        const long double product = static_cast<long double>(sum) * nearest_ninth;
        ASSERT_EQ(sample_intensity(sum), static_cast<int>(product)) << sum;
    }
}

// Row 1 of a five-pixel-wide pair of pictures; every column differs, so the
// readings tell which three columns were read. Row 0 stays black.
//   background column c: (B, G, R) = (c, 10 c, 100 + c)
//   composed column c:   (B, G, R) = (0, 0, 3 c)
TEST(TakeSample, ReadsThreePixelsOfTheRowMovedInsideAtTheEnds) {
    Frame background(5, 2);
    Frame composed(5, 2);
    for (int c = 0; c < 5; ++c) {
        set_pixel(background, c, 1, c, 10 * c, 100 + c);
        set_pixel(composed, c, 1, 0, 0, 3 * c);
    }
    const struct {
        int x;
        int first;  // first column of the window
        int background_intensity, video_intensity;
    } cases[] = {
        // background sum 36 first + 336; composed sum 9 first + 9, an exact
        // multiple of nine that reads one less
        {0, 0, 37, 0}, {1, 0, 37, 0}, {2, 1, 41, 1}, {3, 2, 45, 2}, {4, 2, 45, 2},
    };
    const SampleGeometry geometry{0, 1.0, 5, 2};
    for (const auto& c : cases) {
        const std::optional<SampleReading> reading =
            take_sample(background, composed, geometry, c.x, 1);
        ASSERT_TRUE(reading.has_value()) << c.x;
        EXPECT_EQ(reading->background.r, 101 + c.first) << c.x;
        EXPECT_EQ(reading->background.g, 10 * (c.first + 1)) << c.x;
        EXPECT_EQ(reading->background.b, c.first + 1) << c.x;
        EXPECT_EQ(reading->background.intensity, c.background_intensity) << c.x;
        EXPECT_EQ(reading->video.r, 3 * c.first + 3) << c.x;
        EXPECT_EQ(reading->video.g, 0) << c.x;
        EXPECT_EQ(reading->video.b, 0) << c.x;
        EXPECT_EQ(reading->video.intensity, c.video_intensity) << c.x;

        const std::optional<SampleReading> top =
            take_sample(background, composed, geometry, c.x, 0);
        ASSERT_TRUE(top.has_value());
        EXPECT_EQ(top->background.r + top->background.g + top->background.b, 0) << c.x;
    }
}

TEST(TakeSample, NothingOutsideThePictureOrOnePictureTooNarrow) {
    const SampleGeometry geometry{0, 1.0, 10, 10};
    const Frame wide(6, 4);
    const Frame narrow(2, 4);
    const Frame empty;
    const struct {
        const Frame* picture;
        int x, y;
        bool reads;
    } cases[] = {
        {&wide, 0, 0, true},    {&wide, 5, 3, true},    {&wide, -1, 0, false},
        {&wide, 6, 0, false},   {&wide, 0, -1, false},  {&wide, 0, 4, false},
        {&narrow, 0, 0, false}, {&narrow, 1, 1, false}, {&empty, 0, 0, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(take_sample(*c.picture, *c.picture, geometry, c.x, c.y).has_value(), c.reads)
            << c.picture->width() << " wide at " << c.x << "," << c.y;
    }
    // Three pixels are room enough: both ends read the whole row.
    Frame three(3, 1);
    set_pixel(three, 0, 0, 3, 0, 0);
    set_pixel(three, 2, 0, 0, 0, 6);
    for (const int x : {0, 2}) {
        const std::optional<SampleReading> reading = take_sample(three, three, geometry, x, 0);
        ASSERT_TRUE(reading.has_value());
        EXPECT_EQ(reading->background.b, 1);
        EXPECT_EQ(reading->background.r, 2);
        EXPECT_EQ(reading->video.intensity, 0);  // total 9
    }
}

// The shown position is the background pixel under the pointer with the
// scale and the rotation undone; W and H are the background's as loaded.
TEST(TakeSample, ShownPositionUndoesScaleAndRotation) {
    const Frame picture(400, 300);
    const struct {
        int rotation;
        double scale;
        int x, y, shown_x, shown_y;
    } cases[] = {
        {1, 1.0, 10, 20, 20, 190},   {0, 2.0, 101, 51, 50, 25}, {2, 1.0, 10, 20, 290, 180},
        {3, 1.0, 10, 20, 280, 10},   {0, 0.33, 10, 1, 30, 3},   {1, 0.5, 11, 21, 42, 178},
        {3, 3.0, 100, 200, 234, 33}, {0, 1.0, 0, 0, 0, 0},
    };
    for (const auto& c : cases) {
        const SampleGeometry geometry{c.rotation, c.scale, 300, 200};
        const std::optional<SampleReading> reading =
            take_sample(picture, picture, geometry, c.x, c.y);
        ASSERT_TRUE(reading.has_value());
        EXPECT_EQ(reading->shown_x, c.shown_x) << c.rotation << " " << c.scale << " " << c.x;
        EXPECT_EQ(reading->shown_y, c.shown_y) << c.rotation << " " << c.scale << " " << c.y;
    }
}

TEST(TakeSample, StatusTexts) {
    SampleReading reading;
    reading.shown_x = 20;
    reading.shown_y = -190;
    reading.background = {255, 128, 0, 127};
    reading.video = {1, 22, 133, 52};
    EXPECT_EQ(background_status_text(reading), "Background: X=20 Y=-190 (r=255, g=128, b=0)");
    EXPECT_EQ(video_status_text(reading), "Videoframe: (r=1, g=22, b=133)");
}

// The background is read from the clean background, the video from the
// composed picture: the corrected frame where it is drawn.
TEST(TakeSample, ReadsBackgroundAndFrameOfAComposition) {
    Composition composition;
    composition.set_background(uniform_frame(40, 30, 90, 90, 90));
    CorrectionGrid grid;
    const int columns[3] = {0, 20, 39};
    const int rows[3] = {0, 15, 29};
    for (int p = 0; p < 9; ++p) {
        grid.area_x[p] = columns[p % 3];
        grid.area_y[p] = rows[p / 3];
    }
    // Twice as many samples as places, so the drawn frame has no gaps.
    const Frame overlay = uniform_frame(81, 61, 30, 60, 90);  // intensity 60, kept by identity
    composition.compose(grid, &overlay);
    const SampleGeometry geometry{0, 1.0, 40, 30};

    std::optional<SampleReading> reading =
        take_sample(composition.clean_background(), composition.picture(), geometry, 30, 7);
    ASSERT_TRUE(reading.has_value());
    EXPECT_EQ(reading->background.r, 90);
    EXPECT_EQ(reading->background.intensity, 89);  // total 810
    EXPECT_EQ(reading->video.r, 90);
    EXPECT_EQ(reading->video.g, 60);
    EXPECT_EQ(reading->video.b, 30);
    EXPECT_EQ(reading->video.intensity, 59);  // total 540

    // Pure white with the frame hidden reads 254 twice; the right click
    // makes that the pair 254 -> 254.
    composition.set_background(uniform_frame(40, 30, 255, 255, 255));
    composition.choices.hide_frame = true;
    composition.compose(grid, &overlay);
    reading = take_sample(composition.clean_background(), composition.picture(), geometry, 30, 7);
    ASSERT_TRUE(reading.has_value());
    EXPECT_EQ(reading->background.r, 255);
    EXPECT_EQ(reading->video.b, 255);
    EXPECT_EQ(reading->background.intensity, 254);
    EXPECT_EQ(reading->video.intensity, 254);
    grid.cur_point = 2;
    store_sampled_pair(grid, reading->video.intensity, reading->background.intensity);
    EXPECT_EQ(grid.control_values[2][254], 254);
    EXPECT_EQ(grid.color_table[2][254], 254);
}

// The window samples from the part it shows, or renders the few pixels a
// sample needs: either way the reading of the whole picture, edges included.
TEST(SampleComposition, ReadsWhatTheWholePictureHolds) {
    std::mt19937 random(12);
    Composition composition;
    composition.set_background(test::random_frame(50, 40, random));
    CorrectionGrid grid = test::random_grid(random);
    const Frame overlay = test::random_frame(30, 20, random);
    composition.choices.rotation_index = 1;
    composition.compose(grid, &overlay);
    const SampleGeometry geometry{1, 1.0, 50, 40};
    const int right = composition.picture_width() - 1;
    const int bottom = composition.picture_height() - 1;
    // Sampling reads what lies under the markers (a corner point's marker
    // covers 0, 0).
    Frame unmarked;
    composition.render_region(0, 0, right + 1, bottom + 1, unmarked, nullptr,
                              Composition::Markers::Left);
    for (const bool shown : {false, true}) {
        if (shown) composition.show_region(10, 5, 20, 20);  // holds some samples, not all
        for (const auto& [x, y] : {std::pair{0, 0}, {right, bottom}, {15, 10}, {29, 24}, {30, 3}}) {
            const std::optional<SampleReading> expected =
                take_sample(composition.clean_background(), unmarked, geometry, x, y);
            const std::optional<SampleReading> read = sample_composition(composition, x, y);
            ASSERT_TRUE(expected && read) << x << "," << y;
            EXPECT_EQ(read->video.intensity, expected->video.intensity) << x << "," << y;
            EXPECT_EQ(read->video.r, expected->video.r) << x << "," << y;
            EXPECT_EQ(read->background.b, expected->background.b) << x << "," << y;
            EXPECT_EQ(read->shown_y, expected->shown_y) << x << "," << y;
        }
    }
    EXPECT_FALSE(sample_composition(composition, right + 1, 0));
}

// A pair's video side comes from the frame before correction where the
// frame is drawn, whatever the curves already do to it (the curves apply to
// the uncorrected frame); the status bar's reading stays the corrected
// picture's. Outside the frame both read the background. The pair is stored
// by the grid's mode.
TEST(SampleComposition, PairsComeFromTheFrameBeforeCorrection) {
    Composition composition;
    composition.set_background(uniform_frame(40, 30, 90, 90, 90));
    CorrectionGrid grid;
    for (int p = 0; p < 9; ++p) {
        grid.area_x[p] = 10 * (p % 3);
        grid.area_y[p] = 8 * (p / 3);
        grid.control_values[p][60] = 160;  // an earlier pair: the frame is drawn brighter
    }
    recalculate_color_tables(grid);
    const Frame overlay = uniform_frame(61, 41, 30, 60, 90);  // intensity 60
    composition.compose(grid, &overlay);
    for (const bool shown : {false, true}) {
        if (shown) composition.show_region(0, 0, 40, 30);
        const std::optional<SampleReading> inside = sample_composition(composition, 5, 4);
        ASSERT_TRUE(inside);
        EXPECT_EQ(inside->video.intensity, 159) << shown;  // (240, 160, 80) as drawn
        EXPECT_EQ(inside->frame.r, 90) << shown;
        EXPECT_EQ(inside->frame.g, 60) << shown;
        EXPECT_EQ(inside->frame.b, 30) << shown;
        EXPECT_EQ(inside->frame.intensity, 59) << shown;
        const std::optional<SampleReading> outside = sample_composition(composition, 35, 25);
        ASSERT_TRUE(outside);
        EXPECT_EQ(outside->frame.r, 90) << shown;
        EXPECT_EQ(outside->frame.intensity, outside->video.intensity) << shown;
    }
    SampleReading reading = *sample_composition(composition, 5, 4);
    reading.background = {100, 80, 60, 79};
    grid.cur_point = 3;
    store_sampled_pair(grid, reading);
    EXPECT_EQ(grid.control_values[3][59], 79);
    grid.correction_mode = CorrectionMode::Colour;
    store_sampled_pair(grid, reading);
    EXPECT_EQ(grid.channel_control_values[kRedChannel][3][90], 100);
    EXPECT_EQ(grid.channel_control_values[kGreenChannel][3][60], 80);
    EXPECT_EQ(grid.channel_control_values[kBlueChannel][3][30], 60);
    EXPECT_EQ(grid.channel_color_table[kGreenChannel][3][60], 80);
}

TEST(StoreSampledPair, SetsThePairOfTheCurrentPointAndRebuildsEveryTable) {
    CorrectionGrid grid;
    grid.cur_point = 4;
    // An edit made elsewhere whose table is not rebuilt yet.
    grid.control_values[2][50] = 200;

    store_sampled_pair(grid, 120, 135);
    EXPECT_EQ(grid.control_values[4][120], 135);
    EXPECT_EQ(grid.color_table[4][120], 135);
    EXPECT_EQ(grid.color_table[4][60], (135 * 60) / 120);
    EXPECT_EQ(grid.color_table[4][200], 135 + (120 * 80) / 135);
    EXPECT_EQ(grid.color_table[2][50], 200);
    for (const int p : {0, 1, 3, 5, 6, 7, 8}) {
        for (int v = 0; v < 256; ++v) ASSERT_EQ(grid.color_table[p][v], v) << p;
    }

    // A second sample at the same video intensity replaces the first.
    store_sampled_pair(grid, 120, 100);
    EXPECT_EQ(grid.control_values[4][120], 100);
    EXPECT_EQ(grid.color_table[4][120], 100);
    int pairs = 0;
    for (int v = 0; v < 256; ++v) pairs += grid.control_values[4][v] != NO_PAIR;
    EXPECT_EQ(pairs, 1);
}

}  // namespace
}  // namespace tintora
