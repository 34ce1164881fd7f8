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

// The four corner entries of a HalfTables word.
struct Corners {
    int tl, tr, bl, br;
};
inline Corners corners_of(std::uint32_t word) {
    return {static_cast<int>(word & 0xFF), static_cast<int>(word >> 8 & 0xFF),
            static_cast<int>(word >> 16 & 0xFF), static_cast<int>(word >> 24)};
}

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
// The column half of a plan: u, its single-precision copy and the cell offsets.
void plan_columns(const Frame& frame, FramePlan& plan);
// Nine points' tables as the corner words of the upper and lower halves.
void pack_half_tables(const std::array<ColorTable, kGridPointCount>& color_tables,
                      HalfTables& upper, HalfTables& lower);

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

// ------------------------------------------------------------ colour mode
// Each channel is the blend of its own four corner entries at its own value:
// C = top + w (bottom - top), top and bottom blended along u first. That is
// P + u Q with, per table index and row,
//     P = tl + w (bl - tl),  Q = (tr - tl) + w ((br - bl) - (tr - tl)),
// so the kernels take (P, Q) pairs from per-row tables of the brightness
// gain's shape (RowTable) and a channel costs one multiply and one add in
// single precision, with the same exact redo of doubtful values. The row
// tables are made in single precision from whole-number parts: three
// channels' tables per row would cost more in double precision than the
// pixels' own arithmetic.

// How far the single-precision value can lie from the double blend. The
// parts are whole numbers (exact), w and u are within 2^-25 of their
// doubles (half an ulp below 1); with |bl - tl| <= 255 and the difference of
// differences <= 510, P = tl + w (bl - tl) is within 3 * 2^-25 * 255 and
// Q within 2^-25 * 510 + 2 * 2^-25 * 255 of exact (each rounding of a value
// below 256 is at most 2^-17, here written as 2^-25 * 256); u Q and P + u Q
// add three more such steps, and taking the margin off P and adding twice
// it to the value two more. All told below 14 * 2^-25 * 256 = 1.1e-4 (the
// double blend's own error is below 1e-12), less than the margin.
inline constexpr float kColourFloatError = 2e-4f;

// Where all four corners agree the blend is that whole number exactly,
// whatever u and w; such entries get P = value + 0.5 and Q = 0, which
// truncates to the same number and lies far from any other, so the commonest
// whole-number results (shared curves, identity channels) are never doubtful.
inline constexpr float kFlatBias = 0.5f;

// The colour plan: the columns as for the brightness mode, and per channel,
// in frame byte order (B, G, R), the corner words of each half.
struct ColourPlan {
    FramePlan columns;
    std::array<HalfTables, 3> upper;
    std::array<HalfTables, 3> lower;
};

ColourPlan plan_colour_frame(const Frame& frame, const CorrectionGrid& grid);

// One channel's parts of P and Q, by half (0 upper, 1 lower) and table
// index: tl (plus kFlatBias where flat), bl - tl, tr - tl, (br - bl) - (tr - tl).
struct ColourParts {
    alignas(64) float left[2][kTableEntries];
    alignas(64) float left_down[2][kTableEntries];
    alignas(64) float rise[2][kTableEntries];
    alignas(64) float rise_down[2][kTableEntries];
};

// The parts for the channel of frame byte `byte`.
void make_colour_parts(const ColourPlan& plan, int byte, ColourParts& parts);

// (GCC drops vector_size on a type that depends on a template parameter.)
template <int Lanes>
struct FloatLanes;
template <>
struct FloatLanes<8> {
    using Floats = float __attribute__((vector_size(8 * sizeof(float))));
};
template <>
struct FloatLanes<16> {
    using Floats = float __attribute__((vector_size(16 * sizeof(float))));
};

template <int Lanes, int... Slot>
__attribute__((always_inline)) inline void fill_colour_row_table(
    const ColourParts& parts, int half, float w, RowTable& table,
    std::integer_sequence<int, Slot...>) {
    using Floats = typename FloatLanes<Lanes>::Floats;
    for (int e = 0; e < kTableEntries; e += Lanes) {
        Floats left, left_down, rise, rise_down;
        std::memcpy(&left, parts.left[half] + e, sizeof left);
        std::memcpy(&left_down, parts.left_down[half] + e, sizeof left_down);
        std::memcpy(&rise, parts.rise[half] + e, sizeof rise);
        std::memcpy(&rise_down, parts.rise_down[half] + e, sizeof rise_down);
        // The kernels truncate P + u Q and P + u Q + 2 e: P has e taken off here.
        const Floats p = (left + w * left_down) - kColourFloatError;
        const Floats q = rise + w * rise_down;
        // Interleaved by halves (P0 Q0 P1 Q1 ...), which the processor does
        // in-lane; one shuffle of all 2 Lanes slots at once is compiled
        // into stores of single values.
        const Floats first =
            __builtin_shufflevector(p, q, (Slot % 2 == 0 ? Slot / 2 : Lanes + Slot / 2)...);
        const Floats second = __builtin_shufflevector(
            p, q, (Slot % 2 == 0 ? Lanes / 2 + Slot / 2 : Lanes + Lanes / 2 + Slot / 2)...);
        std::memcpy(table.pairs + e, &first, sizeof first);
        std::memcpy(table.pairs + e + Lanes / 2, &second, sizeof second);
    }
}

// One channel's row table of (P, Q) pairs for the row's w (in single
// precision), Lanes entries at a time, inlined into each kernel.
template <int Lanes>
__attribute__((always_inline)) inline void fill_colour_row_table(const ColourParts& parts, int half,
                                                                 float w, RowTable& table) {
    fill_colour_row_table<Lanes>(parts, half, w, table, std::make_integer_sequence<int, Lanes>{});
}

// One channel by the colour rule from its corner word, in double precision.
inline std::uint8_t blend_channel_word(double u, double w, std::uint32_t word) {
    const Corners c = corners_of(word);
    return blend_channel(u, w, c.tl, c.tr, c.bl, c.br);
}

void correct_colour_rows_avx512(Frame& frame, const ColourPlan& plan);
void correct_colour_rows_avx2(Frame& frame, const ColourPlan& plan);
void correct_colour_rows_baseline(Frame& frame, const ColourPlan& plan);

}  // namespace tintora::correction_detail
