#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "core/common/result.hpp"

namespace tintora {

// What an import leaves beside its frames, so that whoever reads them later
// can tell they are still the frames of the clip it imported, and not those
// another program or window put in the same working folder since: the
// clip's path, size and modification time, and how many frames it gave.
struct ImportStamp {
    std::filesystem::path clip;
    std::uintmax_t size = 0;
    std::int64_t modified_ns = 0;
    int frame_count = 0;

    bool operator==(const ImportStamp&) const = default;
};

// WorkDir/.tintora-import
std::filesystem::path import_stamp_path(const std::filesystem::path& work_dir);

// The stamp of `frame_count` frames of the clip as it is on the disk now;
// nothing when the clip cannot be looked at.
std::optional<ImportStamp> stamp_of_clip(const std::filesystem::path& clip, int frame_count);

// The stamp file is written once the frames are all there and removed before
// any of them is deleted, so that it never vouches for frames of another clip.
Status write_import_stamp(const std::filesystem::path& work_dir, const ImportStamp& stamp);
void remove_import_stamp(const std::filesystem::path& work_dir);
// What the stamp file says; nothing when it is missing or unreadable.
std::optional<ImportStamp> read_import_stamp(const std::filesystem::path& work_dir);

// Why the frames in work_dir cannot be read as those of the import that
// gave `expected`, for the user in the interface language; nothing when they can.
std::optional<std::string> foreign_frames_refusal(const std::filesystem::path& work_dir,
                                                  const ImportStamp& expected,
                                                  std::string_view language);

}  // namespace tintora
