#pragma once

#include <optional>

namespace tintora {

// How the mesh lays the clip's frame on the panorama. Bilinear: the
// original rule, the frame blended bilinearly between the area points in
// the background's pixels. Perspective: as an ordinary (pinhole) camera
// sees it, the frame a projective image on the plane tangent to the sphere
// at its centre, bent only by what the nine points say beyond that.
enum class MeshModel { Bilinear, Perspective };

// The band inside the mesh's outline, in the clip's pixels, across which a
// hotspot video fades into the panorama, unless a project says otherwise.
inline constexpr int kDefaultEdgeBlend = 24;
inline constexpr int kWidestEdgeBlend = 1000;

// What a project says of the background as a panorama: the angles it spans
// and the direction of its centre (degrees), each left to its default when
// unset; the mesh's model; and the hotspot video's soft edge.
struct PanoramaChoices {
    std::optional<double> hfov;
    std::optional<double> vfov;
    std::optional<double> yaw;
    std::optional<double> pitch;
    MeshModel mesh_model = MeshModel::Bilinear;
    int edge_blend = kDefaultEdgeBlend;

    bool operator==(const PanoramaChoices&) const = default;
};

}  // namespace tintora
