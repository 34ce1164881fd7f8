#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "core/common/app_settings.hpp"
#include "core/common/result.hpp"
#include "core/correction/correction_grid.hpp"
#include "core/video/command_runner.hpp"
#include "core/video/processing_run.hpp"
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
// only its files) when present.
Status prepare_converted_folder(const std::filesystem::path& work_dir);

// "%g" seconds of frame numbers: where the range starts (frame 1 at 0 s) and
// how long it lasts (one frame period less than its frames).
std::string range_start_seconds(int start_frame, double input_fps);
std::string range_duration_seconds(int start_frame, int stop_frame, double input_fps);

// ffmpeg -i CLIP -y -ss START -t DURATION OUTPUT: the sound of the range.
Command sound_cut_command(const std::filesystem::path& ffmpeg, const std::filesystem::path& clip,
                          int start_frame, int stop_frame, double input_fps,
                          const std::filesystem::path& output);

// ffmpeg -i WorkDir/converted/pic%4d.jpg -y [-i WorkDir/converted/sound.wav
// -ar RATE -ab BITRATEk -ac CHANNELS -vol VOLUME] -b BITS -r FPS OUTPUT; the
// sound options are left out for "No audio" (or a clip without sound).
Command video_encoding_command(const std::filesystem::path& ffmpeg,
                               const std::filesystem::path& work_dir,
                               const VideoParameters& parameters, bool with_sound, int volume,
                               double output_fps, const std::filesystem::path& output);

// What an export reads of the Parameters tab, prepared for a run. Each first
// brings the fields it reads into range by the tab's own rules (a start
// field without a number, a stop beyond the clip, a cut beyond the frame),
// stores StartFrame, StopFrame, RunFrame, the cut and the resample size in
// the session, and prepares the destination. The caller has checked that a
// clip is open. A refusal is the message for the user.

// "Save flv": the frames into WorkDir/converted, then the sound of the range
// and the encoding into `output`.
Result<RunJob> prepare_video_export(VideoWorkspace& workspace, const AppSettings& settings,
                                    const CorrectionGrid& grid,
                                    const std::filesystem::path& output);
// "Save jpeg sequence": the frames as prefix0001.jpg … after the files of
// that prefix are deleted.
Result<RunJob> prepare_sequence_export(VideoWorkspace& workspace, const AppSettings& settings,
                                       const CorrectionGrid& grid, const std::string& prefix);
// "Save wav": the one command that cuts the sound of the range into `output`.
Result<Command> prepare_wav_export(VideoWorkspace& workspace, const AppSettings& settings,
                                   const std::filesystem::path& output);

// A decimal number at the start of the text (blanks and a sign allowed),
// 0 when there is none: how the run reads the end-frame fields.
int leading_number(std::string_view text);

}  // namespace tintora
