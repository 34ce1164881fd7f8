#include "core/composition/composition.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <vector>

#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"

namespace tintora {
namespace {

// Truncates toward zero into an int; false for NaN and values no int holds.
bool truncate_to_int(double value, int& out) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return false;
    out = static_cast<int>(value);
    return true;
}

void put_pixel_bytes(std::uint8_t* to, const std::uint8_t* from) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// Nearest-neighbour source index as resample_frame has it: position i of n
// over a source of m takes (i (m - 1)) div (n - 1); a single position takes 0.
int nearest_source_index(int i, int n, int m) {
    if (n <= 1 || m <= 0) return 0;
    return static_cast<int>(static_cast<std::int64_t>(i) * (m - 1) / (n - 1));
}

void put_pixel(Frame& picture, int x, int y, const std::uint8_t* bgr) {
    std::uint8_t* to = picture.pixel(y, x);
    to[0] = bgr[0];
    to[1] = bgr[1];
    to[2] = bgr[2];
}

// One sampled column (or row) of the overlay: which frame pixel it reads and
// its unrounded relative position.
struct SamplePosition {
    int pixel;
    double position;
};

// 0, step, 2 step, ... while below size - 1, added up the way a running loop
// variable is, so the positions match a loop that adds the step each time.
std::vector<SamplePosition> sample_positions(int size, double step) {
    std::vector<SamplePosition> samples;
    const double last = size - 1.0;
    for (double t = 0.0; t < last; t += step) {
        samples.push_back({std::min(static_cast<int>(t), size - 1), t / last});
    }
    return samples;
}

// Where one sampled column lies in the mesh: the horizontal blends of the
// area points along each of the three rows of grid points, so that a sample
// only has the vertical blend left to do. Exactly the first half of
// map_to_background, which blends horizontally first.
struct ColumnMesh {
    double x[3];
    double y[3];
};

ColumnMesh column_mesh(const CorrectionGrid& grid, double position) {
    const bool left = position <= 0.5;
    const double u = 2.0 * (left ? position : position - 0.5);
    const int column = left ? 0 : 1;
    ColumnMesh mesh{};
    for (int row = 0; row < 3; ++row) {
        const int p = 3 * row + column;
        mesh.x[row] =
            grid.area_x[p] + u * (static_cast<double>(grid.area_x[p + 1]) - grid.area_x[p]);
        mesh.y[row] =
            grid.area_y[p] + u * (static_cast<double>(grid.area_y[p + 1]) - grid.area_y[p]);
    }
    return mesh;
}

}  // namespace

// Everything the overlay's drawing needs that does not change while only the
// view moves: the sampled columns and rows, the columns' horizontal blends
// of the mesh, and the frame (corrected once when every sample is a whole
// pixel, as correct_frame does it for the whole frame).
class OverlayPlan {
public:
    OverlayPlan(const Frame& overlay, const CorrectionGrid& grid, double step);

    bool usable() const { return usable_; }
    // Whether a plan for this frame, these curves and this step can keep its
    // corrected frame: only the mesh changed.
    bool same_colours(const Frame& overlay, const CorrectionGrid& grid, double step) const {
        return step == step_ && same_correction(grid, colours_) && overlay == source_;
    }
    // New area points: the columns' blends again.
    void place(const CorrectionGrid& grid);

    // Draws the frame corrected, or as it came (for sampling pairs).
    void draw(Frame& region, RegionOrigin origin, const CorrectionGrid& grid, double display_scale,
              bool corrected = true) const;

private:
    void draw_band(Frame& region, int first_row, int rows, RegionOrigin origin,
                   const CorrectionGrid& grid, double display_scale, bool corrected) const;

    bool usable_ = false;
    double step_ = 0.0;
    Frame source_;            // the frame as handed in
    Frame corrected_;         // with whole-pixel steps, the frame corrected
    CorrectionGrid colours_;  // the mode and tables the frame was corrected with
    bool whole_pixels_ = false;
    std::vector<SamplePosition> columns_;
    std::vector<std::ptrdiff_t> column_offset_;  // of each column's pixel in a frame row
    std::vector<SamplePosition> rows_;
    // Per column, for the upper (index 0) and lower (1) half of the mesh: the
    // blend along the half's top row and its difference to the bottom row.
    std::array<std::vector<double>, 2> top_x_, top_y_, down_x_, down_y_;
};

OverlayPlan::OverlayPlan(const Frame& overlay, const CorrectionGrid& grid, double step)
    : step_(step), source_(overlay), colours_(grid) {
    if (overlay.width() < 2 || overlay.height() < 2 || !(step > 0.0)) return;
    usable_ = true;
    columns_ = sample_positions(overlay.width(), step);
    rows_ = sample_positions(overlay.height(), step);
    for (const SamplePosition& column : columns_) {
        column_offset_.push_back(3 * static_cast<std::ptrdiff_t>(column.pixel));
    }
    whole_pixels_ = step == 1.0;
    // With a whole-pixel step every sample is one frame pixel at its own
    // position, which is what correct_frame computes for the whole frame.
    if (whole_pixels_) {
        corrected_ = overlay;
        correct_frame(corrected_, grid);
    }
    place(grid);
}

void OverlayPlan::place(const CorrectionGrid& grid) {
    for (int half = 0; half < 2; ++half) {
        for (auto* values : {&top_x_[half], &top_y_[half], &down_x_[half], &down_y_[half]}) {
            values->resize(columns_.size());
        }
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const ColumnMesh mesh = column_mesh(grid, columns_[i].position);
        for (int half = 0; half < 2; ++half) {
            // The same operations as blending each sample on its own.
            top_x_[half][i] = mesh.x[half];
            top_y_[half][i] = mesh.y[half];
            down_x_[half][i] = mesh.x[half + 1] - mesh.x[half];
            down_y_[half][i] = mesh.y[half + 1] - mesh.y[half];
        }
    }
}

namespace {

// Where one row of samples lands in the region: the vertical blend of the
// columns' mesh and the scale, truncated, as a byte offset into the region,
// or -1 where the sample falls outside it (or no int holds its place, as
// truncate_to_int has it). A plain loop over arrays, so the compiler can do
// it several samples at a time.
struct RowLanding {
    const double* top_x;
    const double* down_x;
    const double* top_y;
    const double* down_y;
    double w;
    double display_scale;
    std::int32_t left, top, width, height, stride;
};

// Offsets fit 32 bits here: the caller keeps regions below 2 GiB. A place no
// int holds is moved to INT32_MIN, which lies left of every region. The
// program never looks at floating-point exception flags, so comparisons may
// be made on all lanes at once (no-trapping-math); the values are the same.
__attribute__((target_clones("avx512f", "avx2", "default"), optimize("no-trapping-math"))) void
land_row(const RowLanding& row, std::size_t count, std::int32_t* __restrict offsets) {
    // Locals the compiler can keep in registers and knows do not alias.
    const double* __restrict top_x = row.top_x;
    const double* __restrict down_x = row.down_x;
    const double* __restrict top_y = row.top_y;
    const double* __restrict down_y = row.down_y;
    const double w = row.w;
    const double scale = row.display_scale;
    const std::uint32_t left = static_cast<std::uint32_t>(row.left);
    const std::uint32_t top = static_cast<std::uint32_t>(row.top);
    const std::uint32_t width = static_cast<std::uint32_t>(row.width);
    const std::uint32_t height = static_cast<std::uint32_t>(row.height);
    const std::int32_t stride = row.stride;
    for (std::size_t i = 0; i < count; ++i) {
        const double px = (top_x[i] + w * down_x[i]) * scale;
        const double py = (top_y[i] + w * down_y[i]) * scale;
        const bool holds =
            px > -2147483648.0 && px < 2147483648.0 && py > -2147483648.0 && py < 2147483648.0;
        const std::int32_t x = static_cast<std::int32_t>(holds ? px : -2147483648.0);
        const std::int32_t y = static_cast<std::int32_t>(holds ? py : 0.0);
        // Unsigned: a place left of or above the region wraps to a large value.
        const std::uint32_t rx = static_cast<std::uint32_t>(x) - left;
        const std::uint32_t ry = static_cast<std::uint32_t>(y) - top;
        const bool inside = (rx < width) & (ry < height);
        offsets[i] =
            inside ? static_cast<std::int32_t>(ry) * stride + 3 * static_cast<std::int32_t>(rx)
                   : -1;
    }
}

}  // namespace

void OverlayPlan::draw(Frame& region, RegionOrigin origin, const CorrectionGrid& grid,
                       double display_scale, bool corrected) const {
    if (!usable_ || region.empty()) return;
    // Regions of 2 GiB and more (a whole picture at a large scale) go in
    // bands, so offsets fit 32 bits.
    constexpr std::int64_t kBandBytes = std::int64_t{1} << 30;
    const std::int64_t band_rows = std::max<std::int64_t>(1, kBandBytes / region.stride());
    if (region.height() > band_rows) {
        for (std::int64_t first = 0; first < region.height(); first += band_rows) {
            const int rows =
                static_cast<int>(std::min<std::int64_t>(band_rows, region.height() - first));
            draw_band(region, static_cast<int>(first), rows, origin, grid, display_scale,
                      corrected);
        }
        return;
    }
    draw_band(region, 0, region.height(), origin, grid, display_scale, corrected);
}

void OverlayPlan::draw_band(Frame& region, int first_row, int rows, RegionOrigin origin,
                            const CorrectionGrid& grid, double display_scale,
                            bool corrected) const {
    const std::size_t count = columns_.size();
    std::vector<std::int32_t> offsets(count);
    std::uint8_t* pixels = region.row(first_row);
    for (const SamplePosition& row : rows_) {
        const bool upper = row.position <= 0.5;
        const int half = upper ? 0 : 1;
        const RowLanding landing{top_x_[half].data(),
                                 down_x_[half].data(),
                                 top_y_[half].data(),
                                 down_y_[half].data(),
                                 2.0 * (upper ? row.position : row.position - 0.5),
                                 display_scale,
                                 origin.left,
                                 origin.top + first_row,
                                 region.width(),
                                 rows,
                                 static_cast<std::int32_t>(region.stride())};
        land_row(landing, count, offsets.data());
        if (whole_pixels_ || !corrected) {
            const std::uint8_t* frame_row =
                (whole_pixels_ && corrected ? corrected_ : source_).row(row.pixel);
            for (std::size_t i = 0; i < count; ++i) {
                if (offsets[i] >= 0) {
                    put_pixel_bytes(pixels + offsets[i], frame_row + column_offset_[i]);
                }
            }
            continue;
        }
        const std::uint8_t* frame_row = source_.row(row.pixel);
        for (std::size_t i = 0; i < count; ++i) {
            if (offsets[i] < 0) continue;
            const std::uint8_t* in = frame_row + column_offset_[i];
            std::uint8_t bgr[3] = {in[0], in[1], in[2]};
            grid.correct_pixel(columns_[i].position, row.position, bgr[2], bgr[1], bgr[0]);
            put_pixel_bytes(pixels + offsets[i], bgr);
        }
    }
}

void draw_overlay(Frame& region, const Frame& overlay, const CorrectionGrid& grid,
                  double display_scale, double step, RegionOrigin origin) {
    OverlayPlan(overlay, grid, step).draw(region, origin, grid, display_scale);
}

void draw_markers(Frame& region, const CorrectionGrid& grid, double display_scale,
                  RegionOrigin origin) {
    static constexpr std::uint8_t kRed[3] = {0, 0, 255};
    static constexpr std::uint8_t kGreen[3] = {0, 255, 0};
    for (int p = 0; p < kGridPointCount; ++p) {
        const BackgroundPoint at =
            grid.map_to_background((p % 3) / 2.0, (p / 3) / 2.0, display_scale);
        int cx = 0;
        int cy = 0;
        if (!truncate_to_int(at.x, cx) || !truncate_to_int(at.y, cy)) continue;
        const std::uint8_t* colour = p == grid.cur_point ? kRed : kGreen;
        for (int dy = -2; dy <= 2; ++dy) {
            for (int dx = -2; dx <= 2; ++dx) {
                const std::int64_t x = std::int64_t{cx} + dx - origin.left;
                const std::int64_t y = std::int64_t{cy} + dy - origin.top;
                if (x >= 0 && y >= 0 && x < region.width() && y < region.height()) {
                    put_pixel(region, static_cast<int>(x), static_cast<int>(y), colour);
                }
            }
        }
    }
}

namespace {

// The size of the picture for a background turned by the rotation index, or
// nothing for an index outside the list (which turns nothing).
bool rotated_size(const Frame& background, int rotation, int& width, int& height) {
    if (rotation < 0 || rotation > 3) return false;
    const bool quarter = rotation % 2 == 1;
    width = quarter ? background.height() : background.width();
    height = quarter ? background.width() : background.height();
    return true;
}

}  // namespace

Composition::Composition() = default;
Composition::~Composition() = default;
Composition::Composition(Composition&&) noexcept = default;
Composition& Composition::operator=(Composition&&) noexcept = default;

Status Composition::open_background(const std::filesystem::path& path) {
    background_file_name_ = path;
    Result<Frame> loaded = load_jpeg(path);
    if (!loaded) return Error{loaded.error()};
    set_background(std::move(loaded).value());
    background_path_ = path;
    return {};
}

void Composition::set_background(Frame background) {
    background_ = std::move(background);
    background_path_.clear();
    background_loaded_ = true;
    forget_picture();
    choices.rotation_index = kDefaultRotationIndex;
    choices.scale_index = kDefaultScaleIndex;
    choices.density_index = kDefaultDensityIndex;
    display_scale_ = 1.0;
}

void Composition::release_background() {
    background_ = Frame{};
    background_path_.clear();
    background_loaded_ = false;
    forget_picture();
}

void Composition::forget_picture() {
    // Nothing composed from the old background may be shown over the new one.
    picture_width_ = 0;
    picture_height_ = 0;
    shown_valid_ = false;
    shown_uncorrected_valid_ = false;
    whole_valid_ = false;
}

double Composition::density_step() const {
    const int index = choices.density_index;
    return index >= 0 && index < static_cast<int>(kDensitySteps.size()) ? kDensitySteps[index]
                                                                        : last_density_step_;
}

void Composition::compose(const CorrectionGrid& grid, const Frame* overlay) {
    // Everything is worked out into locals first, so a failure (out of
    // memory) leaves the composition as it was.
    double scale = display_scale_;
    if (choices.scale_index >= 0 && choices.scale_index < static_cast<int>(kDisplayScales.size())) {
        scale = kDisplayScales[static_cast<std::size_t>(choices.scale_index)];
    }
    const double step = density_step();
    int rotated_width = 0;
    int rotated_height = 0;
    int width = 0;
    int height = 0;
    if (rotated_size(background_, choices.rotation_index, rotated_width, rotated_height)) {
        truncate_to_int(rotated_width * scale, width);
        truncate_to_int(rotated_height * scale, height);
    }
    std::unique_ptr<OverlayPlan> plan;
    if (overlay != nullptr && !choices.hide_frame) {
        if (overlay_ && overlay_->same_colours(*overlay, grid, step)) {
            plan = std::move(overlay_);
            plan->place(grid);
        } else {
            plan = std::make_unique<OverlayPlan>(*overlay, grid, step);
        }
    }

    display_scale_ = scale;
    last_density_step_ = step;
    rotation_ = choices.rotation_index;
    picture_width_ = std::max(width, 0);
    picture_height_ = std::max(height, 0);
    grid_ = grid;
    has_overlay_ = overlay != nullptr;
    overlay_ = std::move(plan);
    shown_valid_ = false;
    shown_uncorrected_valid_ = false;
    whole_valid_ = false;
}

void Composition::render_background(Frame& region, RegionOrigin origin) const {
    int rotated_width = 0;
    int rotated_height = 0;
    if (region.empty() || background_.empty() ||
        !rotated_size(background_, rotation_, rotated_width, rotated_height)) {
        return;
    }
    const int wa = background_.width();
    const int ha = background_.height();
    // The resampled picture's pixel (x, y) is the rotated background's
    // (row_of[y], column_of[x]), nearest neighbour as resample_frame has it.
    std::vector<int> row_of(static_cast<std::size_t>(region.height()));
    std::vector<int> column_of(static_cast<std::size_t>(region.width()));
    for (int y = 0; y < region.height(); ++y) {
        row_of[static_cast<std::size_t>(y)] =
            nearest_source_index(origin.top + y, picture_height_, rotated_height);
    }
    for (int x = 0; x < region.width(); ++x) {
        column_of[static_cast<std::size_t>(x)] =
            nearest_source_index(origin.left + x, picture_width_, rotated_width);
    }
    if (rotation_ % 2 == 0) {
        // Unturned or half-turned: a picture row reads one background row.
        std::vector<std::ptrdiff_t> offset(column_of.size());
        for (std::size_t x = 0; x < offset.size(); ++x) {
            const int column = rotation_ == 0 ? column_of[x] : wa - 1 - column_of[x];
            offset[x] = 3 * static_cast<std::ptrdiff_t>(column);
        }
        const bool contiguous = rotation_ == 0 && region.width() > 0 &&
                                column_of.back() - column_of.front() == region.width() - 1;
        for (int y = 0; y < region.height(); ++y) {
            const int r = row_of[static_cast<std::size_t>(y)];
            const std::uint8_t* in = background_.row(rotation_ == 0 ? r : ha - 1 - r);
            std::uint8_t* out = region.row(y);
            if (contiguous) {
                std::memcpy(out, in + offset.front(), 3 * static_cast<std::size_t>(region.width()));
                continue;
            }
            for (const std::ptrdiff_t o : offset) {
                put_pixel_bytes(out, in + o);
                out += 3;
            }
        }
        return;
    }
    // Quarter turns: a picture column reads one background row. Square
    // tiles keep both the rows read and the rows written in the cache.
    constexpr int kTile = 64;
    for (int y0 = 0; y0 < region.height(); y0 += kTile) {
        const int y1 = std::min(y0 + kTile, region.height());
        for (int x0 = 0; x0 < region.width(); x0 += kTile) {
            const int x1 = std::min(x0 + kTile, region.width());
            for (int x = x0; x < x1; ++x) {
                const int c = column_of[static_cast<std::size_t>(x)];
                // 90: B(r, c) = A(Ha - 1 - c, r); 270: B(r, c) = A(c, Wa - 1 - r).
                const std::uint8_t* in = background_.row(rotation_ == 1 ? ha - 1 - c : c);
                for (int y = y0; y < y1; ++y) {
                    const int r = row_of[static_cast<std::size_t>(y)];
                    const int column = rotation_ == 1 ? r : wa - 1 - r;
                    put_pixel_bytes(region.pixel(y, x),
                                    in + 3 * static_cast<std::ptrdiff_t>(column));
                }
            }
        }
    }
}

RegionOrigin Composition::render_clean(int x, int y, int width, int height, Frame& clean) const {
    const std::int64_t left = std::clamp<std::int64_t>(x, 0, picture_width_);
    const std::int64_t top = std::clamp<std::int64_t>(y, 0, picture_height_);
    const std::int64_t right =
        std::clamp<std::int64_t>(std::int64_t{x} + std::max(width, 0), left, picture_width_);
    const std::int64_t bottom =
        std::clamp<std::int64_t>(std::int64_t{y} + std::max(height, 0), top, picture_height_);
    const RegionOrigin origin{static_cast<int>(left), static_cast<int>(top)};
    clean.resize_for_overwrite(static_cast<int>(right - left), static_cast<int>(bottom - top));
    render_background(clean, origin);
    return origin;
}

RegionOrigin Composition::render_region(int x, int y, int width, int height, Frame& composed,
                                        Frame* clean) const {
    return render_region(x, y, width, height, composed, clean, true);
}

RegionOrigin Composition::render_region(int x, int y, int width, int height, Frame& composed,
                                        Frame* clean, bool corrected) const {
    Frame region;
    const RegionOrigin origin = render_clean(x, y, width, height, region);
    if (clean != nullptr) *clean = region;
    if (has_overlay_) {
        if (overlay_) overlay_->draw(region, origin, grid_, display_scale_, corrected);
        draw_markers(region, grid_, display_scale_, origin);
    }
    composed = std::move(region);
    return origin;
}

RegionOrigin Composition::render_uncorrected(int x, int y, int width, int height,
                                             Frame& picture) const {
    return render_region(x, y, width, height, picture, nullptr, false);
}

const Frame& Composition::shown_uncorrected() const {
    if (!shown_uncorrected_valid_) {
        render_uncorrected(shown_origin_.left, shown_origin_.top, shown_picture_.width(),
                           shown_picture_.height(), shown_uncorrected_);
        shown_uncorrected_valid_ = true;
    }
    return shown_uncorrected_;
}

void Composition::show_region(int x, int y, int width, int height) {
    const bool covered = shown_valid_ && x >= shown_origin_.left && y >= shown_origin_.top &&
                         std::int64_t{x} + width <= shown_origin_.left + shown_picture_.width() &&
                         std::int64_t{y} + height <= shown_origin_.top + shown_picture_.height();
    if (covered) return;
    Frame composed;
    const RegionOrigin origin = render_region(x, y, width, height, composed, nullptr);
    shown_picture_ = std::move(composed);
    shown_origin_ = origin;
    shown_valid_ = true;
    shown_uncorrected_valid_ = false;
}

const Frame& Composition::picture() const {
    if (!whole_valid_) {
        render_region(0, 0, picture_width_, picture_height_, whole_picture_, &whole_clean_);
        whole_valid_ = true;
    }
    return whole_picture_;
}

const Frame& Composition::clean_background() const {
    picture();
    return whole_clean_;
}

bool set_default_layout(CorrectionGrid& grid, const Composition& composition) {
    if (!composition.background_loaded()) return false;
    const int w = composition.background_width();
    const int h = composition.background_height();
    const int columns[3] = {w / 3, w / 2, (2 * w) / 3};
    const int rows[3] = {h / 3, h / 2, (2 * h) / 3};
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.area_x[p] = columns[p % 3];
        grid.area_y[p] = rows[p / 3];
    }
    return true;
}

bool move_current_area_point(CorrectionGrid& grid, double display_scale, int x, int y,
                             bool shift_or_ctrl) {
    if (shift_or_ctrl) return false;
    int area_x = 0;
    int area_y = 0;
    if (!truncate_to_int(x / display_scale, area_x) ||
        !truncate_to_int(y / display_scale, area_y)) {
        return false;
    }
    const int p = grid.current_point();
    grid.area_x[p] = area_x;
    grid.area_y[p] = area_y;
    return true;
}

bool centre_mesh_at(CorrectionGrid& grid, const Composition& composition, int x, int y) {
    if (!composition.background_loaded()) return false;
    const double scale = composition.display_scale();
    int cx = 0;
    int cy = 0;
    if (!truncate_to_int(x / scale, cx) || !truncate_to_int(y / scale, cy)) return false;
    const int w = composition.background_width();
    const int h = composition.background_height();
    // In 64 bits: a caller may pass places near the ends of int's range.
    const std::int64_t dx = w / 3;
    const std::int64_t dy = h / 3;
    const int columns[3] = {static_cast<int>(std::max<std::int64_t>(std::int64_t{cx} - dx, 0)), cx,
                            static_cast<int>(std::min<std::int64_t>(std::int64_t{cx} + dx, w - 1))};
    const int rows[3] = {static_cast<int>(std::max<std::int64_t>(std::int64_t{cy} - dy, 0)), cy,
                         static_cast<int>(std::min<std::int64_t>(std::int64_t{cy} + dy, h - 1))};
    for (int p = 0; p < kGridPointCount; ++p) {
        grid.area_x[p] = columns[p % 3];
        grid.area_y[p] = rows[p / 3];
    }
    return true;
}

int thumbnail_point_at(int x, int y, int width, int height) {
    if (width <= 0 || height <= 0) return 0;
    x = std::clamp(x, 0, width - 1);
    y = std::clamp(y, 0, height - 1);
    return ((3 * y) / height) * 3 + (3 * x) / width;
}

}  // namespace tintora
