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
// filled curve).
void recalculate_color_table(CorrectionGrid& grid, int p);
void recalculate_color_tables(CorrectionGrid& grid);

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

}  // namespace tintora
