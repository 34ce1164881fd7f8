#pragma once

#include "core/correction/correction_grid.hpp"

namespace tintora {

// Control values held by "Copy" for "Paste"; starts with no pair at all.
using PairClipboard = ControlValues;
PairClipboard make_empty_pairs();

// Fills every NO_PAIR entry of a working copy of one point's control values
// with the piecewise-linear curve through the pairs, anchored at (0, 0) and
// (255, 255) unless the user set those ends. Each gap is filled from its left
// end with 32-bit integer arithmetic truncating toward zero, so falling
// segments round up. Set entries keep their values.
void fill_curve(ControlValues& values);

// Rebuilds point p's color table from its control values (low 8 bits of the
// filled curve), and the point's three channel tables from theirs the same way.
void recalculate_color_table(CorrectionGrid& grid, int p);
void recalculate_color_tables(CorrectionGrid& grid);

// The whole-curve operations act on the curves of the grid's mode: the
// brightness curve, or in colour mode all three channels of a point.
// "Clear": the current point loses every pair and its table becomes the identity.
void clear_point(CorrectionGrid& grid);
// "Clear All": the same for all nine points.
void clear_all_points(CorrectionGrid& grid);
// "Copy": the clipboard takes the current point's 256 control values.
void copy_pairs(const CorrectionGrid& grid, PairClipboard& pair_clipboard);
// "Paste": the current point takes the clipboard's values; all tables rebuilt.
void paste_pairs(CorrectionGrid& grid, const PairClipboard& pair_clipboard);
// "Set for all": every point takes the current point's values; all tables rebuilt.
void set_pairs_for_all(CorrectionGrid& grid);

// What "Copy" holds for the colour mode: the three channels of a point.
using ChannelPairClipboard = std::array<ControlValues, kChannelCount>;
ChannelPairClipboard make_empty_channel_pairs();
// "Copy" and "Paste" by the grid's mode: each mode has its own clipboard,
// so a copy in one mode is never pasted as the other's curves.
void copy_pairs(const CorrectionGrid& grid, PairClipboard& pair_clipboard,
                ChannelPairClipboard& channel_clipboard);
void paste_pairs(CorrectionGrid& grid, const PairClipboard& pair_clipboard,
                 const ChannelPairClipboard& channel_clipboard);

// The pairs the palette shows and edits for a point: its brightness pairs,
// or in colour mode those of the channel (kRedChannel..kBlueChannel).
ControlValues& edited_pairs(CorrectionGrid& grid, int point, int channel);
const ColorTable& edited_table(const CorrectionGrid& grid, int point, int channel);

// Changes the correction mode in one step. The first change to colour of a
// grid without any channel pair starts each channel from the brightness
// pairs, so the picture keeps roughly its correction; otherwise each mode
// keeps its own curves. The tables are rebuilt.
void set_correction_mode(CorrectionGrid& grid, CorrectionMode mode);

}  // namespace tintora
