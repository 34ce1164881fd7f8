#include "gui/palette/curve_graph_widget.hpp"

#include <QMouseEvent>
#include <QPainter>

#include "core/correction/curve_graph.hpp"
#include "core/correction/curves.hpp"

namespace tintora {
namespace {

// Fills the columns first..last (inclusive) between the rows of two
// neighbouring intensities.
void fill_band(QPainter& painter, int first, int last, int row_a, int row_b, const QColor& colour) {
    const int top = std::min(row_a, row_b);
    const int bottom = std::max(row_a, row_b);
    painter.fillRect(QRect(QPoint(first, top), QPoint(last, bottom)), colour);
}

void draw_grid_lines(QPainter& painter, const CurveGraphGeometry& g, int step, int last_v) {
    for (int v = 0; v <= last_v; v += step) {
        painter.drawLine(g.x_of(v), 0, g.x_of(v), g.bottom());
    }
    for (int v = 0; v <= last_v; v += step) {
        painter.drawLine(0, g.y_of(v), g.plot_width() - 1, g.y_of(v));
    }
}

void draw_label(QPainter& painter, int x, int y, int v) {
    // Placed by its top-left corner.
    painter.drawText(QRect(x, y, 40, 15), Qt::AlignLeft | Qt::AlignTop, QString::number(v));
}

}  // namespace

CurveGraphWidget::CurveGraphWidget(CorrectionGrid& grid, QWidget* parent)
    : QWidget(parent), grid_(grid) {
    setObjectName(QStringLiteral("curveGraph"));
}

void CurveGraphWidget::paintEvent(QPaintEvent*) {
    const CurveGraphGeometry g(width(), height());
    const int a = g.plot_width();
    const int b = g.bottom();
    const int point = grid_.current_point();
    const ColorTable& table = grid_.color_table[point];
    const ControlValues& pairs = grid_.control_values[point];

    QPainter painter(this);
    painter.fillRect(rect(), palette().window());
    painter.fillRect(QRect(QPoint(0, 0), QPoint(a - 1, b)), Qt::white);

    painter.setPen(QColor(200, 200, 200));
    draw_grid_lines(painter, g, 5, 250);
    painter.setPen(QColor(100, 100, 100));
    draw_grid_lines(painter, g, 20, 240);
    for (int v = 0; v <= 240; v += 20) {
        draw_label(painter, static_cast<int>(static_cast<float>(v) * g.sx() + 5), g.height() - 15,
                   v);
        draw_label(painter, 5,
                   static_cast<int>(static_cast<float>(b) - static_cast<float>(v) * g.sy() - 15),
                   v);
    }
    painter.setPen(Qt::black);
    painter.drawLine(0, b, a - 1, 0);

    if (grid_.correction_mode == CorrectionMode::Colour) {
        paint_channels(painter);
        return;
    }
    for (int v = 0; v < kIntensityCount; ++v) {
        const int t = table[v];
        const int row_a = g.y_of(v);
        const int row_b = g.y_of(v + 1);
        fill_band(painter, a, a + 24, row_a, row_b, QColor(v, 0, 0));
        fill_band(painter, a + 25, a + 48, row_a, row_b, QColor(t, 0, 0));
        fill_band(painter, a + 50, a + 74, row_a, row_b, QColor(0, v, 0));
        fill_band(painter, a + 75, a + 98, row_a, row_b, QColor(0, t, 0));
        fill_band(painter, a + 100, a + 124, row_a, row_b, QColor(0, 0, v));
        fill_band(painter, a + 125, a + 148, row_a, row_b, QColor(0, 0, t));

        painter.setPen(Qt::red);
        painter.setBrush(Qt::red);
        if (pairs[v] != NO_PAIR) {
            painter.drawEllipse(QRect(g.x_of(v) - 3, g.y_of(pairs[v]) - 3, 6, 6));
        }
        if (v > 0) painter.drawLine(g.x_of(v - 1), g.y_of(table[v - 1]), g.x_of(v), g.y_of(t));
    }
}

void CurveGraphWidget::mousePressEvent(QMouseEvent* event) {
    const CurveGraphGeometry g(width(), height());
    const QPoint at = event->position().toPoint();
    if (grid_.correction_mode == CorrectionMode::Colour) {
        if (const std::optional<int> channel = channel_at_press(g, at.x())) {
            set_channel(*channel);
            emit channel_chosen(*channel);
            return;
        }
    }
    const std::optional<GraphPair> pair = pair_at_press(g, at.x(), at.y());
    if (!pair) return;
    emit about_to_edit();
    const int point = grid_.current_point();
    ControlValues& pairs = edited_pairs(grid_, point, channel_);
    if (event->button() == Qt::LeftButton) {
        pairs[pair->v] = pair->t;
    } else if (event->button() == Qt::RightButton) {
        // A dot is hard to hit to the pixel: a press near one removes it.
        pairs[pair_to_remove(g, pairs, at.x(), at.y(), pair->v)] = NO_PAIR;
    }
    recalculate_color_table(grid_, point);
    emit edited();
}

void CurveGraphWidget::set_channel(int channel) {
    if (channel < kRedChannel || channel > kBlueChannel || channel == channel_) return;
    channel_ = channel;
    update();
}

void CurveGraphWidget::paint_channels(QPainter& painter) {
    const CurveGraphGeometry g(width(), height());
    const int a = g.plot_width();
    const int point = grid_.current_point();
    const QColor colours[kChannelCount] = {Qt::red, QColor(0, 160, 0), Qt::blue};
    const auto table = [this, point](int channel) -> const ColorTable& {
        return grid_.channel_color_table[channel][point];
    };
    // Each pair of bars: pure channel before and after that channel's curve.
    for (int v = 0; v < kIntensityCount; ++v) {
        const int row_a = g.y_of(v);
        const int row_b = g.y_of(v + 1);
        for (int c = 0; c < kChannelCount; ++c) {
            const int t = table(c)[v];
            const auto pure = [c](int level) {
                return QColor(c == kRedChannel ? level : 0, c == kGreenChannel ? level : 0,
                              c == kBlueChannel ? level : 0);
            };
            const int left = a + 50 * c;
            fill_band(painter, left, left + 24, row_a, row_b, pure(v));
            fill_band(painter, left + 25, left + 48, row_a, row_b, pure(t));
        }
    }
    // The chosen channel's bars framed, its curve drawn last, on top.
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(Qt::black, 2));
    painter.drawRect(QRect(a + 50 * channel_ + 1, 1, 47, g.bottom() - 1));
    for (const int c : {(channel_ + 1) % 3, (channel_ + 2) % 3, channel_}) {
        const bool chosen = c == channel_;
        QColor colour = colours[c];
        if (!chosen) colour.setAlpha(70);
        painter.setPen(QPen(colour, chosen ? 2 : 1));
        const ColorTable& curve = table(c);
        for (int v = 1; v < kIntensityCount; ++v) {
            painter.drawLine(g.x_of(v - 1), g.y_of(curve[v - 1]), g.x_of(v), g.y_of(curve[v]));
        }
    }
    const ControlValues& pairs = grid_.channel_control_values[channel_][point];
    painter.setPen(colours[channel_]);
    painter.setBrush(colours[channel_]);
    for (int v = 0; v < kIntensityCount; ++v) {
        if (pairs[v] != NO_PAIR) {
            painter.drawEllipse(QRect(g.x_of(v) - 3, g.y_of(pairs[v]) - 3, 6, 6));
        }
    }
}

}  // namespace tintora
