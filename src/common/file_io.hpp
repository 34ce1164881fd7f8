#pragma once

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "common/result.hpp"

namespace tintora {

// "<action> "<path>": <reason of error_number>", for failed file operations.
Error file_error(const std::filesystem::path& path, const char* action, int error_number);

// Writes the bytes to a temporary file in the target's folder and renames it
// over the target, so a failed write (full disk, no permission) leaves the
// old file whole. An existing file keeps its permissions.
Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes);

// Writes the bytes to the file, replacing it; no sync to the disk. For files
// the program makes under names of its own, renamed into place afterwards.
Status write_file(const std::filesystem::path& path, std::string_view bytes);

// The whole content of a file.
Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path);

}  // namespace tintora
