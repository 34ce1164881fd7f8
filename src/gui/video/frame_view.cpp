#include "gui/video/frame_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace tintora {

FrameView::FrameView(QWidget* parent) : QWidget(parent) { setMouseTracking(true); }

void FrameView::set_picture(const Frame* picture) {
    picture_ = picture;
    scaled_ = QImage();
    update();
}

void FrameView::refresh(std::uint64_t picture_generation) {
    const bool picture_changed = picture_generation != shown_generation_;
    const bool selection_changed =
        selection_ != nullptr &&
        (selection_->visible != shown_selection_.visible ||
         (selection_->visible && (selection_->rect.left != shown_selection_.rect.left ||
                                  selection_->rect.top != shown_selection_.rect.top ||
                                  selection_->rect.width != shown_selection_.rect.width ||
                                  selection_->rect.height != shown_selection_.rect.height)));
    if (!picture_changed && !selection_changed) return;
    if (picture_changed) scaled_ = QImage();
    shown_generation_ = picture_generation;
    if (selection_ != nullptr) shown_selection_ = *selection_;
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
        if (scaled_.size() != QSize(shown.width, shown.height)) {
            // The frame's rows are laid out as BGR888 wants them: no conversion.
            const QImage image(picture_->data(), picture_->width(), picture_->height(),
                               static_cast<qsizetype>(picture_->stride()), QImage::Format_BGR888);
            // Smooth when shrinking; enlarged, every frame pixel stays a
            // sharp block, so a cut can be placed on the pixel.
            const bool shrinking = shown.width < picture_->width();
            scaled_ = image.scaled(shown.width, shown.height, Qt::IgnoreAspectRatio,
                                   shrinking ? Qt::SmoothTransformation : Qt::FastTransformation);
        }
        painter.drawImage(0, 0, scaled_);
    }
    if (selection_ != nullptr && selection_->visible) {
        // A rectangle dragged up or left is drawn from its other corner.
        const PixelRect& r = selection_->rect;
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
