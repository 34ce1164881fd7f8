#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>

namespace tintora {

// The picture of grid point p on a size by size thumbnail: a 3 by 3 grid of
// white cells between thin grey lines at a third and two thirds, the cell of
// point p filled red-orange.
QImage grid_thumbnail_picture(int point, int size = 100);

// The 100 by 100 grid thumbnail of the main window: shows which grid point
// is current and reports clicks.
class GridThumbnail : public QWidget {
    Q_OBJECT
public:
    static constexpr int kSize = 100;

    explicit GridThumbnail(QWidget* parent = nullptr);

    void show_point(int point);
    int shown_point() const { return point_; }

signals:
    void clicked(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    int point_ = 0;
    QImage picture_;
};

}  // namespace tintora
