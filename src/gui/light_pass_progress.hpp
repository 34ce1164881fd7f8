#pragma once

#include <QString>
#include <filesystem>
#include <optional>
#include <string_view>

class QWidget;

namespace tintora {

class Program;
class VideoWorkspace;

// Measures the track of the light followed from frame `reference` ahead of
// the action that reads it (its cache written), running the pass when the
// cache is missing with a progress dialog and a Cancel over `owner`: the
// dialog shows only when the pass takes a while, so a cached track never
// flashes it. When the user stopped the pass, what to tell them in the
// interface language: the action must not go on. A pass that fails on its
// own is left to the action, which reports or bears it as it always has.
std::optional<QString> measure_light(const VideoWorkspace& workspace, int reference,
                                     const std::filesystem::path& work_dir,
                                     std::string_view language, QWidget* owner);

// The same for what the project follows, before the preview, play in
// panorama or an export reads it: nothing to do while it follows no light.
std::optional<QString> measure_followed_light(Program& program, QWidget* owner);

}  // namespace tintora
