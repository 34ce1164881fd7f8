#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/settings/settings_file.hpp"
#include "core/settings/texts.hpp"

namespace tintora {

// The two items of the options dialog's working-folder list. Any other text
// in the list is a folder's path.
inline constexpr std::string_view kTempDirItem = "Windows TEMP";
inline constexpr std::string_view kProgramDirItem = "Program directory";

// The file names the "Browse" dialogs suggest.
inline constexpr std::string_view kFfmpegFileName = "ffmpeg.exe";
inline constexpr std::string_view kFfplayFileName = "ffplay.exe";

// A public page with ffmpeg builds, for users who have none.
inline constexpr std::string_view kFfmpegDownloadPage = "https://ffmpeg.org/download.html";

// The texts of the options dialog's three fields.
struct OptionsFields {
    std::string ffmpeg;
    std::string ffplay;
    std::string work_dir;
};

// "OK" of the options dialog: ffmpeg_path takes the first field when it names
// an existing file, then ffplay_path the second likewise, then work_dir the
// third when it names an existing folder. Stops at the first check that
// fails, keeping what the earlier checks took, and returns that check's
// message; nothing when all three were taken.
std::optional<TextPair> take_options(const OptionsFields& fields, AppSettings& settings);

// The folder the "Windows TEMP" item stands for: TEMP, else TMPDIR, else /tmp,
// followed by "Tintora". A value that is empty, relative or the root itself
// is passed over, so this never names a folder at the root.
std::filesystem::path temp_work_dir();

// One tick of the working-folder list: either item sets work_dir to its
// folder and creates that folder when it is missing (one level; a folder
// that cannot be made is left for "OK" to report). "Program directory" is
// the program's own working folder, default_work_dir: beside a program that
// keeps its settings there, in the user's cache for an installed one (whose
// folder, /usr/bin say, is no place for frames), made with its parents
// there. Returns the text the list shows next, always the current work_dir.
std::string resolve_work_dir_choice(std::string_view list_text, AppSettings& settings,
                                    const UserFolders& user = user_folders_of_this_process());

// ------------------------------------------------------------ about box

inline constexpr std::string_view kProductName = "Tintora";

// The version the build gives the project.
std::string_view program_version();

// The vendor's product-update page for this version.
std::string product_update_url();

// Which of the about box's nine gaze pictures looks toward (x, y) from the
// rectangle (a, b, a + w, b + h): 1 up-left, 2 up, 3 up-right, 4 left,
// 5 ahead, 6 right, 7 down-left, 8 down, 9 down-right. The rectangle holds
// its left and top edges, not its right and bottom ones.
int gaze_picture(int x, int y, int a, int b, int w, int h);

}  // namespace tintora
