#pragma once

#include <string>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// What "Save changes to the project?" compares: the project file's text
// without the lines that only say what is being looked at (the display
// scale, the density, the frame shown and the current point). Two states
// with the same content lose nothing to each other.
std::string project_content(const Composition& composition, const CorrectionGrid& grid,
                            const VideoWorkspace& workspace);

}  // namespace tintora
