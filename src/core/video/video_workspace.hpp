#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "core/common/app_settings.hpp"
#include "core/video/area_selection.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/light_track.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_parameters.hpp"
#include "core/video/video_session.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {

// The video window's tabs.
inline constexpr int kSourceTab = 0;
inline constexpr int kResultTab = 1;
inline constexpr int kParametersTab = 2;

// The status bar's panels, from the left.
inline constexpr int kPositionPanel = 0;
inline constexpr int kInputPanel = 1;
inline constexpr int kOutputPanel = 2;
inline constexpr int kCursorPanel = 3;
inline constexpr int kFramesPanel = 4;  // says when the working folder's frames are not the clip's
inline constexpr int kStatusPanelCount = 5;

// Everything the video window shows and every rule of its handlers, without
// a window: the session, the Parameters tab's data, the selection rectangle,
// the status texts, the caption and the active tab. The window binds its
// widgets to this and calls one operation per event; the project file and
// the command-line front end drive the same operations.
class VideoWorkspace {
public:
    explicit VideoWorkspace(const AppSettings& settings);

    VideoSession& session() { return session_; }
    const VideoSession& session() const { return session_; }
    VideoParameters& parameters() { return parameters_; }
    const VideoParameters& parameters() const { return parameters_; }
    const SelectionShape& selection() const { return selection_; }
    const std::string& status_panel(int index) const {
        return status_panels_[static_cast<std::size_t>(index)];
    }
    const std::string& caption() const { return caption_; }
    int active_tab() const { return active_tab_; }
    // Counts every change of the source or result picture, so a view knows
    // when to repaint and the main window when to recompose.
    std::uint64_t picture_generation() const { return picture_generation_; }

    // The size of the source view (the result view has the same size).
    void set_view_size(int width, int height);
    int view_width() const { return view_width_; }
    int view_height() const { return view_height_; }

    // After the import's commands have run for `clip`: caption, frame count,
    // slider, input rate, the first frame drawn, cut and resample reset, the
    // Source tab in front; the working folder held, and the import's stamp
    // kept, for as long as the clip is open. Returns false when no rate could
    // be read from the encoder's description while frames were found (the
    // caller says so).
    bool finish_import(const std::filesystem::path& clip, const ImportOutcome& outcome);

    // The working folder's lock while the clip is open (none without frames):
    // handed to the import of the next clip and to the runs that read the frames.
    const std::shared_ptr<WorkDirLock>& work_dir_lock() const { return work_dir_lock_; }
    // Why the frames in the working folder must not be read as this clip's
    // (another import has put its own there), in the interface language;
    // nothing when they may.
    std::optional<std::string> frames_refusal() const;
    // The stamp of the open clip's import (none without frames).
    const std::optional<ImportStamp>& import_stamp() const { return import_stamp_; }
    // Whether the preview and the run follow the clip's light, and from
    // which frame's light; a project holds it, a new project turns it off.
    LightFollowing& light_following() { return light_following_; }
    const LightFollowing& light_following() const { return light_following_; }

    // The redraw primitives.
    void draw_source();
    void draw_result_image();
    void show_status_bar();
    void draw_selection();
    // A frame change: the four above in order.
    void refresh_frame();
    void change_tab(int index);

    // Navigation. Each does nothing without a video.
    void move_slider(int position);  // the user moved the slider
    void go_to_begin();
    void go_to_previous();
    void go_to_next();
    void go_to_end();
    // "Start" / "Stop": the frame shown into the start or stop field.
    void mark_start_frame();
    void mark_stop_frame();
    // 1 and FrameCount into the start and stop fields; false without a video.
    bool select_all_frames();
    // The player's command from the frame shown, or nothing without a video.
    std::optional<Command> play_command() const;

    // Parameters. Leaving a field also redraws the result and the status bar.
    void leave_field(ParameterField field);
    // A stop frame beyond the clip's frames (a project's range after an
    // import cancelled part-way) is pulled to the last frame, by the stop
    // field's rule.
    void hold_stop_frame_within_clip();
    void choose_resample_item(int index);
    void rotate_from_menu(int rotation_index);
    void clear_area_selection();
    void select_all_area();
    // What "New project" resets of the workspace (the clip counts as closed).
    void reset_for_new_project();

    // The mouse over the source view, in view pixels. A press inside the
    // visible selection rectangle takes hold of it to move it; elsewhere it
    // starts a new rectangle. Moves with the button held go to whichever the
    // press started.
    void press_on_source(int x, int y, bool left_button);
    void move_on_source(int x, int y, bool left_button_held);
    void release_on_source(int x, int y, bool left_button);
    // Whether the pointer at (x, y) shows the drag cursor of the rectangle.
    bool drag_cursor_at(int x, int y) const;
    // The cursor read-out over the result view.
    void move_on_result(int x, int y);

private:
    enum class PressTarget { None, View, Selection };

    void press_on_view(int x, int y, bool left_button);
    void move_on_view(int x, int y, bool left_button_held);
    void release_on_view(int x, int y, bool left_button);
    void press_on_selection(int x, int y, bool left_button);
    void move_on_selection(int x, int y, bool left_button_held);
    void show_cursor(double x, double y);
    void show_output_format();
    std::string_view text(const TextPair& pair) const;

    const AppSettings& settings_;
    VideoSession session_;
    VideoParameters parameters_;
    SelectionShape selection_;
    std::array<std::string, kStatusPanelCount> status_panels_;
    std::string caption_ = "Video";
    int active_tab_ = kParametersTab;
    int view_width_ = 0;
    int view_height_ = 0;
    PressTarget press_target_ = PressTarget::None;
    std::uint64_t picture_generation_ = 0;
    std::shared_ptr<WorkDirLock> work_dir_lock_;
    std::optional<ImportStamp> import_stamp_;
    LightFollowing light_following_;
};

}  // namespace tintora
