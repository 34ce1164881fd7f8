#pragma once

#include "core/composition/mesh_warp.hpp"

namespace tintora {

// The maker of the mesh's warps by the panorama's geometry: for the
// perspective model, a frame position goes through the mesh's map onto the
// plane tangent to the sphere, to its direction and on to the background's
// pixels, as the hotspot export lays the frame; the bilinear model, or a
// mesh the perspective map cannot place, gets no warp. Whatever composes or
// matches hands this to the composition and the matching.
MeshWarpMaker perspective_mesh_warp();

}  // namespace tintora
