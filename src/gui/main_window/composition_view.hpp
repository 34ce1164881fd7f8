#pragma once

#include <QPoint>
#include <QWidget>

namespace tintora {

class Composition;

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

signals:
    void pressed(QPoint position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void moved(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    Composition* composition_ = nullptr;
};

}  // namespace tintora
