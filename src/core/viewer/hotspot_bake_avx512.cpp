// The AVX-512 kernels of the hotspot bake, sixteen pixels a step: the tap
// pairs gathered as 32-bit words (or, with VBMI, picked by byte permutes
// from windows of the source rows where the group's taps are near each
// other, as they mostly are), each channel's pairs made 16-bit pairs in a
// vector of its own, weighed with madd (exact: taps and weights are below
// 2^9, the sums below 2^24), the pixels put back together as bytes. Only
// these functions use AVX-512; they are called only when the processor has
// it.
#include <immintrin.h>

#include <algorithm>

#include "core/viewer/hotspot_bake_kernels.hpp"

// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector and
// then warn that it may be used uninitialised.
#ifndef __clang__  // a GCC warning clang does not know
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define TINTORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi2")))
#define TINTORA_AVX512_INLINE \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx2,bmi2"), always_inline)) inline
#define TINTORA_AVX512VBMI \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi,avx2,bmi2")))
#define TINTORA_AVX512VBMI_INLINE                                                               \
    __attribute__((target("avx512f,avx512bw,avx512vl,avx512dq,avx512vbmi,avx2,bmi2"),         \
                   always_inline)) inline

namespace tintora::hotspot_detail {
namespace {

constexpr int kLanes = 16;

// A byte shuffle that gives each 32-bit lane bytes b0..b3 of itself (-1:
// zero), the same in every lane.
TINTORA_AVX512_INLINE __m512i lane_bytes(int b0, int b1, int b2, int b3) {
    alignas(16) std::int8_t mask[16];
    for (int lane = 0; lane < 4; ++lane) {
        const int bytes[4] = {b0, b1, b2, b3};
        for (int i = 0; i < 4; ++i) {
            mask[4 * lane + i] = static_cast<std::int8_t>(bytes[i] < 0 ? -1 : 4 * lane + bytes[i]);
        }
    }
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

// A byte shuffle that gives 32-bit lane k (of four in each 128-bit lane)
// byte 3 k + c of its 128-bit lane: channel c of a lane's four pixels.
TINTORA_AVX512_INLINE __m512i pixel_channel(int c) {
    alignas(16) std::int8_t mask[16];
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 4; ++i) {
            mask[4 * k + i] = static_cast<std::int8_t>(i == 0 ? 3 * k + c : -1);
        }
    }
    return _mm512_broadcast_i32x4(_mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

// The kernel's constant vectors, made once per span.
struct Constants {
    __m512i stride;
    __m512i k256, k32768, k128, k3;
    __m512i next_channel;  // 1 | 1 << 16: a pair of byte indices one channel on
    // The 16-bit pairs of one channel's left and right taps from the words
    // gathered at the left tap and two bytes on (B G R B and R B G R).
    __m512i outer_pair, middle_low, middle_high;
    __m512i channels[3];
    __m512i spread;     // 48 bytes: four pixels to each 128-bit lane
    __m512i squeeze;    // in-lane: four 32-bit pixels to twelve bytes
    __m512i gather_up;  // the four lanes' twelve bytes together
};

TINTORA_AVX512_INLINE Constants constants(const BakeSource& source) {
    Constants k;
    k.stride = _mm512_set1_epi32(static_cast<int>(source.stride));
    k.k256 = _mm512_set1_epi32(256);
    k.k32768 = _mm512_set1_epi32(32768);
    k.k128 = _mm512_set1_epi32(128);
    k.k3 = _mm512_set1_epi32(3);
    k.next_channel = _mm512_set1_epi32(0x10001);
    k.outer_pair = lane_bytes(0, -1, 3, -1);
    k.middle_low = lane_bytes(1, -1, -1, -1);
    k.middle_high = lane_bytes(-1, -1, 2, -1);
    for (int c = 0; c < 3; ++c) k.channels[c] = pixel_channel(c);
    k.spread = _mm512_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0, 6, 7, 8, 0, 9, 10, 11, 0);
    k.squeeze = _mm512_broadcast_i32x4(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    k.gather_up = _mm512_setr_epi32(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, 0, 0, 0, 0);
    return k;
}

// (256 - f) | f << 16: a fraction's two weights as 16-bit pairs.
TINTORA_AVX512_INLINE __m512i weight_pairs(__m512i f, const Constants& k) {
    return _mm512_or_si512(_mm512_sub_epi32(k.k256, f), _mm512_slli_epi32(f, 16));
}

// The bilinear sample of one channel: upper and lower are the channel's
// left and right taps of the two rows as 16-bit pairs.
TINTORA_AVX512_INLINE __m512i sample(__m512i upper, __m512i lower, __m512i across, __m512i fy,
                                     const Constants& k) {
    const __m512i top = _mm512_madd_epi16(upper, across);
    const __m512i bottom = _mm512_madd_epi16(lower, across);
    const __m512i sum = _mm512_add_epi32(
        _mm512_slli_epi32(top, 8), _mm512_mullo_epi32(fy, _mm512_sub_epi32(bottom, top)));
    return _mm512_srli_epi32(_mm512_add_epi32(sum, k.k32768), 16);
}

// Up to sixteen pixels from k0 on; `lanes` masks those that exist.
// The 16-bit pairs of the left and right taps of each channel, of the
// upper and the lower row.
struct TapPairs {
    __m512i upper[3];
    __m512i lower[3];
};

TINTORA_AVX512_INLINE void pairs_of(__m512i upper0, __m512i upper2, __m512i lower0,
                                    __m512i lower2, const Constants& k, TapPairs& pairs) {
    pairs.upper[0] = _mm512_shuffle_epi8(upper0, k.outer_pair);
    pairs.lower[0] = _mm512_shuffle_epi8(lower0, k.outer_pair);
    pairs.upper[1] = _mm512_or_si512(_mm512_shuffle_epi8(upper0, k.middle_low),
                                     _mm512_shuffle_epi8(upper2, k.middle_high));
    pairs.lower[1] = _mm512_or_si512(_mm512_shuffle_epi8(lower0, k.middle_low),
                                     _mm512_shuffle_epi8(lower2, k.middle_high));
    pairs.upper[2] = _mm512_shuffle_epi8(upper2, k.outer_pair);
    pairs.lower[2] = _mm512_shuffle_epi8(lower2, k.outer_pair);
}

// The taps gathered one by one. Missing lanes (x and y 0) read the
// source's first pixels, which exist.
TINTORA_AVX512_INLINE void gathered_pairs(const BakeSource& source, __m512i x, __m512i y,
                                          const Constants& k, TapPairs& pairs) {
    const __m512i offset = _mm512_add_epi32(_mm512_mullo_epi32(y, k.stride),
                                            _mm512_add_epi32(x, _mm512_add_epi32(x, x)));
    // Four bytes from each tap pair: B G R B of the left tap and its right
    // neighbour's first byte, and R B G R two bytes on, of both rows. None
    // reaches past the right tap's last byte.
    const std::uint8_t* upper_row = source.pixels;
    const std::uint8_t* lower_row = source.pixels + source.stride;
    pairs_of(_mm512_i32gather_epi32(offset, upper_row, 1),
             _mm512_i32gather_epi32(offset, upper_row + 2, 1),
             _mm512_i32gather_epi32(offset, lower_row, 1),
             _mm512_i32gather_epi32(offset, lower_row + 2, 1), k, pairs);
}

// The group's pixels from its channels' tap pairs: sampled, blended,
// packed and stored.
template <bool kBlend>
TINTORA_AVX512_INLINE void finish_group(const BakeSpan& span, std::size_t k0, __mmask16 lanes,
                                        __m512i fx, __m512i fy, const TapPairs& pairs,
                                        const Constants& k) {
    const __m512i across = weight_pairs(fx, k);
    __m512i channel[3];
    for (int c = 0; c < 3; ++c) channel[c] = sample(pairs.upper[c], pairs.lower[c], across, fy, k);
    const std::uint64_t bytes = (std::uint64_t{1} << (3 * __builtin_popcount(lanes))) - 1;
    if constexpr (kBlend) {
        const __m512i weight = _mm512_add_epi32(
            _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(lanes, span.weights + k0)),
            _mm512_set1_epi32(1));
        const __m512i shares = weight_pairs(weight, k);
        const __m512i panorama = _mm512_permutexvar_epi32(
            k.spread, _mm512_maskz_loadu_epi8(bytes, span.panorama + 3 * k0));
        for (int c = 0; c < 3; ++c) {
            const __m512i pair = _mm512_or_si512(_mm512_shuffle_epi8(panorama, k.channels[c]),
                                                 _mm512_slli_epi32(channel[c], 16));
            channel[c] =
                _mm512_srli_epi32(_mm512_add_epi32(_mm512_madd_epi16(pair, shares), k.k128), 8);
        }
    }
    const __m512i pixels = _mm512_or_si512(
        channel[0],
        _mm512_or_si512(_mm512_slli_epi32(channel[1], 8), _mm512_slli_epi32(channel[2], 16)));
    const __m512i packed =
        _mm512_permutexvar_epi32(k.gather_up, _mm512_shuffle_epi8(pixels, k.squeeze));
    _mm512_mask_storeu_epi8(span.out + 3 * k0, bytes, packed);
}

struct GroupTaps {
    __m512i x, y, fx, fy;
};

TINTORA_AVX512_INLINE GroupTaps load_taps(const BakeSpan& span, std::size_t k0, __mmask16 lanes) {
    return {_mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(lanes, span.x + k0)),
            _mm512_cvtepu16_epi32(_mm256_maskz_loadu_epi16(lanes, span.y + k0)),
            _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(lanes, span.fx + k0)),
            _mm512_cvtepu8_epi32(_mm_maskz_loadu_epi8(lanes, span.fy + k0))};
}

// Up to sixteen pixels from k0 on; `lanes` masks those that exist.
template <bool kBlend>
TINTORA_AVX512_INLINE void bake_group(const BakeSource& source, const BakeSpan& span,
                                      std::size_t k0, __mmask16 lanes, const Constants& k) {
    const GroupTaps taps = load_taps(span, k0, lanes);
    TapPairs pairs;
    gathered_pairs(source, taps.x, taps.y, k, pairs);
    finish_group<kBlend>(span, k0, lanes, taps.fx, taps.fy, pairs, k);
}

// Sixteen frame pixels mostly read about sixteen neighbouring pixels of one
// or two rows of the source: then three 64-byte windows of the rows hold
// every tap, and byte permutes across two windows take the place of the
// gathers. `window` is where the window of the group's first row starts.
TINTORA_AVX512VBMI_INLINE __m512i load_window(const BakeSource& source, const std::uint8_t* window) {
    // Masked at the picture's end: the windows of the last rows may reach
    // past it, though no tap does.
    const std::ptrdiff_t left = source.pixels + source.stride * source.rows - window;
    if (left >= 64) return _mm512_loadu_si512(window);
    const __mmask64 mask = left <= 0 ? __mmask64{0} : (__mmask64{1} << left) - 1;
    return _mm512_maskz_loadu_epi8(mask, window);
}

// The taps of the group from windows, when they lie within 19 columns and
// two rows of the first or the last lane's (as they do when the taps run
// either way along the source's rows), so that the right taps lie within
// the windows too.
TINTORA_AVX512VBMI_INLINE bool windowed_pairs(const BakeSource& source, const BakeSpan& span,
                                              std::size_t k0, std::size_t last,
                                              const GroupTaps& taps, __mmask16 lanes,
                                              const Constants& k, TapPairs& pairs) {
    constexpr int kWindowColumns = 19;
    const int left = std::min(span.x[k0], span.x[last]);
    const int top = std::min(span.y[k0], span.y[last]);
    const __m512i across = _mm512_sub_epi32(taps.x, _mm512_set1_epi32(left));
    const __m512i down = _mm512_sub_epi32(taps.y, _mm512_set1_epi32(top));
    // Unsigned: a tap left of or above the first row's window is far.
    const __mmask16 outside =
        _mm512_mask_cmpgt_epu32_mask(lanes, across, _mm512_set1_epi32(kWindowColumns)) |
        _mm512_mask_cmpgt_epu32_mask(lanes, down, _mm512_set1_epi32(1));
    if (outside) return false;
    const std::uint8_t* window =
        source.pixels + static_cast<std::ptrdiff_t>(top) * source.stride + 3 * std::ptrdiff_t{left};
    const __m512i first = load_window(source, window);
    const __m512i second = load_window(source, window + source.stride);
    const __m512i third = load_window(source, window + 2 * source.stride);
    // Each lane's left tap in the two windows of its rows: byte 3 across
    // + 64 down; as 16-bit pairs with the right tap, three bytes on.
    const __m512i at = _mm512_add_epi32(_mm512_add_epi32(across, _mm512_add_epi32(across, across)),
                                        _mm512_slli_epi32(down, 6));
    __m512i index = _mm512_or_si512(at, _mm512_slli_epi32(_mm512_add_epi32(at, k.k3), 16));
    constexpr __mmask64 kPairBytes = 0x5555555555555555;
    for (int c = 0; c < 3; ++c) {
        pairs.upper[c] = _mm512_maskz_permutex2var_epi8(kPairBytes, first, index, second);
        pairs.lower[c] = _mm512_maskz_permutex2var_epi8(kPairBytes, second, index, third);
        index = _mm512_add_epi32(index, k.next_channel);
    }
    return true;
}

template <bool kBlend>
TINTORA_AVX512VBMI_INLINE void bake_group_windowed(const BakeSource& source, const BakeSpan& span,
                                                   std::size_t k0, __mmask16 lanes,
                                                   const Constants& k) {
    const GroupTaps taps = load_taps(span, k0, lanes);
    TapPairs pairs;
    const std::size_t last = k0 + static_cast<std::size_t>(__builtin_popcount(lanes)) - 1;
    if (!windowed_pairs(source, span, k0, last, taps, lanes, k, pairs)) {
        gathered_pairs(source, taps.x, taps.y, k, pairs);
    }
    finish_group<kBlend>(span, k0, lanes, taps.fx, taps.fy, pairs, k);
}

template <bool kBlend>
TINTORA_AVX512_INLINE void bake_all(const BakeSource& source, const BakeSpan& span) {
    const Constants k = constants(source);
    std::size_t k0 = 0;
    for (; k0 + kLanes <= span.count; k0 += kLanes) bake_group<kBlend>(source, span, k0, 0xFFFF, k);
    if (k0 < span.count) {
        bake_group<kBlend>(source, span, k0, static_cast<__mmask16>((1u << (span.count - k0)) - 1),
                           k);
    }
}

template <bool kBlend>
TINTORA_AVX512VBMI_INLINE void bake_all_windowed(const BakeSource& source, const BakeSpan& span) {
    const Constants k = constants(source);
    std::size_t k0 = 0;
    for (; k0 + kLanes <= span.count; k0 += kLanes) {
        bake_group_windowed<kBlend>(source, span, k0, 0xFFFF, k);
    }
    if (k0 < span.count) {
        bake_group_windowed<kBlend>(source, span, k0,
                                    static_cast<__mmask16>((1u << (span.count - k0)) - 1), k);
    }
}

}  // namespace

TINTORA_AVX512 void bake_span_avx512(const BakeSource& source, const BakeSpan& span) {
    if (span.weights) {
        bake_all<true>(source, span);
    } else {
        bake_all<false>(source, span);
    }
}

TINTORA_AVX512VBMI void bake_span_avx512vbmi(const BakeSource& source, const BakeSpan& span) {
    if (span.weights) {
        bake_all_windowed<true>(source, span);
    } else {
        bake_all_windowed<false>(source, span);
    }
}

}  // namespace tintora::hotspot_detail
