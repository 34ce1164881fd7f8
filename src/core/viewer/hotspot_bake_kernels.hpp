#pragma once

// Internal to the hotspot bake: the kernels that turn a lookup into pixels,
// one per instruction set, each giving exactly the bytes of baked_channel.
// The same kernels render the panorama alone into the frame (the panorama as
// their source, no blend).

#include <cstddef>
#include <cstdint>

#include "core/common/kernel_choice.hpp"

namespace tintora::hotspot_detail {

// The picture the taps read: 3 bytes a pixel, rows `stride` bytes apart,
// `rows` of them.
struct BakeSource {
    const std::uint8_t* pixels = nullptr;
    std::ptrdiff_t stride = 0;
    int rows = 0;
};

// `count` output pixels. Pixel k is the source's bilinear sample of the
// pixels at columns x[k] and x[k] + 1 of rows y[k] and y[k] + 1 (both
// inside the source), at fractions fx[k] and fy[k] in 256ths. With
// `weights` (the clip's weight in 256ths less one: 0..255 for 1..256) the
// sample is blended over `panorama` (3 bytes a pixel); without, it is the
// pixel (a weight of 256).
struct BakeSpan {
    const std::uint16_t* x = nullptr;
    const std::uint16_t* y = nullptr;
    const std::uint8_t* fx = nullptr;
    const std::uint8_t* fy = nullptr;
    const std::uint8_t* weights = nullptr;
    const std::uint8_t* panorama = nullptr;
    std::uint8_t* out = nullptr;
    std::size_t count = 0;
};

using BakeKernel = void (*)(const BakeSource& source, const BakeSpan& span);

void bake_span_baseline(const BakeSource& source, const BakeSpan& span);
void bake_span_avx2(const BakeSource& source, const BakeSpan& span);
void bake_span_avx512(const BakeSource& source, const BakeSpan& span);
void bake_span_avx512vbmi(const BakeSource& source, const BakeSpan& span);

// The vector kernels gather with 32-bit offsets: a source of 2 GiB or more
// takes the baseline kernel.
bool vector_kernels_reach(const BakeSource& source);

// The kernel of an instruction set for this source (never one the
// processor lacks), or the one this processor runs.
BakeKernel bake_kernel(VectorIsa isa, const BakeSource& source);
BakeKernel bake_kernel(const BakeSource& source);
VectorIsa chosen_bake_isa();

}  // namespace tintora::hotspot_detail
