#include "core/video/video_import.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <system_error>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/correction/jpeg_codec.hpp"
#include "core/video/encoder_report.hpp"
#include "core/video/video_texts.hpp"
#include "core/video/work_dir_lock.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kFramePattern = "pic%4d.jpg";

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string fixed_six_decimals(double value) {
    char buffer[400];
    const std::to_chars_result written =
        std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
    if (written.ec != std::errc()) return "0.000000";
    return std::string(buffer, written.ptr);
}

// Reads "HH:MM:SS" or "HH:MM:SS.ss" at the start of text.
std::optional<double> parse_duration(std::string_view text) {
    const auto read_number = [&text](double& value, bool fraction_allowed) {
        std::size_t length = 0;
        while (length < text.size() &&
               (is_digit(text[length]) || (fraction_allowed && text[length] == '.'))) {
            ++length;
        }
        if (length == 0) return false;
        const std::from_chars_result read =
            std::from_chars(text.data(), text.data() + length, value, std::chars_format::fixed);
        if (read.ec != std::errc() || read.ptr == text.data()) return false;
        text.remove_prefix(static_cast<std::size_t>(read.ptr - text.data()));
        return true;
    };
    double hours = 0;
    double minutes = 0;
    double seconds = 0;
    if (!read_number(hours, false) || text.empty() || text.front() != ':') return std::nullopt;
    text.remove_prefix(1);
    if (!read_number(minutes, false) || text.empty() || text.front() != ':') return std::nullopt;
    text.remove_prefix(1);
    if (!read_number(seconds, true)) return std::nullopt;
    return hours * 3600 + minutes * 60 + seconds;
}

std::string read_info_text(const fs::path& path) {
    const Result<std::vector<std::uint8_t>> bytes = read_file_bytes(path);
    if (!bytes) return {};
    const std::string_view content(reinterpret_cast<const char*>(bytes.value().data()),
                                   bytes.value().size());
    std::string text;
    text.reserve(content.size());
    std::size_t begin = 0;
    while (begin < content.size()) {
        std::size_t end = content.find('\n', begin);
        const std::size_t next = end == std::string_view::npos ? content.size() : end + 1;
        if (end == std::string_view::npos) end = content.size();
        std::string_view line = content.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (begin != 0) text += '\n';
        text += line;
        begin = next;
    }
    return text;
}

// The frame files are numbered without gaps, so the last one is found by
// probing upwards from a number known to exist.
int last_frame_from(const fs::path& work_dir, int known) {
    std::error_code error;
    while (known < kMaxImportedFrames && fs::exists(frame_file_path(work_dir, known + 1), error)) {
        ++known;
    }
    return known;
}

// Whether the error output file could be written: a failed start is then the
// encoder's fault, otherwise WorkDir's.
Status check_writable(const fs::path& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return file_error(path, "Cannot write", errno);
    ::close(fd);
    return {};
}

// Why the clip cannot be handed to the encoder, or nothing: a FIFO or a
// device would keep it waiting, and a folder or a missing file has no video.
std::optional<std::string> clip_refusal(const fs::path& clip, std::string_view language) {
    struct stat status {};
    if (::stat(clip.c_str(), &status) != 0) return file_error(clip, "Cannot open", errno).message;
    if (!S_ISREG(status.st_mode)) {
        return fill_in(message_text(message_texts::kNotARegularFile, language), {clip.string()});
    }
    if (::access(clip.c_str(), R_OK) != 0) return file_error(clip, "Cannot read", errno).message;
    return std::nullopt;
}

// The first frame number from 1 to count that has no file, or nothing.
std::optional<int> first_missing_frame(const fs::path& work_dir, int count) {
    for (int number = 1; number <= count; ++number) {
        std::error_code error;
        if (!fs::is_regular_file(fs::symlink_status(frame_file_path(work_dir, number), error))) {
            return number;
        }
    }
    return std::nullopt;
}

// The encoder writes these by their names; a link of such a name would have
// it write wherever the link points.
Status remove_links_to_be_written(const fs::path& work_dir) {
    for (const fs::path& path : {info_file_path(work_dir), sound_file_path(work_dir)}) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(path, error))) continue;
        fs::remove(path, error);
        if (error) return file_error(path, "Cannot delete", error.value());
    }
    return {};
}

}  // namespace

fs::path frame_file_path(const fs::path& work_dir, int number) {
    char name[32];
    std::snprintf(name, sizeof name, "pic%04d.jpg", number);
    return work_dir / name;
}

fs::path info_file_path(const fs::path& work_dir) { return work_dir / "1.tmp"; }

fs::path sound_file_path(const fs::path& work_dir) { return work_dir / "sound.wav"; }

bool is_numbered_jpeg_name(std::string_view file_name, std::string_view prefix_name) {
    constexpr std::string_view suffix = ".jpg";
    if (file_name.size() < prefix_name.size() + 4 + suffix.size()) return false;
    if (file_name.substr(0, prefix_name.size()) != prefix_name) return false;
    if (file_name.substr(file_name.size() - suffix.size()) != suffix) return false;
    for (std::size_t i = prefix_name.size(); i < file_name.size() - suffix.size(); ++i) {
        if (!is_digit(file_name[i])) return false;
    }
    return true;
}

bool is_frame_file_name(std::string_view name) { return is_numbered_jpeg_name(name, "pic"); }

namespace {

enum class Links { Followed, Listed };

// The frame files directly in work_dir (with Links::Listed also the links of
// frame names, dangling or not, instead of what they point to); an error
// when the folder exists but cannot be read.
Result<std::vector<fs::path>> list_frame_files(const fs::path& work_dir, Links links) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator entry(work_dir, error);
    if (error == std::errc::no_such_file_or_directory) return found;
    for (; !error && entry != fs::directory_iterator(); entry.increment(error)) {
        if (!is_frame_file_name(entry->path().filename().string())) continue;
        std::error_code type_error;
        if (links == Links::Listed && entry->is_symlink(type_error)) {
            found.push_back(entry->path());
        } else if (entry->is_regular_file(type_error)) {
            found.push_back(entry->path());
        }
    }
    if (error) return file_error(work_dir, "Cannot read the folder", error.value());
    return found;
}

}  // namespace

int count_frame_files(const fs::path& work_dir) {
    const Result<std::vector<fs::path>> files = list_frame_files(work_dir, Links::Followed);
    return files ? static_cast<int>(files.value().size()) : 0;
}

Status delete_frame_files(const fs::path& work_dir) {
    const Result<std::vector<fs::path>> files = list_frame_files(work_dir, Links::Listed);
    if (!files) return Error{files.error()};
    for (const fs::path& file : files.value()) {
        std::error_code error;
        fs::remove(file, error);
        if (error && error != std::errc::no_such_file_or_directory) {
            return file_error(file, "Cannot delete", error.value());
        }
    }
    return {};
}

Command info_command(const fs::path& ffmpeg, const fs::path& clip, const fs::path& work_dir) {
    return Command{ffmpeg, {"-i", path_argument(clip)}, info_file_path(work_dir)};
}

std::string frame_pattern_argument(const fs::path& folder) {
    // The pattern's file part is added after the doubling; only it expands.
    const std::string pattern = path_argument(folder / std::string(kFramePattern));
    const std::string_view folder_part =
        std::string_view(pattern).substr(0, pattern.size() - kFramePattern.size());
    std::string escaped;
    for (const char c : folder_part) {
        escaped += c;
        if (c == '%') escaped += '%';
    }
    return escaped + std::string(kFramePattern);
}

Command extraction_command(const fs::path& ffmpeg, const fs::path& clip, const fs::path& work_dir) {
    return Command{ffmpeg,
                   {"-i", path_argument(clip), "-vframes", std::to_string(kMaxImportedFrames),
                    "-qscale", "1", frame_pattern_argument(work_dir)},
                   {}};
}

Command sound_command(const fs::path& ffmpeg, const fs::path& clip, const fs::path& work_dir) {
    return Command{
        ffmpeg, {"-i", path_argument(clip), "-y", path_argument(sound_file_path(work_dir))}, {}};
}

Command play_command(const fs::path& ffplay, const fs::path& clip, int current_frame,
                     double input_fps) {
    double seconds = 0.0;
    if (std::isfinite(input_fps) && input_fps > 0) seconds = current_frame / input_fps;
    if (!std::isfinite(seconds) || seconds < 0) seconds = 0.0;
    return Command{ffplay, {"-i", path_argument(clip), "-ss", fixed_six_decimals(seconds)}, {}};
}

std::optional<double> parse_input_fps(std::string_view info_text) {
    constexpr std::string_view marker = " fps,";
    const std::size_t length = info_text.size();
    if (length < 6) return std::nullopt;
    for (std::size_t i = 0; i <= length - 6; ++i) {
        if (info_text.compare(i, marker.size(), marker) != 0) continue;
        // Back over the digits and points before the marker, never looking
        // at the very first character.
        std::size_t stop = 0;
        for (std::size_t j = i; j-- > 1;) {
            if (!is_digit(info_text[j]) && info_text[j] != '.') {
                stop = j;
                break;
            }
        }
        if (stop == 0) continue;
        const char* first = info_text.data() + stop + 1;
        const char* last = info_text.data() + i;
        double rate = 0;
        const std::from_chars_result read =
            std::from_chars(first, last, rate, std::chars_format::general);
        if (read.ec == std::errc() && read.ptr != first) return rate;
    }
    return std::nullopt;
}

std::optional<int> expected_frame_count(std::string_view info_text) {
    constexpr std::string_view label = "Duration: ";
    std::optional<double> duration;
    for (std::size_t at = info_text.find(label); at != std::string_view::npos && !duration;
         at = info_text.find(label, at + 1)) {
        duration = parse_duration(info_text.substr(at + label.size()));
    }
    const std::optional<double> rate = parse_input_fps(info_text);
    if (!duration || !rate) return std::nullopt;
    const double frames = std::round(*duration * *rate);
    if (!std::isfinite(frames) || frames < 1) return std::nullopt;
    return frames >= kMaxImportedFrames ? kMaxImportedFrames : static_cast<int>(frames);
}

bool has_audio_stream(std::string_view info_text) {
    std::size_t begin = 0;
    while (begin <= info_text.size()) {
        std::size_t end = info_text.find('\n', begin);
        if (end == std::string_view::npos) end = info_text.size();
        const std::string_view line = info_text.substr(begin, end - begin);
        if (line.find("Stream #") != std::string_view::npos &&
            line.find("Audio:") != std::string_view::npos) {
            return true;
        }
        begin = end + 1;
    }
    return false;
}

ImportOutcome import_video(const fs::path& ffmpeg, const fs::path& clip, const fs::path& work_dir,
                           ImportProgress& progress, std::string_view language,
                           std::shared_ptr<WorkDirLock> held) {
    ImportOutcome outcome;
    progress.stage = ImportStage::Describing;
    progress.frames_extracted = 0;
    progress.frames_expected = -1;
    std::shared_ptr<WorkDirLock> lock = lock_for(work_dir, std::move(held));
    const auto finish = [&]() -> ImportOutcome& {
        outcome.frame_count = count_frame_files(work_dir);
        progress.frames_extracted = outcome.frame_count;
        progress.stage = ImportStage::Finished;
        if (outcome.frame_count > 0) {
            // Frames nobody can vouch for are as good as none.
            outcome.stamp = stamp_of_clip(clip, outcome.frame_count);
            const Status stamped = outcome.stamp ? write_import_stamp(work_dir, *outcome.stamp)
                                                 : Status(file_error(clip, "Cannot open", errno));
            if (!stamped) {
                outcome.stamp.reset();
                outcome.problem = ImportProblem::WorkDirUnusable;
                outcome.problem_detail = stamped.error();
                return outcome;
            }
            outcome.work_dir_lock = lock;
        }
        return outcome;
    };
    // The first problem is the one reported; later steps do not overwrite it.
    const auto fail = [&](ImportProblem problem, std::string detail) {
        if (outcome.problem == ImportProblem::None) {
            outcome.problem = problem;
            outcome.problem_detail = std::move(detail);
        }
    };
    // Before anything in WorkDir is touched.
    const auto refuse = [&](ImportProblem problem, std::string detail) -> ImportOutcome& {
        fail(problem, std::move(detail));
        progress.stage = ImportStage::Finished;
        return outcome;
    };
    const auto command_failed = [&](ImportProblem problem, const Command& command,
                                    const CommandResult& result) {
        fail(problem, describe_command_failure(command, result, language));
    };
    const KeepRunning until_cancelled = [&progress] { return !progress.cancel_requested; };

    if (!lock->held()) {
        return refuse(lock->in_use() ? ImportProblem::WorkDirInUse : ImportProblem::WorkDirUnusable,
                      work_dir_lock_refusal(*lock, work_dir, language));
    }
    if (const std::optional<std::string> refused = clip_refusal(clip, language)) {
        return refuse(ImportProblem::ClipUnreadable, *refused);
    }
    remove_import_stamp(work_dir);
    Status cleared = delete_frame_files(work_dir);
    if (cleared) cleared = remove_links_to_be_written(work_dir);
    if (!cleared) return refuse(ImportProblem::WorkDirUnusable, cleared.error());

    const Command info = info_command(ffmpeg, clip, work_dir);
    const CommandResult described = run_command(info, until_cancelled);
    if (!described.started) {
        const fs::path info_file = info_file_path(work_dir);
        if (const Status writable = check_writable(info_file); !writable) {
            fail(ImportProblem::WorkDirUnusable, writable.error());
        } else {
            command_failed(ImportProblem::EncoderMissing, info, described);  // names the program
        }
        progress.stage = ImportStage::Finished;
        return outcome;
    }
    outcome.info_text = read_info_text(info_file_path(work_dir));
    progress.frames_expected = expected_frame_count(outcome.info_text).value_or(-1);
    if (described.cancelled) {
        outcome.cancelled = true;
        return finish();
    }

    progress.stage = ImportStage::Extracting;
    // One stat per new frame: the encoder writes them in order, so the next
    // number is the only one worth asking about.
    int next_frame = 1;
    const KeepRunning count_frames = [&] {
        std::error_code probe_error;
        while (next_frame <= kMaxImportedFrames &&
               fs::exists(frame_file_path(work_dir, next_frame), probe_error)) {
            progress.frames_extracted = next_frame;
            ++next_frame;
        }
        return !progress.cancel_requested;
    };
    const Command extraction = extraction_command(ffmpeg, clip, work_dir);
    const CommandResult extracted = run_command(extraction, count_frames);
    if (extracted.cancelled) {
        outcome.cancelled = true;
        // The frame being written when the encoder was stopped may be cut off.
        std::error_code error;
        const int last = last_frame_from(work_dir, next_frame - 1);
        if (last >= 1) {
            const fs::path last_file = frame_file_path(work_dir, last);
            if (!load_jpeg(last_file)) fs::remove(last_file, error);
        }
        return finish();
    }
    const int extracted_count = count_frame_files(work_dir);
    if (!extracted.succeeded() || extracted_count == 0) {
        command_failed(ImportProblem::ExtractionFailed, extraction, extracted);
    } else if (const std::optional<int> missing = first_missing_frame(work_dir, extracted_count)) {
        // Frames are read by number: one that is not there cannot be counted on.
        fail(ImportProblem::ExtractionFailed,
             fill_in(message_text(message_texts::kFrameMissing, language),
                     {std::to_string(*missing), std::to_string(extracted_count)}));
    }

    progress.stage = ImportStage::ExtractingSound;
    const Command sound_extraction = sound_command(ffmpeg, clip, work_dir);
    const CommandResult sound = run_command(sound_extraction, until_cancelled);
    if (sound.cancelled) {
        outcome.cancelled = true;
    } else if (!sound.succeeded() && has_audio_stream(outcome.info_text)) {
        command_failed(ImportProblem::SoundFailed, sound_extraction, sound);
    }
    return finish();
}

std::string import_problem_text(const ImportOutcome& outcome, std::string_view language) {
    using namespace message_texts;
    const TextPair* headline = nullptr;
    switch (outcome.problem) {
        case ImportProblem::None:
            return {};
        case ImportProblem::WorkDirInUse:
            return outcome.problem_detail;  // says it all
        case ImportProblem::WorkDirUnusable:
            headline = &kWorkDirUnusable;
            break;
        case ImportProblem::EncoderMissing:
            headline = &kEncoderMissing;
            break;
        case ImportProblem::ExtractionFailed:
            headline = &kExtractionFailed;
            break;
        case ImportProblem::SoundFailed:
            headline = &kSoundFailed;
            break;
        case ImportProblem::ClipUnreadable:
            headline = &kClipUnreadable;
            break;
    }
    std::string text(message_text(*headline, language));
    if (!outcome.problem_detail.empty()) text += "\n\n" + outcome.problem_detail;
    return text;
}

}  // namespace tintora
