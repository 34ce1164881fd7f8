#pragma once

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

}  // namespace tintora
