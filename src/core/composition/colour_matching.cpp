#include "core/composition/colour_matching.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

std::vector<LevelValue> level_medians(const CurveSamples& samples) {
    std::vector<LevelValue> levels;
    for (int v = 0; v < kIntensityCount; ++v) {
        const CurveSamples::Level& level = samples.level(v);
        if (level.total < kMinLevelWeight) continue;
        const double half = level.total / 2.0;
        double below = 0.0;
        for (std::size_t i = 0; i < level.weights.size(); ++i) {
            below += level.weights[i];
            if (below < half) continue;
            double median = level.first + static_cast<double>(i);
            if (below == half) {
                // Exactly half up to here: the middle of this target and the next.
                std::size_t next = i + 1;
                while (next < level.weights.size() && level.weights[next] == 0.0) ++next;
                if (next < level.weights.size()) median = (median + level.first + next) / 2.0;
            }
            levels.push_back({v, median, level.total});
            break;
        }
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

}  // namespace

ControlValues pairs_for_fit(const std::vector<LevelValue>& fit) {
    ControlValues pairs = make_empty_pairs();
    if (fit.empty()) return pairs;
    pairs[static_cast<std::size_t>(fit.front().video)] = whole_level(fit.front().value);
    pairs[static_cast<std::size_t>(fit.back().video)] = whole_level(fit.back().value);
    for (int count = fit.size() > 1 ? 2 : 1; count < kMaxMatchedPairs; ++count) {
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

std::optional<ControlValues> fit_curve(const CurveSamples& samples) {
    if (samples.total() < kMinCurveWeight) return std::nullopt;
    const std::vector<LevelValue> fit = monotone_fit(level_medians(samples));
    if (fit.empty()) return std::nullopt;
    return pairs_for_fit(fit);
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

// Per quadrant, curve, video level and target level the summed weights
// toward the quadrant's four corners.
struct MatchStatistics::Cells {
    explicit Cells(int curves)
        : curves(curves),
          weights(static_cast<std::size_t>(kQuadrantCount) * curves * kIntensityCount *
                  kIntensityCount) {}

    // The cells of one quadrant's curve, video-major.
    CornerWeights* curve_cells(int quadrant, int curve) {
        return weights.data() + (static_cast<std::size_t>(quadrant) * curves + curve) *
                                    kIntensityCount * kIntensityCount;
    }
    const CornerWeights* curve_cells(int quadrant, int curve) const {
        return const_cast<Cells*>(this)->curve_cells(quadrant, curve);
    }

    int curves;
    std::vector<CornerWeights> weights;
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
constexpr std::uint32_t kClippedFlag[3] = {2, 4, 8};
constexpr std::uint32_t kAnyClipped = 2 | 4 | 8;

// The channel sums of `count` pixels.
__attribute__((target_clones("avx512f", "avx2", "default"))) void sum_channels(
    const std::uint8_t* __restrict pixels, int count, std::int16_t* __restrict sums) {
    for (int i = 0; i < count; ++i) {
        sums[i] = static_cast<std::int16_t>(pixels[3 * i] + pixels[3 * i + 1] + pixels[3 * i + 2]);
    }
}

// A row's pixels as words B | G << 8 | R << 16 | flags << 24, from the
// pixels and the channel sums of the row and the rows above and below, all
// from one column before the first to one after the last: plain
// arithmetic, so the compiler does it many pixels at a time.
__attribute__((target_clones("avx512f", "avx2", "default"))) void flag_pixels(
    const std::uint8_t* __restrict pixels, const std::int16_t* __restrict above,
    const std::int16_t* __restrict here, const std::int16_t* __restrict below, int count,
    std::uint32_t* __restrict words) {
    for (int i = 1; i <= count; ++i) {
        std::uint32_t word = 0;
        std::uint32_t flag = 0;
        for (int byte = 0; byte < 3; ++byte) {
            const std::uint32_t value = pixels[3 * i + byte];
            word |= value << (8 * byte);
            flag |= static_cast<std::uint32_t>(value == 0 || value >= kClippedFrom) << (byte + 1);
        }
        const int along = here[i + 1] - here[i - 1];
        const int across = below[i] - above[i];
        flag |= static_cast<std::uint32_t>((along > kEdgeLimit) | (along < -kEdgeLimit) |
                                           (across > kEdgeLimit) | (across < -kEdgeLimit));
        words[i - 1] = word | flag << 24;
    }
}

// The words of the pixels first..last - 1 of each row of a picture, read
// row after row; the picture's outer pixels count as edges. The channel
// sums of a row serve it and its two neighbours.
class RowWords {
public:
    explicit RowWords(int count) : sums_(3 * static_cast<std::size_t>(count + 2)), count_(count) {}

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
        // a slot is summed again unless it holds that row already.
        std::int16_t* rows[3];
        for (int i = 0; i < 3; ++i) {
            const int row = y - 1 + i;
            const std::size_t slot = static_cast<std::size_t>(row % 3);
            rows[i] = sums_.data() + slot * (count_ + 2);
            if (summed_[slot] != row || summed_span_[0] != inner_first ||
                summed_span_[1] != inner_last) {
                sum_channels(picture.pixel(row, inner_first - 1), inner + 2, rows[i]);
                summed_[slot] = row;
            }
        }
        summed_span_[0] = inner_first;
        summed_span_[1] = inner_last;
        flag_pixels(picture.pixel(y, inner_first - 1), rows[0], rows[1], rows[2], inner,
                    words + (inner_first - first));
    }

private:
    std::vector<std::int16_t> sums_;
    int count_;
    int summed_[3] = {-1, -1, -1};   // the row each slot holds
    int summed_span_[2] = {-1, -1};  // the columns they were summed over
};

// The part of the background the mesh can reach (the mesh lies within the
// box of its area points), turned as the area points measure it, as words
// with their flags.
struct BackgroundBox {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint32_t> words;  // row-major
};

BackgroundBox background_box(const Frame& loaded, int rotation, const CorrectionGrid& grid) {
    const int wa = loaded.width();
    const int ha = loaded.height();
    const bool quarter = rotation % 2 == 1;
    const int rotated_width = quarter ? ha : wa;
    const int rotated_height = quarter ? wa : ha;
    const auto [low_x, high_x] = std::minmax_element(grid.area_x.begin(), grid.area_x.end());
    const auto [low_y, high_y] = std::minmax_element(grid.area_y.begin(), grid.area_y.end());
    BackgroundBox box;
    box.left = std::clamp(*low_x, 0, rotated_width);
    box.top = std::clamp(*low_y, 0, rotated_height);
    box.width = std::max(std::clamp(*high_x, -1, rotated_width - 1) + 1 - box.left, 0);
    box.height = std::max(std::clamp(*high_y, -1, rotated_height - 1) + 1 - box.top, 0);
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

// Where the frame's columns lie in the mesh: the cell (0 left, 1 right),
// the column's factors of the corner weights (1 - u, u, 1 - u, u), and for
// the upper (0) and lower (1) half the blend of the area points along the
// half's top row and its difference to the bottom row, as map_to_background
// blends them.
struct ColumnPlaces {
    std::vector<int> cell;
    std::vector<CornerWeights> across;
    std::vector<double> top_x[2], top_y[2], down_x[2], down_y[2];
};

ColumnPlaces column_places(int width, const CorrectionGrid& grid) {
    ColumnPlaces places;
    const std::size_t n = static_cast<std::size_t>(width);
    places.cell.resize(n);
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
        places.cell[x] = cell;
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
            places.top_x[half][x] = mx[half];
            places.top_y[half][x] = my[half];
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
// time; the program never looks at floating-point exception flags, so
// comparisons may be made on all lanes at once (no-trapping-math).
__attribute__((target_clones("avx512f", "avx2", "default"), optimize("no-trapping-math"))) void
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
    for (int i = 0; i < count; ++i) {
        const double x = top_x[i] + w * down_x[i];
        const double y = top_y[i] + w * down_y[i];
        const bool inside = x >= left && x < right && y >= top && y < bottom;
        const int ix = static_cast<int>(inside ? x : left) - box_left;
        const int iy = static_cast<int>(inside ? y : top) - box_top;
        index[i] = inside ? iy * box_width + ix : -1;
    }
}

}  // namespace

void MatchStatistics::add_frame(const Frame& frame, const CorrectionGrid& grid,
                                const MatchBackground& background) {
    const Frame* loaded = background.loaded;
    const int width = frame.width();
    const int height = frame.height();
    const int rotation = background.rotation_index;
    if (width < 2 || height < 2 || loaded == nullptr || loaded->empty() || rotation < 0 ||
        rotation > 3) {
        return;
    }
    const ColumnPlaces places = column_places(width, grid);
    const BackgroundBox box = background_box(*loaded, rotation, grid);
    Cells& cells = *cells_;
    const int curves = curve_count();
    const std::size_t n = static_cast<std::size_t>(width);
    std::vector<std::int32_t> index(n);
    std::vector<std::uint32_t> video_words(n);
    RowWords reader(width);
    std::int64_t landed = 0;
    std::int64_t paired = 0;

    for (int y = 0; y < height; ++y) {
        const double row_position = y / (height - 1.0);
        const bool upper = row_position <= 0.5;
        const double w = 2.0 * (upper ? row_position : row_position - 0.5);
        const int half = upper ? 0 : 1;
        land_row({places.top_x[half].data(), places.top_y[half].data(), places.down_x[half].data(),
                  places.down_y[half].data(), w, &box},
                 width, index.data());
        for (const std::int32_t i : index) landed += i >= 0;
        reader.read(frame, y, 0, width, video_words.data());
        const auto wf = static_cast<float>(w);
        const CornerWeights down{1.0f - wf, 1.0f - wf, wf, wf};
        // Each curve's cells for the row's two quadrants.
        CornerWeights* curve_cells[2][kChannelCount];
        for (int cell = 0; cell < 2; ++cell) {
            for (int curve = 0; curve < curves; ++curve) {
                curve_cells[cell][curve] = cells.curve_cells(2 * half + cell, curve);
            }
        }
        const std::uint8_t* frame_row = frame.row(y);
        for (std::size_t x = 0; x < n; ++x) {
            if (index[x] < 0) continue;
            const std::uint32_t target = box.words[static_cast<std::size_t>(index[x])];
            const std::uint32_t video = video_words[x];
            const std::uint32_t flags = (target | video) >> 24;
            if (flags & kEdgeFlag) continue;
            const CornerWeights corner = places.across[x] * down;
            CornerWeights* const* quadrant = curve_cells[places.cell[x]];
            if (curves == kChannelCount) {
                // Curves red, green, blue; the frame and the words hold B, G, R.
                const std::uint8_t* v = frame_row + 3 * x;
                for (int curve = 0; curve < kChannelCount; ++curve) {
                    const int byte = 2 - curve;
                    if (flags & kClippedFlag[byte]) continue;
                    const std::uint32_t t = target >> (8 * byte) & 0xFF;
                    quadrant[curve][std::uint32_t{v[byte]} << 8 | t] += corner;
                }
                paired += 3 - (flags >> 1 & 1) - (flags >> 2 & 1) - (flags >> 3 & 1);
            } else if (!(flags & kAnyClipped)) {
                const auto intensity = [](std::uint32_t word) {
                    return ((word & 0xFF) + (word >> 8 & 0xFF) + (word >> 16 & 0xFF)) / 3;
                };
                quadrant[0][intensity(video) * kIntensityCount + intensity(target)] += corner;
                ++paired;
            }
        }
    }
    landed_ += landed;
    paired_ += paired;
}

std::vector<CurveSamples> MatchStatistics::samples(int curve) const {
    std::vector<CurveSamples> points(kGridPointCount);
    const Cells& cells = *cells_;
    for (int quadrant = 0; quadrant < kQuadrantCount; ++quadrant) {
        const int e = kQuadrantTopLeft[quadrant];
        const int corners[4] = {e, e + 1, e + 3, e + 4};
        const CornerWeights* level = cells.curve_cells(quadrant, curve);
        for (int v = 0; v < kIntensityCount; ++v, level += kIntensityCount) {
            for (int t = 0; t < kIntensityCount; t += 4) {
                // Most cells are empty: four at a time are passed over.
                const CornerWeights any = level[t] + level[t + 1] + level[t + 2] + level[t + 3];
                if (any[0] + any[1] + any[2] + any[3] == 0.0f) continue;
                for (int i = t; i < t + 4; ++i) {
                    for (int corner = 0; corner < 4; ++corner) {
                        points[static_cast<std::size_t>(corners[corner])].add(v, i,
                                                                              level[i][corner]);
                    }
                }
            }
        }
    }
    return points;
}

MatchResult fit_matched_curves(const CorrectionGrid& grid, const MatchStatistics& statistics) {
    MatchResult result{grid, 0};
    CorrectionGrid& matched = result.grid;
    const bool colour = statistics.mode() == CorrectionMode::Colour;
    for (int curve = 0; curve < statistics.curve_count(); ++curve) {
        const std::vector<CurveSamples> samples = statistics.samples(curve);
        for (int point = 0; point < kGridPointCount; ++point) {
            const std::optional<ControlValues> pairs =
                fit_curve(samples[static_cast<std::size_t>(point)]);
            if (!pairs) continue;
            (colour ? matched.channel_control_values[curve][point]
                    : matched.control_values[point]) = *pairs;
            ++result.fitted;
        }
    }
    matched.correction_mode = statistics.mode();
    recalculate_color_tables(matched);
    return result;
}

MatchOutcome match_colours(const CorrectionGrid& grid, CorrectionMode mode,
                           std::span<const Frame> frames, const MatchBackground& background) {
    MatchOutcome outcome;
    if (background.loaded == nullptr || background.loaded->empty()) {
        outcome.problem = MatchProblem::NoBackground;
        return outcome;
    }
    const auto usable = [](const Frame& frame) {
        return frame.width() >= 2 && frame.height() >= 2;
    };
    if (frames.empty() || !std::any_of(frames.begin(), frames.end(), usable)) {
        outcome.problem = MatchProblem::NoClip;
        return outcome;
    }
    MatchStatistics statistics(mode);
    for (const Frame& frame : frames) statistics.add_frame(frame, grid, background);
    if (statistics.landed() == 0) {
        outcome.problem = MatchProblem::FrameOffBackground;
        return outcome;
    }
    outcome.result = fit_matched_curves(grid, statistics);
    if (outcome.result.fitted == 0) outcome.problem = MatchProblem::TooFewPixels;
    return outcome;
}

}  // namespace tintora
