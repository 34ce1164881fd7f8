#include "core/viewer/hotspot_frame.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <tuple>
#include <utility>

#include "core/common/loop_attributes.hpp"
#include "core/viewer/hotspot_bake_kernels.hpp"

namespace tintora {

namespace hotspot_detail {

// The clip's places at the lattice points (a step, b step) of the frame, a
// below `columns` and b below `rows`: by each quadrant's rule (NaN where
// the rule finds none or was not needed), and the quadrant the place lies
// in by that quadrant's own rule (-1: none found).
struct ClipLattice {
    struct Point {
        std::array<float, 4> u;
        std::array<float, 4> v;
        std::int8_t owner = -1;
    };
    int step = 1;
    int columns = 0;
    int rows = 0;
    std::vector<float> fractions;  // k / step for k below step
    std::vector<Point> points;

    const Point& at(int a, int b) const {
        return points[static_cast<std::size_t>(b) * static_cast<std::size_t>(columns) +
                      static_cast<std::size_t>(a)];
    }
};

}  // namespace hotspot_detail

namespace {

using hotspot_detail::BakeSource;
using hotspot_detail::BakeSpan;
using hotspot_detail::ClipLattice;
using hotspot_detail::TapLine;

constexpr double kDegreesPerRadian = 180.0 / std::numbers::pi;

// Points on each edge of the mesh's outline where its bulge is measured.
constexpr int kOutlineSteps = 256;

// The lattice of frame pixels where the maps are worked out exactly is at
// most this coarse, and spans at most a degree: in between they are
// interpolated, their error far below a pixel's.
constexpr int kLatticeStep = 16;
constexpr double kLatticeDegrees = 1.0;

int even_at_least_two(double value) {
    const int whole = static_cast<int>(std::lround(value / 2)) * 2;
    return std::max(whole, 2);
}

double arc_degrees(Vec3 a, Vec3 b) {
    return std::acos(std::clamp(dot(normalised(a), normalised(b)), -1.0, 1.0)) *
           kDegreesPerRadian;
}

std::size_t area(int width, int height) {
    return static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
}

// Plain loops over arrays, so that the compiler does them many pixels at a
// time (the same bytes whichever instruction set it uses). Floating-point
// exceptions are not looked at, so comparisons need no branches.
#define TINTORA_ROW_LOOP \
    __attribute__((target_clones("arch=x86-64-v4", "avx2", "default"))) TINTORA_NO_TRAPPING_MATH

// The lattice of a frame: points every `step` pixels from the top-left
// pixel, one row and column reaching past the last pixel.
struct Lattice {
    int step = 2;
    int columns = 0;
    int rows = 0;
    std::vector<float> fractions;  // k / step for k below step
    std::vector<double> exact_fractions;
};

Lattice lattice_of(const HotspotFrame& frame) {
    Lattice lattice;
    lattice.step = std::clamp(
        static_cast<int>(kLatticeDegrees * frame.width / frame.horizontal_fov()), 2, kLatticeStep);
    lattice.columns = (frame.width - 1) / lattice.step + 2;
    lattice.rows = (frame.height - 1) / lattice.step + 2;
    for (int k = 0; k < lattice.step; ++k) {
        lattice.fractions.push_back(static_cast<float>(k) / static_cast<float>(lattice.step));
        lattice.exact_fractions.push_back(static_cast<double>(k) / lattice.step);
    }
    return lattice;
}

// ------------------------------------------------------------ panorama alone

// Whether a wide panorama's columns wrap around (a whole turn).
bool wraps_around(const PanoramaGeometry& geometry) {
    return std::fabs(geometry.hfov - 360.0) < 1e-9;
}

// Where the panorama is read for a direction: its picture position less
// half a pixel (between pixel centres), unclamped; nothing where it does
// not reach.
std::optional<PicturePosition> panorama_spot(const PanoramaGeometry& geometry, Vec3 direction) {
    const std::optional<PicturePosition> at = position_of(geometry, direction);
    if (!at) return std::nullopt;
    return PicturePosition{at->x - 0.5, at->y - 0.5};
}

// A position in 256ths of a pixel, rounded.
std::int32_t in_256ths(double value) {
    return static_cast<std::int32_t>(std::floor(value * 256 + 0.5));
}

// The panorama's spots at a frame's lattice points, one point more on every
// side than the lattice so that each cell sees its neighbours' bend. Across
// a whole turn's seam the columns are unwrapped: neighbouring spots lie
// within half a turn of each other, though beyond the picture.
struct PanoramaLattice {
    int columns = 0;  // the frame lattice's plus two
    int rows = 0;
    std::vector<double> x, y;
    std::vector<std::uint8_t> reached;

    std::size_t index(int a, int b) const {
        return static_cast<std::size_t>(b + 1) * static_cast<std::size_t>(columns) +
               static_cast<std::size_t>(a + 1);
    }
};

PanoramaLattice panorama_lattice(const HotspotFrame& frame, const Lattice& lattice,
                                 const PanoramaGeometry& geometry) {
    PanoramaLattice spots;
    spots.columns = lattice.columns + 2;
    spots.rows = lattice.rows + 2;
    const std::size_t count = area(spots.columns, spots.rows);
    spots.x.assign(count, 0);
    spots.y.assign(count, 0);
    spots.reached.assign(count, 0);
    const bool wraps = wraps_around(geometry);
    const double turn = geometry.width;
    std::optional<double> row_start;  // the first spot of the row above
    for (int b = -1; b <= lattice.rows; ++b) {
        std::optional<double> previous = row_start;
        row_start.reset();
        for (int a = -1; a <= lattice.columns; ++a) {
            const std::size_t n = spots.index(a, b);
            const std::optional<PicturePosition> at = panorama_spot(
                geometry,
                frame.plane.direction(frame.plane_point(a * lattice.step, b * lattice.step)));
            if (!at) continue;
            double x = at->x;
            if (wraps && previous) x += turn * std::round((*previous - x) / turn);
            spots.x[n] = x;
            spots.y[n] = at->y;
            spots.reached[n] = 1;
            previous = x;
            if (!row_start) row_start = x;
        }
    }
    return spots;
}

// How far the bend of a lattice cell may change across it (the third
// difference of the spots, in the panorama's pixels) for the cell to be
// interpolated: the quadratic interpolation's error is a hundredth of it.
constexpr double kMostBendChange = 1.0 / 64;

// One coordinate of the spots over a lattice cell, interpolated
// quadratically: bilinear between the corners, bent along rows and columns
// as the second differences at the corners say (interpolated across the
// cell), so that the error is of the third order. Along one row of the
// cell the coordinate is c0 + s (c1 + s c2), s the fraction across.
struct CellBend {
    double corner[4];  // top-left, top-right, bottom-left, bottom-right
    double top, bottom;  // the row bend along the cell's top and bottom
    double left, right;  // the column bend along its left and right sides
};

// A cell's bend of one coordinate (values at the spots, by index), or
// nothing where the bend changes too much across it.
std::optional<CellBend> cell_bend(const std::vector<double>& values, const PanoramaLattice& spots,
                                  int a, int b, double shift) {
    const auto v = [&](int da, int db) { return values[spots.index(a + da, b + db)]; };
    // Second differences along rows at the four corners, and along columns.
    const double row[4] = {v(-1, 0) - 2 * v(0, 0) + v(1, 0), v(0, 0) - 2 * v(1, 0) + v(2, 0),
                           v(-1, 1) - 2 * v(0, 1) + v(1, 1), v(0, 1) - 2 * v(1, 1) + v(2, 1)};
    const double column[4] = {v(0, -1) - 2 * v(0, 0) + v(0, 1), v(1, -1) - 2 * v(1, 0) + v(1, 1),
                              v(0, 0) - 2 * v(0, 1) + v(0, 2), v(1, 0) - 2 * v(1, 1) + v(1, 2)};
    for (const double change : {row[1] - row[0], row[3] - row[2], row[2] - row[0],
                                column[2] - column[0], column[3] - column[1],
                                column[1] - column[0]}) {
        if (!(std::fabs(change) <= kMostBendChange)) return std::nullopt;
    }
    return CellBend{{v(0, 0) + shift, v(1, 0) + shift, v(0, 1) + shift, v(1, 1) + shift},
                    (row[0] + row[1]) / 2,
                    (row[2] + row[3]) / 2,
                    (column[0] + column[2]) / 2,
                    (column[1] + column[3]) / 2};
}

// The spots of a cell, when all it and its neighbours' bends need were
// reached and it bends smoothly enough: x and y. Across a whole turn the
// cell is moved by whole turns so that its top-left spot lies on the
// picture.
struct CellSpots {
    CellBend x, y;
};

std::optional<CellSpots> cell_spots(const PanoramaLattice& spots, int a, int b, bool wraps,
                                    double turn) {
    for (int db = -1; db <= 2; ++db) {
        for (int da = -1; da <= 2; ++da) {
            const bool used = (da >= 0 && da <= 1) || (db >= 0 && db <= 1);
            if (used && !spots.reached[spots.index(a + da, b + db)]) return std::nullopt;
        }
    }
    const double shift = wraps ? -turn * std::floor(spots.x[spots.index(a, b)] / turn) : 0;
    const std::optional<CellBend> x = cell_bend(spots.x, spots, a, b, shift);
    const std::optional<CellBend> y = cell_bend(spots.y, spots, a, b, 0);
    if (!x || !y) return std::nullopt;
    return CellSpots{*x, *y};
}

// The spots over a band of rows between two lattice rows, per pixel: each
// coordinate c0 + t (c1 + t c2), t the row's fraction down the band; and
// the band's cells whose spots are worked out exactly, pixel by pixel.
struct SpotBand {
    std::vector<double> x0, x1, x2, y0, y1, y2;
    std::vector<int> exact_cells;

    void resize(std::size_t pixels) {
        for (std::vector<double>* c : {&x0, &x1, &x2, &y0, &y1, &y2}) c->assign(pixels, 0);
    }
};

// One coordinate's curves in t at the pixels of a cell (s = k / step):
// CellBend's quadratic interpolation gathered by powers of t.
TINTORA_ROW_LOOP void cell_curves(const CellBend& bend, const double* __restrict across, int count,
                                  double* __restrict c0, double* __restrict c1,
                                  double* __restrict c2) {
    const double* v = bend.corner;
    const double left_rise = v[2] - v[0] - bend.left / 2;
    const double right_rise = v[3] - v[1] - bend.right / 2;
    for (int k = 0; k < count; ++k) {
        const double s = across[k];
        const double sag = s * (1 - s) / 2;
        c0[k] = v[0] + s * (v[1] - v[0]) - sag * bend.top;
        c1[k] = left_rise + s * (right_rise - left_rise) - sag * (bend.bottom - bend.top);
        c2[k] = (bend.left + s * (bend.right - bend.left)) / 2;
    }
}

void spot_band(const PanoramaLattice& spots, const Lattice& lattice, int b, int width,
               bool wraps, double turn, SpotBand& band) {
    band.exact_cells.clear();
    for (int first = 0, a = 0; first < width; first += lattice.step, ++a) {
        const int count = std::min(lattice.step, width - first);
        const std::size_t n = static_cast<std::size_t>(first);
        const std::optional<CellSpots> cell = cell_spots(spots, a, b, wraps, turn);
        if (!cell) {
            band.exact_cells.push_back(a);
            continue;
        }
        const double* across = lattice.exact_fractions.data();
        cell_curves(cell->x, across, count, &band.x0[n], &band.x1[n], &band.x2[n]);
        cell_curves(cell->y, across, count, &band.y0[n], &band.y1[n], &band.y2[n]);
    }
}

// A row of one coordinate's spots in 256ths, rounded (moved by whole
// pixels while rounding, so that truncation rounds down).
constexpr double kSpotBias = 1 << 20;
TINTORA_ROW_LOOP void curve_row(const double* __restrict c0, const double* __restrict c1,
                                const double* __restrict c2, double t, int count,
                                std::int32_t* __restrict out) {
    for (int i = 0; i < count; ++i) {
        const double spot = c0[i] + t * (c1[i] + t * c2[i]);
        out[i] = static_cast<std::int32_t>((spot + kSpotBias) * 256 + 0.5) -
                 static_cast<std::int32_t>(kSpotBias * 256);
    }
}

// A row's spots in 256ths, and whether each was reached.
struct SpotRow {
    std::vector<std::int32_t> x, y;
    std::vector<std::uint8_t> reached;

    void resize(std::size_t count) {
        x.resize(count);
        y.resize(count);
        reached.resize(count);
    }
};

void exact_spots(const HotspotFrame& frame, const PanoramaGeometry& geometry, int j, int first,
                 int count, SpotRow& row) {
    for (int i = first; i < first + count; ++i) {
        const std::optional<PicturePosition> at =
            panorama_spot(geometry, frame.plane.direction(frame.plane_point(i, j)));
        const std::size_t n = static_cast<std::size_t>(i);
        row.reached[n] = at ? 1 : 0;
        row.x[n] = at ? in_256ths(at->x) : 0;
        row.y[n] = at ? in_256ths(at->y) : 0;
    }
}

// The panorama read at a spot in 256ths that the kernels cannot take: at
// the picture's last row or column, across the seam, or beyond the sides of
// a panorama that does not wrap.
void read_panorama_edge(const Frame& panorama, bool wraps, std::int32_t x, std::int32_t y,
                        std::uint8_t* out) {
    const int w = panorama.width();
    const int h = panorama.height();
    const int x0 = x >> 8;
    const int y0 = y >> 8;
    const auto column = [&](int c) { return wraps ? ((c % w) + w) % w : std::clamp(c, 0, w - 1); };
    const std::uint8_t* a = panorama.pixel(y0, column(x0));
    const std::uint8_t* b = panorama.pixel(y0, column(x0 + 1));
    const std::uint8_t* c = panorama.pixel(std::min(y0 + 1, h - 1), column(x0));
    const std::uint8_t* d = panorama.pixel(std::min(y0 + 1, h - 1), column(x0 + 1));
    for (int channel = 0; channel < 3; ++channel) {
        out[channel] = baked_channel(0, a[channel], b[channel], c[channel], d[channel], x & 255,
                                     y & 255, 256);
    }
}

// A row's taps for the kernels, and a byte per pixel: for the panorama
// whether its spot is one the kernels cannot take (its taps then read the
// picture's first pixels), for the clip the pixel's kind (RunKind).
struct RowTaps {
    std::vector<std::uint16_t> x, y;
    std::vector<std::uint8_t> fx, fy;
    std::vector<std::uint8_t> flag;

    void resize(std::size_t count) {
        x.resize(count);
        y.resize(count);
        fx.resize(count);
        fy.resize(count);
        flag.resize(count);
    }
};

struct PanoramaSize {
    int width, height;
    bool wraps;
};

TINTORA_ROW_LOOP void panorama_taps(const std::int32_t* __restrict xs,
                                    const std::int32_t* __restrict ys,
                                    const std::uint8_t* __restrict reached, int count,
                                    PanoramaSize size, std::uint16_t* __restrict tx,
                                    std::uint16_t* __restrict ty, std::uint8_t* __restrict fx,
                                    std::uint8_t* __restrict fy, std::uint8_t* __restrict edge) {
    const std::int32_t lowest = 256 * (size.height - 1);
    for (int i = 0; i < count; ++i) {
        const std::int32_t y = std::clamp(ys[i], 0, lowest);
        std::int32_t x0 = xs[i] >> 8;
        if (size.wraps) {
            x0 += x0 < 0 ? size.width : 0;
            x0 -= x0 >= size.width ? size.width : 0;
        }
        const std::int32_t y0 = y >> 8;
        const bool beyond = (reached[i] == 0) | (x0 < 0) | (x0 > size.width - 2) |
                            (y0 > size.height - 2);
        tx[i] = static_cast<std::uint16_t>(beyond ? 0 : x0);
        ty[i] = static_cast<std::uint16_t>(beyond ? 0 : y0);
        fx[i] = static_cast<std::uint8_t>(xs[i] & 255);
        fy[i] = static_cast<std::uint8_t>(y & 255);
        edge[i] = beyond ? 1 : 0;
    }
}

// ------------------------------------------------------------- clip's places

// The lattice's places are taken after a step of Newton's method this
// small: what is left is far below a ten-thousandth of a pixel.
constexpr double kLatticeStepTaken = 1e-6;

// A lattice point's places while they are worked out.
struct Solving {
    std::array<FramePoint, 4> places{};
    std::uint8_t asked = 0;  // the rules tried
    std::uint8_t found = 0;  // the rules that found a place
    int owner = -1;
};

struct LatticeSolver {
    const MeshMap& map;
    const HotspotFrame& frame;
    const Lattice& lattice;
    std::vector<Solving> points;

    Solving& at(int a, int b) {
        return points[static_cast<std::size_t>(b) * static_cast<std::size_t>(lattice.columns) +
                      static_cast<std::size_t>(a)];
    }
    PlanePoint target(int a, int b) const {
        return frame.plane_point(a * lattice.step, b * lattice.step);
    }

    // One quadrant's rule at a point, from the guess, else from anywhere
    // (as the rule asked once).
    std::optional<FramePoint> by_rule(Solving& point, PlanePoint target, FramePoint guess,
                                      int quadrant) {
        const auto bit = static_cast<std::uint8_t>(1u << quadrant);
        const std::size_t q = static_cast<std::size_t>(quadrant);
        if (!(point.asked & bit)) {
            point.asked |= bit;
            std::optional<FramePoint> found = map.frame_at(target, guess, quadrant, kLatticeStepTaken);
            if (!found) {
                found = map.frame_at(target, map.rough_frame_at(target), quadrant, kLatticeStepTaken);
            }
            if (found) {
                point.found |= bit;
                point.places[q] = *found;
            }
        }
        if (!(point.found & bit)) return std::nullopt;
        return point.places[q];
    }

    // The quadrant whose rule places the point inside it, trying the
    // guess's quadrant first, then the one its answer lies in.
    void find_owner(int a, int b, FramePoint guess) {
        Solving& point = at(a, b);
        const PlanePoint goal = target(a, b);
        int quadrant = quadrant_of(guess);
        for (int attempt = 0; attempt < 4; ++attempt) {
            const std::optional<FramePoint> found = by_rule(point, goal, guess, quadrant);
            if (!found) return;
            if (in_quadrant(*found, quadrant)) {
                point.owner = quadrant;
                return;
            }
            guess = *found;
            quadrant = quadrant_of(*found);
            if (point.asked & (1u << quadrant)) return;
        }
    }

    // Where to start a point's solve: on from the points before it in its
    // row (or column) that share its owner, by the parabola through the last
    // three (then one step mostly does), the line through the last two or
    // the last one; else from anywhere.
    FramePoint guess(int a, int b) {
        const auto from = [&](int da, int db) -> std::optional<FramePoint> {
            FramePoint before[3];
            int owner = -1;
            int count = 0;
            for (; count < 3; ++count) {
                const int a1 = a - (count + 1) * da;
                const int b1 = b - (count + 1) * db;
                if (a1 < 0 || b1 < 0) break;
                const Solving& point = at(a1, b1);
                if (point.owner < 0 || (count > 0 && point.owner != owner)) break;
                owner = point.owner;
                before[count] = point.places[static_cast<std::size_t>(owner)];
            }
            const FramePoint* p = before;
            switch (count) {
                case 3:
                    return FramePoint{3 * p[0].u - 3 * p[1].u + p[2].u,
                                      3 * p[0].v - 3 * p[1].v + p[2].v};
                case 2:
                    return FramePoint{2 * p[0].u - p[1].u, 2 * p[0].v - p[1].v};
                case 1:
                    return p[0];
                default:
                    return std::nullopt;
            }
        };
        if (const auto along = from(1, 0)) return *along;
        if (const auto down = from(0, 1)) return *down;
        return map.rough_frame_at(target(a, b));
    }

    // Where a cell's corners do not share one owner, the rules of every
    // owner among them (all four where one has none) at every corner: its
    // pixels choose between them.
    void solve_mixed_cell(int a, int b) {
        const int corners[4][2] = {{a, b}, {a + 1, b}, {a, b + 1}, {a + 1, b + 1}};
        unsigned rules = 0;
        bool unowned = false;
        for (const auto& c : corners) {
            const int owner = at(c[0], c[1]).owner;
            unowned = unowned || owner < 0;
            if (owner >= 0) rules |= 1u << owner;
        }
        if (!unowned && (rules & (rules - 1)) == 0) return;
        if (unowned) rules = 0xF;
        for (const auto& c : corners) {
            Solving& point = at(c[0], c[1]);
            const PlanePoint goal = target(c[0], c[1]);
            std::optional<FramePoint> start;
            for (int q = 0; q < 4; ++q) {
                if (point.found & (1u << q)) start = point.places[static_cast<std::size_t>(q)];
            }
            for (int q = 0; q < 4; ++q) {
                if (!(rules & (1u << q)) || (point.asked & (1u << q))) continue;
                if (!start) start = map.rough_frame_at(goal);
                by_rule(point, goal, *start, q);
            }
        }
    }
};

std::shared_ptr<const ClipLattice> clip_lattice(const HotspotFrame& frame, const MeshMap& map,
                                                const Lattice& lattice) {
    LatticeSolver solver{map, frame, lattice,
                         std::vector<Solving>(area(lattice.columns, lattice.rows))};
    for (int b = 0; b < lattice.rows; ++b) {
        for (int a = 0; a < lattice.columns; ++a) solver.find_owner(a, b, solver.guess(a, b));
    }
    for (int b = 0; b + 1 < lattice.rows; ++b) {
        for (int a = 0; a + 1 < lattice.columns; ++a) solver.solve_mixed_cell(a, b);
    }
    auto places = std::make_shared<ClipLattice>();
    places->step = lattice.step;
    places->columns = lattice.columns;
    places->rows = lattice.rows;
    places->fractions = lattice.fractions;
    places->points.resize(solver.points.size());
    for (std::size_t n = 0; n < solver.points.size(); ++n) {
        const Solving& solved = solver.points[n];
        ClipLattice::Point& point = places->points[n];
        for (std::size_t q = 0; q < 4; ++q) {
            const bool found = solved.found & (1u << q);
            point.u[q] = found ? static_cast<float>(solved.places[q].u)
                               : std::numeric_limits<float>::quiet_NaN();
            point.v[q] = found ? static_cast<float>(solved.places[q].v)
                               : std::numeric_limits<float>::quiet_NaN();
        }
        point.owner = static_cast<std::int8_t>(solved.owner);
    }
    return places;
}


// One quadrant's places at a cell's corners (top-left, top-right,
// bottom-left, bottom-right).
struct Candidate {
    int quadrant = 0;
    std::array<float, 4> u{}, v{};
};

// The candidates of a lattice cell: the one rule of an owner all four
// corners share, else the rules of every owner among them (all four where
// one has none) that place all four corners.
struct CellCandidates {
    int count = 0;
    bool shared = false;
    std::array<Candidate, 4> candidates{};
};

CellCandidates cell_candidates(const ClipLattice& lattice, int a, int b) {
    const ClipLattice::Point* corners[4] = {&lattice.at(a, b), &lattice.at(a + 1, b),
                                            &lattice.at(a, b + 1), &lattice.at(a + 1, b + 1)};
    const int owner = corners[0]->owner;
    if (owner >= 0 && corners[1]->owner == owner && corners[2]->owner == owner &&
        corners[3]->owner == owner) {
        // Mostly: one rule, whose places the owner has found.
        CellCandidates cell;
        cell.count = 1;
        cell.shared = true;
        Candidate& candidate = cell.candidates[0];
        candidate.quadrant = owner;
        for (std::size_t k = 0; k < 4; ++k) {
            candidate.u[k] = corners[k]->u[static_cast<std::size_t>(owner)];
            candidate.v[k] = corners[k]->v[static_cast<std::size_t>(owner)];
        }
        return cell;
    }
    unsigned rules = 0;
    bool unowned = false;
    for (const ClipLattice::Point* corner : corners) {
        unowned = unowned || corner->owner < 0;
        if (corner->owner >= 0) rules |= 1u << corner->owner;
    }
    CellCandidates cell;
    cell.shared = !unowned && (rules & (rules - 1)) == 0;
    if (unowned) rules = 0xF;
    for (int q = 0; q < 4; ++q) {
        if (!(rules & (1u << q))) continue;
        Candidate candidate;
        candidate.quadrant = q;
        bool missing = false;
        for (std::size_t k = 0; k < 4; ++k) {
            candidate.u[k] = corners[k]->u[static_cast<std::size_t>(q)];
            candidate.v[k] = corners[k]->v[static_cast<std::size_t>(q)];
            missing = missing || std::isnan(candidate.u[k]) || std::isnan(candidate.v[k]);
        }
        if (!missing) cell.candidates[static_cast<std::size_t>(cell.count++)] = candidate;
    }
    cell.shared = cell.shared && cell.count == 1;
    return cell;
}

// A candidate's place at fractions s across and t down its cell: along
// the cell's top and bottom first, then between them, in single precision
// (a ten-thousandth of a pixel of a 4096-pixel clip). The band rows below
// work it out the same way, step by step.
struct Interpolated {
    float top, rise;
};
__attribute__((always_inline)) inline Interpolated across_cell(const std::array<float, 4>& corner,
                                                               float s) {
    const float top = corner[0] + (corner[1] - corner[0]) * s;
    const float bottom = corner[2] + (corner[3] - corner[2]) * s;
    return {top, bottom - top};
}

// The places of `count` pixels of a cell at fractions across[k] and
// down[k]: the candidate that lies in its own quadrant, else the one least
// beyond it; NaN where there is none. Each candidate in turn replaces the
// places so far where it lies less beyond its quadrant (none lies less than
// not at all, so the first inside stays).
TINTORA_ROW_LOOP void choose_places(const CellCandidates& cell, const float* __restrict across,
                                    const float* __restrict down, int count,
                                    float* __restrict us, float* __restrict vs,
                                    float* __restrict least_beyond) {
    for (int k = 0; k < count; ++k) {
        us[k] = std::numeric_limits<float>::quiet_NaN();
        vs[k] = std::numeric_limits<float>::quiet_NaN();
        least_beyond[k] = std::numeric_limits<float>::infinity();
    }
    for (int c = 0; c < cell.count; ++c) {
        const Candidate& candidate = cell.candidates[static_cast<std::size_t>(c)];
        const float left = candidate.quadrant % 2 == 0 ? 1.0f : -1.0f;
        const float up = candidate.quadrant / 2 == 0 ? 1.0f : -1.0f;
        for (int k = 0; k < count; ++k) {
            const Interpolated along_u = across_cell(candidate.u, across[k]);
            const Interpolated along_v = across_cell(candidate.v, across[k]);
            const float u = along_u.top + along_u.rise * down[k];
            const float v = along_v.top + along_v.rise * down[k];
            const float beyond_u = left * (u - 0.5f);
            const float beyond_v = up * (v - 0.5f);
            const float beyond =
                (beyond_u > 0.0f ? beyond_u : 0.0f) + (beyond_v > 0.0f ? beyond_v : 0.0f);
            const bool nearer = beyond < least_beyond[k];
            us[k] = nearer ? u : us[k];
            vs[k] = nearer ? v : vs[k];
            least_beyond[k] = nearer ? beyond : least_beyond[k];
        }
    }
}

// How a lattice cell's pixels are planned: the panorama alone (its
// candidates' corners all lie outside the clip, and each place lies between
// its candidate's corners), the clip alone (its corners lie inside the clip
// beyond the soft edge), or each pixel worked out.
enum class CellPlan : std::uint8_t { Panorama, Clip, Each };

// The clip's soft edge in frame positions, and a margin beyond the
// rounding of single precision.
struct ClipEdge {
    float band_u = 0, band_v = 0;
};
constexpr float kPlanSlack = 1e-3f;

CellPlan cell_plan(const CellCandidates& cell, const ClipEdge& edge) {
    if (cell.count == 0) return CellPlan::Panorama;
    float least_u = 2, most_u = -1, least_v = 2, most_v = -1;
    for (int c = 0; c < cell.count; ++c) {
        const Candidate& candidate = cell.candidates[static_cast<std::size_t>(c)];
        least_u = std::min(least_u, *std::min_element(candidate.u.begin(), candidate.u.end()));
        most_u = std::max(most_u, *std::max_element(candidate.u.begin(), candidate.u.end()));
        least_v = std::min(least_v, *std::min_element(candidate.v.begin(), candidate.v.end()));
        most_v = std::max(most_v, *std::max_element(candidate.v.begin(), candidate.v.end()));
    }
    if (most_u < -kPlanSlack || least_u > 1 + kPlanSlack || most_v < -kPlanSlack ||
        least_v > 1 + kPlanSlack) {
        return CellPlan::Panorama;
    }
    const bool within = least_u > edge.band_u + kPlanSlack && most_u < 1 - edge.band_u - kPlanSlack &&
                        least_v > edge.band_v + kPlanSlack && most_v < 1 - edge.band_v - kPlanSlack;
    return cell.shared && within ? CellPlan::Clip : CellPlan::Each;
}

// The places over a band of rows between two lattice rows, per pixel of
// the cells worked out pixel by pixel: at the band's top and how much they
// rise to its bottom, where a cell's corners share an owner; the band's
// stretches of cells of one plan, with the cells among them whose pixels
// choose between candidates; and the corners of its Clip cells.
struct PlaceBand {
    struct Stretch {
        CellPlan plan;
        int first, count;  // pixels
    };
    std::vector<float> top_u, rise_u, top_v, rise_v;
    std::vector<Stretch> stretches;
    // The places at the corners of the band's Clip cells, by cell.
    std::vector<Candidate> clip_cells;
    // The cells whose pixels choose, and the places they chose, a block of
    // step by step places (row by row) for each.
    std::vector<int> choosing;
    std::vector<float> chosen_u, chosen_v;
    // Each pixel of a block's fractions across and down, and a place for
    // choose_places to keep its comparisons.
    std::vector<float> block_across, block_down, block_beyond;

    void resize(std::size_t pixels, const Lattice& lattice) {
        for (std::vector<float>* c : {&top_u, &rise_u, &top_v, &rise_v}) c->assign(pixels, 0);
        clip_cells.resize(static_cast<std::size_t>(lattice.columns));
        const std::size_t step = static_cast<std::size_t>(lattice.step);
        block_across.resize(step * step);
        block_down.resize(step * step);
        block_beyond.resize(step * step);
        for (std::size_t n = 0; n < step * step; ++n) {
            block_across[n] = lattice.fractions[n % step];
            block_down[n] = lattice.fractions[n / step];
        }
    }
};

// A shared cell's places at its pixels' fractions across: along its top
// and how much they rise to its bottom.
TINTORA_ROW_LOOP void cell_places(const Candidate& candidate, const float* __restrict across,
                                  int count, float* __restrict top_u, float* __restrict rise_u,
                                  float* __restrict top_v, float* __restrict rise_v) {
    for (int k = 0; k < count; ++k) {
        const Interpolated along_u = across_cell(candidate.u, across[k]);
        const Interpolated along_v = across_cell(candidate.v, across[k]);
        top_u[k] = along_u.top;
        rise_u[k] = along_u.rise;
        top_v[k] = along_v.top;
        rise_v[k] = along_v.rise;
    }
}

void place_band(const ClipLattice& lattice, const std::vector<CellPlan>& plans, int b, int width,
                PlaceBand& band) {
    band.stretches.clear();
    band.choosing.clear();
    band.chosen_u.clear();
    band.chosen_v.clear();
    const std::size_t row = static_cast<std::size_t>(b) * static_cast<std::size_t>(lattice.columns);
    for (int first = 0, a = 0; first < width; first += lattice.step, ++a) {
        const int count = std::min(lattice.step, width - first);
        const CellPlan plan = plans[row + static_cast<std::size_t>(a)];
        if (!band.stretches.empty() && band.stretches.back().plan == plan) {
            band.stretches.back().count += count;
        } else {
            band.stretches.push_back({plan, first, count});
        }
        if (plan == CellPlan::Panorama) continue;
        const CellCandidates cell = cell_candidates(lattice, a, b);
        if (plan == CellPlan::Clip) {
            band.clip_cells[static_cast<std::size_t>(a)] = cell.candidates[0];
            continue;
        }
        if (!cell.shared) {
            const std::size_t block = band.block_across.size();
            const std::size_t at = band.choosing.size() * block;
            band.choosing.push_back(a);
            band.chosen_u.resize(at + block);
            band.chosen_v.resize(at + block);
            choose_places(cell, band.block_across.data(), band.block_down.data(),
                          static_cast<int>(block), band.chosen_u.data() + at,
                          band.chosen_v.data() + at, band.block_beyond.data());
            continue;
        }
        const std::size_t n = static_cast<std::size_t>(first);
        cell_places(cell.candidates[0], lattice.fractions.data(), count, band.top_u.data() + n,
                    band.rise_u.data() + n, band.top_v.data() + n, band.rise_v.data() + n);
    }
}

TINTORA_ROW_LOOP void band_row(const float* __restrict top, const float* __restrict rise, float t,
                               int count, float* __restrict out) {
    for (int i = 0; i < count; ++i) out[i] = top[i] + rise[i] * t;
}

// The places of a row's pixels [first, first + count): NaN where there is
// none.
void row_places(const ClipLattice& lattice, const PlaceBand& band, int row, float t, int first,
                int count, float* us, float* vs) {
    const std::size_t n = static_cast<std::size_t>(first);
    band_row(band.top_u.data() + n, band.rise_u.data() + n, t, count, us + n);
    band_row(band.top_v.data() + n, band.rise_v.data() + n, t, count, vs + n);
    const std::size_t step = static_cast<std::size_t>(lattice.step);
    for (std::size_t c = 0; c < band.choosing.size(); ++c) {
        const int cell_first = band.choosing[c] * lattice.step;
        if (cell_first < first || cell_first >= first + count) continue;
        const std::size_t from = (c * step + static_cast<std::size_t>(row)) * step;
        const std::size_t to = static_cast<std::size_t>(cell_first);
        const std::size_t length =
            static_cast<std::size_t>(std::min(lattice.step, first + count - cell_first));
        std::memcpy(us + to, band.chosen_u.data() + from, length * sizeof(float));
        std::memcpy(vs + to, band.chosen_v.data() + from, length * sizeof(float));
    }
}

// The clip's size and soft edge as the taps need them.
struct ClipScale {
    float last_x = 0, last_y = 0;  // width - 1, height - 1
    // The farthest taps in 256ths: the right and lower taps stay inside.
    std::int32_t most_x = 0, most_y = 0;
    float per_blend = 0;  // 1 / edge_blend
    // Where the clip shows: 1, or 256 without a soft edge.
    std::int32_t least_weight = 256;
};

// The kinds of the pixels of a plan's runs.
constexpr std::uint8_t kPanoramaPixel = 0;
constexpr std::uint8_t kClipPixel = 1;
constexpr std::uint8_t kBlendPixel = 2;

// Pixel i's taps of a place in the clip (0..1), in 256ths.
struct TapArrays {
    std::uint16_t* __restrict x;
    std::uint16_t* __restrict y;
    std::uint8_t* __restrict fx;
    std::uint8_t* __restrict fy;
};
__attribute__((always_inline)) inline void set_taps(const ClipScale& scale, float u, float v,
                                                    const TapArrays& taps, int i) {
    const std::int32_t x =
        std::min(static_cast<std::int32_t>(u * scale.last_x * 256.0f + 0.5f), scale.most_x);
    const std::int32_t y =
        std::min(static_cast<std::int32_t>(v * scale.last_y * 256.0f + 0.5f), scale.most_y);
    taps.x[i] = static_cast<std::uint16_t>(x >> 8);
    taps.y[i] = static_cast<std::uint16_t>(y >> 8);
    taps.fx[i] = static_cast<std::uint8_t>(x & 255);
    taps.fy[i] = static_cast<std::uint8_t>(y & 255);
}

// The taps of a row's places, each pixel's kind, and the clip's weight in
// 256ths less one where it blends; NaN places lie outside.
TINTORA_ROW_LOOP void clip_taps(ClipScale scale, const float* __restrict us,
                                const float* __restrict vs, int count, TapArrays taps,
                                std::uint8_t* __restrict kinds,
                                std::uint8_t* __restrict weights) {
    for (int i = 0; i < count; ++i) {
        const bool inside = (us[i] >= 0.0f) & (us[i] <= 1.0f) & (vs[i] >= 0.0f) & (vs[i] <= 1.0f);
        const float u = inside ? us[i] : 0.0f;
        const float v = inside ? vs[i] : 0.0f;
        set_taps(scale, u, v, taps, i);
        // All of the clip inside the band along its outline, fading
        // smoothly to nothing at the outline. (Comparisons written out:
        // std::min would bring back the floating-point exceptions this loop
        // ignores.)
        const float across = (u < 1.0f - u ? u : 1.0f - u) * scale.last_x;
        const float down = (v < 1.0f - v ? v : 1.0f - v) * scale.last_y;
        const float nearest = (across < down ? across : down) * scale.per_blend;
        const float t = nearest < 1.0f ? nearest : 1.0f;
        const float smooth = t * t * (3.0f - 2.0f * t);
        const std::int32_t weight =
            std::max(static_cast<std::int32_t>(smooth * 256.0f + 0.5f), scale.least_weight);
        kinds[i] = !inside ? kPanoramaPixel : weight == 256 ? kClipPixel : kBlendPixel;
        weights[i] = static_cast<std::uint8_t>(weight - 1);
    }
}

// A TapLine's places are in 65536ths of a clip pixel: with the clip at
// most this wide and high they stay far inside 32 bits.
constexpr double kLineUnit = 65536;
constexpr int kWidestLineClip = 16384;

// The lines of a band's Clip cells, by cell: each of a TapLine's numbers
// at + rise t at fraction t down the band, straight between the cell's
// places on its left and right sides.
struct BandLines {
    std::array<std::vector<double>, 4> at, rise;  // x, y, dx, dy

    void resize(std::size_t cells) {
        for (std::vector<double>& c : at) c.assign(cells, 0);
        for (std::vector<double>& c : rise) c.assign(cells, 0);
    }
};

void band_lines(const ClipScale& scale, const PlaceBand& band, int step, BandLines& lines) {
    for (const PlaceBand::Stretch& stretch : band.stretches) {
        if (stretch.plan != CellPlan::Clip) continue;
        const int first = stretch.first / step;
        const int end = (stretch.first + stretch.count + step - 1) / step;
        for (int a = first; a < end; ++a) {
            const std::size_t n = static_cast<std::size_t>(a);
            const Candidate& cell = band.clip_cells[n];
            const auto set = [&](const std::array<float, 4>& c, double last, std::size_t start,
                                 std::size_t slope) {
                const double unit = last * kLineUnit;
                lines.at[start][n] = c[0] * unit;
                lines.rise[start][n] = (double(c[2]) - c[0]) * unit;
                lines.at[slope][n] = (double(c[1]) - c[0]) * unit / step;
                lines.rise[slope][n] =
                    ((double(c[3]) - c[1]) - (double(c[2]) - c[0])) * unit / step;
            };
            set(cell.u, scale.last_x, 0, 2);
            set(cell.v, scale.last_y, 1, 3);
        }
    }
}

// The lines of cells [first, first + count) of a row at fraction t down
// its band, rounded.
TINTORA_ROW_LOOP void row_lines(const BandLines& lines, int first, int count, double t,
                                TapLine* __restrict out) {
    const auto line = [&](std::size_t c, int a) {
        const std::size_t n = static_cast<std::size_t>(a);
        return static_cast<std::int32_t>(std::floor(lines.at[c][n] + lines.rise[c][n] * t + 0.5));
    };
    for (int k = 0; k < count; ++k) {
        out[k] =
            TapLine{line(0, first + k), line(1, first + k), line(2, first + k), line(3, first + k)};
    }
}

// The taps of the `cells` lines of a Line run, `step` pixels each: plain
// integer arithmetic, the same bytes whichever set runs it. Each cell
// writes kLatticeStep taps, one vector's worth, the ones past its own
// overwritten by the next cell's (the arrays have room past the run).
TINTORA_ROW_LOOP void line_taps(const TapLine* __restrict lines, int cells, int step,
                                std::int32_t most_x, std::int32_t most_y,
                                std::uint16_t* __restrict tx, std::uint16_t* __restrict ty,
                                std::uint8_t* __restrict fx, std::uint8_t* __restrict fy) {
    for (int c = 0; c < cells; ++c) {
        const TapLine line = lines[c];
        const int first = c * step;
        for (int k = 0; k < kLatticeStep; ++k) {
            // In 256ths, rounded; kept on the clip however a line rounds.
            const std::int32_t x = std::clamp((line.x + k * line.dx + 128) >> 8, 0, most_x);
            const std::int32_t y = std::clamp((line.y + k * line.dy + 128) >> 8, 0, most_y);
            tx[first + k] = static_cast<std::uint16_t>(x >> 8);
            ty[first + k] = static_cast<std::uint16_t>(y >> 8);
            fx[first + k] = static_cast<std::uint8_t>(x & 255);
            fy[first + k] = static_cast<std::uint8_t>(y & 255);
        }
    }
}

// Where a row's pixels of one kind from `first` on end.
int end_of_kind(const std::uint8_t* kinds, int first, int end) {
    const std::uint8_t kind = kinds[first];
    const std::uint64_t same = 0x0101010101010101ull * kind;
    int i = first + 1;
    for (std::uint64_t eight; i + 8 <= end; i += 8) {
        std::memcpy(&eight, kinds + i, sizeof eight);
        if (eight != same) break;
    }
    while (i < end && kinds[i] == kind) ++i;
    return i;
}

}  // namespace

double HotspotFrame::horizontal_fov() const { return 2 * std::atan(tan_alpha) * kDegreesPerRadian; }

double HotspotFrame::vertical_fov() const { return 2 * std::atan(tan_beta) * kDegreesPerRadian; }

PlanePoint HotspotFrame::plane_point(double i, double j) const {
    return {(2 * (i + 0.5) / width - 1) * tan_alpha, (1 - 2 * (j + 0.5) / height) * tan_beta};
}

HotspotPlacement place_hotspot(const MeshMap& map, FrameSize clip) {
    HotspotPlacement placement;
    if (clip.width < 2 || clip.height < 2) {
        placement.problem = HotspotProblem::TooSmall;
        return placement;
    }
    double most_x = 0;
    double most_y = 0;
    for (int step = 0; step <= kOutlineSteps; ++step) {
        const double s = double(step) / kOutlineSteps;
        for (const FramePoint at : {FramePoint{s, 0}, FramePoint{s, 1}, FramePoint{0, s},
                                    FramePoint{1, s}}) {
            const std::optional<PlanePoint> p = map.plane_at(at);
            if (!p) {
                placement.problem = HotspotProblem::TooWide;
                return placement;
            }
            most_x = std::max(most_x, std::fabs(p->x));
            most_y = std::max(most_y, std::fabs(p->y));
        }
    }
    const double widest = std::tan(kWidestHotspot / 2 / kDegreesPerRadian);
    if (!(most_x > 0 && most_y > 0) || most_x > widest || most_y > widest) {
        placement.problem = HotspotProblem::TooWide;
        return placement;
    }
    if (map.folded()) {
        placement.problem = HotspotProblem::Folded;
        return placement;
    }
    // The clip's sharpness at the centre: plane units per clip pixel, the
    // finer of across and down.
    constexpr double kStep = 1e-4;
    const PlanePoint centre = *map.plane_at({0.5, 0.5});
    const PlanePoint across = *map.plane_at({0.5 + kStep, 0.5});
    const PlanePoint down = *map.plane_at({0.5, 0.5 + kStep});
    const double unit_across =
        std::hypot(across.x - centre.x, across.y - centre.y) / kStep / (clip.width - 1);
    const double unit_down =
        std::hypot(down.x - centre.x, down.y - centre.y) / kStep / (clip.height - 1);
    const double unit = std::min(unit_across, unit_down);

    HotspotFrame& frame = placement.frame;
    frame.plane = map.plane();
    frame.centre = angles_of(map.plane().centre);
    // The margin in the frame's own pixels, which are about the clip's.
    frame.tan_alpha = most_x + kHotspotMargin * unit;
    frame.tan_beta = most_y + kHotspotMargin * unit;
    const auto corner = [&frame](double x, double y) {
        return frame.plane.direction({x * frame.tan_alpha, y * frame.tan_beta});
    };
    const Vec3 top_left = corner(-1, 1);
    const Vec3 top_right = corner(1, 1);
    const Vec3 bottom_right = corner(1, -1);
    const Vec3 bottom_left = corner(-1, -1);
    frame.corners = {angles_of(top_left), angles_of(top_right), angles_of(bottom_right),
                     angles_of(bottom_left)};
    // As many pixels across as the clip gives at the centre, the height in
    // the ratio of the arcs a viewer stretches the frame over.
    double width = 2 * frame.tan_alpha / unit;
    width = std::min(width, double(kWidestHotspotVideo));
    frame.width = std::min(even_at_least_two(width), kWidestHotspotVideo);
    const double ratio = arc_degrees(top_left, bottom_left) / arc_degrees(top_left, top_right);
    frame.height = even_at_least_two(frame.width * ratio);
    frame.krpano = {frame.centre.yaw, -frame.centre.pitch, 1000 * frame.tan_alpha,
                    1000 * frame.tan_beta};
    return placement;
}

Frame panorama_in_frame(const HotspotFrame& frame, const Frame& panorama,
                        const PanoramaGeometry& geometry) {
    const int w = frame.width;
    const int h = frame.height;
    Frame out;
    if (w <= 0 || h <= 0) return out;
    if (panorama.empty()) {
        out.resize(w, h);
        return out;
    }
    out.resize_for_overwrite(w, h);
    const bool wraps = wraps_around(geometry);
    const double turn = geometry.width;
    const PanoramaSize size{panorama.width(), panorama.height(), wraps};
    // The spots on a lattice, interpolated within each cell that bends
    // smoothly; exact in the others (near a pole, at the panorama's edges).
    const Lattice lattice = lattice_of(frame);
    const PanoramaLattice spots = panorama_lattice(frame, lattice, geometry);
    const BakeSource source{panorama.data(), panorama.stride(), panorama.height()};
    const hotspot_detail::BakeKernel kernel = hotspot_detail::bake_kernel(source);
    const bool kernel_reads = panorama.width() >= 2 && panorama.height() >= 2;
    const std::size_t width = static_cast<std::size_t>(w);
    SpotBand band;
    band.resize(width);
    SpotRow row;
    row.resize(width);
    RowTaps taps;
    taps.resize(width);
    for (int j = 0; j < h; ++j) {
        const int b = j / lattice.step;
        const int k = j - b * lattice.step;
        if (k == 0) spot_band(spots, lattice, b, w, wraps, turn, band);
        const double t = lattice.exact_fractions[static_cast<std::size_t>(k)];
        curve_row(band.x0.data(), band.x1.data(), band.x2.data(), t, w, row.x.data());
        curve_row(band.y0.data(), band.y1.data(), band.y2.data(), t, w, row.y.data());
        std::memset(row.reached.data(), 1, width);
        for (const int a : band.exact_cells) {
            const int first = a * lattice.step;
            exact_spots(frame, geometry, j, first, std::min(lattice.step, w - first), row);
        }
        panorama_taps(row.x.data(), row.y.data(), row.reached.data(), w, size, taps.x.data(),
                      taps.y.data(), taps.fx.data(), taps.fy.data(), taps.flag.data());
        std::uint8_t* line = out.row(j);
        if (kernel_reads) {
            kernel(source, BakeSpan{taps.x.data(), taps.y.data(), taps.fx.data(), taps.fy.data(),
                                    nullptr, nullptr, line, width});
        }
        // The spots the kernel could not take, rare.
        const std::uint8_t* edges = taps.flag.data();
        for (std::size_t i = 0; i < width; ++i) {
            const void* at = std::memchr(edges + i, 1, width - i);
            if (!at) break;
            i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(at) - edges);
            if (row.reached[i]) {
                read_panorama_edge(panorama, wraps, row.x[i],
                                   std::clamp(row.y[i], 0, 256 * (panorama.height() - 1)),
                                   line + 3 * i);
            } else {
                std::memset(line + 3 * i, 0, 3);
            }
        }
    }
    return out;
}

HotspotBake::HotspotBake(const HotspotFrame& frame, const MeshMap& map, FrameSize clip,
                         const Frame& panorama, const PanoramaGeometry& geometry, int edge_blend)
    : HotspotBake(frame, map, clip, panorama_in_frame(frame, panorama, geometry), edge_blend) {}

HotspotBake::HotspotBake(const HotspotFrame& frame, const MeshMap& map, FrameSize clip,
                         Frame background, int edge_blend)
    : frame_(frame), clip_(clip), background_(std::move(background)) {
    // The exact inverse on a lattice of frame pixels, by the rule of the
    // quadrant each place lies in (smooth, where the whole map bends between
    // quadrants); where a lattice cell's corners lie in different quadrants
    // by the rules of each, and each pixel there takes the quadrant whose
    // interpolated place lies in that quadrant.
    lattice_ = clip_lattice(frame, map, lattice_of(frame));
    plan_rows(edge_blend);
}

void HotspotBake::plan_rows(int edge_blend) {
    const int w = frame_.width;
    const int h = frame_.height;
    row_runs_.assign(1, 0);
    if (w <= 0 || h <= 0 || clip_.width < 2 || clip_.height < 2) {
        row_runs_.assign(static_cast<std::size_t>(std::max(h, 0)) + 1, 0);
        return;
    }
    const ClipLattice& lattice = *lattice_;
    const int step = lattice.step;
    // Every cell's plan, and how many pixels need taps and weights.
    const float edge_width = static_cast<float>(std::max(edge_blend, 0) + 1);
    const ClipEdge edge{edge_width / static_cast<float>(clip_.width - 1),
                        edge_width / static_cast<float>(clip_.height - 1)};
    std::vector<CellPlan> plans(area(lattice.columns, lattice.rows), CellPlan::Panorama);
    // A clip too large for the lines' units has every pixel's taps stored.
    const bool lines_fit = clip_.width <= kWidestLineClip && clip_.height <= kWidestLineClip;
    std::size_t tap_count = 0;
    std::size_t line_count = 0;
    std::size_t blend_count = 0;
    for (int b = 0; b * step < h; ++b) {
        for (int a = 0; a * step < w; ++a) {
            CellPlan plan = cell_plan(cell_candidates(lattice, a, b), edge);
            if (plan == CellPlan::Clip && !lines_fit) plan = CellPlan::Each;
            plans[static_cast<std::size_t>(b) * static_cast<std::size_t>(lattice.columns) +
                  static_cast<std::size_t>(a)] = plan;
            const int rows = std::min(step, h - b * step);
            const std::size_t pixels = area(std::min(step, w - a * step), rows);
            if (plan == CellPlan::Clip) line_count += static_cast<std::size_t>(rows);
            if (plan == CellPlan::Each) tap_count += pixels;
            if (plan == CellPlan::Each && edge_blend > 0) blend_count += pixels;
        }
    }
    tap_x_.reserve(tap_count);
    tap_y_.reserve(tap_count);
    fraction_x_.reserve(tap_count);
    fraction_y_.reserve(tap_count);
    weights_.reserve(blend_count);
    lines_.reserve(line_count);
    line_step_ = step;

    const ClipScale scale{static_cast<float>(clip_.width - 1),
                          static_cast<float>(clip_.height - 1),
                          256 * (clip_.width - 1) - 1,
                          256 * (clip_.height - 1) - 1,
                          edge_blend > 0 ? 1.0f / static_cast<float>(edge_blend) : 0.0f,
                          edge_blend > 0 ? 1 : 256};
    const std::size_t width = static_cast<std::size_t>(w);
    PlaceBand band;
    band.resize(width, lattice_of(frame_));
    BandLines band_line;
    band_line.resize(static_cast<std::size_t>(lattice.columns));
    std::vector<float> us(width);
    std::vector<float> vs(width);
    std::vector<std::uint8_t> weights(width);
    RowTaps taps;
    taps.resize(width);
    const auto stored_taps = [this](std::size_t count) {
        return TapArrays{tap_x_.extend(count), tap_y_.extend(count), fraction_x_.extend(count),
                         fraction_y_.extend(count)};
    };
    for (int j = 0; j < h; ++j) {
        const int b = j / step;
        const int k = j - b * step;
        if (k == 0) {
            place_band(lattice, plans, b, w, band);
            band_lines(scale, band, step, band_line);
        }
        const float t = lattice.fractions[static_cast<std::size_t>(k)];
        const double exact_t = static_cast<double>(k) / step;
        const std::size_t row_start = runs_.size();
        // A run, joined to the one before when it goes on from it.
        const auto add_run = [&](RunKind kind, int first, int count, std::size_t at,
                                 std::size_t weighed) {
            const Run run{first, count, kind, static_cast<std::uint32_t>(at),
                          static_cast<std::uint32_t>(weighed)};
            if (runs_.size() > row_start) {
                Run& last = runs_.back();
                const std::uint32_t length = static_cast<std::uint32_t>(last.length);
                bool goes_on = last.kind == kind;
                switch (kind) {
                    case RunKind::Panorama:
                        break;
                    case RunKind::Line:
                        goes_on = goes_on && last.length % step == 0 &&
                                  last.taps + length / static_cast<std::uint32_t>(step) == run.taps;
                        break;
                    case RunKind::Blend:
                        goes_on = goes_on && last.weights + length == run.weights;
                        [[fallthrough]];
                    case RunKind::Clip:
                        goes_on = goes_on && last.taps + length == run.taps;
                        break;
                }
                if (goes_on) {
                    last.length += count;
                    return;
                }
            }
            runs_.push_back(run);
        };
        for (const PlaceBand::Stretch& stretch : band.stretches) {
            const std::size_t first = static_cast<std::size_t>(stretch.first);
            switch (stretch.plan) {
                case CellPlan::Panorama:
                    add_run(RunKind::Panorama, stretch.first, stretch.count, 0, 0);
                    break;
                case CellPlan::Clip: {
                    // Clip stretches are whole cells, the last one cut at the frame's edge.
                    const std::size_t at = lines_.size();
                    const int cells = (stretch.count + step - 1) / step;
                    row_lines(band_line, stretch.first / step, cells, exact_t,
                              lines_.extend(static_cast<std::size_t>(cells)));
                    add_run(RunKind::Line, stretch.first, stretch.count, at, 0);
                    break;
                }
                case CellPlan::Each: {
                    row_places(lattice, band, k, t, stretch.first, stretch.count, us.data(),
                               vs.data());
                    clip_taps(scale, us.data() + first, vs.data() + first, stretch.count,
                              TapArrays{taps.x.data() + first, taps.y.data() + first,
                                        taps.fx.data() + first, taps.fy.data() + first},
                              taps.flag.data() + first, weights.data() + first);
                    const int end = stretch.first + stretch.count;
                    for (int i = stretch.first; i < end;) {
                        const int kind_end = end_of_kind(taps.flag.data(), i, end);
                        const std::uint8_t kind = taps.flag[static_cast<std::size_t>(i)];
                        const std::size_t n = static_cast<std::size_t>(i);
                        const std::size_t length = static_cast<std::size_t>(kind_end - i);
                        if (kind == kPanoramaPixel) {
                            add_run(RunKind::Panorama, i, kind_end - i, 0, 0);
                        } else {
                            const std::size_t at = tap_x_.size();
                            const TapArrays to = stored_taps(length);
                            std::memcpy(to.x, taps.x.data() + n, length * sizeof *to.x);
                            std::memcpy(to.y, taps.y.data() + n, length * sizeof *to.y);
                            std::memcpy(to.fx, taps.fx.data() + n, length);
                            std::memcpy(to.fy, taps.fy.data() + n, length);
                            std::size_t weighed = 0;
                            if (kind == kBlendPixel) {
                                weighed = weights_.size();
                                std::memcpy(weights_.extend(length), weights.data() + n, length);
                            }
                            add_run(kind == kClipPixel ? RunKind::Clip : RunKind::Blend, i,
                                    kind_end - i, at, weighed);
                        }
                        i = kind_end;
                    }
                    break;
                }
            }
        }
        row_runs_.push_back(static_cast<std::uint32_t>(runs_.size()));
    }
}

std::optional<FramePoint> HotspotBake::place(int i, int j) const {
    if (i < 0 || j < 0 || i >= frame_.width || j >= frame_.height) return std::nullopt;
    const ClipLattice& lattice = *lattice_;
    const int a = i / lattice.step;
    const int b = j / lattice.step;
    float u = 0;
    float v = 0;
    float beyond = 0;
    choose_places(cell_candidates(lattice, a, b), &lattice.fractions[static_cast<std::size_t>(i - a * lattice.step)],
                  &lattice.fractions[static_cast<std::size_t>(j - b * lattice.step)], 1, &u, &v,
                  &beyond);
    if (std::isnan(u) || std::isnan(v)) return std::nullopt;
    return FramePoint{u, v};
}

std::size_t HotspotBake::lookup_bytes() const {
    const std::size_t taps = tap_x_.size();
    return lattice_->points.size() * sizeof(ClipLattice::Point) + runs_.size() * sizeof(Run) +
           row_runs_.size() * sizeof(std::uint32_t) + taps * (2 * sizeof(std::uint16_t) + 2) +
           weights_.size() + lines_.size() * sizeof(TapLine);
}

void HotspotBake::bake(const Frame& clip, Frame& out) const {
    const int w = frame_.width;
    const int h = frame_.height;
    if (clip.width() != clip_.width || clip.height() != clip_.height) {
        out = background_;
        return;
    }
    // Every pixel is written: a frame of the right size is used as it is.
    if (out.width() != w || out.height() != h) out.resize_for_overwrite(w, h);
    const BakeSource source{clip.data(), clip.stride(), clip.height()};
    const hotspot_detail::BakeKernel kernel = hotspot_detail::bake_kernel(source);
    // The Line runs' taps, worked out row by row.
    RowTaps line_row;
    line_row.resize(static_cast<std::size_t>(w + kLatticeStep));
    const std::int32_t most_x = 256 * (clip_.width - 1) - 1;
    const std::int32_t most_y = 256 * (clip_.height - 1) - 1;
    for (int j = 0; j < h; ++j) {
        const std::uint8_t* panorama = background_.row(j);
        std::uint8_t* row = out.row(j);
        for (std::uint32_t r = row_runs_[static_cast<std::size_t>(j)];
             r < row_runs_[static_cast<std::size_t>(j) + 1]; ++r) {
            const Run& run = runs_[r];
            const std::size_t first = static_cast<std::size_t>(run.first);
            const std::size_t length = static_cast<std::size_t>(run.length);
            if (run.kind == RunKind::Panorama) {
                std::memcpy(row + 3 * first, panorama + 3 * first, 3 * length);
                continue;
            }
            if (run.kind == RunKind::Line) {
                line_taps(lines_.data() + run.taps, (run.length + line_step_ - 1) / line_step_,
                          line_step_, most_x, most_y, line_row.x.data(), line_row.y.data(),
                          line_row.fx.data(), line_row.fy.data());
                kernel(source,
                       BakeSpan{line_row.x.data(), line_row.y.data(), line_row.fx.data(),
                                line_row.fy.data(), nullptr, nullptr, row + 3 * first, length});
                continue;
            }
            const bool blend = run.kind == RunKind::Blend;
            kernel(source, BakeSpan{tap_x_.data() + run.taps, tap_y_.data() + run.taps,
                                    fraction_x_.data() + run.taps, fraction_y_.data() + run.taps,
                                    blend ? weights_.data() + run.weights : nullptr,
                                    panorama + 3 * first, row + 3 * first, length});
        }
    }
}

}  // namespace tintora
