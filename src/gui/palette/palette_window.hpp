#pragma once

#include <QWidget>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class QStatusBar;
class QTableWidget;
class QTimer;

namespace tintora {

class CurveGraphWidget;
class Program;
struct SampleReading;

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

    // Shows the window; the first time centred on its owner, unless it was
    // given a place.
    void show_near_owner();

    // Refills the table and repaints the graph for the current point.
    void redraw_graph();
    // Another project (opened or new): its curves shown, the last one's
    // status line gone.
    void show_new_project();

    // Moves the blue marker to the pair (video intensity i, background
    // intensity j) on the graph and shows it.
    void show_candidate(int i, int j);
    // The same for what the pointer reads: the intensities, or in colour
    // mode the channel shown.
    void show_candidate(const SampleReading& reading);

    // "Match colours": the shown mode's curves matched over the frames the
    // "Frames" box asks for (the frame shown for 0), in one step; a problem
    // is said in a message box and changes nothing. The result is said in
    // the palette's status bar, or the main window's while the palette is
    // closed.
    void match_colours();

    // One tick of the timer: follow cur_point, then the language.
    void follow_program_state();

    int last_shown_point() const { return last_shown_point_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void after_edit();
    // The window messages and the light's progress show over.
    QWidget* shown_window();
    void warn(const QString& text);
    void place_controls();
    void apply_language();
    void build_colour_controls();
    // The mode list and the table's header follow the grid.
    void show_mode();
    // The Frames box as wide as its longest text in either language.
    void fit_frames_box();
    // The user checked or cleared "Follow the light".
    void follow_light(bool on);

    Program& program_;
    QTableWidget* table_ = nullptr;
    CurveGraphWidget* graph_ = nullptr;
    QWidget* marker_ = nullptr;
    QPushButton* buttons_[5] = {};
    QStatusBar* status_bar_ = nullptr;
    QTimer* timer_ = nullptr;
    // The correction mode and colour matching, on the status bar's right.
    QLabel* mode_label_ = nullptr;
    QComboBox* mode_list_ = nullptr;
    QLabel* frames_label_ = nullptr;
    QSpinBox* frames_box_ = nullptr;
    QPushButton* match_button_ = nullptr;
    // "Follow the light": the match, the preview and the exports follow the
    // clip's exposure and white balance (the project's TRACK_LIGHT).
    QCheckBox* follow_light_box_ = nullptr;

    int last_shown_point_ = -1;
    std::string applied_language_;
    bool shown_before_ = false;
};

}  // namespace tintora
