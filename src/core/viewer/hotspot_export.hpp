#pragma once

#include <filesystem>

#include "core/common/app_settings.hpp"
#include "core/common/result.hpp"
#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// "Save hotspot…": the clip, corrected and cut as "Save video…" makes it,
// baked frame by frame into the flat frame a panorama viewer shows it in
// (the panorama's own pixels around it, a soft edge), written as
// NAME.mp4 and NAME.webm by one encoder with the poster NAME.jpg; once they
// are in place, NAME.json and NAME.xml with the numbers that place it and
// the preview page NAME.html with its media and viewer script. Every name
// is refused as any export's would be, and the placement too (no
// background, a mesh too wide or folded), before anything is written. The
// caller has checked that a clip is open. `base` is DIR/NAME.
Result<RunJob> prepare_hotspot_export(VideoWorkspace& workspace, const AppSettings& settings,
                                      const CorrectionGrid& grid, const Composition& composition,
                                      const std::filesystem::path& base);

}  // namespace tintora
