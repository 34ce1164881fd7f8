#include "core/correction/frame_transforms.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <iterator>
#include <random>
#include <utility>
#include <vector>

#include "support/test_pictures.hpp"

namespace tintora {
namespace {

// (source row, source column) that destination pixel (r, c) must copy.
using SourceOf = std::function<std::pair<int, int>(int r, int c)>;

// The destination has the given size and every pixel is the three bytes of
// the source pixel the rule names.
::testing::AssertionResult follows_rule(const Frame& src, const Frame& dst, int width, int height,
                                        const SourceOf& source_of) {
    if (dst.width() != width || dst.height() != height) {
        return ::testing::AssertionFailure() << "size " << dst.width() << "x" << dst.height()
                                             << ", expected " << width << "x" << height;
    }
    for (int r = 0; r < height; ++r) {
        for (int c = 0; c < width; ++c) {
            const auto [sr, sc] = source_of(r, c);
            const std::uint8_t* want = src.pixel(sr, sc);
            const std::uint8_t* got = dst.pixel(r, c);
            if (want[0] != got[0] || want[1] != got[1] || want[2] != got[2]) {
                return ::testing::AssertionFailure()
                       << "dst(" << r << ", " << c << ") is not src(" << sr << ", " << sc << ")";
            }
        }
    }
    return ::testing::AssertionSuccess();
}

// A 1-high frame whose pixel c carries the label c in all three bytes.
Frame labelled_row(int width) {
    Frame frame(width, 1);
    for (int c = 0; c < width; ++c) {
        std::uint8_t* p = frame.pixel(0, c);
        p[0] = p[1] = p[2] = static_cast<std::uint8_t>(c);
    }
    return frame;
}

std::vector<int> labels_of_row(const Frame& frame, int r) {
    std::vector<int> labels;
    for (int c = 0; c < frame.width(); ++c) labels.push_back(frame.pixel(r, c)[0]);
    return labels;
}

using Transform = std::function<void(const Frame&, Frame&)>;
using SizeOf = std::function<std::pair<int, int>(int ws, int hs)>;

TEST(FrameTransforms, EveryTransformFollowsItsIndexRule) {
    const auto same = [](int ws, int hs) { return std::pair{ws, hs}; };
    const auto swapped = [](int ws, int hs) { return std::pair{hs, ws}; };
    const struct {
        const char* name;
        Transform transform;
        SizeOf size_of;
        std::function<std::pair<int, int>(int r, int c, int ws, int hs)> source_of;
    } transforms[] = {
        {"rotate 0", [](const Frame& s, Frame& d) { rotate_frame(s, d, 0); }, same,
         [](int r, int c, int, int) {
             return std::pair{r, c};
         }},
        {"rotate 90", [](const Frame& s, Frame& d) { rotate_frame(s, d, 90); }, swapped,
         [](int r, int c, int, int hs) {
             return std::pair{hs - 1 - c, r};
         }},
        {"rotate 180", [](const Frame& s, Frame& d) { rotate_frame(s, d, 180); }, same,
         [](int r, int c, int ws, int hs) {
             return std::pair{hs - 1 - r, ws - 1 - c};
         }},
        {"rotate 270", [](const Frame& s, Frame& d) { rotate_frame(s, d, 270); }, swapped,
         [](int r, int c, int ws, int) {
             return std::pair{c, ws - 1 - r};
         }},
        {"mirror_rows", mirror_rows, same,
         [](int r, int c, int, int hs) {
             return std::pair{hs - 1 - r, c};
         }},
        {"mirror_columns", mirror_columns, same,
         [](int r, int c, int ws, int) {
             return std::pair{r, ws - 1 - c};
         }},
        {"copy", copy_frame, same,
         [](int r, int c, int, int) {
             return std::pair{r, c};
         }},
    };
    // Odd widths (padded rows), single rows and columns, and sides longer
    // than the 64-pixel tiles of the quarter turns.
    const std::pair<int, int> sizes[] = {{1, 1}, {3, 2}, {2, 3},    {1, 5},
                                         {5, 1}, {7, 5}, {70, 130}, {130, 65}};
    std::mt19937 random(1);
    for (const auto& [ws, hs] : sizes) {
        const Frame src = test::random_frame(ws, hs, random);
        for (const auto& t : transforms) {
            Frame dst;
            t.transform(src, dst);
            const auto [wd, hd] = t.size_of(ws, hs);
            EXPECT_TRUE(follows_rule(src, dst, wd, hd,
                                     [&](int r, int c) { return t.source_of(r, c, ws, hs); }))
                << t.name << " of " << ws << "x" << hs;
        }
    }
}

TEST(RotateFrame, ThreeByTwoTurnedClockwise) {
    // Source labels:  0 1 2
    //                 3 4 5
    Frame src(3, 2);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < 3; ++c) src.pixel(r, c)[0] = static_cast<std::uint8_t>(3 * r + c);
    }
    Frame dst;
    rotate_frame(src, dst, 90);
    ASSERT_EQ(dst.width(), 2);
    ASSERT_EQ(dst.height(), 3);
    // The top row is the left column read from the bottom up.
    EXPECT_EQ(labels_of_row(dst, 0), (std::vector<int>{3, 0}));
    EXPECT_EQ(labels_of_row(dst, 1), (std::vector<int>{4, 1}));
    EXPECT_EQ(labels_of_row(dst, 2), (std::vector<int>{5, 2}));
}

TEST(RotateFrame, OtherAnglesLeaveTheDestinationUntouched) {
    std::mt19937 random(2);
    const Frame src = test::random_frame(6, 4, random);
    for (const int angle : {45, 1, -90, 360, 450}) {
        Frame dst = test::random_frame(3, 7, random);
        const Frame before = dst;
        rotate_frame(src, dst, angle);
        EXPECT_EQ(dst, before) << "angle " << angle;
    }
}

TEST(FrameTransforms, CompositionsThatGiveBackOrTurnThePicture) {
    std::mt19937 random(3);
    const Frame src = test::random_frame(7, 5, random);
    Frame a;
    Frame b;

    rotate_frame(src, a, 90);
    rotate_frame(a, b, 270);
    EXPECT_EQ(b, src) << "90 then 270";
    rotate_frame(src, a, 270);
    rotate_frame(a, b, 90);
    EXPECT_EQ(b, src) << "270 then 90";
    rotate_frame(src, a, 180);
    rotate_frame(a, b, 180);
    EXPECT_EQ(b, src) << "180 twice";

    Frame turned;
    rotate_frame(src, a, 90);
    rotate_frame(a, b, 90);
    rotate_frame(src, turned, 180);
    EXPECT_EQ(b, turned) << "90 twice is 180";

    mirror_rows(src, a);
    mirror_columns(a, b);
    EXPECT_EQ(b, turned) << "mirror_rows then mirror_columns is 180";
    mirror_columns(src, a);
    mirror_rows(a, b);
    EXPECT_EQ(b, turned) << "mirror_columns then mirror_rows is 180";

    a = src;
    invert_frame(a);
    EXPECT_NE(a, src);
    invert_frame(a);
    EXPECT_EQ(a, src) << "invert twice";
}

TEST(CutFrame, TakesTheRectangleClippedToTheSource) {
    const struct {
        int x, y, w, h;
        int left, top, width, height;  // what remains after clipping
    } cases[] = {
        {2, 3, 4, 2, 2, 3, 4, 2},               // inside
        {0, 0, 10, 8, 0, 0, 10, 8},             // the whole source
        {9, 7, 1, 1, 9, 7, 1, 1},               // the last pixel
        {7, 6, 5, 5, 7, 6, 3, 2},               // past the right and bottom
        {-2, -1, 5, 4, 0, 0, 3, 3},             // before the left and top
        {0, 0, INT_MAX, INT_MAX, 0, 0, 10, 8},  // x + w beyond int
        {INT_MAX - 1, 0, 10, 2, 0, 0, 0, 0},    // far outside
        {10, 0, 3, 3, 0, 0, 0, 0},              // just right of the source
        {3, 3, 0, 5, 0, 0, 0, 0},               // zero width
        {2, 2, -3, 4, 0, 0, 0, 0},              // negative width
    };
    std::mt19937 random(5);
    const Frame src = test::random_frame(10, 8, random);
    for (const auto& t : cases) {
        Frame dst = test::random_frame(4, 4, random);
        cut_frame(src, t.x, t.y, t.w, t.h, dst);
        EXPECT_TRUE(follows_rule(src, dst, t.width, t.height,
                                 [&](int r, int c) {
                                     return std::pair{t.top + r, t.left + c};
                                 }))
            << "cut " << t.x << "," << t.y << " " << t.w << "x" << t.h;
        EXPECT_EQ(dst.empty(), t.width == 0);
    }
}

TEST(ResampleFrame, FiveColumnsToThreeAndToNine) {
    const Frame five = labelled_row(5);
    Frame dst(3, 1);
    resample_frame(five, dst);
    EXPECT_EQ(labels_of_row(dst, 0), (std::vector<int>{0, 2, 4}));
    dst.resize(9, 1);
    resample_frame(five, dst);
    EXPECT_EQ(labels_of_row(dst, 0), (std::vector<int>{0, 0, 1, 1, 2, 2, 3, 3, 4}));
}

TEST(ResampleFrame, KeepsTheCallersSizeAndFollowsTheIndexRule) {
    const struct {
        int ws, hs, wd, hd;
    } cases[] = {{7, 5, 3, 11}, {13, 4, 29, 2},  {64, 48, 17, 33}, {2, 2, 100, 3},
                 {6, 9, 6, 9},  {200, 3, 7, 70}, {1, 1, 4, 4}};
    std::mt19937 random(6);
    for (const auto& t : cases) {
        const Frame src = test::random_frame(t.ws, t.hs, random);
        Frame dst(t.wd, t.hd);
        resample_frame(src, dst);
        EXPECT_TRUE(follows_rule(
            src, dst, t.wd, t.hd,
            [&](int r, int c) {
                return std::pair{r * (t.hs - 1) / (t.hd - 1), c * (t.ws - 1) / (t.wd - 1)};
            }))
            << t.ws << "x" << t.hs << " -> " << t.wd << "x" << t.hd;
        if (t.ws == t.wd && t.hs == t.hd) {
            EXPECT_EQ(dst, src) << "resampling to the same size is a copy";
        }
    }
}

TEST(ResampleFrame, DegenerateSizes) {
    std::mt19937 random(7);
    const Frame src = test::random_frame(6, 4, random);

    Frame one_wide(1, 4);
    resample_frame(src, one_wide);
    EXPECT_TRUE(follows_rule(src, one_wide, 1, 4, [](int r, int) { return std::pair{r, 0}; }));

    Frame one_high(5, 1);
    resample_frame(src, one_high);
    EXPECT_TRUE(follows_rule(src, one_high, 5, 1, [](int, int c) {
        return std::pair{0, c * 5 / 4};
    }));

    Frame single(1, 1);
    resample_frame(src, single);
    EXPECT_TRUE(follows_rule(src, single, 1, 1, [](int, int) { return std::pair{0, 0}; }));

    // Nothing to take from: the destination keeps its size and turns black.
    Frame from_nothing = test::random_frame(4, 3, random);
    resample_frame(Frame{}, from_nothing);
    EXPECT_EQ(from_nothing, Frame(4, 3));

    Frame nowhere;
    resample_frame(src, nowhere);
    EXPECT_TRUE(nowhere.empty());
}

// Empty frames are accepted everywhere (a cut of width 0 makes one), and a
// source may be its own destination.
TEST(FrameTransforms, EmptyFramesAndAliasedSourcesAreTolerated) {
    const std::pair<const char*, Transform> transforms[] = {
        {"rotate 0", [](const Frame& s, Frame& d) { rotate_frame(s, d, 0); }},
        {"rotate 90", [](const Frame& s, Frame& d) { rotate_frame(s, d, 90); }},
        {"rotate 180", [](const Frame& s, Frame& d) { rotate_frame(s, d, 180); }},
        {"rotate 270", [](const Frame& s, Frame& d) { rotate_frame(s, d, 270); }},
        {"cut", [](const Frame& s, Frame& d) { cut_frame(s, 1, 2, 4, 3, d); }},
        {"mirror_rows", mirror_rows},
        {"mirror_columns", mirror_columns},
        {"copy", copy_frame},
    };
    std::mt19937 random(8);
    for (const auto& [name, transform] : transforms) {
        for (const Frame& empty : {Frame{}, Frame(0, 5), Frame(4, -1)}) {
            Frame dst = test::random_frame(3, 2, random);
            transform(empty, dst);
            EXPECT_TRUE(dst.empty()) << name;
        }
        const Frame original = test::random_frame(7, 5, random);
        Frame expected;
        transform(original, expected);
        Frame aliased = original;
        transform(aliased, aliased);
        EXPECT_EQ(aliased, expected) << name;
    }
    Frame aliased = test::random_frame(7, 5, random);
    const Frame original = aliased;
    resample_frame(aliased, aliased);
    EXPECT_EQ(aliased, original);

    Frame empty;
    to_grayscale(empty);
    invert_frame(empty);
    EXPECT_TRUE(empty.empty());
}

TEST(FrameTransforms, GreyIsTheIntegerMeanAndInverseIs255Minus) {
    const struct {
        int b, g, r, mean;
    } cases[] = {{10, 20, 31, 20}, {255, 255, 255, 255}, {255, 255, 254, 254},
                 {0, 0, 2, 0},     {1, 1, 1, 1},         {0, 128, 255, 127}};
    // One pixel per case, on two rows of an odd, padded width.
    Frame original(static_cast<int>(std::size(cases)), 2);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < original.width(); ++c) {
            std::uint8_t* p = original.pixel(r, c);
            p[0] = static_cast<std::uint8_t>(cases[c].b);
            p[1] = static_cast<std::uint8_t>(cases[c].g);
            p[2] = static_cast<std::uint8_t>(cases[c].r);
        }
    }
    Frame grey = original;
    to_grayscale(grey);
    // Rows long enough for the vector kernel (16 pixels at a time) and a tail.
    std::mt19937 random(3);
    Frame wide = test::random_frame(53, 3, random);
    const Frame wide_original = wide;
    to_grayscale(wide);
    for (int r = 0; r < wide.height(); ++r) {
        for (int c = 0; c < wide.width(); ++c) {
            const std::uint8_t* p = wide_original.pixel(r, c);
            const int mean = (p[0] + p[1] + p[2]) / 3;
            for (int i = 0; i < 3; ++i) ASSERT_EQ(wide.pixel(r, c)[i], mean) << r << "," << c;
        }
    }
    Frame inverse = original;
    invert_frame(inverse);
    for (int r = 0; r < 2; ++r) {
        for (int c = 0; c < original.width(); ++c) {
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(grey.pixel(r, c)[i], cases[c].mean) << "pixel " << c;
                EXPECT_EQ(inverse.pixel(r, c)[i], 255 - original.pixel(r, c)[i]) << "pixel " << c;
            }
        }
    }
}

}  // namespace
}  // namespace tintora
