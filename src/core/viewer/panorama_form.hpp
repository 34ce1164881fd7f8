#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "core/composition/panorama_choices.hpp"

namespace tintora {

// The "Panorama" dialog's fields, in the order it shows them.
enum class PanoramaField { Hfov, Vfov, Yaw, Pitch, EdgeBlend };

// The fields as text. An empty angle is one the project leaves to its default.
struct PanoramaForm {
    std::string hfov;
    std::string vfov;
    std::string yaw;
    std::string pitch;
    MeshModel mesh_model = MeshModel::Bilinear;
    std::string edge_blend;
};

// The fields for the project's choices: each angle it sets as a number, the
// others empty.
PanoramaForm panorama_form(const PanoramaChoices& choices);

// What the empty angle fields stand for on a background of that size (none
// loaded: a 2:1 one): horizontal and vertical field of view, yaw, pitch.
std::array<std::string, 4> default_angle_texts(int width, int height);

// The choices the fields say, or the first field they cannot say and why,
// in the interface language. Angles are taken in the ranges a project file
// takes them in (a decimal comma too), the edge blend as a whole number of
// pixels from 0 to kWidestEdgeBlend.
struct PanoramaReading {
    PanoramaChoices choices;
    std::optional<PanoramaField> refused;
    std::string message;
};
PanoramaReading read_panorama_form(const PanoramaForm& form, std::string_view language);

}  // namespace tintora
