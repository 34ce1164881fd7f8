#include "core/video/import_stamp.hpp"

#include <sys/stat.h>

#include <charconv>
#include <string>
#include <system_error>
#include <vector>

#include "core/common/file_io.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {
namespace {

// The clip's path comes last and runs to the end of the file: a path may
// hold any byte but NUL, line breaks included.
constexpr std::string_view kSizeKey = "SIZE=";
constexpr std::string_view kModifiedKey = "MODIFIED=";
constexpr std::string_view kFramesKey = "FRAMES=";
constexpr std::string_view kClipKey = "CLIP=";

// The largest stamp file read: a few numbers and one path.
constexpr std::size_t kMaxStampBytes = 64 * 1024;

template <class Number>
bool read_number_line(std::string_view& text, std::string_view key, Number& value) {
    if (text.substr(0, key.size()) != key) return false;
    text.remove_prefix(key.size());
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return false;
    const std::from_chars_result read = std::from_chars(text.data(), text.data() + end, value);
    if (read.ec != std::errc() || read.ptr != text.data() + end) return false;
    text.remove_prefix(end + 1);
    return true;
}

}  // namespace

std::filesystem::path import_stamp_path(const std::filesystem::path& work_dir) {
    return work_dir / ".tintora-import";
}

std::optional<ImportStamp> stamp_of_clip(const std::filesystem::path& clip, int frame_count) {
    struct stat status {};
    if (::stat(clip.c_str(), &status) != 0) return std::nullopt;
    std::error_code error;
    std::filesystem::path absolute = std::filesystem::absolute(clip, error);
    if (error) absolute = clip;
    return ImportStamp{absolute.lexically_normal(), static_cast<std::uintmax_t>(status.st_size),
                       std::int64_t{status.st_mtim.tv_sec} * 1'000'000'000 + status.st_mtim.tv_nsec,
                       frame_count};
}

Status write_import_stamp(const std::filesystem::path& work_dir, const ImportStamp& stamp) {
    const std::string text = std::string(kSizeKey) + std::to_string(stamp.size) + "\n" +
                             std::string(kModifiedKey) + std::to_string(stamp.modified_ns) + "\n" +
                             std::string(kFramesKey) + std::to_string(stamp.frame_count) + "\n" +
                             std::string(kClipKey) + stamp.clip.string();
    return write_file_atomically(import_stamp_path(work_dir), text);
}

void remove_import_stamp(const std::filesystem::path& work_dir) {
    std::error_code ignored;
    std::filesystem::remove(import_stamp_path(work_dir), ignored);
}

std::optional<ImportStamp> read_import_stamp(const std::filesystem::path& work_dir) {
    const Result<std::vector<std::uint8_t>> bytes =
        read_file_bytes(import_stamp_path(work_dir), kMaxStampBytes);
    if (!bytes) return std::nullopt;
    std::string_view text(reinterpret_cast<const char*>(bytes.value().data()), bytes.value().size());
    ImportStamp stamp;
    if (!read_number_line(text, kSizeKey, stamp.size) ||
        !read_number_line(text, kModifiedKey, stamp.modified_ns) ||
        !read_number_line(text, kFramesKey, stamp.frame_count) ||
        text.substr(0, kClipKey.size()) != kClipKey) {
        return std::nullopt;
    }
    stamp.clip = std::string(text.substr(kClipKey.size()));
    return stamp;
}

std::optional<std::string> foreign_frames_refusal(const std::filesystem::path& work_dir,
                                                  const ImportStamp& expected,
                                                  std::string_view language) {
    if (read_import_stamp(work_dir) == expected) return std::nullopt;
    return fill_in(message_text(message_texts::kForeignFrames, language),
                   {work_dir.string(), expected.clip.string()});
}

}  // namespace tintora
