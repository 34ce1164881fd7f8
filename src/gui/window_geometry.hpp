#pragma once

#include <QRect>
#include <QScreen>
#include <QSize>
#include <QWidget>
#include <algorithm>

#include "core/settings/window_places.hpp"

namespace tintora {

// The window's size with its frame, as the window system reports it: the
// layout rules of the windows are written for the outer size.
inline QSize outer_size(const QWidget& window) {
    return window.size() + (window.frameGeometry().size() - window.geometry().size());
}

// Where a window of the given size goes to be centred on its owner, held
// inside the owner's screen so no part of it opens off-screen.
inline QPoint centred_on(const QWidget& owner, QSize size) {
    const QRect around = owner.frameGeometry();
    QPoint corner = around.center() - QPoint(size.width() / 2, size.height() / 2);
    if (const QScreen* screen = owner.screen()) {
        const QRect room = screen->availableGeometry();
        corner.setX(std::max(room.left(), std::min(corner.x(), room.right() + 1 - size.width())));
        corner.setY(std::max(room.top(), std::min(corner.y(), room.bottom() + 1 - size.height())));
    }
    return corner;
}

// What a window's frame adds to its inside, as the window system reports it
// once the window is shown; before that, as much as a title bar and borders
// commonly take, so that windows laid side by side do not overlap once the
// window system frames them.
inline QSize frame_extra(const QWidget& window) {
    const QSize extra = window.frameGeometry().size() - window.geometry().size();
    return extra.width() > 0 || extra.height() > 0 ? extra : QSize(8, 40);
}

inline ScreenRect to_screen_rect(const QRect& r) { return {r.x(), r.y(), r.width(), r.height()}; }
inline ScreenSize to_screen_size(const QSize& s) { return {s.width(), s.height()}; }

}  // namespace tintora
