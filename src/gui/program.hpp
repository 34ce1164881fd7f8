#pragma once

#include <QString>
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/correction/curves.hpp"
#include "core/correction/light_gains.hpp"
#include "core/settings/settings_file.hpp"
#include "core/settings/window_places.hpp"
#include "core/video/video_workspace.hpp"
#include "gui/edit_history.hpp"

class QWidget;

namespace tintora {

class MainWindow;
class VideoWindow;
class PaletteWindow;
class ProgressDialog;
class AboutBox;
class OptionsDialog;
class HotspotPlacementWindow;

// The user's country code and PATH, from the system, for the settings defaults.
SettingsEnvironment system_settings_environment(const QString& program_dir);

// The room the display's screens leave for windows: the primary screen's,
// and every screen's.
Screens screens_of_this_display();

// Owns the program-wide records and every window, created once in a fixed
// order: main window, video window, colour palette, progress dialog, about
// box, options dialog, hotspot placement window. The main window, the palette and the video window
// are placed at once where the settings file remembers them, or side by
// side on the primary screen (see start_places). The palette opens with the
// main window unless it was closed when the program last ended; the others
// are shown when asked for. Windows reach each other's operations through
// this object.
class Program {
public:
    explicit Program(const SettingsEnvironment& environment,
                     const Screens& screens = screens_of_this_display());
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
    HotspotPlacementWindow& hotspot_placement_window() { return *hotspot_placement_window_; }

    // Rebuilds the main window's picture from the current state; the hotspot
    // placement window follows.
    void recompose();

    // Hands the main window the video workspace's result picture of a loaded
    // clip with frame_count frames (0: no video) and recomposes.
    void set_video_result(Frame result_picture, int frame_count);

    // Writes the settings file with the windows' places as they are now;
    // tells the user when it cannot.
    void save_settings_or_warn();

    // One undo step for what `change` does to the grid and the mesh (none
    // when it changes nothing). The caller shows the result as before.
    template <class Change>
    void record_change(const TextPair& label, Change&& change) {
        history_.record(edit_label(label), std::forward<Change>(change));
    }
    // The same for a gesture that spans events: begin when it starts,
    // finish when it ends.
    void begin_change(const TextPair& label) { history_.begin(edit_label(label)); }
    void finish_change() { history_.finish(); }
    EditHistory& history() { return history_; }
    // Puts an undo step's state back and shows it in every window.
    void restore_edit(const EditSnapshot& snapshot);

    // Whether the project holds what it did when it was last opened,
    // started or saved (see project_content); and taking that moment.
    bool project_modified() const;
    void mark_project_unmodified();

private:
    QString edit_label(const TextPair& label) const;
    // The windows whose places are kept, in PlacedWindow order.
    std::array<QWidget*, kPlacedWindowCount> placed_windows() const;
    void place_windows(const Screens& screens);
    void remember_window_places();

    AppSettings settings_;
    WindowPlaces window_places_;
    CorrectionGrid grid_;
    PairClipboard pair_clipboard_ = make_empty_pairs();
    ChannelPairClipboard channel_pair_clipboard_ = make_empty_channel_pairs();
    VideoWorkspace video_workspace_{settings_};
    Composition composition_;
    EditHistory history_;
    std::string unmodified_content_;
    // The workspace's picture count at the last composition.
    std::uint64_t composed_generation_ = 0;
    LightGains composed_gains_;  // the light the shown frame was composed in
    bool overlay_composed_ = false;

    std::unique_ptr<MainWindow> main_window_;
    std::unique_ptr<VideoWindow> video_window_;
    std::unique_ptr<PaletteWindow> palette_window_;
    std::unique_ptr<ProgressDialog> progress_dialog_;
    std::unique_ptr<AboutBox> about_box_;
    std::unique_ptr<OptionsDialog> options_dialog_;
    std::unique_ptr<HotspotPlacementWindow> hotspot_placement_window_;
};

}  // namespace tintora
