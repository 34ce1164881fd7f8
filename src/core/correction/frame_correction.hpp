#pragma once

#include <cstdint>
#include <vector>

#include "core/common/kernel_choice.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// Corrects every pixel of the frame exactly as
//     grid.correct_pixel(x / (W - 1.0), y / (H - 1.0), ...)
// would in the grid's mode, pixel by pixel, but with the positions, cells and corner tables
// worked out once per row and column and the arithmetic done several pixels
// at a time with the vector instructions that run it fastest on this
// processor (see kernel_choice.hpp).
// A frame one pixel wide or high has no defined position (0 / 0) and stays
// as it is, as the pixel-by-pixel rule gives.
void correct_frame(Frame& frame, const CorrectionGrid& grid);

// The same with the kernel of a named instruction set (the baseline one
// when the processor lacks that set): tests and benchmarks compare them.
void correct_frame(Frame& frame, const CorrectionGrid& grid, VectorIsa isa);

// Corrects only the rows marked non-zero in `rows` (one entry per row), each
// exactly as correct_frame corrects it; the others stay as they are. For a
// frame of which only some rows will be seen.
void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows);
void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows, VectorIsa isa);

// The kernel correct_frame runs in a mode: forced, or calibrated at the
// first call (see chosen_kernel).
VectorIsa chosen_correction_kernel(CorrectionMode mode);

}  // namespace tintora
