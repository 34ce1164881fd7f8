#pragma once

#include <QImage>
#include <QWidget>
#include <cstdint>

#include "core/correction/frame.hpp"
#include "core/video/area_selection.hpp"

namespace tintora {

// Shows a frame stretched to the view with its aspect kept, anchored at the
// top-left corner, optionally with the red selection rectangle over it, and
// reports the mouse in view pixels.
class FrameView : public QWidget {
    Q_OBJECT
public:
    explicit FrameView(QWidget* parent = nullptr);

    // Shows the frame (kept by reference; call again after it changes).
    void set_picture(const Frame* picture);
    // The rectangle to draw, or null for none (kept by reference).
    void set_selection(const SelectionShape* selection);
    // Repaints when the picture or the rectangle differs from what is shown.
    void refresh(std::uint64_t picture_generation);

signals:
    void pressed(int x, int y, Qt::MouseButton button);
    void moved(int x, int y, Qt::MouseButtons buttons);
    void released(int x, int y, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    const Frame* picture_ = nullptr;
    const SelectionShape* selection_ = nullptr;
    std::uint64_t shown_generation_ = 0;
    SelectionShape shown_selection_;
    // The picture scaled to the view, kept until the picture or the view's
    // size changes: moving the rectangle repaints without scaling again.
    QImage scaled_;
};

}  // namespace tintora
