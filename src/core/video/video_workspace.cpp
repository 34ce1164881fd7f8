#include "core/video/video_workspace.hpp"

#include <algorithm>
#include <new>

#include "core/correction/jpeg_codec.hpp"
#include "core/video/frame_pipeline.hpp"
#include "core/video/output_chain.hpp"

namespace tintora {
namespace {

using Field = ParameterField;

int truncate_coordinate(double value) {
    if (!(value > -2147483648.0 && value < 2147483648.0)) return 0;
    return static_cast<int>(value);
}

}  // namespace

VideoWorkspace::VideoWorkspace(const AppSettings& settings) : settings_(settings) {}

std::string_view VideoWorkspace::text(const TextPair& pair) const {
    return message_text(pair, settings_.language);
}

void VideoWorkspace::set_view_size(int width, int height) {
    view_width_ = width;
    view_height_ = height;
}

bool VideoWorkspace::finish_import(const std::filesystem::path& clip,
                                   const ImportOutcome& outcome) {
    VideoSession& s = session_;
    bool rate_found = true;
    work_dir_lock_ = outcome.work_dir_lock;
    import_stamp_ = outcome.stamp;
    status_panels_[kFramesPanel].clear();
    s.clip_path = clip;
    s.clip_has_sound = has_audio_stream(outcome.info_text);
    caption_ = "Video - " + clip.string();
    s.FrameCount = outcome.frame_count;
    // The previous clip's frames are gone; its pictures go with them.
    s.source_picture = Frame();
    s.result_picture = Frame();
    ++picture_generation_;
    if (s.FrameCount <= 0) {
        s.track_maximum = 1;
        s.track_position = 1;
    } else {
        parameters_.rotation_index = 0;
        s.track_maximum = s.FrameCount;
        s.track_position = 1;
        const std::optional<double> rate = parse_input_fps(outcome.info_text);
        rate_found = rate.has_value();
        s.InputFps = rate.value_or(0.0);
        parameters_.text(Field::InputFps) = format_rate(s.InputFps);
        // A rate nobody chose becomes the clip's own.
        const bool adopt = rate && output_fps_untouched(parameters_);
        if (adopt) s.OutputFps = std::clamp(*rate, 1.0, 100.0);
        parameters_.text(Field::OutputFps) = format_rate(s.OutputFps);
        if (adopt) parameters_.output_fps_from_clip = parameters_.text(Field::OutputFps);
        draw_source();
        draw_result_image();
        show_status_bar();
        s.FrameWidth = s.source_picture.width();
        s.FrameHeight = s.source_picture.height();
        s.CutX = 0;
        s.CutY = 0;
        s.CutWidth = s.FrameWidth;
        s.CutHeight = s.FrameHeight;
        s.ResampleWidth = s.FrameWidth;
        s.ResampleHeight = s.FrameHeight;
        clear_area_selection();
        draw_selection();
        parameters_.text(Field::Volume) = std::to_string(s.Volume);
        parameters_.text(Field::StartFrame) = "1";
        parameters_.text(Field::StopFrame) = std::to_string(s.FrameCount);
    }
    s.CurrentFrame = s.track_position;
    active_tab_ = kSourceTab;
    return rate_found;
}

void VideoWorkspace::draw_source() {
    VideoSession& s = session_;
    s.CurrentFrame = s.track_position;
    if (s.FrameCount <= 0) return;
    // Another clip's frames are never shown as this one's.
    if (std::optional<std::string> refused = frames_refusal()) {
        status_panels_[kFramesPanel] = std::move(*refused);
        return;
    }
    status_panels_[kFramesPanel].clear();
    // A frame file that is missing or damaged leaves the last picture up.
    Result<Frame> loaded = load_jpeg(frame_file_path(settings_.work_dir, s.CurrentFrame));
    if (!loaded) return;
    try {
        Frame decoded = std::move(loaded).value();
        s.InputWidth = decoded.width();
        s.InputHeight = decoded.height();
        s.source_picture = rotate_for_output(std::move(decoded), parameters_.rotation_angle());
    } catch (const std::bad_alloc&) {
        return;
    }
    s.FrameWidth = s.source_picture.width();
    s.FrameHeight = s.source_picture.height();
    ++picture_generation_;
}

void VideoWorkspace::draw_result_image() {
    if (session_.FrameCount <= 0) return;
    try {
        session_.result_picture =
            render_output(session_.source_picture, preview_steps(parameters_));
    } catch (const std::bad_alloc&) {
        return;
    }
    ++picture_generation_;
}

void VideoWorkspace::show_status_bar() {
    const VideoSession& s = session_;
    // Without a clip no frame is shown: "0 / 0", not the slider's 1.
    const std::int32_t shown = s.FrameCount > 0 ? s.CurrentFrame : 0;
    status_panels_[kPositionPanel] = fill_in(text(video_texts::kPosition),
                                             {std::to_string(shown), std::to_string(s.FrameCount)});
    status_panels_[kInputPanel] = fill_in(
        text(video_texts::kInputVideo),
        {std::to_string(s.InputWidth), std::to_string(s.InputHeight), format_g(s.InputFps)});
    show_output_format();
}

void VideoWorkspace::show_output_format() {
    const VideoSession& s = session_;
    status_panels_[kOutputPanel] =
        fill_in(text(video_texts::kOutputVideo),
                {std::to_string(s.result_picture.width()),
                 std::to_string(s.result_picture.height()), format_g(s.OutputFps)});
}

void VideoWorkspace::show_cursor(double x, double y) {
    status_panels_[kCursorPanel] =
        fill_in(text(video_texts::kCursor),
                {std::to_string(truncate_coordinate(x)), std::to_string(truncate_coordinate(y))});
}

void VideoWorkspace::draw_selection() {
    tintora::draw_selection(session_, parameters_, selection_, view_width_, view_height_);
}

void VideoWorkspace::refresh_frame() {
    draw_source();
    draw_result_image();
    show_status_bar();
    draw_selection();
}

void VideoWorkspace::change_tab(int index) {
    active_tab_ = index;
    refresh_frame();
    if (index == kParametersTab) status_panels_[kCursorPanel].clear();
}

void VideoWorkspace::move_slider(int position) {
    session_.track_position = std::clamp(position, 1, std::max(session_.track_maximum, 1));
    refresh_frame();
}

void VideoWorkspace::go_to_begin() {
    if (session_.FrameCount < 1) return;
    session_.track_position = 1;
    refresh_frame();
}

void VideoWorkspace::go_to_previous() {
    if (session_.FrameCount < 1) return;
    if (session_.track_position > 1) --session_.track_position;
    refresh_frame();
}

void VideoWorkspace::go_to_next() {
    if (session_.FrameCount < 1) return;
    if (session_.track_position < session_.FrameCount) ++session_.track_position;
    refresh_frame();
}

void VideoWorkspace::go_to_end() {
    if (session_.FrameCount < 1) return;
    session_.track_position = session_.FrameCount;
    refresh_frame();
}

void VideoWorkspace::mark_start_frame() {
    parameters_.text(Field::StartFrame) = std::to_string(session_.CurrentFrame);
}

void VideoWorkspace::mark_stop_frame() {
    parameters_.text(Field::StopFrame) = std::to_string(session_.CurrentFrame);
}

bool VideoWorkspace::select_all_frames() {
    if (session_.FrameCount < 1) return false;
    parameters_.text(Field::StartFrame) = "1";
    parameters_.text(Field::StopFrame) = std::to_string(session_.FrameCount);
    return true;
}

std::optional<Command> VideoWorkspace::play_command() const {
    if (session_.FrameCount < 1) return std::nullopt;
    return tintora::play_command(settings_.ffplay_path, session_.clip_path, session_.CurrentFrame,
                                 session_.InputFps);
}

void VideoWorkspace::leave_field(ParameterField field) {
    if (apply_exit_rule(field, session_, parameters_, settings_.language) ==
        AfterExit::DrawSelection) {
        draw_selection();
    }
    // The output's size and rate in the status bar follow the field at once.
    draw_result_image();
    show_status_bar();
}

void VideoWorkspace::hold_stop_frame_within_clip() {
    const std::int32_t n = session_.FrameCount;
    if (n < 1) return;
    const std::optional<std::int32_t> stop = parse_whole_number(parameters_.text(Field::StopFrame));
    if (stop && *stop > n) apply_exit_rule(Field::StopFrame, session_, parameters_);
}

void VideoWorkspace::choose_resample_item(int index) {
    parameters_.resample_index = index;
    tintora::choose_resample_item(index, session_, parameters_);
}

void VideoWorkspace::rotate_from_menu(int rotation_index) {
    parameters_.rotation_index = rotation_index;
    draw_source();
    select_all_area();
    draw_result_image();
    show_status_bar();
    draw_selection();
}

void VideoWorkspace::clear_area_selection() {
    tintora::clear_area_selection(session_, parameters_, selection_, view_width_, view_height_);
}

void VideoWorkspace::select_all_area() {
    tintora::select_all_area(session_, parameters_, selection_, view_width_, view_height_);
}

std::optional<std::string> VideoWorkspace::frames_refusal() const {
    // An import recorded without a stamp (none was made) has nothing to check.
    if (!import_stamp_) return std::nullopt;
    return foreign_frames_refusal(settings_.work_dir, *import_stamp_, settings_.language);
}

void VideoWorkspace::reset_for_new_project() {
    session_.FrameCount = 0;
    // The clip is closed: its folder is free for others.
    work_dir_lock_.reset();
    import_stamp_.reset();
    light_following_ = {};
    status_panels_[kFramesPanel].clear();
    reset_parameters_for_new_project(parameters_);
    clear_area_selection();
    draw_selection();
    refresh_frame();
}

void VideoWorkspace::press_on_source(int x, int y, bool left_button) {
    const PixelRect& r = selection_.rect;
    if (selection_.visible && r.contains(x, y)) {
        press_target_ = PressTarget::Selection;
        press_on_selection(x - r.left, y - r.top, left_button);
    } else {
        press_target_ = PressTarget::View;
        press_on_view(x, y, left_button);
    }
}

void VideoWorkspace::move_on_source(int x, int y, bool left_button_held) {
    PressTarget target = left_button_held ? press_target_ : PressTarget::None;
    if (target == PressTarget::None) {
        target = selection_.visible && selection_.rect.contains(x, y) ? PressTarget::Selection
                                                                      : PressTarget::View;
    }
    if (target == PressTarget::Selection) {
        move_on_selection(x - selection_.rect.left, y - selection_.rect.top, left_button_held);
    } else {
        move_on_view(x, y, left_button_held);
    }
}

void VideoWorkspace::release_on_source(int x, int y, bool left_button) {
    const PressTarget target = press_target_;
    press_target_ = PressTarget::None;
    // The rectangle has no release rule of its own.
    if (target != PressTarget::Selection) release_on_view(x, y, left_button);
}

bool VideoWorkspace::drag_cursor_at(int x, int y) const {
    return selection_.drag_cursor && selection_.visible && selection_.rect.contains(x, y);
}

void VideoWorkspace::press_on_view(int x, int y, bool left_button) {
    if (session_.FrameCount < 1 || !left_button) return;
    const DisplayGeometry g = display_geometry(session_.FrameWidth, session_.FrameHeight,
                                               view_width_, view_height_, Precision::Single);
    if (x >= g.width || y >= g.height) return;
    selection_.rect = {x - 2, y - 2, 2, 2};
    selection_.visible = true;
}

void VideoWorkspace::move_on_view(int x, int y, bool left_button_held) {
    if (session_.FrameCount < 1) return;
    const DisplayGeometry g = display_geometry(session_.FrameWidth, session_.FrameHeight,
                                               view_width_, view_height_, Precision::Double);
    if (x >= g.width || y >= g.height) return;
    if (left_button_held) {
        selection_.rect.width = x - selection_.rect.left;
        selection_.rect.height = y - selection_.rect.top;
    }
    const double k = static_cast<double>(session_.source_picture.width()) / g.width;
    show_cursor(x * k, y * k);
    show_output_format();
}

void VideoWorkspace::release_on_view(int x, int y, bool left_button) {
    if (session_.FrameCount < 1 || !left_button) return;
    PixelRect& r = selection_.rect;
    r.width = x - r.left;
    r.height = y - r.top;
    if (r.width < 0) {
        r.left += r.width;
        r.width = -r.width;
    }
    if (r.height < 0) {
        r.top += r.height;
        r.height = -r.height;
    }
    recalculate_selection(session_, parameters_, selection_, view_width_, view_height_);
}

void VideoWorkspace::press_on_selection(int x, int y, bool left_button) {
    if (!left_button) return;
    session_.GrabX = x;
    session_.GrabY = y;
    selection_.drag_cursor = true;
}

void VideoWorkspace::move_on_selection(int x, int y, bool left_button_held) {
    VideoSession& s = session_;
    if (s.FrameCount < 1 || s.FrameBusy) return;
    const DisplayGeometry g =
        display_geometry(s.FrameWidth, s.FrameHeight, view_width_, view_height_, Precision::Double);
    PixelRect& r = selection_.rect;
    if (left_button_held) {
        s.FrameBusy = true;
        selection_.drag_cursor = true;
        r.left += x - s.GrabX;
        if (r.left < 0) r.left = 0;
        if (r.left + r.width > g.width) r.left = g.width - r.width;
        r.top += y - s.GrabY;
        if (r.top < 0) r.top = 0;
        if (r.top + r.height > g.height) r.top = g.height - r.height;
        // A move keeps the stored size; only the fields show the recalculated one.
        const std::int32_t width = s.CutWidth;
        const std::int32_t height = s.CutHeight;
        recalculate_selection(s, parameters_, selection_, view_width_, view_height_);
        s.CutWidth = width;
        s.CutHeight = height;
        s.FrameBusy = false;
    }
    if (g.width > 0) {
        const double k = static_cast<double>(s.source_picture.width()) / g.width;
        show_cursor((r.left + x) * k, (r.top + y) * k);
    }
    show_output_format();
}

void VideoWorkspace::move_on_result(int x, int y) {
    if (session_.FrameCount < 1) return;
    const Frame& picture = session_.result_picture;
    if (picture.empty() || view_width_ <= 0 || view_height_ <= 0) return;
    const double aspect = static_cast<double>(picture.width()) / picture.height();
    const int displayed_width = static_cast<double>(view_width_) / view_height_ >= aspect
                                    ? truncate_coordinate(view_height_ * aspect)
                                    : view_width_;
    if (displayed_width <= 0) return;
    const double k = static_cast<double>(picture.width()) / displayed_width;
    show_cursor(x * k, y * k);
}

}  // namespace tintora
