#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/common/kernel_choice.hpp"

namespace tintora::composition_detail {

// One half of the mesh (upper or lower) as the overlay's sampled columns see
// it: per column, the blend of the area points along the half's top row and
// its difference to the bottom row, so a sample has only the vertical blend
// left to do.
struct HalfMesh {
    std::vector<double> top_x, down_x, top_y, down_y;

    void resize(std::size_t columns);
};

// Where one row of samples lands in a region of the picture: the row's
// weight w toward the half's bottom row, the display scale, and the region
// (its corner in the picture, its size and its row stride in bytes).
struct RowLanding {
    const HalfMesh* mesh;
    double w;
    double display_scale;
    std::int32_t left, top, width, height, stride;
};

// Sets offsets[i], for the row's `count` samples, to the byte offset in the
// region of the pixel sample i lands on, or -1 where it lands outside (or
// where no int holds its place): exactly what truncating
//     (top + w * down) * display_scale
// toward zero, in doubles, gives. Then, when `earlier` (the row before, with
// count + 1 entries, the last -1) is given, drops each of its samples that a
// later one overwrites (-1): the next in its row, or the one below it in this
// row, lands on the same pixel. Returns how many of the row before are left.
using LandRow = std::size_t (*)(const RowLanding& row, std::size_t count, std::int32_t* offsets,
                                std::int32_t* earlier);

// The kernel for an instruction set, or the one chosen for this processor
// (forced, or calibrated at the first call: see chosen_kernel).
LandRow land_row_kernel(VectorIsa isa);
LandRow land_row_kernel();
VectorIsa chosen_landing_kernel();

}  // namespace tintora::composition_detail
