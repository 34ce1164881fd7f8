#include "core/composition/light_tracking.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace tintora {

namespace {

// log(v + 0.5) per level: a pixel's light on the log scale, where a gain is
// a shift; the half level keeps 0 finite.
const std::array<float, 256>& log_levels() {
    static const std::array<float, 256> table = [] {
        std::array<float, 256> values{};
        for (int v = 0; v < 256; ++v) values[v] = static_cast<float>(std::log(v + 0.5));
        return values;
    }();
    return table;
}

// Log ratios are binned at this resolution over ±kHistogramReach to find
// medians in one pass.
constexpr double kBinsPerUnit = 256.0;
constexpr double kHistogramReach = 2.0;
constexpr int kBinCount = static_cast<int>(2 * kHistogramReach * kBinsPerUnit);

// A pixel lies near its frame's light when each channel is within this
// many robust spreads of the channel's median, and never nearer than
// kLeastStaticReach: noise and compression spread static pixels too.
constexpr double kStaticSpreads = 3.0;
constexpr double kLeastStaticReach = 0.04;

int bin_of(double value) {
    const int bin = static_cast<int>(std::floor((value + kHistogramReach) * kBinsPerUnit));
    return std::clamp(bin, 0, kBinCount - 1);
}

double bin_middle(int bin) { return (bin + 0.5) / kBinsPerUnit - kHistogramReach; }

// The middle of the bin where half of the counts is reached.
double histogram_median(const std::vector<std::int64_t>& counts, std::int64_t total) {
    std::int64_t seen = 0;
    for (int bin = 0; bin < kBinCount; ++bin) {
        seen += counts[static_cast<std::size_t>(bin)];
        if (2 * seen >= total) return bin_middle(bin);
    }
    return 0.0;
}

bool in_light_range(const std::uint8_t* pixel, int low, int high) {
    return pixel[0] >= low && pixel[1] >= low && pixel[2] >= low && pixel[0] < high &&
           pixel[1] < high && pixel[2] < high;
}

int channel_sum(const std::uint8_t* pixel) { return pixel[0] + pixel[1] + pixel[2]; }

// The anchor's pixels that can tell the light: inner, off strong edges,
// away from black and white.
std::vector<std::uint8_t> usable_pixels(const Frame& anchor, std::int64_t& count) {
    const int width = anchor.width();
    const int height = anchor.height();
    std::vector<std::uint8_t> usable(static_cast<std::size_t>(width) * height, 0);
    count = 0;
    for (int y = 1; y + 1 < height; ++y) {
        for (int x = 1; x + 1 < width; ++x) {
            const std::uint8_t* here = anchor.pixel(y, x);
            if (!in_light_range(here, kLightDarkBelow, kLightBrightFrom)) continue;
            const int along =
                channel_sum(anchor.pixel(y, x + 1)) - channel_sum(anchor.pixel(y, x - 1));
            const int across =
                channel_sum(anchor.pixel(y + 1, x)) - channel_sum(anchor.pixel(y - 1, x));
            if (std::abs(along) > kLightEdgeLimit || std::abs(across) > kLightEdgeLimit) continue;
            usable[static_cast<std::size_t>(y) * width + x] = 1;
            ++count;
        }
    }
    return usable;
}

}  // namespace

FrameLight LightMeter::measure(const Frame& frame) {
    if (frame.empty()) return {};
    if (anchor_.empty()) {
        anchor_ = frame;
        anchor_usable_ = usable_pixels(anchor_, anchor_usable_count_);
        return {{0.0, 0.0, 0.0}, anchor_usable_count_ >= kMinLightPixels};
    }
    if (frame.width() != anchor_.width() || frame.height() != anchor_.height()) return {};
    const std::array<float, 256>& logs = log_levels();
    const int width = frame.width();
    // Per usable pixel, the three log ratios to the anchor.
    std::vector<std::array<float, 3>> ratios;
    ratios.reserve(static_cast<std::size_t>(anchor_usable_count_));
    for (int y = 1; y + 1 < frame.height(); ++y) {
        const std::uint8_t* usable = anchor_usable_.data() + static_cast<std::size_t>(y) * width;
        for (int x = 1; x + 1 < width; ++x) {
            if (usable[x] == 0) continue;
            const std::uint8_t* pixel = frame.pixel(y, x);
            // A clipped frame pixel no longer shows its light.
            if (!in_light_range(pixel, 1, 255)) continue;
            const std::uint8_t* anchor = anchor_.pixel(y, x);
            ratios.push_back({logs[pixel[0]] - logs[anchor[0]], logs[pixel[1]] - logs[anchor[1]],
                              logs[pixel[2]] - logs[anchor[2]]});
        }
    }
    const auto total = static_cast<std::int64_t>(ratios.size());
    if (total < kMinLightPixels) return {};
    std::array<double, 3> median{};
    std::array<double, 3> reach{};
    std::vector<std::int64_t> counts(kBinCount);
    for (int c = 0; c < 3; ++c) {
        std::fill(counts.begin(), counts.end(), 0);
        for (const auto& ratio : ratios) ++counts[static_cast<std::size_t>(bin_of(ratio[c]))];
        median[c] = histogram_median(counts, total);
        // The median absolute deviation, binned the same way around 0.
        std::fill(counts.begin(), counts.end(), 0);
        for (const auto& ratio : ratios) {
            ++counts[static_cast<std::size_t>(bin_of(std::abs(ratio[c] - median[c])))];
        }
        const double deviation = std::max(histogram_median(counts, total), 0.0);
        reach[c] = std::max(kStaticSpreads * 1.4826 * deviation, kLeastStaticReach);
    }
    std::array<double, 3> sum{};
    std::int64_t kept = 0;
    for (const auto& ratio : ratios) {
        bool near = true;
        for (int c = 0; c < 3; ++c) near = near && std::abs(ratio[c] - median[c]) <= reach[c];
        if (!near) continue;
        for (int c = 0; c < 3; ++c) sum[c] += ratio[c];
        ++kept;
    }
    if (kept < kMinLightPixels || kept < kMinStaticShare * anchor_usable_count_) return {};
    FrameLight light;
    for (int c = 0; c < 3; ++c) light.log_bgr[c] = sum[c] / static_cast<double>(kept);
    light.measured = true;
    return light;
}

namespace {

// Unmeasured frames filled in from their measured neighbours.
std::vector<std::array<double, 3>> filled_lights(const std::vector<FrameLight>& raw) {
    const std::size_t n = raw.size();
    std::vector<std::array<double, 3>> values(n, {0.0, 0.0, 0.0});
    std::vector<std::size_t> measured;
    for (std::size_t i = 0; i < n; ++i) {
        if (raw[i].measured) measured.push_back(i);
    }
    if (measured.empty()) return values;
    std::size_t next = 0;  // the first measured frame at or after i
    for (std::size_t i = 0; i < n; ++i) {
        while (next < measured.size() && measured[next] < i) ++next;
        if (next < measured.size() && measured[next] == i) {
            values[i] = raw[i].log_bgr;
        } else if (next == 0) {
            values[i] = raw[measured.front()].log_bgr;
        } else if (next == measured.size()) {
            values[i] = raw[measured.back()].log_bgr;
        } else {
            const std::size_t before = measured[next - 1];
            const std::size_t after = measured[next];
            const double t = static_cast<double>(i - before) / static_cast<double>(after - before);
            for (int c = 0; c < 3; ++c) {
                values[i][c] =
                    raw[before].log_bgr[c] + t * (raw[after].log_bgr[c] - raw[before].log_bgr[c]);
            }
        }
    }
    return values;
}

// Frame i of a channel, the ends mirrored through their own value.
double mirrored(const std::vector<double>& values, std::ptrdiff_t i) {
    const auto n = static_cast<std::ptrdiff_t>(values.size());
    if (i < 0) return 2.0 * values.front() - values[static_cast<std::size_t>(std::min(-i, n - 1))];
    if (i >= n) {
        return 2.0 * values.back() -
               values[static_cast<std::size_t>(std::max(2 * (n - 1) - i, std::ptrdiff_t{0}))];
    }
    return values[static_cast<std::size_t>(i)];
}

std::vector<double> median_of_five(const std::vector<double>& values) {
    std::vector<double> result(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        std::array<double, 5> window{};
        for (int k = -2; k <= 2; ++k) {
            window[static_cast<std::size_t>(k + 2)] =
                mirrored(values, static_cast<std::ptrdiff_t>(i) + k);
        }
        std::nth_element(window.begin(), window.begin() + 2, window.end());
        result[i] = window[2];
    }
    return result;
}

std::vector<double> gaussian_smoothed(const std::vector<double>& values) {
    const int radius = static_cast<int>(std::ceil(3.0 * kLightSmoothing));
    std::vector<double> weights;
    double weight_sum = 0.0;
    for (int k = -radius; k <= radius; ++k) {
        weights.push_back(std::exp(-0.5 * k * k / (kLightSmoothing * kLightSmoothing)));
        weight_sum += weights.back();
    }
    std::vector<double> result(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        double sum = 0.0;
        for (int k = -radius; k <= radius; ++k) {
            sum += weights[static_cast<std::size_t>(k + radius)] *
                   mirrored(values, static_cast<std::ptrdiff_t>(i) + k);
        }
        result[i] = sum / weight_sum;
    }
    return result;
}

}  // namespace

std::vector<FrameLight> smooth_lights(const std::vector<FrameLight>& raw) {
    const std::vector<std::array<double, 3>> filled = filled_lights(raw);
    std::vector<FrameLight> smooth(raw.size());
    for (FrameLight& light : smooth) light.measured = true;
    for (int c = 0; c < 3; ++c) {
        std::vector<double> channel(filled.size());
        for (std::size_t i = 0; i < filled.size(); ++i) channel[i] = filled[i][c];
        const std::vector<double> smoothed = gaussian_smoothed(median_of_five(channel));
        for (std::size_t i = 0; i < filled.size(); ++i) smooth[i].log_bgr[c] = smoothed[i];
    }
    return smooth;
}

LightGains gains_between(const FrameLight& frame, const FrameLight& reference) {
    LightGains gains;
    for (int c = 0; c < 3; ++c) gains.bgr[c] = std::exp(reference.log_bgr[c] - frame.log_bgr[c]);
    return gains;
}

}  // namespace tintora
