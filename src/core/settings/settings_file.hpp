#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/app_settings.hpp"
#include "core/common/result.hpp"

namespace tintora {

inline constexpr const char* kSettingsFileName = "Tintora.ini";

// What the defaults depend on, supplied by the application.
struct SettingsEnvironment {
    std::filesystem::path program_dir;
    int country_code = 0;     // the user's telephone country code; 7 is Russia and Kazakhstan
    std::string search_path;  // the PATH variable
};

// The interface language a user's country starts with.
std::string language_for_country_code(int country_code);

// program_dir/name when that file exists, else the first executable `name`
// along the search path, else program_dir/name.
std::filesystem::path default_tool_path(const std::filesystem::path& program_dir,
                                        const std::string& name, std::string_view search_path);

AppSettings default_settings(const SettingsEnvironment& environment);

std::filesystem::path settings_file_path(const std::filesystem::path& program_dir);

// Applies the KEY=value lines of a settings file to the settings. Keys are
// matched at the start of a line, case-sensitive; the value is the rest of
// the line up to CR/LF (or a NUL byte), untrimmed; the last occurrence wins;
// other lines are ignored. Lines of any length are read whole.
void apply_settings_text(std::string_view text, AppSettings& settings);

// The defaults, then the settings file if it is a readable regular file of
// sensible size; never fails and never waits on a FIFO or device.
AppSettings load_settings(const SettingsEnvironment& environment);

// Exactly the four lines LANG, TEMP, FFMPEG, FFPLAY, each ended by CR LF.
std::string format_settings(const AppSettings& settings);

// Writes the settings file atomically next to the program, through a link if
// it is one; a settings file the user may not write is an error, not replaced.
Status save_settings(const AppSettings& settings);

}  // namespace tintora
