#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "core/common/result.hpp"

namespace tintora {

// The most read_file_bytes takes unless the caller says otherwise: far more
// than any project or text file the program writes, far less than memory.
inline constexpr std::size_t kDefaultReadLimit = std::size_t{64} << 20;

// "<action> "<path>": <reason of error_number>", for failed file operations.
Error file_error(const std::filesystem::path& path, const char* action, int error_number);

// The hidden name an output is made under before it is renamed into place:
// ".NAME", `unique`, ".partial" and this process's id put before NAME's
// extension (so an encoder still picks the format from it), in the target's
// folder (so the rename is atomic). Where that is longer than a file name may
// be, the name part is shortened, never the user's own name.
std::filesystem::path partial_path(const std::filesystem::path& target,
                                   std::string_view unique = {});

// The process that writes a file of a partial name, or nothing for any
// other name.
std::optional<long> partial_writer(std::string_view file_name);

// Removes the partial files in `folder` whose writer has ended without
// putting them in place (killed, say): regular files of this user named as
// partial_path names them, written by a process that no longer runs. Any
// other file is left alone.
void remove_orphaned_partials(const std::filesystem::path& folder);

// The file the path names once every link in turn is followed: the last
// link's target, which may not exist yet (so a new file written through
// the path lands there).
Result<std::filesystem::path> final_link_target(const std::filesystem::path& target);

// Flushes a folder's entries (a rename or a new name in it) to the disk.
Status sync_folder(const std::filesystem::path& folder);

// A file made under a hidden temporary name beside its target and renamed
// over the target by commit() only; destroyed uncommitted, the temporary file
// goes and the target is left byte for byte as it was. Every output a user
// keeps is written through it, by this program or by an encoder given
// temporary() as its output.
class PendingFile {
public:
    // Checks the target as writing it in place would (a folder, a FIFO, a
    // device or a file the user may not write is refused, a link is followed
    // to the file it finally names) and creates an empty temporary file with a
    // name of its own, with the permissions the target has or a new file gets.
    static Result<PendingFile> create(const std::filesystem::path& target);

    PendingFile(PendingFile&& other) noexcept;
    PendingFile& operator=(PendingFile&& other) noexcept;
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;
    ~PendingFile();

    const std::filesystem::path& target() const { return target_; }
    const std::filesystem::path& temporary() const { return temporary_; }

    // Appends to the temporary file.
    Status write(std::string_view bytes);
    // Whether anything was written into the temporary file (by anyone).
    bool has_content() const;
    // Flushes the temporary file to the disk, renames it over the target and
    // flushes the folder, so the new name survives a crash.
    Status commit();

private:
    PendingFile() = default;
    void discard();

    std::filesystem::path target_;
    std::filesystem::path temporary_;
    int fd_ = -1;
    bool committed_ = false;
};

// Writes the bytes through a PendingFile, so a failed write (full disk, no
// permission) leaves the old file whole. An existing file keeps its permissions. A link is followed
// to the file it finally names, which is created when missing; the link
// stays. An existing file the user may not write, or one that is not a
// regular file, is refused as writing it in place would be, not replaced.
Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes);

// Writes the bytes to the file, replacing it; with `sync` flushed to the disk
// before it is closed. For files the program makes under names of its own,
// renamed into place afterwards.
enum class Sync { No, Yes };
Status write_file(const std::filesystem::path& path, std::string_view bytes, Sync sync = Sync::No);

// The whole content of a regular file of at most max_bytes. A folder, a
// FIFO, a device or a larger file is an error naming the file, so a path
// typed by the user can neither block the program nor fill its memory.
Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path,
                                                  std::size_t max_bytes = kDefaultReadLimit);

}  // namespace tintora
