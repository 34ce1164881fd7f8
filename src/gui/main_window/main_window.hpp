#pragma once

#include <QMainWindow>
#include <QPoint>
#include <vector>

#include "core/composition/mesh_drag.hpp"
#include "core/composition/sampling.hpp"
#include "core/settings/guide_page.hpp"
#include "gui/captions.hpp"

class QAction;
class QMenu;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QScrollArea;

namespace tintora {

class CompositionView;
class GridThumbnail;
class PanoramaPlayer;
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
    bool save_project_file(const QString& path);
    // When the project holds changes not saved: asks whether to save them
    // (Save, Don't save, Cancel). False when the work at hand must not go on
    // (Cancel, or a save that did not happen).
    bool ask_to_save_changes();
    // Before the project at hand is left (New, Open project, the program
    // ended): the playing ends, then the save question, then the question
    // about a run that goes on. False when the user keeps the work at hand.
    bool may_leave_project();
    // File > Exit and the options' Exit: what closing the window does (the
    // questions, the settings file written), then the program ends.
    void exit_program();

    // Edit > "Play in panorama" (Space): the output played in the picture.
    PanoramaPlayer& panorama_player() { return *player_; }
    // Space: plays, or says what is missing.
    void play_in_panorama();
    // Edit > "Area points…": the nine points typed, one undo step.
    void type_area_points();
    // A result the user should see, for a while, in the status bar.
    void show_status_message(const QString& text);
    // The playing ends where something else changes the picture.
    void abort_playing();
    // B held: the picture shows the frame before the correction.
    bool shows_uncorrected() const;
    // The thumbnail follows the current point (after an undo).
    void show_current_point();
    // Help > "Guide": the local guide in the interface language (a page of
    // it for the Service menu's hotspot items).
    void open_guide(GuidePage page = GuidePage::Main);
    // Service > "Panorama…": the panorama's choices typed; the picture and
    // the hotspot follow.
    void edit_panorama();
    // Edit > "Undo" and "Redo", for the other windows' keys.
    QList<QAction*> undo_redo_actions() const { return {undo_action_, redo_action_}; }

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
    void on_picture_released(QPoint position, Qt::MouseButton button);
    void on_thumbnail_clicked(QPoint position);
    void build_undo_items(QMenu* edit);
    void build_empty_picture_hint();
    void place_empty_picture_hint();
    // The program may end: the questions were answered so, and the
    // settings file is written. False when the user keeps working.
    bool prepare_to_exit();
    // The project file, here and in the video session, whose exports must not write over it.
    void set_project_path(const QString& path);

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
    QLabel* empty_picture_hint_ = nullptr;
    QAction* undo_action_ = nullptr;
    QAction* redo_action_ = nullptr;
    std::vector<Hint> hints_;
    PanoramaPlayer* player_ = nullptr;
    MeshDrag mesh_drag_;
    // The file the project was last opened from or saved to; empty for a new one.
    QString project_path_;

    // The intensities of the last mouse move over the picture.
    int background_intensity_ = 0;
    int video_intensity_ = 0;
    // All it read, which a right click stores by the correction mode.
    SampleReading last_reading_;
};

}  // namespace tintora
