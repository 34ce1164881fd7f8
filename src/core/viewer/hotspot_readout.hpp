#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/video_session.hpp"

namespace tintora {

// What the hotspot placement window shows of the project as it stands, in
// the interface language: the hotspot's numbers and krpano's <hotspot>, or
// why there is no hotspot (hotspot_layout's refusal).
struct HotspotReadout {
    struct Line {
        std::string label;
        std::string value;
    };
    std::string refusal;      // empty when the hotspot is placed
    std::vector<Line> lines;  // centre, angular size, frame; the models' distance when bilinear
    std::string krpano_xml;   // named as hotspot_name says
};

// The clip's output frames as the result view shows them, of the clip open
// in the session (none open: 0 by 0).
FrameSize shown_output_frame(const VideoSession& session);

// The name the hotspot is given when the window shows or previews it: the
// clip's, else "hotspot".
std::filesystem::path hotspot_name(const VideoSession& session);

HotspotReadout hotspot_readout(const Composition& composition, const CorrectionGrid& grid,
                               const VideoSession& session, std::string_view language);

}  // namespace tintora
