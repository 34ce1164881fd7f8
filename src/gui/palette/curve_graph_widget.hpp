#pragma once

#include <QWidget>

class QPainter;

#include "core/correction/correction_grid.hpp"

namespace tintora {

// The curve of the current grid point: white plot with fine and coarse
// grids, the identity diagonal, the curve and its control pairs in red, and
// six colour bars showing pure red, green and blue before and after the
// curve. A left press sets a pair, a right press removes the pair there
// (or the one whose dot it nearly hits). In colour mode the point has a curve per channel: the
// chosen channel's is drawn strongly with its pairs and edited, the other two faintly, each pair of
// bars shows its own channel's curve, and a press on a pair of bars chooses that channel.
class CurveGraphWidget : public QWidget {
    Q_OBJECT
public:
    CurveGraphWidget(CorrectionGrid& grid, QWidget* parent);

    // The channel shown and edited in colour mode (kRedChannel..kBlueChannel).
    int channel() const { return channel_; }
    void set_channel(int channel);

signals:
    // A press is about to change the current point's pairs.
    void about_to_edit();
    // A press changed the current point's pairs and rebuilt its table.
    void edited();
    // A press on the bars chose another channel.
    void channel_chosen(int channel);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    void paint_channels(QPainter& painter);

    CorrectionGrid& grid_;
    int channel_ = kRedChannel;
};

}  // namespace tintora
