#include "core/correction/light_gains.hpp"

#include <algorithm>
#include <cmath>
#include <memory>

#include "core/correction/frame_correction.hpp"

namespace tintora {

bool LightGains::neutral() const {
    return std::all_of(bgr.begin(), bgr.end(),
                       [](double gain) { return gain_step(gain) == gain_step(1.0); });
}

std::uint32_t gain_step(double gain) {
    if (!(gain >= kLowestLightGain)) gain = kLowestLightGain;  // NaN too
    gain = std::min(gain, kHighestLightGain);
    return static_cast<std::uint32_t>(std::lround(gain * 65536.0));
}

GainRule gain_rule(double gain) {
    GainRule rule;
    rule.step = gain_step(gain);
    if (rule.step >= 65536u) return rule;
    // The stretch (255 - knee g) / (255 - knee) is kHighlightStretch at this knee.
    const double g = rule.step / 65536.0;
    rule.knee =
        static_cast<int>(std::floor(255.0 * (kHighlightStretch - 1.0) / (kHighlightStretch - g)));
    rule.knee_level =
        static_cast<int>((static_cast<std::uint32_t>(rule.knee) * rule.step + 32768u) >> 16);
    // Rounded up, so that 255 still reaches white.
    rule.stretch = static_cast<std::uint32_t>(
        std::ceil((255.0 - rule.knee_level) * 65536.0 / (255.0 - rule.knee)));
    return rule;
}

namespace {

// A row's bytes are B, G, R, B, G, R ...: 48 bytes hold whole pixels and fill
// whole vectors of every width, so the loop over one block of them
// vectorises with each byte's rule laid out once.
constexpr int kBlockBytes = 48;
struct BlockRules {
    alignas(64) std::uint32_t step[kBlockBytes];
    alignas(64) std::uint32_t knee[kBlockBytes];
    alignas(64) std::uint32_t knee_level[kBlockBytes];
    alignas(64) std::uint32_t stretch[kBlockBytes];
    std::array<GainRule, 3> rules;
};

BlockRules block_rules(const LightGains& gains) {
    BlockRules block{};
    for (int c = 0; c < 3; ++c) block.rules[c] = gain_rule(gains.bgr[c]);
    for (int i = 0; i < kBlockBytes; ++i) {
        const GainRule& rule = block.rules[i % 3];
        block.step[i] = rule.step;
        block.knee[i] = static_cast<std::uint32_t>(rule.knee);
        block.knee_level[i] = static_cast<std::uint32_t>(rule.knee_level);
        block.stretch[i] = rule.stretch;
    }
    return block;
}

// gained_level on every byte of a row, a block at a time; both sides of the
// knee are worked out and one chosen, so the lanes never branch.
__attribute__((always_inline)) inline void gain_row(std::uint8_t* __restrict row, int bytes,
                                                    const BlockRules& rules) {
    int i = 0;
    for (; i + kBlockBytes <= bytes; i += kBlockBytes) {
        std::uint8_t* block = row + i;
        for (int j = 0; j < kBlockBytes; ++j) {
            const std::uint32_t v = block[j];
            const std::uint32_t below = (v * rules.step[j] + 32768u) >> 16;
            const std::uint32_t above =
                rules.knee_level[j] + (((v - rules.knee[j]) * rules.stretch[j] + 32768u) >> 16);
            const std::uint32_t scaled = v <= rules.knee[j] ? below : above;
            block[j] = static_cast<std::uint8_t>(scaled > 255u ? 255u : scaled);
        }
    }
    for (; i < bytes; ++i) row[i] = gained_level(row[i], rules.rules[i % 3]);
}

__attribute__((always_inline)) inline void gain_rows(Frame& frame, const BlockRules& rules) {
    const int bytes = 3 * frame.width();
    for (int y = 0; y < frame.height(); ++y) gain_row(frame.row(y), bytes, rules);
}

__attribute__((target("avx512f,avx512bw"))) void gain_rows_avx512(Frame& frame,
                                                                  const BlockRules& rules) {
    gain_rows(frame, rules);
}

__attribute__((target("avx2"))) void gain_rows_avx2(Frame& frame, const BlockRules& rules) {
    gain_rows(frame, rules);
}

void gain_rows_baseline(Frame& frame, const BlockRules& rules) { gain_rows(frame, rules); }

KernelTrial gains_trial() {
    struct Work {
        Frame frame{512, 16};
        LightGains gains{{1.07, 0.96, 1.21}};
    };
    const auto work = std::make_shared<Work>();
    for (int y = 0; y < work->frame.height(); ++y) {
        std::uint8_t* row = work->frame.row(y);
        for (int i = 0; i < 3 * work->frame.width(); ++i) {
            row[i] = static_cast<std::uint8_t>((i * 7 + y * 13) & 0xFF);
        }
    }
    return {{}, [work](VectorIsa isa) { apply_light_gains(work->frame, work->gains, isa); }};
}

const KernelVariants& gain_kernels() {
    static const KernelVariants variants{KernelOperation::TrackingGains,
                                         {VectorIsa::Avx512, VectorIsa::Avx2, VectorIsa::Baseline},
                                         gains_trial};
    return variants;
}

}  // namespace

void apply_light_gains(Frame& frame, const LightGains& gains, VectorIsa isa) {
    if (gains.neutral() || frame.empty()) return;
    if (!processor_has(isa)) isa = VectorIsa::Baseline;
    const auto rules = std::make_unique<BlockRules>(block_rules(gains));
    switch (isa) {
        case VectorIsa::Avx512Vbmi:
        case VectorIsa::Avx512:
            gain_rows_avx512(frame, *rules);
            break;
        case VectorIsa::Avx2:
            gain_rows_avx2(frame, *rules);
            break;
        case VectorIsa::Baseline:
            gain_rows_baseline(frame, *rules);
            break;
    }
}

void apply_light_gains(Frame& frame, const LightGains& gains) {
    if (gains.neutral() || frame.empty()) return;
    apply_light_gains(frame, gains, chosen_kernel(gain_kernels()));
}

CorrectionGrid grid_under_light(const CorrectionGrid& grid, const LightGains& gains) {
    CorrectionGrid lit = grid;
    if (grid.correction_mode != CorrectionMode::Colour || gains.neutral()) return lit;
    // The grid's channels are red, green, blue; the gains in frame byte order.
    for (int channel = 0; channel < kChannelCount; ++channel) {
        const GainRule rule = gain_rule(gains.bgr[static_cast<std::size_t>(2 - channel)]);
        for (int point = 0; point < kGridPointCount; ++point) {
            const ColorTable& table = grid.channel_color_table[channel][point];
            ColorTable& folded = lit.channel_color_table[channel][point];
            for (int v = 0; v < kIntensityCount; ++v) folded[v] = table[gained_level(v, rule)];
        }
    }
    return lit;
}

CorrectionGrid bring_to_light(Frame& frame, const CorrectionGrid& grid, const LightGains& gains) {
    if (grid.correction_mode == CorrectionMode::Colour) return grid_under_light(grid, gains);
    apply_light_gains(frame, gains);
    return grid;
}

void correct_frame_under_light(Frame& frame, const CorrectionGrid& grid, const LightGains& gains) {
    correct_frame(frame, bring_to_light(frame, grid, gains));
}

}  // namespace tintora
