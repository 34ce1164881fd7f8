#include "core/settings/settings_file.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <optional>
#include <system_error>

#include "core/common/file_io.hpp"

namespace tintora {
namespace {

struct SettingKey {
    std::string_view key;
    std::string AppSettings::*text;
    std::filesystem::path AppSettings::*path;
};

// In the order lines are matched and written.
constexpr SettingKey kKeys[] = {
    {"LANG=", &AppSettings::language, nullptr},
    {"TEMP=", nullptr, &AppSettings::work_dir},
    {"FFMPEG=", nullptr, &AppSettings::ffmpeg_path},
    {"FFPLAY=", nullptr, &AppSettings::ffplay_path},
};

// The windows' places follow the four, each line only once the place is
// known; in PlacedWindow order.
constexpr std::array<std::string_view, kPlacedWindowCount> kWindowKeys{
    "MAIN_WINDOW=", "PALETTE_WINDOW=", "VIDEO_WINDOW="};
constexpr std::string_view kPaletteOpenKey = "PALETTE_OPEN=";

// Four lines of paths; a bigger file is not one the program wrote.
constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;

// Hands each line of a settings file's text to visit, without its line end.
template <class Visit>
void for_each_line(std::string_view text, Visit&& visit) {
    while (!text.empty()) {
        const std::size_t newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);

        // The line ends at a NUL byte, as a C string would.
        line = line.substr(0, line.find('\0'));
        // Trailing CR and LF go; the first character of a line always stays.
        while (line.size() > 1 && (line.back() == '\r' || line.back() == '\n')) {
            line.remove_suffix(1);
        }
        visit(line);
    }
}

// The text of the settings file, with the bytes it holds.
std::optional<std::string> settings_file_text(const SettingsEnvironment& environment) {
    const Result<std::vector<std::uint8_t>> bytes =
        read_file_bytes(settings_file_path(environment.program_dir, environment.user_folders),
                        kMaxSettingsFileBytes);
    if (!bytes) return std::nullopt;
    return std::string(bytes.value().begin(), bytes.value().end());
}

bool is_file(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool is_executable_file(const std::filesystem::path& path) {
    return is_file(path) && ::access(path.c_str(), X_OK) == 0;
}

// Relative values are to be ignored, as the base directory rules say.
std::filesystem::path absolute_folder(const char* value) {
    if (value == nullptr || *value == '\0') return {};
    const std::filesystem::path folder(value);
    return folder.is_absolute() ? folder : std::filesystem::path();
}

std::filesystem::path program_settings_file(const std::filesystem::path& program_dir) {
    if (program_dir.empty()) return std::filesystem::path("/") / kSettingsFileName;
    return program_dir / kSettingsFileName;
}

std::filesystem::path user_settings_file(const UserFolders& user) {
    return user.config / "tintora" / kSettingsFileName;
}

}  // namespace

UserFolders user_folders(const char* xdg_config_home, const char* xdg_cache_home,
                         const char* home) {
    const std::filesystem::path home_dir = absolute_folder(home);
    const auto folder = [&home_dir](const char* variable, const char* under_home) {
        std::filesystem::path chosen = absolute_folder(variable);
        if (chosen.empty() && !home_dir.empty()) chosen = home_dir / under_home;
        return chosen;
    };
    return {folder(xdg_config_home, ".config"), folder(xdg_cache_home, ".cache")};
}

UserFolders user_folders_of_this_process() {
    return user_folders(std::getenv("XDG_CONFIG_HOME"), std::getenv("XDG_CACHE_HOME"),
                        std::getenv("HOME"));
}

std::filesystem::path installed_data_dir(const std::filesystem::path& program_dir) {
    return program_dir.parent_path() / "share" / "tintora";
}

bool keeps_settings_beside_program(const std::filesystem::path& program_dir,
                                   const UserFolders& user) {
    std::error_code error;
    // A link counts, dangling or not: the user keeps the settings where it leads.
    if (std::filesystem::exists(
            std::filesystem::symlink_status(program_settings_file(program_dir), error))) {
        return true;
    }
    if (user.config.empty() || user.cache.empty()) return true;
    // Root may write /usr/bin, which is still no place for one user's settings.
    if (std::filesystem::is_directory(installed_data_dir(program_dir), error)) return false;
    // A folder that is not there is no program's: saving reports it, as ever.
    if (program_dir.empty() || ::access(program_dir.c_str(), W_OK | X_OK) == 0) return true;
    return errno != EACCES && errno != EROFS && errno != EPERM;
}

std::filesystem::path default_work_dir(const std::filesystem::path& program_dir,
                                       const UserFolders& user) {
    return keeps_settings_beside_program(program_dir, user) ? program_dir / "Temp"
                                                            : user.cache / "tintora" / "Temp";
}

std::string language_for_country_code(int country_code) {
    return country_code == 7 ? "rus" : "eng";
}

std::filesystem::path default_tool_path(const std::filesystem::path& program_dir,
                                        const std::string& name, std::string_view search_path) {
    const std::filesystem::path beside_program = program_dir / name;
    if (is_file(beside_program)) return beside_program;
    while (true) {
        const std::size_t colon = search_path.find(':');
        const std::string_view entry = search_path.substr(0, colon);
        // An empty entry means the current folder; a tool found there would
        // move with it, so only absolute entries are taken.
        if (!entry.empty() && entry.front() == '/') {
            const std::filesystem::path candidate = std::filesystem::path(entry) / name;
            if (is_executable_file(candidate)) return candidate;
        }
        if (colon == std::string_view::npos) break;
        search_path.remove_prefix(colon + 1);
    }
    return beside_program;
}

AppSettings default_settings(const SettingsEnvironment& environment) {
    AppSettings settings;
    settings.program_dir = environment.program_dir;
    settings.language = language_for_country_code(environment.country_code);
    settings.ffmpeg_path =
        default_tool_path(environment.program_dir, "ffmpeg", environment.search_path);
    settings.ffplay_path =
        default_tool_path(environment.program_dir, "ffplay", environment.search_path);
    settings.work_dir = default_work_dir(environment.program_dir, environment.user_folders);
    return settings;
}

std::filesystem::path settings_file_path(const std::filesystem::path& program_dir,
                                         const UserFolders& user) {
    return keeps_settings_beside_program(program_dir, user) ? program_settings_file(program_dir)
                                                            : user_settings_file(user);
}

void apply_settings_text(std::string_view text, AppSettings& settings) {
    for_each_line(text, [&settings](std::string_view line) {
        for (const SettingKey& key : kKeys) {
            if (line.substr(0, key.key.size()) != key.key) continue;
            const std::string value(line.substr(key.key.size()));
            if (key.text != nullptr) settings.*key.text = value;
            if (key.path != nullptr) settings.*key.path = value;
            break;
        }
    });
}

void apply_window_places_text(std::string_view text, WindowPlaces& places) {
    for_each_line(text, [&places](std::string_view line) {
        for (std::size_t w = 0; w < kWindowKeys.size(); ++w) {
            if (line.substr(0, kWindowKeys[w].size()) == kWindowKeys[w]) {
                places.windows[w] = parse_window_place(line.substr(kWindowKeys[w].size()));
            }
        }
        if (line.substr(0, kPaletteOpenKey.size()) == kPaletteOpenKey) {
            const std::string_view value = line.substr(kPaletteOpenKey.size());
            places.palette_open = value == "1"   ? std::optional<bool>(true)
                                  : value == "0" ? std::optional<bool>(false)
                                                 : std::nullopt;
        }
    });
}

AppSettings load_settings(const SettingsEnvironment& environment) {
    AppSettings settings = default_settings(environment);
    if (const std::optional<std::string> text = settings_file_text(environment)) {
        apply_settings_text(*text, settings);
    }
    return settings;
}

WindowPlaces load_window_places(const SettingsEnvironment& environment) {
    WindowPlaces places;
    if (const std::optional<std::string> text = settings_file_text(environment)) {
        apply_window_places_text(*text, places);
    }
    return places;
}

std::string format_settings(const AppSettings& settings) {
    std::string text;
    for (const SettingKey& key : kKeys) {
        text += key.key;
        text += key.text != nullptr ? settings.*key.text : (settings.*key.path).native();
        text += "\r\n";
    }
    return text;
}

std::string format_settings(const AppSettings& settings, const WindowPlaces& places) {
    std::string text = format_settings(settings);
    for (std::size_t w = 0; w < kWindowKeys.size(); ++w) {
        if (!places.windows[w]) continue;
        text += kWindowKeys[w];
        text += window_place_text(*places.windows[w]) + "\r\n";
    }
    if (places.palette_open) {
        text += kPaletteOpenKey;
        text += *places.palette_open ? "1\r\n" : "0\r\n";
    }
    return text;
}

Status save_settings(const AppSettings& settings, const UserFolders& user) {
    return save_settings(settings, WindowPlaces{}, user);
}

Status save_settings(const AppSettings& settings, const WindowPlaces& places,
                     const UserFolders& user) {
    const std::string text = format_settings(settings, places);
    if (!keeps_settings_beside_program(settings.program_dir, user)) {
        // The user's folder is made on the first save; a failure is the write's to report.
        std::error_code ignored;
        std::filesystem::create_directories(user_settings_file(user).parent_path(), ignored);
        return write_file_atomically(user_settings_file(user), text);
    }
    return write_file_atomically(program_settings_file(settings.program_dir), text);
}

}  // namespace tintora
