#pragma once

#include <atomic>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/result.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/import_stamp.hpp"
#include "core/video/work_dir_lock.hpp"

namespace tintora {

// The import takes at most this many pictures of a clip.
inline constexpr int kMaxImportedFrames = 10000;

// The layout of WorkDir.
std::filesystem::path frame_file_path(const std::filesystem::path& work_dir,
                                      int number);                             // pic%04d.jpg
std::filesystem::path info_file_path(const std::filesystem::path& work_dir);   // 1.tmp
std::filesystem::path sound_file_path(const std::filesystem::path& work_dir);  // sound.wav

// prefix_name followed by four or more decimal digits and ".jpg": the names
// of numbered frames the program writes, and the only ones it deletes.
bool is_numbered_jpeg_name(std::string_view file_name, std::string_view prefix_name);
// "pic" and digits: the names the import writes, and the only ones it ever
// deletes or counts.
bool is_frame_file_name(std::string_view name);
// Regular files directly in work_dir whose names are frame file names.
int count_frame_files(const std::filesystem::path& work_dir);
// Deletes exactly those files, and links of such names whatever they point
// to (never anything else, never a sub-folder).
Status delete_frame_files(const std::filesystem::path& work_dir);

// The numbered frames pic0001.jpg … of a folder as the encoder's pattern
// argument: "FOLDER/pic%4d.jpg", with the folder's own '%' doubled, since the
// encoder expands '%' anywhere in the name.
std::string frame_pattern_argument(const std::filesystem::path& folder);

// The three commands of an import and the player's, with the options and in
// the order of their command lines.
// ffmpeg -i CLIP, its error output into WorkDir/1.tmp.
Command info_command(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                     const std::filesystem::path& work_dir);
// ffmpeg -i CLIP -vframes 10000 -qscale 1 WorkDir/pic%4d.jpg
Command extraction_command(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                           const std::filesystem::path& work_dir);
// ffmpeg -i CLIP -y WorkDir/sound.wav
Command sound_command(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                      const std::filesystem::path& work_dir);
// ffplay -i CLIP -ss SECONDS, the seconds being current_frame / input_fps with
// six decimals; 0 seconds when the rate is 0.
Command play_command(const std::filesystem::path& ffplay, const std::filesystem::path& clip,
                     int current_frame, double input_fps);

// The frame rate that stands before the first usable " fps," of the
// encoder's description of a clip; nothing when there is none.
std::optional<double> parse_input_fps(std::string_view info_text);
// Frames the extraction should give: the clip's duration ("Duration:
// HH:MM:SS.ss") times its rate, at most 10000; nothing when either is unknown.
std::optional<int> expected_frame_count(std::string_view info_text);
// Whether the description lists a sound stream.
bool has_audio_stream(std::string_view info_text);

enum class ImportStage { Describing, Extracting, ExtractingSound, Finished };

// Shared with the thread that shows the progress.
struct ImportProgress {
    std::atomic<ImportStage> stage{ImportStage::Describing};
    std::atomic<int> frames_extracted{0};
    std::atomic<int> frames_expected{-1};  // -1: unknown
    std::atomic<bool> cancel_requested{false};
};

// Why an import gave no clip, or what went wrong on the way.
enum class ImportProblem {
    None,
    WorkDirUnusable,   // WorkDir could not be created or emptied of old frames
    EncoderMissing,    // the encoder could not be started
    ExtractionFailed,  // the extraction command failed, gave no pictures or left a gap
    SoundFailed,       // the clip has sound, but it could not be copied out
    WorkDirInUse,      // another import or run holds WorkDir
    ClipUnreadable,    // the clip is not a regular file that can be read
};

struct ImportOutcome {
    int frame_count = 0;    // frame files in WorkDir afterwards
    std::string info_text;  // the content of 1.tmp, lines joined by "\n"
    bool cancelled = false;
    ImportProblem problem = ImportProblem::None;
    // In the interface language: the folder or file, or the failed command
    // with the encoder's reason and how it ended.
    std::string problem_detail;
    // With frames: WorkDir held for whoever uses them next (the workspace,
    // as long as the clip is open), and the stamp left beside them.
    std::shared_ptr<WorkDirLock> work_dir_lock;
    std::optional<ImportStamp> stamp;
};

// Takes WorkDir's lock (creating WorkDir when it is missing; `held` is used
// when it already holds WorkDir), checks that the clip is a regular file it
// can read, deletes the previous clip's frames and stamp and any link
// standing where the encoder will write, then runs the info, extraction and
// sound commands, counts the frames and stamps them. A cancel stops the
// command that runs and skips the rest; the frames extracted so far stay (a
// last frame that does not decode is removed). Details are in `language`.
ImportOutcome import_video(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                           const std::filesystem::path& work_dir, ImportProgress& progress,
                           std::string_view language = "eng",
                           std::shared_ptr<WorkDirLock> held = nullptr);

// What went wrong, for the user in the interface language: the problem's
// message and its detail; empty without a problem.
std::string import_problem_text(const ImportOutcome& outcome, std::string_view language);

}  // namespace tintora
