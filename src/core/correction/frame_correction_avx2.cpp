// The AVX2 kernel of the whole-frame correction. Without AVX-512 there are
// no byte permutes for the table lookups, gathers are slow and a division
// costs as much as the rest of a group's arithmetic, so the work is
// arranged around them:
//   - once per frame, per half and table index (cell * 256 + intensity), the
//     parts of the gain, target / intensity, in double precision, so that
//         gain = (left + w left_down) + u (rise + w rise_down);
//   - once per row, the two brackets for its w, rounded to single precision:
//     a 4 KB table of (P, Q) pairs, gain = P + u Q;
//   - per chunk of a row, three passes that keep their arrays in the L1
//     cache: the pixels as words with their table indices; each pixel's
//     (P, Q) pair, one scalar load each; then, eight pixels at a time, the
//     channels times the gain in single precision. A group with any value
//     too close to a whole number for single precision to be sure of its
//     truncation is redone in double precision with exactly correct_pixel's
//     operations, so every byte is the one the scalar code gives.
// The gain parts and row tables are shared with the AVX-512 kernels, as is
// the bound on the single-precision error (see kFloatError).
// The colour mode's kernel (at the end) needs three pairs per pixel, one
// per channel, and each channel is P + u Q itself (see ColourPlan).
// Only these functions use AVX2; they are called only when the processor has
// it. FMA is left out of the target so that no build can fuse a multiply and
// an add here.
#include <immintrin.h>

// Vector values only pass between functions inlined into one kernel.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "core/correction/frame_correction_plan.hpp"

#define TINTORA_AVX2 __attribute__((target("avx2,bmi2")))
#define TINTORA_AVX2_INLINE __attribute__((target("avx2,bmi2"), always_inline)) inline

namespace tintora::correction_detail {
namespace {

constexpr int kGroup = 8;
constexpr int kGroupBytes = 3 * kGroup;
// Pixels per pass; a multiple of kGroup.
constexpr int kChunk = 256;

// Where pixel j of a group keeps its (P, Q) pair: in this order one
// shuffle of the group's two vectors of pairs gives all P, another all Q,
// each in pixel order.
constexpr int kPairSlot[kGroup] = {0, 1, 4, 5, 2, 3, 6, 7};

// Loaded as bytes 0..15 in the low lane and 8..23 in the high one, the eight
// pixels sit at offsets 0..11 and 4..15 of their lanes; this makes them the
// words B | G << 8 | R << 16, four per lane.
constexpr std::array<std::int8_t, 32> pixel_word_mask() {
    std::array<std::int8_t, 32> mask{};
    for (int lane = 0; lane < 2; ++lane) {
        for (int j = 0; j < 16; ++j) {
            mask[16 * lane + j] =
                static_cast<std::int8_t>(j % 4 == 3 ? -1 : 4 * lane + 3 * (j / 4) + j % 4);
        }
    }
    return mask;
}

// Twelve interleaved bytes per lane, taking byte `channel` of pixel `pixel`
// from source byte source(pixel, channel); the last four are zero.
template <class Source>
constexpr std::array<std::int8_t, 32> interleave_mask(Source source) {
    std::array<std::int8_t, 32> mask{};
    for (int lane = 0; lane < 2; ++lane) {
        for (int j = 0; j < 16; ++j) {
            mask[16 * lane + j] = static_cast<std::int8_t>(j < 12 ? source(j / 3, j % 3) : -1);
        }
    }
    return mask;
}

// Constants of the kernel, set up once per frame.
struct Constants {
    __m256i to_words;
    __m256i words_to_bytes;   // from the words B | G << 8 | R << 16
    __m256i planes_to_bytes;  // from four B, four G, four R
    __m256i joined;           // the two lanes' twelve bytes made 24 in a row
    __m256i byte_ones;        // bytes, then 16-bit words, of 1: the sum by multiply-adds
    __m256i word_ones;
    __m256i one_third;  // 16-bit high product with 0xAAAB, then >> 1: sum div 3 up to 765
    __m256i low_byte;
    __m256 float_error;
};

TINTORA_AVX2_INLINE __m256i load256(const void* from) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(from));
}

TINTORA_AVX2_INLINE Constants make_constants() {
    static constexpr std::array<std::int8_t, 32> kToWords = pixel_word_mask();
    static constexpr std::array<std::int8_t, 32> kWordsToBytes =
        interleave_mask([](int pixel, int channel) { return 4 * pixel + channel; });
    static constexpr std::array<std::int8_t, 32> kPlanesToBytes =
        interleave_mask([](int pixel, int channel) { return 4 * channel + pixel; });
    Constants k;
    k.to_words = load256(kToWords.data());
    k.words_to_bytes = load256(kWordsToBytes.data());
    k.planes_to_bytes = load256(kPlanesToBytes.data());
    k.joined = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    k.byte_ones = _mm256_set1_epi8(1);
    k.word_ones = _mm256_set1_epi16(1);
    k.one_third = _mm256_set1_epi32(0xAAAB);
    k.low_byte = _mm256_set1_epi32(0xFF);
    k.float_error = _mm256_set1_ps(kFloatError);
    return k;
}

struct ChunkBuffers {
    alignas(32) std::uint32_t words[kChunk];  // B | G << 8 | R << 16
    alignas(32) std::int32_t index[kChunk];   // cell offset + intensity
    alignas(32) std::uint64_t pairs[kChunk];  // (P, Q), in kPairSlot order per group
};

// Writes the first 24 bytes of v.
TINTORA_AVX2_INLINE void store_group(std::uint8_t* at, __m256i v) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(v));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), _mm256_extracti128_si256(v, 1));
}

TINTORA_AVX2_INLINE __m256d half_as_double(__m256i v, int half) {
    return _mm256_cvtepi32_pd(half == 0 ? _mm256_castsi256_si128(v)
                                        : _mm256_extracti128_si256(v, 1));
}

// Pass 1 for one group: the pixels as words and their table indices, with
// the intensity (B + G + R) div 3.
TINTORA_AVX2_INLINE void read_group(const std::uint8_t* at, const std::int32_t* cell_offset,
                                    const Constants& k, std::uint32_t* words_out,
                                    std::int32_t* index_out) {
    const __m256i loaded = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(at))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(at + 8)), 1);
    const __m256i words = _mm256_shuffle_epi8(loaded, k.to_words);
    const __m256i sum = _mm256_madd_epi16(_mm256_maddubs_epi16(words, k.byte_ones), k.word_ones);
    const __m256i intensity = _mm256_srli_epi32(_mm256_mulhi_epu16(sum, k.one_third), 1);
    _mm256_store_si256(reinterpret_cast<__m256i*>(words_out), words);
    _mm256_store_si256(reinterpret_cast<__m256i*>(index_out),
                       _mm256_add_epi32(load256(cell_offset), intensity));
}

// correct_pixel's arithmetic for one group in double precision, operation
// for operation; writes the bytes back interleaved.
TINTORA_AVX2_INLINE void correct_group_exactly(std::uint8_t* at, const double* u_values,
                                               double w_value, __m256i words, __m256i index,
                                               const std::uint32_t* tables, const Constants& k) {
    // Rare enough that a gather does for the corner words.
    const __m256i corners = _mm256_i32gather_epi32(reinterpret_cast<const int*>(tables), index, 4);
    const __m256i intensity = _mm256_and_si256(index, k.low_byte);
    const __m256i tl = _mm256_and_si256(corners, k.low_byte);
    const __m256i tr = _mm256_and_si256(_mm256_srli_epi32(corners, 8), k.low_byte);
    const __m256i bl = _mm256_and_si256(_mm256_srli_epi32(corners, 16), k.low_byte);
    const __m256i br = _mm256_srli_epi32(corners, 24);
    const __m256i rise_top = _mm256_sub_epi32(tr, tl);
    const __m256i rise_bottom = _mm256_sub_epi32(br, bl);
    const __m256i channel[3] = {_mm256_and_si256(words, k.low_byte),
                                _mm256_and_si256(_mm256_srli_epi32(words, 8), k.low_byte),
                                _mm256_srli_epi32(words, 16)};
    const __m256d w = _mm256_set1_pd(w_value);
    __m128i scaled[3][2];
    for (int half = 0; half < 2; ++half) {
        const __m256d u = _mm256_loadu_pd(u_values + 4 * half);
        const __m256d top = _mm256_add_pd(half_as_double(tl, half),
                                          _mm256_mul_pd(u, half_as_double(rise_top, half)));
        const __m256d bottom = _mm256_add_pd(half_as_double(bl, half),
                                             _mm256_mul_pd(u, half_as_double(rise_bottom, half)));
        const __m256d target = _mm256_add_pd(top, _mm256_mul_pd(w, _mm256_sub_pd(bottom, top)));
        // Intensity 0 has gain 0: whatever the division gives there is masked.
        const __m256d i = half_as_double(intensity, half);
        const __m256d gain = _mm256_and_pd(_mm256_div_pd(target, i),
                                           _mm256_cmp_pd(i, _mm256_setzero_pd(), _CMP_GT_OQ));
        for (int c = 0; c < 3; ++c) {
            scaled[c][half] =
                _mm256_cvttpd_epi32(_mm256_mul_pd(half_as_double(channel[c], half), gain));
        }
    }
    // Truncated above, clipped at 255 here.
    __m256i out = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
        const __m256i value =
            _mm256_min_epi32(_mm256_set_m128i(scaled[c][1], scaled[c][0]), k.low_byte);
        out = _mm256_or_si256(out, _mm256_slli_epi32(value, 8 * c));
    }
    store_group(at,
                _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(out, k.words_to_bytes), k.joined));
}

// Pass 3 for the group at `at`, column x; i is its place in the chunk.
TINTORA_AVX2_INLINE void correct_group(std::uint8_t* at, int x, int i, const FramePlan& plan,
                                       double w_value, const std::uint32_t* tables,
                                       const ChunkBuffers& buffers, const Constants& k) {
    const __m256i words = _mm256_load_si256(reinterpret_cast<const __m256i*>(buffers.words + i));
    const __m256 pairs_low = _mm256_load_ps(reinterpret_cast<const float*>(buffers.pairs + i));
    const __m256 pairs_high = _mm256_load_ps(reinterpret_cast<const float*>(buffers.pairs + i + 4));
    const __m256 p = _mm256_shuffle_ps(pairs_low, pairs_high, _MM_SHUFFLE(2, 0, 2, 0));
    const __m256 q = _mm256_shuffle_ps(pairs_low, pairs_high, _MM_SHUFFLE(3, 1, 3, 1));
    const __m256 gain =
        _mm256_add_ps(p, _mm256_mul_ps(_mm256_loadu_ps(plan.u_float.data() + x), q));

    // Each channel times the gain. Where truncating value - error and
    // value + error agree, no whole number lies near and that is the exact
    // result.
    const __m256i channel[3] = {_mm256_and_si256(words, k.low_byte),
                                _mm256_and_si256(_mm256_srli_epi32(words, 8), k.low_byte),
                                _mm256_srli_epi32(words, 16)};
    __m256i low[3];
    __m256i doubtful = _mm256_setzero_si256();
    for (int c = 0; c < 3; ++c) {
        const __m256 value = _mm256_mul_ps(_mm256_cvtepi32_ps(channel[c]), gain);
        low[c] = _mm256_cvttps_epi32(_mm256_sub_ps(value, k.float_error));
        const __m256i high = _mm256_cvttps_epi32(_mm256_add_ps(value, k.float_error));
        doubtful = _mm256_or_si256(doubtful, _mm256_xor_si256(low[c], high));
    }
    if (!_mm256_testz_si256(doubtful, doubtful)) {
        correct_group_exactly(
            at, plan.u.data() + x, w_value, words,
            _mm256_load_si256(reinterpret_cast<const __m256i*>(buffers.index + i)), tables, k);
        return;
    }
    // Saturating packs clip at 255 and leave each lane's four B, four G and
    // four R bytes in a row.
    const __m256i planes = _mm256_packus_epi16(_mm256_packus_epi32(low[0], low[1]),
                                               _mm256_packus_epi32(low[2], low[2]));
    store_group(
        at, _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(planes, k.planes_to_bytes), k.joined));
}

// The three passes over `groups` whole groups at `at`, from column x0.
TINTORA_AVX2_INLINE void correct_chunk(std::uint8_t* at, int x0, int groups, const FramePlan& plan,
                                       const RowTable& row_table, double w_value,
                                       const std::uint32_t* tables, ChunkBuffers& buffers,
                                       const Constants& k) {
    const int count = groups * kGroup;
    for (int i = 0; i < count; i += kGroup) {
        read_group(at + 3 * i, plan.cell_offset.data() + x0 + i, k, buffers.words + i,
                   buffers.index + i);
    }
    // One load each: measured faster here than gathers.
    for (int i = 0; i < count; i += kGroup) {
        for (int j = 0; j < kGroup; ++j) {
            buffers.pairs[i + kPairSlot[j]] = row_table.pairs[buffers.index[i + j]];
        }
    }
    for (int i = 0; i < count; i += kGroup) {
        correct_group(at + 3 * i, x0 + i, i, plan, w_value, tables, buffers, k);
    }
}

// ------------------------------------------------------------ colour mode

struct ColourConstants {
    __m256 margin;  // twice the error: the row tables' P has one taken off
};

// What a row's groups share in the colour mode: the row tables' pairs of
// the cell the groups lie in, indexed by the channel's value alone.
struct ColourRow {
    const FramePlan& columns;
    const std::uint64_t* pairs[3];       // per frame byte
    const std::uint32_t* const* tables;  // per frame byte, the row's half
    double w;
};

// Each doubtful pixel of a group again with correct_pixel_colour's own
// arithmetic, from the group's bytes as they were read. Out of line, so it
// is built for the baseline instruction set.
__attribute__((noinline)) void blend_doubtful_exactly(std::uint8_t* at, const std::uint8_t* read,
                                                      unsigned lanes, int x, const ColourRow& row) {
    for (; lanes != 0; lanes &= lanes - 1) {
        const int j = __builtin_ctz(lanes);
        const std::size_t column = static_cast<std::size_t>(x + j);
        for (int byte = 0; byte < 3; ++byte) {
            const std::uint32_t corners = row.tables[byte][static_cast<std::size_t>(
                row.columns.cell_offset[column] + read[3 * j + byte])];
            at[3 * j + byte] = blend_channel_word(row.columns.u[column], row.w, corners);
        }
    }
}

// The (P, Q) pairs of pixels a and b of the group at `at`, channel `byte`.
// Three lookups a pixel: loads straight into registers, by each channel's
// byte, beat both gathers and the brightness kernel's pass of loads into a
// buffer.
TINTORA_AVX2_INLINE __m128d two_pairs(const std::uint64_t* table, const std::uint8_t* at, int byte,
                                      int a, int b) {
    const __m128d first = _mm_load_sd(reinterpret_cast<const double*>(table + at[3 * a + byte]));
    return _mm_loadh_pd(first, reinterpret_cast<const double*>(table + at[3 * b + byte]));
}

// The group of eight pixels at `at`, column x: each channel's pairs
// looked up, P + u Q in single precision, truncated and packed. The tables'
// P has the error taken off: where truncating the value and the value plus
// twice the error agree, no whole number lies near and that is the exact
// result; other pixels are redone exactly.
TINTORA_AVX2_INLINE void blend_group(std::uint8_t* at, int x, const ColourRow& row,
                                     const Constants& k, const ColourConstants& kc) {
    const __m256 u = _mm256_loadu_ps(row.columns.u_float.data() + x);
    __m256i low[3];
    __m256i doubtful = _mm256_setzero_si256();
    for (int byte = 0; byte < 3; ++byte) {
        // Pixels 0, 1, 4, 5 and 2, 3, 6, 7: one in-lane shuffle of the two
        // puts P (and Q) in pixel order.
        const std::uint64_t* table = row.pairs[byte];
        const __m256 first = _mm256_castpd_ps(
            _mm256_set_m128d(two_pairs(table, at, byte, 4, 5), two_pairs(table, at, byte, 0, 1)));
        const __m256 second = _mm256_castpd_ps(
            _mm256_set_m128d(two_pairs(table, at, byte, 6, 7), two_pairs(table, at, byte, 2, 3)));
        const __m256 p = _mm256_shuffle_ps(first, second, _MM_SHUFFLE(2, 0, 2, 0));
        const __m256 q = _mm256_shuffle_ps(first, second, _MM_SHUFFLE(3, 1, 3, 1));
        const __m256 blended = _mm256_add_ps(p, _mm256_mul_ps(u, q));
        low[byte] = _mm256_cvttps_epi32(blended);
        const __m256i high = _mm256_cvttps_epi32(_mm256_add_ps(blended, kc.margin));
        doubtful = _mm256_or_si256(doubtful, _mm256_xor_si256(low[byte], high));
    }
    const __m256i planes = _mm256_packus_epi16(_mm256_packus_epi32(low[0], low[1]),
                                               _mm256_packus_epi32(low[2], low[2]));
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(planes, k.planes_to_bytes), k.joined);
    if (_mm256_testz_si256(doubtful, doubtful)) {
        store_group(at, bytes);
        return;
    }
    std::uint8_t read[kGroupBytes];
    std::memcpy(read, at, sizeof read);
    store_group(at, bytes);
    const unsigned lanes = ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(
                               _mm256_cmpeq_epi32(doubtful, _mm256_setzero_si256())))) &
                           0xFFu;
    blend_doubtful_exactly(at, read, lanes, x, row);
}

// The columns first..last - 1 of one cell of a row.
TINTORA_AVX2_INLINE void blend_columns(std::uint8_t* pixels, int first, int last,
                                       const ColourRow& row, const Constants& k,
                                       const ColourConstants& kc) {
    const int whole = first + (last - first) / kGroup * kGroup;
    for (int x = first; x < whole; x += kGroup) blend_group(pixels + 3 * x, x, row, k, kc);
    if (whole < last) {
        // As in the brightness kernel: the last pixels through a copy.
        const std::size_t bytes = 3 * static_cast<std::size_t>(last - whole);
        std::uint8_t tail[kGroupBytes] = {};
        std::memcpy(tail, pixels + 3 * whole, bytes);
        blend_group(tail, whole, row, k, kc);
        std::memcpy(pixels + 3 * whole, tail, bytes);
    }
}

}  // namespace

TINTORA_AVX2 void correct_rows_avx2(Frame& frame, const FramePlan& plan) {
    const Constants k = make_constants();
    const auto parts = std::make_unique<GainParts>();
    make_gain_parts(plan, *parts);
    RowTable row_table;
    ChunkBuffers buffers;
    const int width = frame.width();
    const int whole = width / kGroup * kGroup;
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        const std::uint32_t* tables = (place.lower ? plan.lower : plan.upper).data();
        fill_row_table<4>(*parts, place.lower ? 1 : 0, place.w, row_table);
        std::uint8_t* row = frame.row(y);
        for (int x0 = 0; x0 < whole; x0 += kChunk) {
            correct_chunk(row + 3 * x0, x0, std::min(kChunk, whole - x0) / kGroup, plan, row_table,
                          place.w, tables, buffers, k);
        }
        if (whole < width) {
            // The last few pixels go through a copy, so that no load or store
            // reaches past the row; the plan's arrays are padded for this.
            const std::size_t bytes = 3 * static_cast<std::size_t>(width - whole);
            std::uint8_t tail[kGroupBytes] = {};
            std::memcpy(tail, row + 3 * whole, bytes);
            correct_chunk(tail, whole, 1, plan, row_table, place.w, tables, buffers, k);
            std::memcpy(row + 3 * whole, tail, bytes);
        }
    }
}

TINTORA_AVX2 void correct_colour_rows_avx2(Frame& frame, const ColourPlan& plan) {
    const Constants k = make_constants();
    const ColourConstants kc{_mm256_set1_ps(2.0f * kColourFloatError)};
    const auto parts = std::make_unique<std::array<ColourParts, 3>>();
    for (int byte = 0; byte < 3; ++byte) make_colour_parts(plan, byte, (*parts)[byte]);
    const auto row_tables = std::make_unique<std::array<RowTable, 3>>();
    const int width = frame.width();
    // The columns of the left cells, then those of the right ones.
    const int split = static_cast<int>(
        std::count(plan.columns.cell_offset.begin(), plan.columns.cell_offset.begin() + width, 0));
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.columns.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        const auto& halves = place.lower ? plan.lower : plan.upper;
        const std::uint32_t* tables[3] = {halves[0].data(), halves[1].data(), halves[2].data()};
        for (int byte = 0; byte < 3; ++byte) {
            fill_colour_row_table<8>((*parts)[byte], place.lower ? 1 : 0,
                                     static_cast<float>(place.w), (*row_tables)[byte]);
        }
        std::uint8_t* pixels = frame.row(y);
        for (const int cell : {0, 1}) {
            const std::size_t offset = static_cast<std::size_t>(cell * kIntensityCount);
            const ColourRow row{plan.columns,
                                {(*row_tables)[0].pairs + offset, (*row_tables)[1].pairs + offset,
                                 (*row_tables)[2].pairs + offset},
                                tables,
                                place.w};
            blend_columns(pixels, cell == 0 ? 0 : split, cell == 0 ? split : width, row, k, kc);
        }
    }
}

}  // namespace tintora::correction_detail
