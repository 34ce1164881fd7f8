#include "core/viewer/panorama_geometry.hpp"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tintora {
namespace {

constexpr double kRadiansPerDegree = std::numbers::pi / 180.0;

}  // namespace

Vec3 normalised(Vec3 v) {
    const double length = std::sqrt(dot(v, v));
    return length > 0 ? (1.0 / length) * v : v;
}

Vec3 direction_of(Angles angles) {
    const double h = angles.yaw * kRadiansPerDegree;
    const double p = angles.pitch * kRadiansPerDegree;
    return {std::cos(p) * std::sin(h), std::sin(p), std::cos(p) * std::cos(h)};
}

Angles angles_of(Vec3 direction) {
    const Vec3 d = normalised(direction);
    return {std::atan2(d.x, d.z) / kRadiansPerDegree,
            std::asin(std::clamp(d.y, -1.0, 1.0)) / kRadiansPerDegree};
}

PanoramaGeometry default_panorama_geometry(int width, int height) {
    PanoramaGeometry geometry;
    geometry.width = width;
    geometry.height = height;
    geometry.hfov = 360;
    geometry.vfov = width > 0 && height * 2 != width
                        ? std::min(180.0, 360.0 * height / width)
                        : 180.0;
    return geometry;
}

PanoramaGeometry panorama_geometry(int width, int height, const PanoramaChoices& choices) {
    PanoramaGeometry geometry = default_panorama_geometry(width, height);
    geometry.hfov = choices.hfov.value_or(geometry.hfov);
    geometry.vfov = choices.vfov.value_or(geometry.vfov);
    geometry.yaw = choices.yaw.value_or(geometry.yaw);
    geometry.pitch = choices.pitch.value_or(geometry.pitch);
    return geometry;
}

Angles angles_at(const PanoramaGeometry& geometry, PicturePosition position) {
    return {(position.x / geometry.width - 0.5) * geometry.hfov + geometry.yaw,
            (0.5 - position.y / geometry.height) * geometry.vfov + geometry.pitch};
}

Vec3 direction_at(const PanoramaGeometry& geometry, PicturePosition position) {
    return direction_of(angles_at(geometry, position));
}

std::optional<PicturePosition> position_of(const PanoramaGeometry& geometry, Vec3 direction) {
    const Angles angles = angles_of(direction);
    // Yaw counted from the picture's left edge, brought into 0..360.
    double yaw = angles.yaw - (geometry.yaw - geometry.hfov / 2);
    yaw -= 360.0 * std::floor(yaw / 360.0);
    const double pitch = geometry.pitch + geometry.vfov / 2 - angles.pitch;
    if (yaw > geometry.hfov || pitch < 0 || pitch > geometry.vfov) return std::nullopt;
    return PicturePosition{yaw / geometry.hfov * geometry.width,
                           pitch / geometry.vfov * geometry.height};
}

PicturePosition loaded_position(PicturePosition shown, int rotation_index, int width, int height) {
    // The composition's turns: at 90 degrees the shown picture's column c is
    // the loaded row height - 1 - c and its row r the loaded column r; at 270
    // its column c is the loaded row c and its row r the column width - 1 - r.
    switch (rotation_index) {
        case 1:
            return {shown.y, height - shown.x};
        case 2:
            return {width - shown.x, height - shown.y};
        case 3:
            return {width - shown.y, shown.x};
        default:
            return shown;
    }
}

}  // namespace tintora
