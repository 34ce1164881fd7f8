// The AVX-512 kernels of the whole-frame correction. They take the gain from
// the same per-row tables of (P, Q) pairs as the AVX2 kernel (gain = P + u Q,
// see frame_correction_plan.hpp), sixteen pixels at a time and in a single
// pass: two gathers fetch a group's sixteen pairs, where the AVX2 kernel
// spends a pass of scalar loads, and each row loop issues a group's gathers
// two groups ahead of its arithmetic, so that their latency passes while
// there is other work at hand. Per group:
//   - the channels and the table indices, with the intensity (B + G + R) div 3;
//   - the pairs, and the channels times P + u Q in single precision.
// A pixel with any value too close to a whole number for single precision to
// be sure of its truncation is noted and, once its row is done, redone with
// correct_pixel's own arithmetic, so every byte is the one the scalar code
// gives.
// With AVX512-VBMI one byte permute makes the pixels 32-bit words, and one
// joins the results again, where the plain kernel needs two steps each.
// The colour mode's kernel (at the end) gathers three channels' (P, Q)
// pairs per pixel, each channel being P + u Q itself (see ColourPlan), with
// the same notes and exact redo.
// Only these functions use AVX-512; they are called only when the processor
// has it.
#include <immintrin.h>

// GCC 12's AVX-512 headers build some results from deliberately undefined
// registers, which its own uninitialised-value checks then report.
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__  // a GCC warning clang does not know
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
// Vector values only pass between functions inlined into one kernel.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

#include "core/correction/frame_correction_plan.hpp"

#define TINTORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma,bmi2")))
#define TINTORA_AVX512_INLINE                                                  \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma,bmi2"), \
                   always_inline)) inline
// Lambdas do not take their enclosing function's target: they are given it.
#define TINTORA_AVX512_LAMBDA \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx2,fma,bmi2"), always_inline))
#define TINTORA_AVX512_VBMI \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx2,fma,bmi2")))
#define TINTORA_AVX512_VBMI_INLINE                                                        \
    __attribute__((target("avx512f,avx512bw,avx512dq,avx512vl,avx512vbmi,avx2,fma,bmi2"), \
                   always_inline)) inline

namespace tintora::correction_detail {
namespace {

constexpr int kGroup = 16;

// With the group's 48 bytes spread over the four 128-bit lanes, twelve
// each, makes each of the lane's four pixels a 32-bit word B | G << 8 | R << 16.
constexpr std::array<std::int8_t, 16> word_mask() {
    std::array<std::int8_t, 16> mask{};
    for (int j = 0; j < 16; ++j)
        mask[j] = static_cast<std::int8_t>(j % 4 == 3 ? -1 : 3 * (j / 4) + j % 4);
    return mask;
}

// The same from the 48 bytes as loaded, for a byte permute over the whole
// vector; each word's top byte is zeroed by a mask.
constexpr std::array<std::int8_t, 64> word_permute() {
    std::array<std::int8_t, 64> index{};
    for (int i = 0; i < 64; ++i)
        index[i] = static_cast<std::int8_t>(i % 4 == 3 ? 0 : 3 * (i / 4) + i % 4);
    return index;
}

// After the saturating packs each 128-bit lane holds its four pixels' B,
// then G, then R bytes (then R again); this interleaves them into twelve
// bytes, the last four zero.
constexpr std::array<std::int8_t, 16> planes_mask() {
    std::array<std::int8_t, 16> mask{};
    for (int j = 0; j < 16; ++j)
        mask[j] = static_cast<std::int8_t>(j < 12 ? 4 * (j % 3) + j / 3 : -1);
    return mask;
}

// The same over the whole vector: interleaved byte i, of pixel i / 3, from
// its lane's planes; the 48 bytes in a row.
constexpr std::array<std::int8_t, 64> planes_permute() {
    std::array<std::int8_t, 64> index{};
    for (int i = 0; i < 48; ++i) {
        const int pixel = i / 3;
        index[i] = static_cast<std::int8_t>(16 * (pixel / 4) + 4 * (i % 3) + pixel % 4);
    }
    return index;
}

TINTORA_AVX512_INLINE __m128i load128(const void* from) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
}

// Bytes of the first `count` (1..16) pixels of a group.
TINTORA_AVX512_INLINE __mmask64 pixel_bytes(int count) {
    return count == kGroup ? 0xFFFFFFFFFFFFull : (1ull << (3 * count)) - 1;
}

// Constants of the kernels, set up once per frame.
struct Constants {
    __m512i spread;  // 48 bytes -> twelve per 128-bit lane
    __m512i to_words;
    __m512i to_words_vbmi;
    __m512i planes_to_bytes;
    __m512i joined;  // the lanes' twelve bytes made 48 in a row
    __m512i planes_vbmi;
    __m512i pair_p;  // P and Q of pixel j from the two gathers' 32 floats
    __m512i pair_q;
    __m512i one_third;  // 16-bit high product with 0xAAAB, then >> 1: sum div 3 up to 765
    __m512i low_byte;
    __m512 float_error;
    __m512 clip;
};

TINTORA_AVX512_INLINE Constants make_constants() {
    static constexpr std::array<std::int8_t, 16> kWords = word_mask();
    static constexpr std::array<std::int8_t, 64> kWordsVbmi = word_permute();
    static constexpr std::array<std::int8_t, 16> kPlanes = planes_mask();
    static constexpr std::array<std::int8_t, 64> kPlanesVbmi = planes_permute();
    Constants k;
    k.spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    k.to_words = _mm512_broadcast_i32x4(load128(kWords.data()));
    k.to_words_vbmi = _mm512_loadu_si512(kWordsVbmi.data());
    k.planes_to_bytes = _mm512_broadcast_i32x4(load128(kPlanes.data()));
    k.joined = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 3, 7, 11, 15);
    k.planes_vbmi = _mm512_loadu_si512(kPlanesVbmi.data());
    k.pair_p = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
    k.pair_q = _mm512_setr_epi32(1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31);
    k.one_third = _mm512_set1_epi32(0xAAAB);
    k.low_byte = _mm512_set1_epi32(0xFF);
    k.float_error = _mm512_set1_ps(kFloatError);
    // A single-precision value from here up stands for an exact one above
    // 255, which clips to 255; clipped here, it comes near no whole number
    // and is not redone for nothing.
    k.clip = _mm512_set1_ps(255.5f);
    return k;
}

// B, G and R of sixteen pixels, one pixel per 32-bit lane.
struct Channels {
    __m512i c[3];
};

// The group's 48 bytes (count pixels of them real, the rest zero) in the
// low 48 bytes.
TINTORA_AVX512_INLINE __m512i load_group(const std::uint8_t* at, int count) {
    // Whole groups load and store without a mask: a masked load or store
    // next to the neighbouring group's stores would stall on store forwarding.
    return count == kGroup ? _mm512_inserti32x4(_mm512_castsi256_si512(_mm256_loadu_si256(
                                                    reinterpret_cast<const __m256i*>(at))),
                                                load128(at + 32), 2)
                           : _mm512_maskz_loadu_epi8(pixel_bytes(count), at);
}

TINTORA_AVX512_INLINE void store_group(std::uint8_t* at, int count, __m512i bytes) {
    if (count == kGroup) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at), _mm512_castsi512_si256(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 32), _mm512_extracti32x4_epi32(bytes, 2));
    } else {
        _mm512_mask_storeu_epi8(at, pixel_bytes(count), bytes);
    }
}

// Each pixel's channels from its 32-bit word B | G << 8 | R << 16.
TINTORA_AVX512_INLINE Channels split_words(__m512i words, const Constants& k) {
    return {{_mm512_and_si512(words, k.low_byte),
             _mm512_and_si512(_mm512_srli_epi32(words, 8), k.low_byte),
             _mm512_srli_epi32(words, 16)}};
}

TINTORA_AVX512_INLINE Channels split_channels(__m512i bytes, const Constants& k) {
    return split_words(_mm512_shuffle_epi8(_mm512_permutexvar_epi32(k.spread, bytes), k.to_words),
                       k);
}

TINTORA_AVX512_VBMI_INLINE Channels split_channels_vbmi(__m512i bytes, const Constants& k) {
    constexpr __mmask64 kWordBytes = 0x7777777777777777ull;
    return split_words(_mm512_maskz_permutexvar_epi8(kWordBytes, k.to_words_vbmi, bytes), k);
}

// The channels, truncated and clipped at 255 by saturating packs: per
// 128-bit lane four B, four G, four R bytes (then R again).
TINTORA_AVX512_INLINE __m512i pack_planes(const __m512i (&scaled)[3]) {
    return _mm512_packus_epi16(_mm512_packus_epi32(scaled[0], scaled[1]),
                               _mm512_packus_epi32(scaled[2], scaled[2]));
}

TINTORA_AVX512_INLINE __m512i join_planes(__m512i planes, const Constants& k) {
    return _mm512_permutexvar_epi32(k.joined, _mm512_shuffle_epi8(planes, k.planes_to_bytes));
}

TINTORA_AVX512_VBMI_INLINE __m512i join_planes_vbmi(__m512i planes, const Constants& k) {
    return _mm512_permutexvar_epi8(k.planes_vbmi, planes);
}

// Each pixel's row table index: its cell's offset plus its intensity.
TINTORA_AVX512_INLINE __m512i table_index(const Channels& channels, const std::int32_t* cell_offset,
                                          const Constants& k) {
    const __m512i sum =
        _mm512_add_epi32(_mm512_add_epi32(channels.c[0], channels.c[1]), channels.c[2]);
    const __m512i intensity = _mm512_srli_epi32(_mm512_mulhi_epu16(sum, k.one_third), 1);
    return _mm512_add_epi32(_mm512_loadu_si512(cell_offset), intensity);
}

// The (P, Q) pairs at eight table indices. A gather keeps the lanes its
// mask leaves out, so it waits for whatever last wrote its destination;
// given a mask it can see is full, GCC picks any register for that, often
// one the previous group wrote last, which chains the groups one after the
// other. A zeroed source and a mask it cannot see through break the chain.
TINTORA_AVX512_INLINE __m512 gather_pairs(__m256i index, const RowTable& row_table) {
    __mmask8 all = 0xFF;
    asm("" : "+k"(all));
    return _mm512_castsi512_ps(
        _mm512_mask_i32gather_epi64(_mm512_setzero_si512(), all, index, row_table.pairs, 8));
}

// What a row's groups share.
struct RowWork {
    const FramePlan& plan;
    const RowTable& row_table;
    const std::uint32_t* tables;  // the row's half
    double w;
    const Constants& k;
};

// Notes on the groups of a row, taken as each group is worked out; its
// pixels whose single-precision result may be off are redone exactly once
// the row's other groups are done. Deciding per group whether to redo it
// would be a branch the processor mispredicts each time, which costs more
// than the work it spares. Kept in locals of the row loop, the count stays
// in a register, clear of the stores beside it.
struct DoubtfulNotes {
    struct alignas(64) GroupBytes {
        std::uint8_t bytes[64];
    };
    GroupBytes* read;      // each group's bytes as read, by group
    int* columns;          // the first columns of the doubtful groups
    std::uint16_t* lanes;  // and their doubtful pixels
    int count;

    TINTORA_AVX512_INLINE void note(int x, __m512i bytes, __mmask16 doubtful_lanes) {
        // Stored whatever the lanes, so that nothing waits on them.
        _mm512_store_si512(read[x / kGroup].bytes, bytes);
        columns[count] = x;
        lanes[count] = doubtful_lanes;
        count += doubtful_lanes != 0;
    }
};

// The room for a row's notes, allocated once per frame.
class Doubtful {
public:
    explicit Doubtful(int width)
        : read_(std::make_unique<DoubtfulNotes::GroupBytes[]>(groups(width))),
          columns_(std::make_unique<int[]>(groups(width))),
          lanes_(std::make_unique<std::uint16_t[]>(groups(width))) {}

    DoubtfulNotes notes() { return {read_.get(), columns_.get(), lanes_.get(), 0}; }

private:
    static std::size_t groups(int width) {
        return static_cast<std::size_t>((width + kGroup - 1) / kGroup);
    }

    std::unique_ptr<DoubtfulNotes::GroupBytes[]> read_;
    std::unique_ptr<int[]> columns_;
    std::unique_ptr<std::uint16_t[]> lanes_;
};

// correct_pixel's arithmetic, with its own helpers, on each doubtful pixel
// of the row as it was read. Kept out of line, so that it is built for the
// baseline instruction set: whatever the build's contraction setting, no
// multiply and add can fuse here.
__attribute__((noinline)) void redo_exactly(std::uint8_t* pixels, const DoubtfulNotes& notes,
                                            const FramePlan& plan, const std::uint32_t* tables,
                                            double w) {
    for (int i = 0; i < notes.count; ++i) {
        const int x = notes.columns[i];
        const std::uint8_t* read = notes.read[x / kGroup].bytes;
        for (unsigned lanes = notes.lanes[i]; lanes != 0; lanes &= lanes - 1) {
            const int lane = __builtin_ctz(lanes);
            const std::size_t column = static_cast<std::size_t>(x + lane);
            const std::uint8_t* in = read + 3 * lane;
            const int intensity = pixel_intensity(in[2], in[1], in[0]);
            const std::uint32_t corners =
                tables[static_cast<std::size_t>(plan.cell_offset[column] + intensity)];
            const double target =
                blend_corners(plan.u[column], w, corners & 0xFF, corners >> 8 & 0xFF,
                              corners >> 16 & 0xFF, corners >> 24);
            const double gain = intensity > 0 ? target / intensity : 0.0;
            std::uint8_t* out = pixels + 3 * column;
            for (int c = 0; c < 3; ++c) out[c] = scale_channel(in[c], gain);
        }
    }
}

// A group read, with its table pairs on the way. Each row loop fetches a
// group two groups before it works it out, so that the gathers' latency
// passes while there is other work at hand (one ahead measured slower).
struct Fetched {
    __m512i bytes;  // as read, for the exact pass
    Channels channels;
    __m512 first;  // the (P, Q) pairs of pixels 0 to 7
    __m512 second;
};

TINTORA_AVX512_INLINE Fetched fetch_pairs(__m512i bytes, const Channels& channels, int x,
                                          const RowWork& row) {
    const __m512i index = table_index(channels, row.plan.cell_offset.data() + x, row.k);
    return {bytes, channels, gather_pairs(_mm512_castsi512_si256(index), row.row_table),
            gather_pairs(_mm512_extracti64x4_epi64(index, 1), row.row_table)};
}

// The group of count pixels from column x.
TINTORA_AVX512_INLINE Fetched fetch_group(const std::uint8_t* pixels, int x, int count,
                                          const RowWork& row) {
    const __m512i bytes = load_group(pixels + 3 * x, count);
    return fetch_pairs(bytes, split_channels(bytes, row.k), x, row);
}

TINTORA_AVX512_VBMI_INLINE Fetched fetch_group_vbmi(const std::uint8_t* pixels, int x, int count,
                                                    const RowWork& row) {
    const __m512i bytes = load_group(pixels + 3 * x, count);
    return fetch_pairs(bytes, split_channels_vbmi(bytes, row.k), x, row);
}

// Each channel of the group from column x times its gain P + u Q in single
// precision, truncated and packed; the group is noted for the exact pass.
// Where truncating value - error and value + error agree, no whole number
// lies near and that is the exact result.
TINTORA_AVX512_INLINE __m512i scale_group(const Fetched& group, int x, const RowWork& row,
                                          DoubtfulNotes& notes) {
    const Constants& k = row.k;
    const __m512 p = _mm512_permutex2var_ps(group.first, k.pair_p, group.second);
    const __m512 q = _mm512_permutex2var_ps(group.first, k.pair_q, group.second);
    const __m512 gain =
        _mm512_add_ps(p, _mm512_mul_ps(_mm512_loadu_ps(row.plan.u_float.data() + x), q));
    __m512i scaled[3];
    __m512i differ = _mm512_setzero_si512();
    for (int c = 0; c < 3; ++c) {
        const __m512 value =
            _mm512_min_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(group.channels.c[c]), gain), k.clip);
        scaled[c] = _mm512_cvttps_epi32(_mm512_sub_ps(value, k.float_error));
        const __m512i high = _mm512_cvttps_epi32(_mm512_add_ps(value, k.float_error));
        differ = _mm512_ternarylogic_epi32(differ, scaled[c], high, 0xF6);  // differ | (a ^ b)
    }
    notes.note(x, group.bytes, _mm512_test_epi32_mask(differ, differ));
    return pack_planes(scaled);
}

TINTORA_AVX512_INLINE void finish_group(std::uint8_t* pixels, int x, int count,
                                        const Fetched& group, const RowWork& row,
                                        DoubtfulNotes& notes) {
    store_group(pixels + 3 * x, count, join_planes(scale_group(group, x, row, notes), row.k));
}

TINTORA_AVX512_VBMI_INLINE void finish_group_vbmi(std::uint8_t* pixels, int x, int count,
                                                  const Fetched& group, const RowWork& row,
                                                  DoubtfulNotes& notes) {
    store_group(pixels + 3 * x, count, join_planes_vbmi(scale_group(group, x, row, notes), row.k));
}

// One row of `width` pixels; the plan's arrays are padded to whole groups.
// Whole groups and the last, partial one go separately, so that the whole
// groups' loads and stores stay unmasked: a masked store reaching into the
// next group's bytes would hold up their load until it is written. A group
// is read before the two before it are written back; their bytes do not
// overlap. fetch(x, count) reads a group, finish(x, count, group) works it
// out and writes it.
template <class Fetch, class Finish>
TINTORA_AVX512_INLINE void pipeline_row(int width, Fetch fetch, Finish finish) {
    const int whole = width / kGroup * kGroup;
    if (whole >= 2 * kGroup) {
        auto first = fetch(0, kGroup);
        auto second = fetch(kGroup, kGroup);
        for (int x = 2 * kGroup; x < whole; x += kGroup) {
            const auto next = fetch(x, kGroup);
            finish(x - 2 * kGroup, kGroup, first);
            first = second;
            second = next;
        }
        finish(whole - 2 * kGroup, kGroup, first);
        finish(whole - kGroup, kGroup, second);
    } else if (whole > 0) {
        finish(0, kGroup, fetch(0, kGroup));
    }
    if (whole < width) {
        const int count = width - whole;
        finish(whole, count, fetch(whole, count));
    }
}

TINTORA_AVX512_INLINE void correct_row(std::uint8_t* pixels, int width, const RowWork& row,
                                       Doubtful& doubtful) {
    DoubtfulNotes notes = doubtful.notes();
    pipeline_row(
        width,
        [&](int x, int count) TINTORA_AVX512_LAMBDA { return fetch_group(pixels, x, count, row); },
        [&](int x, int count, const Fetched& group)
            TINTORA_AVX512_LAMBDA { finish_group(pixels, x, count, group, row, notes); });
    redo_exactly(pixels, notes, row.plan, row.tables, row.w);
}

TINTORA_AVX512_VBMI_INLINE void correct_row_vbmi(std::uint8_t* pixels, int width,
                                                 const RowWork& row, Doubtful& doubtful) {
    DoubtfulNotes notes = doubtful.notes();
    const int whole = width / kGroup * kGroup;
    if (whole >= 2 * kGroup) {
        Fetched first = fetch_group_vbmi(pixels, 0, kGroup, row);
        Fetched second = fetch_group_vbmi(pixels, kGroup, kGroup, row);
        for (int x = 2 * kGroup; x < whole; x += kGroup) {
            const Fetched next = fetch_group_vbmi(pixels, x, kGroup, row);
            finish_group_vbmi(pixels, x - 2 * kGroup, kGroup, first, row, notes);
            first = second;
            second = next;
        }
        finish_group_vbmi(pixels, whole - 2 * kGroup, kGroup, first, row, notes);
        finish_group_vbmi(pixels, whole - kGroup, kGroup, second, row, notes);
    } else if (whole > 0) {
        finish_group_vbmi(pixels, 0, kGroup, fetch_group_vbmi(pixels, 0, kGroup, row), row, notes);
    }
    if (whole < width) {
        const int count = width - whole;
        finish_group_vbmi(pixels, whole, count, fetch_group_vbmi(pixels, whole, count, row), row,
                          notes);
    }
    redo_exactly(pixels, notes, row.plan, row.tables, row.w);
}

// ------------------------------------------------------------ colour mode

// A group read, with each channel's table pairs on the way.
struct ColourFetched {
    __m512i bytes;
    __m512 first[3];  // per frame byte, the pairs of pixels 0 to 7
    __m512 second[3];
};

// What a row's groups share in the colour mode.
struct ColourRowWork {
    const FramePlan& columns;
    const RowTable* row_tables;          // per frame byte
    const std::uint32_t* const* tables;  // per frame byte, the row's half
    double w;
    const Constants& k;
};

TINTORA_AVX512_INLINE ColourFetched fetch_colour_group(const std::uint8_t* pixels, int x, int count,
                                                       const ColourRowWork& row) {
    ColourFetched group;
    group.bytes = load_group(pixels + 3 * x, count);
    const Channels channels = split_channels(group.bytes, row.k);
    const __m512i offset = _mm512_loadu_si512(row.columns.cell_offset.data() + x);
    for (int byte = 0; byte < 3; ++byte) {
        const __m512i index = _mm512_add_epi32(offset, channels.c[byte]);
        group.first[byte] = gather_pairs(_mm512_castsi512_si256(index), row.row_tables[byte]);
        group.second[byte] =
            gather_pairs(_mm512_extracti64x4_epi64(index, 1), row.row_tables[byte]);
    }
    return group;
}

// Each channel of the group from column x as P + u Q in single precision,
// truncated, packed and stored; the group is noted for the exact pass.
// Where truncating both sides of the margin agree, no whole number lies
// near and that is the exact result.
TINTORA_AVX512_INLINE void finish_colour_group(std::uint8_t* pixels, int x, int count,
                                               const ColourFetched& group, const ColourRowWork& row,
                                               DoubtfulNotes& notes) {
    const Constants& k = row.k;
    const __m512 u = _mm512_loadu_ps(row.columns.u_float.data() + x);
    // The tables' P has the error taken off: truncating the value and the
    // value plus twice the error is truncating both sides of the margin.
    const __m512 margin = _mm512_set1_ps(2.0f * kColourFloatError);
    __m512i blended[3];
    __m512i differ = _mm512_setzero_si512();
    for (int byte = 0; byte < 3; ++byte) {
        const __m512 p = _mm512_permutex2var_ps(group.first[byte], k.pair_p, group.second[byte]);
        const __m512 q = _mm512_permutex2var_ps(group.first[byte], k.pair_q, group.second[byte]);
        const __m512 value = _mm512_add_ps(p, _mm512_mul_ps(u, q));
        blended[byte] = _mm512_cvttps_epi32(value);
        const __m512i high = _mm512_cvttps_epi32(_mm512_add_ps(value, margin));
        differ = _mm512_ternarylogic_epi32(differ, blended[byte], high, 0xF6);  // differ | (a ^ b)
    }
    notes.note(x, group.bytes, _mm512_test_epi32_mask(differ, differ));
    store_group(pixels + 3 * x, count, join_planes(pack_planes(blended), k));
}

// correct_pixel_colour's arithmetic on each doubtful pixel of the row as it
// was read; out of line for the same reason as redo_exactly.
__attribute__((noinline)) void redo_colour_exactly(std::uint8_t* pixels, const DoubtfulNotes& notes,
                                                   const FramePlan& columns,
                                                   const std::uint32_t* const* tables, double w) {
    for (int i = 0; i < notes.count; ++i) {
        const int x = notes.columns[i];
        const std::uint8_t* read = notes.read[x / kGroup].bytes;
        for (unsigned lanes = notes.lanes[i]; lanes != 0; lanes &= lanes - 1) {
            const int lane = __builtin_ctz(lanes);
            const std::size_t column = static_cast<std::size_t>(x + lane);
            const std::uint8_t* in = read + 3 * lane;
            std::uint8_t* out = pixels + 3 * column;
            for (int byte = 0; byte < 3; ++byte) {
                const std::uint32_t corners =
                    tables[byte][static_cast<std::size_t>(columns.cell_offset[column] + in[byte])];
                out[byte] = blend_channel_word(columns.u[column], w, corners);
            }
        }
    }
}

// One row, groups fetched two ahead of their arithmetic as in correct_row.
TINTORA_AVX512_INLINE void blend_row(std::uint8_t* pixels, int width, const ColourRowWork& row,
                                     Doubtful& doubtful) {
    DoubtfulNotes notes = doubtful.notes();
    pipeline_row(
        width,
        [&](int x, int count)
            TINTORA_AVX512_LAMBDA { return fetch_colour_group(pixels, x, count, row); },
        [&](int x, int count, const ColourFetched& group)
            TINTORA_AVX512_LAMBDA { finish_colour_group(pixels, x, count, group, row, notes); });
    redo_colour_exactly(pixels, notes, row.columns, row.tables, row.w);
}

}  // namespace

// The two row loops differ only in the ISA-specific steps. They stay two
// loops because a function may only inline code for instructions its own
// target allows: one always_inline body template shared by both, with the
// steps as a type parameter, is refused by GCC 12 whichever target it
// carries (none: the intrinsics cannot go into it; plain AVX-512: the VBMI
// steps cannot; VBMI: the body cannot go into the plain kernel).
TINTORA_AVX512 void correct_rows_avx512(Frame& frame, const FramePlan& plan) {
    const Constants k = make_constants();
    const auto parts = std::make_unique<GainParts>();
    make_gain_parts(plan, *parts);
    RowTable row_table;
    Doubtful doubtful(frame.width());
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        fill_row_table<8>(*parts, place.lower ? 1 : 0, place.w, row_table);
        const RowWork row{plan, row_table, (place.lower ? plan.lower : plan.upper).data(), place.w,
                          k};
        correct_row(frame.row(y), frame.width(), row, doubtful);
    }
}

TINTORA_AVX512_VBMI void correct_rows_avx512_vbmi(Frame& frame, const FramePlan& plan) {
    const Constants k = make_constants();
    const auto parts = std::make_unique<GainParts>();
    make_gain_parts(plan, *parts);
    RowTable row_table;
    Doubtful doubtful(frame.width());
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        fill_row_table<8>(*parts, place.lower ? 1 : 0, place.w, row_table);
        const RowWork row{plan, row_table, (place.lower ? plan.lower : plan.upper).data(), place.w,
                          k};
        correct_row_vbmi(frame.row(y), frame.width(), row, doubtful);
    }
}

TINTORA_AVX512 void correct_colour_rows_avx512(Frame& frame, const ColourPlan& plan) {
    const Constants k = make_constants();
    const auto parts = std::make_unique<std::array<ColourParts, 3>>();
    for (int byte = 0; byte < 3; ++byte) make_colour_parts(plan, byte, (*parts)[byte]);
    const auto row_tables = std::make_unique<std::array<RowTable, 3>>();
    Doubtful doubtful(frame.width());
    for (int y = 0; y < frame.height(); ++y) {
        if (!plan.columns.wants_row(y)) continue;
        const RowPlace place = row_place(y, frame.height());
        const auto& halves = place.lower ? plan.lower : plan.upper;
        const std::uint32_t* tables[3] = {halves[0].data(), halves[1].data(), halves[2].data()};
        for (int byte = 0; byte < 3; ++byte) {
            fill_colour_row_table<16>((*parts)[byte], place.lower ? 1 : 0,
                                      static_cast<float>(place.w), (*row_tables)[byte]);
        }
        const ColourRowWork row{plan.columns, row_tables->data(), tables, place.w, k};
        blend_row(frame.row(y), frame.width(), row, doubtful);
    }
}

}  // namespace tintora::correction_detail
