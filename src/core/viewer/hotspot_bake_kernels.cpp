#include "core/viewer/hotspot_bake_kernels.hpp"

#include <cstdint>
#include <memory>
#include <vector>

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

namespace {

struct BakeTrialWork {
    static constexpr int kWidth = 256;
    static constexpr int kRows = 32;
    static constexpr std::size_t kCount = 2048;
    std::vector<std::uint8_t> source = std::vector<std::uint8_t>(3 * kWidth * kRows);
    std::vector<std::uint16_t> x = std::vector<std::uint16_t>(kCount);
    std::vector<std::uint16_t> y = std::vector<std::uint16_t>(kCount);
    std::vector<std::uint8_t> fx = std::vector<std::uint8_t>(kCount);
    std::vector<std::uint8_t> fy = std::vector<std::uint8_t>(kCount);
    std::vector<std::uint8_t> weights = std::vector<std::uint8_t>(kCount);
    std::vector<std::uint8_t> panorama = std::vector<std::uint8_t>(3 * kCount);
    std::vector<std::uint8_t> out = std::vector<std::uint8_t>(3 * kCount);
};

// A strip of taps spread over a small source, half of them blended: what a
// frame's rows at the clip's soft edge ask of the kernel.
KernelTrial bake_trial() {
    const auto work = std::make_shared<BakeTrialWork>();
    for (std::size_t i = 0; i < work->source.size(); ++i) {
        work->source[i] = static_cast<std::uint8_t>(i * 7);
    }
    for (std::size_t k = 0; k < BakeTrialWork::kCount; ++k) {
        work->x[k] = static_cast<std::uint16_t>((k * 37) % (BakeTrialWork::kWidth - 1));
        work->y[k] = static_cast<std::uint16_t>((k * 11) % (BakeTrialWork::kRows - 1));
        work->fx[k] = static_cast<std::uint8_t>(k * 13);
        work->fy[k] = static_cast<std::uint8_t>(k * 29);
        work->weights[k] = static_cast<std::uint8_t>(k * 5);
        work->panorama[3 * k] = static_cast<std::uint8_t>(k);
    }
    return {{}, [work](VectorIsa isa) {
                const BakeSource source{work->source.data(), 3 * BakeTrialWork::kWidth,
                                        BakeTrialWork::kRows};
                const std::size_t half = BakeTrialWork::kCount / 2;
                BakeSpan span{
                    work->x.data(),       work->y.data(),        work->fx.data(),  work->fy.data(),
                    work->weights.data(), work->panorama.data(), work->out.data(), half};
                bake_kernel(isa, source)(source, span);
                span.x += half;
                span.y += half;
                span.fx += half;
                span.fy += half;
                span.weights = nullptr;
                span.out += 3 * half;
                bake_kernel(isa, source)(source, span);
            }};
}

const KernelVariants& bake_kernels() {
    static const KernelVariants variants{
        KernelOperation::HotspotBake,
        {VectorIsa::Avx512Vbmi, VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
        bake_trial};
    return variants;
}

}  // namespace

// The widest set is not always the fastest gather (a processor that splits
// 512-bit work in two gathers slowly): the choice is calibrated as for the
// correction.
VectorIsa chosen_bake_isa() { return chosen_kernel(bake_kernels()); }

BakeKernel bake_kernel(const BakeSource& source) { return bake_kernel(chosen_bake_isa(), source); }

}  // namespace tintora::hotspot_detail
