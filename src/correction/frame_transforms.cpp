#include "correction/frame_transforms.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace tintora {
namespace {

void copy_pixel(std::uint8_t* to, const std::uint8_t* from) {
    to[0] = from[0];
    to[1] = from[1];
    to[2] = from[2];
}

// Runs op(source, destination) on a copy of the source when both name the
// same frame, so an aliased call cannot read what it has already overwritten.
template <class Op>
void with_distinct_source(const Frame& source, Frame& destination, Op op) {
    if (&source == &destination) {
        const Frame copy = source;
        op(copy, destination);
    } else {
        op(source, destination);
    }
}

// Quarter turns walk the source column-wise; working in square tiles keeps
// both the rows read and the rows written in cache.
constexpr int kTile = 64;

// dst(r, c) = src(row_of(r, c), col_of(r, c)) for the two quarter turns.
template <bool Clockwise>
void rotate_quarter(const Frame& src, Frame& dst) {
    const int ws = src.width();
    const int hs = src.height();
    dst.resize(hs, ws);
    for (int r0 = 0; r0 < ws; r0 += kTile) {
        const int r1 = std::min(r0 + kTile, ws);
        for (int c0 = 0; c0 < hs; c0 += kTile) {
            const int c1 = std::min(c0 + kTile, hs);
            for (int r = r0; r < r1; ++r) {
                std::uint8_t* out = dst.pixel(r, c0);
                for (int c = c0; c < c1; ++c, out += 3) {
                    // 90: src(Hs - 1 - c, r); 270: src(c, Ws - 1 - r).
                    const std::uint8_t* in =
                        Clockwise ? src.pixel(hs - 1 - c, r) : src.pixel(c, ws - 1 - r);
                    copy_pixel(out, in);
                }
            }
        }
    }
}

void rotate_half(const Frame& src, Frame& dst) {
    const int ws = src.width();
    const int hs = src.height();
    dst.resize(ws, hs);
    for (int r = 0; r < hs; ++r) {
        const std::uint8_t* in = src.pixel(hs - 1 - r, ws - 1);
        std::uint8_t* out = dst.row(r);
        for (int c = 0; c < ws; ++c, in -= 3, out += 3) copy_pixel(out, in);
    }
}

void copy_rows(const Frame& src, Frame& dst, bool upside_down) {
    dst.resize(src.width(), src.height());
    const std::size_t bytes = 3 * static_cast<std::size_t>(src.width());
    for (int r = 0; r < src.height(); ++r) {
        const int from = upside_down ? src.height() - 1 - r : r;
        std::memcpy(dst.row(r), src.row(from), bytes);
    }
}

// Nearest-neighbour index for destination position i of n over a source of m:
// (i (m - 1)) div (n - 1). 64-bit so that very large pictures cannot overflow;
// a single destination position takes the source's first.
int nearest_source_index(int i, int n, int m) {
    if (n <= 1) return 0;
    return static_cast<int>(static_cast<std::int64_t>(i) * (m - 1) / (n - 1));
}

}  // namespace

void rotate_frame(const Frame& source, Frame& destination, int angle) {
    with_distinct_source(source, destination, [angle](const Frame& src, Frame& dst) {
        switch (angle) {
            case 0:
                copy_rows(src, dst, false);
                break;
            case 90:
                rotate_quarter<true>(src, dst);
                break;
            case 180:
                rotate_half(src, dst);
                break;
            case 270:
                rotate_quarter<false>(src, dst);
                break;
            default:
                break;
        }
    });
}

void cut_frame(const Frame& source, int x, int y, int w, int h, Frame& destination) {
    with_distinct_source(source, destination, [=](const Frame& src, Frame& dst) {
        // Clip in 64 bits: x + w may not fit in an int.
        const std::int64_t left = std::max<std::int64_t>(x, 0);
        const std::int64_t top = std::max<std::int64_t>(y, 0);
        const std::int64_t right = std::min<std::int64_t>(std::int64_t{x} + w, src.width());
        const std::int64_t bottom = std::min<std::int64_t>(std::int64_t{y} + h, src.height());
        const int cut_w = static_cast<int>(std::max<std::int64_t>(right - left, 0));
        const int cut_h = static_cast<int>(std::max<std::int64_t>(bottom - top, 0));
        dst.resize(cut_w, cut_h);
        const std::size_t bytes = 3 * static_cast<std::size_t>(cut_w);
        for (int r = 0; r < dst.height(); ++r) {
            std::memcpy(dst.row(r), src.pixel(static_cast<int>(top) + r, static_cast<int>(left)),
                        bytes);
        }
    });
}

void resample_frame(const Frame& source, Frame& destination) {
    with_distinct_source(source, destination, [](const Frame& src, Frame& dst) {
        if (dst.empty()) return;
        if (src.empty()) {
            dst.resize(dst.width(), dst.height());
            return;
        }
        std::vector<std::ptrdiff_t> column_offset(static_cast<std::size_t>(dst.width()));
        for (int c = 0; c < dst.width(); ++c) {
            column_offset[static_cast<std::size_t>(c)] =
                3 * static_cast<std::ptrdiff_t>(nearest_source_index(c, dst.width(), src.width()));
        }
        int previous_source_row = -1;
        for (int r = 0; r < dst.height(); ++r) {
            const int source_row = nearest_source_index(r, dst.height(), src.height());
            std::uint8_t* out = dst.row(r);
            if (source_row == previous_source_row) {
                // Enlarging repeats rows: copy the row just made.
                std::memcpy(out, dst.row(r - 1), 3 * static_cast<std::size_t>(dst.width()));
                continue;
            }
            previous_source_row = source_row;
            const std::uint8_t* in = src.row(source_row);
            for (const std::ptrdiff_t offset : column_offset) {
                copy_pixel(out, in + offset);
                out += 3;
            }
        }
    });
}

void mirror_rows(const Frame& source, Frame& destination) {
    with_distinct_source(source, destination,
                         [](const Frame& src, Frame& dst) { copy_rows(src, dst, true); });
}

void mirror_columns(const Frame& source, Frame& destination) {
    with_distinct_source(source, destination, [](const Frame& src, Frame& dst) {
        dst.resize(src.width(), src.height());
        for (int r = 0; r < src.height(); ++r) {
            const std::uint8_t* in = src.pixel(r, src.width() - 1);
            std::uint8_t* out = dst.row(r);
            for (int c = 0; c < src.width(); ++c, in -= 3, out += 3) copy_pixel(out, in);
        }
    });
}

void copy_frame(const Frame& source, Frame& destination) {
    with_distinct_source(source, destination,
                         [](const Frame& src, Frame& dst) { copy_rows(src, dst, false); });
}

void to_grayscale(Frame& frame) {
    for (int r = 0; r < frame.height(); ++r) {
        std::uint8_t* p = frame.row(r);
        for (int c = 0; c < frame.width(); ++c, p += 3) {
            const auto intensity = static_cast<std::uint8_t>((p[0] + p[1] + p[2]) / 3);
            p[0] = p[1] = p[2] = intensity;
        }
    }
}

void invert_frame(Frame& frame) {
    const std::size_t bytes = 3 * static_cast<std::size_t>(frame.width());
    for (int r = 0; r < frame.height(); ++r) {
        std::uint8_t* p = frame.row(r);
        for (std::size_t i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(255 - p[i]);
    }
}

}  // namespace tintora
