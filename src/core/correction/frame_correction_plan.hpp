#pragma once

// Internal to the whole-frame correction: what is worked out once per frame
// and shared by the kernels of each instruction set.

#include <array>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "core/correction/correction_grid.hpp"
#include "core/correction/frame.hpp"

namespace tintora::correction_detail {

// How far a single-precision scaled channel can lie from the exact value
// c * gain, with the gain taken as P + u Q from a row table (below). P and Q
// are each one rounding (2^-24 relative) from exact and at most 255 / I in
// size; u, the product and the sum add three such steps, so the gain is
// within 1275 * 2^-24 / I, and since c <= 5 I (c <= 3 I + 2, I >= 1) and the
// product c * gain adds one rounding of a value below 1275, the channel is
// within 6 * 1275 * 2^-24, about 4.6e-4; adding or taking off the error
// rounds by at most 2^-14 more. The error is over three times the sum.
// Where truncating value - error and value + error agree, no whole number
// lies near and the single-precision result is exact.
inline constexpr float kFloatError = 2e-3f;

// Columns are padded to a multiple of this, so kernels may load whole vectors.
inline constexpr int kColumnPadding = 16;

// Table index of a pixel: cell * 256 + intensity, the cell being the left
// (0) or the right (1) one of its half of the frame.
inline constexpr int kTableEntries = 2 * kIntensityCount;

// The four corner tables of the cells of one half of the frame, one 32-bit
// word per table index (top-left, top-right, bottom-left, bottom-right in
// bytes 0 to 3).
using HalfTables = std::array<std::uint32_t, kTableEntries>;

struct FramePlan {
    // Per column: the weight toward the cell's right corners and where the
    // column's cell starts in HalfTables (0 left half, 256 right half).
    std::vector<double> u;
    std::vector<float> u_float;  // u rounded to single precision
    std::vector<std::int32_t> cell_offset;
    // The upper half's cells (top-left points 0 and 1) and the lower's (3 and 4).
    HalfTables upper;
    HalfTables lower;
    // The rows to correct (non-zero), or every row when empty.
    std::vector<std::uint8_t> rows;

    bool wants_row(int y) const { return rows.empty() || rows[static_cast<std::size_t>(y)] != 0; }
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

// For the vector kernels, which take the gain from a table instead of
// dividing per pixel: per half of the frame (0 upper, 1 lower) and table
// index, the parts of the gain divided by the intensity, in double
// precision, so that
//     gain = (left + w left_down) + u (rise + w rise_down);
// all zero at intensity 0, whose gain is 0.
struct GainParts {
    alignas(64) double left[2][kTableEntries];       // tl
    alignas(64) double left_down[2][kTableEntries];  // bl - tl
    alignas(64) double rise[2][kTableEntries];       // tr - tl
    alignas(64) double rise_down[2][kTableEntries];  // (br - bl) - (tr - tl)
};

void make_gain_parts(const FramePlan& plan, GainParts& parts);

// One row's two brackets of the gain for its w, rounded to single precision,
// by table index: the pairs (P, Q), P in the low half, so that gain = P + u Q.
struct RowTable {
    alignas(64) std::uint64_t pairs[kTableEntries];
};

template <int Lanes>
struct RowTableLanes;
template <>
struct RowTableLanes<4> {
    using Doubles = double __attribute__((vector_size(4 * sizeof(double))));
    using Floats = float __attribute__((vector_size(4 * sizeof(float))));
};
template <>
struct RowTableLanes<8> {
    using Doubles = double __attribute__((vector_size(8 * sizeof(double))));
    using Floats = float __attribute__((vector_size(8 * sizeof(float))));
};

template <int Lanes, int... Slot>
__attribute__((always_inline)) inline void fill_row_table(const GainParts& parts, int half,
                                                          double w, RowTable& table,
                                                          std::integer_sequence<int, Slot...>) {
    using Doubles = typename RowTableLanes<Lanes>::Doubles;
    using Floats = typename RowTableLanes<Lanes>::Floats;
    for (int e = 0; e < kTableEntries; e += Lanes) {
        Doubles left, left_down, rise, rise_down;
        std::memcpy(&left, parts.left[half] + e, sizeof left);
        std::memcpy(&left_down, parts.left_down[half] + e, sizeof left_down);
        std::memcpy(&rise, parts.rise[half] + e, sizeof rise);
        std::memcpy(&rise_down, parts.rise_down[half] + e, sizeof rise_down);
        const Floats p = __builtin_convertvector(left + w * left_down, Floats);
        const Floats q = __builtin_convertvector(rise + w * rise_down, Floats);
        // Slot 2 j takes P of entry j, slot 2 j + 1 its Q.
        const auto pairs =
            __builtin_shufflevector(p, q, (Slot % 2 == 0 ? Slot / 2 : Lanes + Slot / 2)...);
        std::memcpy(table.pairs + e, &pairs, sizeof pairs);
    }
}

// Fills the row table, Lanes entries at a time: inlined into each kernel, so
// it runs on that kernel's instruction set (4 for AVX2, 8 for AVX-512).
template <int Lanes>
__attribute__((always_inline)) inline void fill_row_table(const GainParts& parts, int half,
                                                          double w, RowTable& table) {
    fill_row_table<Lanes>(parts, half, w, table, std::make_integer_sequence<int, 2 * Lanes>{});
}

// The kernels; each corrects every row of a frame at least 2 by 2.
void correct_rows_avx512_vbmi(Frame& frame, const FramePlan& plan);
void correct_rows_avx512(Frame& frame, const FramePlan& plan);
void correct_rows_avx2(Frame& frame, const FramePlan& plan);
void correct_rows_baseline(Frame& frame, const FramePlan& plan);

}  // namespace tintora::correction_detail
