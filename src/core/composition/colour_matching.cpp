#include "core/composition/colour_matching.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "core/common/loop_attributes.hpp"
#include "core/correction/curves.hpp"

namespace tintora {

// ----------------------------------------------------------------- the fit

CurveSamples::CurveSamples() : levels_(kIntensityCount) {}

void CurveSamples::add(int video, int target, double weight) {
    if (video < 0 || video >= kIntensityCount || target < 0 || target >= kIntensityCount ||
        !(weight > 0.0)) {
        return;
    }
    Level& level = levels_[static_cast<std::size_t>(video)];
    if (level.weights.empty()) {
        level.first = target;
        level.weights.assign(1, 0.0);
    } else if (target < level.first) {
        level.weights.insert(level.weights.begin(), static_cast<std::size_t>(level.first - target),
                             0.0);
        level.first = target;
    } else if (target >= level.first + static_cast<int>(level.weights.size())) {
        level.weights.resize(static_cast<std::size_t>(target - level.first + 1), 0.0);
    }
    level.weights[static_cast<std::size_t>(target - level.first)] += weight;
    level.total += weight;
}

double CurveSamples::weight(int video, int target) const {
    const Level& level = levels_[static_cast<std::size_t>(video)];
    const int i = target - level.first;
    return i >= 0 && i < static_cast<int>(level.weights.size())
               ? level.weights[static_cast<std::size_t>(i)]
               : 0.0;
}

double CurveSamples::total() const {
    double sum = 0.0;
    for (const Level& level : levels_) sum += level.total;
    return sum;
}

double weighted_median(int first, std::span<const double> weights, double total) {
    const double half = total / 2.0;
    double below = 0.0;
    for (std::size_t i = 0; i < weights.size(); ++i) {
        below += weights[i];
        if (below < half) continue;
        double median = first + static_cast<double>(i);
        if (below == half) {
            // Exactly half up to here: the middle of this target and the next.
            std::size_t next = i + 1;
            while (next < weights.size() && weights[next] == 0.0) ++next;
            if (next < weights.size()) median = (median + first + static_cast<double>(next)) / 2.0;
        }
        return median;
    }
    return first + static_cast<double>(weights.size()) - 1.0;
}

std::vector<LevelValue> level_medians(const CurveSamples& samples) {
    std::vector<LevelValue> levels;
    for (int v = 0; v < kIntensityCount; ++v) {
        const CurveSamples::Level& level = samples.level(v);
        if (level.total < kMinLevelWeight) continue;
        levels.push_back(
            {v, weighted_median(level.first, level.weights, level.total), level.total});
    }
    return levels;
}

std::vector<LevelValue> monotone_fit(std::vector<LevelValue> levels) {
    // Blocks of pooled levels: their weighted mean and weight, and how many
    // levels each holds.
    struct Block {
        double value;
        double weight;
        std::size_t count;
    };
    std::vector<Block> blocks;
    for (const LevelValue& level : levels) {
        blocks.push_back({level.value, level.weight, 1});
        while (blocks.size() > 1 && blocks[blocks.size() - 2].value > blocks.back().value) {
            const Block last = blocks.back();
            blocks.pop_back();
            Block& merged = blocks.back();
            const double weight = merged.weight + last.weight;
            merged.value = (merged.value * merged.weight + last.value * last.weight) / weight;
            merged.weight = weight;
            merged.count += last.count;
        }
    }
    std::size_t at = 0;
    for (const Block& block : blocks) {
        for (std::size_t i = 0; i < block.count; ++i) levels[at++].value = block.value;
    }
    return levels;
}

namespace {

int whole_level(double value) {
    return std::clamp(static_cast<int>(std::lround(value)), 0, kIntensityCount - 1);
}

// The curve fill_curve draws through the pairs.
ControlValues drawn_curve(const ControlValues& pairs) {
    ControlValues curve = pairs;
    fill_curve(curve);
    return curve;
}

// The greedy refinement of pairs_for_fit from the pairs already set.
ControlValues refine_pairs(const std::vector<LevelValue>& fit, ControlValues pairs) {
    int count = 0;
    for (const std::int32_t value : pairs) count += value != NO_PAIR;
    for (; count < kMaxMatchedPairs; ++count) {
        const ControlValues curve = drawn_curve(pairs);
        const LevelValue* worst = nullptr;
        double worst_error = 1.0;
        for (const LevelValue& level : fit) {
            const double error =
                std::abs(curve[static_cast<std::size_t>(level.video)] - level.value);
            if (error > worst_error) {
                worst_error = error;
                worst = &level;
            }
        }
        if (worst == nullptr) break;
        pairs[static_cast<std::size_t>(worst->video)] = whole_level(worst->value);
    }
    return pairs;
}

}  // namespace

ControlValues pairs_for_fit(const std::vector<LevelValue>& fit) {
    ControlValues pairs = make_empty_pairs();
    if (fit.empty()) return pairs;
    pairs[static_cast<std::size_t>(fit.front().video)] = whole_level(fit.front().value);
    pairs[static_cast<std::size_t>(fit.back().video)] = whole_level(fit.back().value);
    return refine_pairs(fit, pairs);
}

std::optional<ControlValues> fit_levels(const std::vector<LevelValue>& levels, double total) {
    if (total < kMinCurveWeight || levels.empty()) return std::nullopt;
    return pairs_for_fit(monotone_fit(levels));
}

std::optional<ControlValues> fit_curve(const CurveSamples& samples) {
    return fit_levels(level_medians(samples), samples.total());
}

// ------------------------------------------------------ the colour fit

namespace {

using LevelCurve = std::array<double, kIntensityCount>;

// The levels' curve is smoothed by a Gaussian of this many levels.
constexpr double kSmoothLevels = 3.0;
// Where the pixels per level (smoothed) are fewer than this share of
// their mean over all levels, the curve leans on the channel's gain and
// gamma more than on its own levels. A share, so that more frames of the
// same place give the same curve.
constexpr double kPriorShare = 0.05;
// Above the level under which all but this share of the pixels lie, the
// curve bends toward white.
constexpr double kTopShare = 0.002;
// How firmly a channel's gamma is drawn toward the common one, and that
// toward 1: the spread (variance) of log levels that weighs as much.
// Levels over a third of the range outweigh it many times.
constexpr double kGammaStrength = 0.02;
// Gammas outside this range are no camera's.
constexpr double kLowestGamma = 1.0 / 3.0;
constexpr double kHighestGamma = 3.0;
// The gain and gamma are fitted on levels from here up: the darker ones'
// logarithms are mostly noise.
constexpr int kGammaFrom = 8;

}  // namespace

LevelMarginals marginals_of(const CurveSamples& samples) {
    LevelMarginals m;
    for (int v = 0; v < kIntensityCount; ++v) {
        const CurveSamples::Level& level = samples.level(v);
        for (std::size_t i = 0; i < level.weights.size(); ++i) {
            m.target[static_cast<std::size_t>(level.first) + i] += level.weights[i];
        }
        m.video[static_cast<std::size_t>(v)] = level.total;
        m.total += level.total;
    }
    return m;
}

namespace {

// Each video level with pixels mapped to the target level at the same
// share of the pixels (its middle): the video's distribution laid onto the
// background's. Targets are spread evenly over their level's width.
LevelCurve quantile_map(const LevelMarginals& m) {
    LevelCurve mapped{};
    double video_below = 0.0;
    double target_below = 0.0;
    int t = 0;
    for (int v = 0; v < kIntensityCount; ++v) {
        const double weight = m.video[static_cast<std::size_t>(v)];
        if (weight <= 0.0) continue;
        const double rank = video_below + weight / 2.0;
        video_below += weight;
        while (t < kIntensityCount - 1 &&
               target_below + m.target[static_cast<std::size_t>(t)] <= rank) {
            target_below += m.target[static_cast<std::size_t>(t)];
            ++t;
        }
        const double here = m.target[static_cast<std::size_t>(t)];
        mapped[static_cast<std::size_t>(v)] =
            here > 0.0 ? t - 0.5 + std::min((rank - target_below) / here, 1.0) : t;
    }
    return mapped;
}

// The weighted spread of log levels of one channel's mapped levels: what
// its gain and gamma are fitted on (log target = log gain + gamma log video).
struct LogMoments {
    double weight = 0.0;
    double mean_x = 0.0;
    double mean_y = 0.0;
    double xx = 0.0;  // variance of x
    double xy = 0.0;  // covariance
};

LogMoments log_moments(const LevelMarginals& m, const LevelCurve& mapped) {
    LogMoments moments;
    double sx = 0.0, sy = 0.0, sxx = 0.0, sxy = 0.0;
    for (int v = kGammaFrom; v < kIntensityCount; ++v) {
        const double w = m.video[static_cast<std::size_t>(v)];
        const double target = mapped[static_cast<std::size_t>(v)];
        if (w <= 0.0 || target < 0.5) continue;
        const double x = std::log(v / 255.0);
        const double y = std::log(target / 255.0);
        moments.weight += w;
        sx += w * x;
        sy += w * y;
        sxx += w * x * x;
        sxy += w * x * y;
    }
    if (moments.weight <= 0.0) return moments;
    moments.mean_x = sx / moments.weight;
    moments.mean_y = sy / moments.weight;
    moments.xx = std::max(sxx / moments.weight - moments.mean_x * moments.mean_x, 0.0);
    moments.xy = sxy / moments.weight - moments.mean_x * moments.mean_y;
    return moments;
}

// A channel's gain and gamma: its levels' own where they span enough,
// drawn toward `toward` where they do not.
struct Response {
    double log_gain = 0.0;
    double gamma = 1.0;
    double at(int v) const {
        return v <= 0 ? 0.0 : 255.0 * std::exp(log_gain + gamma * std::log(v / 255.0));
    }
};

Response fit_response(const LogMoments& m, double toward) {
    Response response;
    response.gamma = std::clamp((m.xy + kGammaStrength * toward) / (m.xx + kGammaStrength),
                                kLowestGamma, kHighestGamma);
    response.log_gain = m.mean_y - response.gamma * m.mean_x;
    return response;
}

// The Gaussian of kSmoothLevels, to three of them either side.
constexpr int kSmoothReach = 9;
std::array<double, 2 * kSmoothReach + 1> smoothing_kernel() {
    std::array<double, 2 * kSmoothReach + 1> kernel{};
    double sum = 0.0;
    for (int d = -kSmoothReach; d <= kSmoothReach; ++d) {
        kernel[static_cast<std::size_t>(d + kSmoothReach)] =
            std::exp(-0.5 * d * d / (kSmoothLevels * kSmoothLevels));
        sum += kernel[static_cast<std::size_t>(d + kSmoothReach)];
    }
    for (double& k : kernel) k /= sum;
    return kernel;
}

// The channel's curve at every level: the response plus the mapped levels'
// departure from it, smoothed across levels and shrunk where pixels are
// few; monotone.
std::vector<LevelValue> channel_curve(const LevelMarginals& m, const LevelCurve& mapped,
                                      const Response& response) {
    static const auto kernel = smoothing_kernel();
    LevelCurve departure{};
    for (int v = 0; v < kIntensityCount; ++v) {
        if (m.video[static_cast<std::size_t>(v)] > 0.0) {
            departure[static_cast<std::size_t>(v)] =
                mapped[static_cast<std::size_t>(v)] - response.at(v);
        }
    }
    std::vector<LevelValue> curve;
    curve.reserve(kIntensityCount);
    const double prior_weight = kPriorShare * m.total / kIntensityCount;
    // The highest level the pixels speak for.
    int highest = 0;
    double below = 0.0;
    while (highest < kIntensityCount - 1 &&
           below + m.video[static_cast<std::size_t>(highest)] < (1.0 - kTopShare) * m.total) {
        below += m.video[static_cast<std::size_t>(highest)];
        ++highest;
    }
    for (int v = 0; v < kIntensityCount; ++v) {
        double weight = 0.0;
        double sum = 0.0;
        for (int d = -kSmoothReach; d <= kSmoothReach; ++d) {
            const int u = v + d;
            if (u < 0 || u >= kIntensityCount) continue;
            const double w = kernel[static_cast<std::size_t>(d + kSmoothReach)] *
                             m.video[static_cast<std::size_t>(u)];
            weight += w;
            sum += w * departure[static_cast<std::size_t>(u)];
        }
        curve.push_back({v, response.at(v) + sum / (weight + prior_weight), weight + prior_weight});
    }
    // White stays white: above the pixels, the curve bends to meet (255,
    // 255), as both cameras clip there.
    const double miss = 255.0 - curve.back().value;
    for (int v = highest + 1; v < kIntensityCount; ++v) {
        curve[static_cast<std::size_t>(v)].value +=
            miss * (v - highest) / static_cast<double>(kIntensityCount - 1 - highest);
    }
    for (LevelValue& level : curve) level.value = std::clamp(level.value, 0.0, 255.0);
    return monotone_fit(std::move(curve));
}

}  // namespace

std::array<std::optional<ControlValues>, kChannelCount> fit_colour_point(
    const std::array<LevelMarginals, kChannelCount>& marginals) {
    std::array<LevelCurve, kChannelCount> mapped;
    std::array<LogMoments, kChannelCount> moments;
    double common_xx = 0.0;
    double common_xy = 0.0;
    for (int c = 0; c < kChannelCount; ++c) {
        mapped[c] = quantile_map(marginals[c]);
        moments[c] = log_moments(marginals[c], mapped[c]);
        if (marginals[c].total >= kMinCurveWeight && moments[c].weight > 0.0) {
            common_xx += moments[c].xx;
            common_xy += moments[c].xy;
        }
    }
    // The gamma the three channels share unless their own levels say
    // otherwise: cameras differ in white balance far more than in gamma
    // between channels, and curves of one shape keep the hues.
    const double common_gamma = std::clamp(
        (common_xy + kGammaStrength) / (common_xx + kGammaStrength), kLowestGamma, kHighestGamma);
    std::array<std::optional<ControlValues>, kChannelCount> pairs;
    for (int c = 0; c < kChannelCount; ++c) {
        const LevelMarginals& m = marginals[c];
        if (m.total < kMinCurveWeight) continue;
        Response response;
        if (moments[c].weight > 0.0) {
            response = fit_response(moments[c], common_gamma);
        } else {
            // Only the darkest levels: a plain gain through their mean.
            double video = 0.0;
            double target = 0.0;
            for (int v = 0; v < kIntensityCount; ++v) {
                video += v * m.video[static_cast<std::size_t>(v)];
                target +=
                    mapped[c][static_cast<std::size_t>(v)] * m.video[static_cast<std::size_t>(v)];
            }
            response.gamma = 1.0;
            response.log_gain = video > 0.0 ? std::log(std::max(target, 1e-9) / video) : 0.0;
        }
        const std::vector<LevelValue> curve = channel_curve(m, mapped[c], response);
        // The level most pixels show is matched exactly: a plain frame's
        // colour comes out where its pixels say.
        const auto heaviest = std::max_element(m.video.begin(), m.video.end()) - m.video.begin();
        ControlValues start = make_empty_pairs();
        start[0] = whole_level(curve.front().value);
        start[kIntensityCount - 1] = whole_level(curve.back().value);
        start[static_cast<std::size_t>(heaviest)] =
            whole_level(curve[static_cast<std::size_t>(heaviest)].value);
        pairs[c] = refine_pairs(curve, start);
    }
    return pairs;
}

// ----------------------------------------------------------- the pairing

namespace {

constexpr int kQuadrantCount = 4;
// The top-left grid point of each quadrant: upper left, upper right, lower
// left, lower right.
constexpr int kQuadrantTopLeft[kQuadrantCount] = {0, 1, 3, 4};

}  // namespace

// Four weights toward a quadrant's corners: top-left, top-right,
// bottom-left, bottom-right.
using CornerWeights = float __attribute__((vector_size(4 * sizeof(float))));

// Cells are marked as touched in blocks of this many, so the fit reads
// only the few blocks of each level that pixels reached.
constexpr std::uint32_t kMarkBlock = 16;

// Per quadrant, curve, video level and target level the summed weights
// toward the quadrant's four corners.
struct MatchStatistics::Cells {
    // A mark is no character type, so storing one lets the compiler keep
    // every pointer of the pixel loop in a register.
    static constexpr int kBlock = kMarkBlock;
    enum class Mark : std::uint8_t { Untouched, Touched };

    explicit Cells(int curves)
        : curves(curves),
          count(static_cast<std::size_t>(kQuadrantCount) * curves * kIntensityCount *
                kIntensityCount),
          weights(static_cast<CornerWeights*>(std::calloc(count, sizeof(CornerWeights)))),
          touched(count / kBlock, Mark::Untouched) {
        if (!weights) throw std::bad_alloc();
    }

    // The cells of one quadrant's curve, video-major.
    CornerWeights* curve_cells(int quadrant, int curve) {
        return weights.get() + (static_cast<std::size_t>(quadrant) * curves + curve) *
                                   kIntensityCount * kIntensityCount;
    }
    const CornerWeights* curve_cells(int quadrant, int curve) const {
        return const_cast<Cells*>(this)->curve_cells(quadrant, curve);
    }
    Mark* curve_touched(int quadrant, int curve) {
        return touched.data() + (static_cast<std::size_t>(quadrant) * curves + curve) *
                                    kIntensityCount * kIntensityCount / kBlock;
    }
    const Mark* curve_touched(int quadrant, int curve) const {
        return const_cast<Cells*>(this)->curve_touched(quadrant, curve);
    }

    int curves;
    std::size_t count;
    struct Free {
        void operator()(CornerWeights* cells) const noexcept { std::free(cells); }
    };
    std::unique_ptr<CornerWeights[], Free> weights;
    std::vector<Mark> touched;  // per block of cells
};

MatchStatistics::MatchStatistics(CorrectionMode mode)
    : mode_(mode), cells_(std::make_unique<Cells>(curve_count())) {}
MatchStatistics::~MatchStatistics() = default;
MatchStatistics::MatchStatistics(MatchStatistics&&) noexcept = default;
MatchStatistics& MatchStatistics::operator=(MatchStatistics&&) noexcept = default;

namespace {

// Why a pixel cannot be paired, one bit each: it lies on a strong edge (or
// on the picture's outer pixels, which lack a neighbour), or one of its
// channels, in byte order B, G, R, is clipped.
constexpr std::uint32_t kEdgeFlag = 1;
constexpr std::uint32_t kAnyClipped = 2 | 4 | 8;  // B, G, R
// The colour mode's rule, per channel in byte order B, G, R: the channel is
// near clipping at the pixel or at one of its eight neighbours.
constexpr std::uint32_t kNearClippedFlag[3] = {16, 32, 64};
constexpr std::uint32_t kAnyNearClipped = 16 | 32 | 64;

// Plain loops over arrays, so the compiler does them many pixels at a time.

// Pixels as words B | G << 8 | R << 16, and their channel sums. Four
// pixels at a time go by one byte shuffle of sixteen bytes read; the last
// few, whose sixteen bytes would reach past the row, one by one.
using Bytes16 = std::uint8_t __attribute__((vector_size(16)));

// Which channels of a pixel word (its top byte 0) are near clipping, as
// their kNearClippedFlag in the top byte: bytes below n are found all at
// once by the borrow each leaves in its top bit.
constexpr std::uint32_t kBytes = 0x01010101u;
inline std::uint32_t any_byte_below(std::uint32_t word, std::uint32_t n) {
    return (word - kBytes * n) & ~word & kBytes * 0x80u;
}
inline std::uint32_t near_clipped(std::uint32_t word) {
    const std::uint32_t dark = any_byte_below(word | 0xFF000000u, kNearBlackTo + 1);
    const std::uint32_t bright = any_byte_below(~word, 256 - kNearClippedFrom);
    const std::uint32_t borrows = dark | bright;  // bits 7, 15 and 23
    return ((borrows >> 7 & 1) * kNearClippedFlag[0] | (borrows >> 15 & 1) * kNearClippedFlag[1] |
            (borrows >> 23 & 1) * kNearClippedFlag[2])
           << 24;
}

__attribute__((target_clones("avx512f", "avx2", "default"))) void read_pixels(
    const std::uint8_t* __restrict pixels, int count, std::uint32_t* __restrict words,
    std::int16_t* __restrict sums, std::uint32_t* __restrict near) {
    int i = 0;
    for (; i + 6 <= count; i += 4) {
        Bytes16 bytes;
        std::memcpy(&bytes, pixels + 3 * i, sizeof bytes);
        const Bytes16 spread = __builtin_shufflevector(bytes, Bytes16{}, 0, 1, 2, 16, 3, 4, 5, 16,
                                                       6, 7, 8, 16, 9, 10, 11, 16);
        std::memcpy(words + i, &spread, sizeof spread);
    }
    for (; i < count; ++i) {
        words[i] = pixels[3 * i] | pixels[3 * i + 1] << 8 | pixels[3 * i + 2] << 16;
    }
    for (i = 0; i < count; ++i) {
        sums[i] = static_cast<std::int16_t>((words[i] & 0xFF) + (words[i] >> 8 & 0xFF) +
                                            (words[i] >> 16));
        near[i] = near_clipped(words[i]);
    }
}

// Per pixel whether it or a neighbour along the row is near clipping, from
// one column before the first to one after the last; the ends see one
// neighbour.
__attribute__((target_clones("avx512f", "avx2", "default"))) void near_along(
    const std::uint32_t* __restrict near, int count, std::uint32_t* __restrict along) {
    if (count < 2) {
        if (count == 1) along[0] = near[0];
        return;
    }
    along[0] = near[0] | near[1];
    for (int i = 1; i + 1 < count; ++i) along[i] = near[i - 1] | near[i] | near[i + 1];
    along[count - 1] = near[count - 2] | near[count - 1];
}

// A row's words with their flags in the top byte, from its words, the
// channel sums of it and the rows above and below, and whether those
// rows are near clipping at or beside each column (near_along), all from
// one column before the first to one after the last.
__attribute__((target_clones("avx512f", "avx2", "default"))) void flag_words(
    const std::uint32_t* __restrict here_words, const std::int16_t* __restrict above,
    const std::int16_t* __restrict here, const std::int16_t* __restrict below,
    const std::uint32_t* __restrict near_above, const std::uint32_t* __restrict near_here,
    const std::uint32_t* __restrict near_below, int count, std::uint32_t* __restrict words) {
    for (int i = 1; i <= count; ++i) {
        const std::uint32_t word = here_words[i];
        std::uint32_t flag = 0;
        for (int byte = 0; byte < 3; ++byte) {
            const std::uint32_t value = word >> (8 * byte) & 0xFF;
            flag |= static_cast<std::uint32_t>(value == 0 || value >= kClippedFrom) << (byte + 1);
        }
        const int along = here[i + 1] - here[i - 1];
        const int across = below[i] - above[i];
        flag |= static_cast<std::uint32_t>((along > kEdgeLimit) | (along < -kEdgeLimit) |
                                           (across > kEdgeLimit) | (across < -kEdgeLimit));
        words[i - 1] = word | flag << 24 | near_above[i] | near_here[i] | near_below[i];
    }
}

// The words of the pixels first..last - 1 of each row of a picture, read
// row after row; the picture's outer pixels count as edges. A row read
// serves it and its two neighbours.
class RowWords {
public:
    explicit RowWords(int count)
        : words_(3 * static_cast<std::size_t>(count + 2)),
          sums_(3 * static_cast<std::size_t>(count + 2)),
          near_(3 * static_cast<std::size_t>(count + 2)),
          near_scratch_(static_cast<std::size_t>(count + 2)),
          count_(count) {}

    void read(const Frame& picture, int y, int first, int last, std::uint32_t* words) {
        const int count = last - first;
        if (count <= 0) return;
        // The outer pixels: no word worth reading but the edge flag.
        std::fill(words, words + count, kEdgeFlag << 24);
        const int inner_first = std::max(first, 1);
        const int inner_last = std::min(last, picture.width() - 1);
        if (y == 0 || y == picture.height() - 1 || inner_first >= inner_last) return;
        const int inner = inner_last - inner_first;
        // Rows y - 1, y and y + 1 in the slots y - 1, y and y + 1 modulo 3;
        // a slot is read again unless it holds that row already.
        std::uint32_t* row_words[3];
        std::int16_t* row_sums[3];
        std::uint32_t* row_near[3];
        for (int i = 0; i < 3; ++i) {
            const int row = y - 1 + i;
            const std::size_t slot = static_cast<std::size_t>(row % 3);
            row_words[i] = words_.data() + slot * (count_ + 2);
            row_sums[i] = sums_.data() + slot * (count_ + 2);
            row_near[i] = near_.data() + slot * (count_ + 2);
            if (read_[slot] != row || read_span_[0] != inner_first || read_span_[1] != inner_last) {
                read_pixels(picture.pixel(row, inner_first - 1), inner + 2, row_words[i],
                            row_sums[i], near_scratch_.data());
                near_along(near_scratch_.data(), inner + 2, row_near[i]);
                read_[slot] = row;
            }
        }
        read_span_[0] = inner_first;
        read_span_[1] = inner_last;
        flag_words(row_words[1], row_sums[0], row_sums[1], row_sums[2], row_near[0], row_near[1],
                   row_near[2], inner, words + (inner_first - first));
    }

private:
    std::vector<std::uint32_t> words_;
    std::vector<std::int16_t> sums_;
    // each channel's kNearClippedFlag << 24 where it is near clipping at or
    // beside the column
    std::vector<std::uint32_t> near_;
    std::vector<std::uint32_t> near_scratch_;
    int count_;
    int read_[3] = {-1, -1, -1};   // the row each slot holds
    int read_span_[2] = {-1, -1};  // the columns they were read over
};

// The part of the background the mesh can reach (the mesh lies within the
// box of its area points, moved by the frame's shift), turned as the area
// points measure it, as words with their flags.
struct BackgroundBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> words;  // row-major
};

// A shifted area coordinate's whole pixel, held to low..high.
int shifted_pixel(double coordinate, double shift, int low, int high) {
    return static_cast<int>(std::clamp(std::floor(coordinate + shift), static_cast<double>(low),
                                       static_cast<double>(high)));
}

BackgroundBox background_box(const Frame& loaded, int rotation, const CorrectionGrid& grid,
                             BackgroundPoint shift, const WarpLattice* warp) {
    const int wa = loaded.width();
    const int ha = loaded.height();
    const bool quarter = rotation % 2 == 1;
    const int rotated_width = quarter ? ha : wa;
    const int rotated_height = quarter ? wa : ha;
    const auto [low_x, high_x] = std::minmax_element(grid.area_x.begin(), grid.area_x.end());
    const auto [low_y, high_y] = std::minmax_element(grid.area_y.begin(), grid.area_y.end());
    // A warp's frame may bulge beyond its area points: its lattice's box.
    const BackgroundPoint low = warp ? warp->low() : BackgroundPoint{1.0 * *low_x, 1.0 * *low_y};
    const BackgroundPoint high =
        warp ? warp->high() : BackgroundPoint{1.0 * *high_x, 1.0 * *high_y};
    BackgroundBox box;
    box.left = shifted_pixel(low.x, shift.x, 0, rotated_width);
    box.top = shifted_pixel(low.y, shift.y, 0, rotated_height);
    box.width =
        std::max(shifted_pixel(high.x, shift.x, -1, rotated_width - 1) + 1 - box.left, 0);
    box.height =
        std::max(shifted_pixel(high.y, shift.y, -1, rotated_height - 1) + 1 - box.top, 0);
    box.words.resize(static_cast<std::size_t>(box.width) * box.height);
    if (box.words.empty()) return box;

    // The box in the picture as loaded: rows and columns of the rotated
    // box, read there row by row, then turned into place.
    const int right = box.left + box.width - 1;
    const int bottom = box.top + box.height - 1;
    int row0 = box.top, column0 = box.left, rows = box.height, columns = box.width;
    if (rotation == 1) {  // rotated (x, y) is loaded row Ha - 1 - x, column y
        row0 = ha - 1 - right, column0 = box.top, rows = box.width, columns = box.height;
    } else if (rotation == 2) {  // row Ha - 1 - y, column Wa - 1 - x
        row0 = ha - 1 - bottom, column0 = wa - 1 - right;
    } else if (rotation == 3) {  // row x, column Wa - 1 - y
        row0 = box.left, column0 = wa - 1 - bottom, rows = box.width, columns = box.height;
    }
    RowWords reader(columns);
    if (rotation == 0) {
        for (int r = 0; r < rows; ++r) {
            reader.read(loaded, row0 + r, column0, column0 + columns,
                        box.words.data() + static_cast<std::size_t>(r) * box.width);
        }
        return box;
    }
    std::vector<std::uint32_t> line(static_cast<std::size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        reader.read(loaded, row0 + r, column0, column0 + columns, line.data());
        for (int c = 0; c < columns; ++c) {
            // This loaded pixel's place in the rotated box.
            int x = c;
            int y = r;
            if (rotation == 1) {
                x = rows - 1 - r, y = c;
            } else if (rotation == 2) {
                x = columns - 1 - c, y = rows - 1 - r;
            } else {
                x = r, y = columns - 1 - c;
            }
            box.words[static_cast<std::size_t>(y) * box.width + x] =
                line[static_cast<std::size_t>(c)];
        }
    }
    return box;
}

// Where the frame's columns lie in the mesh: where the right cells start,
// the column's factors of the corner weights (1 - u, u, 1 - u, u), and for
// the upper (0) and lower (1) half the blend of the area points along the
// half's top row (moved by the frame's shift) and its difference to the
// bottom row, as map_to_background blends them.
struct ColumnPlaces {
    std::size_t split = 0;  // the first column of the right cells
    std::vector<CornerWeights> across;
    std::vector<double> top_x[2], top_y[2], down_x[2], down_y[2];
};

ColumnPlaces column_places(int width, const CorrectionGrid& grid, BackgroundPoint shift) {
    ColumnPlaces places;
    const std::size_t n = static_cast<std::size_t>(width);
    places.across.resize(n);
    for (int half = 0; half < 2; ++half) {
        for (auto* values : {&places.top_x[half], &places.top_y[half], &places.down_x[half],
                             &places.down_y[half]}) {
            values->resize(n);
        }
    }
    for (std::size_t x = 0; x < n; ++x) {
        const double position = static_cast<double>(x) / (width - 1.0);
        const bool left = position <= 0.5;
        const double u = 2.0 * (left ? position : position - 0.5);
        const int cell = left ? 0 : 1;
        if (left) places.split = x + 1;
        const auto uf = static_cast<float>(u);
        places.across[x] = CornerWeights{1.0f - uf, uf, 1.0f - uf, uf};
        double mx[3];
        double my[3];
        for (int row = 0; row < 3; ++row) {
            const int p = 3 * row + cell;
            mx[row] =
                grid.area_x[p] + u * (static_cast<double>(grid.area_x[p + 1]) - grid.area_x[p]);
            my[row] =
                grid.area_y[p] + u * (static_cast<double>(grid.area_y[p + 1]) - grid.area_y[p]);
        }
        for (int half = 0; half < 2; ++half) {
            places.top_x[half][x] = mx[half] + shift.x;
            places.top_y[half][x] = my[half] + shift.y;
            places.down_x[half][x] = mx[half + 1] - mx[half];
            places.down_y[half][x] = my[half + 1] - my[half];
        }
    }
    return places;
}

// Where one row of the frame lands: per column the index of the box's
// pixel under it, or -1 where it misses the background.
struct Landing {
    const double* top_x;
    const double* top_y;
    const double* down_x;
    const double* down_y;
    double w;
    const BackgroundBox* box;
};

// A plain loop over arrays, so the compiler can do it several columns at a
// time.
__attribute__((target_clones("avx512f", "avx2", "default"))) TINTORA_NO_TRAPPING_MATH int
land_row(const Landing& row, int count, std::int32_t* __restrict index) {
    const double* __restrict top_x = row.top_x;
    const double* __restrict top_y = row.top_y;
    const double* __restrict down_x = row.down_x;
    const double* __restrict down_y = row.down_y;
    const double w = row.w;
    const double left = row.box->left;
    const double top = row.box->top;
    const double right = row.box->left + row.box->width;
    const double bottom = row.box->top + row.box->height;
    const int box_left = row.box->left;
    const int box_top = row.box->top;
    const int box_width = row.box->width;
    int landed = 0;
    for (int i = 0; i < count; ++i) {
        const double x = top_x[i] + w * down_x[i];
        const double y = top_y[i] + w * down_y[i];
        const bool inside = x >= left && x < right && y >= top && y < bottom;
        const int ix = static_cast<int>(inside ? x : left) - box_left;
        const int iy = static_cast<int>(inside ? y : top) - box_top;
        index[i] = inside ? iy * box_width + ix : -1;
        landed += inside;
    }
    return landed;
}

// The cells of a pixel's three channels: per channel its video level times
// 256 plus its target level, from the words (B | G << 8 | R << 16) of the
// frame and the background pixel, by interleaving their bytes.
using Words4 = std::uint32_t __attribute__((vector_size(16)));
using Halves8 = std::uint16_t __attribute__((vector_size(16)));

inline Halves8 channel_cells(std::uint32_t video, std::uint32_t target) {
    const Bytes16 v = reinterpret_cast<Bytes16>(Words4{video, 0, 0, 0});
    const Bytes16 t = reinterpret_cast<Bytes16>(Words4{target, 0, 0, 0});
    return reinterpret_cast<Halves8>(
        __builtin_shufflevector(t, v, 0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23));
}

// A word's intensity; its flags in the top byte left out.
std::uint32_t word_intensity(std::uint32_t word) {
    return ((word & 0xFF) + (word >> 8 & 0xFF) + (word >> 16 & 0xFF)) / 3;
}

// What a run of pixels gave: pixels (in colour mode channels) paired,
// pixels paired, and landed pixels off edges left out as clipped.
struct RunCounts {
    std::int64_t paired = 0;
    std::int64_t pixels = 0;
    std::int64_t clipped = 0;
};

// The dark pixels among a row's words.
__attribute__((target_clones("avx512f", "avx2", "default"))) int count_dark(
    const std::uint32_t* __restrict words, int count) {
    static_assert(kDarkBelow == 16, "dark: no bit from 16 up in any channel");
    int dark = 0;
    for (int i = 0; i < count; ++i) dark += (words[i] & 0xF0F0F0u) == 0;
    return dark;
}

// The pairing of a run of a row's pixels that lie in one quadrant.
struct PixelRun {
    const std::int32_t* index;    // of the background box's word, or -1
    const std::uint32_t* video;   // the frame's words
    const CornerWeights* across;  // the columns' factors
    CornerWeights down;           // the row's factors
    CornerWeights* cells[kChannelCount];
    MatchStatistics::Cells::Mark* marks[kChannelCount];

    void add(int curve, std::uint32_t cell, CornerWeights corner) const {
        cells[curve][cell] += corner;
        marks[curve][cell / kMarkBlock] = MatchStatistics::Cells::Mark::Touched;
    }

    // Each channel of each usable pixel to its curve: red, green, blue,
    // from the words' bytes R, G, B. A channel near clipping is left out on
    // its own: a sky burnt out in the background's blue still tells red and
    // green how it looks, and without it their curves would only guess.
    RunCounts pair_colours(const std::uint32_t* box, std::size_t first, std::size_t last) const {
        RunCounts counts;
        for (std::size_t x = first; x < last; ++x) {
            if (index[x] < 0) continue;
            const std::uint32_t target = box[static_cast<std::size_t>(index[x])];
            const std::uint32_t flags = (target | video[x]) >> 24;
            if (flags & kEdgeFlag) continue;
            const CornerWeights corner = across[x] * down;
            const Halves8 cell = channel_cells(video[x], target);
            int channels = 0;
            for (int curve = 0; curve < kChannelCount; ++curve) {
                const int byte = 2 - curve;
                if (flags & kNearClippedFlag[byte]) continue;
                add(curve, cell[byte], corner);
                ++channels;
            }
            counts.paired += channels;
            counts.pixels += channels > 0;
            counts.clipped += (flags & kAnyNearClipped) == kAnyNearClipped;
        }
        return counts;
    }

    // Each usable pixel's intensities to the one curve.
    RunCounts pair_intensities(const std::uint32_t* box, std::size_t first,
                               std::size_t last) const {
        std::int64_t pixels = 0;
        std::int64_t clipped = 0;
        for (std::size_t x = first; x < last; ++x) {
            if (index[x] < 0) continue;
            const std::uint32_t target = box[static_cast<std::size_t>(index[x])];
            const std::uint32_t flags = (target | video[x]) >> 24;
            if (flags & kEdgeFlag) continue;
            if (flags & kAnyClipped) {
                ++clipped;
                continue;
            }
            add(0, word_intensity(video[x]) * kIntensityCount + word_intensity(target),
                across[x] * down);
            ++pixels;
        }
        return {pixels, pixels, clipped};
    }
};

}  // namespace

void MatchStatistics::add_frame(const Frame& frame, const CorrectionGrid& grid,
                                const MatchBackground& background,
                                const FramePlacement& placement) {
    if (!placement.light.neutral()) {
        Frame lit = frame;
        apply_light_gains(lit, placement.light);
        add_frame(lit, grid, background, {placement.shift, {}});
        return;
    }
    const Frame* loaded = background.loaded;
    const int width = frame.width();
    const int height = frame.height();
    const int rotation = background.rotation_index;
    if (width < 2 || height < 2 || loaded == nullptr || loaded->empty() || rotation < 0 ||
        rotation > 3) {
        return;
    }
    const ColumnPlaces places = column_places(width, grid, placement.shift);
    // Paired where the composition draws: through the model's warp, if any.
    const std::shared_ptr<const WarpLattice> warp = WarpLattice::make(
        background.warp_maker, grid,
        {loaded->width(), loaded->height(), rotation, background.panorama});
    std::optional<WarpRows> warp_rows;
    if (warp) {
        std::vector<LatticeSpan> spans;
        for (int x = 0; x < width; ++x) spans.push_back(warp->across(x / (width - 1.0)));
        warp_rows.emplace(*warp, std::move(spans), placement.shift);
    }
    const BackgroundBox box =
        background_box(*loaded, rotation, grid, placement.shift, warp.get());
    Cells& cells = *cells_;
    const int curves = curve_count();
    const std::size_t n = static_cast<std::size_t>(width);
    std::vector<std::int32_t> index(n);
    std::vector<std::uint32_t> video_words(n);
    RowWords reader(width);
    std::int64_t landed = 0;
    std::int64_t dark = 0;
    RunCounts counts;

    for (int y = 0; y < height; ++y) {
        const double row_position = y / (height - 1.0);
        const bool upper = row_position <= 0.5;
        const double w = 2.0 * (upper ? row_position : row_position - 0.5);
        const int half = upper ? 0 : 1;
        Landing landing{places.top_x[half].data(), places.top_y[half].data(),
                        places.down_x[half].data(), places.down_y[half].data(), w, &box};
        if (warp_rows) {
            const double band_w = warp_rows->select(row_position);
            const composition_detail::HalfMesh& band = warp_rows->mesh();
            landing = {band.top_x.data(), band.top_y.data(), band.down_x.data(),
                       band.down_y.data(), band_w, &box};
        }
        landed += land_row(landing, width, index.data());
        reader.read(frame, y, 0, width, video_words.data());
        dark += count_dark(video_words.data(), width);
        const auto wf = static_cast<float>(w);
        const CornerWeights down{1.0f - wf, 1.0f - wf, wf, wf};
        // The row's pixels over each of its two quadrants in turn, with the
        // quadrant's cells and marks at hand.
        for (int cell = 0; cell < 2; ++cell) {
            const int quadrant = 2 * half + cell;
            PixelRun run{index.data(), video_words.data(), places.across.data(), down, {}, {}};
            for (int curve = 0; curve < curves; ++curve) {
                run.cells[curve] = cells.curve_cells(quadrant, curve);
                run.marks[curve] = cells.curve_touched(quadrant, curve);
            }
            const std::size_t first = cell == 0 ? 0 : places.split;
            const std::size_t last = cell == 0 ? places.split : n;
            const RunCounts run_counts =
                curves == kChannelCount ? run.pair_colours(box.words.data(), first, last)
                                        : run.pair_intensities(box.words.data(), first, last);
            counts.paired += run_counts.paired;
            counts.pixels += run_counts.pixels;
            counts.clipped += run_counts.clipped;
        }
    }
    landed_ += landed;
    paired_ += counts.paired;
    paired_pixels_ += counts.pixels;
    clipped_ += counts.clipped;
    dark_ += dark;
    frame_pixels_ += static_cast<std::int64_t>(width) * height;
}

namespace {

// Visits each video level that pixels reached of a grid point's curve:
// visit(v, first, end, targets, total) with the weights toward the point
// of targets first..end - 1 (targets[t], the others unset) and their sum.
template <class Visit>
void visit_levels(const MatchStatistics::Cells& cells, int point, int curve, Visit visit) {
    using Cells = MatchStatistics::Cells;
    // The quadrants the point is a corner of, and which corner.
    struct Source {
        const CornerWeights* cells;
        const Cells::Mark* marks;
        int corner;
    };
    Source sources[kQuadrantCount];
    int count = 0;
    for (int quadrant = 0; quadrant < kQuadrantCount; ++quadrant) {
        const int offset = point - kQuadrantTopLeft[quadrant];
        const int corner = offset == 0   ? 0
                           : offset == 1 ? 1
                           : offset == 3 ? 2
                           : offset == 4 ? 3
                                         : -1;
        if (corner >= 0) {
            sources[count++] = {cells.curve_cells(quadrant, curve),
                                cells.curve_touched(quadrant, curve), corner};
        }
    }
    constexpr int kBlocks = kIntensityCount / Cells::kBlock;
    static_assert(kBlocks == 16 && sizeof(Cells::Mark) == 1, "a level's marks are two words");
    double targets[kIntensityCount];
    for (int v = 0; v < kIntensityCount; ++v) {
        // The blocks of targets any source reached at this level: its
        // sixteen marks as two words, block k in byte k (little-endian).
        std::uint64_t marked[2] = {0, 0};
        for (int i = 0; i < count; ++i) {
            std::uint64_t words[2];
            std::memcpy(words, sources[i].marks + v * kBlocks, sizeof words);
            marked[0] |= words[0];
            marked[1] |= words[1];
        }
        if ((marked[0] | marked[1]) == 0) continue;
        const int first_block =
            marked[0] != 0 ? __builtin_ctzll(marked[0]) / 8 : 8 + __builtin_ctzll(marked[1]) / 8;
        const int last_block = marked[1] != 0 ? 15 - __builtin_clzll(marked[1]) / 8
                                              : 7 - __builtin_clzll(marked[0]) / 8;
        const int first = first_block * Cells::kBlock;
        const int end = (last_block + 1) * Cells::kBlock;
        std::fill(targets + first, targets + end, 0.0);
        double level_total = 0.0;
        for (int i = 0; i < count; ++i) {
            const CornerWeights* level = sources[i].cells + v * kIntensityCount;
            for (int t = first; t < end; ++t) {
                const double weight = level[t][sources[i].corner];
                targets[t] += weight;
                level_total += weight;
            }
        }
        visit(v, first, end, static_cast<const double*>(targets), level_total);
    }
}

// A level's weighted median of targets first..end - 1.
LevelValue level_median(int v, int first, int end, const double* targets, double total) {
    return {v,
            weighted_median(first,
                            std::span<const double>(targets + first,
                                                    static_cast<std::size_t>(end - first)),
                            total),
            total};
}

}  // namespace

std::vector<LevelValue> MatchStatistics::levels(int point, int curve, double& total) const {
    std::vector<LevelValue> levels;
    total = 0.0;
    visit_levels(*cells_, point, curve,
                 [&](int v, int first, int end, const double* targets, double level_total) {
                     total += level_total;
                     if (level_total >= kMinLevelWeight) {
                         levels.push_back(level_median(v, first, end, targets, level_total));
                     }
                 });
    return levels;
}

namespace {

// A grid point's curve as its level medians give it, over the levels they
// reach (straight between them); undefined elsewhere.
struct LevelTrend {
    LevelCurve value{};
    int first = 1;
    int last = 0;
    bool defined_at(int v) const { return v >= first && v <= last; }
};

LevelTrend level_trend(const std::vector<LevelValue>& levels) {
    LevelTrend trend;
    if (levels.empty()) return trend;
    const std::vector<LevelValue> fit = monotone_fit(levels);
    trend.first = fit.front().video;
    trend.last = fit.back().video;
    for (std::size_t i = 0; i < fit.size(); ++i) {
        trend.value[static_cast<std::size_t>(fit[i].video)] = fit[i].value;
        if (i == 0) continue;
        const LevelValue& from = fit[i - 1];
        for (int v = from.video + 1; v < fit[i].video; ++v) {
            trend.value[static_cast<std::size_t>(v)] = from.value + (fit[i].value - from.value) *
                                                                        (v - from.video) /
                                                                        (fit[i].video - from.video);
        }
    }
    return trend;
}

// Adds a weight at a fractional target level, split between the two
// levels around it.
void add_target(LevelMarginals& m, double target, double weight) {
    const double held = std::clamp(target, 0.0, kIntensityCount - 1.0);
    const int below = std::min(static_cast<int>(held), kIntensityCount - 2);
    const double above_share = held - below;
    m.target[static_cast<std::size_t>(below)] += weight * (1.0 - above_share);
    m.target[static_cast<std::size_t>(below) + 1] += weight * above_share;
}

}  // namespace

std::array<LevelMarginals, kGridPointCount> MatchStatistics::point_marginals(int curve) const {
    const Cells& cells = *cells_;
    std::array<LevelTrend, kGridPointCount> trends;
    for (int point = 0; point < kGridPointCount; ++point) {
        std::vector<LevelValue> medians;
        visit_levels(cells, point, curve,
                     [&](int v, int first, int end, const double* targets, double level_total) {
                         if (level_total >= kMinLevelWeight) {
                             medians.push_back(level_median(v, first, end, targets, level_total));
                         }
                     });
        trends[static_cast<std::size_t>(point)] = level_trend(medians);
    }
    std::array<LevelMarginals, kGridPointCount> marginals;
    constexpr int kBlocks = kIntensityCount / Cells::kBlock;
    for (int quadrant = 0; quadrant < kQuadrantCount; ++quadrant) {
        const int top_left = kQuadrantTopLeft[quadrant];
        const int corners[4] = {top_left, top_left + 1, top_left + 3, top_left + 4};
        const CornerWeights* weights = cells.curve_cells(quadrant, curve);
        const Cells::Mark* marks = cells.curve_touched(quadrant, curve);
        LevelMarginals* corner_marginals[4];
        for (int k = 0; k < 4; ++k) {
            corner_marginals[k] = &marginals[static_cast<std::size_t>(corners[k])];
        }
        for (int v = 0; v < kIntensityCount; ++v) {
            // The corners' trends at this level, where they reach it.
            double trend[4];
            bool defined[4];
            for (int k = 0; k < 4; ++k) {
                const LevelTrend& corner_trend = trends[static_cast<std::size_t>(corners[k])];
                defined[k] = corner_trend.defined_at(v);
                trend[k] = corner_trend.value[static_cast<std::size_t>(v)];
            }
            double level_weight[4] = {0.0, 0.0, 0.0, 0.0};
            for (int block = 0; block < kBlocks; ++block) {
                if (marks[v * kBlocks + block] == Cells::Mark::Untouched) continue;
                for (int t = block * Cells::kBlock; t < (block + 1) * Cells::kBlock; ++t) {
                    const CornerWeights cell = weights[v * kIntensityCount + t];
                    // Most cells of a touched block stay empty.
                    if (cell[0] + cell[1] + cell[2] + cell[3] == 0.0f) continue;
                    // The trend at the pixels' place: the corners' blended
                    // by the pixels' weights toward them.
                    double blended = 0.0;
                    double blend_weight = 0.0;
                    for (int k = 0; k < 4; ++k) {
                        if (!defined[k]) continue;
                        blended += cell[k] * trend[k];
                        blend_weight += cell[k];
                    }
                    const double at_place = blend_weight > 0.0 ? blended / blend_weight : 0.0;
                    for (int k = 0; k < 4; ++k) {
                        if (cell[k] <= 0.0f) continue;
                        const bool moved = blend_weight > 0.0 && defined[k];
                        add_target(*corner_marginals[k], moved ? t - (at_place - trend[k]) : t,
                                   cell[k]);
                        level_weight[k] += cell[k];
                    }
                }
            }
            for (int k = 0; k < 4; ++k) {
                corner_marginals[k]->video[static_cast<std::size_t>(v)] += level_weight[k];
                corner_marginals[k]->total += level_weight[k];
            }
        }
    }
    return marginals;
}

MatchResult fit_matched_curves(const CorrectionGrid& grid, const MatchStatistics& statistics) {
    MatchResult result{grid, 0};
    CorrectionGrid& matched = result.grid;
    // Points left unfitted keep the mode's curves as a change of mode leaves them.
    set_correction_mode(matched, statistics.mode());
    if (statistics.mode() == CorrectionMode::Colour) {
        std::array<std::array<LevelMarginals, kGridPointCount>, kChannelCount> marginals;
        for (int channel = 0; channel < kChannelCount; ++channel) {
            marginals[channel] = statistics.point_marginals(channel);
        }
        for (int point = 0; point < kGridPointCount; ++point) {
            const std::array<std::optional<ControlValues>, kChannelCount> pairs =
                fit_colour_point({marginals[kRedChannel][point], marginals[kGreenChannel][point],
                                  marginals[kBlueChannel][point]});
            for (int channel = 0; channel < kChannelCount; ++channel) {
                if (!pairs[channel]) continue;
                matched.channel_control_values[channel][point] = *pairs[channel];
                ++result.fitted;
            }
        }
    } else {
        for (int point = 0; point < kGridPointCount; ++point) {
            double total = 0.0;
            const std::vector<LevelValue> levels = statistics.levels(point, 0, total);
            const std::optional<ControlValues> pairs = fit_levels(levels, total);
            if (!pairs) continue;
            matched.control_values[point] = *pairs;
            ++result.fitted;
        }
    }
    recalculate_color_tables(matched);
    return result;
}

int count_frames(const std::vector<FrameRegistration>& registrations, FrameVerdict verdict) {
    return static_cast<int>(std::count_if(registrations.begin(), registrations.end(),
                                          [verdict](const FrameRegistration& registration) {
                                              return registration.verdict == verdict;
                                          }));
}

namespace {

// A frame for the match: one at hand, or one read into `held`; nothing and
// the reason when it cannot be read.
using FrameReader = std::function<const Frame*(int index, Frame& held, std::string& error)>;

MatchOutcome match_frames(const CorrectionGrid& grid, CorrectionMode mode, int count,
                          const FrameReader& read_frame, const MatchBackground& background,
                          const std::function<bool()>& keep_running,
                          const MatchFrameLight& light = {}) {
    MatchOutcome outcome;
    if (background.loaded == nullptr || background.loaded->empty()) {
        outcome.problem = MatchProblem::NoBackground;
        return outcome;
    }
    if (count < 1) {
        outcome.problem = MatchProblem::NoClip;
        return outcome;
    }
    MatchStatistics statistics(mode);
    bool any_usable = false;
    Frame held;
    for (int index = 0; index < count; ++index) {
        if (keep_running && !keep_running()) {
            outcome.problem = MatchProblem::Cancelled;
            return outcome;
        }
        std::string error;
        const Frame* frame = read_frame(index, held, error);
        if (frame == nullptr) {
            outcome.problem = MatchProblem::FrameUnreadable;
            outcome.frame_error = std::move(error);
            return outcome;
        }
        // A frame needs a neighbour on each side of a pixel to pair it.
        if (frame->width() < 2 || frame->height() < 2) continue;
        any_usable = true;
        const FrameRegistration registration = register_frame(*frame, grid, background);
        outcome.registrations.push_back(registration);
        if (registration.verdict != FrameVerdict::Agrees) continue;
        statistics.add_frame(*frame, grid, background,
                             {registration.shift, light ? light(index) : LightGains{}});
    }
    if (!any_usable) {
        outcome.problem = MatchProblem::FramesTooSmall;
        return outcome;
    }
    if (count_frames(outcome.registrations, FrameVerdict::Agrees) == 0) {
        outcome.problem = MatchProblem::FramesDisagree;
        return outcome;
    }
    const std::int64_t landed = statistics.landed();
    if (landed == 0) {
        outcome.problem = MatchProblem::FrameOffBackground;
        return outcome;
    }
    if (statistics.dark() >= kUnmeasurableShare * statistics.frame_pixels()) {
        outcome.problem = MatchProblem::TooDark;
        return outcome;
    }
    const std::int64_t off_edges = statistics.clipped() + statistics.paired_pixels();
    if (off_edges > 0 && statistics.clipped() >= kUnmeasurableShare * off_edges) {
        outcome.problem = MatchProblem::TooClipped;
        return outcome;
    }
    outcome.result = fit_matched_curves(grid, statistics);
    if (outcome.result.fitted == 0) outcome.problem = MatchProblem::TooFewPixels;
    return outcome;
}

}  // namespace

MatchOutcome match_colours(const CorrectionGrid& grid, CorrectionMode mode, int count,
                           const MatchFrameSource& frames, const MatchBackground& background,
                           const std::function<bool()>& keep_running,
                           const MatchFrameLight& light) {
    return match_frames(
        grid, mode, count,
        [&frames](int index, Frame& held, std::string& error) -> const Frame* {
            Result<Frame> frame = frames(index);
            if (!frame) {
                error = frame.error();
                return nullptr;
            }
            held = std::move(frame).value();
            return &held;
        },
        background, keep_running, light);
}

MatchOutcome match_colours(const CorrectionGrid& grid, CorrectionMode mode,
                           std::span<const Frame> frames, const MatchBackground& background) {
    return match_frames(grid, mode, static_cast<int>(frames.size()),
                        [frames](int index, Frame&, std::string&) {
                            return &frames[static_cast<std::size_t>(index)];
                        },
                        background, {});
}

}  // namespace tintora
