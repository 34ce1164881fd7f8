#include "gui/main_window/composition_view.hpp"

#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPen>
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

// The ring around the current marker: outside the 5 by 5 marker and its
// reach, dark and light so it shows on any picture.
constexpr int kRingRadius = 10;

// Where the ring and its number are painted around a marker at `centre`,
// with room for a large font.
QRect ring_area(QPoint centre) {
    return QRect(centre.x() - kRingRadius - 4, centre.y() - kRingRadius - 40, 2 * kRingRadius + 80,
                 2 * kRingRadius + 46);
}

void paint_ring(QPainter& painter, QPoint centre, int point) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 0, 0, 200), 4));
    painter.drawEllipse(QPointF(centre) + QPointF(0.5, 0.5), kRingRadius, kRingRadius);
    painter.setPen(QPen(QColor(255, 230, 0), 2));
    painter.drawEllipse(QPointF(centre) + QPointF(0.5, 0.5), kRingRadius, kRingRadius);
    // The number, above right of the ring, light on dark.
    QFont bold = painter.font();
    bold.setBold(true);
    painter.setFont(bold);
    const QString number = QString::number(point + 1);
    const QFontMetrics metrics(bold);
    const QRect text(centre.x() + kRingRadius - 2, centre.y() - kRingRadius - metrics.height() - 1,
                     metrics.horizontalAdvance(number) + 6, metrics.height() + 2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0, 0, 0, 200));
    painter.drawRoundedRect(text, 3, 3);
    painter.setPen(QColor(255, 230, 0));
    painter.drawText(text, Qt::AlignCenter, number);
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
    if (current_marker_) paint_ring(painter, *current_marker_, current_point_);
}

void CompositionView::show_current_marker(std::optional<QPoint> centre, int point) {
    if (centre == current_marker_ && point == current_point_) return;
    if (current_marker_) update(ring_area(*current_marker_));
    current_marker_ = centre;
    current_point_ = point;
    if (current_marker_) update(ring_area(*current_marker_));
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
