// The settings file as a user may have edited it: any bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/settings/settings_file.hpp"
#include "fuzz_check.hpp"

using namespace tintora;

namespace {

bool same_stored_values(const AppSettings& a, const AppSettings& b) {
    return a.language == b.language && a.work_dir == b.work_dir && a.ffmpeg_path == b.ffmpeg_path &&
           a.ffplay_path == b.ffplay_path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    AppSettings settings;
    apply_settings_text(text, settings);

    // Whatever was read must survive a save and a new start: a value never
    // holds a line break or NUL, so the written file reads back the same.
    AppSettings again;
    apply_settings_text(format_settings(settings), again);
    FUZZ_CHECK(same_stored_values(settings, again));
    return 0;
}
