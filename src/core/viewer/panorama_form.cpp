#include "core/viewer/panorama_form.hpp"

#include "core/video/video_parameters.hpp"
#include "core/viewer/panorama_geometry.hpp"
#include "core/viewer/viewer_texts.hpp"

namespace tintora {
namespace {

std::string angle_text(const std::optional<double>& angle) {
    return angle ? format_rate(*angle) : std::string();
}

bool is_blank_text(std::string_view text) {
    return text.find_first_not_of(" \t") == std::string_view::npos;
}

// One angle field: its text, where it goes, the range a project file takes
// (so that what the dialog sets is read back the same) and its refusal.
struct AngleField {
    PanoramaField field;
    const std::string PanoramaForm::*text;
    std::optional<double> PanoramaChoices::*angle;
    double lowest;
    double highest;
    const TextPair& refusal;
};

}  // namespace

PanoramaForm panorama_form(const PanoramaChoices& choices) {
    return {angle_text(choices.hfov), angle_text(choices.vfov),
            angle_text(choices.yaw),  angle_text(choices.pitch),
            choices.mesh_model,       std::to_string(choices.edge_blend)};
}

std::array<std::string, 4> default_angle_texts(int width, int height) {
    const PanoramaGeometry defaults =
        width > 0 && height > 0 ? default_panorama_geometry(width, height) : PanoramaGeometry{};
    return {format_rate(defaults.hfov), format_rate(defaults.vfov), format_rate(defaults.yaw),
            format_rate(defaults.pitch)};
}

PanoramaReading read_panorama_form(const PanoramaForm& form, std::string_view language) {
    using namespace viewer_texts;
    // A field of view of no width would place nothing.
    constexpr double kNarrowest = 1e-6;
    const AngleField angles[] = {
        {PanoramaField::Hfov, &PanoramaForm::hfov, &PanoramaChoices::hfov, kNarrowest, 360,
         kRefusedHfov},
        {PanoramaField::Vfov, &PanoramaForm::vfov, &PanoramaChoices::vfov, kNarrowest, 180,
         kRefusedVfov},
        {PanoramaField::Yaw, &PanoramaForm::yaw, &PanoramaChoices::yaw, -360, 360, kRefusedYaw},
        {PanoramaField::Pitch, &PanoramaForm::pitch, &PanoramaChoices::pitch, -90, 90,
         kRefusedPitch},
    };
    PanoramaReading reading;
    const auto refuse = [&reading, language](PanoramaField field, const TextPair& why) {
        reading.refused = field;
        reading.message = std::string(message_text(why, language));
        return reading;
    };
    for (const AngleField& a : angles) {
        const std::string& text = form.*a.text;
        if (is_blank_text(text)) continue;
        const std::optional<double> value = parse_rate(text);
        if (!value || !(*value >= a.lowest && *value <= a.highest))
            return refuse(a.field, a.refusal);
        reading.choices.*a.angle = *value;
    }
    const std::optional<std::int32_t> blend = parse_whole_number(form.edge_blend);
    if (!blend || *blend < 0 || *blend > kWidestEdgeBlend) {
        return refuse(PanoramaField::EdgeBlend, kRefusedEdgeBlend);
    }
    reading.choices.edge_blend = *blend;
    reading.choices.mesh_model = form.mesh_model;
    return reading;
}

}  // namespace tintora
