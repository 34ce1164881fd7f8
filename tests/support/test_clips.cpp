#include "support/test_clips.hpp"

#include <unistd.h>

#include <cstdlib>
#include <map>

#include "core/settings/settings_file.hpp"
#include "core/video/command_runner.hpp"
#include "support/temporary_folder.hpp"

namespace tintora::test {

std::filesystem::path find_encoder() {
    const char* chosen = std::getenv("TINTORA_FFMPEG");
    const char* search = std::getenv("PATH");
    const std::filesystem::path found = default_tool_path("", chosen != nullptr ? chosen : "ffmpeg",
                                                          search != nullptr ? search : "");
    return ::access(found.c_str(), X_OK) == 0 ? found : std::filesystem::path();
}

std::filesystem::path test_clip(const std::string& rate, const std::string& seconds,
                                bool with_sound, const std::string& size) {
    static TemporaryFolder folder;
    static std::map<std::string, std::filesystem::path> made;
    std::string name = size + "_" + seconds + "s_" + (with_sound ? "sound_" : "") + rate + ".mp4";
    for (char& c : name) {
        if (c == '/') c = '-';
    }
    if (const auto found = made.find(name); found != made.end()) return found->second;

    const std::filesystem::path encoder = find_encoder();
    if (encoder.empty()) return {};
    Command command{
        encoder,
        {"-f", "lavfi", "-i", "testsrc2=size=" + size + ":rate=" + rate + ":duration=" + seconds},
        {}};
    if (with_sound) {
        command.arguments.insert(command.arguments.end(),
                                 {"-f", "lavfi", "-i", "sine=duration=" + seconds, "-shortest"});
    }
    const std::filesystem::path path = folder / name;
    command.arguments.insert(command.arguments.end(),
                             {"-preset", "ultrafast", "-y", path.string()});
    if (!run_command(command).succeeded()) return {};
    made[name] = path;
    return path;
}

}  // namespace tintora::test
