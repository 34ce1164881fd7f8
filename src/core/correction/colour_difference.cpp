#include "core/correction/colour_difference.hpp"

#include <array>
#include <cmath>
#include <numbers>

namespace tintora {
namespace {

constexpr double kPi = std::numbers::pi;

double degrees(double radians) { return radians * 180.0 / kPi; }
double radians(double degrees) { return degrees * kPi / 180.0; }

// The D65 white of the sRGB primaries below.
constexpr double kWhiteX = 0.95047;
constexpr double kWhiteY = 1.0;
constexpr double kWhiteZ = 1.08883;

// CIELAB's companding: a cube root, a straight line near black.
double lab_f(double t) {
    constexpr double delta = 6.0 / 29.0;
    return t > delta * delta * delta ? std::cbrt(t) : t / (3.0 * delta * delta) + 4.0 / 29.0;
}

std::array<double, 256> linear_table() {
    std::array<double, 256> table{};
    for (int v = 0; v < 256; ++v) {
        const double c = v / 255.0;
        table[static_cast<std::size_t>(v)] =
            c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return table;
}

const std::array<double, 256>& linear_values() {
    static const std::array<double, 256> table = linear_table();
    return table;
}

// A hue angle in degrees, 0..360; 0 for a grey.
double hue_angle(double b, double a) {
    if (a == 0.0 && b == 0.0) return 0.0;
    const double h = degrees(std::atan2(b, a));
    return h < 0.0 ? h + 360.0 : h;
}

double pow7(double x) {
    const double x2 = x * x;
    return x2 * x2 * x2 * x;
}

}  // namespace

double srgb_to_linear(std::uint8_t value) { return linear_values()[value]; }

LabColour lab_from_xyz(double x, double y, double z) {
    const double fx = lab_f(x / kWhiteX);
    const double fy = lab_f(y / kWhiteY);
    const double fz = lab_f(z / kWhiteZ);
    return {116.0 * fy - 16.0, 500.0 * (fx - fy), 200.0 * (fy - fz)};
}

LabColour lab_from_srgb(std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    const std::array<double, 256>& linear = linear_values();
    const double lr = linear[r];
    const double lg = linear[g];
    const double lb = linear[b];
    return lab_from_xyz(0.4124564 * lr + 0.3575761 * lg + 0.1804375 * lb,
                        0.2126729 * lr + 0.7151522 * lg + 0.0721750 * lb,
                        0.0193339 * lr + 0.1191920 * lg + 0.9503041 * lb);
}

double delta_e_2000(const LabColour& first, const LabColour& second) {
    constexpr double k25to7 = 6103515625.0;  // 25^7
    const double c1 = std::hypot(first.a, first.b);
    const double c2 = std::hypot(second.a, second.b);
    const double mean_c7 = pow7((c1 + c2) / 2.0);
    // a* stretched for near-neutral colours, where it was too weak.
    const double g = 0.5 * (1.0 - std::sqrt(mean_c7 / (mean_c7 + k25to7)));
    const double a1 = (1.0 + g) * first.a;
    const double a2 = (1.0 + g) * second.a;
    const double cp1 = std::hypot(a1, first.b);
    const double cp2 = std::hypot(a2, second.b);
    const double h1 = hue_angle(first.b, a1);
    const double h2 = hue_angle(second.b, a2);
    const bool neutral = cp1 * cp2 == 0.0;

    const double delta_l = second.L - first.L;
    const double delta_c = cp2 - cp1;
    double delta_h = 0.0;
    if (!neutral) {
        delta_h = h2 - h1;
        if (delta_h > 180.0) {
            delta_h -= 360.0;
        } else if (delta_h < -180.0) {
            delta_h += 360.0;
        }
    }
    const double delta_big_h = 2.0 * std::sqrt(cp1 * cp2) * std::sin(radians(delta_h) / 2.0);

    const double mean_l = (first.L + second.L) / 2.0;
    const double mean_cp = (cp1 + cp2) / 2.0;
    // The mean hue, taken the short way round the circle.
    double mean_h = h1 + h2;
    if (!neutral) {
        if (std::abs(h1 - h2) <= 180.0) {
            mean_h = (h1 + h2) / 2.0;
        } else if (h1 + h2 < 360.0) {
            mean_h = (h1 + h2 + 360.0) / 2.0;
        } else {
            mean_h = (h1 + h2 - 360.0) / 2.0;
        }
    }
    const double t = 1.0 - 0.17 * std::cos(radians(mean_h - 30.0)) +
                     0.24 * std::cos(radians(2.0 * mean_h)) +
                     0.32 * std::cos(radians(3.0 * mean_h + 6.0)) -
                     0.20 * std::cos(radians(4.0 * mean_h - 63.0));
    const double rotation_angle = 30.0 * std::exp(-std::pow((mean_h - 275.0) / 25.0, 2.0));
    const double mean_cp7 = pow7(mean_cp);
    const double rc = 2.0 * std::sqrt(mean_cp7 / (mean_cp7 + k25to7));
    const double lightness_offset = (mean_l - 50.0) * (mean_l - 50.0);
    const double sl = 1.0 + 0.015 * lightness_offset / std::sqrt(20.0 + lightness_offset);
    const double sc = 1.0 + 0.045 * mean_cp;
    const double sh = 1.0 + 0.015 * mean_cp * t;
    const double rt = -std::sin(radians(2.0 * rotation_angle)) * rc;

    const double dl = delta_l / sl;
    const double dc = delta_c / sc;
    const double dh = delta_big_h / sh;
    return std::sqrt(dl * dl + dc * dc + dh * dh + rt * dc * dh);
}

}  // namespace tintora
