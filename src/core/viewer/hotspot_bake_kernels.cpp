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
    static constexpr int kWidth = 2048;
    static constexpr int kRows = 8;
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

// Two rows of a frame as the bake meets them: taps that run along a row of
// the clip a little slower than a pixel a pixel and drift slowly down it;
// the first row at the soft edge (blended), the second inside.
KernelTrial bake_trial() {
    const auto work = std::make_shared<BakeTrialWork>();
    for (std::size_t i = 0; i < work->source.size(); ++i) {
        work->source[i] = static_cast<std::uint8_t>(i * 7);
    }
    for (std::size_t k = 0; k < BakeTrialWork::kCount; ++k) {
        const int across = static_cast<int>(k % (BakeTrialWork::kCount / 2)) * 237;  // 256ths
        const int down = 2 * 256 + static_cast<int>(k) / 8;
        work->x[k] = static_cast<std::uint16_t>(across >> 8);
        work->y[k] = static_cast<std::uint16_t>(down >> 8);
        work->fx[k] = static_cast<std::uint8_t>(across);
        work->fy[k] = static_cast<std::uint8_t>(down);
        work->weights[k] = static_cast<std::uint8_t>(k * 5);
        work->panorama[3 * k] = static_cast<std::uint8_t>(k);
    }
    return {{}, [work](VectorIsa isa) {
                const BakeSource source{work->source.data(), 3 * BakeTrialWork::kWidth,
                                        BakeTrialWork::kRows};
                const std::size_t half = BakeTrialWork::kCount / 2;
                BakeSpan span{work->x.data(),   work->y.data(),       work->fx.data(),
                              work->fy.data(),  work->weights.data(), work->panorama.data(),
                              work->out.data(), half};
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
