#pragma once

// Internal to the whole-frame correction: what is worked out once per frame
// and shared by the kernels of each instruction set.

#include <array>
#include <cstdint>
#include <vector>

#include "correction/correction_grid.hpp"
#include "correction/frame.hpp"

namespace tintora::correction_detail {

// How far a single-precision scaled channel can lie from the exact value
// c * C / I. Bounding each step (u and w rounded to float: 2^-25; products,
// sums and the quotient: half an ulp each, at most 2^-17 below 256 and 2^-14
// below 2048), the target C is within about 1e-4 of exact and, since
// c <= 5 I, the channel within about 7e-4; the double result is within 1e-9.
// Three times that margin. Where truncating value - error and value + error
// agree, no whole number lies near and the single-precision result is exact.
inline constexpr float kFloatError = 2e-3f;

// Columns are padded to a multiple of this, so kernels may load whole vectors.
inline constexpr int kColumnPadding = 16;

// The four corner tables of the cells of one half of the frame, one 32-bit
// word per intensity (top-left, top-right, bottom-left, bottom-right in bytes
// 0 to 3): entries 0..255 for the left cell, 256..511 for the right cell.
using HalfTables = std::array<std::uint32_t, 2 * kIntensityCount>;

// The nine color tables, aligned for whole-vector loads.
struct alignas(64) PointTables : std::array<ColorTable, kGridPointCount> {};

struct FramePlan {
    // Per column: the weight toward the cell's right corners and where the
    // column's cell starts in HalfTables (0 left half, 256 right half).
    std::vector<double> u;
    std::vector<float> u_float;  // u rounded to single precision
    std::vector<std::int32_t> cell_offset;
    int first_right = 0;  // first column of the right half
    PointTables point_tables;
    // The upper half's cells (top-left points 0 and 1) and the lower's (3 and 4).
    HalfTables upper;
    HalfTables lower;
};

FramePlan plan_frame(const Frame& frame, const CorrectionGrid& grid);

// Where a row lies: its weight toward the lower corners and its half.
struct RowPlace {
    double w;
    bool lower;
};

// Inside the unit square the quadrant tests reduce to "position <= 0.5" per
// axis, the earlier quadrant winning on the edge.
inline RowPlace row_place(int y, int height) {
    const double position = y / (height - 1.0);
    const bool upper = position <= 0.5;
    return {2.0 * (upper ? position : position - 0.5), !upper};
}

// The kernels; each corrects every row of a frame at least 2 by 2.
void correct_rows_avx512_vbmi(Frame& frame, const FramePlan& plan);
void correct_rows_avx512(Frame& frame, const FramePlan& plan);
void correct_rows_avx2(Frame& frame, const FramePlan& plan);
void correct_rows_baseline(Frame& frame, const FramePlan& plan);

}  // namespace tintora::correction_detail
