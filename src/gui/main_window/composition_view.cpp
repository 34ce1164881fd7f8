#include "gui/main_window/composition_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

#include "core/composition/composition.hpp"

namespace tintora {
namespace {

// Rendered beyond the visible part on every side, so scrolling a little
// paints from what is already there.
constexpr int kMargin = 256;

}  // namespace

CompositionView::CompositionView(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("compositionView"));
    setMouseTracking(true);
    setFixedSize(0, 0);
}

void CompositionView::set_composition(Composition* composition) {
    composition_ = composition;
    picture_changed();
}

void CompositionView::picture_changed() {
    if (composition_ == nullptr) {
        setFixedSize(0, 0);
    } else {
        setFixedSize(composition_->picture_width(), composition_->picture_height());
    }
    update();
}

void CompositionView::paintEvent(QPaintEvent* event) {
    if (composition_ == nullptr || width() == 0 || height() == 0) return;
    const QRect visible = visibleRegion().boundingRect().united(event->rect());
    const QRect wanted = visible.adjusted(-kMargin, -kMargin, kMargin, kMargin);
    composition_->show_region(wanted.x(), wanted.y(), wanted.width(), wanted.height());
    const Frame& shown = composition_->shown_picture();
    if (shown.empty()) return;
    const RegionOrigin origin = composition_->shown_origin();
    // The frame's rows are laid out as BGR888 wants them: no conversion.
    const QImage image(shown.data(), shown.width(), shown.height(),
                       static_cast<qsizetype>(shown.stride()), QImage::Format_BGR888);
    QPainter painter(this);
    const QRect target =
        event->rect().intersected(QRect(origin.left, origin.top, shown.width(), shown.height()));
    painter.drawImage(target, image, target.translated(-origin.left, -origin.top));
}

void CompositionView::mousePressEvent(QMouseEvent* event) {
    emit pressed(event->position().toPoint(), event->button(), event->modifiers());
}

void CompositionView::mouseMoveEvent(QMouseEvent* event) {
    emit moved(event->position().toPoint());
}

}  // namespace tintora
