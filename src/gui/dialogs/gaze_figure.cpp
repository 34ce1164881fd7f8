#include "gui/dialogs/gaze_figure.hpp"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tintora {

QPixmap draw_gaze_figure(int picture, int size) {
    if (picture < 1 || picture > 9) picture = 5;
    // The gaze as -1, 0 or 1 across and down.
    const qreal dx = (picture - 1) % 3 - 1;
    const qreal dy = (picture - 1) / 3 - 1;

    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 100 by 100 canvas, scaled to the size asked for.
    painter.scale(size / 100.0, size / 100.0);

    // The head turns a little toward the gaze; the eyes follow further.
    const QPointF head(50 + 3 * dx, 56 + 2 * dy);
    const QColor outline(38, 84, 78);

    // A sprout on top, leaning the way the head turns.
    painter.setPen(QPen(outline, 2.5, Qt::SolidLine, Qt::RoundCap));
    const QPointF stem_foot = head + QPointF(0, -33);
    const QPointF stem_top = stem_foot + QPointF(3 * dx, -10);
    painter.drawLine(stem_foot, stem_top);
    painter.setPen(QPen(outline, 1.5));
    painter.setBrush(QColor(120, 196, 90));
    for (const int side : {-1, 1}) {
        QPainterPath leaf(stem_top);
        const QPointF tip = stem_top + QPointF(side * 13, -5);
        leaf.quadTo(stem_top + QPointF(side * 6, -10), tip);
        leaf.quadTo(stem_top + QPointF(side * 7, 1), stem_top);
        painter.drawPath(leaf);
    }

    QRadialGradient skin(head + QPointF(-12, -14), 52);
    skin.setColorAt(0.0, QColor(206, 246, 232));
    skin.setColorAt(1.0, QColor(84, 186, 168));
    painter.setPen(QPen(outline, 2));
    painter.setBrush(skin);
    painter.drawEllipse(head, 37, 34);

    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(246, 150, 150, 150));
    for (const int side : {-1, 1}) {
        painter.drawEllipse(head + QPointF(side * 23 + 2 * dx, 11 + 2 * dy), 6, 4);
    }

    for (const int side : {-1, 1}) {
        const QPointF eye = head + QPointF(side * 13 + 4 * dx, -6 + 3 * dy);
        painter.setPen(QPen(outline, 1.5));
        painter.setBrush(Qt::white);
        painter.drawEllipse(eye, 10, 12);
        const QPointF pupil = eye + QPointF(4.5 * dx, 5.5 * dy);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 42, 56));
        painter.drawEllipse(pupil, 5, 5.5);
        painter.setBrush(Qt::white);
        painter.drawEllipse(pupil + QPointF(-1.8, -2), 1.6, 1.6);
    }

    QPainterPath smile(head + QPointF(-9 + 4 * dx, 14 + 3 * dy));
    smile.quadTo(head + QPointF(4 * dx, 23 + 3 * dy), head + QPointF(9 + 4 * dx, 14 + 3 * dy));
    painter.setPen(QPen(outline, 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(smile);
    return pixmap;
}

}  // namespace tintora
