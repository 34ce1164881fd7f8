#pragma once

#include <QPixmap>

namespace tintora {

// The about box's figure: a round, smiling face with a sprout on top whose
// eyes look one of nine ways. Picture 1 looks up-left, 2 up, 3 up-right,
// 4 left, 5 ahead, 6 right, 7 down-left, 8 down, 9 down-right; any other
// number looks ahead. Drawn here, so the program carries no image files.
QPixmap draw_gaze_figure(int picture, int size);

}  // namespace tintora
