#pragma once

#include "core/correction/correction_grid.hpp"

namespace tintora {

// Everything one undoable edit may change, taken whole before and after it:
// the grid with its pairs, curves, mesh and current point. State that a
// later kind of edit changes, and undo must put back, is a member here.
struct EditSnapshot {
    CorrectionGrid grid;

    friend bool operator==(const EditSnapshot&, const EditSnapshot&) = default;
};

// Whether `after` is worth an undo step after `before`: anything but the
// current point changed. Choosing a point is a selection, not an edit.
inline bool is_edit(const EditSnapshot& before, const EditSnapshot& after) {
    EditSnapshot compared = after;
    compared.grid.cur_point = before.grid.cur_point;
    return !(compared == before);
}

}  // namespace tintora
