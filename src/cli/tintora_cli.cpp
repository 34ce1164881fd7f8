// tintora-cli: renders, composes, matches colours and makes demo projects
// without a window, through the same core the window program uses.
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <cstdio>
#include <iostream>
#include <string>

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

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr int kBadArguments = 2;
constexpr int kFailed = 1;

volatile std::sig_atomic_t interrupted = 0;

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
    void update(int done) {
        if (total_ <= 0) return;
        const int percent = static_cast<int>(100LL * std::min(done, total_) / total_);
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
    int last_tenth_ = -1;
};

// The project's background and clip as the menus open them, with what fails
// said on the error output.
class CommandLineLoaders : public ProjectLoaders {
public:
    CommandLineLoaders(const AppSettings& settings, Composition& composition, CorrectionGrid& grid,
                       VideoWorkspace& workspace)
        : settings_(settings), composition_(composition), grid_(grid), workspace_(workspace) {}

    void open_background(const fs::path& path) override {
        if (Status opened = composition_.open_background(path); !opened) {
            tell(path.string() + ": " + opened.error());
            return;
        }
        set_default_layout(grid_, composition_);
    }

    void open_video(const fs::path& path) override {
        ImportProgress progress;
        const ImportOutcome outcome =
            import_video(settings_.ffmpeg_path, path, settings_.work_dir, progress);
        if (outcome.problem != ImportProblem::None)
            tell(path.string() + ": " + outcome.problem_detail);
        if (!workspace_.finish_import(path, outcome)) {
            tell(path.string() + ": " +
                 std::string(message_text(message_texts::kUndefinedFps, "eng")));
        }
    }

private:
    const AppSettings& settings_;
    Composition& composition_;
    CorrectionGrid& grid_;
    VideoWorkspace& workspace_;
};

// Everything a project lives in, replayed from its file.
struct Session {
    AppSettings settings;
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace{settings};

    bool open(const fs::path& project) {
        CommandLineLoaders loaders(settings, composition, grid, workspace);
        if (Status opened = open_project(project, {composition, grid, workspace}, loaders);
            !opened) {
            tell(opened.error());
            return false;
        }
        return true;
    }
};

struct Options {
    std::string project;
    std::string flv;
    std::string jpeg;
    std::string wav;
    std::string workdir;
    std::string ffmpeg;
    int jobs = 0;
    std::string compose_output;
    std::string demo_folder;
    std::string match_output;
    std::string match_mode;  // empty: the project's own
    int match_frames = 5;
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

int render(const Options& options) {
    Session session;
    session.settings = settings_for(options);
    if (!session.open(options.project)) return kFailed;
    VideoWorkspace& workspace = session.workspace;
    if (workspace.session().FrameCount < 1) {
        tell(options.project + ": the project's video could not be opened");
        return kFailed;
    }
    if (!options.wav.empty()) {
        const Result<Command> command =
            prepare_wav_export(workspace, session.settings, options.wav);
        if (!command) return tell(command.error()), kFailed;
        const CommandResult result = run_command(command.value(), [] { return !interrupted; });
        if (!result.succeeded()) {
            tell(command_text(command.value()) + ": " + result.last_error_line());
            return kFailed;
        }
        return 0;
    }
    Result<RunJob> job =
        options.flv.empty()
            ? prepare_sequence_export(workspace, session.settings, session.grid,
                                      jpeg_sequence_prefix(options.jpeg))
            : prepare_video_export(workspace, session.settings, session.grid, options.flv);
    if (!job) return tell(job.error()), kFailed;
    ProgressReport progress("frames", job.value().stop_frame - job.value().start_frame + 1);
    const RunOutcome outcome = run_to_end(
        std::move(job).value(),
        [&progress](const RunEvent& event) {
            if (event.progress > 0) progress.update(event.progress);
        },
        [] { return !interrupted; }, options.jobs);
    if (outcome.state == ProcessingRun::State::Failed) return tell(outcome.failure), kFailed;
    if (outcome.state == ProcessingRun::State::Cancelled) return tell("interrupted"), kFailed;
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
    Session session;
    session.settings = settings_for(options);
    if (!session.open(options.project)) return kFailed;
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
    Status written;
    if (extension == ".ppm") {
        written = write_file_atomically(output, ppm_bytes(session.composition.picture()));
    } else if (extension == ".jpg" || extension == ".jpeg") {
        written = save_jpeg(session.composition.picture(), output);
    } else {
        tell(output.string() + ": the picture is written as .jpg, .jpeg or .ppm");
        return kBadArguments;
    }
    if (!written) return tell(written.error()), kFailed;
    return 0;
}

// Matches a project's curves over frames of its clip against its background
// and writes the matched project.
int match(const Options& options) {
    Session session;
    session.settings = settings_for(options);
    if (!session.open(options.project)) return kFailed;
    ColourMatchRequest request;
    request.mode = session.grid.correction_mode;
    if (!options.match_mode.empty()) {
        request.mode =
            options.match_mode == "colour" ? CorrectionMode::Colour : CorrectionMode::Brightness;
    }
    request.frame_count = options.match_frames;
    const ColourMatchReport report = match_project_colours(
        {session.composition, session.grid, session.workspace}, session.settings.work_dir, request);
    tell(match_report_text(report, "eng"));
    if (report.problem != MatchProblem::None) return kFailed;
    if (Status saved = save_project(options.match_output, session.composition, session.grid,
                                    session.workspace);
        !saved) {
        return tell(saved.error()), kFailed;
    }
    return 0;
}

int demo(const Options& options) {
    const AppSettings settings = settings_for(options);
    const Result<fs::path> project = make_demo_project(options.demo_folder, settings.ffmpeg_path);
    if (!project) return tell(project.error()), kFailed;
    std::cout << project.value().string() << '\n';
    return 0;
}

int run(int argc, char** argv) {
    CLI::App app{"Renders and checks Tintora projects without a window."};
    app.set_version_flag("--version", "tintora-cli 2.0");
    app.require_subcommand(1);
    Options options;

    CLI::App* render_command =
        app.add_subcommand("render", "Replay a project and export its video, frames or sound.");
    render_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    auto* outputs = render_command->add_option_group("output", "what to write");
    outputs->add_option("--flv", options.flv, "a video file (.flv, or .mp4 for H.264 and AAC)");
    outputs->add_option("--jpeg", options.jpeg, "the name prefix of a numbered JPEG sequence");
    outputs->add_option("--wav", options.wav, "the sound of the frame range");
    outputs->require_option(1);
    for (CLI::App* command : {render_command}) {
        command->add_option("--workdir", options.workdir, "the working folder for the frames");
        command->add_option("--ffmpeg", options.ffmpeg, "the encoder program");
        command->add_option("--jobs", options.jobs, "worker threads (default: one per core)")
            ->check(CLI::Range(1, 256));
    }

    CLI::App* compose_command =
        app.add_subcommand("compose", "Write the main window's picture of a project.");
    compose_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    compose_command->add_option("OUT", options.compose_output, "a .jpg or .ppm file")->required();
    compose_command->add_option("--workdir", options.workdir, "the working folder for the frames");
    compose_command->add_option("--ffmpeg", options.ffmpeg, "the encoder program");

    CLI::App* match_command = app.add_subcommand(
        "match", "Match a project's colours to its background and write the matched project.");
    match_command->add_option("PROJECT", options.project, "the project file")
        ->required()
        ->check(CLI::ExistingFile);
    match_command->add_option("OUT_PROJECT", options.match_output, "the matched project to write")
        ->required();
    match_command
        ->add_option("--mode", options.match_mode,
                     "the correction mode to match and keep (default: the project's)")
        ->check(CLI::IsMember({"colour", "brightness"}));
    match_command
        ->add_option("--frames", options.match_frames,
                     "frames spread over the range (default 5; 0: the project's current frame)")
        ->check(CLI::Range(0, 1000));
    match_command->add_option("--workdir", options.workdir, "the working folder for the frames");
    match_command->add_option("--ffmpeg", options.ffmpeg, "the encoder program");

    CLI::App* demo_command = app.add_subcommand("demo", "Make a demo project to try Tintora on.");
    demo_command->add_option("DIR", options.demo_folder, "the folder to make it in")->required();
    demo_command->add_option("--ffmpeg", options.ffmpeg, "the encoder program");

    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& done) {
        return app.exit(done);  // --help, --version
    } catch (const CLI::ParseError& error) {
        app.exit(error);
        return kBadArguments;
    }
    std::signal(SIGINT, [](int) { interrupted = 1; });
    std::signal(SIGTERM, [](int) { interrupted = 1; });
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
