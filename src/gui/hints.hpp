#pragma once

#include <vector>

#include "gui/captions.hpp"

class QWidget;

namespace tintora {

// The hints of the main window's controls and of the video window's buttons
// and fields, found by their object names. A control not found has none.
std::vector<Hint> main_window_hints(const QWidget& window);
std::vector<Hint> video_window_hints(const QWidget& window);

}  // namespace tintora
