#include "core/common/file_io.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <utility>
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

}  // namespace

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

Error file_error(const std::filesystem::path& path, const char* action, int error_number) {
    return Error{std::string(action) + " \"" + path.string() +
                 "\": " + std::strerror(error_number)};
}

namespace {

constexpr std::string_view kPartialMark = ".partial";

bool is_decimal(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

std::filesystem::path partial_path(const std::filesystem::path& target, std::string_view unique) {
    // The longest file name Linux file systems take, in bytes.
    constexpr std::size_t kMaxNameBytes = 255;
    const std::filesystem::path name = target.filename();
    std::string stem = name.stem().string();
    std::string extension = name.extension().string();
    const std::string marks =
        std::string(unique) + std::string(kPartialMark) + std::to_string(::getpid());
    const std::size_t fixed = 1 + marks.size();  // the leading "." and the marks
    if (fixed + stem.size() + extension.size() > kMaxNameBytes) {
        // An extension too long to keep is no format an encoder knows anyway.
        if (fixed + extension.size() > kMaxNameBytes) extension.clear();
        std::size_t keep = kMaxNameBytes - fixed - extension.size();
        // Cut at a character's first byte, not inside a UTF-8 sequence.
        while (keep > 0 && keep < stem.size() &&
               (static_cast<unsigned char>(stem[keep]) & 0xC0) == 0x80) {
            --keep;
        }
        stem.resize(std::min(keep, stem.size()));
    }
    return target.parent_path() / ("." + stem + marks + extension);
}

std::optional<long> partial_writer(std::string_view file_name) {
    // ".NAME[UNIQUE].partialPID[.EXT]"
    if (file_name.size() < 2 || file_name.front() != '.') return std::nullopt;
    const std::size_t mark = file_name.rfind(kPartialMark);
    if (mark == std::string_view::npos || mark == 0) return std::nullopt;
    std::string_view rest = file_name.substr(mark + kPartialMark.size());
    const std::string_view digits = rest.substr(0, rest.find('.'));
    rest.remove_prefix(digits.size());
    // A process id has at most ten digits; the extension has no dot of its own.
    if (!is_decimal(digits) || digits.size() > 10) return std::nullopt;
    if (!rest.empty() && rest.find('.', 1) != std::string_view::npos) return std::nullopt;
    return std::stol(std::string(digits));
}

void remove_orphaned_partials(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entry(folder.empty() ? "." : folder, error);
    for (; !error && entry != std::filesystem::directory_iterator(); entry.increment(error)) {
        const std::optional<long> writer = partial_writer(entry->path().filename().string());
        if (!writer || *writer == ::getpid() || *writer <= 0) continue;
        // Only a process that is gone: ESRCH, not EPERM (another user's, alive).
        if (::kill(static_cast<pid_t>(*writer), 0) == 0 || errno != ESRCH) continue;
        struct stat status {};
        if (::lstat(entry->path().c_str(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != ::getuid()) {
            continue;
        }
        ::unlink(entry->path().c_str());
    }
}

Status sync_folder(const std::filesystem::path& folder) {
    const std::filesystem::path path = folder.empty() ? "." : folder;
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return file_error(path, "Cannot open the folder", errno);
    const FileCloser closer{fd};
    // Some file systems cannot sync a folder; that is no failure of ours.
    if (::fsync(fd) != 0 && errno != EINVAL && errno != EROFS) {
        return file_error(path, "Cannot write", errno);
    }
    return {};
}

Result<PendingFile> PendingFile::create(const std::filesystem::path& target) {
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

    // What a killed run left in this folder goes now.
    remove_orphaned_partials(path.parent_path());
    constexpr std::string_view kUnique = ".XXXXXX";
    const std::string name_template = partial_path(path, kUnique).string();
    const std::size_t unique_end = name_template.rfind(kUnique) + kUnique.size();
    std::vector<char> name(name_template.begin(), name_template.end());
    name.push_back('\0');
    const int fd =
        ::mkostemps(name.data(), static_cast<int>(name_template.size() - unique_end), O_CLOEXEC);
    if (fd < 0) return failure(path, errno);
    PendingFile pending;
    pending.target_ = path;
    pending.temporary_ = std::filesystem::path(name.data());
    pending.fd_ = fd;
    const mode_t mode = exists ? (old_status.st_mode & 07777) : new_file_mode();
    if (::fchmod(fd, mode) != 0) return failure(path, errno);
    return pending;
}

PendingFile::PendingFile(PendingFile&& other) noexcept
    : target_(std::move(other.target_)),
      temporary_(std::move(other.temporary_)),
      fd_(std::exchange(other.fd_, -1)),
      committed_(std::exchange(other.committed_, true)) {}

PendingFile& PendingFile::operator=(PendingFile&& other) noexcept {
    if (this != &other) {
        discard();
        target_ = std::move(other.target_);
        temporary_ = std::move(other.temporary_);
        fd_ = std::exchange(other.fd_, -1);
        committed_ = std::exchange(other.committed_, true);
    }
    return *this;
}

PendingFile::~PendingFile() { discard(); }

void PendingFile::discard() {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    if (!committed_ && !temporary_.empty()) ::unlink(temporary_.c_str());
    committed_ = true;
}

Status PendingFile::write(std::string_view bytes) {
    if (fd_ < 0 || !write_all(fd_, bytes)) return failure(target_, fd_ < 0 ? EBADF : errno);
    return {};
}

bool PendingFile::has_content() const {
    struct stat status {};
    return ::stat(temporary_.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           status.st_size > 0;
}

Status PendingFile::commit() {
    if (committed_ || fd_ < 0) return failure(target_, EBADF);
    // What an encoder wrote went to the same file through its own descriptor.
    bool ok = ::fsync(fd_) == 0;
    int error_number = ok ? 0 : errno;
    if (::close(std::exchange(fd_, -1)) != 0 && ok) {
        ok = false;
        error_number = errno;
    }
    if (ok && ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        ok = false;
        error_number = errno;
    }
    if (!ok) {
        discard();
        return failure(target_, error_number);
    }
    committed_ = true;
    return sync_folder(target_.parent_path());
}

Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes) {
    Result<PendingFile> pending = PendingFile::create(target);
    if (!pending) return Error{pending.error()};
    if (Status written = pending.value().write(bytes); !written) return written;
    return pending.value().commit();
}

Status write_file(const std::filesystem::path& path, std::string_view bytes, Sync sync) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return failure(path, errno);
    bool ok = write_all(fd, bytes);
    int error_number = ok ? 0 : errno;
    if (ok && sync == Sync::Yes && ::fsync(fd) != 0) {
        ok = false;
        error_number = errno;
    }
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
