#pragma once

#include <QDialog>
#include <QPoint>
#include <array>
#include <string>

class QFrame;
class QLabel;
class QTimer;

namespace tintora {

class Program;

// The about box: product, version, the product-update link, and a figure
// that looks toward the mouse cursor. Modal. Its 100 ms timer follows the
// interface language and the cursor, also while the box is hidden.
class AboutBox : public QDialog {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 320;
    static constexpr int kClientHeight = 232;
    static constexpr int kPictureSize = 100;

    AboutBox(Program& program, QWidget* owner);

    // One tick of the timer: the texts when the language changed since they
    // were last applied, then the picture for the cursor's position.
    void follow_language_and_cursor();

    // Shows the one picture that looks toward the screen point.
    void show_gaze_for(QPoint cursor);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void apply_language();

    Program& program_;
    QFrame* panel_ = nullptr;
    QLabel* version_label_ = nullptr;
    QLabel* link_label_ = nullptr;
    std::array<QLabel*, 9> pictures_{};
    QTimer* timer_ = nullptr;
    std::string applied_language_;  // empty: the first tick applies the texts
};

}  // namespace tintora
