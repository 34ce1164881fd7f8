#include "core/settings/settings_file.hpp"

#include <unistd.h>

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

// Four lines of paths; a bigger file is not one the program wrote.
constexpr std::size_t kMaxSettingsFileBytes = std::size_t{1} << 20;

bool is_file(const std::filesystem::path& path) {
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool is_executable_file(const std::filesystem::path& path) {
    return is_file(path) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

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
    settings.work_dir = environment.program_dir / "Temp";
    return settings;
}

std::filesystem::path settings_file_path(const std::filesystem::path& program_dir) {
    if (program_dir.empty()) return std::filesystem::path("/") / kSettingsFileName;
    return program_dir / kSettingsFileName;
}

void apply_settings_text(std::string_view text, AppSettings& settings) {
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
        for (const SettingKey& key : kKeys) {
            if (line.substr(0, key.key.size()) != key.key) continue;
            const std::string value(line.substr(key.key.size()));
            if (key.text != nullptr) settings.*key.text = value;
            if (key.path != nullptr) settings.*key.path = value;
            break;
        }
    }
}

AppSettings load_settings(const SettingsEnvironment& environment) {
    AppSettings settings = default_settings(environment);
    const Result<std::vector<std::uint8_t>> bytes =
        read_file_bytes(settings_file_path(environment.program_dir), kMaxSettingsFileBytes);
    if (bytes) {
        const std::vector<std::uint8_t>& data = bytes.value();
        apply_settings_text(
            std::string_view(reinterpret_cast<const char*>(data.data()), data.size()), settings);
    }
    return settings;
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

Status save_settings(const AppSettings& settings) {
    return write_file_atomically(settings_file_path(settings.program_dir),
                                 format_settings(settings));
}

}  // namespace tintora
