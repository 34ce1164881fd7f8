#include "core/correction/frame_correction.hpp"

#include <algorithm>
#include <cstring>
#include <memory>

#include "core/correction/curves.hpp"
#include "core/correction/frame_correction_plan.hpp"

// Exactness: the kernels must be compiled without floating-point contraction
// (-ffp-contract=off, set for the whole project), or a multiply and an add
// could fuse and round differently from correct_pixel.

// The vector helpers below are always inlined, so no vector value ever
// crosses a call and the ABI note GCC gives for them is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

namespace tintora {
namespace correction_detail {

void plan_columns(const Frame& frame, FramePlan& plan) {
    const int width = frame.width();
    const int padded = (width + kColumnPadding - 1) / kColumnPadding * kColumnPadding;
    plan.u.assign(static_cast<std::size_t>(padded), 0.0);
    plan.u_float.assign(static_cast<std::size_t>(padded), 0.0f);
    plan.cell_offset.assign(static_cast<std::size_t>(padded), 0);
    for (int x = 0; x < width; ++x) {
        const double position = x / (width - 1.0);
        const bool left = position <= 0.5;
        plan.u[static_cast<std::size_t>(x)] = 2.0 * (left ? position : position - 0.5);
        plan.u_float[static_cast<std::size_t>(x)] =
            static_cast<float>(plan.u[static_cast<std::size_t>(x)]);
        plan.cell_offset[static_cast<std::size_t>(x)] = left ? 0 : kIntensityCount;
    }
}

void pack_half_tables(const std::array<ColorTable, kGridPointCount>& color_tables,
                      HalfTables& upper, HalfTables& lower) {
    const auto pack = [&color_tables](HalfTables& tables, int cell, int top_left) {
        const ColorTable& tl = color_tables[top_left];
        const ColorTable& tr = color_tables[top_left + 1];
        const ColorTable& bl = color_tables[top_left + 3];
        const ColorTable& br = color_tables[top_left + 4];
        for (int v = 0; v < kIntensityCount; ++v) {
            tables[cell * kIntensityCount + v] = std::uint32_t{tl[v]} | std::uint32_t{tr[v]} << 8 |
                                                 std::uint32_t{bl[v]} << 16 |
                                                 std::uint32_t{br[v]} << 24;
        }
    };
    pack(upper, 0, 0);
    pack(upper, 1, 1);
    pack(lower, 0, 3);
    pack(lower, 1, 4);
}

FramePlan plan_frame(const Frame& frame, const CorrectionGrid& grid) {
    FramePlan plan;
    plan_columns(frame, plan);
    pack_half_tables(grid.color_table, plan.upper, plan.lower);
    return plan;
}

void make_gain_parts(const FramePlan& plan, GainParts& parts) {
    for (int half = 0; half < 2; ++half) {
        const HalfTables& tables = half == 0 ? plan.upper : plan.lower;
        for (int e = 0; e < kTableEntries; ++e) {
            const auto [tl, tr, bl, br] = corners_of(tables[static_cast<std::size_t>(e)]);
            const int intensity = e % kIntensityCount;
            const auto per_intensity = [intensity](int v) {
                return intensity == 0 ? 0.0 : static_cast<double>(v) / intensity;
            };
            parts.left[half][e] = per_intensity(tl);
            parts.left_down[half][e] = per_intensity(bl - tl);
            parts.rise[half][e] = per_intensity(tr - tl);
            parts.rise_down[half][e] = per_intensity((br - bl) - (tr - tl));
        }
    }
}

namespace {

// The baseline kernel, written with the compiler's vector types; without
// AVX2 a single-precision first try costs more than it saves, so every lane
// goes the exact double way.
constexpr int kLanes = 8;
using DoubleLanes = double __attribute__((vector_size(kLanes * sizeof(double))));
using IntLanes = std::int32_t __attribute__((vector_size(kLanes * sizeof(std::int32_t))));
using WordLanes = std::uint32_t __attribute__((vector_size(kLanes * sizeof(std::uint32_t))));

// Pixels handled per pass, so the row's working arrays stay in the L1 cache.
constexpr int kChunk = 512;

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

__attribute__((always_inline)) inline IntLanes byte_lane(const WordLanes& words, int byte) {
    return reinterpret_cast<IntLanes>((words >> (8 * byte)) & 0xFFu);
}

__attribute__((always_inline)) inline DoubleLanes to_double(const IntLanes& v) {
    return __builtin_convertvector(v, DoubleLanes);
}

__attribute__((always_inline)) inline IntLanes scale_channel_lanes(const IntLanes& channel,
                                                                   const DoubleLanes& gain) {
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
    const WordLanes result = reinterpret_cast<WordLanes>(b | g << 8 | r << 16);
    std::memcpy(corrected, &result, sizeof result);
}

// One chunk of one row: gather the pixels and their corner words, correct
// them in vector steps, write the bytes back.
__attribute__((always_inline)) inline void correct_chunk(std::uint8_t* row, int x0, int x1,
                                                         const FramePlan& plan, double w,
                                                         const HalfTables& tables,
                                                         RowBuffers& buffers) {
    const int count = x1 - x0;
    const std::uint8_t* in = row + 3 * static_cast<std::ptrdiff_t>(x0);
    for (int i = 0; i < count; ++i, in += 3) {
        const std::uint32_t b = in[0];
        const std::uint32_t g = in[1];
        const std::uint32_t r = in[2];
        const std::uint32_t intensity = (b + g + r) / 3;
        buffers.pixels[i] = b | g << 8 | r << 16 | intensity << 24;
        buffers.corners[i] = tables[static_cast<std::size_t>(plan.cell_offset[x0 + i]) + intensity];
    }
    const int padded = (count + kLanes - 1) / kLanes * kLanes;
    for (int i = count; i < padded; ++i) buffers.pixels[i] = buffers.corners[i] = 0;
    for (int i = 0; i < padded; i += kLanes) {
        correct_lanes(buffers.pixels + i, buffers.corners + i, plan.u.data() + x0 + i, w,
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

}  // namespace

void correct_rows_baseline(Frame& frame, const FramePlan& plan) {
    RowBuffers buffers;
    const int width = frame.width();
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        const HalfTables& tables = place.lower ? plan.lower : plan.upper;
        std::uint8_t* row = frame.row(y);
        for (int x0 = 0; x0 < width; x0 += kChunk) {
            correct_chunk(row, x0, std::min(x0 + kChunk, width), plan, place.w, tables, buffers);
        }
    }
}

}  // namespace correction_detail

namespace {

bool all_tables_identity(const CorrectionGrid& grid) {
    for (const ColorTable& table : grid.color_table) {
        for (int v = 0; v < kIntensityCount; ++v) {
            if (table[v] != v) return false;
        }
    }
    return true;
}

// With identity tables the target is the pixel's own intensity and the gain
// exactly 1, except at intensity 0, where it is 0: only pixels whose channels
// add up to at most 2 change, to black.
void blacken_dark_pixels(Frame& frame, const std::vector<std::uint8_t>& rows) {
    for (int y = 0; y < frame.height(); ++y) {
        if (!rows.empty() && rows[static_cast<std::size_t>(y)] == 0) continue;
        std::uint8_t* p = frame.row(y);
        for (int x = 0; x < frame.width(); ++x, p += 3) {
            if (p[0] + p[1] + p[2] <= 2) p[0] = p[1] = p[2] = 0;
        }
    }
}

bool all_channel_tables_identity(const CorrectionGrid& grid) {
    for (const auto& channel : grid.channel_color_table) {
        for (const ColorTable& table : channel) {
            for (int v = 0; v < kIntensityCount; ++v) {
                if (table[v] != v) return false;
            }
        }
    }
    return true;
}

// The colour mode: with identity tables every channel blends to itself.
void correct_frame_colour(Frame& frame, const CorrectionGrid& grid,
                          const std::vector<std::uint8_t>& rows, VectorIsa isa) {
    using namespace correction_detail;
    if (all_channel_tables_identity(grid)) return;
    ColourPlan plan = plan_colour_frame(frame, grid);
    plan.columns.rows = rows;
    switch (isa) {
        case VectorIsa::Avx512Vbmi:  // no kernel of its own: see colour_kernels
        case VectorIsa::Avx512:
            correct_colour_rows_avx512(frame, plan);
            break;
        case VectorIsa::Avx2:
            correct_colour_rows_avx2(frame, plan);
            break;
        case VectorIsa::Baseline:
            correct_colour_rows_baseline(frame, plan);
            break;
    }
}

}  // namespace

void correct_frame(Frame& frame, const CorrectionGrid& grid, VectorIsa isa) {
    correct_frame_rows(frame, grid, {}, isa);
}

void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows, VectorIsa isa) {
    using namespace correction_detail;
    if (frame.width() < 2 || frame.height() < 2) return;
    if (!rows.empty() && rows.size() != static_cast<std::size_t>(frame.height())) return;
    // Never run instructions the processor lacks, whatever the caller asks.
    if (!processor_has(isa)) isa = VectorIsa::Baseline;
    if (grid.correction_mode == CorrectionMode::Colour) {
        correct_frame_colour(frame, grid, rows, isa);
        return;
    }
    if (all_tables_identity(grid)) {
        blacken_dark_pixels(frame, rows);
        return;
    }
    FramePlan plan = plan_frame(frame, grid);
    plan.rows = rows;
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
            correct_rows_avx512_vbmi(frame, plan);
            break;
        case VectorIsa::Avx512:
            correct_rows_avx512(frame, plan);
            break;
        case VectorIsa::Avx2:
            correct_rows_avx2(frame, plan);
            break;
        case VectorIsa::Baseline:
            correct_rows_baseline(frame, plan);
            break;
    }
}

namespace {

// The calibration's workload: a strip of a 1080p frame's rows, so that the
// work per row weighs as in a video frame, of smooth shading under fine
// noise as a camera gives it, and nine different curves as a correction
// has them.
constexpr int kTrialWidth = 1920;
constexpr int kTrialHeight = 16;

Frame trial_strip() {
    Frame strip(kTrialWidth, kTrialHeight);
    std::uint32_t noise = 12345;
    for (int y = 0; y < kTrialHeight; ++y) {
        std::uint8_t* p = strip.row(y);
        for (int x = 0; x < kTrialWidth; ++x, p += 3) {
            noise = noise * 1664525u + 1013904223u;
            const int grain = static_cast<int>(noise >> 29);  // 0..7
            p[0] = static_cast<std::uint8_t>((x / 8 + 3 * y + grain) & 0xFF);
            p[1] = static_cast<std::uint8_t>((x / 11 + 40 + grain) & 0xFF);
            p[2] = static_cast<std::uint8_t>((255 - x / 9 + y + grain) & 0xFF);
        }
    }
    return strip;
}

CorrectionGrid trial_grid(CorrectionMode mode) {
    CorrectionGrid grid;
    grid.correction_mode = mode;
    for (int p = 0; p < kGridPointCount; ++p) {
        const auto bend = [p](ControlValues& values, int channel) {
            values[30 + 8 * p + channel] = 45 + 10 * p - 4 * channel;
            values[120 + 4 * p] = 110 + 6 * p + 5 * channel;
            values[200 + 2 * channel] = 190 + 4 * p - 3 * channel;
        };
        bend(grid.control_values[p], 0);
        for (int c = 0; c < kChannelCount; ++c) bend(grid.channel_control_values[c][p], c);
    }
    recalculate_color_tables(grid);
    return grid;
}

template <CorrectionMode kMode>
KernelTrial correction_trial() {
    struct Work {
        Frame original = trial_strip();
        Frame frame;
        CorrectionGrid grid = trial_grid(kMode);
    };
    const auto work = std::make_shared<Work>();
    return {[work] { work->frame = work->original; },
            [work](VectorIsa isa) { correct_frame(work->frame, work->grid, isa); }};
}

const KernelVariants& brightness_kernels() {
    static const KernelVariants variants{
        KernelOperation::Brightness,
        {VectorIsa::Avx512Vbmi, VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
        correction_trial<CorrectionMode::Brightness>};
    return variants;
}

// The AVX-512-VBMI steps gain nothing measurable in the colour mode, which
// has no kernel of its own for them.
const KernelVariants& colour_kernels() {
    static const KernelVariants variants{KernelOperation::Colour,
                                         {VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
                                         correction_trial<CorrectionMode::Colour>};
    return variants;
}

}  // namespace

VectorIsa chosen_correction_kernel(CorrectionMode mode) {
    return chosen_kernel(mode == CorrectionMode::Colour ? colour_kernels() : brightness_kernels());
}

void correct_frame(Frame& frame, const CorrectionGrid& grid) {
    correct_frame(frame, grid, chosen_correction_kernel(grid.correction_mode));
}

void correct_frame_rows(Frame& frame, const CorrectionGrid& grid,
                        const std::vector<std::uint8_t>& rows) {
    correct_frame_rows(frame, grid, rows, chosen_correction_kernel(grid.correction_mode));
}

}  // namespace tintora
