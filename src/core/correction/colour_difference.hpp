#pragma once

#include <cstdint>

namespace tintora {

// Colour as people see it: 8-bit sRGB turned into CIELAB under the D65
// white, and the CIEDE2000 difference of two such colours (1 is about the
// smallest difference an observer notices side by side).

struct LabColour {
    double L = 0.0;
    double a = 0.0;
    double b = 0.0;
};

// The linear light of an 8-bit sRGB channel value (0..1), by the sRGB
// transfer function.
double srgb_to_linear(std::uint8_t value);

// CIE XYZ (D65, Y of white 1) to CIELAB relative to the D65 white.
LabColour lab_from_xyz(double x, double y, double z);

// An 8-bit sRGB colour in CIELAB: linear light, XYZ by the sRGB primaries,
// then Lab. Its linearisation is looked up, so a whole picture converts
// quickly; the result is the formula's to the last bit.
LabColour lab_from_srgb(std::uint8_t r, std::uint8_t g, std::uint8_t b);

// CIEDE2000 with the parametric factors kL = kC = kH = 1.
double delta_e_2000(const LabColour& first, const LabColour& second);

}  // namespace tintora
