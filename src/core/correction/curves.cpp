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

namespace {

void table_from_pairs(const ControlValues& pairs, ColorTable& table) {
    ControlValues curve = pairs;
    fill_curve(curve);
    for (int v = 0; v < kIntensityCount; ++v) {
        table[v] = static_cast<std::uint8_t>(curve[v] & 0xFF);
    }
}

}  // namespace

void recalculate_color_table(CorrectionGrid& grid, int p) {
    table_from_pairs(grid.control_values[p], grid.color_table[p]);
    for (int c = 0; c < kChannelCount; ++c) {
        table_from_pairs(grid.channel_control_values[c][p], grid.channel_color_table[c][p]);
    }
}

void recalculate_color_tables(CorrectionGrid& grid) {
    for (int p = 0; p < kGridPointCount; ++p) recalculate_color_table(grid, p);
}

namespace {

void clear_curve(ControlValues& pairs, ColorTable& table) {
    pairs.fill(NO_PAIR);
    for (int v = 0; v < kIntensityCount; ++v) table[v] = static_cast<std::uint8_t>(v);
}

void clear_one(CorrectionGrid& grid, int p) {
    if (grid.correction_mode == CorrectionMode::Colour) {
        for (int c = 0; c < kChannelCount; ++c) {
            clear_curve(grid.channel_control_values[c][p], grid.channel_color_table[c][p]);
        }
        return;
    }
    clear_curve(grid.control_values[p], grid.color_table[p]);
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
    const int point = grid.current_point();
    if (grid.correction_mode == CorrectionMode::Colour) {
        for (auto& channel : grid.channel_control_values) {
            const ControlValues current = channel[point];
            for (ControlValues& values : channel) values = current;
        }
    } else {
        const ControlValues current = grid.control_values[point];
        for (ControlValues& values : grid.control_values) values = current;
    }
    recalculate_color_tables(grid);
}

ChannelPairClipboard make_empty_channel_pairs() {
    ChannelPairClipboard pairs;
    for (ControlValues& channel : pairs) channel.fill(NO_PAIR);
    return pairs;
}

void copy_pairs(const CorrectionGrid& grid, PairClipboard& pair_clipboard,
                ChannelPairClipboard& channel_clipboard) {
    if (grid.correction_mode != CorrectionMode::Colour) {
        copy_pairs(grid, pair_clipboard);
        return;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        channel_clipboard[c] = grid.channel_control_values[c][grid.current_point()];
    }
}

void paste_pairs(CorrectionGrid& grid, const PairClipboard& pair_clipboard,
                 const ChannelPairClipboard& channel_clipboard) {
    if (grid.correction_mode != CorrectionMode::Colour) {
        paste_pairs(grid, pair_clipboard);
        return;
    }
    for (int c = 0; c < kChannelCount; ++c) {
        grid.channel_control_values[c][grid.current_point()] = channel_clipboard[c];
    }
    recalculate_color_tables(grid);
}

namespace {

int valid_channel(int channel) { return channel < 0 || channel >= kChannelCount ? 0 : channel; }

}  // namespace

ControlValues& edited_pairs(CorrectionGrid& grid, int point, int channel) {
    if (grid.correction_mode != CorrectionMode::Colour) return grid.control_values[point];
    return grid.channel_control_values[valid_channel(channel)][point];
}

const ColorTable& edited_table(const CorrectionGrid& grid, int point, int channel) {
    if (grid.correction_mode != CorrectionMode::Colour) return grid.color_table[point];
    return grid.channel_color_table[valid_channel(channel)][point];
}

void set_correction_mode(CorrectionGrid& grid, CorrectionMode mode) {
    if (mode == CorrectionMode::Colour && grid.correction_mode != CorrectionMode::Colour) {
        bool any_channel_pair = false;
        for (const auto& channel : grid.channel_control_values) {
            for (const ControlValues& values : channel) {
                any_channel_pair = any_channel_pair || values != make_empty_pairs();
            }
        }
        if (!any_channel_pair) {
            for (auto& channel : grid.channel_control_values) channel = grid.control_values;
        }
    }
    grid.correction_mode = mode;
    recalculate_color_tables(grid);
}

}  // namespace tintora
