#include "core/common/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace tintora {
namespace {

Error failure(const std::filesystem::path& path, int error_number) {
    return file_error(path, "Cannot write", error_number);
}

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// What a newly created file gets: read and write for all, less the umask.
mode_t new_file_mode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

// Folders, FIFOs and devices are refused: a FIFO blocks a read until someone
// writes, and a device such as /dev/zero never ends.
std::optional<Error> refuse_unreadable_kind(const std::filesystem::path& path,
                                            const struct stat& status) {
    if (S_ISDIR(status.st_mode)) return Error{"\"" + path.string() + "\" is a folder, not a file."};
    if (!S_ISREG(status.st_mode)) return Error{"\"" + path.string() + "\" is not a regular file."};
    return std::nullopt;
}

std::string size_text(std::size_t bytes) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    if (bytes >= kMiB && bytes % kMiB == 0) return std::to_string(bytes / kMiB) + " MiB";
    return std::to_string(bytes) + " bytes";
}

Error too_large(const std::filesystem::path& path, std::size_t max_bytes) {
    return Error{"\"" + path.string() + "\" is larger than " + size_text(max_bytes) +
                 ", the most read from such a file."};
}

struct FileCloser {
    int fd;
    ~FileCloser() { ::close(fd); }
};

// Linux gives up after as many links, and so do we.
constexpr int kMaxLinkHops = 40;

// The file the path names once every link in turn is followed: the last
// link's target, which may not exist yet.
Result<std::filesystem::path> final_link_target(const std::filesystem::path& target) {
    std::filesystem::path path = target;
    for (int hops = 0;; ++hops) {
        struct stat status {};
        if (::lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
        if (hops == kMaxLinkHops) return failure(target, ELOOP);
        std::error_code error;
        const std::filesystem::path next = std::filesystem::read_symlink(path, error);
        if (error) return failure(path, error.value());
        // A relative link is read from the folder that holds it.
        path = next.is_absolute() ? next : path.parent_path() / next;
    }
}

}  // namespace

Error file_error(const std::filesystem::path& path, const char* action, int error_number) {
    return Error{std::string(action) + " \"" + path.string() +
                 "\": " + std::strerror(error_number)};
}

Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes) {
    const Result<std::filesystem::path> resolved = final_link_target(target);
    if (!resolved) return Error{resolved.error()};
    const std::filesystem::path& path = resolved.value();

    struct stat old_status {};
    const bool exists = ::stat(path.c_str(), &old_status) == 0;
    if (exists) {
        if (S_ISDIR(old_status.st_mode)) return failure(path, EISDIR);
        // A rename would put a plain file in place of a device or a FIFO.
        if (!S_ISREG(old_status.st_mode)) {
            return Error{"Cannot write \"" + path.string() + "\": it is not a regular file."};
        }
        // The folder's permissions alone allow the rename; without this a
        // read-only file would be silently replaced, and one the user may not
        // read would keep its mode and lose every change at the next start.
        if (::access(path.c_str(), W_OK) != 0) return failure(path, errno);
    }

    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string name_template = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(name_template.begin(), name_template.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return failure(path, errno);
    const std::filesystem::path temporary(name.data());

    const mode_t mode = exists ? (old_status.st_mode & 07777) : new_file_mode();
    bool ok = ::fchmod(fd, mode) == 0 && write_all(fd, bytes) && ::fsync(fd) == 0;
    int error_number = ok ? 0 : errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    if (ok && ::rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        error_number = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return failure(path, error_number);
    }
    return {};
}

Status write_file(const std::filesystem::path& path, std::string_view bytes) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure(path, errno);
    bool ok = write_all(fd, bytes);
    int error_number = ok ? 0 : errno;
    // A full disk may only show when the file is closed.
    if (::close(fd) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    if (!ok) {
        ::unlink(path.c_str());
        return failure(path, error_number);
    }
    return {};
}

Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path,
                                                  std::size_t max_bytes) {
    // Looked at before opening: opening some devices does something by itself.
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return file_error(path, "Cannot open", errno);
    if (const std::optional<Error> refused = refuse_unreadable_kind(path, status)) {
        return *refused;
    }
    // Without O_NONBLOCK, opening a FIFO waits for a writer that never comes.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return file_error(path, "Cannot open", errno);
    const FileCloser closer{fd};
    // What was opened counts: the path may name something else by now.
    if (::fstat(fd, &status) != 0) return file_error(path, "Cannot read", errno);
    if (const std::optional<Error> refused = refuse_unreadable_kind(path, status)) {
        return *refused;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return file_error(path, "Cannot read", errno);
    }
    const std::uint64_t size = static_cast<std::uint64_t>(status.st_size);
    if (size > max_bytes) return too_large(path, max_bytes);

    std::vector<std::uint8_t> bytes;
    try {
        bytes.reserve(static_cast<std::size_t>(size));
        std::uint8_t chunk[1 << 16];
        while (true) {
            const ssize_t got = ::read(fd, chunk, sizeof chunk);
            if (got < 0) {
                if (errno == EINTR) continue;
                return file_error(path, "Cannot read", errno);
            }
            if (got == 0) break;
            // The file may have grown since fstat.
            if (static_cast<std::size_t>(got) > max_bytes - bytes.size()) {
                return too_large(path, max_bytes);
            }
            bytes.insert(bytes.end(), chunk, chunk + got);
        }
    } catch (const std::bad_alloc&) {
        return Error{"Not enough memory to read \"" + path.string() + "\"."};
    }
    return bytes;
}

}  // namespace tintora
