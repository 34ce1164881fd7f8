#pragma once

#include <filesystem>
#include <string>

namespace tintora {

// Application-wide settings, read at start-up and written at exit. The four
// stored values are kept byte for byte as the file holds them.
struct AppSettings {
    std::filesystem::path program_dir;  // never stored
    std::filesystem::path ffmpeg_path;
    std::filesystem::path ffplay_path;
    std::filesystem::path work_dir;
    std::string language = "eng";  // "eng" or "rus"; a hand-edited file may hold anything
};

}  // namespace tintora
