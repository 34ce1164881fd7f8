#pragma once

#include <cstdint>
#include <vector>

#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// Corrects every pixel of the frame exactly as
//     grid.correct_pixel(x / (W - 1.0), y / (H - 1.0), ...)
// would in the grid's mode, pixel by pixel, but with the positions, cells and corner tables
// worked out once per row and column and the arithmetic done several pixels
// at a time with the widest vector instructions this processor offers.
// A frame one pixel wide or high has no defined position (0 / 0) and stays
// as it is, as the pixel-by-pixel rule gives.
void correct_frame(Frame& frame, const CorrectionGrid& grid);

// The instruction sets correct_frame can run on; it picks the first of
// those this processor has. Tests and benchmarks name one to compare them.
enum class VectorIsa { Avx512Vbmi, Avx512, Avx2, Baseline };
std::vector<VectorIsa> supported_vector_isas();  // best first; Baseline always
const char* vector_isa_name(VectorIsa isa);
void correct_frame(Frame& frame, const CorrectionGrid& grid, VectorIsa isa);

// Corrects only the rows marked non-zero in `rows` (one entry per row), each
// exactly as correct_frame corrects it; the others stay as they are. For a
// frame of which only some rows will be seen.
void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows);
void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows, VectorIsa isa);

// The automatic choice of every fast path (correct_frame without a named set,
// the composition's placing of the frame) takes the widest set this
// processor has, but none wider than `widest`: tests and benchmarks limit it
// to see how a machine without the wider sets runs.
void limit_vector_isa(VectorIsa widest);
VectorIsa automatic_vector_isa();

}  // namespace tintora
