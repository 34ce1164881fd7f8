#include "video/video_window.hpp"

namespace tintora {

VideoWindow::VideoWindow(QWidget* owner) : QMainWindow(owner, Qt::Window) {
    setObjectName(QStringLiteral("videoWindow"));
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Video"));
    resize(800, 600);
}

}  // namespace tintora
