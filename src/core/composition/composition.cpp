#include "core/composition/composition.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "core/composition/overlay_landing.hpp"
#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"

namespace tintora {

using composition_detail::HalfMesh;
using composition_detail::land_row_kernel;
using composition_detail::LandRow;
using composition_detail::RowLanding;

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

// The same in two moves, for the overlay's hot loop.
inline void copy_pixel(std::uint8_t* __restrict to, const std::uint8_t* __restrict from) {
    std::uint16_t first_two;
    std::memcpy(&first_two, from, 2);
    const std::uint8_t third = from[2];
    std::memcpy(to, &first_two, 2);
    to[2] = third;
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
    // keep_frame: the plan keeps the frame as it came, to tell it from the
    // next one (a composition's plan); a plan drawn once needs only the
    // frame corrected, in place.
    // With a warp, samples land where its lattice puts them (it must outlive
    // the plan, or its next place()).
    OverlayPlan(Frame overlay, const CorrectionGrid& grid, double step, bool keep_frame,
                const WarpLattice* warp = nullptr);
    // The geometry alone, for a frame of this size: for laying out, not drawing.
    OverlayPlan(int width, int height, const CorrectionGrid& grid, double step,
                const WarpLattice* warp = nullptr);

    bool usable() const { return usable_; }
    // Whether a plan for this frame, these curves and this step can keep its
    // corrected frame: only the mesh changed. No frame: the caller knows it
    // is the plan's own.
    bool same_colours(const Frame* overlay, const CorrectionGrid& grid, double step) const {
        return step == step_ && same_correction(grid, colours_) &&
               (overlay == nullptr || *overlay == source_);
    }
    // New area points: the columns' blends (or places in the warp) again.
    void place(const CorrectionGrid& grid, const WarpLattice* warp);

    // Draws the frame corrected, or as it came (for sampling pairs; only a
    // plan that kept its frame can).
    void draw(Frame& region, RegionOrigin origin, const CorrectionGrid& grid, double display_scale,
              bool corrected = true) const;

    // Where each sample lands in a band of rows of the region, row by row:
    // visit(r, offsets, kept) gets sample row r's byte offsets into the band
    // (-1: not drawn, outside or covered by a later sample) and how many
    // are drawn, skipping rows with none.
    template <class Visit>
    void land_band(const Frame& region, int first_row, int rows, RegionOrigin origin,
                   double display_scale, Visit&& visit) const;

    bool whole_pixels() const { return whole_pixels_; }
    const std::vector<SamplePosition>& columns() const { return columns_; }
    const std::vector<SamplePosition>& rows() const { return rows_; }

private:
    void set_geometry(int width, int height, const CorrectionGrid& grid, double step,
                      const WarpLattice* warp);
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
    // The upper (index 0) and lower (1) half of the mesh as the columns see it.
    std::array<HalfMesh, 2> mesh_;
    // With a warp instead: each column's place across its lattice.
    const WarpLattice* warp_ = nullptr;
    std::vector<LatticeSpan> warp_columns_;
};

OverlayPlan::OverlayPlan(Frame overlay, const CorrectionGrid& grid, double step, bool keep_frame,
                         const WarpLattice* warp)
    : step_(step), source_(std::move(overlay)), colours_(grid) {
    set_geometry(source_.width(), source_.height(), grid, step, warp);
    // With a whole-pixel step every sample is one frame pixel at its own
    // position, which is what correct_frame computes for the whole frame.
    if (usable_ && whole_pixels_) {
        if (keep_frame) {
            corrected_ = source_;
        } else {
            corrected_ = std::move(source_);
        }
        correct_frame(corrected_, grid);
    }
}

OverlayPlan::OverlayPlan(int width, int height, const CorrectionGrid& grid, double step,
                         const WarpLattice* warp)
    : step_(step), colours_(grid) {
    set_geometry(width, height, grid, step, warp);
}

void OverlayPlan::set_geometry(int width, int height, const CorrectionGrid& grid, double step,
                               const WarpLattice* warp) {
    if (width < 2 || height < 2 || !(step > 0.0)) return;
    usable_ = true;
    columns_ = sample_positions(width, step);
    rows_ = sample_positions(height, step);
    for (const SamplePosition& column : columns_) {
        column_offset_.push_back(3 * static_cast<std::ptrdiff_t>(column.pixel));
    }
    whole_pixels_ = step == 1.0;
    place(grid, warp);
}

void OverlayPlan::place(const CorrectionGrid& grid, const WarpLattice* warp) {
    warp_ = warp;
    warp_columns_.clear();
    if (warp != nullptr) {
        for (const SamplePosition& column : columns_) {
            warp_columns_.push_back(warp->across(column.position));
        }
        return;
    }
    for (HalfMesh& half : mesh_) half.resize(columns_.size());
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        const ColumnMesh mesh = column_mesh(grid, columns_[i].position);
        for (int half = 0; half < 2; ++half) {
            // The same operations as blending each sample on its own.
            HalfMesh& m = mesh_[half];
            m.top_x[i] = mesh.x[half];
            m.top_y[i] = mesh.y[half];
            m.down_x[i] = mesh.x[half + 1] - mesh.x[half];
            m.down_y[i] = mesh.y[half + 1] - mesh.y[half];
        }
    }
}

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

template <class Visit>
void OverlayPlan::land_band(const Frame& region, int first_row, int rows, RegionOrigin origin,
                            double display_scale, Visit&& visit) const {
    const std::size_t count = columns_.size();
    const LandRow land_row = land_row_kernel();
    // Two rows of landing places: the row being drawn and the next one,
    // which culls it. Each has one more entry, -1, past its last sample.
    std::vector<std::int32_t> drawn(count + 1, -1);
    std::vector<std::int32_t> next(count + 1, -1);
    // A warp's rows go band by band through its lattice, in order.
    std::optional<WarpRows> warp_rows;
    if (warp_ != nullptr) warp_rows.emplace(*warp_, warp_columns_);
    const auto landing = [&](const SamplePosition& row) {
        const bool upper = row.position <= 0.5;
        const HalfMesh* mesh = &mesh_[upper ? 0 : 1];
        double w = 2.0 * (upper ? row.position : row.position - 0.5);
        if (warp_rows) {
            w = warp_rows->select(row.position);
            mesh = &warp_rows->mesh();
        }
        return RowLanding{mesh,
                          w,
                          display_scale,
                          origin.left,
                          origin.top + first_row,
                          region.width(),
                          rows,
                          static_cast<std::int32_t>(region.stride())};
    };
    if (!rows_.empty()) land_row(landing(rows_.front()), count, drawn.data(), nullptr);
    for (std::size_t r = 0; r < rows_.size(); ++r) {
        std::size_t kept = 0;
        if (r + 1 < rows_.size()) {
            kept = land_row(landing(rows_[r + 1]), count, next.data(), drawn.data());
        } else {
            // The last row: only its own samples overwrite one another.
            for (std::size_t i = 0; i < count; ++i) {
                if (drawn[i] == drawn[i + 1]) drawn[i] = -1;
                kept += drawn[i] >= 0 ? 1 : 0;
            }
        }
        // A row with none is drawn over by the next one, or lies outside.
        if (kept > 0) visit(r, static_cast<const std::int32_t*>(drawn.data()), kept);
        drawn.swap(next);
    }
}

void OverlayPlan::draw_band(Frame& region, int first_row, int rows, RegionOrigin origin,
                            const CorrectionGrid& grid, double display_scale,
                            bool corrected) const {
    const std::size_t count = columns_.size();
    std::uint8_t* pixels = region.row(first_row);
    land_band(region, first_row, rows, origin, display_scale,
              [&](std::size_t r, const std::int32_t* __restrict offsets, std::size_t) {
                  const SamplePosition& row = rows_[r];
                  if (!corrected) {
                      const std::uint8_t* frame_row = source_.row(row.pixel);
                      for (std::size_t i = 0; i < count; ++i) {
                          if (offsets[i] >= 0) {
                              copy_pixel(pixels + offsets[i], frame_row + column_offset_[i]);
                          }
                      }
                      return;
                  }
                  if (whole_pixels_) {
                      // Column i reads pixel i of the frame's row.
                      const std::uint8_t* __restrict frame_row = corrected_.row(row.pixel);
                      for (std::size_t i = 0; i < count; ++i) {
                          if (offsets[i] >= 0) copy_pixel(pixels + offsets[i], frame_row + 3 * i);
                      }
                      return;
                  }
                  const std::uint8_t* frame_row = source_.row(row.pixel);
                  for (std::size_t i = 0; i < count; ++i) {
                      if (offsets[i] < 0) continue;
                      const std::uint8_t* in = frame_row + column_offset_[i];
                      std::uint8_t bgr[3] = {in[0], in[1], in[2]};
                      grid.correct_pixel(columns_[i].position, row.position, bgr[2], bgr[1],
                                         bgr[0]);
                      put_pixel_bytes(pixels + offsets[i], bgr);
                  }
              });
}

OverlayLayout::OverlayLayout(int frame_width, int frame_height, const CorrectionGrid& grid,
                             double display_scale, double step, const Frame& region,
                             RegionOrigin origin, const WarpLattice* warp)
    : frame_width_(frame_width),
      frame_height_(frame_height),
      region_width_(region.width()),
      region_height_(region.height()),
      region_stride_(region.stride()) {
    const OverlayPlan plan(frame_width, frame_height, grid, step, warp);
    // Offsets of one band only: a region of 2 GiB or more is not laid out;
    // nor are more columns than 16 bits count.
    if (!plan.usable() || region.empty() ||
        region.stride() * static_cast<std::int64_t>(region.height()) >= (std::int64_t{1} << 31) ||
        plan.columns().size() > 65536) {
        return;
    }
    usable_ = true;
    whole_pixels_ = plan.whole_pixels();
    columns_ = plan.columns();
    frame_rows_.assign(static_cast<std::size_t>(frame_height), 0);
    plan.land_band(
        region, 0, region.height(), origin, display_scale,
        [&](std::size_t r, const std::int32_t* offsets, std::size_t kept) {
            const SamplePosition& row = plan.rows()[r];
            rows_.push_back({row.pixel, row.position, targets_.size(), targets_.size() + kept});
            frame_rows_[static_cast<std::size_t>(row.pixel)] = 1;
            for (std::size_t i = 0; i < columns_.size(); ++i) {
                if (offsets[i] < 0) continue;
                targets_.push_back(offsets[i]);
                sample_columns_.push_back(static_cast<std::uint16_t>(i));
            }
        });
}

bool OverlayLayout::fits(const Frame& overlay, const Frame& region) const {
    return usable_ && overlay.width() == frame_width_ && overlay.height() == frame_height_ &&
           region.width() == region_width_ && region.height() == region_height_ &&
           region.stride() == region_stride_;
}

void OverlayLayout::draw(Frame& region, Frame&& overlay, const CorrectionGrid& grid) const {
    if (!fits(overlay, region)) return;
    std::uint8_t* __restrict pixels = region.data();
    const std::int32_t* __restrict targets = targets_.data();
    const std::uint16_t* __restrict columns = sample_columns_.data();
    if (whole_pixels_) {
        // Rows no sample of which is seen need no correction.
        correct_frame_rows(overlay, grid, frame_rows_);
        for (const Row& row : rows_) {
            // Column i reads pixel i of the frame's row.
            const std::uint8_t* __restrict frame_row = overlay.row(row.frame_row);
            const std::size_t end = row.end;
            for (std::size_t k = row.first; k < end; ++k) {
                copy_pixel(pixels + targets[k], frame_row + 3 * std::size_t{columns[k]});
            }
        }
        return;
    }
    for (const Row& row : rows_) {
        const std::uint8_t* frame_row = overlay.row(row.frame_row);
        for (std::size_t k = row.first; k < row.end; ++k) {
            const SamplePosition& column = columns_[columns[k]];
            const std::uint8_t* in = frame_row + 3 * static_cast<std::ptrdiff_t>(column.pixel);
            std::uint8_t bgr[3] = {in[0], in[1], in[2]};
            grid.correct_pixel(column.position, row.position, bgr[2], bgr[1], bgr[0]);
            put_pixel_bytes(pixels + targets[k], bgr);
        }
    }
}

void draw_overlay(Frame& region, const Frame& overlay, const CorrectionGrid& grid,
                  double display_scale, double step, RegionOrigin origin,
                  const WarpLattice* warp) {
    OverlayPlan(overlay, grid, step, false, warp).draw(region, origin, grid, display_scale);
}

void draw_overlay(Frame& region, Frame&& overlay, const CorrectionGrid& grid, double display_scale,
                  double step, RegionOrigin origin, const WarpLattice* warp) {
    OverlayPlan(std::move(overlay), grid, step, false, warp)
        .draw(region, origin, grid, display_scale);
}

std::optional<RegionBox> marker_box(const CorrectionGrid& grid, double display_scale, int p) {
    const BackgroundPoint at =
        grid.map_to_background((p % 3) / 2.0, (p / 3) / 2.0, display_scale);
    int cx = 0;
    int cy = 0;
    // Two pixels either side must stay within the numbers too.
    if (!truncate_to_int(at.x, cx) || !truncate_to_int(at.y, cy) || cx < INT32_MIN + 2 ||
        cx > INT32_MAX - 3 || cy < INT32_MIN + 2 || cy > INT32_MAX - 3) {
        return std::nullopt;
    }
    return RegionBox{cx - 2, cy - 2, cx + 3, cy + 3};
}

void draw_markers(Frame& region, const CorrectionGrid& grid, double display_scale,
                  RegionOrigin origin) {
    static constexpr std::uint8_t kRed[3] = {0, 0, 255};
    static constexpr std::uint8_t kGreen[3] = {0, 255, 0};
    for (int p = 0; p < kGridPointCount; ++p) {
        const std::optional<RegionBox> box = marker_box(grid, display_scale, p);
        if (!box) continue;
        const std::uint8_t* colour = p == grid.cur_point ? kRed : kGreen;
        for (std::int64_t y = std::int64_t{box->top} - origin.top;
             y < std::int64_t{box->bottom} - origin.top; ++y) {
            for (std::int64_t x = std::int64_t{box->left} - origin.left;
                 x < std::int64_t{box->right} - origin.left; ++x) {
                if (x >= 0 && y >= 0 && x < region.width() && y < region.height()) {
                    put_pixel(region, static_cast<int>(x), static_cast<int>(y), colour);
                }
            }
        }
    }
}

RegionBox overlay_reach(const CorrectionGrid& grid, double display_scale, int width, int height,
                        RegionOrigin origin, const WarpLattice* warp) {
    const RegionBox whole{0, 0, width, height};
    const auto [min_x, max_x] = std::minmax_element(grid.area_x.begin(), grid.area_x.end());
    const auto [min_y, max_y] = std::minmax_element(grid.area_y.begin(), grid.area_y.end());
    BackgroundPoint low{static_cast<double>(*min_x), static_cast<double>(*min_y)};
    BackgroundPoint high{static_cast<double>(*max_x), static_cast<double>(*max_y)};
    if (warp != nullptr) {
        low = warp->low();
        high = warp->high();
    }
    constexpr double kReach = 4.0;
    const double left = std::floor(low.x * display_scale) - kReach - origin.left;
    const double top = std::floor(low.y * display_scale) - kReach - origin.top;
    const double right = std::ceil(high.x * display_scale) + kReach + 1.0 - origin.left;
    const double bottom = std::ceil(high.y * display_scale) + kReach + 1.0 - origin.top;
    if (!(left > -2147483648.0 && right < 2147483648.0 && top > -2147483648.0 &&
          bottom < 2147483648.0)) {
        return whole;
    }
    const auto clip = [](double value, int size) {
        return static_cast<int>(std::clamp(value, 0.0, static_cast<double>(size)));
    };
    return {clip(left, width), clip(top, height), clip(right, width), clip(bottom, height)};
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
    shown_background_kept_ = false;
    shown_uncorrected_valid_ = false;
    whole_valid_ = false;
}

double Composition::density_step() const {
    const int index = choices.density_index;
    return index >= 0 && index < static_cast<int>(kDensitySteps.size()) ? kDensitySteps[index]
                                                                        : last_density_step_;
}

void Composition::compose(const CorrectionGrid& grid, const Frame* overlay) {
    compose(grid, overlay, false);
}

void Composition::compose_same_overlay(const CorrectionGrid& grid, const Frame* overlay) {
    compose(grid, overlay, true);
}

void Composition::compose(const CorrectionGrid& grid, const Frame* overlay, bool same_overlay) {
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
    std::shared_ptr<const WarpLattice> warp;
    if (overlay != nullptr && !choices.hide_frame) {
        warp = WarpLattice::make(warp_maker_, grid,
                                 {background_.width(), background_.height(),
                                  choices.rotation_index, choices.panorama},
                                 warp_);
        if (overlay_ && overlay_->same_colours(same_overlay ? nullptr : overlay, grid, step)) {
            plan = std::move(overlay_);
            plan->place(grid, warp.get());
        } else {
            plan = std::make_unique<OverlayPlan>(*overlay, grid, step, true, warp.get());
        }
    }

    // The background part of the picture shown stays right while the
    // background is turned and sized as before.
    shown_background_kept_ =
        (shown_valid_ || shown_background_kept_) && rotation_ == choices.rotation_index &&
        picture_width_ == std::max(width, 0) && picture_height_ == std::max(height, 0);
    display_scale_ = scale;
    last_density_step_ = step;
    rotation_ = choices.rotation_index;
    picture_width_ = std::max(width, 0);
    picture_height_ = std::max(height, 0);
    grid_ = grid;
    warp_ = std::move(warp);
    has_overlay_ = overlay != nullptr;
    overlay_ = std::move(plan);
    shown_valid_ = false;
    shown_uncorrected_valid_ = false;
    whole_valid_ = false;
}

void Composition::render_background(Frame& region, RegionOrigin origin) const {
    render_background(region, origin, {0, 0, region.width(), region.height()});
}

void Composition::render_background(Frame& region, RegionOrigin origin, RegionBox box) const {
    int rotated_width = 0;
    int rotated_height = 0;
    if (box.right <= box.left || box.bottom <= box.top || background_.empty() ||
        !rotated_size(background_, rotation_, rotated_width, rotated_height)) {
        return;
    }
    const int wa = background_.width();
    const int ha = background_.height();
    const int width = box.right - box.left;
    const int height = box.bottom - box.top;
    // The resampled picture's pixel (x, y) is the rotated background's
    // (row_of[y], column_of[x]), nearest neighbour as resample_frame has it;
    // x and y count from the box's corner.
    std::vector<int> row_of(static_cast<std::size_t>(height));
    std::vector<int> column_of(static_cast<std::size_t>(width));
    for (int y = 0; y < height; ++y) {
        row_of[static_cast<std::size_t>(y)] =
            nearest_source_index(origin.top + box.top + y, picture_height_, rotated_height);
    }
    for (int x = 0; x < width; ++x) {
        column_of[static_cast<std::size_t>(x)] =
            nearest_source_index(origin.left + box.left + x, picture_width_, rotated_width);
    }
    if (rotation_ % 2 == 0) {
        // Unturned or half-turned: a picture row reads one background row.
        std::vector<std::ptrdiff_t> offset(column_of.size());
        for (std::size_t x = 0; x < offset.size(); ++x) {
            const int column = rotation_ == 0 ? column_of[x] : wa - 1 - column_of[x];
            offset[x] = 3 * static_cast<std::ptrdiff_t>(column);
        }
        const bool contiguous = rotation_ == 0 && column_of.back() - column_of.front() == width - 1;
        for (int y = 0; y < height; ++y) {
            const int r = row_of[static_cast<std::size_t>(y)];
            const std::uint8_t* in = background_.row(rotation_ == 0 ? r : ha - 1 - r);
            std::uint8_t* out = region.pixel(box.top + y, box.left);
            if (contiguous) {
                std::memcpy(out, in + offset.front(), 3 * static_cast<std::size_t>(width));
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
    for (int y0 = 0; y0 < height; y0 += kTile) {
        const int y1 = std::min(y0 + kTile, height);
        for (int x0 = 0; x0 < width; x0 += kTile) {
            const int x1 = std::min(x0 + kTile, width);
            for (int x = x0; x < x1; ++x) {
                const int c = column_of[static_cast<std::size_t>(x)];
                // 90: B(r, c) = A(Ha - 1 - c, r); 270: B(r, c) = A(c, Wa - 1 - r).
                const std::uint8_t* in = background_.row(rotation_ == 1 ? ha - 1 - c : c);
                for (int y = y0; y < y1; ++y) {
                    const int r = row_of[static_cast<std::size_t>(y)];
                    const int column = rotation_ == 1 ? r : wa - 1 - r;
                    put_pixel_bytes(region.pixel(box.top + y, box.left + x),
                                    in + 3 * static_cast<std::ptrdiff_t>(column));
                }
            }
        }
    }
}

RegionBox Composition::clip_to_picture(int x, int y, int width, int height) const {
    const std::int64_t left = std::clamp<std::int64_t>(x, 0, picture_width_);
    const std::int64_t top = std::clamp<std::int64_t>(y, 0, picture_height_);
    const std::int64_t right =
        std::clamp<std::int64_t>(std::int64_t{x} + std::max(width, 0), left, picture_width_);
    const std::int64_t bottom =
        std::clamp<std::int64_t>(std::int64_t{y} + std::max(height, 0), top, picture_height_);
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
            static_cast<int>(bottom)};
}

RegionOrigin Composition::render_clean(int x, int y, int width, int height, Frame& clean) const {
    const RegionBox box = clip_to_picture(x, y, width, height);
    const RegionOrigin origin{box.left, box.top};
    clean.resize_for_overwrite(box.right - box.left, box.bottom - box.top);
    render_background(clean, origin);
    return origin;
}

RegionOrigin Composition::render_region(int x, int y, int width, int height, Frame& composed,
                                        Frame* clean, Markers markers) const {
    Frame region;
    const RegionOrigin origin = render_clean(x, y, width, height, region);
    if (clean != nullptr) *clean = region;
    draw_overlay_and_markers(region, origin, true, markers);
    composed = std::move(region);
    return origin;
}

RegionOrigin Composition::render_uncorrected(int x, int y, int width, int height, Frame& picture,
                                             Markers markers) const {
    const RegionOrigin origin = render_clean(x, y, width, height, picture);
    draw_overlay_and_markers(picture, origin, false, markers);
    return origin;
}

bool Composition::markers_cover(int x, int y, int width, int height) const {
    if (!has_overlay_) return false;
    for (int p = 0; p < kGridPointCount; ++p) {
        const std::optional<RegionBox> box = marker_box(grid_, display_scale_, p);
        if (box && box->left < std::int64_t{x} + width && x < box->right &&
            box->top < std::int64_t{y} + height && y < box->bottom) {
            return true;
        }
    }
    return false;
}

const Frame& Composition::shown_uncorrected() const {
    if (!shown_uncorrected_valid_) {
        render_uncorrected(shown_origin_.left, shown_origin_.top, shown_picture_.width(),
                           shown_picture_.height(), shown_uncorrected_);
        shown_uncorrected_valid_ = true;
    }
    return shown_uncorrected_;
}

void Composition::draw_overlay_and_markers(Frame& region, RegionOrigin origin, bool corrected,
                                           Markers markers) const {
    if (!has_overlay_) return;
    if (overlay_) overlay_->draw(region, origin, grid_, display_scale_, corrected);
    if (markers == Markers::Drawn) draw_markers(region, grid_, display_scale_, origin);
}

void Composition::show_region(int x, int y, int width, int height) {
    const bool covered = shown_valid_ && x >= shown_origin_.left && y >= shown_origin_.top &&
                         std::int64_t{x} + width <= shown_origin_.left + shown_picture_.width() &&
                         std::int64_t{y} + height <= shown_origin_.top + shown_picture_.height();
    if (covered) return;
    if (shown_background_kept_ && clip_to_picture(x, y, width, height) ==
                                      RegionBox{shown_origin_.left, shown_origin_.top,
                                                shown_origin_.left + shown_picture_.width(),
                                                shown_origin_.top + shown_picture_.height()}) {
        // The same part of the same background: only where the frame and the
        // markers were drawn is the background put back before they are
        // drawn again (most of a drag's redraw).
        render_background(shown_picture_, shown_origin_, shown_drawn_);
        draw_overlay_and_markers(shown_picture_, shown_origin_);
    } else {
        Frame composed;
        shown_origin_ = render_region(x, y, width, height, composed, nullptr);
        shown_picture_ = std::move(composed);
    }
    shown_drawn_ = has_overlay_ ? overlay_reach(grid_, display_scale_, shown_picture_.width(),
                                                shown_picture_.height(), shown_origin_,
                                                warp_.get())
                                : RegionBox{};
    shown_valid_ = true;
    shown_background_kept_ = false;
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
