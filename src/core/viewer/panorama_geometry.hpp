#pragma once

#include <optional>

#include "core/composition/panorama_choices.hpp"

namespace tintora {

// Directions of the viewer's sphere: x to the right, y up, z ahead; yaw
// (degrees) grows to the right, pitch upward. A direction of yaw h and pitch
// p is (cos p sin h, sin p, cos p cos h).
struct Vec3 {
    double x = 0;
    double y = 0;
    double z = 0;
};

inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.x + b.x, a.y + b.y, a.z + b.z}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
inline Vec3 operator*(double s, Vec3 a) { return {s * a.x, s * a.y, s * a.z}; }
inline double dot(Vec3 a, Vec3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
// The vector scaled to length 1; a zero vector stays zero.
Vec3 normalised(Vec3 v);

struct Angles {
    double yaw = 0;    // degrees, to the right
    double pitch = 0;  // degrees, upward
};

Vec3 direction_of(Angles angles);
// Yaw in -180..180, pitch in -90..90.
Angles angles_of(Vec3 direction);

// The background as an equirectangular picture: its size as loaded, the
// angles it spans and the direction of its centre. Column x (centre at
// x + 0.5) of a W-wide picture has yaw ((x + 0.5) / W - 0.5) * hfov + yaw;
// row y has pitch (0.5 - (y + 0.5) / H) * vfov + pitch.
struct PanoramaGeometry {
    int width = 0;
    int height = 0;
    double hfov = 360;
    double vfov = 180;
    double yaw = 0;
    double pitch = 0;
};

// What a project leaves unset takes these: 360 by 180 for a 2:1 picture,
// else 360 across and 360 * H / W up to 180 down; the centre straight ahead.
PanoramaGeometry default_panorama_geometry(int width, int height);

// The project's own angles over the defaults (an unset angle keeps its default).
PanoramaGeometry panorama_geometry(int width, int height, const PanoramaChoices& choices);

// A place on the picture as loaded, in continuous pixel units: pixel (x, y)
// covers [x, x + 1) by [y, y + 1), its centre at (x + 0.5, y + 0.5).
struct PicturePosition {
    double x = 0;
    double y = 0;
};

Angles angles_at(const PanoramaGeometry& geometry, PicturePosition position);
Vec3 direction_at(const PanoramaGeometry& geometry, PicturePosition position);
// Where a direction lies on the picture (its yaw brought into the picture's
// span when a turn of 360 degrees does it); nothing for a direction the
// picture does not show.
std::optional<PicturePosition> position_of(const PanoramaGeometry& geometry, Vec3 direction);

// A position on the background as the main window shows it, turned by
// `rotation_index` quarter turns (0..3: 0, 90, 180, 270 degrees), taken
// back to the picture as loaded (width by height).
PicturePosition loaded_position(PicturePosition shown, int rotation_index, int width, int height);

}  // namespace tintora
