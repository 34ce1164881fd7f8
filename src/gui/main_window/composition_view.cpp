#include "gui/main_window/composition_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <utility>

#include "core/composition/composition.hpp"

namespace tintora {
namespace {

// Rendered beyond the visible part on every side, so scrolling a little
// paints from what is already there.
constexpr int kMargin = 256;

// Paints the part of `area` that a region of the picture at `origin` covers.
void paint_frame(QPainter& painter, const QRect& area, const Frame& region, RegionOrigin origin) {
    // The frame's rows are laid out as BGR888 wants them: no conversion.
    const QImage image(region.data(), region.width(), region.height(),
                       static_cast<qsizetype>(region.stride()), QImage::Format_BGR888);
    const QRect target =
        area.intersected(QRect(origin.left, origin.top, region.width(), region.height()));
    painter.drawImage(target, image, target.translated(-origin.left, -origin.top));
}

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
    QPainter painter(this);
    paint_frame(painter, event->rect(), shown, composition_->shown_origin());
    if (played_) paint_frame(painter, event->rect(), *played_, played_origin_);
}

std::optional<Frame> CompositionView::show_played(Frame picture, RegionOrigin origin) {
    std::optional<Frame> replaced = std::exchange(played_, std::move(picture));
    played_origin_ = origin;
    update(QRect(origin.left, origin.top, played_->width(), played_->height()));
    return replaced;
}

void CompositionView::clear_played() {
    if (!played_) return;
    played_.reset();
    update();
}

void CompositionView::mousePressEvent(QMouseEvent* event) {
    emit pressed(event->position().toPoint(), event->button(), event->modifiers());
}

void CompositionView::mouseMoveEvent(QMouseEvent* event) {
    emit moved(event->position().toPoint());
}

void CompositionView::mouseReleaseEvent(QMouseEvent* event) {
    emit released(event->position().toPoint(), event->button());
}

}  // namespace tintora
