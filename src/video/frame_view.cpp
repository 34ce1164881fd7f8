#include "video/frame_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace tintora {

FrameView::FrameView(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void FrameView::set_picture(const Frame* picture) {
    picture_ = picture;
    update();
}

void FrameView::set_selection(const SelectionShape* selection) {
    selection_ = selection;
    update();
}

void FrameView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (picture_ != nullptr && !picture_->empty()) {
        const DisplayGeometry shown = display_geometry(picture_->width(), picture_->height(),
                                                       width(), height(), Precision::Double);
        // The frame's rows are laid out as BGR888 wants them: no conversion.
        const QImage image(picture_->data(), picture_->width(), picture_->height(),
                           static_cast<qsizetype>(picture_->stride()), QImage::Format_BGR888);
        painter.drawImage(QRect(0, 0, shown.width, shown.height), image);
    }
    if (selection_ != nullptr && selection_->visible) {
        // A rectangle dragged up or left is drawn from its other corner.
        const ViewRect& r = selection_->rect;
        const QRect outline = QRect(r.left, r.top, r.width, r.height).normalized();
        painter.setPen(QPen(Qt::red, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(outline.adjusted(0, 0, -1, -1));
    }
}

void FrameView::mousePressEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit pressed(p.x(), p.y(), event->button());
}

void FrameView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit moved(p.x(), p.y(), event->buttons());
}

void FrameView::mouseReleaseEvent(QMouseEvent* event) {
    const QPoint p = event->position().toPoint();
    emit released(p.x(), p.y(), event->button());
}

}  // namespace tintora
