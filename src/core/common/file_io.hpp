#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/common/result.hpp"

namespace tintora {

// The most read_file_bytes takes unless the caller says otherwise: far more
// than any project or text file the program writes, far less than memory.
inline constexpr std::size_t kDefaultReadLimit = std::size_t{64} << 20;

// "<action> "<path>": <reason of error_number>", for failed file operations.
Error file_error(const std::filesystem::path& path, const char* action, int error_number);

// Writes the bytes to a temporary file in the target's folder and renames it
// over the target, so a failed write (full disk, no permission) leaves the
// old file whole. An existing file keeps its permissions. A link is followed
// to the file it finally names, which is created when missing; the link
// stays. An existing file the user may not write, or one that is not a
// regular file, is refused as writing it in place would be, not replaced.
Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes);

// Writes the bytes to the file, replacing it; no sync to the disk. For files
// the program makes under names of its own, renamed into place afterwards.
Status write_file(const std::filesystem::path& path, std::string_view bytes);

// The whole content of a regular file of at most max_bytes. A folder, a
// FIFO, a device or a larger file is an error naming the file, so a path
// typed by the user can neither block the program nor fill its memory.
Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path,
                                                  std::size_t max_bytes = kDefaultReadLimit);

}  // namespace tintora
