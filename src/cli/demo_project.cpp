#include "cli/demo_project.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "core/composition/composition.hpp"
#include "core/correction/curves.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/project/project_file.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;
using std::numbers::pi;

// ------------------------------------------------------------ the panorama

constexpr int kPanoramaWidth = 2048;
constexpr int kPanoramaHeight = 1024;
constexpr int kHorizon = kPanoramaHeight / 2;

// The wall the clip shows (panorama pixels) and where the clip's frame lies
// on it: one panorama pixel per frame pixel.
constexpr int kWallLeft = 16;
constexpr int kWallRight = 736;
constexpr int kWallTop = 290;
constexpr int kWallBase = 720;
constexpr int kCorniceHeight = 14;
constexpr int kAreaLeft = 56;
constexpr int kAreaTop = 330;
// A flagpole in front of the wall: the day the panorama was taken no flag flew.
constexpr double kPoleLeft = 453.0;
constexpr double kPoleWidth = 6.0;
constexpr double kPoleTop = 346.0;
constexpr int kPoleBase = 740;
// The houses across the street stand on this line.
constexpr int kStreetBase = 600;

struct Rgb {
    double r = 0.0;
    double g = 0.0;
    double b = 0.0;
};

Rgb operator*(Rgb c, double k) { return {c.r * k, c.g * k, c.b * k}; }

Rgb mix(Rgb a, Rgb b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

std::uint8_t to_byte(double v) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(v), 0L, 255L));
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// A repeatable number in [0, 1) for a lattice point.
double lattice_value(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 0x8da6b343u ^
                      static_cast<std::uint32_t>(y) * 0xd8163841u ^ seed * 0xcb1ab31fu;
    h ^= h >> 13;
    h *= 0x85ebca6bu;
    h ^= h >> 16;
    return static_cast<double>(h & 0xffffffu) / 16777216.0;
}

// Smooth noise in [0, 1) over square cells of `cell` pixels (a power of two),
// repeating across the panorama's width so that its two edges meet.
double value_noise(double x, double y, int cell, std::uint32_t seed) {
    const int period = kPanoramaWidth / cell;
    const double fx = x / cell;
    const double fy = y / cell;
    const int x0 = static_cast<int>(std::floor(fx));
    const int y0 = static_cast<int>(std::floor(fy));
    const double u = smoothstep(0.0, 1.0, fx - x0);
    const double v = smoothstep(0.0, 1.0, fy - y0);
    const auto at = [&](int cx, int cy) {
        return lattice_value(((cx % period) + period) % period, cy, seed);
    };
    const double top = at(x0, y0) + (at(x0 + 1, y0) - at(x0, y0)) * u;
    const double bottom = at(x0, y0 + 1) + (at(x0 + 1, y0 + 1) - at(x0, y0 + 1)) * u;
    return top + (bottom - top) * v;
}

// Noise with detail at several sizes, from `cell` down, in [0, 1).
double layered_noise(double x, double y, int cell, int layers, std::uint32_t seed) {
    double sum = 0.0;
    double total = 0.0;
    double weight = 1.0;
    for (int i = 0; i < layers && cell >= 1; ++i, cell /= 2, weight *= 0.5) {
        sum += weight * value_noise(x, y, cell, seed + static_cast<std::uint32_t>(i));
        total += weight;
    }
    return sum / total;
}

// Blue overhead, paler toward the horizon, with clouds.
Rgb sky(int x, int y) {
    const double height = 1.0 - static_cast<double>(y) / kHorizon;
    const Rgb blue = mix(Rgb{188, 210, 232}, Rgb{62, 112, 190}, std::pow(height, 0.6));
    const double cloud = smoothstep(0.52, 0.72, layered_noise(x, y * 2.0, 128, 4, 11));
    return mix(blue, Rgb{242, 243, 246}, 0.85 * cloud);
}

// Paving stones on the ground seen from eye height, lost in haze toward the
// horizon: laid on the ground plane, so they curve as a panorama shows them.
Rgb ground(int x, int y) {
    const double yaw = 2.0 * pi * (x + 0.5) / kPanoramaWidth;
    const double below_horizon = pi * (y + 0.5 - kHorizon) / kPanoramaHeight;
    const double distance = 1.6 / std::tan(below_horizon);
    const double across = distance * std::cos(yaw) / 0.6;  // in stones
    const double along = distance * std::sin(yaw) / 0.6;
    const double sx = across - std::floor(across);
    const double sy = along - std::floor(along);
    const double joint = std::min({sx, 1.0 - sx, sy, 1.0 - sy});
    const double stone = 0.9 + 0.2 * lattice_value(static_cast<int>(std::floor(across)),
                                                   static_cast<int>(std::floor(along)), 23);
    const Rgb paving = Rgb{132, 124, 112} * (stone * (0.7 + 0.3 * smoothstep(0.0, 0.05, joint)));
    return mix(Rgb{178, 180, 182}, paving, std::exp(-distance / 30.0));
}

// A house across the street: columns from the wall's right edge on, round
// the panorama to its left edge.
struct House {
    int left;
    int right;
    int top;
    Rgb colour;
};

std::vector<House> far_houses() {
    constexpr std::array<Rgb, 5> kColours{Rgb{196, 160, 120}, Rgb{170, 178, 160},
                                          Rgb{205, 190, 150}, Rgb{150, 120, 110},
                                          Rgb{185, 185, 190}};
    std::vector<House> houses;
    int left = kWallRight + 20;
    for (int i = 0; left < kWallLeft + kPanoramaWidth - 20; ++i) {
        const int width = 150 + static_cast<int>(110 * lattice_value(i, 0, 31));
        const int top = 330 + static_cast<int>(90 * lattice_value(i, 1, 31));
        const Rgb colour = kColours[static_cast<std::size_t>(i) % kColours.size()] *
                           (0.9 + 0.15 * lattice_value(i, 2, 31));
        houses.push_back(
            {left, std::min(left + width, kWallLeft + kPanoramaWidth - 20), top, colour});
        left += width + 8 + static_cast<int>(30 * lattice_value(i, 3, 31));
    }
    return houses;
}

// Plaster with rows of windows that mirror the sky, and dark eaves.
Rgb house_pixel(const House& house, int x, int y) {
    Rgb colour = house.colour * (0.94 + 0.08 * value_noise(x, y, 4, 41));
    const int column = (x - house.left - 10) / 28;
    const int in_column = (x - house.left - 10) % 28;
    const int in_row = (y - house.top - 14) % 38;
    const bool window = x - house.left >= 10 &&
                        (column + 1) * 28 <= house.right - house.left - 10 && y - house.top >= 14 &&
                        y < kStreetBase - 36 && in_column >= 8 && in_column < 20 && in_row >= 8 &&
                        in_row < 28;
    if (window) colour = mix(Rgb{70, 86, 104}, Rgb{150, 170, 190}, (in_row - 8) / 40.0);
    if (y < house.top + 6) colour = colour * 0.7;
    return colour;
}

// Stone blocks in running bond with soft joints, stained, under a cornice,
// lit from the left.
Rgb wall_pixel(int x, int y) {
    const double light = 1.0 - 0.38 * (x - kWallLeft) / static_cast<double>(kWallRight - kWallLeft);
    const double grain = 0.985 + 0.03 * value_noise(x, y, 4, 51);
    const int below_cornice = y - kWallTop - kCorniceHeight;
    if (below_cornice < 0) return Rgb{232, 224, 208} * (light * grain);
    const int row = below_cornice / 24;
    const double in_row = below_cornice - row * 24 + 0.5;
    const double along = x - kWallLeft + (row % 2) * 24 + 0.5;
    const int block = static_cast<int>(along / 48);
    const double in_block = along - block * 48;
    const double joint = std::min({in_row, 24.0 - in_row, in_block, 48.0 - in_block});
    const double tint = 0.96 + 0.08 * lattice_value(block, row, 53);
    const double stain = 0.93 + 0.14 * layered_noise(x, y, 64, 3, 57);
    const double shade = 0.84 + 0.16 * smoothstep(0.0, 5.0, joint);
    const double cornice_shadow = below_cornice < 6 ? 0.8 : 1.0;
    return Rgb{214, 199, 174} * (light * grain * tint * stain * shade * cornice_shadow);
}

// The flagpole: a metal tube lit from the left, with a gilt ball on top.
std::optional<Rgb> pole_pixel(int x, int y) {
    const double across = (x + 0.5 - kPoleLeft) / kPoleWidth;
    if (across >= 0.0 && across < 1.0 && y >= kPoleTop && y < kPoleBase) {
        return Rgb{160, 162, 168} * (0.55 + 0.6 * std::sin(pi * across * 0.8 + 0.2));
    }
    const double dx = x + 0.5 - (kPoleLeft + kPoleWidth / 2);
    const double dy = y + 0.5 - (kPoleTop - 4.0);
    const double off_centre = std::hypot(dx, dy) / 5.0;
    if (off_centre < 1.0) return Rgb{215, 185, 95} * (1.1 - 0.5 * off_centre - 0.04 * dx);
    return std::nullopt;
}

Frame demo_panorama() {
    const std::vector<House> houses = far_houses();
    Frame frame(kPanoramaWidth, kPanoramaHeight);
    for (int x = 0; x < kPanoramaWidth; ++x) {
        // The houses' columns run on past the right edge, round to the left.
        const int street_x = x < kWallLeft ? x + kPanoramaWidth : x;
        const House* house = nullptr;
        for (const House& h : houses) {
            if (street_x >= h.left && street_x < h.right) house = &h;
        }
        for (int y = 0; y < kPanoramaHeight; ++y) {
            Rgb colour;
            if (const std::optional<Rgb> pole = pole_pixel(x, y)) {
                colour = *pole;
            } else if (x >= kWallLeft && x < kWallRight && y >= kWallTop && y < kWallBase) {
                colour = wall_pixel(x, y);
            } else if (house != nullptr && y >= house->top && y < kStreetBase) {
                colour = house_pixel(*house, street_x, y);
            } else {
                colour = y < kHorizon ? sky(x, y) : ground(x, y);
            }
            std::uint8_t* p = frame.pixel(y, x);
            p[0] = to_byte(colour.b);
            p[1] = to_byte(colour.g);
            p[2] = to_byte(colour.r);
        }
    }
    return frame;
}

// The mesh that lays the clip's frame on the wall.
CorrectionGrid demo_mesh() {
    CorrectionGrid grid;
    const int half_width = kDemoClipWidth / 2;
    const int half_height = kDemoClipHeight / 2;
    for (int p = 0; p < kGridPointCount; ++p) {
        const int column = p % 3;
        const int row = p / 3;
        grid.area_x[p] = kAreaLeft + std::min(column * half_width, kDemoClipWidth - 1);
        grid.area_y[p] = kAreaTop + std::min(row * half_height, kDemoClipHeight - 1);
    }
    return grid;
}

// ------------------------------------------------------------ the clip

// Light as a plain 2.2 power of a picture's level.
double light_of(double level) { return std::pow(std::max(level, 0.0) / 255.0, 2.2); }

// The clip's camera differs from the panorama's: its exposure falls off
// toward the right of its frame, its white balance leaves a cool cast, its
// response is flatter with lifted blacks, and its sensor adds noise.
constexpr double kExposureFalloff = 0.4;                          // lost at the right edge
constexpr std::array<double, 3> kWhiteBalance{1.35, 0.95, 0.75};  // B, G, R
constexpr double kResponseGamma = 1.75;
constexpr double kBlackLift = 0.03;
constexpr double kNoiseLevels = 2.5;  // standard deviation

// The camera's level for light of one channel (bytes B, G, R) at column x,
// before noise.
double camera_level(double light, int x, int channel) {
    const double exposure = 1.0 - kExposureFalloff * x / (kDemoClipWidth - 1.0);
    const double exposed = std::min(light * exposure * kWhiteBalance[channel], 1.0);
    return 255.0 * (kBlackLift + (1.0 - kBlackLift) * std::pow(exposed, 1.0 / kResponseGamma));
}

// Sensor noise of one level: near-normal (the sum of four random bytes),
// from a generator each frame seeds afresh.
double sensor_noise(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    const int sum = static_cast<int>((state & 0xffu) + (state >> 8 & 0xffu) +
                                     (state >> 16 & 0xffu) + (state >> 24));
    return (sum - 510.0) * (kNoiseLevels / 147.8);
}

// The light of every frame pixel (B, G, R per pixel, rows from the top):
// the panorama where the mesh puts the pixel, sampled bilinearly.
std::vector<double> wall_light(const Frame& panorama, const CorrectionGrid& mesh) {
    std::vector<double> light(static_cast<std::size_t>(kDemoClipWidth) * kDemoClipHeight * 3);
    for (int y = 0; y < kDemoClipHeight; ++y) {
        for (int x = 0; x < kDemoClipWidth; ++x) {
            const BackgroundPoint at = mesh.map_to_background(x / (kDemoClipWidth - 1.0),
                                                              y / (kDemoClipHeight - 1.0), 1.0);
            const double bx = std::clamp(at.x, 0.0, panorama.width() - 1.0);
            const double by = std::clamp(at.y, 0.0, panorama.height() - 1.0);
            const int x0 = static_cast<int>(bx);
            const int y0 = static_cast<int>(by);
            const int x1 = std::min(x0 + 1, panorama.width() - 1);
            const int y1 = std::min(y0 + 1, panorama.height() - 1);
            const double fx = bx - x0;
            const double fy = by - y0;
            for (int c = 0; c < 3; ++c) {
                const double top = panorama.pixel(y0, x0)[c] +
                                   (panorama.pixel(y0, x1)[c] - panorama.pixel(y0, x0)[c]) * fx;
                const double bottom = panorama.pixel(y1, x0)[c] +
                                      (panorama.pixel(y1, x1)[c] - panorama.pixel(y1, x0)[c]) * fx;
                light[(static_cast<std::size_t>(y) * kDemoClipWidth + x) * 3 + c] =
                    light_of(top + (bottom - top) * fy);
            }
        }
    }
    return light;
}

// The flag, in frame pixels: hoisted beside the pole, waving in the wind.
constexpr double kFlagHoist = 403.0;
constexpr double kFlagTop = 26.0;
constexpr double kFlagHeight = 92.0;
constexpr double kFlagLength = 180.0;
constexpr double kFlagWave = 95.0;       // pixels from crest to crest
constexpr double kFlagAmplitude = 14.0;  // at the fly end
constexpr double kFlagBeats = 1.4;       // waves a second

// The flag's colour at u along it (0 at the pole) and v down it (0..1):
// orange with a blue band at the pole and a white disc.
Rgb flag_colour(double u, double v, double length) {
    if (u < 0.22) return Rgb{28, 56, 140};
    const double dx = (u - 0.6) * length;
    const double dy = (v - 0.5) * kFlagHeight;
    if (dx * dx + dy * dy < 0.22 * kFlagHeight * 0.22 * kFlagHeight) return Rgb{240, 238, 230};
    return Rgb{236, 122, 36};
}

// Draws the flag of frame `index` into the light: each pixel takes the share
// of it the flag covers.
void draw_flag(std::vector<double>& light, int index) {
    const double phase = 2.0 * pi * kFlagBeats * index * 1001.0 / 30000.0;
    const double length = kFlagLength * (0.95 + 0.05 * std::sin(phase * 0.6));
    for (int y = kDemoFlagReach.top; y < kDemoFlagReach.bottom; ++y) {
        for (int x = kDemoFlagReach.left; x < kDemoFlagReach.right; ++x) {
            const double along = x + 0.5 - kFlagHoist;
            const double across =
                std::min(x + 1.0, kFlagHoist + length) - std::max(x * 1.0, kFlagHoist);
            if (across <= 0.0) continue;
            const double wave = 2.0 * pi * along / kFlagWave - phase;
            const double lift =
                kFlagAmplitude * std::max(along, 0.0) / kFlagLength * std::sin(wave);
            const double top = kFlagTop + lift;
            const double bottom = kFlagTop + kFlagHeight + 0.85 * lift;
            const double down = std::min(y + 1.0, bottom) - std::max(y * 1.0, top);
            if (down <= 0.0) continue;
            const double cover = std::min(across, 1.0) * std::min(down, 1.0);
            const Rgb colour =
                flag_colour(along / length, (y + 0.5 - top) / (bottom - top), length) *
                (0.72 + 0.28 * std::cos(wave));
            double* pixel = &light[(static_cast<std::size_t>(y) * kDemoClipWidth + x) * 3];
            const std::array<double, 3> flag{light_of(colour.b), light_of(colour.g),
                                             light_of(colour.r)};
            for (int c = 0; c < 3; ++c) pixel[c] += (flag[c] - pixel[c]) * cover;
        }
    }
}

// Frame `index` as the clip's camera took it, its bytes B, G, R packed row
// after row: the wall's levels (the same in every frame), the flag, noise.
std::string camera_frame(const std::vector<double>& wall, const std::vector<double>& wall_levels,
                         int index) {
    std::vector<double> light(wall.begin(), wall.end());
    draw_flag(light, index);
    std::string bytes(light.size(), '\0');
    std::uint32_t noise_state = 0x9e3779b9u * static_cast<std::uint32_t>(index + 1);
    const auto in_flag_reach = [](int x, int y) {
        return x >= kDemoFlagReach.left && x < kDemoFlagReach.right && y >= kDemoFlagReach.top &&
               y < kDemoFlagReach.bottom;
    };
    for (int y = 0; y < kDemoClipHeight; ++y) {
        for (int x = 0; x < kDemoClipWidth; ++x) {
            const std::size_t at = (static_cast<std::size_t>(y) * kDemoClipWidth + x) * 3;
            for (int c = 0; c < 3; ++c) {
                const double level =
                    in_flag_reach(x, y) ? camera_level(light[at + c], x, c) : wall_levels[at + c];
                bytes[at + c] = static_cast<char>(to_byte(level + sensor_noise(noise_state)));
            }
        }
    }
    return bytes;
}

// The encoder reading raw frames from its input, with a soft wind from its
// noise source as the sound.
Command clip_command(const fs::path& ffmpeg, const fs::path& clip) {
    const std::string seconds = std::to_string(kDemoFrameCount * 1001.0 / 30000.0);
    const std::string size = std::to_string(kDemoClipWidth) + "x" + std::to_string(kDemoClipHeight);
    return {
        ffmpeg,
        {"-nostdin",   "-y",
         "-f",         "rawvideo",
         "-pix_fmt",   "bgr24",
         "-s",         size,
         "-framerate", "30000/1001",
         "-i",         "-",
         "-f",         "lavfi",
         "-i",         "anoisesrc=color=brown:amplitude=0.12:sample_rate=48000:duration=" + seconds,
         "-shortest",  "-c:v",
         "libx264",    "-preset",
         "fast",       "-crf",
         "18",         "-pix_fmt",
         "yuv420p",    "-c:a",
         "aac",        "-b:a",
         "96k",        path_argument(clip)},
        {}};
}

// Makes the clip of the wall from the panorama as loaded.
Status make_demo_clip(const Frame& panorama, const CorrectionGrid& mesh, const fs::path& ffmpeg,
                      const fs::path& clip, const KeepRunning& keep_running) {
    const std::vector<double> wall = wall_light(panorama, mesh);
    std::vector<double> wall_levels(wall.size());
    for (std::size_t i = 0; i < wall.size(); ++i) {
        const int x = static_cast<int>(i / 3 % kDemoClipWidth);
        wall_levels[i] = camera_level(wall[i], x, static_cast<int>(i % 3));
    }
    const Command command = clip_command(ffmpeg, clip);
    CommandFeed encoder(command);
    CommandFeed::Fed fed = CommandFeed::Fed::All;
    for (int index = 0; index < kDemoFrameCount && fed == CommandFeed::Fed::All; ++index) {
        fed = encoder.write(camera_frame(wall, wall_levels, index), keep_running);
    }
    if (fed == CommandFeed::Fed::Stopped) {
        encoder.stop();
        return Error{"Stopped."};
    }
    const CommandResult made = encoder.finish(keep_running);
    if (!made.succeeded() || fed != CommandFeed::Fed::All) {
        return Error{"Cannot make the demo clip with \"" + ffmpeg.string() +
                     "\": " + made.last_error_line()};
    }
    return {};
}

}  // namespace

Result<fs::path> make_demo_project(const fs::path& folder, const fs::path& ffmpeg,
                                   const KeepRunning& keep_running) {
    std::error_code error;
    fs::create_directories(folder, error);
    if (error) return Error{"Cannot create \"" + folder.string() + "\": " + error.message()};
    const fs::path absolute = fs::absolute(folder, error).lexically_normal();
    const fs::path panorama = absolute / "panorama.jpg";
    const fs::path clip = absolute / "clip.mp4";
    const fs::path project = absolute / "demo.project";

    if (Status saved = save_jpeg(demo_panorama(), panorama); !saved) return Error{saved.error()};
    Composition composition;
    if (Status opened = composition.open_background(panorama); !opened) {
        return Error{opened.error()};
    }
    // The clip is made from the panorama as the program loads it, JPEG's
    // losses and all, so that it shows exactly what lies under the mesh.
    const Result<Frame> loaded = load_jpeg(panorama);
    if (!loaded) return Error{loaded.error()};
    CorrectionGrid grid = demo_mesh();
    if (Status made = make_demo_clip(loaded.value(), grid, ffmpeg, clip, keep_running); !made) {
        return Error{made.error()};
    }

    composition.choices.scale_index = 4;  // "67%": the wall and the street around it in view
    // Not matched yet, ready to be matched a curve per channel.
    set_correction_mode(grid, CorrectionMode::Colour);
    grid.cur_point = 0;

    AppSettings settings;
    VideoWorkspace workspace(settings);
    VideoSession& session = workspace.session();
    session.clip_path = clip;
    session.track_position = 1;
    VideoParameters& parameters = workspace.parameters();
    parameters.text(ParameterField::StartFrame) = "1";
    parameters.text(ParameterField::StopFrame) = std::to_string(kDemoFrameCount);
    parameters.text(ParameterField::OutputFps) = "29.97";
    parameters.text(ParameterField::Volume) = "255";
    if (Status saved = save_project(project, composition, grid, workspace); !saved) {
        return Error{saved.error()};
    }
    return project;
}

}  // namespace tintora
