#pragma once

// The program as the window tests that encode run it: its settings in a
// temporary folder, the real encoder, the work folder inside, English.
#include <memory>

#include "gui/program.hpp"
#include "support/temporary_folder.hpp"
#include "support/test_clips.hpp"

namespace tintora::test {

inline std::unique_ptr<Program> encoding_program(const TemporaryFolder& folder) {
    SettingsEnvironment environment;
    environment.program_dir = folder.path();
    auto program = std::make_unique<Program>(environment);
    AppSettings& settings = program->settings();
    settings.ffmpeg_path = find_encoder();
    settings.work_dir = folder / "work";
    settings.language = "eng";
    return program;
}

}  // namespace tintora::test
