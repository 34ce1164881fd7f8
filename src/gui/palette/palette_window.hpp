#pragma once

#include <QWidget>
#include <string>

class QPushButton;
class QStatusBar;
class QTableWidget;
class QTimer;

namespace tintora {

class CurveGraphWidget;
class Program;

// The colour palette window: the current grid point's color table as a
// table and a graph, the candidate-pair marker that colour sampling moves,
// and the five whole-curve buttons. Follows cur_point and the interface
// language on its one-second timer. Every edit recomposes the main picture.
class PaletteWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 849;
    static constexpr int kClientHeight = 520;

    PaletteWindow(Program& program, QWidget* owner);

    // Shows the window; the first time centred on its owner.
    void show_near_owner();

    // Refills the table and repaints the graph for the current point.
    void redraw_graph();

    // Moves the blue marker to the pair (video intensity i, background
    // intensity j) on the graph and shows it.
    void show_candidate(int i, int j);

    // One tick of the timer: follow cur_point, then the language.
    void follow_program_state();

    int last_shown_point() const { return last_shown_point_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void after_edit();
    void place_controls();
    void apply_language();

    Program& program_;
    QTableWidget* table_ = nullptr;
    CurveGraphWidget* graph_ = nullptr;
    QWidget* marker_ = nullptr;
    QPushButton* buttons_[5] = {};
    QStatusBar* status_bar_ = nullptr;
    QTimer* timer_ = nullptr;

    int last_shown_point_ = -1;
    std::string applied_language_;
    bool shown_before_ = false;
};

}  // namespace tintora
