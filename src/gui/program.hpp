#pragma once

#include <QString>
#include <memory>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/curves.hpp"
#include "core/settings/settings_file.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

class MainWindow;
class VideoWindow;
class PaletteWindow;
class ProgressDialog;
class AboutBox;
class OptionsDialog;

// The user's country code and PATH, from the system, for the settings defaults.
SettingsEnvironment system_settings_environment(const QString& program_dir);

// Owns the program-wide records and every window, created once in a fixed
// order: main window, video window, colour palette, progress dialog, about
// box, options dialog. Only the main window is shown. Windows reach each
// other's operations through this object.
class Program {
public:
    explicit Program(const SettingsEnvironment& environment);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    AppSettings& settings() { return settings_; }
    CorrectionGrid& grid() { return grid_; }
    PairClipboard& pair_clipboard() { return pair_clipboard_; }
    ChannelPairClipboard& channel_pair_clipboard() { return channel_pair_clipboard_; }
    VideoSession& video() { return video_workspace_.session(); }
    VideoWorkspace& video_workspace() { return video_workspace_; }
    Composition& composition() { return composition_; }

    MainWindow& main_window() { return *main_window_; }
    VideoWindow& video_window() { return *video_window_; }
    PaletteWindow& palette_window() { return *palette_window_; }
    ProgressDialog& progress_dialog() { return *progress_dialog_; }
    AboutBox& about_box() { return *about_box_; }
    OptionsDialog& options_dialog() { return *options_dialog_; }

    // Rebuilds the main window's picture from the current state.
    void recompose();

    // Hands the main window the video workspace's result picture of a loaded
    // clip with frame_count frames (0: no video) and recomposes.
    void set_video_result(Frame result_picture, int frame_count);

    // Writes the settings file; tells the user when it cannot.
    void save_settings_or_warn();

private:
    AppSettings settings_;
    CorrectionGrid grid_;
    PairClipboard pair_clipboard_ = make_empty_pairs();
    ChannelPairClipboard channel_pair_clipboard_ = make_empty_channel_pairs();
    VideoWorkspace video_workspace_{settings_};
    Composition composition_;

    std::unique_ptr<MainWindow> main_window_;
    std::unique_ptr<VideoWindow> video_window_;
    std::unique_ptr<PaletteWindow> palette_window_;
    std::unique_ptr<ProgressDialog> progress_dialog_;
    std::unique_ptr<AboutBox> about_box_;
    std::unique_ptr<OptionsDialog> options_dialog_;
};

}  // namespace tintora
