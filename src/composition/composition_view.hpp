#pragma once

#include <QPoint>
#include <QWidget>

#include "correction/frame.hpp"

namespace tintora {

// Shows a composed picture at its own size, unscaled, and reports the mouse
// in picture coordinates.
class CompositionView : public QWidget {
    Q_OBJECT
public:
    explicit CompositionView(QWidget* parent = nullptr);

    // Shows the frame (kept by reference; call again after it changes).
    void set_picture(const Frame* picture);

signals:
    void pressed(QPoint position, Qt::MouseButton button, Qt::KeyboardModifiers modifiers);
    void moved(QPoint position);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;

private:
    const Frame* picture_ = nullptr;
};

}  // namespace tintora
