#include "core/video/video_export.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <memory>
#include <system_error>

#include "core/common/file_io.hpp"
#include "core/video/light_following.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_texts.hpp"
#include "core/video/work_dir_lock.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// Whether "Save flv" must make the frames even-sized for the name's format:
// every format but FLV's own may pick an encoder that takes only even sizes
// (H.264 for .mp4, .mov and .mkv), which otherwise fails with no clear word.
bool needs_even_size(const fs::path& output) {
    return video_format_of(output) != VideoFormat::Flv;
}

// The video "Bitrate" list's kilobits per second, in bits per second.
std::int64_t video_bits(const VideoParameters& parameters) {
    return std::int64_t{1000} *
           read_whole_number(item_text(kVideoBitrateItems, parameters.video_bitrate_index), 512);
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
    // Emptying what a link points to would delete someone else's files.
    if (fs::is_symlink(fs::symlink_status(folder, error))) {
        fs::remove(folder, error);
        if (error) return file_error(folder, "Cannot delete", error.value());
    }
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

ExactRate exact_frame_rate(double fps) {
    // N for the rates N * 1000 / 1001 that cameras and phones record at.
    constexpr int kNtscBases[] = {24, 30, 48, 60, 120, 240};
    // Two decimals, as the encoder prints them, are within this of the fraction.
    constexpr double kTolerance = 0.005;
    for (const int base : kNtscBases) {
        const double exact = base * 1000.0 / 1001.0;
        if (std::fabs(fps - exact) < kTolerance) {
            return {exact, std::to_string(base * 1000) + "/1001"};
        }
    }
    char digits[32];
    const std::to_chars_result written = std::to_chars(digits, digits + sizeof digits, fps);
    return {fps,
            written.ec == std::errc() ? std::string(digits, written.ptr) : format_rate(fps)};
}

std::string range_start_seconds(int start_frame, double input_fps) {
    return format_g((start_frame - 1) / exact_frame_rate(input_fps).frames_per_second);
}

std::string range_duration_seconds(int start_frame, int stop_frame, double input_fps) {
    // Frames start..stop, each one frame period long: as long as their video.
    return format_g((stop_frame - start_frame + 1) / exact_frame_rate(input_fps).frames_per_second);
}

int expected_encoded_frames(int images, double input_fps, double output_fps) {
    return resampled_frame_count(images, exact_frame_rate(input_fps).frames_per_second,
                                 exact_frame_rate(output_fps).frames_per_second);
}

namespace {

// Whether two paths name the same file, followed through links; false when
// either is not there.
bool same_file(const fs::path& a, const fs::path& b) {
    if (a.empty() || b.empty()) return false;
    std::error_code error;
    return fs::equivalent(a, b, error) && !error;
}

// The folder a path's file lies in, and its name, once the links of the
// path are followed as far as it exists.
std::pair<fs::path, std::string> folder_and_name(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::weakly_canonical(path, error);
    if (error) resolved = path;
    const fs::path folder = resolved.has_parent_path() ? resolved.parent_path() : fs::path(".");
    return {folder, resolved.filename().string()};
}

// The names the import and the run write directly in WorkDir.
bool is_work_dir_name(const std::string& name, const fs::path& work_dir) {
    return is_frame_file_name(name) || name == info_file_path(work_dir).filename() ||
           name == sound_file_path(work_dir).filename() ||
           name == work_dir_lock_path(work_dir).filename() ||
           name == import_stamp_path(work_dir).filename() ||
           name == converted_folder(work_dir).filename();
}

std::string refusal(const TextPair& text, const std::string& name, std::string_view language) {
    return fill_in(message_text(text, language), {name});
}

}  // namespace

std::optional<std::string> output_refusal(const fs::path& output, const ProtectedFiles& files,
                                          std::string_view language) {
    if (output.empty() || output.filename().empty()) {
        return std::string(message_text(message_texts::kNoOutputName, language));
    }
    if (same_file(output, files.project)) {
        return refusal(message_texts::kOutputIsProject, output.string(), language);
    }
    if (same_file(output, files.clip) || same_file(output, files.background)) {
        return refusal(message_texts::kOutputIsSource, output.string(), language);
    }
    const auto [folder, name] = folder_and_name(output);
    if (same_file(folder, converted_folder(files.work_dir)) ||
        (same_file(folder, files.work_dir) && is_work_dir_name(name, files.work_dir))) {
        return refusal(message_texts::kOutputIsWorkFile, output.string(), language);
    }
    return std::nullopt;
}

std::optional<std::string> clashing_outputs_refusal(const std::vector<fs::path>& outputs,
                                                    std::string_view language) {
    // Where each output's bytes finally land, its links followed (also a
    // link to a file not made yet, which writing through it would make).
    const auto destination = [](const fs::path& output) {
        const Result<fs::path> target = final_link_target(output);
        const auto [folder, name] = folder_and_name(target ? target.value() : output);
        return folder / name;
    };
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            if (same_file(outputs[i], outputs[j]) ||
                destination(outputs[i]) == destination(outputs[j])) {
                return fill_in(message_text(message_texts::kOutputsClash, language),
                               {outputs[i].string(), outputs[j].string()});
            }
        }
    }
    return std::nullopt;
}

std::optional<std::string> sequence_refusal(const std::string& prefix, const ProtectedFiles& files,
                                            std::string_view language) {
    if (prefix.empty()) return std::string(message_text(message_texts::kNoOutputName, language));
    const bool names_folder = prefix.back() == '/';
    const fs::path as_path(prefix);
    const fs::path folder = names_folder                ? as_path
                            : as_path.has_parent_path() ? as_path.parent_path()
                                                        : fs::path(".");
    const std::string prefix_name = names_folder ? std::string() : as_path.filename().string();
    // The sequence writes and deletes prefix + digits + ".jpg" in its folder.
    const auto in_sequence = [&](const fs::path& file) {
        if (file.empty()) return false;
        const auto [file_folder, file_name] = folder_and_name(file);
        return same_file(file_folder, folder) && is_numbered_jpeg_name(file_name, prefix_name);
    };
    if (in_sequence(files.project)) {
        return refusal(message_texts::kOutputIsProject, prefix, language);
    }
    if (in_sequence(files.clip) || in_sequence(files.background)) {
        return refusal(message_texts::kOutputIsSource, prefix, language);
    }
    const bool frame_names = is_frame_file_name(prefix_name + "0000.jpg");
    if (same_file(folder, converted_folder(files.work_dir)) ||
        (same_file(folder, files.work_dir) && frame_names)) {
        return refusal(message_texts::kOutputIsWorkFile, prefix, language);
    }
    return std::nullopt;
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
                               double input_fps, double output_fps, int images,
                               const fs::path& output) {
    const fs::path folder = converted_folder(work_dir);
    Command command{ffmpeg,
                    {"-framerate", exact_frame_rate(input_fps).argument, "-i",
                     frame_pattern_argument(folder), "-y"},
                    {}};
    if (const std::optional<ExportSound> sound = export_sound(parameters, with_sound, volume)) {
        command.arguments.insert(
            command.arguments.end(),
            {"-i", path_argument(folder / "sound.wav"), "-ar", sound->rate, "-ab",
             sound->kilobits + "k", "-ac", std::to_string(sound->channels), "-vol",
             std::to_string(sound->volume)});
    }
    // At another rate the encoder's frames last as long as the pictures read,
    // no longer: its last picture is not held past its own time.
    const ExactRate input = exact_frame_rate(input_fps);
    const ExactRate output_rate = exact_frame_rate(output_fps);
    command.arguments.insert(command.arguments.end(), {"-b", std::to_string(video_bits(parameters)),
                                                       "-r", output_rate.argument});
    if (output_rate.frames_per_second != input.frames_per_second && input.frames_per_second > 0) {
        command.arguments.insert(command.arguments.end(),
                                 {"-t", format_g(images / input.frames_per_second)});
    }
    if (needs_even_size(output)) {
        // H.264 in 4:2:0 needs an even width and height (a selection of the
        // whole frame is one pixel short of it), and web players want the
        // usual video range rather than the JPEG frames' full range.
        command.arguments.insert(
            command.arguments.end(),
            {"-vf", "crop=trunc(iw/2)*2:trunc(ih/2)*2", "-pix_fmt", "yuv420p"});
    }
    command.arguments.insert(command.arguments.end(), {"-progress", "pipe:1"});
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
    // A selection up to the last pixel short of an edge cuts up to the edge.
    const OutputSteps::Rect cut =
        cut_reaching_edges({session.CutX, session.CutY, session.CutWidth, session.CutHeight},
                           session.FrameWidth, session.FrameHeight);
    session.ResampleWidth = read_whole_number(parameters.text(Field::ResampleWidth), cut.width);
    session.ResampleHeight = read_whole_number(parameters.text(Field::ResampleHeight), cut.height);
    FrameSettings settings;
    settings.rotation_angle = parameters.rotation_angle();
    settings.steps.cut = cut;
    settings.steps.resample = OutputSteps::Size{session.ResampleWidth, session.ResampleHeight};
    settings.steps.mirror_rows = parameters.mirror_horizontally;
    settings.steps.mirror_columns = parameters.mirror_vertically;
    settings.steps.color_transformation = parameters.color_transformation_index;
    return settings;
}

// The size of every output frame of a run: the resample size it reads (the
// cut's own when the fields are empty).
OutputSteps::Size output_size(const FrameSettings& settings) {
    const OutputSteps::Rect cut = settings.steps.cut.value_or(OutputSteps::Rect{0, 0, 0, 0});
    return settings.steps.resample.value_or(OutputSteps::Size{cut.width, cut.height});
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
    job.language = settings.language;
    job.light = followed_light(workspace, settings.work_dir);
    job.light_reference = workspace.light_following().reference_frame;
    return job;
}

std::string undefined_fps(const AppSettings& settings) {
    return std::string(message_text(message_texts::kUndefinedFps, settings.language));
}

ProtectedFiles protected_files(const VideoWorkspace& workspace, const AppSettings& settings,
                               const fs::path& background) {
    return {workspace.session().clip_path, background, settings.work_dir,
            workspace.session().project_path};
}

// WorkDir held for a run that reads the clip's frames: the workspace's own
// hold while its clip is open, and the frames there checked to be its clip's.
Result<std::shared_ptr<WorkDirLock>> lock_work_dir(const VideoWorkspace& workspace,
                                                   const AppSettings& settings) {
    std::shared_ptr<WorkDirLock> lock = lock_for(settings.work_dir, workspace.work_dir_lock());
    if (!lock->held()) {
        return Error{work_dir_lock_refusal(*lock, settings.work_dir, settings.language)};
    }
    if (std::optional<std::string> refused = workspace.frames_refusal()) return Error{*refused};
    return lock;
}

Result<std::shared_ptr<PendingFile>> pending_output(const fs::path& output) {
    Result<PendingFile> pending = PendingFile::create(output);
    if (!pending) return Error{pending.error()};
    return std::make_shared<PendingFile>(std::move(pending).value());
}

// A video export's job before its frames know where they go, and its
// output under a temporary name.
struct VideoExportStart {
    RunJob job;
    std::shared_ptr<PendingFile> output;
};

// What every video export does first: the range read, the rate and the
// names checked (the poster's too, when it is asked for), WorkDir locked for
// the run, the output and the poster made pending under temporary names.
// poster_even_size: the video drops an odd last column or row, and so does
// its poster.
// also_written: the run's other files, refused and kept apart as these are;
// poster_always: a poster whether or not the project asks for one.
Result<VideoExportStart> start_video_export(VideoWorkspace& workspace, const AppSettings& settings,
                                            const CorrectionGrid& grid, const fs::path& background,
                                            const fs::path& output, bool poster_even_size,
                                            const std::vector<fs::path>& also_written = {},
                                            bool poster_always = false) {
    read_run_range(workspace);
    // The sound is cut by time; without a rate there is no time.
    if (workspace.session().InputFps <= 0) return Error{undefined_fps(settings)};
    const ProtectedFiles files = protected_files(workspace, settings, background);
    const std::optional<fs::path> poster = workspace.parameters().poster_image || poster_always
                                               ? poster_path(output)
                                               : std::nullopt;
    std::vector<fs::path> outputs{output};
    if (poster) outputs.push_back(*poster);
    outputs.insert(outputs.end(), also_written.begin(), also_written.end());
    for (const fs::path& name : outputs) {
        if (std::optional<std::string> refused = output_refusal(name, files, settings.language)) {
            return Error{*refused};
        }
    }
    if (std::optional<std::string> refused = clashing_outputs_refusal(outputs, settings.language)) {
        return Error{*refused};
    }
    Result<std::shared_ptr<WorkDirLock>> lock = lock_work_dir(workspace, settings);
    if (!lock) return Error{lock.error()};
    Result<std::shared_ptr<PendingFile>> target = pending_output(output);
    if (!target) return Error{target.error()};
    std::shared_ptr<PendingFile> poster_file;
    if (poster) {
        Result<std::shared_ptr<PendingFile>> pending = pending_output(*poster);
        if (!pending) return Error{pending.error()};
        poster_file = std::move(pending).value();
    }
    VideoExportStart start{frame_job(workspace, settings, grid, {}), std::move(target).value()};
    if (poster_even_size) {
        // 4:2:0 video drops an odd last column and row; nothing may be left.
        const OutputSteps::Size size = output_size(start.job.settings);
        const EvenSize even = even_frame_size(size.width, size.height);
        if (even.width < 2 || even.height < 2) {
            return Error{fill_in(message_text(message_texts::kOutputTooSmall, settings.language),
                                 {std::to_string(size.width), std::to_string(size.height)})};
        }
    }
    start.job.work_dir_lock = std::move(lock).value();
    start.job.poster = std::move(poster_file);
    start.job.poster_even_size = poster_even_size;
    return start;
}

// MP4 and WebM: the frames go straight from the workers to one encoder;
// presented, through `presentation` first, into further formats beside.
Result<RunJob> prepare_streamed_export(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid, const fs::path& background,
                                       const fs::path& output, VideoFormat format,
                                       const PresentedExport* presented = nullptr) {
    std::vector<fs::path> also_written;
    if (presented) {
        for (const VideoTarget& more : presented->more_targets) also_written.push_back(more.output);
        also_written.insert(also_written.end(), presented->also_written.begin(),
                            presented->also_written.end());
    }
    Result<VideoExportStart> started = start_video_export(
        workspace, settings, grid, background, output, true, also_written, presented != nullptr);
    if (!started) return Error{started.error()};
    const VideoSession& session = workspace.session();
    RunJob job = std::move(started.value().job);
    const OutputSteps::Size resample = output_size(job.settings);
    StreamedEncoding encoding;
    encoding.format = format;
    encoding.size = even_frame_size(resample.width, resample.height);
    if (presented) {
        Result<Presentation> presentation =
            presented->presentation_for(FrameSize{resample.width, resample.height});
        if (!presentation) return Error{presentation.error()};
        encoding.size = presentation.value().size;
        job.present = std::move(presentation.value().present);
        job.after_outputs = presented->after_outputs;
    }
    encoding.input_fps = session.InputFps;
    encoding.output_fps = session.OutputFps;
    encoding.quality = web_quality(workspace.parameters());
    encoding.video_bits = video_bits(workspace.parameters());
    encoding.sound =
        web_export_sound(workspace.parameters(), session.clip_has_sound, session.Volume);
    encoding.clip = session.clip_path;
    encoding.start_frame = session.StartFrame;
    encoding.stop_frame = session.StopFrame;
    FrameStream stream;
    stream.title = format == VideoFormat::WebM ? "Save WebM file" : "Save MP4 file";
    stream.output = started.value().output;
    stream.command =
        streamed_encoding_command(settings.ffmpeg_path, encoding, stream.output->temporary());
    stream.size = encoding.size;
    stream.input_fps = exact_frame_rate(session.InputFps).frames_per_second;
    stream.output_fps = exact_frame_rate(session.OutputFps).frames_per_second;
    // Each further format is another output of the same encoder: its
    // output options follow the first's, after the inputs they share.
    for (const VideoTarget& more : presented ? presented->more_targets : std::vector<VideoTarget>{}) {
        Result<std::shared_ptr<PendingFile>> pending = pending_output(more.output);
        if (!pending) return Error{pending.error()};
        StreamedEncoding other = encoding;
        other.format = more.format;
        const Command command = streamed_encoding_command(settings.ffmpeg_path, other,
                                                          pending.value()->temporary());
        const auto outputs_start = std::find(command.arguments.begin(), command.arguments.end(), "-y");
        stream.command.arguments.insert(stream.command.arguments.end(),
                                        outputs_start == command.arguments.end()
                                            ? command.arguments.begin()
                                            : std::next(outputs_start),
                                        command.arguments.end());
        stream.more_outputs.push_back(std::move(pending).value());
    }
    job.stream = std::move(stream);
    return job;
}

}  // namespace

Result<RunJob> prepare_presented_export(VideoWorkspace& workspace, const AppSettings& settings,
                                        const CorrectionGrid& grid, const fs::path& background,
                                        const VideoTarget& target,
                                        const PresentedExport& presented) {
    return prepare_streamed_export(workspace, settings, grid, background, target.output,
                                   target.format, &presented);
}

std::optional<fs::path> poster_path(const fs::path& output) {
    fs::path poster = output;
    poster.replace_extension(".jpg");
    // A video named .jpg is its own picture already.
    if (poster == output) return std::nullopt;
    return poster;
}

Result<RunJob> prepare_video_export(VideoWorkspace& workspace, const AppSettings& settings,
                                    const CorrectionGrid& grid, const fs::path& background,
                                    const fs::path& output) {
    const VideoSession& session = workspace.session();
    Result<VideoExportStart> started =
        start_video_export(workspace, settings, grid, background, output, needs_even_size(output));
    if (!started) return Error{started.error()};
    if (Status prepared = prepare_converted_folder(settings.work_dir); !prepared) {
        return Error{prepared.error()};
    }
    RunJob job = std::move(started.value().job);
    job.output_prefix = (converted_folder(settings.work_dir) / "pic").string();
    const std::shared_ptr<PendingFile>& target = started.value().output;
    // A clip without sound has none to cut, and the video then goes without.
    if (session.clip_has_sound) {
        Result<std::shared_ptr<PendingFile>> sound =
            pending_output(converted_folder(settings.work_dir) / "sound.wav");
        if (!sound) return Error{sound.error()};
        job.finishing.push_back(
            {"Extract sound",
             sound_cut_command(settings.ffmpeg_path, session.clip_path, session.StartFrame,
                               session.StopFrame, session.InputFps, sound.value()->temporary()),
             sound.value(), 0});
    }
    const int images = job.output_count();
    job.finishing.push_back(
        {"Save FLV file",
         video_encoding_command(settings.ffmpeg_path, settings.work_dir, workspace.parameters(),
                                session.clip_has_sound, session.Volume, session.InputFps,
                                session.OutputFps, images, target->temporary()),
         target, expected_encoded_frames(images, session.InputFps, session.OutputFps), images});
    return job;
}

Result<RunJob> prepare_video_export_as(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid, const fs::path& background,
                                       const VideoTarget& target) {
    if (!is_streamed(target.format)) {
        return prepare_video_export(workspace, settings, grid, background, target.output);
    }
    return prepare_streamed_export(workspace, settings, grid, background, target.output,
                                   target.format);
}

Result<RunJob> prepare_sequence_export(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid, const fs::path& background,
                                       const std::string& prefix) {
    read_run_range(workspace);
    if (const std::optional<std::string> refused = sequence_refusal(
            prefix, protected_files(workspace, settings, background), settings.language)) {
        return Error{*refused};
    }
    Result<std::shared_ptr<WorkDirLock>> lock = lock_work_dir(workspace, settings);
    if (!lock) return Error{lock.error()};
    if (Status deleted = delete_sequence_files(prefix); !deleted) return Error{deleted.error()};
    RunJob job = frame_job(workspace, settings, grid, prefix);
    job.work_dir_lock = std::move(lock).value();
    return job;
}

Result<RunJob> prepare_wav_export(VideoWorkspace& workspace, const AppSettings& settings,
                                  const fs::path& background, const fs::path& output) {
    const VideoSession& session = workspace.session();
    read_run_range(workspace);
    if (session.InputFps <= 0) return Error{undefined_fps(settings)};
    if (const std::optional<std::string> refused = output_refusal(
            output, protected_files(workspace, settings, background), settings.language)) {
        return Error{*refused};
    }
    Result<std::shared_ptr<PendingFile>> target = pending_output(output);
    if (!target) return Error{target.error()};
    // Only the clip is read: no frames, and WorkDir stays free.
    RunJob job;
    job.start_frame = 1;
    job.stop_frame = 0;
    job.language = settings.language;
    job.finishing.push_back(
        {"Save WAV file",
         sound_cut_command(settings.ffmpeg_path, session.clip_path, session.StartFrame,
                           session.StopFrame, session.InputFps, target.value()->temporary()),
         target.value(), 0});
    return job;
}

}  // namespace tintora
