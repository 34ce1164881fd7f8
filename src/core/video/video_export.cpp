#include "core/video/video_export.hpp"

#include <algorithm>
#include <cstdint>
#include <system_error>

#include "core/common/file_io.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_mp4_name(const fs::path& output) {
    std::string extension = output.extension().string();
    for (char& c : extension) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return extension == ".mp4";
}

}  // namespace

fs::path converted_folder(const fs::path& work_dir) { return work_dir / "converted"; }

std::string jpeg_sequence_prefix(const std::string& chosen_name) {
    std::string upper = chosen_name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    if (upper.find(".JPG") != std::string::npos)
        return chosen_name.substr(0, chosen_name.size() - 4);
    if (upper.find(".JPEG") != std::string::npos) {
        return chosen_name.substr(0, chosen_name.size() - 5);
    }
    return chosen_name;
}

Status delete_sequence_files(const std::string& prefix) {
    const fs::path as_path(prefix);
    // "shot" names files in the current folder; ".../clips/" has an empty name.
    const bool names_folder = !prefix.empty() && prefix.back() == '/';
    const fs::path folder = names_folder                ? as_path
                            : as_path.has_parent_path() ? as_path.parent_path()
                                                        : fs::path(".");
    const std::string prefix_name = names_folder ? std::string() : as_path.filename().string();
    std::error_code error;
    fs::directory_iterator entry(folder, error);
    if (error == std::errc::no_such_file_or_directory) {
        return file_error(folder, "Cannot write into", error.value());
    }
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (!is_numbered_jpeg_name(entry->path().filename().string(), prefix_name)) continue;
        std::error_code type_error;
        if (!entry->is_regular_file(type_error)) continue;
        std::error_code removed;
        fs::remove(entry->path(), removed);
        if (removed) return file_error(entry->path(), "Cannot delete", removed.value());
    }
    if (error) return file_error(folder, "Cannot read the folder", error.value());
    return {};
}

Status prepare_converted_folder(const fs::path& work_dir) {
    const fs::path folder = converted_folder(work_dir);
    std::error_code error;
    if (!fs::is_directory(folder, error)) {
        fs::create_directories(folder, error);
        if (error) return file_error(folder, "Cannot create the folder", error.value());
        return {};
    }
    fs::directory_iterator entry(folder, error);
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        std::error_code type_error;
        if (entry->is_directory(type_error)) continue;
        std::error_code removed;
        fs::remove(entry->path(), removed);
        if (removed) return file_error(entry->path(), "Cannot delete", removed.value());
    }
    if (error) return file_error(folder, "Cannot read the folder", error.value());
    return {};
}

std::string range_start_seconds(int start_frame, double input_fps) {
    return format_g((start_frame - 1) / input_fps);
}

std::string range_duration_seconds(int start_frame, int stop_frame, double input_fps) {
    return format_g((stop_frame - start_frame) / input_fps);
}

Command sound_cut_command(const fs::path& ffmpeg, const fs::path& clip, int start_frame,
                          int stop_frame, double input_fps, const fs::path& output) {
    return Command{
        ffmpeg,
        {"-i", path_argument(clip), "-y", "-ss", range_start_seconds(start_frame, input_fps), "-t",
         range_duration_seconds(start_frame, stop_frame, input_fps), path_argument(output)},
        {}};
}

Command video_encoding_command(const fs::path& ffmpeg, const fs::path& work_dir,
                               const VideoParameters& parameters, bool with_sound, int volume,
                               double output_fps, const fs::path& output) {
    const fs::path folder = converted_folder(work_dir);
    Command command{ffmpeg, {"-i", frame_pattern_argument(folder), "-y"}, {}};
    if (with_sound && parameters.channels_index > 0) {
        command.arguments.insert(
            command.arguments.end(),
            {"-i", path_argument(folder / "sound.wav"), "-ar",
             item_text(kRateItems, parameters.rate_index), "-ab",
             item_text(kAudioBitrateItems, parameters.audio_bitrate_index) + "k", "-ac",
             std::to_string(parameters.channels_index), "-vol", std::to_string(volume)});
    }
    const int kilobits =
        read_whole_number(item_text(kVideoBitrateItems, parameters.video_bitrate_index), 512);
    command.arguments.insert(
        command.arguments.end(),
        {"-b", std::to_string(std::int64_t{kilobits} * 1000), "-r", format_g(output_fps)});
    if (is_mp4_name(output)) {
        // H.264 in 4:2:0 needs an even width and height (a selection of the
        // whole frame is one pixel short of it), and web players want the
        // usual video range rather than the JPEG frames' full range.
        command.arguments.insert(
            command.arguments.end(),
            {"-vf", "crop=trunc(iw/2)*2:trunc(ih/2)*2", "-pix_fmt", "yuv420p"});
    }
    command.arguments.push_back(path_argument(output));
    return command;
}

int leading_number(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && is_digit(text[i]); ++i) {
        value = std::min<std::int64_t>(value * 10 + (text[i] - '0'), INT32_MAX);
    }
    return static_cast<int>(negative ? -value : value);
}

namespace {

using Field = ParameterField;

// The range by the start and stop rules, stored for the run.
void read_run_range(VideoWorkspace& workspace) {
    VideoSession& session = workspace.session();
    apply_exit_rule(Field::StartFrame, session, workspace.parameters());
    apply_exit_rule(Field::StopFrame, session, workspace.parameters());
    session.RunFrame = session.StartFrame;
}

// The frame at the chosen rotation, the cut clamped into it as drawing the
// selection does (empty fields mean the whole frame), and the resample size
// (empty fields mean the cut's size).
FrameSettings read_run_geometry(VideoWorkspace& workspace) {
    VideoSession& session = workspace.session();
    VideoParameters& parameters = workspace.parameters();
    workspace.draw_source();
    workspace.draw_selection();
    for (const Field field : {Field::ResampleWidth, Field::ResampleHeight}) {
        if (!parameters.text(field).empty()) apply_exit_rule(field, session, parameters);
    }
    session.ResampleWidth =
        read_whole_number(parameters.text(Field::ResampleWidth), session.CutWidth);
    session.ResampleHeight =
        read_whole_number(parameters.text(Field::ResampleHeight), session.CutHeight);
    FrameSettings settings;
    settings.rotation_angle = parameters.rotation_angle();
    settings.steps.cut =
        OutputSteps::Rect{session.CutX, session.CutY, session.CutWidth, session.CutHeight};
    settings.steps.resample = OutputSteps::Size{session.ResampleWidth, session.ResampleHeight};
    settings.steps.mirror_rows = parameters.mirror_horizontally;
    settings.steps.mirror_columns = parameters.mirror_vertically;
    settings.steps.color_transformation = parameters.color_transformation_index;
    return settings;
}

RunJob frame_job(VideoWorkspace& workspace, const AppSettings& settings, const CorrectionGrid& grid,
                 std::string output_prefix) {
    const VideoSession& session = workspace.session();
    const VideoParameters& parameters = workspace.parameters();
    RunJob job;
    job.work_dir = settings.work_dir;
    job.start_frame = session.StartFrame;
    job.stop_frame = session.StopFrame;
    job.settings = read_run_geometry(workspace);
    job.grid = grid;
    job.ping_pong = parameters.ping_pong;
    job.end_count = std::clamp(leading_number(parameters.text(Field::Count)), 0, 1000);
    // A held frame must be one the clip has.
    job.static_frame = std::clamp(leading_number(parameters.text(Field::StaticFrame)), 1,
                                  std::max(session.FrameCount, 1));
    job.output_prefix = std::move(output_prefix);
    return job;
}

std::string undefined_fps(const AppSettings& settings) {
    return std::string(message_text(message_texts::kUndefinedFps, settings.language));
}

}  // namespace

Result<RunJob> prepare_video_export(VideoWorkspace& workspace, const AppSettings& settings,
                                    const CorrectionGrid& grid, const fs::path& output) {
    VideoSession& session = workspace.session();
    read_run_range(workspace);
    // The sound is cut by time; without a rate there is no time.
    if (session.InputFps <= 0) return Error{undefined_fps(settings)};
    if (Status prepared = prepare_converted_folder(settings.work_dir); !prepared) {
        return Error{prepared.error()};
    }
    RunJob job = frame_job(workspace, settings, grid,
                           (converted_folder(settings.work_dir) / "pic").string());
    const fs::path sound = converted_folder(settings.work_dir) / "sound.wav";
    // A clip without sound has none to cut, and the video then goes without.
    if (session.clip_has_sound) {
        job.finishing.push_back(
            {"Extract sound",
             sound_cut_command(settings.ffmpeg_path, session.clip_path, session.StartFrame,
                               session.StopFrame, session.InputFps, sound),
             sound});
    }
    job.finishing.push_back(
        {"Save FLV file",
         video_encoding_command(settings.ffmpeg_path, settings.work_dir, workspace.parameters(),
                                session.clip_has_sound, session.Volume, session.OutputFps, output),
         output});
    return job;
}

Result<RunJob> prepare_sequence_export(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid, const std::string& prefix) {
    read_run_range(workspace);
    if (Status deleted = delete_sequence_files(prefix); !deleted) return Error{deleted.error()};
    return frame_job(workspace, settings, grid, prefix);
}

Result<Command> prepare_wav_export(VideoWorkspace& workspace, const AppSettings& settings,
                                   const fs::path& output) {
    const VideoSession& session = workspace.session();
    read_run_range(workspace);
    if (session.InputFps <= 0) return Error{undefined_fps(settings)};
    return sound_cut_command(settings.ffmpeg_path, session.clip_path, session.StartFrame,
                             session.StopFrame, session.InputFps, output);
}

}  // namespace tintora
