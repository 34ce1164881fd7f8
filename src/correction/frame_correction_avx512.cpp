// The AVX-512 kernels of the whole-frame correction. A row is handled in
// chunks, in three passes that keep their working arrays in the L1 cache:
//   1. the pixels as 32-bit words with their intensities;
//   2. each pixel's four corner table entries: with byte permutes, 64 pixels
//      at a time, where the processor has AVX512-VBMI, else one load each;
//   3. correct_pixel's arithmetic, sixteen pixels at a time, first in single
//      precision; a group with any value too close to a whole number for
//      single precision to be sure of its truncation is redone in double
//      precision with exactly correct_pixel's operations, so every byte is
//      the one the scalar code gives.
// Only these functions use AVX-512; they are called only when the processor
// has it.
#include <immintrin.h>

// GCC 12's AVX-512 headers build some results from deliberately undefined
// registers, which its own uninitialised-value checks then report.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
// Vector values only pass between functions inlined into one kernel.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <array>
#include <cstdint>

#include "correction/frame_correction_plan.hpp"

#define TINTORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma,bmi2")))
#define TINTORA_AVX512_INLINE                                                  \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma,bmi2"), \
                   always_inline)) inline
#define TINTORA_AVX512_VBMI \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx2,fma,bmi2")))
#define TINTORA_AVX512_VBMI_INLINE                                                        \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx2,fma,bmi2"), \
                   always_inline)) inline

namespace tintora::correction_detail {
namespace {

// Pixels per pass; a multiple of 64.
constexpr int kChunk = 256;

struct ChunkBuffers {
    // Per pixel: B, G, R and the intensity in bytes 0 to 3.
    alignas(64) std::uint32_t words[kChunk];
    alignas(64) std::uint8_t intensity[kChunk];
    // Per pixel: the top-left, top-right, bottom-left and bottom-right table
    // entries of its cell at its intensity.
    alignas(64) std::uint8_t corners[4][kChunk];
};

// Shuffle masks that put the bytes of channel `channel` of 16 pixels
// (given as 16 bytes, one per pixel) at their places in 16 bytes of output
// part `part` of the 48 interleaved bytes; -1 leaves a zero.
constexpr std::array<std::int8_t, 16> interleave_mask(int part, int channel) {
    std::array<std::int8_t, 16> mask{};
    for (int j = 0; j < 16; ++j) {
        const int i = 16 * part + j;
        mask[j] = static_cast<std::int8_t>(i % 3 == channel ? i / 3 : -1);
    }
    return mask;
}

// Turns the four pixels held in the low 12 bytes of a 128-bit lane into four
// 32-bit words B | G << 8 | R << 16.
constexpr std::array<std::int8_t, 16> pixel_word_mask() {
    std::array<std::int8_t, 16> mask{};
    for (int j = 0; j < 16; ++j)
        mask[j] = static_cast<std::int8_t>(j % 4 == 3 ? -1 : 3 * (j / 4) + j % 4);
    return mask;
}

// For interleaved byte `16 part + j`, the pixel it belongs to.
constexpr std::array<std::int32_t, 16> owner_of_byte(int part) {
    std::array<std::int32_t, 16> owner{};
    for (int j = 0; j < 16; ++j) owner[j] = (16 * part + j) / 3;
    return owner;
}

TINTORA_AVX512_INLINE __m128i load128(const void* from) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
}

// Eight of sixteen 32-bit integers as doubles: the low half or the high one.
TINTORA_AVX512_INLINE __m512d half_as_double(__m512i v, int half) {
    return _mm512_cvtepi32_pd(half == 0 ? _mm512_castsi512_si256(v)
                                        : _mm512_extracti64x4_epi64(v, 1));
}

// Bytes of the first `count` (1..16) pixels of a group.
TINTORA_AVX512_INLINE __mmask64 pixel_bytes(int count) {
    return count == 16 ? 0xFFFFFFFFFFFFull : (1ull << (3 * count)) - 1;
}

// Constants of the kernels, set up once per frame.
struct Constants {
    __m512i spread;  // 48 bytes -> four pixels per 128-bit lane
    __m512i to_words;
    __m512i owner[3];  // pixel of each interleaved byte, per 16-byte part
    __m128i interleave[3][3];
    __m512i one_third;  // (sum * 0xAAAB) >> 17 is sum div 3 up to 765
    __m512i low_byte;
    __m512 float_error;
};

TINTORA_AVX512_INLINE Constants make_constants() {
    static constexpr std::array<std::int8_t, 16> kPixelWords = pixel_word_mask();
    static constexpr std::array<std::int8_t, 16> kInterleave[3][3] = {
        {interleave_mask(0, 0), interleave_mask(0, 1), interleave_mask(0, 2)},
        {interleave_mask(1, 0), interleave_mask(1, 1), interleave_mask(1, 2)},
        {interleave_mask(2, 0), interleave_mask(2, 1), interleave_mask(2, 2)}};
    static constexpr std::array<std::int32_t, 16> kOwner[3] = {owner_of_byte(0), owner_of_byte(1),
                                                               owner_of_byte(2)};
    Constants k;
    k.spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    k.to_words = _mm512_broadcast_i32x4(load128(kPixelWords.data()));
    for (int part = 0; part < 3; ++part) {
        k.owner[part] = _mm512_loadu_si512(kOwner[part].data());
        for (int channel = 0; channel < 3; ++channel) {
            k.interleave[part][channel] = load128(kInterleave[part][channel].data());
        }
    }
    k.one_third = _mm512_set1_epi32(0xAAAB);
    k.low_byte = _mm512_set1_epi32(0xFF);
    k.float_error = _mm512_set1_ps(kFloatError);
    return k;
}

// Pass 1 for sixteen pixels (count of them real).
TINTORA_AVX512_INLINE void read_pixels(const std::uint8_t* at, int count, const Constants& k,
                                       std::uint32_t* words, std::uint8_t* intensity) {
    // Whole groups load without a mask: a masked load next to the previous
    // group's masked store would stall on store forwarding.
    const __m512i loaded =
        count == 16
            ? _mm512_inserti32x4(
                  _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(at))),
                  load128(at + 32), 2)
            : _mm512_maskz_loadu_epi8(pixel_bytes(count), at);
    const __m512i w = _mm512_shuffle_epi8(_mm512_permutexvar_epi32(k.spread, loaded), k.to_words);
    const __m512i sum =
        _mm512_add_epi32(_mm512_add_epi32(_mm512_and_si512(w, k.low_byte),
                                          _mm512_and_si512(_mm512_srli_epi32(w, 8), k.low_byte)),
                         _mm512_srli_epi32(w, 16));
    const __m512i i = _mm512_srli_epi32(_mm512_mullo_epi32(sum, k.one_third), 17);
    _mm512_store_si512(words, _mm512_or_si512(w, _mm512_slli_epi32(i, 24)));
    _mm_store_si128(reinterpret_cast<__m128i*>(intensity), _mm512_cvtepi32_epi8(i));
}

// Pass 2 without VBMI: one table load per pixel.
TINTORA_AVX512_INLINE void look_up_corners(const FramePlan& plan, bool lower, int x0, int count,
                                           ChunkBuffers& buffers) {
    const std::uint32_t* tables = (lower ? plan.lower : plan.upper).data();
    for (int i = 0; i < count; ++i) {
        const std::uint32_t word =
            tables[plan.cell_offset[static_cast<std::size_t>(x0 + i)] + buffers.intensity[i]];
        buffers.corners[0][i] = static_cast<std::uint8_t>(word);
        buffers.corners[1][i] = static_cast<std::uint8_t>(word >> 8);
        buffers.corners[2][i] = static_cast<std::uint8_t>(word >> 16);
        buffers.corners[3][i] = static_cast<std::uint8_t>(word >> 24);
    }
}

// One 256-entry byte table looked up for 64 indices: two 128-entry permutes,
// the index's top bit choosing between them.
TINTORA_AVX512_VBMI_INLINE __m512i look_up_64(const ColorTable& table, __m512i index,
                                              __mmask64 upper_half) {
    const std::uint8_t* t = table.data();
    const __m512i low =
        _mm512_permutex2var_epi8(_mm512_loadu_si512(t), index, _mm512_loadu_si512(t + 64));
    const __m512i high =
        _mm512_permutex2var_epi8(_mm512_loadu_si512(t + 128), index, _mm512_loadu_si512(t + 192));
    return _mm512_mask_blend_epi8(upper_half, low, high);
}

// Pass 2 with VBMI: the six tables of the half's two rows of grid points,
// 64 pixels at a time; the left and right cells share the middle column.
TINTORA_AVX512_VBMI_INLINE void look_up_corners_vbmi(const PointTables& tables, bool lower, int x0,
                                                     int count, int first_right,
                                                     ChunkBuffers& buffers) {
    const int top_row = lower ? 3 : 0;
    for (int i = 0; i < count; i += 64) {
        const __m512i index = _mm512_load_si512(buffers.intensity + i);
        const __mmask64 upper_half = _mm512_movepi8_mask(index);
        // Lanes whose column lies in the right half of the frame.
        const int first_right_lane = std::clamp(first_right - (x0 + i), 0, 64);
        const __mmask64 right = first_right_lane >= 64 ? 0 : ~0ull << first_right_lane;
        __m512i entries[2][3];
        for (int row = 0; row < 2; ++row) {
            for (int column = 0; column < 3; ++column) {
                entries[row][column] =
                    look_up_64(tables[top_row + 3 * row + column], index, upper_half);
            }
        }
        for (int row = 0; row < 2; ++row) {
            _mm512_store_si512(buffers.corners[2 * row] + i,
                               _mm512_mask_blend_epi8(right, entries[row][0], entries[row][1]));
            _mm512_store_si512(buffers.corners[2 * row + 1] + i,
                               _mm512_mask_blend_epi8(right, entries[row][1], entries[row][2]));
        }
    }
}

// correct_pixel's arithmetic for one group in double precision, operation
// for operation; writes the bytes back interleaved.
TINTORA_AVX512_INLINE void correct_group_exactly(std::uint8_t* at, int count,
                                                 const double* u_values, double w_value,
                                                 const std::uint32_t* words_at, __m512i tl,
                                                 __m512i rise_top, __m512i bl, __m512i rise_bottom,
                                                 const Constants& k) {
    const __m512i words = _mm512_load_si512(words_at);
    const __m512i channel[3] = {_mm512_and_si512(words, k.low_byte),
                                _mm512_and_si512(_mm512_srli_epi32(words, 8), k.low_byte),
                                _mm512_and_si512(_mm512_srli_epi32(words, 16), k.low_byte)};
    const __m512i intensity = _mm512_srli_epi32(words, 24);
    const __mmask16 lit = _mm512_test_epi32_mask(intensity, intensity);
    const __m512d w = _mm512_set1_pd(w_value);
    __m256i scaled[3][2];
    for (int half = 0; half < 2; ++half) {
        const __m512d u = _mm512_loadu_pd(u_values + 8 * half);
        const __m512d top = _mm512_add_pd(half_as_double(tl, half),
                                          _mm512_mul_pd(u, half_as_double(rise_top, half)));
        const __m512d bottom = _mm512_add_pd(half_as_double(bl, half),
                                             _mm512_mul_pd(u, half_as_double(rise_bottom, half)));
        const __m512d target = _mm512_add_pd(top, _mm512_mul_pd(w, _mm512_sub_pd(bottom, top)));
        // Intensity 0 has gain 0: those lanes are zeroed, not divided.
        const __m512d gain = _mm512_maskz_div_pd(static_cast<__mmask8>(lit >> (8 * half)), target,
                                                 half_as_double(intensity, half));
        // Truncated here, clipped at 255 by the saturating narrowing below.
        for (int c = 0; c < 3; ++c) {
            scaled[c][half] =
                _mm512_cvttpd_epi32(_mm512_mul_pd(half_as_double(channel[c], half), gain));
        }
    }
    __m128i bytes[3];
    for (int c = 0; c < 3; ++c) {
        bytes[c] = _mm512_cvtusepi32_epi8(
            _mm512_inserti64x4(_mm512_castsi256_si512(scaled[c][0]), scaled[c][1], 1));
    }
    __m128i out[3];
    for (int part = 0; part < 3; ++part) {
        out[part] = _mm_or_si128(_mm_or_si128(_mm_shuffle_epi8(bytes[0], k.interleave[part][0]),
                                              _mm_shuffle_epi8(bytes[1], k.interleave[part][1])),
                                 _mm_shuffle_epi8(bytes[2], k.interleave[part][2]));
    }
    if (count == 16) {
        for (int part = 0; part < 3; ++part)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16 * part), out[part]);
    } else {
        const __m512i packed = _mm512_inserti32x4(
            _mm512_inserti32x4(_mm512_castsi128_si512(out[0]), out[1], 1), out[2], 2);
        _mm512_mask_storeu_epi8(at, pixel_bytes(count), packed);
    }
}

// Pass 3 for sixteen pixels (count of them real) starting at `at`.
TINTORA_AVX512_INLINE void correct_group(std::uint8_t* at, int count, const double* u_values,
                                         const float* u_float, double w_value, __m512 w_float,
                                         const ChunkBuffers& buffers, int i, const Constants& k) {
    const __m512i intensity = _mm512_cvtepu8_epi32(load128(buffers.intensity + i));
    const __m512i tl = _mm512_cvtepu8_epi32(load128(buffers.corners[0] + i));
    const __m512i tr = _mm512_cvtepu8_epi32(load128(buffers.corners[1] + i));
    const __m512i bl = _mm512_cvtepu8_epi32(load128(buffers.corners[2] + i));
    const __m512i br = _mm512_cvtepu8_epi32(load128(buffers.corners[3] + i));
    const __m512i rise_top = _mm512_sub_epi32(tr, tl);
    const __m512i rise_bottom = _mm512_sub_epi32(br, bl);
    const __mmask16 lit = _mm512_test_epi32_mask(intensity, intensity);

    // The gain in single precision, by the same steps.
    const __m512 u = _mm512_loadu_ps(u_float);
    const __m512 top =
        _mm512_add_ps(_mm512_cvtepi32_ps(tl), _mm512_mul_ps(u, _mm512_cvtepi32_ps(rise_top)));
    const __m512 bottom =
        _mm512_add_ps(_mm512_cvtepi32_ps(bl), _mm512_mul_ps(u, _mm512_cvtepi32_ps(rise_bottom)));
    const __m512 target = _mm512_add_ps(top, _mm512_mul_ps(w_float, _mm512_sub_ps(bottom, top)));
    const __m512 gain = _mm512_maskz_div_ps(lit, target, _mm512_cvtepi32_ps(intensity));

    // The 48 channel bytes in their memory order, each times its pixel's
    // gain. Where truncating value - error and value + error agree, no whole
    // number lies near and that is the exact result.
    const __mmask64 bytes = pixel_bytes(count);
    __m512i low[3];
    __mmask16 doubtful = 0;
    for (int part = 0; part < 3; ++part) {
        const __m128i raw = count == 16
                                ? load128(at + 16 * part)
                                : _mm_maskz_loadu_epi8(static_cast<__mmask16>(bytes >> (16 * part)),
                                                       at + 16 * part);
        const __m512 value = _mm512_mul_ps(_mm512_cvtepi32_ps(_mm512_cvtepu8_epi32(raw)),
                                           _mm512_permutexvar_ps(k.owner[part], gain));
        low[part] = _mm512_cvttps_epi32(_mm512_sub_ps(value, k.float_error));
        const __m512i high = _mm512_cvttps_epi32(_mm512_add_ps(value, k.float_error));
        doubtful |= _mm512_cmpneq_epi32_mask(low[part], high);
    }
    if (doubtful != 0) {
        correct_group_exactly(at, count, u_values, w_value, buffers.words + i, tl, rise_top, bl,
                              rise_bottom, k);
        return;
    }
    for (int part = 0; part < 3; ++part) {
        // Saturating narrowing: the clip at 255.
        const __m128i narrowed = _mm512_cvtusepi32_epi8(low[part]);
        if (count == 16) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 16 * part), narrowed);
        } else {
            _mm_mask_storeu_epi8(at + 16 * part, static_cast<__mmask16>(bytes >> (16 * part)),
                                 narrowed);
        }
    }
}

// Passes 1 and 3 of one chunk; pass 2 is the caller's.
TINTORA_AVX512_INLINE void read_chunk(std::uint8_t* chunk, int count, const Constants& k,
                                      ChunkBuffers& buffers) {
    for (int i = 0; i < count; i += 16) {
        read_pixels(chunk + 3 * i, std::min(16, count - i), k, buffers.words + i,
                    buffers.intensity + i);
    }
}

TINTORA_AVX512_INLINE void correct_chunk(std::uint8_t* chunk, int x0, int count,
                                         const FramePlan& plan, const RowPlace& place,
                                         const ChunkBuffers& buffers, const Constants& k) {
    const __m512 w_float = _mm512_set1_ps(static_cast<float>(place.w));
    for (int i = 0; i < count; i += 16) {
        correct_group(chunk + 3 * i, std::min(16, count - i), plan.u.data() + x0 + i,
                      plan.u_float.data() + x0 + i, place.w, w_float, buffers, i, k);
    }
}

}  // namespace

// The two row loops differ only in pass 2. They stay two loops because a
// function may only inline code for instructions its own target allows, so
// the VBMI lookup cannot sit in a loop shared with the plain AVX-512 kernel.
TINTORA_AVX512 void correct_rows_avx512(Frame& frame, const FramePlan& plan) {
    const Constants k = make_constants();
    ChunkBuffers buffers;
    for (int y = 0; y < frame.height(); ++y) {
        const RowPlace place = row_place(y, frame.height());
        for (int x0 = 0; x0 < frame.width(); x0 += kChunk) {
            const int count = std::min(kChunk, frame.width() - x0);
            std::uint8_t* chunk = frame.pixel(y, x0);
            read_chunk(chunk, count, k, buffers);
            look_up_corners(plan, place.lower, x0, count, buffers);
            correct_chunk(chunk, x0, count, plan, place, buffers, k);
        }
    }
}

TINTORA_AVX512_VBMI void correct_rows_avx512_vbmi(Frame& frame, const FramePlan& plan) {
    const Constants k = make_constants();
    ChunkBuffers buffers;
    for (int y = 0; y < frame.height(); ++y) {
        const RowPlace place = row_place(y, frame.height());
        for (int x0 = 0; x0 < frame.width(); x0 += kChunk) {
            const int count = std::min(kChunk, frame.width() - x0);
            std::uint8_t* chunk = frame.pixel(y, x0);
            read_chunk(chunk, count, k, buffers);
            look_up_corners_vbmi(plan.point_tables, place.lower, x0, count, plan.first_right,
                                 buffers);
            correct_chunk(chunk, x0, count, plan, place, buffers, k);
        }
    }
}

}  // namespace tintora::correction_detail
