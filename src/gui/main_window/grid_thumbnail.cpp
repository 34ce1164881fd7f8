#include "gui/main_window/grid_thumbnail.hpp"

#include <QMouseEvent>
#include <QPainter>

namespace tintora {

QImage grid_thumbnail_picture(int point, int size) {
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::white);
    const int first_line = size * 33 / 100;
    const int second_line = size * 66 / 100;
    // Cell bounds between the lines: [start, end) per column and row.
    const int starts[3] = {0, first_line + 1, second_line + 1};
    const int ends[3] = {first_line, second_line, size};
    QPainter painter(&image);
    const int row = point / 3;
    const int column = point % 3;
    if (point >= 0 && point < 9) {
        painter.fillRect(QRect(starts[column], starts[row], ends[column] - starts[column],
                               ends[row] - starts[row]),
                         QColor(244, 58, 20));
    }
    painter.setPen(QColor(160, 160, 160));
    for (const int line : {first_line, second_line}) {
        painter.drawLine(line, 0, line, size - 1);
        painter.drawLine(0, line, size - 1, line);
    }
    return image;
}

GridThumbnail::GridThumbnail(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("gridThumbnail"));
    setFixedSize(kSize, kSize);
    show_point(0);
}

void GridThumbnail::show_point(int point) {
    point_ = point;
    picture_ = grid_thumbnail_picture(point, kSize);
    update();
}

void GridThumbnail::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.drawImage(0, 0, picture_);
}

void GridThumbnail::mousePressEvent(QMouseEvent* event) {
    emit clicked(event->position().toPoint());
}

}  // namespace tintora
