#include "composition/composition.hpp"

#include <algorithm>
#include <new>
#include <vector>

#include "correction/frame_correction.hpp"
#include "correction/frame_transforms.hpp"
#include "correction/jpeg_codec.hpp"

namespace tintora {
namespace {

// Truncates toward zero into an int; false for NaN and values no int holds.
bool truncate_to_int(double value, int& out) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return false;
    out = static_cast<int>(value);
    return true;
}

bool inside(const Frame& picture, int x, int y) {
    return x >= 0 && y >= 0 && x < picture.width() && y < picture.height();
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

void draw_overlay(Frame& picture, const Frame& overlay, const CorrectionGrid& grid,
                  double display_scale, double step) {
    if (overlay.width() < 2 || overlay.height() < 2 || !(step > 0.0)) return;
    const std::vector<SamplePosition> columns = sample_positions(overlay.width(), step);
    const std::vector<SamplePosition> rows = sample_positions(overlay.height(), step);

    std::vector<ColumnMesh> meshes;
    meshes.reserve(columns.size());
    for (const SamplePosition& column : columns)
        meshes.push_back(column_mesh(grid, column.position));

    // With a whole-pixel step every sample is one frame pixel at its own
    // position, which is what correct_frame computes for the whole frame.
    const bool whole_pixels = step == 1.0;
    Frame corrected;
    if (whole_pixels) {
        corrected = overlay;
        correct_frame(corrected, grid);
    }

    for (const SamplePosition& row : rows) {
        const bool upper = row.position <= 0.5;
        const double w = 2.0 * (upper ? row.position : row.position - 0.5);
        const int top = upper ? 0 : 1;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const ColumnMesh& mesh = meshes[i];
            const double bx = mesh.x[top] + w * (mesh.x[top + 1] - mesh.x[top]);
            const double by = mesh.y[top] + w * (mesh.y[top + 1] - mesh.y[top]);
            int x = 0;
            int y = 0;
            if (!truncate_to_int(bx * display_scale, x) ||
                !truncate_to_int(by * display_scale, y) || !inside(picture, x, y)) {
                continue;
            }
            if (whole_pixels) {
                put_pixel(picture, x, y, corrected.pixel(row.pixel, columns[i].pixel));
            } else {
                const std::uint8_t* in = overlay.pixel(row.pixel, columns[i].pixel);
                std::uint8_t bgr[3] = {in[0], in[1], in[2]};
                grid.correct_pixel(columns[i].position, row.position, bgr[2], bgr[1], bgr[0]);
                put_pixel(picture, x, y, bgr);
            }
        }
    }
}

void draw_markers(Frame& picture, const CorrectionGrid& grid, double display_scale) {
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
                const std::int64_t x = std::int64_t{cx} + dx;
                const std::int64_t y = std::int64_t{cy} + dy;
                if (x >= 0 && y >= 0 && x < picture.width() && y < picture.height()) {
                    put_pixel(picture, static_cast<int>(x), static_cast<int>(y), colour);
                }
            }
        }
    }
}

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
    ++background_generation_;
    choices.rotation_index = kDefaultRotationIndex;
    choices.scale_index = kDefaultScaleIndex;
    choices.density_index = kDefaultDensityIndex;
    display_scale_ = 1.0;
}

void Composition::release_background() {
    background_ = Frame{};
    background_path_.clear();
    background_loaded_ = false;
    ++background_generation_;
}

double Composition::density_step() const {
    const int index = choices.density_index;
    return index >= 0 && index < static_cast<int>(kDensitySteps.size()) ? kDensitySteps[index]
                                                                        : last_density_step_;
}

void Composition::refresh_scaled_background() {
    const int rotation = choices.rotation_index;
    if (scaled_generation_ == background_generation_ && scaled_rotation_ == rotation &&
        scaled_scale_ == display_scale_) {
        return;
    }
    // A rotation outside the list turns nothing: the picture stays empty.
    Frame rotated;
    rotate_frame(background_, rotated, rotation * 90);
    int width = 0;
    int height = 0;
    truncate_to_int(rotated.width() * display_scale_, width);
    truncate_to_int(rotated.height() * display_scale_, height);
    scaled_background_.resize(width, height);
    resample_frame(rotated, scaled_background_);
    scaled_generation_ = background_generation_;
    scaled_rotation_ = rotation;
    scaled_scale_ = display_scale_;
}

void Composition::compose(const CorrectionGrid& grid, const Frame* overlay) {
    const double previous_scale = display_scale_;
    const int scale = choices.scale_index;
    if (scale >= 0 && scale < static_cast<int>(kDisplayScales.size())) {
        display_scale_ = kDisplayScales[scale];
    }
    last_density_step_ = density_step();
    try {
        refresh_scaled_background();
    } catch (const std::bad_alloc&) {
        // The scale stays the one the kept picture was made at, so clicks
        // still land where the user sees them.
        display_scale_ = previous_scale;
        throw;
    }
    picture_ = scaled_background_;
    if (overlay == nullptr) return;
    if (!choices.hide_frame)
        draw_overlay(picture_, *overlay, grid, display_scale_, last_density_step_);
    draw_markers(picture_, grid, display_scale_);
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
    const int dx = w / 3;
    const int dy = h / 3;
    const int columns[3] = {std::max(cx - dx, 0), cx, std::min(cx + dx, w - 1)};
    const int rows[3] = {std::max(cy - dy, 0), cy, std::min(cy + dy, h - 1)};
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
