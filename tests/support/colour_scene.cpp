#include "support/colour_scene.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>

#include "core/composition/colour_matching.hpp"
#include "core/correction/colour_difference.hpp"

namespace tintora::test {
namespace {

// Reflectance of the place at background pixel (x, y), channel c (0 red,
// 1 green, 2 blue): soft waves with a colour of their own per channel, and
// on every other tile of a checkerboard a flat patch with sharp edges.
double reflectance(int x, int y, int c) {
    const double wave = 0.45 + 0.22 * std::sin(x / (19.0 + 4 * c)) * std::sin(y / (15.0 + 3 * c)) +
                        0.12 * std::sin((x + 2 * y) / (37.0 - 5 * c));
    const int tile_x = x / 53;
    const int tile_y = y / 41;
    if ((tile_x + tile_y) % 2 == 0 && (tile_x * 7 + tile_y * 3) % 5 < 2) {
        return 0.15 + 0.7 * ((tile_x * 37 + tile_y * 11 + c * 29) % 97) / 97.0;
    }
    return std::clamp(wave, 0.05, 0.95);
}

std::uint8_t to_byte(double value) {
    return static_cast<std::uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

// Where the frame lies: it covers 0.8 of its size (even numbers of pixels)
// from (left, top), in the middle of a background twice as large, and the
// mesh's area points say so.
struct SceneLayout {
    int covered_width = 0;
    int covered_height = 0;
    int background_width = 0;
    int background_height = 0;
    int left = 0;
    int top = 0;
    CorrectionGrid grid;
};

SceneLayout scene_layout(int frame_width, int frame_height) {
    SceneLayout layout;
    layout.covered_width = (frame_width * 4 / 5) / 2 * 2;
    layout.covered_height = (frame_height * 4 / 5) / 2 * 2;
    layout.background_width = 2 * frame_width;
    layout.background_height = 2 * frame_height;
    layout.left = (layout.background_width - layout.covered_width) / 2;
    layout.top = (layout.background_height - layout.covered_height) / 2;
    for (int p = 0; p < kGridPointCount; ++p) {
        layout.grid.area_x[p] = layout.left + layout.covered_width / 2 * (p % 3);
        layout.grid.area_y[p] = layout.top + layout.covered_height / 2 * (p / 3);
    }
    return layout;
}

}  // namespace

ColourScene make_colour_scene(int frame_width, int frame_height, std::uint32_t seed) {
    ColourScene scene;
    const SceneLayout layout = scene_layout(frame_width, frame_height);
    scene.grid = layout.grid;
    const int background_width = layout.background_width;
    const int background_height = layout.background_height;

    // The background's camera: a gamma of 2.2, under light that grows from
    // 0.35 to 1.15 left to right and turns from cool to warm.
    scene.background = Frame(background_width, background_height);
    for (int y = 0; y < background_height; ++y) {
        for (int x = 0; x < background_width; ++x) {
            const double across = static_cast<double>(x) / background_width;
            const double light = 0.35 + 0.8 * across;
            const double tint[3] = {0.7 + 0.6 * across, 1.0, 1.3 - 0.6 * across};
            std::uint8_t* pixel = scene.background.pixel(y, x);
            for (int c = 0; c < 3; ++c) {
                const double exposure = reflectance(x, y, c) * light * tint[c];
                pixel[2 - c] = to_byte(255.0 * std::pow(exposure, 1 / 2.2));
            }
        }
    }

    // The clip's camera: evenly and more dimly lit, bluer, a gamma of 1.7
    // and noise of two levels.
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    const double balance[3] = {0.85, 1.0, 1.25};
    scene.frame = Frame(frame_width, frame_height);
    for (int y = 0; y < frame_height; ++y) {
        for (int x = 0; x < frame_width; ++x) {
            // The place the mesh puts the pixel on, as the correction sees it.
            const BackgroundPoint at = scene.grid.map_to_background(x / (frame_width - 1.0),
                                                                    y / (frame_height - 1.0), 1.0);
            std::uint8_t* pixel = scene.frame.pixel(y, x);
            for (int c = 0; c < 3; ++c) {
                const double exposure =
                    std::min(reflectance(static_cast<int>(at.x), static_cast<int>(at.y), c) * 0.7 *
                                 balance[c],
                             1.0);
                pixel[2 - c] = to_byte(255.0 * std::pow(exposure, 1 / 1.7) + noise(random));
            }
        }
    }
    return scene;
}

Frame background_under_frame(const ColourScene& scene) {
    const Frame& frame = scene.frame;
    Frame under(frame.width(), frame.height());
    for (int y = 0; y < frame.height(); ++y) {
        for (int x = 0; x < frame.width(); ++x) {
            const BackgroundPoint at = scene.grid.map_to_background(
                x / (frame.width() - 1.0), y / (frame.height() - 1.0), 1.0);
            const std::uint8_t* from =
                scene.background.pixel(static_cast<int>(at.y), static_cast<int>(at.x));
            std::copy(from, from + 3, under.pixel(y, x));
        }
    }
    return under;
}

double mean_absolute_difference(const Frame& a, const Frame& b) {
    double sum = 0.0;
    for (int y = 0; y < a.height(); ++y) {
        for (int i = 0; i < 3 * a.width(); ++i) sum += std::abs(a.row(y)[i] - b.row(y)[i]);
    }
    return sum / (3.0 * a.width() * a.height());
}

namespace {

// The clip's place, per background pixel: linear reflectance of red, green
// and blue.
struct Reflectance {
    double c[3];
};

// Smooth noise in 0..1: a smoothstep blend of hashed values on a lattice of
// `cell` pixels.
double lattice_value(int x, int y, std::uint32_t salt) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + salt * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    h ^= h >> 16;
    return (h & 0xFFFFFFu) / static_cast<double>(0xFFFFFFu);
}

double smooth_noise(double x, double y, double cell, std::uint32_t salt) {
    const double fx = x / cell;
    const double fy = y / cell;
    const int ix = static_cast<int>(std::floor(fx));
    const int iy = static_cast<int>(std::floor(fy));
    const auto ease = [](double t) { return t * t * (3.0 - 2.0 * t); };
    const double u = ease(fx - ix);
    const double w = ease(fy - iy);
    const double top = lattice_value(ix, iy, salt) +
                       u * (lattice_value(ix + 1, iy, salt) - lattice_value(ix, iy, salt));
    const double bottom =
        lattice_value(ix, iy + 1, salt) +
        u * (lattice_value(ix + 1, iy + 1, salt) - lattice_value(ix, iy + 1, salt));
    return top + w * (bottom - top);
}

double mix(double a, double b, double t) { return a + (b - a) * t; }

// A rectangle of the mesh's area, in fractions of it.
struct Patch {
    double left, top, right, bottom;
    Reflectance colour;
    bool holds(double s, double t) const {
        return s >= left && s < right && t >= top && t < bottom;
    }
};

// The place at background pixel (x, y); (s, t) is its place in the mesh's
// area, 0..1 across and down.
Reflectance place_reflectance(int x, int y, double s, double t, std::uint32_t salt) {
    if (t < 0.3) {
        // Sky, paler toward the horizon, with clouds that reach white.
        const double up = std::clamp((0.3 - t) / 0.8, 0.0, 1.0);
        Reflectance sky{{mix(0.78, 0.45, up), mix(0.86, 0.62, up), mix(0.98, 0.95, up)}};
        const double cloud = 0.6 * smooth_noise(x, y, 23.0, salt) +
                             0.4 * smooth_noise(x, y, 9.0, salt + 1);
        const double amount = std::clamp((cloud - 0.5) * 4.0, 0.0, 1.0);
        for (double& c : sky.c) c = mix(c, 1.02, amount);
        return sky;
    }
    static const Patch patches[] = {
        {0.12, 0.55, 0.32, 0.8, {{0.72, 0.07, 0.05}}},   // saturated red
        {0.62, 0.40, 0.85, 0.62, {{0.06, 0.14, 0.70}}},  // saturated blue
        {0.40, 0.75, 0.55, 0.95, {{0.10, 0.28, 0.05}}},  // dark green bush
    };
    // Fine texture, a few pixels across, as grass has.
    const double fine = 0.6 * smooth_noise(x, y, 2.5, salt + 2) +
                        0.4 * smooth_noise(x, y, 6.0, salt + 3);
    for (const Patch& patch : patches) {
        if (!patch.holds(s, t)) continue;
        Reflectance r = patch.colour;
        for (double& c : r.c) c *= mix(0.85, 1.15, fine);
        return r;
    }
    // Flowers: in some cells of a 14-pixel lattice a small red or blue disc.
    const int cell_x = static_cast<int>(std::floor(x / 14.0));
    const int cell_y = static_cast<int>(std::floor(y / 14.0));
    if (lattice_value(cell_x, cell_y, salt + 5) < 0.3) {
        const double centre_x =
            (cell_x + 0.25 + 0.5 * lattice_value(cell_x, cell_y, salt + 6)) * 14.0;
        const double centre_y =
            (cell_y + 0.25 + 0.5 * lattice_value(cell_x, cell_y, salt + 7)) * 14.0;
        if (std::hypot(x - centre_x, y - centre_y) < 3.5) {
            return lattice_value(cell_x, cell_y, salt + 8) < 0.5 ? Reflectance{{0.75, 0.08, 0.1}}
                                                                 : Reflectance{{0.12, 0.18, 0.8}};
        }
    }
    // Golden grass, turning yellow-green in places, its blades light and
    // dark.
    const double texture = mix(0.5, 1.5, fine);
    const double greener = std::clamp((smooth_noise(x, y, 31.0, salt + 4) - 0.4) * 2.0, 0.0, 1.0);
    Reflectance grass{{mix(0.55, 0.36, greener), mix(0.42, 0.46, greener),
                       mix(0.07, 0.06, greener)}};
    for (double& c : grass.c) c *= texture;
    return grass;
}

// What a camera records of an exposure (linear light) through its response.
std::uint8_t record(double exposure, double gamma) {
    return to_byte(255.0 * std::pow(std::clamp(exposure, 0.0, 1.0), 1.0 / gamma));
}

}  // namespace

ColourClip make_colour_clip(const ColourClipOptions& options) {
    ColourClip clip;
    const int width = options.width;
    const int height = options.height;
    // Laid out as the one-frame scene.
    const SceneLayout layout = scene_layout(width, height);
    clip.grid = layout.grid;
    const int background_width = layout.background_width;
    const int background_height = layout.background_height;
    const int left = layout.left;
    const int top = layout.top;
    const int covered_width = layout.covered_width;
    const int covered_height = layout.covered_height;
    const std::uint32_t salt = options.seed * 7919u;
    const auto reflectance = [&](int x, int y) {
        return place_reflectance(x, y, static_cast<double>(x - left) / covered_width,
                                 static_cast<double>(y - top) / covered_height, salt);
    };
    // The light on the place when the background was taken: bright and warm
    // on the left, shaded and cool on the right.
    const auto light = [&](int x, int y, int c) {
        if (y < top + 0.3 * covered_height) return 1.0;  // the sky is its own light
        const double across = std::clamp(static_cast<double>(x - left) / covered_width, -0.2, 1.2);
        const double warm[3] = {1.08, 1.0, 0.82};
        const double cool[3] = {0.85, 0.98, 1.18};
        return mix(1.05, 0.45, across) * mix(warm[c], cool[c], across);
    };

    // The background's camera: a gamma of 2.2.
    clip.background = Frame(background_width, background_height);
    for (int y = 0; y < background_height; ++y) {
        for (int x = 0; x < background_width; ++x) {
            const Reflectance r = reflectance(x, y);
            std::uint8_t* pixel = clip.background.pixel(y, x);
            for (int c = 0; c < 3; ++c) pixel[2 - c] = record(r.c[c] * light(x, y, c), 2.2);
        }
    }

    // The clip's camera: bluer, another cast from its left to its right, a
    // veil of haze, a soft shoulder toward white, a gamma of 1.8 and noise.
    std::mt19937 random(options.seed);
    std::normal_distribution<double> noise(0.0, 2.0);
    const double balance[3] = {0.78, 1.0, 1.3};
    const int count = std::max(options.frame_count, 1);
    for (int f = 0; f < count; ++f) {
        const double along = count > 1 ? static_cast<double>(f) / (count - 1) : 0.0;
        // Frame pixels are 0.8 background pixels.
        const BackgroundPoint drift{0.8 * options.pan_x * along, 0.8 * options.pan_y * along};
        // The camera's exposure and white balance of this frame (red, green, blue).
        const double swing = 2.0 * along - 1.0;
        const double exposure_of_frame = 1.0 + options.exposure_ramp * swing;
        const double light_of_frame[3] = {exposure_of_frame * (1.0 - options.white_drift * swing),
                                          exposure_of_frame,
                                          exposure_of_frame * (1.0 + options.white_drift * swing)};
        // The moving object: a box crossing the frame.
        const int object_left = static_cast<int>(width * mix(0.1, 0.75, along));
        const int object_top = static_cast<int>(height * 0.45);
        const int object_right = object_left + width * 14 / 100;
        const int object_bottom = object_top + height * 22 / 100;
        Frame frame(width, height);
        Frame under(width, height);
        std::vector<std::uint8_t> still(static_cast<std::size_t>(width) * height, 1);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const BackgroundPoint at =
                    clip.grid.map_to_background(x / (width - 1.0), y / (height - 1.0), 1.0);
                const int bx = static_cast<int>(std::floor(at.x + drift.x));
                const int by = static_cast<int>(std::floor(at.y + drift.y));
                std::copy(clip.background.pixel(by, bx), clip.background.pixel(by, bx) + 3,
                          under.pixel(y, x));
                Reflectance r = reflectance(bx, by);
                // The clip was filmed under a higher, more even light.
                const bool sky = by < top + 0.3 * covered_height;
                const double across_place = static_cast<double>(bx - left) / covered_width;
                const double lit = sky ? 1.0 : mix(0.9, 0.7, across_place);
                const bool on_object = options.moving_object && x >= object_left &&
                                       x < object_right && y >= object_top && y < object_bottom;
                if (on_object) {
                    const double shade = 0.8 + 0.4 * smooth_noise(x, y, 4.0, salt + 9);
                    r = {{0.33 * shade, 0.28 * shade, 0.45 * shade}};
                    still[static_cast<std::size_t>(y) * width + x] = 0;
                }
                const double across = x / (width - 1.0);
                const double cast[3] = {mix(0.9, 1.08, across), 1.0, mix(1.1, 0.92, across)};
                std::uint8_t* pixel = frame.pixel(y, x);
                for (int c = 0; c < 3; ++c) {
                    const double exposure =
                        (0.8 * r.c[c] * lit * balance[c] * cast[c] + 0.1) * light_of_frame[c];
                    const double shouldered = 1.25 * exposure / (1.0 + 0.25 * exposure);
                    pixel[2 - c] =
                        to_byte(255.0 * std::pow(std::clamp(shouldered, 0.0, 1.0), 1.0 / 1.8) +
                                noise(random));
                }
            }
        }
        clip.frames.push_back(std::move(frame));
        clip.under.push_back(std::move(under));
        clip.still.push_back(std::move(still));
        clip.drift.push_back(drift);
    }
    return clip;
}

ColourClip clip_of(const ColourScene& scene) {
    ColourClip clip;
    clip.background = scene.background;
    clip.grid = scene.grid;
    clip.frames = {scene.frame};
    clip.under = {background_under_frame(scene)};
    clip.drift = {BackgroundPoint{}};
    clip.still = {std::vector<std::uint8_t>(
        static_cast<std::size_t>(scene.frame.width()) * scene.frame.height(), 1)};
    return clip;
}

namespace {

bool counts(const std::vector<std::uint8_t>& mask, int width, int y, int x) {
    return mask.empty() || mask[static_cast<std::size_t>(y) * width + x] != 0;
}

}  // namespace

double mean_delta_e(const Frame& a, const Frame& b, const std::vector<std::uint8_t>& mask) {
    double sum = 0.0;
    std::int64_t pixels = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            if (!counts(mask, a.width(), y, x)) continue;
            const std::uint8_t* p = a.pixel(y, x);
            const std::uint8_t* q = b.pixel(y, x);
            sum += delta_e_2000(lab_from_srgb(p[2], p[1], p[0]), lab_from_srgb(q[2], q[1], q[0]));
            ++pixels;
        }
    }
    return pixels > 0 ? sum / pixels : 0.0;
}

ColourErrors colour_errors(const ColourClip& clip, const std::vector<Frame>& corrected) {
    ColourErrors errors;
    errors.best_frame = 1e9;
    double sum = 0.0;
    for (std::size_t f = 0; f < corrected.size(); ++f) {
        const double frame_error = mean_delta_e(corrected[f], clip.under[f], clip.still[f]);
        sum += frame_error;
        errors.worst_frame = std::max(errors.worst_frame, frame_error);
        errors.best_frame = std::min(errors.best_frame, frame_error);
    }
    // The frames hold nearly the same number of static pixels.
    errors.mean = corrected.empty() ? 0.0 : sum / static_cast<double>(corrected.size());
    return errors;
}

double local_spread(const Frame& frame, int byte, const std::vector<std::uint8_t>& mask) {
    constexpr int kRadius = 2;
    const int width = frame.width();
    double sum = 0.0;
    double sum_squares = 0.0;
    std::int64_t count = 0;
    for (int y = kRadius; y < frame.height() - kRadius; ++y) {
        for (int x = kRadius; x < width - kRadius; ++x) {
            double box = 0.0;
            bool still = true;
            for (int dy = -kRadius; dy <= kRadius; ++dy) {
                for (int dx = -kRadius; dx <= kRadius; ++dx) {
                    still = still && counts(mask, width, y + dy, x + dx);
                    box += frame.pixel(y + dy, x + dx)[byte];
                }
            }
            if (!still) continue;
            const double detail = frame.pixel(y, x)[byte] - box / 25.0;
            sum += detail;
            sum_squares += detail * detail;
            ++count;
        }
    }
    if (count == 0) return 0.0;
    const double mean = sum / count;
    return std::sqrt(std::max(sum_squares / count - mean * mean, 0.0));
}

Frame best_global_curves(const Frame& frame, const Frame& under,
                         const std::vector<std::uint8_t>& mask) {
    Frame global = frame;
    for (int byte = 0; byte < 3; ++byte) {
        CurveSamples seen;
        for (int y = 0; y < under.height(); ++y) {
            for (int x = 0; x < under.width(); ++x) {
                if (!counts(mask, frame.width(), y, x)) continue;
                seen.add(frame.pixel(y, x)[byte], under.pixel(y, x)[byte], 1.0);
            }
        }
        int lookup[kIntensityCount];
        for (int v = 0; v < kIntensityCount; ++v) lookup[v] = v;
        for (const LevelValue& level : level_medians(seen)) {
            lookup[level.video] = static_cast<int>(level.value);
        }
        for (int y = 0; y < global.height(); ++y) {
            for (int x = 0; x < global.width(); ++x) {
                std::uint8_t& value = global.pixel(y, x)[byte];
                value = static_cast<std::uint8_t>(lookup[value]);
            }
        }
    }
    return global;
}

}  // namespace tintora::test
