// The AVX2 kernel of the hotspot bake, eight pixels a step, as the AVX-512
// one works: the tap pairs gathered as 32-bit words, each channel's pairs
// made 16-bit pairs in a vector of its own, weighed with madd (exact: taps
// and weights are below 2^9, the sums below 2^24), the pixels put back
// together as bytes; the last few pixels of a span by the baseline kernel.
// Only this function uses AVX2; it is called only when the processor has it.
#include <immintrin.h>

#include "core/viewer/hotspot_bake_kernels.hpp"

#define TINTORA_AVX2 __attribute__((target("avx2,bmi2")))
#define TINTORA_AVX2_INLINE __attribute__((target("avx2,bmi2"), always_inline)) inline

namespace tintora::hotspot_detail {
namespace {

constexpr int kLanes = 8;

// A byte shuffle that gives each 32-bit lane bytes b0..b3 of itself (-1:
// zero), the same in every lane.
TINTORA_AVX2_INLINE __m256i lane_bytes(int b0, int b1, int b2, int b3) {
    alignas(16) std::int8_t mask[16];
    for (int lane = 0; lane < 4; ++lane) {
        const int bytes[4] = {b0, b1, b2, b3};
        for (int i = 0; i < 4; ++i) {
            mask[4 * lane + i] = static_cast<std::int8_t>(bytes[i] < 0 ? -1 : 4 * lane + bytes[i]);
        }
    }
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

// A byte shuffle that gives 32-bit lane k (of four in each 128-bit lane)
// byte 3 k + c of its 128-bit lane: channel c of a lane's four pixels.
TINTORA_AVX2_INLINE __m256i pixel_channel(int c) {
    alignas(16) std::int8_t mask[16];
    for (int k = 0; k < 4; ++k) {
        for (int i = 0; i < 4; ++i) {
            mask[4 * k + i] = static_cast<std::int8_t>(i == 0 ? 3 * k + c : -1);
        }
    }
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(mask)));
}

// The kernel's constant vectors, made once per span.
struct Constants {
    __m256i stride;
    __m256i k256, k32768, k128, k1;
    // The 16-bit pairs of one channel's left and right taps from the words
    // gathered at the left tap and two bytes on (B G R B and R B G R).
    __m256i outer_pair, middle_low, middle_high;
    __m256i channels[3];
    __m256i spread;     // 24 bytes: four pixels to each 128-bit lane
    __m256i squeeze;    // in-lane: four 32-bit pixels to twelve bytes
    __m256i gather_up;  // the two lanes' twelve bytes together
};

TINTORA_AVX2_INLINE Constants constants(const BakeSource& source) {
    Constants k;
    k.stride = _mm256_set1_epi32(static_cast<int>(source.stride));
    k.k256 = _mm256_set1_epi32(256);
    k.k32768 = _mm256_set1_epi32(32768);
    k.k128 = _mm256_set1_epi32(128);
    k.k1 = _mm256_set1_epi32(1);
    k.outer_pair = lane_bytes(0, -1, 3, -1);
    k.middle_low = lane_bytes(1, -1, -1, -1);
    k.middle_high = lane_bytes(-1, -1, 2, -1);
    for (int c = 0; c < 3; ++c) k.channels[c] = pixel_channel(c);
    k.spread = _mm256_setr_epi32(0, 1, 2, 0, 3, 4, 5, 0);
    k.squeeze = _mm256_broadcastsi128_si256(
        _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1));
    k.gather_up = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 0, 0);
    return k;
}

// (256 - f) | f << 16: a fraction's two weights as 16-bit pairs.
TINTORA_AVX2_INLINE __m256i weight_pairs(__m256i f, const Constants& k) {
    return _mm256_or_si256(_mm256_sub_epi32(k.k256, f), _mm256_slli_epi32(f, 16));
}

// The bilinear sample of one channel: upper and lower are the channel's
// left and right taps of the two rows as 16-bit pairs.
TINTORA_AVX2_INLINE __m256i sample(__m256i upper, __m256i lower, __m256i across, __m256i fy,
                                   const Constants& k) {
    const __m256i top = _mm256_madd_epi16(upper, across);
    const __m256i bottom = _mm256_madd_epi16(lower, across);
    const __m256i sum = _mm256_add_epi32(
        _mm256_slli_epi32(top, 8), _mm256_mullo_epi32(fy, _mm256_sub_epi32(bottom, top)));
    return _mm256_srli_epi32(_mm256_add_epi32(sum, k.k32768), 16);
}

TINTORA_AVX2_INLINE __m256i gather(const std::uint8_t* base, __m256i offset) {
    return _mm256_i32gather_epi32(reinterpret_cast<const int*>(base), offset, 1);
}

// Twenty-four bytes as two 128-bit halves (sixteen and eight).
TINTORA_AVX2_INLINE __m256i load24(const std::uint8_t* bytes) {
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(bytes + 16));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
}

TINTORA_AVX2_INLINE void store24(std::uint8_t* bytes, __m256i packed) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes), _mm256_castsi256_si128(packed));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes + 16),
                     _mm256_extracti128_si256(packed, 1));
}

// Eight pixels from k0 on.
template <bool kBlend>
TINTORA_AVX2_INLINE void bake_group(const BakeSource& source, const BakeSpan& span,
                                    std::size_t k0, const Constants& k) {
    const __m256i x =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(span.x + k0)));
    const __m256i y =
        _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(span.y + k0)));
    const __m256i fx =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(span.fx + k0)));
    const __m256i fy =
        _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(span.fy + k0)));
    const __m256i offset = _mm256_add_epi32(_mm256_mullo_epi32(y, k.stride),
                                            _mm256_add_epi32(x, _mm256_add_epi32(x, x)));
    // Four bytes from each tap pair: B G R B of the left tap and its right
    // neighbour's first byte, and R B G R two bytes on, of both rows. None
    // reaches past the right tap's last byte.
    const std::uint8_t* upper_row = source.pixels;
    const std::uint8_t* lower_row = source.pixels + source.stride;
    const __m256i upper0 = gather(upper_row, offset);
    const __m256i upper2 = gather(upper_row + 2, offset);
    const __m256i lower0 = gather(lower_row, offset);
    const __m256i lower2 = gather(lower_row + 2, offset);
    const __m256i across = weight_pairs(fx, k);
    __m256i channel[3];
    channel[0] = sample(_mm256_shuffle_epi8(upper0, k.outer_pair),
                        _mm256_shuffle_epi8(lower0, k.outer_pair), across, fy, k);
    channel[1] = sample(_mm256_or_si256(_mm256_shuffle_epi8(upper0, k.middle_low),
                                        _mm256_shuffle_epi8(upper2, k.middle_high)),
                        _mm256_or_si256(_mm256_shuffle_epi8(lower0, k.middle_low),
                                        _mm256_shuffle_epi8(lower2, k.middle_high)),
                        across, fy, k);
    channel[2] = sample(_mm256_shuffle_epi8(upper2, k.outer_pair),
                        _mm256_shuffle_epi8(lower2, k.outer_pair), across, fy, k);
    if constexpr (kBlend) {
        const __m256i weight = _mm256_add_epi32(
            _mm256_cvtepu8_epi32(
                _mm_loadl_epi64(reinterpret_cast<const __m128i*>(span.weights + k0))),
            k.k1);
        const __m256i shares = weight_pairs(weight, k);
        const __m256i panorama =
            _mm256_permutevar8x32_epi32(load24(span.panorama + 3 * k0), k.spread);
        for (int c = 0; c < 3; ++c) {
            const __m256i pair = _mm256_or_si256(_mm256_shuffle_epi8(panorama, k.channels[c]),
                                                 _mm256_slli_epi32(channel[c], 16));
            channel[c] =
                _mm256_srli_epi32(_mm256_add_epi32(_mm256_madd_epi16(pair, shares), k.k128), 8);
        }
    }
    const __m256i pixels = _mm256_or_si256(
        channel[0],
        _mm256_or_si256(_mm256_slli_epi32(channel[1], 8), _mm256_slli_epi32(channel[2], 16)));
    store24(span.out + 3 * k0, _mm256_permutevar8x32_epi32(
                                   _mm256_shuffle_epi8(pixels, k.squeeze), k.gather_up));
}

template <bool kBlend>
TINTORA_AVX2_INLINE std::size_t bake_groups(const BakeSource& source, const BakeSpan& span) {
    const Constants k = constants(source);
    std::size_t k0 = 0;
    for (; k0 + kLanes <= span.count; k0 += kLanes) bake_group<kBlend>(source, span, k0, k);
    return k0;
}

}  // namespace

TINTORA_AVX2 void bake_span_avx2(const BakeSource& source, const BakeSpan& span) {
    const std::size_t done =
        span.weights ? bake_groups<true>(source, span) : bake_groups<false>(source, span);
    if (done == span.count) return;
    BakeSpan rest = span;
    rest.x += done;
    rest.y += done;
    rest.fx += done;
    rest.fy += done;
    if (rest.weights) {
        rest.weights += done;
        rest.panorama += 3 * done;
    }
    rest.out += 3 * done;
    rest.count -= done;
    bake_span_baseline(source, rest);
}

}  // namespace tintora::hotspot_detail
