#include "core/viewer/hotspot_bake_kernels.hpp"

#include <cstdint>

#include "core/viewer/hotspot_frame.hpp"

namespace tintora::hotspot_detail {

void bake_span_baseline(const BakeSource& source, const BakeSpan& span) {
    for (std::size_t k = 0; k < span.count; ++k) {
        const std::uint8_t* a = source.pixels + static_cast<std::ptrdiff_t>(span.y[k]) * source.stride +
                                3 * static_cast<std::ptrdiff_t>(span.x[k]);
        const std::uint8_t* c = a + source.stride;
        // Without a blend the weight is 256 and the panorama's share nothing.
        const int weight = span.weights ? span.weights[k] + 1 : 256;
        for (int channel = 0; channel < 3; ++channel) {
            const int panorama = span.weights ? span.panorama[3 * k + channel] : 0;
            span.out[3 * k + channel] =
                baked_channel(panorama, a[channel], a[3 + channel], c[channel], c[3 + channel],
                              span.fx[k], span.fy[k], weight);
        }
    }
}

bool vector_kernels_reach(const BakeSource& source) {
    constexpr std::ptrdiff_t kReach = std::ptrdiff_t{1} << 31;
    return source.rows <= 0 || source.stride <= kReach / source.rows;
}

BakeKernel bake_kernel(VectorIsa isa, const BakeSource& source) {
    if (!processor_has(isa) || !vector_kernels_reach(source)) isa = VectorIsa::Baseline;
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
            return bake_span_avx512vbmi;
        case VectorIsa::Avx512:
            return bake_span_avx512;
        case VectorIsa::Avx2:
            return bake_span_avx2;
        case VectorIsa::Baseline:
            break;
    }
    return bake_span_baseline;
}

// The widest kernel the processor runs. The bake has no operation of its own
// in kernel_choice yet; once it has, chosen_kernel (with a trial baking a
// strip of frame) takes the choice over here, as for the correction.
VectorIsa chosen_bake_isa() {
    for (const VectorIsa isa : {VectorIsa::Avx512Vbmi, VectorIsa::Avx512, VectorIsa::Avx2}) {
        if (processor_has(isa)) return isa;
    }
    return VectorIsa::Baseline;
}

BakeKernel bake_kernel(const BakeSource& source) { return bake_kernel(chosen_bake_isa(), source); }

}  // namespace tintora::hotspot_detail
