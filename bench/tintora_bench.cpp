// Benchmarks of the per-frame work: colour correction against the plain
// per-pixel loop and against the JPEG work around it, the frame transforms,
// composition from the kept background against composition from the JPEG,
// the preview's frame change against its JPEG decode, the import of a clip
// against the encoder's own commands, the processing run against the bare
// JPEG codec on all cores and against the encoder's curve filter, and the
// MP4 export against the encoder making the same MP4 on its own. Test
// pictures come from ffmpeg's testsrc2 pattern (natural-looking content;
// random noise would make the codec artificially slow). After the runs the
// program prints ratios between benchmarks of this same run.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <map>
#include <memory>
#include <numbers>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/common/memory_tuning.hpp"
#include "core/composition/colour_matching.hpp"
#include "core/composition/composition.hpp"
#include "core/composition/light_tracking.hpp"
#include "core/composition/overlay_landing.hpp"
#include "core/correction/curves.hpp"
#include "core/correction/frame_correction.hpp"
#include "core/correction/frame_transforms.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/correction/light_gains.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/light_track.hpp"
#include "core/video/output_chain.hpp"
#include "core/video/panorama_playback.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_formats.hpp"
#include "core/video/video_import.hpp"
#include "core/video/video_parameters.hpp"
#include "core/viewer/hotspot_frame.hpp"
#include "core/viewer/mesh_map.hpp"
#include "support/colour_scene.hpp"
#include "support/test_clips.hpp"
#include "support/test_pictures.hpp"

extern char** environ;

namespace tintora {
namespace {

// ----------------------------------------------------------- test pictures

bool run_ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>("ffmpeg"));
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawnp(&child, "ffmpeg", nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    if (waitpid(child, &status, 0) < 0) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::filesystem::path picture_folder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("tintora-bench-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        return path;
    }();
    return folder;
}

// One frame of testsrc2 at the given size, as ffmpeg writes it at the given
// quality scale (2 unless told; the import extracts at 1).
std::vector<std::uint8_t> testsrc2_jpeg(int width, int height, int quality_scale = 2) {
    const std::string size = std::to_string(width) + "x" + std::to_string(height);
    const std::filesystem::path file =
        picture_folder() / ("testsrc2-" + size + "-q" + std::to_string(quality_scale) + ".jpg");
    if (!std::filesystem::exists(file)) {
        const bool made = run_ffmpeg({"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                                      "testsrc2=size=" + size, "-frames:v", "1", "-q:v",
                                      std::to_string(quality_scale), file.string()});
        if (!made) {
            std::fprintf(stderr, "ffmpeg could not make the test picture %s\n", file.c_str());
            std::exit(2);
        }
    }
    Result<std::vector<std::uint8_t>> bytes = read_file_bytes(file);
    if (!bytes) {
        std::fprintf(stderr, "%s\n", bytes.error().c_str());
        std::exit(2);
    }
    return std::move(bytes).value();
}

Frame decode_or_die(const std::vector<std::uint8_t>& bytes) {
    Result<Frame> frame = decode_jpeg(bytes.data(), bytes.size());
    if (!frame) {
        std::fprintf(stderr, "%s\n", frame.error().c_str());
        std::exit(2);
    }
    return std::move(frame).value();
}

const std::vector<std::uint8_t>& video_frame_jpeg() {
    static const std::vector<std::uint8_t> bytes = testsrc2_jpeg(1920, 1080);
    return bytes;
}

const Frame& video_frame() {
    static const Frame frame = decode_or_die(video_frame_jpeg());
    return frame;
}

// Nine different, non-identity curves.
const CorrectionGrid& bench_grid() {
    static const CorrectionGrid grid = [] {
        CorrectionGrid g;
        for (int p = 0; p < kGridPointCount; ++p) {
            g.control_values[p][40 + 10 * p] = 60 + 12 * p;
            g.control_values[p][150 + 5 * p] = 130 + 7 * p;
            g.control_values[p][230] = 200 + 3 * p;
        }
        recalculate_color_tables(g);
        return g;
    }();
    return grid;
}

// The colour mode: nine points with different curves in each channel, as a
// match leaves them (warmer on one side, another response in each channel).
const CorrectionGrid& bench_colour_grid() {
    static const CorrectionGrid grid = [] {
        CorrectionGrid g;
        g.correction_mode = CorrectionMode::Colour;
        for (int c = 0; c < kChannelCount; ++c) {
            for (int p = 0; p < kGridPointCount; ++p) {
                ControlValues& pairs = g.channel_control_values[c][p];
                pairs[30 + 8 * p + c] = 45 + 10 * p - 4 * c;
                pairs[120 + 4 * p] = 110 + 6 * p + 5 * c;
                pairs[200 + 2 * c] = 190 + 4 * p - 3 * c;
            }
        }
        recalculate_color_tables(g);
        return g;
    }();
    return grid;
}

// ------------------------------------------------------------- correction

void BM_CorrectFrameReference(benchmark::State& state) {
    Frame work;
    for (auto _ : state) {
        state.PauseTiming();
        work = video_frame();
        state.ResumeTiming();
        test::correct_frame_reference(work, bench_grid());
        benchmark::DoNotOptimize(work.data());
    }
}
BENCHMARK(BM_CorrectFrameReference)->Name("correct/reference")->Unit(benchmark::kMillisecond);

// A frame corrected by the kernel of a set, or without one by the kernel
// the program chooses (calibrated in its first iteration, as in a run).
void BM_CorrectFrameWith(benchmark::State& state, const CorrectionGrid& grid,
                         std::optional<VectorIsa> isa) {
    Frame work;
    for (auto _ : state) {
        state.PauseTiming();
        work = video_frame();
        state.ResumeTiming();
        if (isa) {
            correct_frame(work, grid, *isa);
        } else {
            correct_frame(work, grid);
        }
        benchmark::DoNotOptimize(work.data());
    }
    state.SetLabel(vector_isa_name(isa.value_or(chosen_correction_kernel(grid.correction_mode))));
}

void BM_CorrectFrame(benchmark::State& state, std::optional<VectorIsa> isa) {
    BM_CorrectFrameWith(state, bench_grid(), isa);
}

void BM_CorrectFrameColour(benchmark::State& state, std::optional<VectorIsa> isa) {
    BM_CorrectFrameWith(state, bench_colour_grid(), isa);
}

void BM_JpegDecode(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = video_frame_jpeg();
    for (auto _ : state) {
        Result<Frame> frame = decode_jpeg(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(frame.ok());
    }
}
BENCHMARK(BM_JpegDecode)->Name("jpeg/decode")->Unit(benchmark::kMillisecond);

void BM_JpegEncode(benchmark::State& state) {
    for (auto _ : state) {
        Result<std::vector<std::uint8_t>> bytes = encode_jpeg(video_frame(), kJpegQuality);
        benchmark::DoNotOptimize(bytes.ok());
    }
}
BENCHMARK(BM_JpegEncode)->Name("jpeg/encode_q90")->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------- transforms

template <class Transform>
void BM_Transform(benchmark::State& state, Transform transform) {
    Frame destination;
    for (auto _ : state) {
        transform(video_frame(), destination);
        benchmark::DoNotOptimize(destination.data());
    }
}

template <class Transform>
void BM_TransformInPlace(benchmark::State& state, Transform transform) {
    Frame work = video_frame();
    for (auto _ : state) {
        transform(work);
        benchmark::DoNotOptimize(work.data());
    }
}

BENCHMARK_CAPTURE(BM_Transform, rotate90, [](const Frame& s, Frame& d) { rotate_frame(s, d, 90); })
    ->Name("transform/rotate_90")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, rotate180,
                  [](const Frame& s, Frame& d) { rotate_frame(s, d, 180); })
    ->Name("transform/rotate_180")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, rotate270,
                  [](const Frame& s, Frame& d) { rotate_frame(s, d, 270); })
    ->Name("transform/rotate_270")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, cut,
                  [](const Frame& s, Frame& d) { cut_frame(s, 320, 180, 1280, 720, d); })
    ->Name("transform/cut_1280x720")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, shrink,
                  [](const Frame& s, Frame& d) {
                      d.resize(1280, 720);
                      resample_frame(s, d);
                  })
    ->Name("transform/resample_to_1280x720")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, enlarge,
                  [](const Frame& s, Frame& d) {
                      d.resize(2560, 1440);
                      resample_frame(s, d);
                  })
    ->Name("transform/resample_to_2560x1440")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, mirror_rows, [](const Frame& s, Frame& d) { mirror_rows(s, d); })
    ->Name("transform/mirror_rows")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, mirror_columns,
                  [](const Frame& s, Frame& d) { mirror_columns(s, d); })
    ->Name("transform/mirror_columns")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Transform, copy, [](const Frame& s, Frame& d) { copy_frame(s, d); })
    ->Name("transform/copy")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TransformInPlace, grayscale, [](Frame& f) { to_grayscale(f); })
    ->Name("transform/grayscale")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TransformInPlace, invert, [](Frame& f) { invert_frame(f); })
    ->Name("transform/invert")
    ->Unit(benchmark::kMillisecond);

// ------------------------------------------------------------ composition

// A 16384 x 8192 panorama (as high-end tours use) with a 1920 x 1080 frame
// at density "100%", seen through a 1600 x 1000 window. The frame's mesh
// is placed in the middle of what the window shows.
constexpr int kPanoramaWidth = 16384;
constexpr int kPanoramaHeight = 8192;
constexpr int kViewWidth = 1600;
constexpr int kViewHeight = 1000;
constexpr int kFullDensityIndex = 4;

Frame make_panorama() {
    Frame f(kPanoramaWidth, kPanoramaHeight);
    for (int y = 0; y < f.height(); ++y) {
        std::uint8_t* p = f.row(y);
        for (int x = 0; x < f.width(); ++x, p += 3) {
            p[0] = static_cast<std::uint8_t>(x >> 4);
            p[1] = static_cast<std::uint8_t>(y >> 3);
            p[2] = static_cast<std::uint8_t>((x ^ y) >> 5);
        }
    }
    return f;
}

const Frame& panorama() {
    static const Frame frame = make_panorama();
    return frame;
}

// The window's top-left corner and a mesh that lays the frame over the
// middle of the view, in background pixels, for a display scale.
struct ViewPlace {
    int left, top;
    CorrectionGrid grid;
};

ViewPlace view_place(double scale) {
    ViewPlace place{static_cast<int>(kPanoramaWidth * scale / 2) - kViewWidth / 2,
                    static_cast<int>(kPanoramaHeight * scale / 2) - kViewHeight / 2, bench_grid()};
    const double cx = kPanoramaWidth / 2.0;
    const double cy = kPanoramaHeight / 2.0;
    const double half_w = 0.3 * kViewWidth / scale;
    const double half_h = 0.3 * kViewHeight / scale;
    for (int p = 0; p < kGridPointCount; ++p) {
        place.grid.area_x[p] = static_cast<int>(cx + (p % 3 - 1) * half_w);
        place.grid.area_y[p] = static_cast<int>(cy + (p / 3 - 1) * half_h);
    }
    return place;
}

// A composition and what the window then shows, from a fresh state.
void BM_Compose(benchmark::State& state, int scale_index) {
    const double scale = kDisplayScales[static_cast<std::size_t>(scale_index)];
    ViewPlace place = view_place(scale);
    Composition composition;
    composition.set_background(panorama());
    composition.choices.scale_index = scale_index;
    composition.choices.density_index = kFullDensityIndex;
    for (auto _ : state) {
        composition.compose(place.grid, &video_frame());
        composition.show_region(place.left, place.top, kViewWidth, kViewHeight);
        benchmark::DoNotOptimize(composition.shown_picture().data());
        state.PauseTiming();
        // A new frame next time: the correction is part of every composition here.
        place.grid.control_values[4][128] = 100 + (place.grid.control_values[4][128] + 1) % 50;
        recalculate_color_tables(place.grid);
        state.ResumeTiming();
    }
}
BENCHMARK_CAPTURE(BM_Compose, scale_100, 5)->Name("compose/100")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Compose, scale_300, 8)->Name("compose/300")->Unit(benchmark::kMillisecond);

// With a set named, the fast paths are held to it while a benchmark runs,
// as on a machine without the wider ones.
class HeldToSet {
public:
    explicit HeldToSet(std::optional<VectorIsa> widest) {
        if (widest) limit_vector_isa(*widest);
    }
    ~HeldToSet() { limit_vector_isa(VectorIsa::Avx512Vbmi); }
    HeldToSet(const HeldToSet&) = delete;
    HeldToSet& operator=(const HeldToSet&) = delete;
};

// An edit as the user makes it most: an area point dragged, the picture
// redrawn where the window shows it.
void BM_Recompose(benchmark::State& state, std::optional<VectorIsa> widest) {
    const HeldToSet held(widest);
    ViewPlace place = view_place(1.0);
    Composition composition;
    composition.set_background(panorama());
    composition.choices.density_index = kFullDensityIndex;
    composition.compose(place.grid, &video_frame());
    composition.show_region(place.left, place.top, kViewWidth, kViewHeight);
    int step = 0;
    for (auto _ : state) {
        place.grid.area_x[4] += (step++ % 2 == 0) ? 3 : -3;
        // As the window does while the frame stays the same.
        composition.compose_same_overlay(place.grid, &video_frame());
        composition.show_region(place.left, place.top, kViewWidth, kViewHeight);
        benchmark::DoNotOptimize(composition.shown_picture().data());
    }
}
BENCHMARK_CAPTURE(BM_Recompose, widest, std::nullopt)
    ->Name("compose/recompose")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Recompose, avx2, VectorIsa::Avx2)
    ->Name("compose/recompose_avx2")
    ->Unit(benchmark::kMillisecond);

const std::vector<std::uint8_t>& imported_frame_jpeg();

// One frame of "Play in panorama" as its worker makes it: the frame file
// (as the import writes it) decoded, cut by the preview chain as after an
// import, corrected and drawn with the markers onto the part of the
// panorama the window shows.
void BM_PanoramaPlayFrame(benchmark::State& state, std::optional<VectorIsa> widest) {
    const HeldToSet held(widest);
    const std::filesystem::path work_dir = picture_folder() / "play";
    std::filesystem::create_directories(work_dir);
    const std::vector<std::uint8_t>& frame_file = imported_frame_jpeg();
    const Status written = write_file_atomically(
        work_dir / "pic0001.jpg",
        std::string_view(reinterpret_cast<const char*>(frame_file.data()), frame_file.size()));
    if (!written) {
        state.SkipWithError(written.error().c_str());
        return;
    }
    ViewPlace place = view_place(1.0);
    Composition composition;
    composition.set_background(panorama());
    composition.choices.density_index = kFullDensityIndex;
    composition.compose(place.grid, &video_frame());
    PlaybackJob job;
    job.work_dir = work_dir;
    job.frames = {1};
    job.steps.cut = OutputSteps::Rect{0, 0, 1919, 1079};
    job.grid = place.grid;
    job.display_scale = composition.display_scale();
    job.density_step = composition.density_step();
    job.left = place.left;
    job.top = place.top;
    job.width = kViewWidth;
    job.height = kViewHeight;
    // Frame after frame, as the worker plays: the window hands each picture
    // back when the next one is shown.
    PlayedPictureMaker maker(composition, job);
    for (auto _ : state) {
        Result<PlayedPicture> played = maker.make(1, true);
        if (!played) {
            state.SkipWithError(played.error().c_str());
            break;
        }
        benchmark::DoNotOptimize(played.value().picture.data());
        maker.recycle(std::move(played.value().picture));
    }
}
BENCHMARK_CAPTURE(BM_PanoramaPlayFrame, widest, std::nullopt)
    ->Name("compose/panorama_play_frame")
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_PanoramaPlayFrame, avx2, VectorIsa::Avx2)
    ->Name("compose/panorama_play_frame_avx2")
    ->Unit(benchmark::kMillisecond);

// The decode of the frame the recomposition draws.
void BM_DecodeFrame(benchmark::State& state) {
    for (auto _ : state) {
        Result<Frame> frame = decode_jpeg(video_frame_jpeg().data(), video_frame_jpeg().size());
        benchmark::DoNotOptimize(frame.ok());
    }
}
BENCHMARK(BM_DecodeFrame)->Name("compose/jpeg_decode_1080p")->Unit(benchmark::kMillisecond);

// One frame of the pass that follows a clip's light: decoded at 1/8, as the
// pass decodes it, and measured against the clip's first frame.
void BM_TrackPassFrame(benchmark::State& state) {
    const std::vector<std::uint8_t>& jpeg = video_frame_jpeg();
    LightMeter meter;
    meter.measure(decode_jpeg_reduced(jpeg.data(), jpeg.size(), kLightReduction).value());
    for (auto _ : state) {
        Result<Frame> reduced = decode_jpeg_reduced(jpeg.data(), jpeg.size(), kLightReduction);
        benchmark::DoNotOptimize(meter.measure(reduced.value()).measured);
    }
}
BENCHMARK(BM_TrackPassFrame)->Name("tracking/track_pass")->Unit(benchmark::kMillisecond);

// The gains of a followed light over a 1080p frame, as the brightness mode
// applies them before its correction (the colour mode folds them into its
// tables).
void BM_LightGainPass(benchmark::State& state) {
    Frame frame = video_frame();
    const LightGains gains{{1.08, 0.95, 0.9}};
    for (auto _ : state) {
        apply_light_gains(frame, gains);
        benchmark::DoNotOptimize(frame.row(0)[0]);
    }
}
BENCHMARK(BM_LightGainPass)->Name("tracking/gain_pass_1080p")->Unit(benchmark::kMillisecond);

// A colour match of all nine points from one 1080p frame against its
// background (a synthetic scene: another camera's frame of an unevenly lit
// place), pairing and fitting both.
void BM_MatchFrame(benchmark::State& state) {
    static const test::ColourScene scene = test::make_colour_scene(1920, 1080, 1);
    const std::vector<Frame> frames{scene.frame};
    for (auto _ : state) {
        const MatchOutcome outcome =
            match_colours(scene.grid, CorrectionMode::Colour, frames, {&scene.background, 0});
        benchmark::DoNotOptimize(outcome.result.fitted);
    }
}
BENCHMARK(BM_MatchFrame)->Name("match/frame")->Unit(benchmark::kMillisecond);

// The memory a composition at "300%" takes at its peak, against the
// background's own bytes: measured in a child process, so the rest of the
// benchmark's memory does not count.
// A line of /proc/self/status in KiB ("VmRSS", "VmHWM").
long status_kib(const char* key) {
    FILE* status = std::fopen("/proc/self/status", "r");
    if (status == nullptr) return -1;
    char line[256];
    long value = -1;
    const std::size_t length = std::strlen(key);
    while (std::fgets(line, sizeof line, status) != nullptr) {
        if (std::strncmp(line, key, length) == 0 && line[length] == ':') {
            value = std::strtol(line + length + 1, nullptr, 10);
            break;
        }
    }
    std::fclose(status);
    return value;
}

// Run in a process of its own (the benchmark program started again with
// kPeakChild), so no memory of the other benchmarks is reused or counted.
constexpr const char* kPeakChild = "--measure-peak-300";

int measure_peak_300() {
    const long before_kib = status_kib("VmRSS");
    ViewPlace place = view_place(3.0);
    Composition composition;
    // Made here and handed over, so the background exists once.
    composition.set_background(make_panorama());
    composition.choices.scale_index = 8;
    composition.choices.density_index = kFullDensityIndex;
    composition.compose(place.grid, &video_frame());
    composition.show_region(place.left, place.top, kViewWidth, kViewHeight);
    const double background_kib = static_cast<double>(composition.background_image().stride()) *
                                  composition.background_image().height() / 1024.0;
    // Everything taken since the start, the background included.
    std::printf("%.4f\n", (status_kib("VmHWM") - before_kib) / background_kib);
    return 0;
}

double peak_bytes_ratio() {
    const std::filesystem::path report = picture_folder() / "peak.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, report.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    char self[] = "/proc/self/exe";
    std::string flag = kPeakChild;
    char* argv[] = {self, flag.data(), nullptr};
    pid_t child = 0;
    const int failed = posix_spawn(&child, self, &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (failed != 0 || waitpid(child, &status, 0) != child || status != 0) return -1.0;
    double ratio = -1.0;
    if (FILE* in = std::fopen(report.c_str(), "r")) {
        if (std::fscanf(in, "%lf", &ratio) != 1) ratio = -1.0;
        std::fclose(in);
    }
    return ratio;
}

// ---------------------------------------------------------- video preview

using BenchmarkFunction = void (*)(benchmark::State&);

struct RatioSide {
    const char* name;
    BenchmarkFunction function;
};

// Registers the two sides of a ratio to take turns, the one that goes first
// alternating from round to round, so that a busy spell of the shared
// machine (or a steady rise of its load) falls on both alike. The reporter
// takes each side's median.
template <class Configure>
void register_in_turns(RatioSide a, RatioSide b, int rounds, Configure configure) {
    for (int round = 0; round < rounds; ++round) {
        const RatioSide& first = round % 2 == 0 ? a : b;
        const RatioSide& second = round % 2 == 0 ? b : a;
        configure(benchmark::RegisterBenchmark(first.name, first.function));
        configure(benchmark::RegisterBenchmark(second.name, second.function));
    }
}

// A frame as the import leaves it in WorkDir (-qscale 1).
const std::vector<std::uint8_t>& imported_frame_jpeg() {
    static const std::vector<std::uint8_t> bytes = testsrc2_jpeg(1920, 1080, 1);
    return bytes;
}

// A typical result preview: a cut, a shrink, the "horizontally" mirror and
// grayscale, without a correction grid.
OutputSteps preview_bench_steps() {
    OutputSteps steps;
    steps.cut = OutputSteps::Rect{100, 60, 1720, 960};
    steps.resample = OutputSteps::Size{1280, 720};
    steps.mirror_rows = true;
    steps.color_transformation = kGrayscale;
    return steps;
}

void BM_PreviewJpegDecode(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = imported_frame_jpeg();
    for (auto _ : state) {
        Result<Frame> frame = decode_jpeg(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(frame.ok());
    }
}

// What a frame change does at rotation 0: the decoded frame becomes the
// source picture, and the result picture is drawn from it. Both pictures
// live on between frames, as the workspace's do, so the old ones are freed
// on the way.
void BM_PreviewFrameChange(benchmark::State& state) {
    const std::vector<std::uint8_t>& bytes = imported_frame_jpeg();
    const OutputSteps steps = preview_bench_steps();
    Frame source_picture;
    Frame result_picture;
    for (auto _ : state) {
        Result<Frame> loaded = decode_jpeg(bytes.data(), bytes.size());
        if (!loaded) {
            state.SkipWithError(loaded.error().c_str());
            break;
        }
        source_picture = std::move(loaded).value();
        result_picture = render_output(source_picture, steps);
        benchmark::DoNotOptimize(result_picture.data());
    }
}

void register_preview_benchmarks() {
    register_in_turns(
        {"preview/frame_change", BM_PreviewFrameChange},
        {"preview/jpeg_decode", BM_PreviewJpegDecode}, 5,
        [](benchmark::internal::Benchmark* b) { b->Unit(benchmark::kMillisecond)->MinTime(0.3); });
}

void BM_PreviewChainOnly(benchmark::State& state) {
    const Frame source_picture = decode_or_die(imported_frame_jpeg());
    const OutputSteps steps = preview_bench_steps();
    Frame result_picture;
    for (auto _ : state) {
        result_picture = render_output(source_picture, steps);
        benchmark::DoNotOptimize(result_picture.data());
    }
}
BENCHMARK(BM_PreviewChainOnly)->Name("preview/chain_only")->Unit(benchmark::kMillisecond);

// ----------------------------------------------------------- video import

// Ten seconds of 1080p testsrc2 at 25 frames a second with a tone, made
// once per run.
const std::filesystem::path& import_clip() {
    static const std::filesystem::path clip = [] {
        const std::filesystem::path file = picture_folder() / "testsrc2-1920x1080-10s.mp4";
        const bool made =
            run_ffmpeg({"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
                        "testsrc2=size=1920x1080:rate=25:duration=10", "-f", "lavfi", "-i",
                        "sine=duration=10", "-shortest", "-preset", "ultrafast", file.string()});
        if (!made) {
            std::fprintf(stderr, "ffmpeg could not make the test clip %s\n", file.c_str());
            std::exit(2);
        }
        return file;
    }();
    return clip;
}

constexpr int kImportClipFrames = 250;

// Every iteration starts from an empty WorkDir with nothing left to write
// back to the disk, so neither side pays for the one before.
void empty_work_dir(const std::filesystem::path& work_dir) {
    std::error_code ignored;
    std::filesystem::remove_all(work_dir, ignored);
    std::filesystem::create_directories(work_dir, ignored);
    ::sync();
}

void check_import_result(benchmark::State& state, const std::filesystem::path& work_dir) {
    const int frames = count_frame_files(work_dir);
    if (frames != kImportClipFrames) {
        const std::string message =
            std::to_string(frames) + " frames instead of " + std::to_string(kImportClipFrames);
        state.SkipWithError(message.c_str());
    }
}

void BM_Import(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    if (ffmpeg.empty()) {
        state.SkipWithError("no ffmpeg along PATH");
        return;
    }
    const std::filesystem::path& clip = import_clip();
    const std::filesystem::path work_dir = picture_folder() / "import-work";
    for (auto _ : state) {
        state.PauseTiming();
        empty_work_dir(work_dir);
        ImportProgress progress;
        state.ResumeTiming();
        const ImportOutcome outcome = import_video(ffmpeg, clip, work_dir, progress);
        if (outcome.problem != ImportProblem::None) {
            state.SkipWithError(outcome.problem_detail.c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_import_result(state, work_dir);
}

// The same three commands one after the other, nothing around them: the
// encoder's own time.
void BM_ImportCommands(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    if (ffmpeg.empty()) {
        state.SkipWithError("no ffmpeg along PATH");
        return;
    }
    const std::filesystem::path& clip = import_clip();
    const std::filesystem::path work_dir = picture_folder() / "commands-work";
    const Command commands[] = {info_command(ffmpeg, clip, work_dir),
                                extraction_command(ffmpeg, clip, work_dir),
                                sound_command(ffmpeg, clip, work_dir)};
    for (auto _ : state) {
        state.PauseTiming();
        empty_work_dir(work_dir);
        state.ResumeTiming();
        for (std::size_t i = 0; i < std::size(commands); ++i) {
            // The description ends with an error (no output named); only the
            // other two must succeed.
            const CommandResult result = run_command(commands[i]);
            if (!result.started || (i > 0 && !result.succeeded())) {
                state.SkipWithError(result.last_error_line().c_str());
                break;
            }
        }
        if (state.error_occurred()) break;
    }
    if (!state.error_occurred()) check_import_result(state, work_dir);
}

// Each side takes seconds in child processes, so both are timed by the wall
// clock, in turns.
void register_import_benchmarks() {
    register_in_turns({"import/import_video", BM_Import},
                      {"import/ffmpeg_commands", BM_ImportCommands}, 5,
                      [](benchmark::internal::Benchmark* b) {
                          b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
                      });
}

// --------------------------------------------------------- processing run

// The run over 100 imported 1080p frames with a correction and nothing else
// (the cut is the whole frame, the size stays), against the same frames
// decoded and encoded at quality 90 on every core with nothing around the
// codec, and against the encoder applying a comparable curve on its own.
// All three read the source files and write their outputs as files: the run
// cannot do otherwise, so the codec limit pays the same file work (reading
// each picture, writing each output) and only the run's own bookkeeping and
// correction stand between them.
constexpr int kRunFrames = 100;

// WorkDir holding four seconds of 1080p testsrc2 at 25 frames a second,
// extracted by the import just as a user's clip is; made once per run.
const std::filesystem::path& run_work_dir() {
    static const std::filesystem::path work_dir = [] {
        const std::filesystem::path ffmpeg = test::find_encoder();
        const std::filesystem::path clip = picture_folder() / "testsrc2-1920x1080-4s.mp4";
        const std::filesystem::path dir = picture_folder() / "run-work";
        bool made =
            !ffmpeg.empty() && run_ffmpeg({"-nostdin", "-loglevel", "error", "-y", "-f", "lavfi",
                                           "-i", "testsrc2=size=1920x1080:rate=25:duration=4",
                                           "-preset", "ultrafast", clip.string()});
        if (made) {
            ImportProgress progress;
            const ImportOutcome outcome = import_video(ffmpeg, clip, dir, progress);
            made = outcome.problem == ImportProblem::None && outcome.frame_count >= kRunFrames;
        }
        if (!made) {
            std::fprintf(stderr, "could not import %d frames of a test clip into %s\n", kRunFrames,
                         dir.c_str());
            std::exit(2);
        }
        return dir;
    }();
    return work_dir;
}

// A new, empty folder for one iteration's outputs. The previous iteration's
// outputs are deleted and everything written so far goes to the disk first,
// so no side pays for writing back what another one wrote.
std::filesystem::path fresh_output_folder() {
    static int serial = 0;
    const std::filesystem::path root = picture_folder() / "run-outputs";
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
    const std::filesystem::path folder = root / std::to_string(++serial);
    std::filesystem::create_directories(folder, ignored);
    ::sync();
    return folder;
}

// Every side must have left exactly one file per frame.
void check_outputs(benchmark::State& state, const std::filesystem::path& folder) {
    std::error_code error;
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file()) ++files;
    }
    if (files != kRunFrames) {
        const std::string message =
            std::to_string(files) + " outputs instead of " + std::to_string(kRunFrames);
        state.SkipWithError(message.c_str());
    }
}

// Range 1-100 at rotation 0, cut to the whole frame and resampled to its own
// size, so only the correction changes the pixels.
RunJob bench_run_job(const std::filesystem::path& output_folder) {
    RunJob job;
    job.work_dir = run_work_dir();
    job.start_frame = 1;
    job.stop_frame = kRunFrames;
    job.settings.rotation_angle = 0;
    job.settings.steps.cut = OutputSteps::Rect{0, 0, 1920, 1080};
    job.settings.steps.resample = OutputSteps::Size{1920, 1080};
    job.grid = bench_grid();
    job.output_prefix = (output_folder / "frame").string();
    return job;
}

void BM_RunToEnd(benchmark::State& state) {
    run_work_dir();
    std::filesystem::path folder;
    for (auto _ : state) {
        state.PauseTiming();
        folder = fresh_output_folder();
        RunJob job = bench_run_job(folder);
        state.ResumeTiming();
        const RunOutcome outcome = run_to_end(std::move(job), {});
        if (outcome.state != ProcessingRun::State::Finished) {
            state.SkipWithError(outcome.failure.c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_outputs(state, folder);
}

// One thread per core, as many as the run starts by default, each taking
// the next frame from a shared counter: read, decode, encode, write.
void BM_CodecLimit(benchmark::State& state) {
    const std::filesystem::path& work_dir = run_work_dir();
    const int workers = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::filesystem::path folder;
    for (auto _ : state) {
        state.PauseTiming();
        folder = fresh_output_folder();
        const std::string prefix = (folder / "frame").string();
        state.ResumeTiming();
        std::atomic<int> next{1};
        std::atomic<bool> failed{false};
        std::vector<std::thread> threads;
        for (int i = 0; i < workers; ++i) {
            threads.emplace_back([&] {
                for (int k = next++; k <= kRunFrames && !failed; k = next++) {
                    const Result<std::vector<std::uint8_t>> source =
                        read_file_bytes(frame_file_path(work_dir, k));
                    if (!source) return void(failed = true);
                    const Result<Frame> frame =
                        decode_jpeg(source.value().data(), source.value().size());
                    if (!frame) return void(failed = true);
                    const Result<std::vector<std::uint8_t>> bytes =
                        encode_jpeg(frame.value(), kJpegQuality);
                    if (!bytes) return void(failed = true);
                    const std::vector<std::uint8_t>& out = bytes.value();
                    const Status written = write_file(
                        run_output_path(prefix, k),
                        std::string_view(reinterpret_cast<const char*>(out.data()), out.size()));
                    if (!written) return void(failed = true);
                }
            });
        }
        for (std::thread& thread : threads) thread.join();
        if (failed) {
            state.SkipWithError("a frame could not be read, coded or written");
            break;
        }
    }
    if (!state.error_occurred()) check_outputs(state, folder);
}

// The encoder's own curve filter over the same frames, writing JPEGs at
// quality scale 3.
void BM_FfmpegLut(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    if (ffmpeg.empty()) {
        state.SkipWithError("no ffmpeg along PATH");
        return;
    }
    const std::filesystem::path& work_dir = run_work_dir();
    const std::string curve = "clipval*0.9+10";
    std::filesystem::path folder;
    for (auto _ : state) {
        state.PauseTiming();
        folder = fresh_output_folder();
        // -frames:v keeps it to the run's range should the import have
        // given a frame more.
        const Command command{
            ffmpeg,
            {"-nostdin", "-y", "-loglevel", "error", "-i", path_argument(work_dir / "pic%04d.jpg"),
             "-frames:v", std::to_string(kRunFrames), "-vf",
             "lutrgb=r=" + curve + ":g=" + curve + ":b=" + curve, "-q:v", "3",
             path_argument(folder / "out%04d.jpg")},
            {}};
        state.ResumeTiming();
        const CommandResult result = run_command(command);
        if (!result.succeeded()) {
            state.SkipWithError(result.last_error_line().c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_outputs(state, folder);
}

// The MP4 export against the encoder alone: both turn the 100 imported
// frames into an H.264 MP4 at the export's default quality ("Automatic")
// with the same codec and quality options, full range to TV range with the
// same conversion. The export decodes, corrects and streams the frames raw
// into the encoder; the encoder alone decodes the JPEGs itself and applies
// its curve filter. The encoder's own work should
// be all that counts; it depends on the pictures, so the export's nine curves
// are all the filter's curve, and both encode (nearly) the same pictures.
constexpr EvenSize kMp4Size{1920, 1080};
constexpr double kMp4Fps = 25;
constexpr const char* kMp4Curve = "clipval*0.9+10";

// Every grid point's curve runs from 0 to 10 and from 255 to 240: the
// straight line of kMp4Curve.
const CorrectionGrid& mp4_grid() {
    static const CorrectionGrid grid = [] {
        CorrectionGrid g;
        for (int p = 0; p < kGridPointCount; ++p) {
            g.control_values[p][0] = 10;
            g.control_values[p][255] = 240;
        }
        recalculate_color_tables(g);
        return g;
    }();
    return grid;
}

// Every side must have left one MP4 of some size.
void check_mp4(benchmark::State& state, const std::filesystem::path& video) {
    std::error_code error;
    if (std::filesystem::file_size(video, error) == 0 || error) {
        state.SkipWithError("no MP4 was written");
    }
}

// Streams the run's frames of `size` into an MP4 at the export's quality.
void stream_into_mp4(RunJob& job, const std::filesystem::path& ffmpeg, PendingFile pending,
                     EvenSize size, const char* title) {
    StreamedEncoding encoding;
    encoding.format = VideoFormat::Mp4;
    encoding.size = size;
    encoding.output_fps = kMp4Fps;
    encoding.quality = WebQuality::Automatic;
    FrameStream stream;
    stream.title = title;
    stream.output = std::make_shared<PendingFile>(std::move(pending));
    stream.command = streamed_encoding_command(ffmpeg, encoding, stream.output->temporary());
    stream.size = encoding.size;
    job.stream = std::move(stream);
}

void BM_ExportMp4(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    std::filesystem::path video;
    for (auto _ : state) {
        state.PauseTiming();
        video = fresh_output_folder() / "export.mp4";
        RunJob job = bench_run_job(video.parent_path());
        job.grid = mp4_grid();
        Result<PendingFile> pending = PendingFile::create(video);
        if (!pending) {
            state.SkipWithError(pending.error().c_str());
            break;
        }
        stream_into_mp4(job, ffmpeg, std::move(pending).value(), kMp4Size, "Save MP4 file");
        state.ResumeTiming();
        const RunOutcome outcome = run_to_end(std::move(job), {});
        if (outcome.state != ProcessingRun::State::Finished) {
            state.SkipWithError(outcome.failure.c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_mp4(state, video);
}

void BM_FfmpegLutMp4(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    const std::filesystem::path& work_dir = run_work_dir();
    const std::string curve = kMp4Curve;
    std::filesystem::path video;
    for (auto _ : state) {
        state.PauseTiming();
        video = fresh_output_folder() / "ffmpeg.mp4";
        Command command{ffmpeg,
                        {"-nostdin", "-y", "-loglevel", "error", "-framerate", "25", "-i",
                         path_argument(work_dir / "pic%04d.jpg"), "-frames:v",
                         std::to_string(kRunFrames), "-vf",
                         "lutrgb=r=" + curve + ":g=" + curve + ":b=" + curve +
                             ",scale=out_range=tv:out_color_matrix=bt709:flags=accurate_rnd,"
                             "format=yuv420p"},
                        {}};
        const std::vector<std::string> codec = video_codec_arguments(VideoFormat::Mp4);
        command.arguments.insert(command.arguments.end(), codec.begin(), codec.end());
        const std::vector<std::string> quality =
            web_video_quality(VideoFormat::Mp4, WebQuality::Automatic, kMp4Size, kMp4Fps, 0);
        command.arguments.insert(command.arguments.end(), quality.begin(), quality.end());
        command.arguments.insert(command.arguments.end(), {"-pix_fmt", "yuv420p", "-movflags",
                                                           "+faststart", path_argument(video)});
        state.ResumeTiming();
        const CommandResult result = run_command(command);
        if (!result.succeeded()) {
            state.SkipWithError(result.last_error_line().c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_mp4(state, video);
}

// ----------------------------------------------------------------- hotspot

// A hotspot as users make them: a 1920 x 1080 clip of a 40-degree camera
// looking 20 degrees right and 10 up, laid on a 4096 x 2048 panorama by the
// mesh's default (bilinear) model, with the default soft edge: a baked frame
// of about 2000 x 1100 (the bilinear mesh bulges a little past the camera's).
constexpr FrameSize kHotspotClip{1920, 1080};

struct HotspotScene {
    PanoramaGeometry geometry = default_panorama_geometry(4096, 2048);
    Frame panorama;
    CorrectionGrid grid = mp4_grid();  // the MP4 export's curves
};

// The area points of a 16:9 camera `fov` degrees across, looking 20
// degrees right and 10 up.
void lay_camera(CorrectionGrid& grid, const PanoramaGeometry& geometry, double fov) {
    const double reach = std::tan(fov / 2 * std::numbers::pi / 180);
    const TangentPlane camera = TangentPlane::at(direction_of({20, 10}));
    for (int p = 0; p < kGridPointCount; ++p) {
        const PlanePoint on{((p % 3) - 1) * reach, (1 - (p / 3)) * reach * 9 / 16};
        const PicturePosition at = *position_of(geometry, camera.direction(on));
        grid.area_x[p] = static_cast<int>(std::lround(at.x - 0.5));
        grid.area_y[p] = static_cast<int>(std::lround(at.y - 0.5));
    }
}

const HotspotScene& hotspot_scene() {
    static const HotspotScene scene = [] {
        HotspotScene s;
        s.panorama = decode_or_die(testsrc2_jpeg(4096, 2048));
        lay_camera(s.grid, s.geometry, 40);
        return s;
    }();
    return scene;
}

// The lookup's memory per frame pixel for a frame as wide as a hotspot video
// may be: a 4096 x 2304 clip of a 60-degree camera on the same panorama.
double hotspot_lookup_bytes_per_pixel() {
    const HotspotScene& scene = hotspot_scene();
    CorrectionGrid grid;
    lay_camera(grid, scene.geometry, 60);
    constexpr FrameSize kClip{4096, 2304};
    const MeshMap map = *MeshMap::make(grid, scene.geometry, 0, MeshModel::Bilinear);
    const HotspotFrame frame = place_hotspot(map, kClip).frame;
    const HotspotBake bake(frame, map, kClip, Frame{}, kDefaultEdgeBlend);
    return static_cast<double>(bake.lookup_bytes()) / (double(frame.width) * frame.height);
}

// What the hotspot export works out before its run: the map, the frame,
// the panorama alone in it and the bake's lookup.
std::shared_ptr<const HotspotBake> hotspot_bake() {
    const HotspotScene& scene = hotspot_scene();
    const MeshMap map = *MeshMap::make(scene.grid, scene.geometry, 0, MeshModel::Bilinear);
    const HotspotFrame frame = place_hotspot(map, kHotspotClip).frame;
    return std::make_shared<const HotspotBake>(frame, map, kHotspotClip, scene.panorama,
                                               scene.geometry, kDefaultEdgeBlend);
}

// The lookup alone: where each frame pixel reads the clip and how much of
// it shows (the panorama alone, made once per clip and mesh too, is timed
// on its own below).
void BM_HotspotLookup(benchmark::State& state) {
    const HotspotScene& scene = hotspot_scene();
    const MeshMap map = *MeshMap::make(scene.grid, scene.geometry, 0, MeshModel::Bilinear);
    const HotspotFrame frame = place_hotspot(map, kHotspotClip).frame;
    const Frame panorama_alone = panorama_in_frame(frame, scene.panorama, scene.geometry);
    for (auto _ : state) {
        state.PauseTiming();
        Frame background = panorama_alone;
        state.ResumeTiming();
        const HotspotBake bake(frame, map, kHotspotClip, std::move(background), kDefaultEdgeBlend);
        benchmark::DoNotOptimize(&bake);
    }
    state.SetLabel(std::to_string(frame.width) + "x" + std::to_string(frame.height));
}
BENCHMARK(BM_HotspotLookup)->Name("hotspot/lookup")->Unit(benchmark::kMillisecond);

void BM_HotspotPanorama(benchmark::State& state) {
    const HotspotScene& scene = hotspot_scene();
    const MeshMap map = *MeshMap::make(scene.grid, scene.geometry, 0, MeshModel::Bilinear);
    const HotspotFrame frame = place_hotspot(map, kHotspotClip).frame;
    for (auto _ : state) {
        const Frame alone = panorama_in_frame(frame, scene.panorama, scene.geometry);
        benchmark::DoNotOptimize(alone.data());
    }
}
BENCHMARK(BM_HotspotPanorama)->Name("hotspot/panorama_alone")->Unit(benchmark::kMillisecond);

// One corrected 1080p frame baked, by the kernel this processor runs.
void BM_HotspotBakeFrame(benchmark::State& state) {
    const std::shared_ptr<const HotspotBake> bake = hotspot_bake();
    Frame clip = video_frame();
    Frame baked;
    for (auto _ : state) {
        bake->bake(clip, baked);
        benchmark::DoNotOptimize(baked.data());
    }
}
BENCHMARK(BM_HotspotBakeFrame)->Name("hotspot/bake")->Unit(benchmark::kMillisecond);

// The hotspot export of the MP4 export's 100 frames, MP4 only (the export
// writes WebM beside it, which is not what is compared): the lookup made
// as the export makes it before the run, then every corrected frame baked
// on the run's workers and streamed into the same encoder at the same
// quality. The frame is the hotspot's, a little larger than the clip.
void BM_HotspotExport(benchmark::State& state) {
    const std::filesystem::path ffmpeg = test::find_encoder();
    hotspot_scene();
    std::filesystem::path video;
    for (auto _ : state) {
        state.PauseTiming();
        video = fresh_output_folder() / "hotspot.mp4";
        RunJob job = bench_run_job(video.parent_path());
        job.grid = mp4_grid();
        Result<PendingFile> pending = PendingFile::create(video);
        if (!pending) {
            state.SkipWithError(pending.error().c_str());
            break;
        }
        state.ResumeTiming();
        const std::shared_ptr<const HotspotBake> bake = hotspot_bake();
        job.present = [bake](const Frame& frame) {
            Frame baked;
            bake->bake(frame, baked);
            return baked;
        };
        stream_into_mp4(job, ffmpeg, std::move(pending).value(),
                        EvenSize{bake->frame().width, bake->frame().height}, "Save hotspot");
        const RunOutcome outcome = run_to_end(std::move(job), {});
        if (outcome.state != ProcessingRun::State::Finished) {
            state.SkipWithError(outcome.failure.c_str());
            break;
        }
    }
    if (!state.error_occurred()) check_mp4(state, video);
}

// Each side takes about a second on all cores (the encoder's in a child
// process), so all are timed by the wall clock, in turns; the MP4 sides take
// several seconds each and run once a turn, in five turns.
void register_run_benchmarks() {
    const auto configure = [](benchmark::internal::Benchmark* b) {
        b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
    };
    register_in_turns({"run/run_to_end", BM_RunToEnd}, {"run/codec_limit", BM_CodecLimit}, 3,
                      configure);
    register_in_turns({"run/run_to_end", BM_RunToEnd}, {"run/ffmpeg_lut", BM_FfmpegLut}, 3,
                      configure);
    register_in_turns({"run/export_mp4", BM_ExportMp4}, {"run/ffmpeg_lut_mp4", BM_FfmpegLutMp4}, 5,
                      [](benchmark::internal::Benchmark* b) {
                          b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
                      });
    register_in_turns({"run/hotspot_export", BM_HotspotExport}, {"run/export_mp4", BM_ExportMp4},
                      5, [](benchmark::internal::Benchmark* b) {
                          b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
                      });
}

// ---------------------------------------------------------------- ratios

// Prints the usual table and keeps each benchmark's CPU time per iteration
// (the median when the runs are repeated or the benchmark is registered more
// than once); wall-clock time for benchmarks that ask for it, whose work
// happens in child processes.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred) continue;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            const std::string& name = run.run_name.function_name;
            const double time = run.run_name.time_type == "real_time" ? run.GetAdjustedRealTime()
                                                                      : run.GetAdjustedCPUTime();
            if (median) {
                medians_.insert(name);
                samples_[name] = {time};
            } else if (run.run_type == Run::RT_Iteration && medians_.count(name) == 0) {
                samples_[name].push_back(time);
            }
        }
    }

    void print_ratio(const char* label, const std::string& numerator,
                     const std::vector<std::string>& denominators) const {
        const std::optional<double> top = time(numerator);
        double bottom = 0.0;
        bool all = top.has_value();
        for (const std::string& name : denominators) {
            const std::optional<double> t = time(name);
            all = all && t.has_value();
            if (t) bottom += *t;
        }
        if (all && bottom > 0.0) {
            std::printf("ratio %s = %.4f\n", label, *top / bottom);
        } else {
            std::printf("ratio %s = not measured (filtered out)\n", label);
        }
    }

    bool measured(const std::string& name) const { return time(name).has_value(); }

private:
    std::optional<double> time(const std::string& name) const {
        const auto found = samples_.find(name);
        if (found == samples_.end() || found->second.empty()) return std::nullopt;
        std::vector<double> sorted = found->second;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t middle = sorted.size() / 2;
        if (sorted.size() % 2 == 1) return sorted[middle];
        return (sorted[middle - 1] + sorted[middle]) / 2;
    }

    std::map<std::string, std::vector<double>> samples_;
    std::set<std::string> medians_;
};

// "avx512vbmi" for AVX-512-VBMI: a set's name in a ratio's label.
std::string isa_label(VectorIsa isa) {
    std::string label;
    for (const char c : std::string_view(vector_isa_name(isa))) {
        if (c != '-') label += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return label;
}

// The kernel the program runs for each operation here, and what the
// calibration measured (best of its rounds, on its small workload).
void print_kernel_choices() {
    std::printf("program's kernels here: brightness %s, colour %s, landing %s\n",
                vector_isa_name(chosen_correction_kernel(CorrectionMode::Brightness)),
                vector_isa_name(chosen_correction_kernel(CorrectionMode::Colour)),
                vector_isa_name(composition_detail::chosen_landing_kernel()));
    for (int i = 0; i < kKernelOperationCount; ++i) {
        const auto operation = static_cast<KernelOperation>(i);
        const std::optional<KernelCalibration> calibration = kernel_calibration(operation);
        if (!calibration) continue;
        std::printf("  %s calibration:", kernel_operation_name(operation));
        for (const KernelTiming& timing : calibration->timings) {
            std::printf(" %s %.1f us%s", vector_isa_name(timing.isa), timing.seconds * 1e6,
                        timing.isa == calibration->chosen ? " (chosen)" : "");
        }
        std::printf("\n");
    }
}

}  // namespace
}  // namespace tintora

int main(int argc, char** argv) {
    using namespace tintora;
    if (argc == 2 && std::string(argv[1]) == kPeakChild) {
        keep_freed_frame_memory();
        return measure_peak_300();
    }
    // As the programs do: the frame benchmarks measure them, not the
    // allocator handing memory back and forth.
    keep_freed_frame_memory();
    // Each mode with the kernel the program chooses, then with every kernel
    // this processor has, for information.
    using CorrectBenchmark = void (*)(benchmark::State&, std::optional<VectorIsa>);
    for (const auto& [prefix, function] :
         {std::pair<const char*, CorrectBenchmark>{"correct/frame_", BM_CorrectFrame},
          std::pair<const char*, CorrectBenchmark>{"correct/frame_colour_",
                                                   BM_CorrectFrameColour}}) {
        benchmark::RegisterBenchmark((std::string(prefix) + "chosen").c_str(), function,
                                     std::nullopt)
            ->Unit(benchmark::kMillisecond);
        for (const VectorIsa isa : supported_vector_isas()) {
            benchmark::RegisterBenchmark((prefix + std::string(vector_isa_name(isa))).c_str(),
                                         function, isa)
                ->Unit(benchmark::kMillisecond);
        }
    }
    register_preview_benchmarks();
    register_import_benchmarks();
    register_run_benchmarks();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::fflush(stdout);
    print_kernel_choices();
    reporter.print_ratio("correct_frame/reference", "correct/frame_chosen", {"correct/reference"});
    reporter.print_ratio("correct_frame/jpeg_codec", "correct/frame_chosen",
                         {"jpeg/decode", "jpeg/encode_q90"});
    reporter.print_ratio("correct_frame_colour/jpeg_codec", "correct/frame_colour_chosen",
                         {"jpeg/decode", "jpeg/encode_q90"});
    // Each kernel forced, for information; AVX2 is what machines without
    // AVX-512 run.
    for (const char* mode : {"", "colour_"}) {
        for (const VectorIsa isa : supported_vector_isas()) {
            const std::string label = std::string("correct_frame_") + mode + isa_label(isa);
            reporter.print_ratio((label + "/jpeg_codec").c_str(),
                                 std::string("correct/frame_") + mode + vector_isa_name(isa),
                                 {"jpeg/decode", "jpeg/encode_q90"});
        }
    }
    reporter.print_ratio("compose_300/compose_100", "compose/300", {"compose/100"});
    reporter.print_ratio("recompose/jpeg_decode_1080p", "compose/recompose",
                         {"compose/jpeg_decode_1080p"});
    // The same held to AVX2, as machines without AVX-512 run it.
    reporter.print_ratio("recompose_avx2/jpeg_decode_1080p", "compose/recompose_avx2",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("panorama_play_frame/jpeg_decode_1080p", "compose/panorama_play_frame",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("panorama_play_frame_avx2/jpeg_decode_1080p",
                         "compose/panorama_play_frame_avx2", {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("match_frame/jpeg_decode_1080p", "match/frame",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("track_pass/jpeg_decode_1080p", "tracking/track_pass",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("gain_pass/jpeg_decode_1080p", "tracking/gain_pass_1080p",
                         {"compose/jpeg_decode_1080p"});
    if (reporter.measured("compose/300")) {
        std::printf("ratio peak_bytes_300/background_bytes = %.4f\n", peak_bytes_ratio());
    } else {
        std::printf("ratio peak_bytes_300/background_bytes = not measured (filtered out)\n");
    }
    reporter.print_ratio("preview_step/jpeg_decode", "preview/frame_change",
                         {"preview/jpeg_decode"});
    reporter.print_ratio("preview_chain/jpeg_decode", "preview/chain_only",
                         {"preview/jpeg_decode"});
    reporter.print_ratio("import/ffmpeg_commands", "import/import_video",
                         {"import/ffmpeg_commands"});
    reporter.print_ratio("run/codec_limit", "run/run_to_end", {"run/codec_limit"});
    reporter.print_ratio("run/ffmpeg_lut", "run/run_to_end", {"run/ffmpeg_lut"});
    reporter.print_ratio("export_mp4/ffmpeg_lut_mp4", "run/export_mp4", {"run/ffmpeg_lut_mp4"});
    reporter.print_ratio("hotspot_export/export_mp4", "run/hotspot_export", {"run/export_mp4"});
    reporter.print_ratio("hotspot_lookup/jpeg_decode_1080p", "hotspot/lookup",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("hotspot_panorama/jpeg_decode_1080p", "hotspot/panorama_alone",
                         {"compose/jpeg_decode_1080p"});
    reporter.print_ratio("hotspot_bake/jpeg_decode_1080p", "hotspot/bake",
                         {"compose/jpeg_decode_1080p"});
    if (reporter.measured("hotspot/lookup")) {
        std::printf("ratio hotspot_lookup_bytes_4096/frame_pixels = %.4f\n",
                    hotspot_lookup_bytes_per_pixel());
    } else {
        std::printf("ratio hotspot_lookup_bytes_4096/frame_pixels = not measured (filtered out)\n");
    }
    benchmark::Shutdown();
    std::error_code ignored;
    std::filesystem::remove_all(picture_folder(), ignored);
    return 0;
}
