// The composition and the matching by the perspective model: a pinhole
// camera's frame, laid through its nine points, lands where the model's
// exact map puts it, and its pixels pair with the background pixels the
// camera cut them from.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "core/composition/colour_matching.hpp"
#include "core/composition/composition.hpp"
#include "core/viewer/mesh_map.hpp"
#include "core/viewer/camera_warp.hpp"
#include "support/pinhole_camera.hpp"
#include "support/test_pictures.hpp"

namespace tintora {
namespace {

using test::PinholeCamera;

constexpr int kPanoramaWidth = 2048;
constexpr int kPanoramaHeight = 1024;
// Looking up steeply, where the panorama's pixels stretch the most.
constexpr PinholeCamera kCamera{20, 35, 10, 70, 4.0 / 3.0};

// A place on the picture as loaded, on the background turned by a rotation
// index: the turn of loaded_position undone.
PicturePosition turned(PicturePosition loaded, int rotation) {
    const double w = kPanoramaWidth;
    const double h = kPanoramaHeight;
    const PicturePosition shown = rotation == 1   ? PicturePosition{h - loaded.y, loaded.x}
                                  : rotation == 2 ? PicturePosition{w - loaded.x, h - loaded.y}
                                  : rotation == 3 ? PicturePosition{loaded.y, w - loaded.x}
                                                  : loaded;
    return shown;
}

// Where the camera looks from frame position (u, v), on the background as shown.
PicturePosition camera_place(double u, double v, int rotation) {
    const PanoramaGeometry g = default_panorama_geometry(kPanoramaWidth, kPanoramaHeight);
    return turned(position_of(g, kCamera.look({u, v})).value(), rotation);
}

// The camera's nine points on the background turned by a rotation index.
CorrectionGrid camera_grid(int rotation) {
    CorrectionGrid grid;
    for (int p = 0; p < kGridPointCount; ++p) {
        const PicturePosition at = camera_place((p % 3) / 2.0, (p / 3) / 2.0, rotation);
        grid.area_x[p] = static_cast<int>(std::floor(at.x));
        grid.area_y[p] = static_cast<int>(std::floor(at.y));
    }
    return grid;
}

struct ComposedCase {
    std::string name;
    int rotation_index;
    int scale_index;
};

class PerspectiveComposition : public testing::TestWithParam<ComposedCase> {};

// Where the perspective model's exact map puts frame position (u, v), on
// the background as shown.
PicturePosition exact_place(const MeshMap& map, double u, double v, int rotation) {
    const PanoramaGeometry g = default_panorama_geometry(kPanoramaWidth, kPanoramaHeight);
    return turned(position_of(g, map.plane().direction(map.plane_at({u, v}).value())).value(),
                  rotation);
}

// Frame pixel (x, y) is (B, G, R) = (x + 50, y + 50, 0) over a red
// background: each drawn sample is found again by its colour (bright enough
// to come through the identity correction as it is).
constexpr int kCodeBase = 50;

// How far, at worst, the exact map's place for a drawn sample lies outside
// the picture pixel it landed on, in picture pixels; `found` counts the
// samples seen.
double worst_landing(const Frame& picture, const Frame& frame, const MeshMap& map, double scale,
                     int rotation, int& found) {
    double worst = 0.0;
    found = 0;
    for (int y = 0; y < picture.height(); ++y) {
        for (int x = 0; x < picture.width(); ++x) {
            const std::uint8_t* pixel = picture.pixel(y, x);
            // The markers are pure green or red.
            if (pixel[2] != 0 || pixel[1] == 255) continue;
            ++found;
            const PicturePosition exact =
                exact_place(map, (pixel[0] - kCodeBase) / (frame.width() - 1.0),
                            (pixel[1] - kCodeBase) / (frame.height() - 1.0), rotation);
            const auto past = [](double place, int landed) {
                return std::max({0.0, landed - place, place - (landed + 1.0)});
            };
            worst = std::max({worst, past(exact.x * scale, x), past(exact.y * scale, y)});
        }
    }
    return worst;
}

TEST_P(PerspectiveComposition, LandsTheFrameWhereTheExactMapPutsIt) {
    const ComposedCase& c = GetParam();
    Frame frame(200, 150);
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            std::uint8_t* pixel = frame.pixel(y, x);
            pixel[0] = static_cast<std::uint8_t>(x + kCodeBase);
            pixel[1] = static_cast<std::uint8_t>(y + kCodeBase);
            pixel[2] = 0;
        }
    }
    const CorrectionGrid grid = camera_grid(c.rotation_index);
    const auto compose = [&](MeshModel model, bool with_maker) {
        Composition composition;
        composition.set_background(test::uniform_frame(kPanoramaWidth, kPanoramaHeight, 0, 0, 255));
        if (with_maker) composition.set_mesh_warp_maker(perspective_mesh_warp());
        composition.choices.rotation_index = c.rotation_index;
        composition.choices.scale_index = c.scale_index;
        composition.choices.panorama.mesh_model = model;
        composition.compose(grid, &frame);
        return std::pair{composition.picture(), composition.display_scale()};
    };
    const MeshMap map =
        MeshMap::make(grid, default_panorama_geometry(kPanoramaWidth, kPanoramaHeight),
                      c.rotation_index, MeshModel::Perspective)
            .value();
    const auto [perspective, scale] = compose(MeshModel::Perspective, true);
    int found = 0;
    // Each sample on the pixel the exact place lies on, give or take the
    // lattice's blend.
    EXPECT_LE(worst_landing(perspective, frame, map, scale, c.rotation_index, found), 0.05);
    // Most samples stay in sight (a magnified frame covers none of them).
    EXPECT_GT(found, 199 * 149 * 9 / 10);

    // The bilinear model is the original rule, maker or not, and lays this
    // frame visibly elsewhere.
    const Frame bilinear = compose(MeshModel::Bilinear, true).first;
    EXPECT_TRUE(bilinear == compose(MeshModel::Bilinear, false).first);
    EXPECT_GT(worst_landing(bilinear, frame, map, scale, c.rotation_index, found), 3.0);
}

INSTANTIATE_TEST_SUITE_P(
    TurnsAndScales, PerspectiveComposition,
    testing::Values(ComposedCase{"Unturned", 0, kDefaultScaleIndex},
                    ComposedCase{"QuarterTurnAt150", 1, 6},
                    ComposedCase{"ThreeQuartersAt67", 3, 4}),
    [](const testing::TestParamInfo<ComposedCase>& info) { return info.param.name; });

// A frame sampled from the panorama by the camera, each pixel the panorama's
// pixel where the camera looks from it; the panorama a gentle texture that
// never makes a strong edge.
TEST(PerspectiveMatching, PairsAClipWithWhatTheCameraSaw) {
    Frame panorama(kPanoramaWidth, kPanoramaHeight);
    for (int y = 0; y < panorama.height(); ++y) {
        for (int x = 0; x < panorama.width(); ++x) {
            const double level = 120 + 40 * std::sin(x / 5.0) * std::sin(y / 7.0) + 0.02 * x;
            std::uint8_t* pixel = panorama.pixel(y, x);
            pixel[0] = pixel[1] = pixel[2] = static_cast<std::uint8_t>(level);
        }
    }
    Frame clip(240, 180);
    for (int y = 0; y < clip.height(); ++y) {
        for (int x = 0; x < clip.width(); ++x) {
            const PicturePosition at = camera_place(x / 239.0, y / 179.0, 0);
            const std::uint8_t* source =
                panorama.pixel(static_cast<int>(at.y), static_cast<int>(at.x));
            std::copy(source, source + 3, clip.pixel(y, x));
        }
    }
    const CorrectionGrid grid = camera_grid(0);
    std::vector<int> pixels_at(256, 0);
    for (int y = 0; y < clip.height(); ++y) {
        for (int x = 0; x < clip.width(); ++x) ++pixels_at[clip.pixel(y, x)[0]];
    }
    // How far matched curves stray from the identity over the levels the
    // clip shows plenty of, at worst.
    const auto stray = [&](const CorrectionGrid& matched) {
        int worst = 0;
        for (int p = 0; p < kGridPointCount; ++p) {
            for (int level = 0; level < 256; ++level) {
                if (pixels_at[static_cast<std::size_t>(level)] < 200) continue;
                worst = std::max(worst, std::abs(matched.color_table[p][level] - level));
            }
        }
        return worst;
    };
    const auto background_by = [&](MeshModel model) {
        MatchBackground background{&panorama, 0};
        background.panorama.mesh_model = model;
        background.warp_maker = perspective_mesh_warp();
        return background;
    };
    // Registered and paired through the perspective model, the clip agrees
    // with the panorama and its curves stay put.
    const MatchOutcome outcome =
        match_colours(grid, CorrectionMode::Brightness, std::span<const Frame>(&clip, 1),
                      background_by(MeshModel::Perspective));
    ASSERT_EQ(outcome.problem, MatchProblem::None);
    EXPECT_LE(stray(outcome.result.grid), 2);
    // Paired by the bilinear rule, its pixels meet the wrong background
    // pixels and the curves go astray.
    MatchStatistics statistics(CorrectionMode::Brightness);
    statistics.add_frame(clip, grid, background_by(MeshModel::Bilinear));
    EXPECT_GT(stray(fit_matched_curves(grid, statistics).grid), 6);
}

}  // namespace
}  // namespace tintora
