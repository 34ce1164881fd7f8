// tintora-cli: renders, composes, matches colours and makes demo projects
// without a window, through the same core the window program uses.
#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/demo_project.hpp"
#include "core/common/file_io.hpp"
#include "core/common/memory_tuning.hpp"
#include "core/composition/composition.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/project/colour_match.hpp"
#include "core/project/project_file.hpp"
#include "core/settings/settings_file.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_export.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_texts.hpp"
#include "core/video/video_workspace.hpp"
#include "core/viewer/hotspot_export.hpp"
#include "core/viewer/camera_warp.hpp"
#include "packaging/cli_manual_page.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr int kBadArguments = 2;
constexpr int kFailed = 1;

// The signal that asked the program to stop, 0 while none did. Every stage
// asks it between its steps and while a child runs; the child, in a process
// group of its own, is then stopped with its group.
std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "set from a signal handler");

bool keep_running() { return stop_signal.load() == 0; }
// The shell's way of saying that a signal ended the program: 129, 130, 141, 143.
int interrupted_status() { return 128 + stop_signal.load(); }

void handle_stop_signals() {
    struct sigaction action {};
    action.sa_handler = [](int signal_number) { stop_signal.store(signal_number); };
    sigemptyset(&action.sa_mask);
    // A closed terminal (SIGHUP) or a reader of our output that has gone
    // (SIGPIPE) ends a run as a stop request does: cleanly.
    for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) {
        ::sigaction(signal_number, &action, nullptr);
    }
}

void tell(const std::string& line) { std::cerr << "tintora-cli: " << line << '\n'; }

fs::path program_folder() {
    std::error_code error;
    const fs::path self = fs::read_symlink("/proc/self/exe", error);
    return error ? fs::current_path(error) : self.parent_path();
}

// Progress on the error output: a bar on a terminal, a line per tenth else.
class ProgressReport {
public:
    ProgressReport(std::string what, int total)
        : what_(std::move(what)), total_(total), terminal_(::isatty(STDERR_FILENO) != 0) {}
    // A total learnt late (0 or less: unknown, and nothing is shown).
    void set_total(int total) { total_ = total; }
    void update(int done) {
        if (total_ <= 0) return;
        const int percent = static_cast<int>(100LL * std::min(done, total_) / total_);
        if (percent == last_percent_) return;
        last_percent_ = percent;
        if (terminal_) {
            const int filled = percent / 5;
            std::cerr << '\r' << what_ << " [" << std::string(filled, '#')
                      << std::string(20 - filled, ' ') << "] " << percent << '%' << std::flush;
            if (done >= total_) std::cerr << '\n';
        } else if (percent / 10 > last_tenth_) {
            last_tenth_ = percent / 10;
            std::cerr << what_ << ": " << percent << "%\n";
        }
    }

private:
    std::string what_;
    int total_;
    bool terminal_;
    int last_percent_ = -1;
    int last_tenth_ = -1;
};

// The project's background and clip as the menus open them, with what fails
// said on the error output and remembered: a render or a picture of a project
// whose files did not open would be the wrong one.
class CommandLineLoaders : public ProjectLoaders {
public:
    CommandLineLoaders(const AppSettings& settings, Composition& composition, CorrectionGrid& grid,
                       VideoWorkspace& workspace)
        : settings_(settings), composition_(composition), grid_(grid), workspace_(workspace) {}

    bool failed() const { return failed_; }

    void open_background(const fs::path& path) override {
        if (Status opened = composition_.open_background(path); !opened) {
            tell(path.string() + ": " + opened.error());
            failed_ = true;
            return;
        }
        set_default_layout(grid_, composition_);
    }

    void open_video(const fs::path& path) override {
        // A project names one clip; a second import after a stop would only wait.
        if (!keep_running()) return;
        const ImportOutcome outcome = import_following_signals(path);
        if (outcome.cancelled && !keep_running()) {
            tell(path.string() + ": import stopped by signal " + std::to_string(stop_signal.load()));
            failed_ = true;
        }
        if (outcome.problem != ImportProblem::None) {
            tell(path.string() + ": " + import_problem_text(outcome, settings_.language));
            failed_ = true;
        }
        if (!workspace_.finish_import(path, outcome)) {
            tell(path.string() + ": " +
                 std::string(message_text(message_texts::kUndefinedFps, settings_.language)));
        }
    }

private:
    // The import on a thread of its own, so that this one can show its
    // progress and hand a stop signal on to it.
    ImportOutcome import_following_signals(const fs::path& path) {
        ImportProgress progress;
        ImportOutcome outcome;
        std::atomic<bool> done{false};
        std::thread worker([&] {
            outcome = import_video(settings_.ffmpeg_path, path, settings_.work_dir, progress,
                                   settings_.language);
            done = true;
        });
        ProgressReport report("import", 0);
        while (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (!keep_running()) progress.cancel_requested = true;
            if (progress.stage == ImportStage::Extracting) {
                report.set_total(progress.frames_expected);
                report.update(progress.frames_extracted);
            }
        }
        worker.join();
        report.update(progress.frames_extracted);
        return outcome;
    }

    const AppSettings& settings_;
    Composition& composition_;
    CorrectionGrid& grid_;
    VideoWorkspace& workspace_;
    bool failed_ = false;
};

// Everything a project lives in, replayed from its file.
struct Session {
    AppSettings settings;
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace{settings};

    // Composed and matched by the project's mesh model, as the windows do.
    Session() { composition.set_mesh_warp_maker(perspective_mesh_warp()); }

    // False, said on the error output, when the project file cannot be read
    // or its background or clip cannot be opened.
    bool open(const fs::path& project) {
        workspace.session().project_path = project;
        CommandLineLoaders loaders(settings, composition, grid, workspace);
        if (Status opened = open_project(project, {composition, grid, workspace}, loaders);
            !opened) {
            tell(opened.error());
            return false;
        }
        return !loaders.failed();
    }

    ProtectedFiles protected_files() const {
        return {workspace.session().clip_path, composition.background_path(), settings.work_dir,
                workspace.session().project_path};
    }
};

struct Options {
    std::string project;
    std::string flv;
    std::string video;
    std::string jpeg;
    std::string wav;
    std::string hotspot;
    std::string workdir;
    bool keep_workdir = false;
    std::string ffmpeg;
    int jobs = 0;
    std::string compose_output;
    std::string demo_folder;
    bool force = false;
    std::string match_output;
    std::string match_mode;  // empty: the project's own
    int match_frames = 5;
    bool match_track = false;
};

AppSettings settings_for(const Options& options) {
    SettingsEnvironment environment;
    environment.program_dir = program_folder();
    if (const char* path = std::getenv("PATH")) environment.search_path = path;
    AppSettings settings = load_settings(environment);
    settings.language = "eng";
    if (!options.workdir.empty()) settings.work_dir = options.workdir;
    if (!options.ffmpeg.empty()) settings.ffmpeg_path = options.ffmpeg;
    return settings;
}

// Private working folders are named for the process that works in them, so
// that one whose owner was killed can be told from one in use; a folder kept
// on request is named without it and stays.
constexpr std::string_view kFolderPrefix = "tintora-";

// The process a private working folder's name says owns it: "tintora-PID-XXXXXX".
std::optional<long> folder_owner(std::string_view name) {
    if (name.substr(0, kFolderPrefix.size()) != kFolderPrefix) return std::nullopt;
    name.remove_prefix(kFolderPrefix.size());
    const std::size_t dash = name.find('-');
    if (dash == 0 || dash == std::string_view::npos || dash > 10 || name.size() - dash != 7) {
        return std::nullopt;
    }
    long pid = 0;
    for (const char c : name.substr(0, dash)) {
        if (c < '0' || c > '9') return std::nullopt;
        pid = pid * 10 + (c - '0');
    }
    return pid;
}

// Removes the private working folders in `base` whose owner has ended
// without removing them (killed, or the machine went down): only this
// user's folders, named as this program names them.
void remove_orphaned_work_folders(const fs::path& base) {
    std::error_code error;
    for (fs::directory_iterator entry(base, error); !error && entry != fs::directory_iterator();
         entry.increment(error)) {
        const std::optional<long> owner = folder_owner(entry->path().filename().string());
        if (!owner || *owner <= 0 || *owner == ::getpid()) continue;
        if (::kill(static_cast<pid_t>(*owner), 0) == 0 || errno != ESRCH) continue;
        struct stat status {};
        if (::lstat(entry->path().c_str(), &status) != 0 || !S_ISDIR(status.st_mode) ||
            status.st_uid != ::getuid()) {
            continue;
        }
        std::error_code ignored;
        fs::remove_all(entry->path(), ignored);
    }
}

// The working folder of one command: the one --workdir names, or else a
// private one made under TMPDIR and removed at the end (kept, and named,
// with --keep-workdir), so that two runs at once never share their frames.
class WorkFolder {
public:
    static Result<WorkFolder> for_options(const Options& options) {
        WorkFolder folder;
        if (!options.workdir.empty()) {
            folder.path_ = options.workdir;
            return folder;
        }
        const char* tmpdir = std::getenv("TMPDIR");
        const fs::path base = tmpdir != nullptr && *tmpdir != '\0' ? tmpdir : "/tmp";
        remove_orphaned_work_folders(base);
        const std::string owner =
            options.keep_workdir ? std::string() : std::to_string(::getpid()) + "-";
        std::string name = (base / (std::string(kFolderPrefix) + owner + "XXXXXX")).string();
        if (::mkdtemp(name.data()) == nullptr) {
            return file_error(base, "Cannot create a working folder in", errno);
        }
        folder.path_ = name;
        folder.remove_ = !options.keep_workdir;
        if (options.keep_workdir) tell("working folder: " + name);
        return folder;
    }

    WorkFolder(WorkFolder&& other) noexcept
        : path_(std::move(other.path_)), remove_(std::exchange(other.remove_, false)) {}
    WorkFolder& operator=(WorkFolder&&) = delete;
    ~WorkFolder() {
        std::error_code ignored;
        if (remove_) fs::remove_all(path_, ignored);
    }
    const fs::path& path() const { return path_; }

private:
    WorkFolder() = default;
    fs::path path_;
    bool remove_ = false;
};

// A stop signal that arrived is the answer, whatever the stage said.
int ended(int status) { return keep_running() ? status : interrupted_status(); }

// Replays the project into the session, its clip unpacked into the
// command's working folder (kept by `work_folder`): 0, or the exit status
// to end with.
int replay(const Options& options, Session& session, std::optional<WorkFolder>& work_folder) {
    session.settings = settings_for(options);
    Result<WorkFolder> made = WorkFolder::for_options(options);
    if (!made) return tell(made.error()), kFailed;
    work_folder.emplace(std::move(made).value());
    session.settings.work_dir = work_folder->path();
    if (!session.open(options.project)) return ended(kFailed);
    if (!keep_running()) return interrupted_status();
    return 0;
}

// The project's background and clip as its replay would open them, without
// opening anything: what an output must not be, known before any work.
class NameRecorder : public ProjectLoaders {
public:
    fs::path background;
    fs::path clip;
    void open_background(const fs::path& path) override { background = path; }
    void open_video(const fs::path& path) override { clip = path; }
};

// Why a project's run must not write `output`, found before the clip is
// imported: the project file itself, its clip or background, or a name that
// cannot be written.
std::optional<std::string> early_output_refusal(const Options& options, const fs::path& output) {
    const AppSettings settings = settings_for(options);
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace(settings);
    NameRecorder names;
    if (Status read = open_project(options.project, {composition, grid, workspace}, names); !read) {
        return read.error();
    }
    if (std::optional<std::string> refused = output_refusal(
            output, {names.clip, names.background, {}, options.project}, settings.language)) {
        return refused;
    }
    // A folder that is missing or not writable, a FIFO, a device: said now.
    Result<PendingFile> probe = PendingFile::create(output);
    if (!probe) return probe.error();
    return std::nullopt;
}

int render(const Options& options) {
    // The sequence's names are checked when it is prepared; the one-file
    // outputs before the clip is imported.
    for (const std::string& output : {options.flv, options.video, options.wav}) {
        if (output.empty()) continue;
        if (std::optional<std::string> refused = early_output_refusal(options, output)) {
            return tell(*refused), kFailed;
        }
    }
    std::optional<WorkFolder> work_folder;
    Session session;
    if (const int status = replay(options, session, work_folder); status != 0) return status;
    VideoWorkspace& workspace = session.workspace;
    if (workspace.session().FrameCount < 1) {
        tell(options.project + ": the project's video could not be opened");
        return ended(kFailed);
    }
    const fs::path background = session.composition.background_path();
    // --video's extension was checked with the arguments.
    Result<RunJob> job =
        !options.hotspot.empty()
            ? prepare_hotspot_export(workspace, session.settings, session.grid, session.composition,
                                     options.hotspot)
        : !options.wav.empty()
            ? prepare_wav_export(workspace, session.settings, background, options.wav)
        : !options.flv.empty() ? prepare_video_export(workspace, session.settings, session.grid,
                                                      background, options.flv)
        : !options.video.empty()
            ? prepare_video_export_as(
                  workspace, session.settings, session.grid, background,
                  VideoTarget{options.video, video_format_of(options.video).value()})
            : prepare_sequence_export(workspace, session.settings, session.grid, background,
                                      jpeg_sequence_prefix(options.jpeg));
    if (!job) return tell(job.error()), ended(kFailed);
    ProgressReport frames("frames", job.value().stop_frame - job.value().start_frame + 1);
    ProgressReport encoding("encoding", 0);
    const RunOutcome outcome = run_to_end(
        std::move(job).value(),
        [&](const RunEvent& event) {
            if (event.stage == RunStage::Encoding) {
                encoding.set_total(event.total);
                encoding.update(event.progress);
            } else if (event.progress > 0) {
                frames.update(event.progress);
            }
        },
        keep_running, options.jobs);
    // The run's outputs under temporary names are gone with it by now.
    if (outcome.state == ProcessingRun::State::Failed) return tell(outcome.failure), ended(kFailed);
    if (outcome.state == ProcessingRun::State::Cancelled) {
        tell("stopped by signal " + std::to_string(stop_signal.load()));
        return interrupted_status();
    }
    return 0;
}

// A binary PPM: the header, then the rows as R, G, B.
std::string ppm_bytes(const Frame& frame) {
    std::string bytes =
        "P6\n" + std::to_string(frame.width()) + " " + std::to_string(frame.height()) + "\n255\n";
    bytes.reserve(bytes.size() + 3 * static_cast<std::size_t>(frame.width()) * frame.height());
    for (int r = 0; r < frame.height(); ++r) {
        for (int c = 0; c < frame.width(); ++c) {
            const std::uint8_t* p = frame.pixel(r, c);
            bytes += static_cast<char>(p[2]);
            bytes += static_cast<char>(p[1]);
            bytes += static_cast<char>(p[0]);
        }
    }
    return bytes;
}

int compose(const Options& options) {
    if (std::optional<std::string> refused =
            early_output_refusal(options, options.compose_output)) {
        return tell(*refused), kFailed;
    }
    std::optional<WorkFolder> work_folder;
    Session session;
    if (const int status = replay(options, session, work_folder); status != 0) return status;
    if (!session.composition.background_loaded()) {
        tell(options.project + ": the project's background could not be opened");
        return kFailed;
    }
    const VideoSession& video = session.workspace.session();
    try {
        session.composition.compose(session.grid,
                                    video.FrameCount > 0 ? &video.result_picture : nullptr);
    } catch (const std::bad_alloc&) {
        tell("not enough memory for the picture at this scale");
        return kFailed;
    }
    const fs::path output = options.compose_output;
    std::string extension = output.extension().string();
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string bytes;
    if (extension == ".ppm") {
        bytes = ppm_bytes(session.composition.picture());
    } else if (extension == ".jpg" || extension == ".jpeg") {
        Result<std::vector<std::uint8_t>> encoded = encode_jpeg(session.composition.picture());
        if (!encoded) return tell(encoded.error()), kFailed;
        bytes.assign(encoded.value().begin(), encoded.value().end());
    } else {
        tell(output.string() + ": the picture is written as .jpg, .jpeg or .ppm");
        return kBadArguments;
    }
    if (const std::optional<std::string> refused =
            output_refusal(output, session.protected_files(), session.settings.language)) {
        return tell(*refused), kFailed;
    }
    // Through a temporary file: what is not a regular file or a new name is
    // refused, and a failed write leaves the old picture.
    if (Status written = write_file_atomically(output, bytes); !written) {
        return tell(written.error()), kFailed;
    }
    return ended(0);
}

// Whether the folder holds anything (a name that is not a folder counts as full).
bool holds_files(const fs::path& folder) {
    std::error_code error;
    if (!fs::exists(folder, error)) return false;
    return !fs::is_directory(folder, error) || !fs::is_empty(folder, error);
}

// Matches a project's curves over frames of its clip against its background
// and writes the matched project.
int match(const Options& options) {
    if (std::optional<std::string> refused = early_output_refusal(options, options.match_output)) {
        return tell(*refused), kFailed;
    }
    std::optional<WorkFolder> work_folder;
    Session session;
    if (const int status = replay(options, session, work_folder); status != 0) return status;
    if (const std::optional<std::string> refused = output_refusal(
            options.match_output, session.protected_files(), session.settings.language)) {
        return tell(*refused), kFailed;
    }
    ColourMatchRequest request;
    request.mode = session.grid.correction_mode;
    if (!options.match_mode.empty()) {
        request.mode =
            options.match_mode == "colour" ? CorrectionMode::Colour : CorrectionMode::Brightness;
    }
    request.frame_count = options.match_frames;
    // Without --track a project that follows the light keeps following it.
    request.track_light = options.match_track || session.workspace.light_following().on;
    // The working folder stays held by the workspace through the whole match.
    const ColourMatchReport report =
        match_project_colours({session.composition, session.grid, session.workspace},
                              session.settings.work_dir, request, keep_running);
    if (!keep_running()) {
        tell("stopped by signal " + std::to_string(stop_signal.load()));
        return interrupted_status();
    }
    tell(match_report_text(report, session.settings.language));
    if (report.problem != MatchProblem::None) return kFailed;
    if (Status saved = save_project(options.match_output, session.composition, session.grid,
                                    session.workspace);
        !saved) {
        return tell(saved.error()), kFailed;
    }
    return ended(0);
}

int demo(const Options& options) {
    const AppSettings settings = settings_for(options);
    if (!options.force && holds_files(options.demo_folder)) {
        tell(options.demo_folder +
             ": the folder already holds files; choose an empty or new folder, or overwrite "
             "its demo files with --force");
        return kFailed;
    }
    const Result<fs::path> project =
        make_demo_project(options.demo_folder, settings.ffmpeg_path, keep_running);
    if (!keep_running()) return interrupted_status();
    if (!project) return tell(project.error()), kFailed;
    std::cout << project.value().string() << '\n';
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app{"Renders and checks Tintora projects without a window."};
    app.set_version_flag("--version", std::string("tintora-cli ") + TINTORA_VERSION);
    // Hidden from --help: the build makes the manual page from this very parser.
    app.add_flag_callback("--man",
                          [&app] {
                              std::cout << cli_manual_page(app, TINTORA_VERSION);
                              throw CLI::Success();
                          })
        ->group("");
    app.require_subcommand(1);
    Options options;

    // An empty name would mean the current folder, or nothing at all.
    const CLI::Validator named(
        [](const std::string& value) { return value.empty() ? "an empty name" : std::string(); },
        "NAME");

    CLI::App* render_command =
        app.add_subcommand("render", "Replay a project and export its video, frames or sound.");
    render_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    auto* outputs = render_command->add_option_group("output", "what to write");
    outputs->add_option("--flv", options.flv, "a video file (.flv, or .mp4 for H.264 and AAC)")
        ->check(named);
    const CLI::Validator video_name(
        [](const std::string& value) {
            return video_format_of(value) ? std::string()
                                          : "a name ending in .mp4 (H.264, AAC), .webm (VP9, "
                                            "Opus) or .flv";
        },
        "OUT.mp4|OUT.webm|OUT.flv");
    outputs
        ->add_option("--video", options.video,
                     "a video for web panorama viewers, its format by the extension: .mp4 "
                     "(H.264, AAC), .webm (VP9, Opus) or .flv")
        ->check(video_name);
    outputs->add_option("--jpeg", options.jpeg, "the name prefix of a numbered JPEG sequence")
        ->check(named);
    outputs->add_option("--wav", options.wav, "the sound of the frame range")->check(named);
    outputs
        ->add_option("--hotspot", options.hotspot,
                     "DIR/NAME: the clip baked for a panorama viewer as NAME.mp4 and NAME.webm, "
                     "with NAME.jpg, NAME.json, NAME.xml (krpano) and the preview page NAME.html")
        ->check(named);
    outputs->require_option(1);
    render_command->add_option("--jobs", options.jobs, "worker threads (default: one per core)")
        ->check(CLI::Range(1, 256));

    CLI::App* compose_command =
        app.add_subcommand("compose", "Write the main window's picture of a project.");
    compose_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    compose_command->add_option("OUT", options.compose_output, "a .jpg or .ppm file")
        ->required()
        ->check(named);

    CLI::App* match_command = app.add_subcommand(
        "match", "Match a project's colours to its background and write the matched project.");
    match_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    match_command->add_option("OUT_PROJECT", options.match_output, "the matched project to write")
        ->required()
        ->check(named);
    match_command
        ->add_option("--mode", options.match_mode,
                     "the correction mode to match and keep (default: the project's)")
        ->check(CLI::IsMember({"colour", "brightness"}));
    match_command
        ->add_option("--frames", options.match_frames,
                     "frames spread over the range (default 5; 0: the project's current frame)")
        ->check(CLI::Range(0, 1000));
    match_command->add_flag("--track", options.match_track,
                            "follow the clip's exposure and white balance over time, from the "
                            "project's current frame (kept in the project)");

    // What replays a project needs a working folder for its clip's frames.
    for (CLI::App* command : {render_command, compose_command, match_command}) {
        CLI::Option* workdir =
            command
                ->add_option("--workdir", options.workdir,
                             "the working folder for the frames (default: a private one under "
                             "TMPDIR, removed afterwards)")
                ->check(named);
        command
            ->add_flag("--keep-workdir", options.keep_workdir,
                       "keep the private working folder and say where it is")
            ->excludes(workdir);
    }

    CLI::App* demo_command = app.add_subcommand("demo", "Make a demo project to try Tintora on.");
    demo_command->add_option("DIR", options.demo_folder, "a new or empty folder to make it in")
        ->required()
        ->check(named);
    demo_command->add_flag("--force", options.force,
                           "overwrite the demo's files in a folder that holds files");

    for (CLI::App* command : {render_command, compose_command, match_command, demo_command}) {
        command->add_option("--ffmpeg", options.ffmpeg, "the encoder program")->check(named);
    }

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);  // --help, --version
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kBadArguments;
    }
    handle_stop_signals();
    if (render_command->parsed()) return render(options);
    if (compose_command->parsed()) return compose(options);
    if (match_command->parsed()) return match(options);
    return demo(options);
}

}  // namespace
}  // namespace tintora

int main(int argc, char** argv) {
    tintora::keep_freed_frame_memory();
    try {
        return tintora::run(argc, argv);
    } catch (const std::exception& error) {
        tintora::tell(error.what());
        return tintora::kFailed;
    }
}
