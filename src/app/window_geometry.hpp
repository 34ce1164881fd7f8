#pragma once

#include <QSize>
#include <QWidget>

namespace tintora {

// The window's size with its frame, as the window system reports it: the
// layout rules of the windows are written for the outer size.
inline QSize outer_size(const QWidget& window) {
    return window.size() + (window.frameGeometry().size() - window.geometry().size());
}

}  // namespace tintora
