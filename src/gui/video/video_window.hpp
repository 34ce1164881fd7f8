#pragma once

#include <QMainWindow>
#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/video/command_runner.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_formats.hpp"
#include "core/video/video_parameters.hpp"
#include "gui/captions.hpp"

class QAction;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QRadioButton;
class QSlider;
class QTabWidget;
class QTimer;

namespace tintora {

class FrameView;
class Program;
class VideoWorkspace;

// The video workspace window: opening a clip, stepping through its frames,
// the cut, the output settings and the preview. Every rule lives in the
// workspace; this window turns events into its operations and shows its state.
class VideoWindow : public QMainWindow {
    Q_OBJECT
public:
    VideoWindow(Program& program, QWidget* owner);
    ~VideoWindow() override;

    // "Open video": asks for a clip and imports it.
    void open_video();
    // Imports the clip without asking (also for the project loader).
    void open_video_file(const QString& path);

    // The exports of the File menu: the guard, the save dialog, the export.
    void save_video();
    void save_jpeg_sequence();
    void save_wav();
    // "Save video…": MP4, WebM or FLV by the filter chosen or the name typed.
    void save_video_as();
    // The exports after the dialog, to the name chosen (a JPEG name is
    // shortened into the sequence prefix). They return when the run ends.
    void export_video_to(const std::filesystem::path& output);
    void export_jpeg_sequence_to(const std::filesystem::path& chosen);
    void export_wav_to(const std::filesystem::path& output);
    // "Save video…" after its dialog: the name as typed and the filter chosen.
    void export_video_as(const std::filesystem::path& typed, VideoFormat chosen_filter);
    // "Save hotspot…": DIR/NAME asked for, then the hotspot's files written
    // there (prepare_hotspot_export). The export alone returns when its run
    // ends; finish_quietly leaves out the message of a run that finished
    // (the preview opens its page instead).
    void save_hotspot();
    void export_hotspot_to(const std::filesystem::path& base, bool finish_quietly = false);
    // The run timer's tick: the run's new log lines and progress, and its end.
    void follow_run();
    bool run_active() const { return run_ != nullptr; }
    // Before something that would pull WorkDir or the session from under a
    // run (a project opened or reset, the program ended, the run's dialog
    // closed): asks whether to stop a run that goes on, and stops it. False
    // when the user keeps it; then nothing changes.
    bool stop_run_if_agreed();

    // Shows the workspace's state after others changed it (a project replay).
    void refresh_from_workspace();

    // One tick of the one-second timer: follows the interface language and
    // reaps a player that has ended.
    void follow_program_state();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // The window frame.
    void place_controls();
    void build_status_bar();
    // Mirrors the workspace into every widget; repaints the pictures and
    // recomposes the main window when they changed.
    void show_state();
    void apply_language();
    QMenu* add_menu(const TextPair& text, const char* name);
    QAction* add_item(QMenu* menu, const TextPair& text, const char* name);

    // File menu.
    void build_file_menu();
    bool run_in_progress();
    bool clip_open_or_tell(const TextPair& message);
    // What every export of the menu starts with: nothing while a run goes on
    // or without a clip (`needs_clip` said), else the save dialog's name.
    // selected_filter, when given, is the filter shown first and then the one chosen.
    std::optional<std::filesystem::path> ask_export_name(const TextPair& needs_clip,
                                                         const QString& filters,
                                                         QString* selected_filter = nullptr);
    void tell(const QString& text);
    // The light the project follows measured before an export reads it;
    // false when the user stopped its pass (and was told so).
    bool light_measured();
    void start_run(RunJob job, int mode, bool finish_quietly = false);
    // A prepared export: refused with its message, or run.
    void start_export(Result<RunJob> job, int mode, bool finish_quietly = false);
    // "Cancel": stops the run and says what it left on disk.
    void cancel_run();
    // The run's dialog closed by its close box: it goes only with the run.
    void close_run_dialog_if_agreed();
    // The run has ended in `state`: it goes, and so does its dialog. Returns
    // why it failed (empty unless it did).
    std::string close_run(ProcessingRun::State state);
    // The message at a run's end: finished (unless the export keeps quiet
    // about that), failed with its reason, or an encoding cancelled.
    void tell_run_end(ProcessingRun::State state, const std::string& failure,
                      bool finished_quietly);

    // Edit menu.
    void build_edit_menu();
    void run_and_show(void (VideoWorkspace::*operation)());

    // Source and Result tabs.
    void build_pages();

    // Parameters tab.
    QWidget* build_parameters_page();
    QLineEdit* add_field(QWidget* parent, ParameterField field, const char* name);

    // Navigation.
    void build_navigation(QWidget* client);
    void play();
    // Writes a start or stop field and redraws the range bar under the slider.
    template <class Result>
    void mark_range_end(Result (VideoWorkspace::*operation)());
    void draw_selected_frames();

    Program& program_;
    VideoWorkspace& workspace_;
    std::vector<Caption> captions_;
    std::vector<Hint> hints_;

    std::array<QAction*, 4> rotate_actions_{};
    QTabWidget* pages_ = nullptr;
    FrameView* source_view_ = nullptr;
    FrameView* result_view_ = nullptr;
    std::array<QLineEdit*, kParameterFieldCount> fields_{};
    std::array<QRadioButton*, 4> rotation_buttons_{};
    QCheckBox* mirror_horizontally_box_ = nullptr;
    QCheckBox* mirror_vertically_box_ = nullptr;
    QComboBox* resample_list_ = nullptr;
    QComboBox* color_list_ = nullptr;
    QCheckBox* ping_pong_box_ = nullptr;
    QComboBox* video_bitrate_list_ = nullptr;
    QComboBox* channels_list_ = nullptr;
    QComboBox* rate_list_ = nullptr;
    QComboBox* audio_bitrate_list_ = nullptr;
    QCheckBox* poster_box_ = nullptr;
    QComboBox* quality_list_ = nullptr;
    QSlider* track_ = nullptr;
    QWidget* range_bar_ = nullptr;
    QGroupBox* button_group_ = nullptr;
    std::array<QLabel*, 5> status_panels_{};
    QTimer* timer_ = nullptr;
    QTimer* run_timer_ = nullptr;
    std::unique_ptr<ProcessingRun> run_;
    // Whether the run's end says nothing when it finished.
    bool run_finishes_quietly_ = false;
    // While the user is asked whether to stop the run, its end waits for the answer.
    bool asking_to_stop_run_ = false;

    std::string applied_language_;
    std::uint64_t shown_generation_ = 0;
    bool showing_state_ = false;
    ChildProcess player_;
};

}  // namespace tintora
