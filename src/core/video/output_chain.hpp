#pragma once

#include <optional>

#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"
#include "core/video/video_parameters.hpp"

namespace tintora {

// What becomes of a rotated frame on its way out, in this order: cut,
// resampling, the two mirrors, (the colour correction in a processing run),
// the colour transformation. The result preview and the processing run
// share it; they differ only in where the numbers come from.
struct OutputSteps {
    struct Rect {
        int x, y, width, height;
    };
    struct Size {
        int width, height;
    };
    std::optional<Rect> cut;       // none: the whole frame
    std::optional<Size> resample;  // none: the size after the cut
    bool mirror_rows = false;      // "horizontally": upside down
    bool mirror_columns = false;   // "vertically": left and right swapped
    int color_transformation = 0;  // 0 none, kGrayscale, kInverse
};

// The cut as it is applied to a w by h frame. The selection's own rules stop
// one pixel short of the right and bottom edges (a selection of the whole
// frame reads 0, 0, w - 1, h - 1), so a cut that ends there reaches the edge:
// the whole frame keeps its own size.
OutputSteps::Rect cut_reaching_edges(OutputSteps::Rect cut, int w, int h);

// The steps as the result preview reads them from the Parameters tab: the cut
// only when all four cut fields hold a number, resampling only when both
// resample fields do (the size kept within 1..2000, the bounds of its fields).
OutputSteps preview_steps(const VideoParameters& parameters);

// Applies the steps to a rotated frame; a cut reaching outside the frame is
// clipped to it. With a grid, every pixel of the frame after the mirrors is
// corrected, the grid spread over that frame. Steps that change nothing cost
// nothing; the source is never modified.
Frame render_output(const Frame& rotated, const OutputSteps& steps,
                    const CorrectionGrid* correction = nullptr);
// The same on a frame that is no longer needed: when the cut, resampling
// and mirrors leave it as it is, or only cut it at its top-left corner, it
// is corrected in place, not copied.
Frame render_output(Frame&& rotated, const OutputSteps& steps,
                    const CorrectionGrid* correction = nullptr);

}  // namespace tintora
