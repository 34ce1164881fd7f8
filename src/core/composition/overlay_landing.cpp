#include "core/composition/overlay_landing.hpp"

#include <immintrin.h>

#include <memory>

// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector and
// then warn that it may be used uninitialised.
#ifndef __clang__  // a GCC warning clang does not know
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace tintora::composition_detail {

void HalfMesh::resize(std::size_t columns) {
    for (std::vector<double>* values : {&top_x, &down_x, &top_y, &down_y}) {
        values->resize(columns);
    }
}

namespace {

// The exact place of sample i, as truncate_to_int and the region's bounds
// have it.
inline std::int32_t land_sample(const RowLanding& row, std::size_t i) {
    const HalfMesh& m = *row.mesh;
    const double px = (m.top_x[i] + row.w * m.down_x[i]) * row.display_scale;
    const double py = (m.top_y[i] + row.w * m.down_y[i]) * row.display_scale;
    const bool holds =
        px > -2147483648.0 && px < 2147483648.0 && py > -2147483648.0 && py < 2147483648.0;
    if (!holds) return -1;
    // Unsigned: a place left of or above the region wraps to a large value.
    const std::uint32_t rx =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(px)) - static_cast<std::uint32_t>(row.left);
    const std::uint32_t ry =
        static_cast<std::uint32_t>(static_cast<std::int32_t>(py)) - static_cast<std::uint32_t>(row.top);
    if (rx >= static_cast<std::uint32_t>(row.width) || ry >= static_cast<std::uint32_t>(row.height)) {
        return -1;
    }
    return static_cast<std::int32_t>(ry) * row.stride + 3 * static_cast<std::int32_t>(rx);
}

// Drops the samples of the row before that a later sample overwrites, and
// counts the others.
__attribute__((always_inline)) inline std::size_t cull_row(std::size_t count,
                                                           const std::int32_t* __restrict offsets,
                                                           std::int32_t* __restrict earlier) {
    std::uint32_t kept = 0;
    for (std::size_t j = 0; j < count; ++j) {
        const std::int32_t at = earlier[j];
        const bool overwritten = (at == earlier[j + 1]) | (at == offsets[j]);
        const std::int32_t drawn = overwritten ? -1 : at;
        earlier[j] = drawn;
        kept += drawn >= 0 ? 1u : 0u;
    }
    return kept;
}

// The fast kernels work out the place in doubles throughout: the truncated
// coordinates, their distance from the region's corner and the byte offset
// are whole numbers doubles hold exactly, so the bounds and the offset come
// out as in land_sample, without switching lane widths on the way. A place no
// int holds (or NaN) fails the bounds, as there. Offsets fit 32 bits: the
// caller keeps regions below 2 GiB.

// Eight samples at a time, as the AVX2 kernel does four.
template <bool kScaled>
__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"), always_inline)) inline void
land_lanes_avx512(const RowLanding& row, std::size_t count, std::int32_t* __restrict offsets) {
    const HalfMesh& m = *row.mesh;
    const double* __restrict top_x = m.top_x.data();
    const double* __restrict down_x = m.down_x.data();
    const double* __restrict top_y = m.top_y.data();
    const double* __restrict down_y = m.down_y.data();
    const __m512d w = _mm512_set1_pd(row.w);
    const __m512d scale = _mm512_set1_pd(row.display_scale);
    const __m512d left = _mm512_set1_pd(row.left);
    const __m512d top = _mm512_set1_pd(row.top);
    const __m512d width = _mm512_set1_pd(row.width);
    const __m512d height = _mm512_set1_pd(row.height);
    const __m512d stride = _mm512_set1_pd(row.stride);
    const __m512d three = _mm512_set1_pd(3.0);
    const __m512d zero = _mm512_setzero_pd();
    const __m512d outside = _mm512_set1_pd(-1.0);
    constexpr int kTruncate = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    for (std::size_t i = 0; i + 8 <= count; i += 8) {
        __m512d px =
            _mm512_add_pd(_mm512_loadu_pd(top_x + i), _mm512_mul_pd(w, _mm512_loadu_pd(down_x + i)));
        __m512d py =
            _mm512_add_pd(_mm512_loadu_pd(top_y + i), _mm512_mul_pd(w, _mm512_loadu_pd(down_y + i)));
        if constexpr (kScaled) {
            px = _mm512_mul_pd(px, scale);
            py = _mm512_mul_pd(py, scale);
        }
        const __m512d rx = _mm512_sub_pd(_mm512_roundscale_pd(px, kTruncate), left);
        const __m512d ry = _mm512_sub_pd(_mm512_roundscale_pd(py, kTruncate), top);
        const __mmask8 inside = _mm512_cmp_pd_mask(rx, zero, _CMP_GE_OQ) &
                                _mm512_cmp_pd_mask(rx, width, _CMP_LT_OQ) &
                                _mm512_cmp_pd_mask(ry, zero, _CMP_GE_OQ) &
                                _mm512_cmp_pd_mask(ry, height, _CMP_LT_OQ);
        const __m512d offset =
            _mm512_add_pd(_mm512_mul_pd(ry, stride), _mm512_mul_pd(rx, three));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(offsets + i),
                            _mm512_cvttpd_epi32(_mm512_mask_blend_pd(inside, outside, offset)));
    }
}

__attribute__((target("avx512f,avx512vl,avx512dq,avx512bw"))) std::size_t land_row_avx512(
    const RowLanding& row, std::size_t count, std::int32_t* offsets, std::int32_t* earlier) {
    if (row.display_scale == 1.0) {
        land_lanes_avx512<false>(row, count, offsets);
    } else {
        land_lanes_avx512<true>(row, count, offsets);
    }
    for (std::size_t i = count / 8 * 8; i < count; ++i) offsets[i] = land_sample(row, i);
    return earlier == nullptr ? 0 : cull_row(count, offsets, earlier);
}

// Four samples at a time; the multiplication by a display scale of 1 is left
// out (x * 1.0 is x, bit for bit).
template <bool kScaled>
__attribute__((target("avx2"), always_inline)) inline void land_lanes_avx2(
    const RowLanding& row, std::size_t count, std::int32_t* __restrict offsets) {
    const HalfMesh& m = *row.mesh;
    const double* __restrict top_x = m.top_x.data();
    const double* __restrict down_x = m.down_x.data();
    const double* __restrict top_y = m.top_y.data();
    const double* __restrict down_y = m.down_y.data();
    const __m256d w = _mm256_set1_pd(row.w);
    const __m256d scale = _mm256_set1_pd(row.display_scale);
    const __m256d left = _mm256_set1_pd(row.left);
    const __m256d top = _mm256_set1_pd(row.top);
    const __m256d width = _mm256_set1_pd(row.width);
    const __m256d height = _mm256_set1_pd(row.height);
    const __m256d stride = _mm256_set1_pd(row.stride);
    const __m256d three = _mm256_set1_pd(3.0);
    const __m256d zero = _mm256_setzero_pd();
    const __m256d outside = _mm256_set1_pd(-1.0);
    constexpr int kTruncate = _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC;
    for (std::size_t i = 0; i + 4 <= count; i += 4) {
        __m256d px =
            _mm256_add_pd(_mm256_loadu_pd(top_x + i), _mm256_mul_pd(w, _mm256_loadu_pd(down_x + i)));
        __m256d py =
            _mm256_add_pd(_mm256_loadu_pd(top_y + i), _mm256_mul_pd(w, _mm256_loadu_pd(down_y + i)));
        if constexpr (kScaled) {
            px = _mm256_mul_pd(px, scale);
            py = _mm256_mul_pd(py, scale);
        }
        const __m256d rx = _mm256_sub_pd(_mm256_round_pd(px, kTruncate), left);
        const __m256d ry = _mm256_sub_pd(_mm256_round_pd(py, kTruncate), top);
        const __m256d inside = _mm256_and_pd(
            _mm256_and_pd(_mm256_cmp_pd(rx, zero, _CMP_GE_OQ), _mm256_cmp_pd(rx, width, _CMP_LT_OQ)),
            _mm256_and_pd(_mm256_cmp_pd(ry, zero, _CMP_GE_OQ),
                          _mm256_cmp_pd(ry, height, _CMP_LT_OQ)));
        const __m256d offset =
            _mm256_add_pd(_mm256_mul_pd(ry, stride), _mm256_mul_pd(rx, three));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(offsets + i),
                         _mm256_cvttpd_epi32(_mm256_blendv_pd(outside, offset, inside)));
    }
}

__attribute__((target("avx2"))) std::size_t land_row_avx2(const RowLanding& row,
                                                          std::size_t count,
                                                          std::int32_t* offsets,
                                                          std::int32_t* earlier) {
    if (row.display_scale == 1.0) {
        land_lanes_avx2<false>(row, count, offsets);
    } else {
        land_lanes_avx2<true>(row, count, offsets);
    }
    for (std::size_t i = count / 4 * 4; i < count; ++i) offsets[i] = land_sample(row, i);
    return earlier == nullptr ? 0 : cull_row(count, offsets, earlier);
}

std::size_t land_row_baseline(const RowLanding& row, std::size_t count, std::int32_t* offsets,
                              std::int32_t* earlier) {
    for (std::size_t i = 0; i < count; ++i) offsets[i] = land_sample(row, i);
    return earlier == nullptr ? 0 : cull_row(count, offsets, earlier);
}

}  // namespace

LandRow land_row_kernel(VectorIsa isa) {
    // Never instructions the processor lacks, whatever the caller asks.
    if (!processor_has(isa)) isa = VectorIsa::Baseline;
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
        case VectorIsa::Avx512:
            return land_row_avx512;
        case VectorIsa::Avx2:
            return land_row_avx2;
        case VectorIsa::Baseline:
            break;
    }
    return land_row_baseline;
}

namespace {

// The calibration's workload: rows of a 1600-sample mesh half as a window
// of 1600 x 1000 shows it, every row culling the one before, at a display
// scale other than 1 (the multiplication taken, as at most scales).
constexpr std::size_t kTrialSamples = 1600;
constexpr int kTrialRows = 48;
constexpr std::int32_t kTrialWindowWidth = 1600;
constexpr std::int32_t kTrialWindowHeight = 1000;
constexpr double kTrialDisplayScale = 1.25;

KernelTrial landing_trial() {
    struct Work {
        HalfMesh mesh;
        std::vector<std::int32_t> offsets = std::vector<std::int32_t>(kTrialSamples + 1, -1);
        std::vector<std::int32_t> earlier = std::vector<std::int32_t>(kTrialSamples + 1, -1);
    };
    const auto work = std::make_shared<Work>();
    work->mesh.resize(kTrialSamples);
    for (std::size_t i = 0; i < kTrialSamples; ++i) {
        const double t = static_cast<double>(i);
        work->mesh.top_x[i] = 40.0 + 0.93 * t;
        work->mesh.down_x[i] = 12.0 - 0.004 * t;
        work->mesh.top_y[i] = 60.0 + 0.02 * t;
        work->mesh.down_y[i] = 700.0 + 0.03 * t;
    }
    return {{}, [work](VectorIsa isa) {
                const LandRow land_row = land_row_kernel(isa);
                // The window's top-left corner at the picture's; 3 bytes a pixel.
                RowLanding row{&work->mesh,
                               0.0,
                               kTrialDisplayScale,
                               0,
                               0,
                               kTrialWindowWidth,
                               kTrialWindowHeight,
                               3 * kTrialWindowWidth};
                for (int r = 0; r < kTrialRows; ++r) {
                    row.w = r / (kTrialRows - 1.0);
                    land_row(row, kTrialSamples, work->offsets.data(),
                             r == 0 ? nullptr : work->earlier.data());
                    work->offsets.swap(work->earlier);
                }
            }};
}

}  // namespace

VectorIsa chosen_landing_kernel() {
    static const KernelVariants variants{KernelOperation::Landing,
                                         {VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
                                         landing_trial};
    return chosen_kernel(variants);
}

LandRow land_row_kernel() { return land_row_kernel(chosen_landing_kernel()); }

}  // namespace tintora::composition_detail
