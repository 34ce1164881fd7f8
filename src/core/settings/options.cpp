#include "core/settings/options.hpp"

#include <cstdlib>
#include <system_error>

namespace tintora {
namespace {

namespace fs = std::filesystem;

bool names_file(const std::string& text) {
    std::error_code error;
    return !text.empty() && fs::is_regular_file(fs::path(text), error);
}

bool names_folder(const std::string& text) {
    std::error_code error;
    return !text.empty() && fs::is_directory(fs::path(text), error);
}

// An absolute folder below the root, as a temporary folder must be.
std::optional<fs::path> usable_temp_folder(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || *value == '\0') return std::nullopt;
    const fs::path folder(value);
    if (!folder.is_absolute() || folder.lexically_normal().relative_path().empty()) {
        return std::nullopt;
    }
    return folder;
}

// Creates the folder when its parent exists. Never at the root of the file
// system: that is no place for a program's scratch files.
void create_one_level(const fs::path& folder) {
    std::error_code error;
    if (fs::is_directory(folder, error)) return;
    fs::path full = fs::absolute(folder, error);
    if (error) return;
    full = full.lexically_normal();
    if (!full.has_filename()) full = full.parent_path();
    if (full.parent_path() == full.root_path()) return;
    fs::create_directory(full, error);
}

}  // namespace

std::optional<TextPair> take_options(const OptionsFields& fields, AppSettings& settings) {
    if (!names_file(fields.ffmpeg)) return message_texts::kFfmpegNotFound;
    settings.ffmpeg_path = fields.ffmpeg;
    if (!names_file(fields.ffplay)) return message_texts::kFfplayNotFound;
    settings.ffplay_path = fields.ffplay;
    if (!names_folder(fields.work_dir)) return message_texts::kDirectoryNotExist;
    settings.work_dir = fields.work_dir;
    return std::nullopt;
}

fs::path temp_work_dir() {
    std::optional<fs::path> base = usable_temp_folder("TEMP");
    if (!base) base = usable_temp_folder("TMPDIR");
    return base.value_or(fs::path("/tmp")) / "Tintora";
}

std::string resolve_work_dir_choice(std::string_view list_text, AppSettings& settings,
                                    const UserFolders& user) {
    std::optional<fs::path> chosen;
    if (list_text == kTempDirItem) {
        chosen = temp_work_dir();
    } else if (list_text == kProgramDirItem) {
        chosen = default_work_dir(settings.program_dir, user);
        if (!keeps_settings_beside_program(settings.program_dir, user)) {
            std::error_code ignored;
            fs::create_directories(chosen->parent_path(), ignored);
        }
    }
    if (chosen) {
        settings.work_dir = *chosen;
        create_one_level(*chosen);
    }
    return settings.work_dir.string();
}

std::string_view program_version() { return TINTORA_VERSION; }

std::string product_update_url() {
    return std::string(kVendorSite) +
           "/products_update.php?PRODUCT_NAME=Tintora&VERSION=" + std::string(program_version());
}

int gaze_picture(int x, int y, int a, int b, int w, int h) {
    // In 64 bits, so that a rectangle near the end of the int range cannot wrap.
    const auto band = [](long long v, long long start, long long size) {
        return v < start ? 0 : v < start + size ? 1 : 2;
    };
    return band(y, b, h) * 3 + band(x, a, w) + 1;
}

}  // namespace tintora
