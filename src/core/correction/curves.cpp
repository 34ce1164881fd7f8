#include "core/correction/curves.hpp"

#include <cstdint>

namespace tintora {
namespace {

// Stored values may come from a file and be any 32-bit number; the curve
// arithmetic wraps the way 32-bit registers do instead of overflowing.
std::int32_t wrap32(std::int64_t value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
}

}  // namespace

PairClipboard make_empty_pairs() {
    PairClipboard pairs;
    pairs.fill(NO_PAIR);
    return pairs;
}

void fill_curve(ControlValues& a) {
    if (a[0] == NO_PAIR) a[0] = 0;
    if (a[255] == NO_PAIR) a[255] = 255;
    int gap = 0;
    for (int right = 0; right < kIntensityCount; ++right) {
        if (a[right] == NO_PAIR) {
            ++gap;
            continue;
        }
        if (gap > 0) {
            const int left = right - gap - 1;
            const std::int32_t rise = wrap32(std::int64_t{a[right]} - a[left]);
            for (int k = left + 1; k < right; ++k) {
                const std::int32_t product = wrap32(std::int64_t{rise} * (k - left));
                a[k] = wrap32(std::int64_t{a[left]} + product / (right - left));
            }
            gap = 0;
        }
    }
}

void recalculate_color_table(CorrectionGrid& grid, int p) {
    ControlValues curve = grid.control_values[p];
    fill_curve(curve);
    for (int v = 0; v < kIntensityCount; ++v) {
        grid.color_table[p][v] = static_cast<std::uint8_t>(curve[v] & 0xFF);
    }
}

void recalculate_color_tables(CorrectionGrid& grid) {
    for (int p = 0; p < kGridPointCount; ++p) recalculate_color_table(grid, p);
}

namespace {

void clear_one(CorrectionGrid& grid, int p) {
    grid.control_values[p].fill(NO_PAIR);
    for (int v = 0; v < kIntensityCount; ++v) grid.color_table[p][v] = static_cast<std::uint8_t>(v);
}

}  // namespace

void clear_point(CorrectionGrid& grid) { clear_one(grid, grid.current_point()); }

void clear_all_points(CorrectionGrid& grid) {
    for (int p = 0; p < kGridPointCount; ++p) clear_one(grid, p);
}

void copy_pairs(const CorrectionGrid& grid, PairClipboard& pair_clipboard) {
    pair_clipboard = grid.control_values[grid.current_point()];
}

void paste_pairs(CorrectionGrid& grid, const PairClipboard& pair_clipboard) {
    grid.control_values[grid.current_point()] = pair_clipboard;
    recalculate_color_tables(grid);
}

void set_pairs_for_all(CorrectionGrid& grid) {
    const ControlValues current = grid.control_values[grid.current_point()];
    for (ControlValues& values : grid.control_values) values = current;
    recalculate_color_tables(grid);
}

}  // namespace tintora
