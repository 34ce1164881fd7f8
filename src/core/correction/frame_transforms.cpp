#include "core/correction/frame_transforms.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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
    dst.resize_for_overwrite(hs, ws);
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
    dst.resize_for_overwrite(ws, hs);
    for (int r = 0; r < hs; ++r) {
        const std::uint8_t* in = src.pixel(hs - 1 - r, ws - 1);
        std::uint8_t* out = dst.row(r);
        for (int c = 0; c < ws; ++c, in -= 3, out += 3) copy_pixel(out, in);
    }
}

void copy_rows(const Frame& src, Frame& dst, bool upside_down) {
    dst.resize_for_overwrite(src.width(), src.height());
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
        dst.resize_for_overwrite(cut_w, cut_h);
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

void sample_region(const Frame& source, const RegionSampling& region, Frame& destination) {
    with_distinct_source(source, destination, [&region](const Frame& src, Frame& dst) {
        if (dst.empty()) return;
        // The part of the rectangle inside the source, as cut_frame keeps it.
        const std::int64_t left = std::max<std::int64_t>(region.x, 0);
        const std::int64_t top = std::max<std::int64_t>(region.y, 0);
        const std::int64_t right =
            std::min<std::int64_t>(std::int64_t{region.x} + region.width, src.width());
        const std::int64_t bottom =
            std::min<std::int64_t>(std::int64_t{region.y} + region.height, src.height());
        const int cut_w = static_cast<int>(std::max<std::int64_t>(right - left, 0));
        const int cut_h = static_cast<int>(std::max<std::int64_t>(bottom - top, 0));
        if (cut_w == 0 || cut_h == 0) {
            dst.resize(dst.width(), dst.height());
            return;
        }
        const int wd = dst.width();
        const int hd = dst.height();
        // The source column of every destination column; a mirror reads the
        // destination backwards, as a resample followed by a mirror would.
        const bool contiguous = !region.mirror_columns && wd == cut_w;
        std::vector<std::ptrdiff_t> column_offset;
        if (!contiguous) {
            column_offset.resize(static_cast<std::size_t>(wd));
            for (int c = 0; c < wd; ++c) {
                const int from = region.mirror_columns ? wd - 1 - c : c;
                column_offset[static_cast<std::size_t>(c)] =
                    3 * (left + nearest_source_index(from, wd, cut_w));
            }
        }
        const std::size_t row_bytes = 3 * static_cast<std::size_t>(wd);
        int previous_source_row = -1;
        for (int r = 0; r < hd; ++r) {
            const int from = region.mirror_rows ? hd - 1 - r : r;
            const int source_row = static_cast<int>(top) + nearest_source_index(from, hd, cut_h);
            std::uint8_t* out = dst.row(r);
            if (source_row == previous_source_row) {
                std::memcpy(out, dst.row(r - 1), row_bytes);
                continue;
            }
            previous_source_row = source_row;
            const std::uint8_t* in = src.row(source_row);
            if (contiguous) {
                std::memcpy(out, in + 3 * left, row_bytes);
                continue;
            }
            // Four-byte moves are quicker than three single bytes; the extra
            // byte written is the next pixel's, written again right after.
            // Reading one byte past a pixel stays inside the buffer except
            // at the very end of an unpadded last row.
            const bool over_read_safe =
                source_row + 1 < src.height() || src.stride() > 3 * std::ptrdiff_t{src.width()};
            const std::size_t wide_columns = over_read_safe ? column_offset.size() - 1 : 0;
            for (std::size_t c = 0; c < wide_columns; ++c, out += 3) {
                std::memcpy(out, in + column_offset[c], 4);
            }
            for (std::size_t c = wide_columns; c < column_offset.size(); ++c, out += 3) {
                copy_pixel(out, in + column_offset[c]);
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
        dst.resize_for_overwrite(src.width(), src.height());
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

namespace {

// (B + G + R) div 3 for sums up to 765, as a multiply and a shift that
// vector units can do on 16-bit lanes: (s * 43691) >> 17.
constexpr unsigned kThirdMultiplier = 43691;

int grey_pixels_plain(std::uint8_t* p, int count) {
    for (int c = 0; c < count; ++c, p += 3) {
        const unsigned sum = p[0] + p[1] + p[2];
        const auto intensity = static_cast<std::uint8_t>(sum * kThirdMultiplier >> 17);
        p[0] = p[1] = p[2] = intensity;
    }
    return count;
}

#if defined(__x86_64__) || defined(__i386__)
// Shuffle indices: byte i of a result takes byte index[i] of its source, and
// -1 gives 0, so shuffled blocks can be or-ed together.
__m128i channel_picks(int channel, int block) {
    alignas(16) std::int8_t index[16];
    for (int i = 0; i < 16; ++i) {
        const int byte = 3 * i + channel - 16 * block;
        index[i] = static_cast<std::int8_t>(byte >= 0 && byte < 16 ? byte : -1);
    }
    return _mm_load_si128(reinterpret_cast<const __m128i*>(index));
}

__m128i spread_picks(int block) {
    alignas(16) std::int8_t index[16];
    for (int i = 0; i < 16; ++i) index[i] = static_cast<std::int8_t>((16 * block + i) / 3);
    return _mm_load_si128(reinterpret_cast<const __m128i*>(index));
}

// One channel of 16 pixels out of their 48 interleaved bytes.
__attribute__((target("ssse3"))) __m128i gather_channel(const __m128i in[3],
                                                        const __m128i picks[3]) {
    return _mm_or_si128(
        _mm_or_si128(_mm_shuffle_epi8(in[0], picks[0]), _mm_shuffle_epi8(in[1], picks[1])),
        _mm_shuffle_epi8(in[2], picks[2]));
}

// Sixteen pixels (48 bytes) at a time: the bytes are sorted into blue, green
// and red vectors with byte shuffles, summed in 16-bit lanes, divided by 3,
// and each intensity is spread back over three bytes. Returns how many
// pixels of the row it did; the rest are left to the plain loop.
__attribute__((target("ssse3"))) int grey_pixels_ssse3(std::uint8_t* p, int count) {
    const __m128i pick_b[3] = {channel_picks(0, 0), channel_picks(0, 1), channel_picks(0, 2)};
    const __m128i pick_g[3] = {channel_picks(1, 0), channel_picks(1, 1), channel_picks(1, 2)};
    const __m128i pick_r[3] = {channel_picks(2, 0), channel_picks(2, 1), channel_picks(2, 2)};
    const __m128i spread[3] = {spread_picks(0), spread_picks(1), spread_picks(2)};
    const __m128i third = _mm_set1_epi16(static_cast<short>(kThirdMultiplier));
    const __m128i zero = _mm_setzero_si128();
    int done = 0;
    for (; done + 16 <= count; done += 16, p += 48) {
        __m128i in[3];
        for (int k = 0; k < 3; ++k) {
            in[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p) + k);
        }
        const __m128i b = gather_channel(in, pick_b);
        const __m128i g = gather_channel(in, pick_g);
        const __m128i r = gather_channel(in, pick_r);
        const __m128i sum_low =
            _mm_add_epi16(_mm_add_epi16(_mm_unpacklo_epi8(b, zero), _mm_unpacklo_epi8(g, zero)),
                          _mm_unpacklo_epi8(r, zero));
        const __m128i sum_high =
            _mm_add_epi16(_mm_add_epi16(_mm_unpackhi_epi8(b, zero), _mm_unpackhi_epi8(g, zero)),
                          _mm_unpackhi_epi8(r, zero));
        const __m128i grey = _mm_packus_epi16(_mm_srli_epi16(_mm_mulhi_epu16(sum_low, third), 1),
                                              _mm_srli_epi16(_mm_mulhi_epu16(sum_high, third), 1));
        for (int k = 0; k < 3; ++k) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(p) + k, _mm_shuffle_epi8(grey, spread[k]));
        }
    }
    return done;
}
#endif

using GreyKernel = int (*)(std::uint8_t*, int);

GreyKernel fastest_grey_kernel() {
#if defined(__x86_64__) || defined(__i386__)
    if (__builtin_cpu_supports("ssse3")) return grey_pixels_ssse3;
#endif
    return grey_pixels_plain;
}

}  // namespace

void to_grayscale(Frame& frame) {
    static const GreyKernel kernel = fastest_grey_kernel();
    for (int r = 0; r < frame.height(); ++r) {
        std::uint8_t* p = frame.row(r);
        const int done = kernel(p, frame.width());
        grey_pixels_plain(p + 3 * static_cast<std::ptrdiff_t>(done), frame.width() - done);
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
