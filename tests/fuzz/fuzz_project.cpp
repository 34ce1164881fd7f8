// A project file from anywhere: any bytes replayed into a fresh state, and
// the "%i" number reader the replay is built on.
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/composition/composition.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/project/project_file.hpp"
#include "core/video/video_workspace.hpp"
#include "fuzz_check.hpp"

using namespace tintora;

namespace {

// Only remembers what it was asked to open: opening named files would make
// the run depend on the machine's files.
class RecordingLoaders : public ProjectLoaders {
public:
    void open_background(const std::filesystem::path& path) override { remember(path); }
    void open_video(const std::filesystem::path& path) override { remember(path); }

private:
    void remember(const std::filesystem::path& path) {
        ++calls_;
        last_ = path;
    }
    int calls_ = 0;
    std::filesystem::path last_;
};

// scan_integer promises what "%i" reads, which is C's strtoll with base 0
// held to 32 bits: checked against it.
void check_scan_integer(std::string_view text) {
    std::int32_t value = 12345;
    const std::size_t read = scan_integer(text, value);
    FUZZ_CHECK(read <= text.size());

    // Both stop at the first character no number can hold (a NUL byte
    // included), so only the text up to it is handed to strtoll.
    const std::size_t relevant = text.find_first_not_of(" \t\n\v\f\r+-0123456789abcdefABCDEFxX");
    const std::string copy(text.substr(0, relevant));
    const char* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    const long long expected = std::strtoll(begin, &end, 0);
    const bool number =
        end != begin && errno != ERANGE && expected >= INT32_MIN && expected <= INT32_MAX;
    if (!number) {
        FUZZ_CHECK(read == 0);
        return;
    }
    FUZZ_CHECK(read == static_cast<std::size_t>(end - begin));
    FUZZ_CHECK(value == expected);

    // What follows the number does not change it.
    std::int32_t again = 0;
    FUZZ_CHECK(scan_integer(text.substr(0, read), again) == read && again == value);
}

bool valid_control_value(std::int32_t v) { return v == NO_PAIR || (v >= 0 && v < kIntensityCount); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // The number reader on the whole input and at every line start, where
    // the replay uses it on values.
    check_scan_integer(text);
    for (std::size_t at = text.find('\n'); at != std::string_view::npos;
         at = text.find('\n', at + 1)) {
        check_scan_integer(text.substr(at + 1));
    }

    AppSettings settings;
    Composition composition;
    CorrectionGrid grid;
    VideoWorkspace workspace(settings);
    RecordingLoaders loaders;
    replay_project(text, ProjectState{composition, grid, workspace}, loaders);

    // Lines outside the grid or 0..255 are skipped, so every pair and the
    // current point stay in range, and each list keeps a valid item.
    FUZZ_CHECK(grid.cur_point >= 0 && grid.cur_point < kGridPointCount);
    for (const ControlValues& values : grid.control_values) {
        for (const std::int32_t v : values) FUZZ_CHECK(valid_control_value(v));
    }
    for (const auto& channel : grid.channel_control_values) {
        for (const ControlValues& values : channel) {
            for (const std::int32_t v : values) FUZZ_CHECK(valid_control_value(v));
        }
    }
    FUZZ_CHECK(grid.correction_mode == CorrectionMode::Brightness ||
               grid.correction_mode == CorrectionMode::Colour);
    const CompositionChoices& choices = composition.choices;
    FUZZ_CHECK(choices.rotation_index >= 0 &&
               choices.rotation_index < static_cast<int>(kRotationItems.size()));
    FUZZ_CHECK(choices.scale_index >= 0 &&
               choices.scale_index < static_cast<int>(kScaleItems.size()));
    FUZZ_CHECK(choices.density_index >= 0 &&
               choices.density_index < static_cast<int>(kDensityItems.size()));

    // Saving what was replayed must work on any state a replay can make.
    const std::string saved = format_project(composition, grid, workspace);
    FUZZ_CHECK(!saved.empty());
    return 0;
}
