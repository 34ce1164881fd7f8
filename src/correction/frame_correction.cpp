#include "correction/frame_correction.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

// Exactness: this file must be compiled without floating-point contraction
// (-ffp-contract=off, set for the whole project), or a multiply and an add
// could fuse and round differently from correct_pixel.

// The vector helpers below are always inlined into the target clones, so no
// vector value ever crosses a call and the ABI note GCC gives for them is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tintora {
namespace {

// Lanes per vector step. Written with the compiler's generic vector types, so
// each target clone below turns the same code into its own instructions
// (AVX-512: one register, AVX2: two, SSE2: four).
constexpr int kLanes = 8;
using DoubleLanes = double __attribute__((vector_size(kLanes * sizeof(double))));
using IntLanes = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));
using WordLanes = std::uint32_t __attribute__((vector_size(kLanes * sizeof(std::uint32_t))));

// Pixels handled per pass, so the row's working arrays stay in the L1 cache.
constexpr int kChunk = 512;

// The four corner tables of one mesh cell, one 32-bit word per intensity:
// top-left, top-right, bottom-left, bottom-right in bytes 0 to 3. One load per
// pixel then gives all four table entries.
using CornerWords = std::array<std::uint32_t, kIntensityCount>;

CornerWords pack_corner_tables(const CorrectionGrid& grid, int top_left) {
    const ColorTable& tl = grid.color_table[top_left];
    const ColorTable& tr = grid.color_table[top_left + 1];
    const ColorTable& bl = grid.color_table[top_left + 3];
    const ColorTable& br = grid.color_table[top_left + 4];
    CornerWords words{};
    for (int v = 0; v < kIntensityCount; ++v) {
        words[v] = std::uint32_t{tl[v]} | std::uint32_t{tr[v]} << 8 | std::uint32_t{bl[v]} << 16 |
                   std::uint32_t{br[v]} << 24;
    }
    return words;
}

// What stays the same for every row: where each column lies in the mesh.
struct ColumnPlan {
    std::vector<double> u;  // weight toward the cell's right corners, padded to whole vectors
    int first_right = 0;    // first column in the right half (position above 0.5)
};

ColumnPlan plan_columns(int width) {
    ColumnPlan plan;
    const int padded = (width + kLanes - 1) / kLanes * kLanes;
    plan.u.assign(static_cast<std::size_t>(padded), 0.0);
    plan.first_right = width;
    for (int x = 0; x < width; ++x) {
        const double position = x / (width - 1.0);
        // Inside the unit square the quadrant tests reduce to "position <= 0.5"
        // per axis (the earlier quadrant wins on the edge).
        const bool left = position <= 0.5;
        if (!left && plan.first_right == width) plan.first_right = x;
        plan.u[static_cast<std::size_t>(x)] = 2.0 * (left ? position : position - 0.5);
    }
    return plan;
}

struct RowBuffers {
    // Per pixel: B, G, R and the intensity in bytes 0 to 3.
    alignas(64) std::uint32_t pixels[kChunk];
    alignas(64) std::uint32_t corners[kChunk];
    // Per pixel: corrected B, G, R in bytes 0 to 2.
    alignas(64) std::uint32_t corrected[kChunk];
};

template <class Vec>
__attribute__((always_inline)) inline Vec load(const void* from) {
    Vec v;
    std::memcpy(&v, from, sizeof v);
    return v;
}

__attribute__((always_inline)) inline IntLanes byte_lane(WordLanes words, int byte) {
    return reinterpret_cast<IntLanes>((words >> (8 * byte)) & 0xFFu);
}

__attribute__((always_inline)) inline DoubleLanes to_double(IntLanes v) { return __builtin_convertvector(v, DoubleLanes); }

__attribute__((always_inline)) inline IntLanes scale_channel_lanes(IntLanes channel, DoubleLanes gain) {
    DoubleLanes scaled = to_double(channel) * gain;
    scaled = scaled > 255.0 ? DoubleLanes{} + 255.0 : scaled;
    return __builtin_convertvector(scaled, IntLanes);  // truncates toward zero
}

// correct_pixel's arithmetic on kLanes pixels at once, operation for
// operation, so every lane rounds exactly as the scalar code does.
__attribute__((always_inline)) inline void correct_lanes(const std::uint32_t* pixels,
                                                         const std::uint32_t* corners,
                                                         const double* u_values, double w,
                                                         std::uint32_t* corrected) {
    const WordLanes px = load<WordLanes>(pixels);
    const WordLanes cw = load<WordLanes>(corners);
    const DoubleLanes u = load<DoubleLanes>(u_values);
    const IntLanes tl = byte_lane(cw, 0);
    const IntLanes tr = byte_lane(cw, 1);
    const IntLanes bl = byte_lane(cw, 2);
    const IntLanes br = byte_lane(cw, 3);
    const DoubleLanes top = to_double(tl) + u * to_double(tr - tl);
    const DoubleLanes bottom = to_double(bl) + u * to_double(br - bl);
    const DoubleLanes target = top + w * (bottom - top);
    const DoubleLanes intensity = to_double(byte_lane(px, 3));
    const DoubleLanes gain = intensity > 0.0 ? target / intensity : DoubleLanes{};
    const IntLanes b = scale_channel_lanes(byte_lane(px, 0), gain);
    const IntLanes g = scale_channel_lanes(byte_lane(px, 1), gain);
    const IntLanes r = scale_channel_lanes(byte_lane(px, 2), gain);
    const WordLanes out = reinterpret_cast<WordLanes>(b | g << 8 | r << 16);
    std::memcpy(corrected, &out, sizeof out);
}

// One chunk of one row: gather the pixels and their corner words, correct
// them in vector steps, write the bytes back.
__attribute__((always_inline)) inline void correct_chunk(std::uint8_t* row, int x0, int x1,
                                                         const ColumnPlan& columns, double w,
                                                         const CornerWords& left_cell,
                                                         const CornerWords& right_cell,
                                                         RowBuffers& buffers) {
    const int count = x1 - x0;
    const std::uint8_t* in = row + 3 * static_cast<std::ptrdiff_t>(x0);
    for (int i = 0; i < count; ++i, in += 3) {
        const std::uint32_t b = in[0];
        const std::uint32_t g = in[1];
        const std::uint32_t r = in[2];
        const std::uint32_t intensity = (b + g + r) / 3;
        const CornerWords& cell = (x0 + i < columns.first_right) ? left_cell : right_cell;
        buffers.pixels[i] = b | g << 8 | r << 16 | intensity << 24;
        buffers.corners[i] = cell[intensity];
    }
    const int padded = (count + kLanes - 1) / kLanes * kLanes;
    for (int i = count; i < padded; ++i) buffers.pixels[i] = buffers.corners[i] = 0;
    for (int i = 0; i < padded; i += kLanes) {
        correct_lanes(buffers.pixels + i, buffers.corners + i, columns.u.data() + x0 + i, w,
                      buffers.corrected + i);
    }
    std::uint8_t* out = row + 3 * static_cast<std::ptrdiff_t>(x0);
    for (int i = 0; i < count; ++i, out += 3) {
        const std::uint32_t c = buffers.corrected[i];
        out[0] = static_cast<std::uint8_t>(c);
        out[1] = static_cast<std::uint8_t>(c >> 8);
        out[2] = static_cast<std::uint8_t>(c >> 16);
    }
}

struct FramePlan {
    ColumnPlan columns;
    // Corner words of the cells with top-left point 0, 1, 3 and 4.
    CornerWords cells[4];
};

int cell_slot(int top_left) { return top_left < 3 ? top_left : top_left - 1; }

// The row loop, compiled once per instruction set below.
__attribute__((always_inline)) inline void correct_rows(Frame& frame, const FramePlan& plan) {
    RowBuffers buffers;
    const int width = frame.width();
    const int height = frame.height();
    for (int y = 0; y < height; ++y) {
        const double position = y / (height - 1.0);
        const bool upper = position <= 0.5;
        const double w = 2.0 * (upper ? position : position - 0.5);
        const int top_left = upper ? 0 : 3;
        const CornerWords& left_cell = plan.cells[cell_slot(top_left)];
        const CornerWords& right_cell = plan.cells[cell_slot(top_left + 1)];
        std::uint8_t* row = frame.row(y);
        for (int x0 = 0; x0 < width; x0 += kChunk) {
            correct_chunk(row, x0, std::min(x0 + kChunk, width), plan.columns, w, left_cell,
                          right_cell, buffers);
        }
    }
}

__attribute__((target("arch=x86-64-v4"))) void correct_rows_avx512(Frame& frame,
                                                                     const FramePlan& plan) {
    correct_rows(frame, plan);
}

__attribute__((target("arch=x86-64-v3"))) void correct_rows_avx2(Frame& frame,
                                                                   const FramePlan& plan) {
    correct_rows(frame, plan);
}

void correct_rows_baseline(Frame& frame, const FramePlan& plan) { correct_rows(frame, plan); }

bool cpu_has(VectorIsa isa) {
    __builtin_cpu_init();
    switch (isa) {
        case VectorIsa::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
                   __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl") &&
                   __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case VectorIsa::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") &&
                   __builtin_cpu_supports("bmi2");
        case VectorIsa::Baseline:
            return true;
    }
    return false;
}

}  // namespace

std::vector<VectorIsa> supported_vector_isas() {
    std::vector<VectorIsa> isas;
    for (const VectorIsa isa : {VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline}) {
        if (cpu_has(isa)) isas.push_back(isa);
    }
    return isas;
}

const char* vector_isa_name(VectorIsa isa) {
    switch (isa) {
        case VectorIsa::Avx512: return "AVX-512";
        case VectorIsa::Avx2: return "AVX2";
        case VectorIsa::Baseline: return "SSE2";
    }
    return "?";
}

void correct_frame(Frame& frame, const CorrectionGrid& grid, VectorIsa isa) {
    if (frame.width() < 2 || frame.height() < 2) return;
    FramePlan plan;
    plan.columns = plan_columns(frame.width());
    for (const int top_left : {0, 1, 3, 4}) {
        plan.cells[cell_slot(top_left)] = pack_corner_tables(grid, top_left);
    }
    // Never run instructions the processor lacks, whatever the caller asks.
    if (!cpu_has(isa)) isa = VectorIsa::Baseline;
    switch (isa) {
        case VectorIsa::Avx512: correct_rows_avx512(frame, plan); break;
        case VectorIsa::Avx2: correct_rows_avx2(frame, plan); break;
        case VectorIsa::Baseline: correct_rows_baseline(frame, plan); break;
    }
}

void correct_frame(Frame& frame, const CorrectionGrid& grid) {
    static const VectorIsa best = supported_vector_isas().front();
    correct_frame(frame, grid, best);
}

}  // namespace tintora
