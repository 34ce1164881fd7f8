// The panorama's geometry, the mesh's two maps and the hotspot frame, each
// against a reference worked out here independently: plain trigonometry of
// the conventions, a pinhole camera, and a slow per-pixel bake.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <string>

#include "core/composition/composition.hpp"
#include "core/viewer/hotspot_frame.hpp"
#include "core/viewer/mesh_map.hpp"
#include "core/viewer/panorama_geometry.hpp"
#include "support/pinhole_camera.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

constexpr double kPi = std::numbers::pi;
constexpr double kRadian = kPi / 180;

TEST(PanoramaGeometry, FollowsTheConventionsBothWays) {
    // The defaults: 2:1 is a whole sphere; a strip spans 360 across.
    EXPECT_EQ(default_panorama_geometry(4096, 2048).vfov, 180);
    EXPECT_EQ(default_panorama_geometry(4000, 1000).vfov, 90);
    EXPECT_EQ(default_panorama_geometry(1000, 1000).vfov, 180);
    const PanoramaGeometry whole = default_panorama_geometry(4096, 2048);
    // The centre column's centre looks ahead; the picture's right edge at 180.
    const Angles ahead = angles_at(whole, {2048, 1024});
    EXPECT_NEAR(ahead.yaw, 0, 1e-12);
    EXPECT_NEAR(ahead.pitch, 0, 1e-12);
    const Angles pixel = angles_at(whole, {3072.5, 511.5});
    EXPECT_NEAR(pixel.yaw, (3072.5 / 4096 - 0.5) * 360, 1e-12);
    EXPECT_NEAR(pixel.pitch, (0.5 - 511.5 / 2048) * 180, 1e-12);
    const Vec3 d = direction_of({30, 20});
    EXPECT_NEAR(d.x, std::cos(20 * kRadian) * std::sin(30 * kRadian), 1e-15);
    EXPECT_NEAR(d.y, std::sin(20 * kRadian), 1e-15);
    EXPECT_NEAR(d.z, std::cos(20 * kRadian) * std::cos(30 * kRadian), 1e-15);

    // Any place comes back from its direction, on whole, partial and turned
    // panoramas; a direction a partial one does not show has no place.
    std::mt19937 random(5);
    const PanoramaGeometry partial{3000, 1000, 270, 90, 45, 10};
    for (const PanoramaGeometry& g : {whole, partial}) {
        std::uniform_real_distribution<double> x(0, g.width);
        std::uniform_real_distribution<double> y(0.01, g.height - 0.01);
        for (int n = 0; n < 200; ++n) {
            const PicturePosition at{x(random), y(random)};
            const std::optional<PicturePosition> back = position_of(g, direction_at(g, at));
            ASSERT_TRUE(back);
            EXPECT_NEAR(back->x, at.x, 1e-7);
            EXPECT_NEAR(back->y, at.y, 1e-7);
        }
    }
    EXPECT_FALSE(position_of(partial, direction_of({-150, 0})));
    EXPECT_FALSE(position_of(partial, direction_of({45, 80})));
}

// The main window shows the background turned; the composition's own
// rendering tells which loaded pixel each shown pixel is.
TEST(PanoramaGeometry, ShownPlacesGoBackToTheLoadedPicture) {
    constexpr int kW = 7;
    constexpr int kH = 5;
    Frame loaded(kW, kH);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            loaded.pixel(y, x)[0] = static_cast<std::uint8_t>(x);
            loaded.pixel(y, x)[1] = static_cast<std::uint8_t>(y);
        }
    }
    for (int rotation = 0; rotation < 4; ++rotation) {
        Composition composition;
        composition.set_background(loaded);
        composition.choices.rotation_index = rotation;
        composition.compose(CorrectionGrid{}, nullptr);
        const Frame& shown = composition.picture();
        for (int y = 0; y < shown.height(); ++y) {
            for (int x = 0; x < shown.width(); ++x) {
                const PicturePosition at = loaded_position({x + 0.5, y + 0.5}, rotation, kW, kH);
                EXPECT_EQ(std::floor(at.x), shown.pixel(y, x)[0]) << rotation;
                EXPECT_EQ(std::floor(at.y), shown.pixel(y, x)[1]) << rotation;
            }
        }
    }
}

using test::grid_of;
using test::PinholeCamera;

// How far the map puts the camera's frame from where it looks, in the
// panorama's pixels: the mean and the largest over the frame.
std::pair<double, double> camera_error(const MeshMap& map, const PinholeCamera& camera,
                                       const PanoramaGeometry& g) {
    const double pixels_per_radian = g.width / (2 * kPi);
    double sum = 0;
    double most = 0;
    int count = 0;
    for (int j = 0; j <= 20; ++j) {
        for (int i = 0; i <= 20; ++i) {
            const FramePoint at{i / 20.0, j / 20.0};
            const Vec3 truth = camera.look(at);
            const Vec3 mapped = map.plane().direction(*map.plane_at(at));
            const double error =
                std::acos(std::min(1.0, dot(truth, mapped))) * pixels_per_radian;
            sum += error;
            most = std::max(most, error);
            ++count;
        }
    }
    return {sum / count, most};
}

TEST(MeshMap, APinholeCamerasNinePointsGiveItsMap) {
    const PanoramaGeometry g = default_panorama_geometry(4096, 2048);
    for (const PinholeCamera camera : {PinholeCamera{20, 10, 0, 40, 16.0 / 9},
                                       PinholeCamera{-70, 35, 8, 40, 4.0 / 3},
                                       PinholeCamera{160, -25, -5, 55, 16.0 / 9}}) {
        const CorrectionGrid grid = grid_of(camera, g);
        const MeshMap perspective = *MeshMap::make(grid, g, 0, MeshModel::Perspective);
        const MeshMap bilinear = *MeshMap::make(grid, g, 0, MeshModel::Bilinear);
        const auto [mean, most] = camera_error(perspective, camera, g);
        const auto [bent_mean, bent_most] = camera_error(bilinear, camera, g);
        // Only the area points' rounding to whole pixels is left.
        EXPECT_LT(mean, 0.4) << camera.yaw;
        EXPECT_LT(most, 0.8) << camera.yaw;
        EXPECT_GT(bent_most, 2.0) << camera.yaw;
        EXPECT_GT(bent_mean, 2 * mean) << camera.yaw;
    }
    // Exactly projective points are fitted exactly.
    const std::array<double, 9> h{1.2, 0.1, -0.6, -0.05, -0.9, 0.45, 0.2, -0.15, 1};
    std::array<FramePoint, 9> from;
    std::array<PlanePoint, 9> to;
    for (int p = 0; p < 9; ++p) {
        from[static_cast<std::size_t>(p)] = {(p % 3) / 2.0, (p / 3) / 2.0};
        to[static_cast<std::size_t>(p)] = apply_homography(h, from[static_cast<std::size_t>(p)]);
    }
    const std::array<double, 9> fitted = *fit_homography(from, to);
    for (std::size_t k = 0; k < 9; ++k) EXPECT_NEAR(fitted[k], h[k], 1e-9) << k;
}

// The inverse finds the frame position of any plane point of the frame,
// also of skewed and nearly degenerate meshes; a folded mesh is told.
TEST(MeshMap, TheInverseFindsEveryPlaceUnlessTheMeshIsFolded) {
    const PanoramaGeometry g = default_panorama_geometry(4096, 2048);
    struct Mesh {
        const char* name;
        std::array<int, 9> x, y;
        bool folded;
    };
    const Mesh meshes[] = {
        {"Skewed", {1800, 2000, 2230, 1830, 2040, 2250, 1870, 2060, 2300},
         {900, 880, 850, 1010, 1000, 980, 1130, 1120, 1100}, false},
        {"NearlyFlat", {1900, 2000, 2100, 1900, 2000, 2100, 1900, 2000, 2100},
         {1000, 1000, 1000, 1003, 1003, 1003, 1006, 1006, 1006}, false},
        {"CentreBeyondACorner", {1900, 2000, 2100, 1900, 2130, 2100, 1900, 2000, 2100},
         {900, 900, 900, 1000, 1130, 1000, 1100, 1100, 1100}, true},
        {"CornersCrossed", {2100, 2000, 1900, 1900, 2000, 2100, 1900, 2000, 2100},
         {900, 900, 900, 1000, 1000, 1000, 1100, 1100, 1100}, true},
    };
    std::mt19937 random(3);
    std::uniform_real_distribution<double> unit(0, 1);
    for (const Mesh& mesh : meshes) {
        SCOPED_TRACE(mesh.name);
        CorrectionGrid grid;
        grid.area_x = mesh.x;
        grid.area_y = mesh.y;
        for (const MeshModel model : {MeshModel::Bilinear, MeshModel::Perspective}) {
            const MeshMap map = *MeshMap::make(grid, g, 0, model);
            EXPECT_EQ(map.folded(), mesh.folded);
            if (mesh.folded) continue;
            for (int n = 0; n < 100; ++n) {
                const FramePoint at{unit(random), unit(random)};
                const PlanePoint p = *map.plane_at(at);
                const std::optional<FramePoint> back = map.frame_at(p, map.rough_frame_at(p));
                ASSERT_TRUE(back);
                EXPECT_NEAR(back->u, at.u, 1e-8);
                EXPECT_NEAR(back->v, at.v, 1e-8);
            }
        }
    }
}

TEST(HotspotFrame, PlacesTheMeshAndGivesTheViewersNumbers) {
    const PanoramaGeometry g = default_panorama_geometry(4096, 2048);
    const PinholeCamera camera{20, 10, 0, 40, 16.0 / 9};
    const MeshMap map = *MeshMap::make(grid_of(camera, g), g, 0, MeshModel::Perspective);
    const HotspotPlacement placed = place_hotspot(map, {1280, 720});
    ASSERT_EQ(placed.problem, HotspotProblem::None);
    const HotspotFrame& f = placed.frame;
    EXPECT_NEAR(f.centre.yaw, 20, 0.05);
    EXPECT_NEAR(f.centre.pitch, 10, 0.05);
    // A little more than the camera's 40 degrees, as sharp as the clip.
    EXPECT_GT(f.horizontal_fov(), 40);
    EXPECT_LT(f.horizontal_fov(), 40.5);
    EXPECT_NEAR(f.width, 1280, 12);
    EXPECT_EQ(f.width % 2, 0);
    EXPECT_EQ(f.height % 2, 0);
    EXPECT_NEAR(f.krpano.ath, f.centre.yaw, 1e-12);
    EXPECT_NEAR(f.krpano.atv, -f.centre.pitch, 1e-12);
    EXPECT_NEAR(f.krpano.width, 1000 * std::tan(f.horizontal_fov() / 2 * kRadian), 1e-9);
    EXPECT_NEAR(f.krpano.height, 1000 * std::tan(f.vertical_fov() / 2 * kRadian), 1e-9);
    // The corners lie where the frame's outer corners look.
    const Vec3 top_left = direction_of(f.corners[0]);
    const PlanePoint corner = *f.plane.project(top_left);
    EXPECT_NEAR(corner.x, -f.tan_alpha, 1e-9);
    EXPECT_NEAR(corner.y, f.tan_beta, 1e-9);

    // Refused: a mesh spread over more than 150 degrees, a folded one, a
    // clip of less than 2 by 2 pixels.
    CorrectionGrid wide;
    for (int p = 0; p < kGridPointCount; ++p) {
        wide.area_x[p] = 100 + (p % 3) * 1000;
        wide.area_y[p] = 700 + (p / 3) * 300;
    }
    EXPECT_EQ(place_hotspot(*MeshMap::make(wide, g, 0, MeshModel::Bilinear), {640, 360}).problem,
              HotspotProblem::TooWide);
    CorrectionGrid folded = grid_of(camera, g);
    std::swap(folded.area_x[0], folded.area_x[2]);
    EXPECT_EQ(
        place_hotspot(*MeshMap::make(folded, g, 0, MeshModel::Bilinear), {640, 360}).problem,
        HotspotProblem::Folded);
    EXPECT_EQ(place_hotspot(map, {1, 1}).problem, HotspotProblem::TooSmall);
}

// Where the bake reads the clip at a fractional frame place: its lookup
// interpolated between the four pixels around.
FramePoint looked_up(const HotspotBake& bake, double i, double j) {
    const int i0 = static_cast<int>(std::floor(i));
    const int j0 = static_cast<int>(std::floor(j));
    const double s = i - i0;
    const double t = j - j0;
    FramePoint at;
    for (const auto& [di, dj, w] : {std::tuple{0, 0, (1 - s) * (1 - t)}, std::tuple{1, 0, s * (1 - t)},
                                   std::tuple{0, 1, (1 - s) * t}, std::tuple{1, 1, s * t}}) {
        const FramePoint p = *bake.place(i0 + di, j0 + dj);
        at.u += w * p.u;
        at.v += w * p.v;
    }
    return at;
}

TEST(HotspotBake, TheNinePointsLandOnTheirMeshPlaces) {
    const PanoramaGeometry g = default_panorama_geometry(4096, 2048);
    const Frame panorama = test::uniform_frame(256, 128, 90, 120, 150);
    const PinholeCamera camera{-70, 35, 8, 40, 4.0 / 3};
    const CorrectionGrid grid = grid_of(camera, g);
    const FrameSize clip{640, 480};
    for (const MeshModel model : {MeshModel::Bilinear, MeshModel::Perspective}) {
        const MeshMap map = *MeshMap::make(grid, g, 0, model);
        const HotspotFrame frame = place_hotspot(map, clip).frame;
        const HotspotBake bake(frame, map, clip, panorama, g, 0);
        for (int p = 0; p < kGridPointCount; ++p) {
            // The point's place on the frame, in pixels (centres at + 0.5).
            const PlanePoint on = map.point(p);
            const double i = (on.x / frame.tan_alpha + 1) * frame.width / 2 - 0.5;
            const double j = (1 - on.y / frame.tan_beta) * frame.height / 2 - 0.5;
            const FramePoint at = looked_up(bake, i, j);
            EXPECT_NEAR(at.u * (clip.width - 1), (p % 3) / 2.0 * (clip.width - 1), 0.05) << p;
            EXPECT_NEAR(at.v * (clip.height - 1), (p / 3) / 2.0 * (clip.height - 1), 0.05) << p;
        }
    }
}

// The panorama at a direction as a plain per-pixel bake reads it: bilinear
// between pixel centres, wrapping across a whole turn's seam, black where it
// does not reach.
void plain_panorama(const Frame& panorama, const PanoramaGeometry& g, Vec3 d, double* value) {
    const std::optional<PicturePosition> at = position_of(g, d);
    const int w = panorama.width();
    const int h = panorama.height();
    const bool wraps = g.hfov == 360;
    const double px = at ? at->x - 0.5 : 0;
    const double py = at ? std::clamp(at->y - 0.5, 0.0, h - 1.0) : 0;
    const int x0 = static_cast<int>(std::floor(px));
    const int y0 = static_cast<int>(py);
    const int y1 = std::min(y0 + 1, h - 1);
    const auto column = [&](int x) { return wraps ? ((x % w) + w) % w : std::clamp(x, 0, w - 1); };
    for (int c = 0; c < 3; ++c) {
        const auto v = [&](int y, int x) { return double(panorama.pixel(y, column(x))[c]); };
        const double fx = px - x0;
        const double fy = py - y0;
        value[c] = at ? (v(y0, x0) * (1 - fx) + v(y0, x0 + 1) * fx) * (1 - fy) +
                            (v(y1, x0) * (1 - fx) + v(y1, x0 + 1) * fx) * fy
                      : 0;
    }
}

// A smooth clip: the bake's places may differ from the exact ones by a
// hundredth of a pixel, which on noise would be anything.
Frame smooth_clip(int width, int height) {
    Frame clip(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            for (int c = 0; c < 3; ++c) {
                clip.pixel(y, x)[c] = static_cast<std::uint8_t>(
                    128 + 100 * std::sin(0.1 * x + c) * std::cos(0.08 * y));
            }
        }
    }
    return clip;
}

struct BakeCase {
    const char* name;
    PanoramaGeometry geometry;  // of a 360 x 180 picture
    std::optional<PinholeCamera> camera;  // none: a skewed mesh ahead
    MeshModel model;
    int edge;
    // Small clips make lattices of two pixels; one of many pixels a degree
    // has the coarsest lattice, most of it interpolated along lines.
    FrameSize clip{40, 30};
};

void PrintTo(const BakeCase& c, std::ostream* out) { *out << c.name; }

class PlainBake : public testing::TestWithParam<BakeCase> {};

// The baked frame against a plain per-pixel bake in doubles: each pixel's
// own exact inverse, bilinear reading, smooth edge and blend; at the
// panorama's seam, over a pole and beyond the reach of a partial panorama.
TEST_P(PlainBake, MatchesItInDoubles) {
    const BakeCase& c = GetParam();
    const PanoramaGeometry& g = c.geometry;
    std::mt19937 random(11);
    const Frame panorama = test::random_frame(360, 180, random);
    const int w = c.clip.width;
    const int h = c.clip.height;
    const Frame clip = smooth_clip(w, h);
    CorrectionGrid grid;
    grid.area_x = {150, 170, 192, 148, 171, 193, 151, 170, 190};
    grid.area_y = {70, 68, 66, 81, 80, 79, 92, 92, 91};
    if (c.camera) grid = grid_of(*c.camera, g);
    const MeshMap map = *MeshMap::make(grid, g, 0, c.model);
    const HotspotPlacement placed = place_hotspot(map, {w, h});
    ASSERT_EQ(placed.problem, HotspotProblem::None);
    const HotspotFrame& frame = placed.frame;
    const HotspotBake bake(frame, map, {w, h}, panorama, g, c.edge);
    Frame baked;
    bake.bake(clip, baked);
    ASSERT_EQ(baked.width(), frame.width);
    int most = 0;
    for (int j = 0; j < frame.height; ++j) {
        std::optional<FramePoint> before;  // the pixel to the left's place
        for (int i = 0; i < frame.width; ++i) {
            double panorama_value[3];
            plain_panorama(panorama, g, frame.plane.direction(frame.plane_point(i, j)),
                           panorama_value);
            // The clip there, by the map's own exact inverse.
            const PlanePoint target = frame.plane_point(i, j);
            // (Started from the place next to it: the same place, sooner.)
            const std::optional<FramePoint> place =
                map.frame_at(target, before ? *before : map.rough_frame_at(target));
            before = place;
            double weight = 0;
            double clip_value[3] = {0, 0, 0};
            if (place && place->u >= 0 && place->u <= 1 && place->v >= 0 && place->v <= 1) {
                const double x = place->u * (w - 1);
                const double y = place->v * (h - 1);
                const double t = c.edge > 0 ? std::clamp(std::min({x, w - 1 - x, y, h - 1 - y}) /
                                                             c.edge,
                                                         0.0, 1.0)
                                            : 1.0;
                weight = t * t * (3 - 2 * t);
                const int cx = std::min(static_cast<int>(x), w - 2);
                const int cy = std::min(static_cast<int>(y), h - 2);
                for (int ch = 0; ch < 3; ++ch) {
                    const auto v = [&](int yy, int xx) { return double(clip.pixel(yy, xx)[ch]); };
                    clip_value[ch] =
                        (v(cy, cx) * (cx + 1 - x) + v(cy, cx + 1) * (x - cx)) * (cy + 1 - y) +
                        (v(cy + 1, cx) * (cx + 1 - x) + v(cy + 1, cx + 1) * (x - cx)) * (y - cy);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                const double expected =
                    panorama_value[ch] * (1 - weight) + clip_value[ch] * weight;
                most = std::max(most, static_cast<int>(std::lround(
                                          std::fabs(expected - baked.pixel(j, i)[ch]))));
            }
        }
    }
    // Whole levels and fractions in 256ths: a level or two at most.
    EXPECT_LE(most, 2);
    // A frame of another size than the clip's reads nothing of it.
    bake.bake(smooth_clip(w - 1, h), baked);
    EXPECT_EQ(baked, bake.background());
}

const PanoramaGeometry kWhole = default_panorama_geometry(360, 180);

INSTANTIATE_TEST_SUITE_P(
    Meshes, PlainBake,
    testing::Values(
        BakeCase{"SkewedBilinear", kWhole, std::nullopt, MeshModel::Bilinear, 4},
        BakeCase{"SkewedPerspectiveHardEdge", kWhole, std::nullopt, MeshModel::Perspective, 0},
        BakeCase{"AcrossTheSeam", kWhole, PinholeCamera{178, -10, 6, 40, 4.0 / 3},
                 MeshModel::Perspective, 4},
        BakeCase{"OverThePole", kWhole, PinholeCamera{30, 80, 0, 50, 4.0 / 3},
                 MeshModel::Perspective, 4},
        // The nine points lie within a degree of the picture's right and
        // top edges; the frame's margin reaches beyond both.
        BakeCase{"BeyondAPartialPanorama", PanoramaGeometry{360, 180, 60, 40, 6, -3},
                 PinholeCamera{20, 5, 0, 30, 4.0 / 3}, MeshModel::Bilinear, 4},
        BakeCase{"SharpClip", kWhole, PinholeCamera{-40, 20, 5, 10, 4.0 / 3},
                 MeshModel::Bilinear, 6, {200, 150}}),
    [](const testing::TestParamInfo<BakeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tintora
