#pragma once

#include <QMainWindow>

namespace tintora {

// The video workspace window: opening a clip, stepping through its frames,
// the output settings and the exports. Shown, not modal, from the main
// window's menus.
class VideoWindow : public QMainWindow {
    Q_OBJECT
public:
    explicit VideoWindow(QWidget* owner);
};

}  // namespace tintora
