#include "composition/composition_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>

namespace tintora {

CompositionView::CompositionView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("compositionView"));
    setMouseTracking(true);
    setFixedSize(0, 0);
}

void CompositionView::set_picture(const Frame* picture) {
    picture_ = picture;
    if (picture_ == nullptr || picture_->empty()) {
        setFixedSize(0, 0);
    } else {
        setFixedSize(picture_->width(), picture_->height());
    }
    update();
}

void CompositionView::paintEvent(QPaintEvent* event) {
    if (picture_ == nullptr || picture_->empty()) return;
    // The frame's rows are laid out as BGR888 wants them: no conversion.
    const QImage image(picture_->data(), picture_->width(), picture_->height(),
                       static_cast<qsizetype>(picture_->stride()), QImage::Format_BGR888);
    QPainter painter(this);
    painter.drawImage(event->rect(), image, event->rect());
}

void CompositionView::mousePressEvent(QMouseEvent* event) {
    emit pressed(event->position().toPoint(), event->button(), event->modifiers());
}

void CompositionView::mouseMoveEvent(QMouseEvent* event) {
    emit moved(event->position().toPoint());
}

}  // namespace tintora
