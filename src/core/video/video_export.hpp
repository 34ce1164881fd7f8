#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/common/app_settings.hpp"
#include "core/common/result.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/processing_run.hpp"
#include "core/video/video_formats.hpp"
#include "core/video/video_parameters.hpp"
#include "core/video/video_workspace.hpp"

namespace tintora {

// WorkDir's sub-folder for the frames of a video export.
std::filesystem::path converted_folder(const std::filesystem::path& work_dir);

// The sequence prefix of a chosen JPEG name: with ".JPG" anywhere in its
// upper-case form the last 4 characters go, else with ".JPEG" the last 5.
std::string jpeg_sequence_prefix(const std::string& chosen_name);

// Deletes the files a JPEG sequence of that prefix writes (the prefix's name,
// four or more digits, ".jpg") and nothing else.
Status delete_sequence_files(const std::string& prefix);

// The converted folder created when missing, or emptied of its files (and
// only its files) when present; a link of that name is replaced by a folder.
Status prepare_converted_folder(const std::filesystem::path& work_dir);

// A frame rate as the encoder is to take it: the clip's as the import
// parsed it (or the user typed it), or the output's, exactly. The NTSC
// rates N * 1000 / 1001 are written with two decimals (29.97 for
// 30000/1001) by the encoder and by users; those are taken back to the exact
// fraction, any other rate stands as it is.
struct ExactRate {
    double frames_per_second = 0;
    std::string argument;  // "30000/1001", "25", "12.5"
};
ExactRate exact_frame_rate(double fps);

// "%g" seconds of frame numbers at the exact input rate: where the range
// starts (frame 1 at 0 s) and how long its frames last.
std::string range_start_seconds(int start_frame, double input_fps);
std::string range_duration_seconds(int start_frame, int stop_frame, double input_fps);

// ffmpeg -i CLIP -y -ss START -t DURATION OUTPUT: the sound of the range.
Command sound_cut_command(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                          int start_frame, int stop_frame, double input_fps,
                          const std::filesystem::path& output);

// ffmpeg -framerate INPUT_RATE -i WorkDir/converted/pic%4d.jpg -y
// [-i WorkDir/converted/sound.wav -ar RATE -ab BITRATEk -ac CHANNELS
// -vol VOLUME] -b BITS -r FPS [-t SECONDS] -progress pipe:1 OUTPUT; the
// frames are read at the clip's own rate and -r resamples time (both rates
// exact: 29.97 is 30000/1001), -t keeps a video at another rate as long as
// its `images` pictures, the sound options are left out for "No audio" (or
// a clip without sound), and the encoder reports its progress on its
// standard output.
Command video_encoding_command(const std::filesystem::path& ffmpeg,
                               const std::filesystem::path& work_dir,
                               const VideoParameters& parameters, bool with_sound, int volume,
                               double input_fps, double output_fps, int images,
                               const std::filesystem::path& output);

// The frames an encoding of `images` pictures read at input_fps gives at output_fps.
int expected_encoded_frames(int images, double input_fps, double output_fps);

// Files an export must neither write over nor delete: the project file, its
// own clip and background, and WorkDir, where the import and the run write.
struct ProtectedFiles {
    std::filesystem::path clip;
    std::filesystem::path background;
    std::filesystem::path work_dir;
    std::filesystem::path project;  // empty: no project file yet
};
// Why an export must not write `output`, in the interface language, or
// nothing: an empty name, the project file, the clip or the background (also
// through a link), or a name the import or the run writes in WorkDir.
std::optional<std::string> output_refusal(const std::filesystem::path& output,
                                          const ProtectedFiles& files, std::string_view language);
// Why the outputs of one run cannot all be written: two of them are the same
// file (a poster named, or linked, like the video); nothing when they are
// all different.
std::optional<std::string> clashing_outputs_refusal(
    const std::vector<std::filesystem::path>& outputs, std::string_view language);
// The same for the files a JPEG sequence of that prefix writes and deletes.
std::optional<std::string> sequence_refusal(const std::string& prefix, const ProtectedFiles& files,
                                            std::string_view language);

// What an export reads of the Parameters tab, prepared for a run. Each first
// brings the fields it reads into range by the tab's own rules (a start
// field without a number, a stop beyond the clip, a cut beyond the frame),
// stores StartFrame, StopFrame, RunFrame, the cut and the resample size in
// the session, refuses a destination it must not write (the project's clip
// or background, WorkDir's own files, a WorkDir another program uses) before
// anything is written, and prepares the destination. Outputs are made under
// temporary names and put in place only when whole. The caller has checked
// that a clip is open. A refusal is the message for the user.

// "Save flv": the frames into WorkDir/converted, then the sound of the range
// and the encoding into `output`.
Result<RunJob> prepare_video_export(VideoWorkspace& workspace, const AppSettings& settings,
                                    const CorrectionGrid& grid,
                                    const std::filesystem::path& background,
                                    const std::filesystem::path& output);
// "Save video…": MP4 and WebM with the frames streamed raw into one encoder
// that also cuts the sound of the range from the clip (no files in
// WorkDir/converted); FLV as "Save flv".
Result<RunJob> prepare_video_export_as(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid,
                                       const std::filesystem::path& background,
                                       const VideoTarget& target);
// A streamed export whose frames are presented otherwise (the hotspot
// video): once the output frames' size is known, presentation_for gives the
// size each is presented at and how; the same presented frames go to the
// target and to more formats in one encoder; a poster of the first frame is
// always written; the run also writes what after_outputs does. Every name,
// also_written's too, is refused as any export's would be, before anything
// is written.
struct Presentation {
    EvenSize size;
    std::function<Frame(const Frame&)> present;
};
struct PresentedExport {
    std::function<Result<Presentation>(FrameSize output_frame)> presentation_for;
    std::vector<VideoTarget> more_targets;
    std::vector<std::filesystem::path> also_written;
    std::function<Status()> after_outputs;
};
Result<RunJob> prepare_presented_export(VideoWorkspace& workspace, const AppSettings& settings,
                                        const CorrectionGrid& grid,
                                        const std::filesystem::path& background,
                                        const VideoTarget& target,
                                        const PresentedExport& presented);
// Where a video export with "Poster image" ticked puts its first output
// frame as a JPEG: the video's name with ".jpg" for its extension; nothing
// for a video that is named so itself.
std::optional<std::filesystem::path> poster_path(const std::filesystem::path& output);
// "Save jpeg sequence": the frames as prefix0001.jpg … after the files of
// that prefix are deleted.
Result<RunJob> prepare_sequence_export(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid,
                                       const std::filesystem::path& background,
                                       const std::string& prefix);
// "Save wav": a job without frames whose one command cuts the sound of the
// range into `output`.
Result<RunJob> prepare_wav_export(VideoWorkspace& workspace, const AppSettings& settings,
                                  const std::filesystem::path& background,
                                  const std::filesystem::path& output);

// A decimal number at the start of the text (blanks and a sign allowed),
// 0 when there is none: how the run reads the end-frame fields.
int leading_number(std::string_view text);

}  // namespace tintora
