#include "core/composition/composition.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>

#include "core/correction/curves.hpp"
#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kRed[3] = {0, 0, 255};  // B, G, R
constexpr std::uint8_t kGreen[3] = {0, 255, 0};

bool pixel_is(const Frame& frame, int x, int y, const std::uint8_t* bgr) {
    const std::uint8_t* p = frame.pixel(y, x);
    return p[0] == bgr[0] && p[1] == bgr[1] && p[2] == bgr[2];
}

// Truncation toward zero into an int, or false where no int holds the value.
bool to_int(double value, int& out) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return false;
    out = static_cast<int>(value);
    return true;
}

// The overlay drawn the plain way: a running x and y, the pixel at the
// truncated position, correct_pixel and map_to_background at the unrounded
// relative position, the place truncated and clipped.
void draw_overlay_reference(Frame& picture, const Frame& overlay, const CorrectionGrid& grid,
                            double scale, double step) {
    const int wf = overlay.width();
    const int hf = overlay.height();
    for (double y = 0; y < hf - 1; y += step) {
        for (double x = 0; x < wf - 1; x += step) {
            const std::uint8_t* in = overlay.pixel(std::min(static_cast<int>(y), hf - 1),
                                                   std::min(static_cast<int>(x), wf - 1));
            std::uint8_t b = in[0], g = in[1], r = in[2];
            const double rx = x / (wf - 1.0);
            const double ry = y / (hf - 1.0);
            grid.correct_pixel(rx, ry, r, g, b);
            const BackgroundPoint at = grid.map_to_background(rx, ry, scale);
            int px = 0, py = 0;
            if (!to_int(at.x, px) || !to_int(at.y, py)) continue;
            if (px < 0 || py < 0 || px >= picture.width() || py >= picture.height()) continue;
            std::uint8_t* out = picture.pixel(py, px);
            out[0] = b;
            out[1] = g;
            out[2] = r;
        }
    }
}

void draw_markers_reference(Frame& picture, const CorrectionGrid& grid, double scale) {
    for (int p = 0; p < 9; ++p) {
        const BackgroundPoint at = grid.map_to_background((p % 3) / 2.0, (p / 3) / 2.0, scale);
        const int cx = static_cast<int>(at.x);
        const int cy = static_cast<int>(at.y);
        const std::uint8_t* colour = p == grid.cur_point ? kRed : kGreen;
        for (int y = cy - 2; y <= cy + 2; ++y) {
            for (int x = cx - 2; x <= cx + 2; ++x) {
                if (x < 0 || y < 0 || x >= picture.width() || y >= picture.height()) continue;
                std::copy(colour, colour + 3, picture.pixel(y, x));
            }
        }
    }
}

// The rotated and scaled background computed from scratch.
Frame fresh_background(const Frame& background, int rotation_index, double scale) {
    Frame rotated;
    rotate_frame(background, rotated, rotation_index * 90);
    Frame scaled(static_cast<int>(rotated.width() * scale),
                 static_cast<int>(rotated.height() * scale));
    resample_frame(rotated, scaled);
    return scaled;
}

void random_area_points(CorrectionGrid& grid, std::mt19937& random, int low, int high) {
    std::uniform_int_distribution<int> place(low, high);
    for (int p = 0; p < 9; ++p) {
        grid.area_x[p] = place(random);
        grid.area_y[p] = place(random);
    }
}

// Overlay drawing must give the bytes of the plain loop for every density,
// with meshes that fold, enlarge, shrink and reach outside the picture on
// every side (a place in (-1, 0) truncates to 0 and is drawn), on every
// kernel this processor has.
TEST(CompositionOverlay, MatchesThePlainSampleLoopByteForByte) {
    const double steps[] = {1.0, 0.5, kDensitySteps[6], 2.0, 10.0, 4.0, 10000.0};
    const struct {
        int width, height;
    } overlays[] = {{2, 2}, {3, 3}, {17, 11}, {40, 29}, {1, 6}, {6, 1}};
    const double scales[] = {1.0, 0.33, 1.5};
    std::mt19937 random(4711);
    for (const VectorIsa isa : supported_vector_isas()) {
    SCOPED_TRACE(vector_isa_name(isa));
    limit_vector_isa(isa);
    for (const double step : steps) {
        for (const auto& size : overlays) {
            for (const double scale : scales) {
                CorrectionGrid grid = test::random_grid(random);
                random_area_points(grid, random, -30, 90);
                const Frame overlay = test::random_frame(size.width, size.height, random);
                Frame fast = test::random_frame(61, 47, random);
                Frame plain = fast;
                draw_overlay(fast, overlay, grid, scale, step);
                draw_overlay_reference(plain, overlay, grid, scale, step);
                ASSERT_EQ(fast, plain) << "step " << step << " overlay " << size.width << "x"
                                       << size.height << " scale " << scale;
            }
        }
    }
    }
    limit_vector_isa(VectorIsa::Avx512Vbmi);
}

// The picture has no row limit: the frame reaches rows beyond 10000.
TEST(CompositionOverlay, ReachesRowsBeyondTenThousand) {
    std::mt19937 random(99);
    CorrectionGrid grid = test::random_grid(random);
    for (int p = 0; p < 9; ++p) {
        grid.area_x[p] = 1 + 3 * (p % 3);
        grid.area_y[p] = 9990 + 30 * (p / 3);
    }
    const Frame overlay = test::random_frame(12, 70, random);
    const Frame background(10, 10060);
    for (const double step : {1.0, 0.5}) {
        Frame fast = background;
        Frame plain = background;
        draw_overlay(fast, overlay, grid, 1.0, step);
        draw_overlay_reference(plain, overlay, grid, 1.0, step);
        ASSERT_EQ(fast, plain) << step;
        int drawn_below = 0;
        for (int y = 10001; y < fast.height(); ++y) {
            for (int x = 0; x < fast.width(); ++x)
                drawn_below += !pixel_is(fast, x, y, fast.pixel(0, 0));
        }
        EXPECT_GT(drawn_below, 0) << step;
    }
}

TEST(CompositionOverlay, DensityZeroDrawsOnlyTheFirstFramePixel) {
    CorrectionGrid grid;
    for (int p = 0; p < 9; ++p) {
        grid.area_x[p] = 100 + 50 * (p % 3);
        grid.area_y[p] = 66 + 34 * (p / 3);
    }
    Frame overlay = test::uniform_frame(20, 20, 5, 5, 5);
    std::copy(kGreen, kGreen + 3, overlay.pixel(0, 0));  // intensity 85, kept by identity tables
    const Frame white = test::uniform_frame(300, 200, 255, 255, 255);
    Frame picture = white;
    draw_overlay(picture, overlay, grid, 1.0, kDensitySteps[0]);
    int changed = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x)
            changed += !pixel_is(picture, x, y, white.pixel(0, 0));
    }
    EXPECT_EQ(changed, 1);
    EXPECT_TRUE(pixel_is(picture, 100, 66, kGreen));
}

// The composed picture is the clean background, then the overlay unless
// hidden, then the markers; without a video it is the clean background alone.
TEST(Composition, ComposedPictureIsBackgroundThenOverlayThenMarkers) {
    const struct {
        int rotation, scale, density;
        bool hide, video;
    } cases[] = {
        {0, 5, 4, false, true},  {1, 3, 5, false, true}, {2, 2, 6, false, true},
        {3, 6, 1, false, true},  {0, 5, 0, false, true}, {0, 7, 4, true, true},
        {1, 5, 4, false, false}, {0, 0, 3, false, true},
    };
    std::mt19937 random(31337);
    const Frame background = test::random_frame(90, 64, random);
    for (const auto& c : cases) {
        Composition composition;
        composition.set_background(background);
        CorrectionGrid grid = test::random_grid(random);
        random_area_points(grid, random, -10, 100);
        grid.area_x[0] = grid.area_y[0] = 0;  // a marker clipped at the corner
        grid.cur_point = static_cast<int>(random() % 9);
        const Frame overlay = test::random_frame(23, 19, random);
        composition.choices = {c.rotation, c.scale, c.density, c.hide, {}};
        composition.compose(grid, c.video ? &overlay : nullptr);

        const double scale = kDisplayScales[c.scale];
        EXPECT_EQ(composition.display_scale(), scale);
        Frame expected = fresh_background(background, c.rotation, scale);
        EXPECT_EQ(composition.clean_background(), expected);
        if (c.video) {
            if (!c.hide)
                draw_overlay_reference(expected, overlay, grid, scale, kDensitySteps[c.density]);
            draw_markers_reference(expected, grid, scale);
        }
        EXPECT_EQ(composition.picture(), expected)
            << c.rotation << " " << c.scale << " " << c.density << " " << c.hide << " " << c.video;
    }
}

Frame crop(const Frame& picture, int x, int y, int w, int h) {
    Frame part;
    cut_frame(picture, x, y, w, h, part);
    return part;
}

// The window renders only what it shows: any rectangle, also one reaching
// past the picture's edges, is exactly that part of the whole picture, at
// every rotation, scale and density.
TEST(CompositionRegion, EveryRegionIsThatPartOfTheWholePicture) {
    std::mt19937 random(808);
    const Frame background = test::random_frame(70, 45, random);
    const Frame overlay = test::random_frame(31, 17, random);
    for (int rotation = 0; rotation < 4; ++rotation) {
        for (const int scale : {2, 5, 8}) {
            for (const int density : {0, 4, 6}) {
                Composition composition;
                composition.set_background(background);
                CorrectionGrid grid = test::random_grid(random);
                random_area_points(grid, random, -5, 80);
                composition.choices = {rotation, scale, density, false, {}};
                composition.compose(grid, &overlay);
                const Frame& whole = composition.picture();
                std::uniform_int_distribution<int> place(-20, whole.width() + 5);
                for (int n = 0; n < 6; ++n) {
                    const int x = place(random);
                    const int y = place(random) % (whole.height() + 10) - 5;
                    const int w = 1 + static_cast<int>(random() % 60);
                    const int h = 1 + static_cast<int>(random() % 60);
                    Frame part;
                    Frame clean;
                    const RegionOrigin origin = composition.render_region(x, y, w, h, part, &clean);
                    EXPECT_EQ(origin.left, std::clamp(x, 0, whole.width()));
                    EXPECT_EQ(part, crop(whole, x, y, w, h))
                        << rotation << " " << scale << " " << density << " at " << x << "," << y;
                    EXPECT_EQ(clean, crop(composition.clean_background(), x, y, w, h));
                }
            }
        }
    }
}

// The frame's correction is kept while only the mesh moves, and made again
// when the curves or the frame change.
TEST(CompositionRegion, KeptCorrectionFollowsTheCurvesAndTheFrame) {
    std::mt19937 random(909);
    const Frame background = test::random_frame(60, 40, random);
    Frame overlay = test::random_frame(25, 15, random);
    CorrectionGrid grid = test::random_grid(random);
    Composition composition;
    composition.set_background(background);
    const auto expect_fresh = [&](const char* after) {
        composition.compose(grid, &overlay);
        Frame expected = fresh_background(background, 0, 1.0);
        draw_overlay_reference(expected, overlay, grid, 1.0, 1.0);
        draw_markers_reference(expected, grid, 1.0);
        EXPECT_EQ(composition.picture(), expected) << after;
    };
    random_area_points(grid, random, 0, 50);
    expect_fresh("first");
    random_area_points(grid, random, 0, 50);
    expect_fresh("mesh moved");
    grid.control_values[4][100] = 30;
    recalculate_color_tables(grid);
    expect_fresh("curve changed");
    overlay.pixel(3, 3)[1] ^= 0x55;
    expect_fresh("frame changed");
}

// The part the window shows is redrawn only where the frame and the markers
// were when nothing but they changed; after every kind of change it is that
// part of the whole picture, byte for byte.
TEST(CompositionRegion, ShownPartRedrawnInPlaceIsThatPartOfTheWholePicture) {
    std::mt19937 random(1212);
    const Frame background = test::random_frame(90, 70, random);
    Frame overlay = test::random_frame(33, 21, random);
    CorrectionGrid grid = test::random_grid(random);
    random_area_points(grid, random, 10, 60);
    Composition composition;
    composition.set_background(background);
    const struct {
        const char* change;
        std::function<void()> make;
    } changes[] = {
        {"mesh dragged", [&] { grid.area_x[4] += 7; }},
        {"mesh moved off the part", [&] { random_area_points(grid, random, -40, 130); }},
        {"curve edited", [&] {
             grid.control_values[2][90] = 20;
             recalculate_color_tables(grid);
         }},
        {"current point", [&] { grid.cur_point = 6; }},
        {"frame hidden", [&] { composition.choices.hide_frame = true; }},
        {"frame shown", [&] { composition.choices.hide_frame = false; }},
        {"frame changed", [&] { overlay.pixel(5, 5)[0] ^= 0xFF; }},
        {"scale", [&] { composition.choices.scale_index = 6; }},
        {"rotation", [&] { composition.choices.rotation_index = 1; }},
    };
    composition.compose(grid, &overlay);
    composition.show_region(8, 5, 50, 40);
    for (const auto& c : changes) {
        c.make();
        composition.compose(grid, &overlay);
        composition.show_region(8, 5, 50, 40);
        const RegionOrigin origin = composition.shown_origin();
        EXPECT_EQ(composition.shown_picture(),
                  crop(composition.picture(), origin.left, origin.top, 50, 40))
            << c.change;
    }
}

// The rotated and scaled background is kept between compositions; whatever
// order the changes come in, it is what a fresh computation gives, and
// drawing the frame never reaches into it.
TEST(Composition, CachedBackgroundFollowsRotationScaleAndBackground) {
    std::mt19937 random(5);
    Frame first = test::random_frame(40, 30, random);
    Frame second = test::random_frame(40, 30, random);  // same size, new pixels
    const Frame overlay = test::random_frame(9, 9, random);
    CorrectionGrid grid = test::random_grid(random);
    random_area_points(grid, random, 0, 40);

    Composition composition;
    composition.set_background(first);
    const struct {
        int rotation, scale;
        const Frame* new_background;
    } steps[] = {{0, 5, nullptr}, {1, 5, nullptr}, {1, 3, nullptr},
                 {1, 3, nullptr}, {1, 3, &second}, {2, 8, nullptr},
                 {0, 5, nullptr}, {0, 5, &first},  {3, 4, nullptr}};
    const Frame* current = &first;
    for (const auto& step : steps) {
        if (step.new_background != nullptr) {
            composition.set_background(*step.new_background);
            current = step.new_background;
        }
        composition.choices.rotation_index = step.rotation;
        composition.choices.scale_index = step.scale;
        composition.compose(grid, &overlay);
        const Frame expected =
            fresh_background(*current, step.rotation, kDisplayScales[step.scale]);
        ASSERT_EQ(composition.clean_background(), expected) << step.rotation << " " << step.scale;
        composition.compose(grid, nullptr);
        ASSERT_EQ(composition.picture(), expected) << step.rotation << " " << step.scale;
    }

    composition.release_background();
    composition.compose(grid, &overlay);
    EXPECT_FALSE(composition.background_loaded());
    EXPECT_TRUE(composition.clean_background().empty());
}

TEST(Composition, PictureSizeFollowsRotationAndTheDecimalScales) {
    const struct {
        int width, height, rotation, scale;
        int expected_width, expected_height;
    } cases[] = {
        {300, 200, 0, 0, 30, 20},   {300, 200, 0, 1, 75, 50},   {300, 200, 0, 2, 99, 66},
        {300, 200, 0, 3, 150, 100}, {300, 200, 0, 4, 201, 134}, {300, 200, 0, 5, 300, 200},
        {300, 200, 0, 6, 450, 300}, {300, 200, 0, 7, 600, 400}, {300, 200, 0, 8, 900, 600},
        {300, 200, 1, 5, 200, 300}, {300, 200, 3, 3, 100, 150}, {300, 200, 2, 5, 300, 200},
        {1000, 9, 0, 2, 330, 2},    {1000, 9, 1, 4, 6, 670},    {301, 199, 0, 3, 150, 99},
    };
    for (const auto& c : cases) {
        Composition composition;
        composition.set_background(Frame(c.width, c.height));
        composition.choices.rotation_index = c.rotation;
        composition.choices.scale_index = c.scale;
        composition.compose(CorrectionGrid{}, nullptr);
        EXPECT_EQ(composition.picture().width(), c.expected_width)
            << c.width << "x" << c.height << " rotation " << c.rotation << " scale " << c.scale;
        EXPECT_EQ(composition.picture().height(), c.expected_height)
            << c.width << "x" << c.height << " rotation " << c.rotation << " scale " << c.scale;
    }
}

TEST(Composition, ListsWithoutSelectionKeepTheLastScaleAndStep) {
    Composition composition;
    composition.set_background(Frame(300, 200));
    composition.choices.scale_index = 3;
    composition.choices.density_index = 1;
    composition.compose(CorrectionGrid{}, nullptr);
    composition.choices.scale_index = -1;
    composition.choices.density_index = 7;
    composition.compose(CorrectionGrid{}, nullptr);
    EXPECT_EQ(composition.display_scale(), 0.5);
    EXPECT_EQ(composition.picture().width(), 150);
    EXPECT_EQ(composition.density_step(), 10.0);
}

// The 300 by 200 layout: markers where the default layout puts the points,
// point 0 red; at 50% the same places halved; equal places show the later
// point's colour.
TEST(Composition, DefaultLayoutMarkersAndDrawingOrder) {
    Composition composition;
    CorrectionGrid grid;
    EXPECT_FALSE(set_default_layout(grid, composition));
    EXPECT_EQ(grid.area_x[4], 0);

    composition.set_background(test::uniform_frame(300, 200, 40, 40, 40));
    const int places[9][2] = {{100, 66},  {150, 66},  {200, 66},  {100, 100}, {150, 100},
                              {200, 100}, {100, 133}, {150, 133}, {200, 133}};
    ASSERT_TRUE(set_default_layout(grid, composition));
    for (int p = 0; p < 9; ++p) {
        EXPECT_EQ(grid.area_x[p], places[p][0]) << p;
        EXPECT_EQ(grid.area_y[p], places[p][1]) << p;
    }
    // The layout uses the background as loaded, whatever the rotation.
    composition.choices.rotation_index = 1;
    composition.compose(grid, nullptr);
    CorrectionGrid rotated;
    ASSERT_TRUE(set_default_layout(rotated, composition));
    EXPECT_EQ(rotated.area_x, grid.area_x);
    EXPECT_EQ(rotated.area_y, grid.area_y);
    composition.choices.rotation_index = 0;

    const Frame overlay = test::uniform_frame(8, 8, 90, 90, 90);
    composition.choices.hide_frame = true;
    for (const int scale_index : {5, 3}) {
        composition.choices.scale_index = scale_index;
        composition.compose(grid, &overlay);
        const double scale = kDisplayScales[scale_index];
        const Frame& picture = composition.picture();
        for (int p = 0; p < 9; ++p) {
            const int x = static_cast<int>(places[p][0] * scale);
            const int y = static_cast<int>(places[p][1] * scale);
            const std::uint8_t* colour = p == 0 ? kRed : kGreen;
            EXPECT_TRUE(pixel_is(picture, x - 2, y - 2, colour)) << p << " " << scale;
            EXPECT_TRUE(pixel_is(picture, x + 2, y + 2, colour)) << p << " " << scale;
            EXPECT_FALSE(pixel_is(picture, x + 3, y, colour)) << p << " " << scale;
            EXPECT_FALSE(pixel_is(picture, x, y - 3, colour)) << p << " " << scale;
        }
    }

    composition.choices.scale_index = 5;
    grid.area_x[1] = grid.area_x[0];
    grid.area_y[1] = grid.area_y[0];
    composition.compose(grid, &overlay);
    EXPECT_TRUE(pixel_is(composition.picture(), 100, 66, kGreen));  // 1 drawn over 0
    grid.cur_point = 1;
    composition.compose(grid, &overlay);
    EXPECT_TRUE(pixel_is(composition.picture(), 100, 66, kRed));
}

TEST(CompositionClicks, LeftClickMovesTheCurrentAreaPoint) {
    const struct {
        double scale;
        int x, y, area_x, area_y;
    } cases[] = {{0.5, 40, 30, 80, 60}, {1.0, 7, 9, 7, 9}, {0.33, 10, 1, 30, 3},
                 {3.0, 10, 11, 3, 3},   {1.5, 1, 2, 0, 1}, {0.1, 0, 299, 0, 2990}};
    for (const auto& c : cases) {
        CorrectionGrid grid;
        grid.cur_point = 4;
        ASSERT_TRUE(move_current_area_point(grid, c.scale, c.x, c.y, false)) << c.scale;
        EXPECT_EQ(grid.area_x[4], c.area_x) << c.scale << " " << c.x;
        EXPECT_EQ(grid.area_y[4], c.area_y) << c.scale << " " << c.y;
        EXPECT_EQ(grid.area_x[3], 0);

        CorrectionGrid held;
        EXPECT_FALSE(move_current_area_point(held, c.scale, c.x, c.y, true));
        EXPECT_EQ(held.area_x, CorrectionGrid{}.area_x);
        EXPECT_EQ(held.area_y, CorrectionGrid{}.area_y);
    }
}

TEST(CompositionClicks, MiddleClickCentresTheMeshInsideTheBackground) {
    const struct {
        int rotation, scale, x, y;
        int columns[3], rows[3];
    } cases[] = {
        {0, 5, 10, 10, {0, 10, 110}, {0, 10, 76}},
        {0, 5, 290, 190, {190, 290, 299}, {124, 190, 199}},
        {0, 3, 75, 50, {50, 150, 250}, {34, 100, 166}},
        {0, 5, 150, 100, {50, 150, 250}, {34, 100, 166}},
        // A quarter turn shows 200 by 300, but the thirds stay those of 300 by 200.
        {1, 5, 180, 250, {80, 180, 280}, {184, 250, 199}},
        // Places at the ends of int's range: no overflow on the way.
        {0, 5, INT_MAX, INT_MIN + 1, {INT_MAX - 100, INT_MAX, 299}, {0, INT_MIN + 1, INT_MIN + 67}},
    };
    for (const auto& c : cases) {
        Composition composition;
        CorrectionGrid grid;
        EXPECT_FALSE(centre_mesh_at(grid, composition, c.x, c.y));  // no background yet
        EXPECT_EQ(grid.area_x, CorrectionGrid{}.area_x);

        composition.set_background(Frame(300, 200));
        composition.choices.rotation_index = c.rotation;
        composition.choices.scale_index = c.scale;
        composition.compose(grid, nullptr);
        ASSERT_TRUE(centre_mesh_at(grid, composition, c.x, c.y));
        for (int p = 0; p < 9; ++p) {
            EXPECT_EQ(grid.area_x[p], c.columns[p % 3]) << c.x << "," << c.y << " point " << p;
            EXPECT_EQ(grid.area_y[p], c.rows[p / 3]) << c.x << "," << c.y << " point " << p;
        }
    }
}

TEST(CompositionClicks, ThumbnailPicksTheCellUnderTheClick) {
    const struct {
        int x, y, point;
    } cases[] = {{99, 99, 8}, {34, 0, 1}, {0, 0, 0},   {33, 33, 0}, {66, 0, 1},
                 {67, 0, 2},  {0, 34, 3}, {50, 50, 4}, {0, 67, 6},  {99, 0, 2}};
    for (const auto& c : cases) {
        EXPECT_EQ(thumbnail_point_at(c.x, c.y, 100, 100), c.point) << c.x << "," << c.y;
    }
}

TEST(Composition, OpenBackgroundLoadsAJpegAndAFailureKeepsTheOldOne) {
    test::TemporaryFolder folder;
    const fs::path jpeg = folder.path() / "panorama.jpg";
    ASSERT_TRUE(save_jpeg(test::uniform_frame(48, 32, 30, 120, 200), jpeg).ok());
    const fs::path text = folder.path() / "notes.jpg";
    std::ofstream(text) << "not a picture";

    Composition composition;
    composition.choices = {2, 8, 0, false, {}};
    ASSERT_TRUE(composition.open_background(jpeg).ok());
    EXPECT_TRUE(composition.background_loaded());
    EXPECT_EQ(composition.background_path(), jpeg);
    EXPECT_EQ(composition.background_width(), 48);
    EXPECT_EQ(composition.background_height(), 32);
    const std::uint8_t* p = composition.background_image().pixel(16, 24);
    EXPECT_NEAR(p[0], 30, 3);
    EXPECT_NEAR(p[1], 120, 3);
    EXPECT_NEAR(p[2], 200, 3);
    // A new background starts with the lists at "0", "100%", "100%".
    EXPECT_EQ(composition.choices.rotation_index, kDefaultRotationIndex);
    EXPECT_EQ(composition.choices.scale_index, kDefaultScaleIndex);
    EXPECT_EQ(composition.choices.density_index, kDefaultDensityIndex);
    EXPECT_EQ(composition.display_scale(), 1.0);

    const Frame loaded = composition.background_image();
    composition.choices.scale_index = 3;
    composition.compose(CorrectionGrid{}, nullptr);
    for (const fs::path& bad : {text, folder.path() / "missing.jpg", folder.path()}) {
        EXPECT_FALSE(composition.open_background(bad).ok()) << bad;
        EXPECT_TRUE(composition.background_loaded());
        EXPECT_EQ(composition.background_image(), loaded);
        EXPECT_EQ(composition.background_path(), jpeg);
        EXPECT_EQ(composition.choices.scale_index, 3);
        EXPECT_EQ(composition.display_scale(), 0.5);
    }
}

}  // namespace
}  // namespace tintora
