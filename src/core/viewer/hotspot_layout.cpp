#include "core/viewer/hotspot_layout.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "core/viewer/viewer_texts.hpp"

namespace tintora {
namespace {

PanoramaGeometry geometry_of(const Composition& composition) {
    return panorama_geometry(composition.background_width(), composition.background_height(),
                             composition.choices.panorama);
}

}  // namespace

Result<HotspotLayout> hotspot_layout(const Composition& composition, const CorrectionGrid& grid,
                                     FrameSize clip, std::string_view language) {
    using namespace viewer_texts;
    const auto refused = [language](const TextPair& text) {
        return Error{std::string(message_text(text, language))};
    };
    if (!composition.background_loaded()) return refused(kNeedsBackground);
    if (clip.width <= 0 || clip.height <= 0) return refused(kNeedsClip);
    const PanoramaGeometry geometry = geometry_of(composition);
    const std::optional<MeshMap> map =
        MeshMap::make(grid, geometry, composition.choices.rotation_index,
                      composition.choices.panorama.mesh_model);
    if (!map) return refused(kTooWide);
    const HotspotPlacement placed = place_hotspot(*map, clip);
    switch (placed.problem) {
        case HotspotProblem::None:
            break;
        case HotspotProblem::TooWide:
            return refused(kTooWide);
        case HotspotProblem::Folded:
            return refused(kFolded);
        case HotspotProblem::TooSmall:
            return refused(kTooSmall);
    }
    return HotspotLayout{geometry, *map, placed.frame, clip};
}

std::optional<double> model_difference(const Composition& composition, const CorrectionGrid& grid) {
    if (!composition.background_loaded()) return std::nullopt;
    const PanoramaGeometry geometry = geometry_of(composition);
    const int rotation = composition.choices.rotation_index;
    const std::optional<MeshMap> bilinear =
        MeshMap::make(grid, geometry, rotation, MeshModel::Bilinear);
    const std::optional<MeshMap> perspective =
        MeshMap::make(grid, geometry, rotation, MeshModel::Perspective);
    if (!bilinear || !perspective) return std::nullopt;
    // The panorama's pixels per radian along its rows.
    const double pixels_per_radian = geometry.width / (geometry.hfov * std::numbers::pi / 180);
    constexpr int kSteps = 16;
    double most = 0;
    for (int j = 0; j <= kSteps; ++j) {
        for (int i = 0; i <= kSteps; ++i) {
            const FramePoint at{double(i) / kSteps, double(j) / kSteps};
            const std::optional<PlanePoint> a = bilinear->plane_at(at);
            const std::optional<PlanePoint> b = perspective->plane_at(at);
            if (!a || !b) return std::nullopt;
            const Vec3 da = bilinear->plane().direction(*a);
            const Vec3 db = perspective->plane().direction(*b);
            most = std::max(most, std::acos(std::clamp(dot(da, db), -1.0, 1.0)));
        }
    }
    return most * pixels_per_radian;
}

}  // namespace tintora
