#pragma once

#include <QMainWindow>
#include <QPoint>
#include <vector>

#include "core/composition/sampling.hpp"
#include "gui/captions.hpp"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace tintora {

class CompositionView;
class GridThumbnail;
class Program;

// The main window: the composed picture of background and corrected video
// frame, the lists that choose how it is shown, the grid thumbnail, the
// status bar readouts of colour sampling, and the menus.
class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 722;
    static constexpr int kClientHeight = 762;

    explicit MainWindow(Program& program);

    // Shows the composition's current picture.
    void show_picture();

    // "Open image": asks for a JPEG and opens it.
    void open_image();
    // Opens the JPEG as the background; a file that cannot be read is
    // reported and the previous background stays. True on success.
    bool open_background_file(const QString& path);

    // "New project", "Open project", "Save project": the dialogs, then the
    // operations below.
    void new_project();
    void open_project();
    void save_project();
    // Replays the project file; a file that cannot be read is reported and
    // nothing changes. True when it was read.
    bool open_project_file(const QString& path);
    // Writes the project file and says whether it was saved.
    void save_project_file(const QString& path);

    // F4, F5, F6.
    void toggle_hide_frame();
    void refresh();
    void restore_default_layout();

    // Applies the English or Russian captions ("rus" exactly gives Russian).
    void apply_language();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    void build_menus();
    void build_left_column(QWidget* client);
    void build_status_bar();
    void place_scroll_box();
    void sync_lists_from_choices();
    void choose_language(const char* language);

    void on_picture_pressed(QPoint position, Qt::MouseButton button,
                            Qt::KeyboardModifiers modifiers);
    void on_picture_moved(QPoint position);
    void on_thumbnail_clicked(QPoint position);

    Program& program_;
    std::vector<Caption> captions_;

    QAction* english_action_ = nullptr;
    QAction* russian_action_ = nullptr;
    QComboBox* rotation_list_ = nullptr;
    QComboBox* scale_list_ = nullptr;
    QComboBox* density_list_ = nullptr;
    QCheckBox* hide_frame_box_ = nullptr;
    GridThumbnail* thumbnail_ = nullptr;
    QScrollArea* scroll_box_ = nullptr;
    CompositionView* picture_view_ = nullptr;
    QLabel* background_panel_ = nullptr;
    QLabel* video_panel_ = nullptr;
    QLabel* spare_panel_ = nullptr;

    // The intensities of the last mouse move over the picture.
    int background_intensity_ = 0;
    int video_intensity_ = 0;
    // All it read, which a right click stores by the correction mode.
    SampleReading last_reading_;
};

}  // namespace tintora
