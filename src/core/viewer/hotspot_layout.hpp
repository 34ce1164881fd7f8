#pragma once

#include <string>
#include <string_view>

#include "core/common/result.hpp"
#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/viewer/hotspot_frame.hpp"
#include "core/viewer/mesh_map.hpp"
#include "core/viewer/panorama_geometry.hpp"

namespace tintora {

// The hotspot of the project as it stands: the panorama's geometry, the
// mesh's map by the project's model, and the frame a viewer shows the clip in.
struct HotspotLayout {
    PanoramaGeometry geometry;
    MeshMap map;
    HotspotFrame frame;
    FrameSize clip;
};

// For a clip whose output frames are `clip` in size; a refusal in the
// interface language: no background, no clip, a mesh too wide or folded.
Result<HotspotLayout> hotspot_layout(const Composition& composition, const CorrectionGrid& grid,
                                     FrameSize clip, std::string_view language);

// How far apart the two models put the clip: the largest distance between
// the places of one frame position, over the frame, in the panorama's
// pixels; nothing without a map.
std::optional<double> model_difference(const Composition& composition, const CorrectionGrid& grid);

}  // namespace tintora
