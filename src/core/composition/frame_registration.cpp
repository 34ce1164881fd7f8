// Registration of a matched frame: where on the background the frame
// really lies, near where the mesh puts it, found by phase correlation of
// two small grey pictures (the frame, and the background under the mesh),
// and whether the two agree there.

#include <algorithm>
#include <cmath>
#include <memory>
#include <numbers>
#include <vector>

#include "core/composition/colour_matching.hpp"

namespace tintora {
namespace {

// The reduced pictures are at most this many cells along each side: enough
// to place a frame to a few of its pixels, cheap next to the pairing.
constexpr int kMaxReducedSide = 128;
constexpr int kMinReducedSide = 16;
// Samples per cell along each side, spread over the cell: a box mean that
// is not fooled by fine texture (aliasing) nor slowed by large frames.
constexpr int kCellSamples = 2;
// A shift below this many background pixels is the estimate's own noise:
// the frame is paired where the mesh puts it.
constexpr double kNegligibleShift = 0.5;

int power_of_two_at_most(int n) {
    int p = 1;
    while (p * 2 <= n) p *= 2;
    return p;
}

// Cells of about two pixels or more across, about square.
int reduced_width(int width) {
    return std::clamp(power_of_two_at_most(std::max(width / 2, 1)), kMinReducedSide,
                      kMaxReducedSide);
}
int reduced_height(int width, int height, int reduced_width) {
    const double square = static_cast<double>(reduced_width) * height / width;
    const int below = power_of_two_at_most(std::max(static_cast<int>(square), 1));
    const int nearest = square - below < 2 * below - square ? below : 2 * below;
    return std::clamp(nearest, kMinReducedSide, kMaxReducedSide);
}

// A small grey picture, row-major.
struct GreyImage {
    int width = 0;
    int height = 0;
    std::vector<double> values;

    GreyImage(int w, int h) : width(w), height(h), values(static_cast<std::size_t>(w) * h) {}
    double& at(int x, int y) { return values[static_cast<std::size_t>(y) * width + x]; }
    double at(int x, int y) const { return values[static_cast<std::size_t>(y) * width + x]; }
};

double grey(const std::uint8_t* pixel) { return (pixel[0] + pixel[1] + pixel[2]) / 3.0; }

// The places of the samples along one side: kCellSamples per cell, spread
// over it.
std::vector<int> sample_places(int pixels, int cells) {
    std::vector<int> places;
    places.reserve(static_cast<std::size_t>(cells) * kCellSamples);
    const double cell = static_cast<double>(pixels) / cells;
    for (int i = 0; i < cells; ++i) {
        for (int a = 0; a < kCellSamples; ++a) {
            places.push_back(
                std::min(static_cast<int>((i + (a + 0.5) / kCellSamples) * cell), pixels - 1));
        }
    }
    return places;
}

GreyImage reduce_frame(const Frame& frame, int nx, int ny) {
    GreyImage reduced(nx, ny);
    const std::vector<int> columns = sample_places(frame.width(), nx);
    const std::vector<int> rows = sample_places(frame.height(), ny);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::uint8_t* row = frame.row(rows[r]);
        double* cells = reduced.values.data() + (r / kCellSamples) * static_cast<std::size_t>(nx);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            cells[c / kCellSamples] += grey(row + 3 * static_cast<std::ptrdiff_t>(columns[c]));
        }
    }
    for (double& value : reduced.values) value /= kCellSamples * kCellSamples;
    return reduced;
}

// Whether a place lies on the background turned as the area points
// measure it.
bool on_background(const Frame& loaded, int rotation, int x, int y) {
    const bool quarter = rotation % 2 == 1;
    return x >= 0 && y >= 0 && x < (quarter ? loaded.height() : loaded.width()) &&
           y < (quarter ? loaded.width() : loaded.height());
}

// A pixel of the background turned as the area points measure it, held to
// the picture's edge.
const std::uint8_t* turned_pixel(const Frame& loaded, int rotation, int x, int y) {
    const int wa = loaded.width();
    const int ha = loaded.height();
    const bool quarter = rotation % 2 == 1;
    x = std::clamp(x, 0, (quarter ? ha : wa) - 1);
    y = std::clamp(y, 0, (quarter ? wa : ha) - 1);
    switch (rotation) {
        case 1:
            return loaded.pixel(ha - 1 - x, y);
        case 2:
            return loaded.pixel(ha - 1 - y, wa - 1 - x);
        case 3:
            return loaded.pixel(x, wa - 1 - y);
        default:
            return loaded.pixel(y, x);
    }
}

// The background under each reduced cell: the mean of the background
// pixels under the frame's samples (as the mesh draws them: pixel x lies at
// x / (W - 1)). `inside` counts the samples that lie on the background.
GreyImage reduce_background(const MatchBackground& background, const CorrectionGrid& grid,
                            const Frame& frame, int nx, int ny, int& inside) {
    GreyImage reduced(nx, ny);
    inside = 0;
    const std::vector<int> columns = sample_places(frame.width(), nx);
    const std::vector<int> rows = sample_places(frame.height(), ny);
    const Frame& loaded = *background.loaded;
    const int rotation = background.rotation_index;
    // Under the frame where the composition draws it: through the model's
    // warp, if any.
    const std::shared_ptr<const WarpLattice> warp = WarpLattice::make(
        background.warp_maker, grid,
        {loaded.width(), loaded.height(), rotation, background.panorama});
    // Each sample column's cell of the mesh (left or right) and place in it,
    // as find_grid_cell finds them.
    std::vector<int> column_cell(columns.size());
    std::vector<double> column_u(columns.size());
    for (std::size_t c = 0; c < columns.size(); ++c) {
        const double x = columns[c] / (frame.width() - 1.0);
        column_cell[c] = x <= 0.5 ? 0 : 1;
        column_u[c] = 2.0 * (x <= 0.5 ? x : x - 0.5);
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const double y = rows[r] / (frame.height() - 1.0);
        const int row_cell = y <= 0.5 ? 0 : 3;
        const double w = 2.0 * (y <= 0.5 ? y : y - 0.5);
        double* cells = reduced.values.data() + (r / kCellSamples) * static_cast<std::size_t>(nx);
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const int e = row_cell + column_cell[c];
            const double u = column_u[c];
            const BackgroundPoint at =
                warp ? warp->at(columns[c] / (frame.width() - 1.0), y)
                     : BackgroundPoint{blend_corners(u, w, grid.area_x[e], grid.area_x[e + 1],
                                                     grid.area_x[e + 3], grid.area_x[e + 4]),
                                       blend_corners(u, w, grid.area_y[e], grid.area_y[e + 1],
                                                     grid.area_y[e + 3], grid.area_y[e + 4])};
            // Held within the int range before the cast: area points may be
            // any 32-bit number.
            const int x = static_cast<int>(std::clamp(std::floor(at.x), -1.0, 1e9));
            const int y = static_cast<int>(std::clamp(std::floor(at.y), -1.0, 1e9));
            inside += on_background(loaded, rotation, x, y);
            cells[c / kCellSamples] += grey(turned_pixel(loaded, rotation, x, y));
        }
    }
    for (double& value : reduced.values) value /= kCellSamples * kCellSamples;
    return reduced;
}

// A table of complex values, row-major, its real and imaginary parts
// apart: plain arrays of doubles, which the compiler handles many at a time.
struct Spectrum {
    explicit Spectrum(std::size_t size) : real(size), imag(size) {}
    std::vector<double> real;
    std::vector<double> imag;
};

// A radix-2 FFT of n points (a power of two): the order the values are
// taken in, and the turns of the unit circle, one way or the other.
struct FftPlan {
    FftPlan(int n, bool inverse)
        : n(n),
          reversed(static_cast<std::size_t>(n)),
          cosines(static_cast<std::size_t>(n / 2)),
          sines(static_cast<std::size_t>(n / 2)) {
        for (int i = 0, j = 0; i < n; ++i) {
            reversed[static_cast<std::size_t>(i)] = j;
            int bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
        }
        for (int k = 0; k < n / 2; ++k) {
            const double angle = (inverse ? 2.0 : -2.0) * std::numbers::pi * k / n;
            cosines[static_cast<std::size_t>(k)] = std::cos(angle);
            sines[static_cast<std::size_t>(k)] = std::sin(angle);
        }
    }
    int n;
    std::vector<int> reversed;
    std::vector<double> cosines;
    std::vector<double> sines;
};

// In place, n contiguous values; the inverse is unscaled.
void fft(double* real, double* imag, const FftPlan& plan) {
    const int n = plan.n;
    for (int i = 0; i < n; ++i) {
        const int j = plan.reversed[static_cast<std::size_t>(i)];
        if (i < j) {
            std::swap(real[i], real[j]);
            std::swap(imag[i], imag[j]);
        }
    }
    for (int half = 1; half < n; half <<= 1) {
        const int stride = n / (2 * half);
        for (int start = 0; start < n; start += 2 * half) {
            for (int k = 0; k < half; ++k) {
                const double c = plan.cosines[static_cast<std::size_t>(k * stride)];
                const double s = plan.sines[static_cast<std::size_t>(k * stride)];
                const int even = start + k;
                const int odd = even + half;
                const double product_real = real[odd] * c - imag[odd] * s;
                const double product_imag = real[odd] * s + imag[odd] * c;
                real[odd] = real[even] - product_real;
                imag[odd] = imag[even] - product_imag;
                real[even] += product_real;
                imag[even] += product_imag;
            }
        }
    }
}

// Rows, then columns (each gathered, transformed and put back).
void fft_2d(Spectrum& data, int nx, int ny, bool inverse) {
    const FftPlan rows(nx, inverse);
    const FftPlan columns(ny, inverse);
    for (int y = 0; y < ny; ++y) {
        const std::size_t at = static_cast<std::size_t>(y) * nx;
        fft(data.real.data() + at, data.imag.data() + at, rows);
    }
    Spectrum column(static_cast<std::size_t>(ny));
    for (int x = 0; x < nx; ++x) {
        for (int y = 0; y < ny; ++y) {
            column.real[static_cast<std::size_t>(y)] =
                data.real[static_cast<std::size_t>(y) * nx + x];
            column.imag[static_cast<std::size_t>(y)] =
                data.imag[static_cast<std::size_t>(y) * nx + x];
        }
        fft(column.real.data(), column.imag.data(), columns);
        for (int y = 0; y < ny; ++y) {
            data.real[static_cast<std::size_t>(y) * nx + x] =
                column.real[static_cast<std::size_t>(y)];
            data.imag[static_cast<std::size_t>(y) * nx + x] =
                column.imag[static_cast<std::size_t>(y)];
        }
    }
}

// The Hann window over n cells.
std::vector<double> hann(int n) {
    std::vector<double> window(static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        window[static_cast<std::size_t>(i)] =
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / n);
    }
    return window;
}

// A picture less its mean, tapered to zero at its borders (Hann), so that
// the correlation's wrap-around sees no false edges.
std::vector<double> tapered(const GreyImage& image) {
    double mean = 0.0;
    for (const double v : image.values) mean += v;
    mean /= static_cast<double>(image.values.size());
    const std::vector<double> across = hann(image.width);
    const std::vector<double> down = hann(image.height);
    std::vector<double> out(image.values.size());
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            out[static_cast<std::size_t>(y) * image.width + x] =
                (image.at(x, y) - mean) * across[static_cast<std::size_t>(x)] *
                down[static_cast<std::size_t>(y)];
        }
    }
    return out;
}

// The phase correlation of two pictures of one size: peaks at the shift d
// (in cells, wrapped) where frame(x) looks like background(x + d).
std::vector<double> phase_correlation(const GreyImage& frame, const GreyImage& background) {
    const int nx = frame.width;
    const int ny = frame.height;
    const std::vector<double> a = tapered(frame);
    const std::vector<double> b = tapered(background);
    // Both real pictures in one complex transform: a + i b.
    Spectrum z(a.size());
    z.real = a;
    z.imag = b;
    fft_2d(z, nx, ny, false);
    Spectrum cross(a.size());
    for (int v = 0; v < ny; ++v) {
        for (int u = 0; u < nx; ++u) {
            const std::size_t here = static_cast<std::size_t>(v) * nx + u;
            const std::size_t mirror = static_cast<std::size_t>((ny - v) % ny) * nx +
                                       static_cast<std::size_t>((nx - u) % nx);
            // The two pictures' spectra: a's is (Z(k) + conj Z(-k)) / 2, b's
            // (Z(k) - conj Z(-k)) / 2i; then a's conjugate times b's, whose
            // phase alone is kept.
            const double a_real = (z.real[here] + z.real[mirror]) * 0.5;
            const double a_imag = (z.imag[here] - z.imag[mirror]) * 0.5;
            const double b_real = (z.imag[here] + z.imag[mirror]) * 0.5;
            const double b_imag = -(z.real[here] - z.real[mirror]) * 0.5;
            const double product_real = a_real * b_real + a_imag * b_imag;
            const double product_imag = a_real * b_imag - a_imag * b_real;
            const double magnitude = std::hypot(product_real, product_imag);
            if (magnitude > 1e-9) {
                cross.real[here] = product_real / magnitude;
                cross.imag[here] = product_imag / magnitude;
            }
        }
    }
    fft_2d(cross, nx, ny, true);
    return std::move(cross.real);
}

// The highest point of the correlation within `reach_x` by `reach_y`
// cells of no shift, to a fraction of a cell (a parabola through it and its
// neighbours along each axis).
struct Peak {
    double x = 0.0;
    double y = 0.0;
};

Peak find_peak(const std::vector<double>& surface, int nx, int ny, int reach_x, int reach_y) {
    const auto at = [&](int dx, int dy) {
        return surface[static_cast<std::size_t>(((dy % ny) + ny) % ny) * nx +
                       static_cast<std::size_t>(((dx % nx) + nx) % nx)];
    };
    int best_x = 0;
    int best_y = 0;
    for (int dy = -reach_y; dy <= reach_y; ++dy) {
        for (int dx = -reach_x; dx <= reach_x; ++dx) {
            if (at(dx, dy) > at(best_x, best_y)) best_x = dx, best_y = dy;
        }
    }
    const auto vertex = [](double before, double here, double after) {
        const double curvature = before - 2.0 * here + after;
        return curvature < 0.0 ? std::clamp((before - after) / (2.0 * curvature), -0.5, 0.5) : 0.0;
    };
    const double c = at(best_x, best_y);
    return {best_x + vertex(at(best_x - 1, best_y), c, at(best_x + 1, best_y)),
            best_y + vertex(at(best_x, best_y - 1), c, at(best_x, best_y + 1))};
}

// A picture's mean over boxes of 2 * reach + 1 cells, held at its edges:
// along its rows, then its columns.
GreyImage box_mean(const GreyImage& image, int reach) {
    const auto pass = [reach](const GreyImage& from, bool along_rows) {
        GreyImage to(from.width, from.height);
        const int length = along_rows ? from.width : from.height;
        const int lines = along_rows ? from.height : from.width;
        for (int line = 0; line < lines; ++line) {
            for (int i = 0; i < length; ++i) {
                double sum = 0.0;
                for (int d = -reach; d <= reach; ++d) {
                    const int j = std::clamp(i + d, 0, length - 1);
                    sum += along_rows ? from.at(j, line) : from.at(line, j);
                }
                (along_rows ? to.at(i, line) : to.at(line, i)) = sum / (2 * reach + 1);
            }
        }
        return to;
    };
    return pass(pass(image, true), false);
}

// The structure a frame is judged by: a picture less its 3 by 3 mean, its
// finest detail, which only the right place repeats (a horizon, say, lines
// up all along itself) and which light falling off across the picture and
// tone curves leave alone.
GreyImage structure(const GreyImage& image) {
    GreyImage detail = image;
    const GreyImage local = box_mean(image, 1);
    for (std::size_t i = 0; i < detail.values.size(); ++i) detail.values[i] -= local.values[i];
    return detail;
}

double spread(const GreyImage& image) {
    double sum = 0.0;
    double squares = 0.0;
    for (const double v : image.values) {
        sum += v;
        squares += v * v;
    }
    const double n = static_cast<double>(image.values.size());
    return std::sqrt(std::max(squares / n - (sum / n) * (sum / n), 0.0));
}

// How far the two pictures' structure agrees with the background's shifted
// by (dx, dy) cells (between cells, blended bilinearly): the median over
// tiles, 4 by 4 of them, of their correlation (-1..1); tiles without
// structure in either picture do not count. By tiles, so that a few long
// edges (a horizon lines up all along itself) cannot make a wrong place
// agree, and something that covers a part of the frame leaves the rest to
// judge.
double agreement(const GreyImage& frame, const GreyImage& background, double dx, double dy) {
    constexpr int kTiles = 4;
    struct Sums {
        double fb = 0.0, ff = 0.0, bb = 0.0, f = 0.0, b = 0.0, n = 0.0;
    };
    Sums tiles[kTiles][kTiles];
    const int whole_x = static_cast<int>(std::floor(dx));
    const int whole_y = static_cast<int>(std::floor(dy));
    const double u = dx - whole_x;
    const double w = dy - whole_y;
    // The outer cells' 3 by 3 means reach past the picture: left out.
    for (int y = 1; y < frame.height - 1; ++y) {
        const int by = y + whole_y;
        if (by < 1 || by + 1 >= frame.height - 1) continue;
        for (int x = 1; x < frame.width - 1; ++x) {
            const int bx = x + whole_x;
            if (bx < 1 || bx + 1 >= frame.width - 1) continue;
            const double f = frame.at(x, y);
            const double b =
                blend_corners(u, w, background.at(bx, by), background.at(bx + 1, by),
                              background.at(bx, by + 1), background.at(bx + 1, by + 1));
            Sums& sums = tiles[y * kTiles / frame.height][x * kTiles / frame.width];
            sums.fb += f * b;
            sums.ff += f * f;
            sums.bb += b * b;
            sums.f += f;
            sums.b += b;
            sums.n += 1.0;
        }
    }
    std::vector<double> correlations;
    for (const auto& row : tiles) {
        for (const Sums& sums : row) {
            if (sums.n < 16.0) continue;
            const double frame_variance = sums.ff / sums.n - (sums.f / sums.n) * (sums.f / sums.n);
            const double background_variance =
                sums.bb / sums.n - (sums.b / sums.n) * (sums.b / sums.n);
            const double least = kMinStructure * kMinStructure;
            if (frame_variance < least || background_variance < least) continue;
            const double covariance = sums.fb / sums.n - (sums.f / sums.n) * (sums.b / sums.n);
            correlations.push_back(covariance / std::sqrt(frame_variance * background_variance));
        }
    }
    if (correlations.empty()) return 0.0;
    const auto middle = correlations.begin() + static_cast<std::ptrdiff_t>(correlations.size() / 2);
    std::nth_element(correlations.begin(), middle, correlations.end());
    return *middle;
}

}  // namespace

FrameRegistration register_frame(const Frame& frame, const CorrectionGrid& grid,
                                 const MatchBackground& background) {
    FrameRegistration registration;
    if (frame.width() < 2 || frame.height() < 2 || background.loaded == nullptr ||
        background.loaded->empty() || background.rotation_index < 0 ||
        background.rotation_index > 3) {
        return registration;
    }
    const int nx = reduced_width(frame.width());
    const int ny = reduced_height(frame.width(), frame.height(), nx);

    const GreyImage seen = reduce_frame(frame, nx, ny);
    int inside = 0;
    const GreyImage under = reduce_background(background, grid, frame, nx, ny, inside);
    // A frame mostly off the background: nothing to place it by; the
    // pairing tells what lands.
    if (2 * inside < nx * ny * kCellSamples * kCellSamples) return registration;
    const GreyImage seen_fine = structure(seen);
    const GreyImage under_fine = structure(under);
    // A plain wall, a uniform frame: nothing to place the frame by, and
    // nothing to tell a wrong place from the right one.
    if (spread(seen_fine) < kMinStructure || spread(under_fine) < kMinStructure) {
        return registration;
    }
    registration.measured = true;

    const std::vector<double> surface = phase_correlation(seen, under);
    const double cell_w = static_cast<double>(frame.width()) / nx;
    const double cell_h = static_cast<double>(frame.height()) / ny;
    const double reach_pixels = kMaxDriftShare * frame.width();
    const int reach_x = std::max(1, static_cast<int>(std::ceil(reach_pixels / cell_w)));
    const int reach_y = std::max(1, static_cast<int>(std::ceil(reach_pixels / cell_h)));
    const auto within_reach = [&](const Peak& peak) {
        return std::abs(peak.x * cell_w) <= reach_pixels &&
               std::abs(peak.y * cell_h) <= reach_pixels;
    };
    const auto agreement_at = [&](const Peak& peak) {
        return agreement(seen_fine, under_fine, peak.x, peak.y);
    };
    const Peak near = find_peak(surface, nx, ny, reach_x, reach_y);
    registration.agreement = agreement_at(near);
    if (!within_reach(near) || registration.agreement < kMinAgreement) {
        // Left out: either the camera looked further away (the frame agrees
        // with the background elsewhere), or the frame shows something else.
        const Peak far = find_peak(surface, nx, ny, nx / 4, ny / 4);
        const bool elsewhere = !within_reach(far) && agreement_at(far) >= kMinAgreement;
        registration.verdict = elsewhere ? FrameVerdict::MovedTooFar : FrameVerdict::Unlike;
        return registration;
    }

    // The shift in cells to background pixels: the mesh's mean extent per
    // cell along each side of the frame (a bilinear mesh is straight along
    // each row and column of a cell).
    double across_x = 0.0, across_y = 0.0, down_x = 0.0, down_y = 0.0;
    const double cells_x = nx * (frame.width() - 1.0) / frame.width();
    const double cells_y = ny * (frame.height() - 1.0) / frame.height();
    for (const double f : {0.0, 0.5, 1.0}) {
        const BackgroundPoint left = grid.map_to_background(0.0, f, 1.0);
        const BackgroundPoint right = grid.map_to_background(1.0, f, 1.0);
        const BackgroundPoint top = grid.map_to_background(f, 0.0, 1.0);
        const BackgroundPoint bottom = grid.map_to_background(f, 1.0, 1.0);
        across_x += (right.x - left.x) / cells_x / 3.0;
        across_y += (right.y - left.y) / cells_x / 3.0;
        down_x += (bottom.x - top.x) / cells_y / 3.0;
        down_y += (bottom.y - top.y) / cells_y / 3.0;
    }
    const BackgroundPoint shift{near.x * across_x + near.y * down_x,
                                near.x * across_y + near.y * down_y};
    if (std::abs(shift.x) >= kNegligibleShift || std::abs(shift.y) >= kNegligibleShift) {
        registration.shift = shift;
    }
    return registration;
}

}  // namespace tintora
