#pragma once

#include <QPoint>
#include <QWidget>
#include <optional>

#include "core/composition/composition.hpp"

namespace tintora {

// Shows the composed picture at its own size, unscaled, inside a scroll
// area, and reports the mouse in picture coordinates. It has the whole
// picture's size (for the scroll bars and the mouse) but asks the
// composition only for the part that is visible, plus a margin for
// scrolling.
class CompositionView : public QWidget {
    Q_OBJECT
public:
    explicit CompositionView(QWidget* parent = nullptr);

    // The composition shown (kept by reference).
    void set_composition(Composition* composition);
    // Takes the picture's new size and paints it again after a composition.
    void picture_changed();

    // A played picture shown over its part of the composed picture, until
    // cleared. Gives back the one it replaces, to be drawn over again.
    std::optional<Frame> show_played(Frame picture, RegionOrigin origin);
    void clear_played();
    const Frame* played_picture() const { return played_ ? &*played_ : nullptr; }

    // The current point's marker, ringed and numbered (point + 1) over the
    // picture so it is found at once; nothing without markers. Painted by
    // the view only: the composed pixels, which sampling reads, stay as
    // they are.
    void show_current_marker(std::optional<QPoint> centre, int point);
    std::optional<QPoint> current_marker() const { return current_marker_; }

signals:
    void pressed(QPoint position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void moved(QPoint position);
    void released(QPoint position, Qt::MouseButton button);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    Composition* composition_ = nullptr;
    std::optional<Frame> played_;
    RegionOrigin played_origin_;
    std::optional<QPoint> current_marker_;
    int current_point_ = 0;
};

}  // namespace tintora
