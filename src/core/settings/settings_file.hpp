#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/app_settings.hpp"
#include "core/common/result.hpp"
#include "core/settings/window_places.hpp"

namespace tintora {

inline constexpr const char* kSettingsFileName = "Tintora.ini";

// The user's own folders for settings and for files that may be made again:
// $XDG_CONFIG_HOME and $XDG_CACHE_HOME when absolute, else ~/.config and
// ~/.cache. Either is empty when it has no absolute place.
struct UserFolders {
    std::filesystem::path config;
    std::filesystem::path cache;
};

// The folders by those rules from the variables' values (null when unset).
UserFolders user_folders(const char* xdg_config_home, const char* xdg_cache_home, const char* home);

// The folders of this process's environment.
UserFolders user_folders_of_this_process();

// What the defaults depend on, supplied by the application.
struct SettingsEnvironment {
    std::filesystem::path program_dir;
    int country_code = 0;     // the user's telephone country code; 7 is Russia and Kazakhstan
    std::string search_path;  // the PATH variable
    UserFolders user_folders = user_folders_of_this_process();
};

// Where an installation puts the program's shared files (the guide):
// share/tintora beside the folder of the installed program.
std::filesystem::path installed_data_dir(const std::filesystem::path& program_dir);

// Whether the settings file and the default working folder are kept in the
// program's folder, as for a program run from its build folder or unpacked
// in a folder of the user's: when a settings file is there already, or the
// user's folders are unknown, or the folder is not an installation's (one
// with installed_data_dir) and the user is not denied writing it. Otherwise
// (an installed program, a folder the user may not write) they are the
// user's: config/tintora/Tintora.ini and cache/tintora/Temp.
bool keeps_settings_beside_program(const std::filesystem::path& program_dir,
                                   const UserFolders& user);

// The working folder a new settings file starts with: Temp beside the
// program when its settings are kept there, else the user's cache/tintora/Temp.
std::filesystem::path default_work_dir(const std::filesystem::path& program_dir,
                                       const UserFolders& user);

// The interface language a user's country starts with.
std::string language_for_country_code(int country_code);

// program_dir/name when that file exists, else the first executable `name`
// along the search path, else program_dir/name.
std::filesystem::path default_tool_path(const std::filesystem::path& program_dir,
                                        const std::string& name, std::string_view search_path);

AppSettings default_settings(const SettingsEnvironment& environment);

// The settings file of a program in program_dir, by keeps_settings_beside_program.
std::filesystem::path settings_file_path(const std::filesystem::path& program_dir,
                                         const UserFolders& user = user_folders_of_this_process());

// Applies the KEY=value lines of a settings file to the settings. Keys are
// matched at the start of a line, case-sensitive; the value is the rest of
// the line up to CR/LF (or a NUL byte), untrimmed; the last occurrence wins;
// other lines are ignored. Lines of any length are read whole.
void apply_settings_text(std::string_view text, AppSettings& settings);

// The defaults, then the settings file if it is a readable regular file of
// sensible size; never fails and never waits on a FIFO or device.
AppSettings load_settings(const SettingsEnvironment& environment);

// The windows' places the KEY=value lines of a settings file give (read as
// apply_settings_text reads lines): MAIN_WINDOW, PALETTE_WINDOW and
// VIDEO_WINDOW as window_place_text writes them, PALETTE_OPEN as 0 or 1. A
// value that is none of those leaves that place unknown.
void apply_window_places_text(std::string_view text, WindowPlaces& places);

// The places the settings file of the environment remembers (none without one).
WindowPlaces load_window_places(const SettingsEnvironment& environment);

// Exactly the four lines LANG, TEMP, FFMPEG, FFPLAY, each ended by CR LF.
std::string format_settings(const AppSettings& settings);
// The four lines, then a line for each window place known, in the order
// MAIN_WINDOW, PALETTE_WINDOW, VIDEO_WINDOW, PALETTE_OPEN.
std::string format_settings(const AppSettings& settings, const WindowPlaces& places);

// Writes the settings file atomically where settings_file_path says, through
// a link if it is one, making the user's settings folder when it is missing;
// a settings file the user may not write is an error, not replaced.
Status save_settings(const AppSettings& settings,
                     const UserFolders& user = user_folders_of_this_process());
// The same with the windows' places.
Status save_settings(const AppSettings& settings, const WindowPlaces& places,
                     const UserFolders& user = user_folders_of_this_process());

}  // namespace tintora
