#pragma once

#include <QWidget>

#include "core/correction/correction_grid.hpp"

namespace tintora {

// The curve of the current grid point: white plot with fine and coarse
// grids, the identity diagonal, the curve and its control pairs in red, and
// six colour bars showing pure red, green and blue before and after the
// curve. A left press sets a pair, a right press removes the pair there
// (or the one whose dot it nearly hits).
class CurveGraphWidget : public QWidget {
    Q_OBJECT
public:
    CurveGraphWidget(CorrectionGrid& grid, QWidget* parent);

signals:
    // A press is about to change the current point's pairs.
    void about_to_edit();
    // A press changed the current point's pairs and rebuilt its table.
    void edited();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    CorrectionGrid& grid_;
};

}  // namespace tintora
