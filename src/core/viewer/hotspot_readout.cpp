#include "core/viewer/hotspot_readout.hpp"

#include <cstdio>

#include "core/viewer/hotspot_files.hpp"
#include "core/viewer/hotspot_layout.hpp"
#include "core/viewer/viewer_texts.hpp"

namespace tintora {
namespace {

// Hundredths of a degree are finer than a viewer places a hotspot; never "-0.00".
std::string decimal(double value, int digits) {
    char text[40];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    std::string shown = text;
    if (shown.find_first_not_of("-0.") == std::string::npos && shown.front() == '-') {
        shown.erase(0, 1);
    }
    return shown;
}

}  // namespace

FrameSize shown_output_frame(const VideoSession& session) {
    if (session.FrameCount < 1) return {};
    return {session.result_picture.width(), session.result_picture.height()};
}

std::filesystem::path hotspot_name(const VideoSession& session) {
    const std::filesystem::path stem = session.clip_path.stem();
    return stem.empty() ? std::filesystem::path("hotspot") : stem;
}

HotspotReadout hotspot_readout(const Composition& composition, const CorrectionGrid& grid,
                               const VideoSession& session, std::string_view language) {
    using namespace viewer_texts;
    const auto text = [language](const TextPair& pair) {
        return std::string(message_text(pair, language));
    };
    HotspotReadout readout;
    const Result<HotspotLayout> layout =
        hotspot_layout(composition, grid, shown_output_frame(session), language);
    if (!layout) {
        readout.refusal = layout.error();
        return readout;
    }
    const HotspotFrame& frame = layout.value().frame;
    readout.lines = {
        {text(kCentreLabel), fill_in(text(kCentreValue), {decimal(frame.centre.yaw, 2),
                                                          decimal(frame.centre.pitch, 2)})},
        {text(kSizeLabel), fill_in(text(kSizeValue), {decimal(frame.horizontal_fov(), 2),
                                                      decimal(frame.vertical_fov(), 2)})},
        {text(kFrameLabel),
         fill_in(text(kFrameValue), {std::to_string(frame.width), std::to_string(frame.height)})},
    };
    if (composition.choices.panorama.mesh_model == MeshModel::Bilinear) {
        if (const std::optional<double> apart = model_difference(composition, grid)) {
            readout.lines.push_back(
                {text(kModelsApartLabel), fill_in(text(kModelsApartValue), {decimal(*apart, 1)})});
        }
    }
    readout.krpano_xml = krpano_hotspot_xml(frame, hotspot_files(hotspot_name(session)));
    return readout;
}

}  // namespace tintora
