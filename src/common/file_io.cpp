#include "common/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
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

}  // namespace

Error file_error(const std::filesystem::path& path, const char* action, int error_number) {
    return Error{std::string(action) + " \"" + path.string() +
                 "\": " + std::strerror(error_number)};
}

Status write_file_atomically(const std::filesystem::path& target, std::string_view bytes) {
    // A link is followed, so the file it names is replaced, not the link.
    std::filesystem::path path = target;
    std::error_code link_error;
    if (std::filesystem::is_symlink(target, link_error)) {
        const std::filesystem::path resolved =
            std::filesystem::weakly_canonical(target, link_error);
        if (!link_error && !resolved.empty()) path = resolved;
    }
    const std::filesystem::path folder =
        path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    std::string name_template = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    std::vector<char> name(name_template.begin(), name_template.end());
    name.push_back('\0');
    const int fd = ::mkstemp(name.data());
    if (fd < 0) return failure(path, errno);
    const std::filesystem::path temporary(name.data());

    struct stat old_status {};
    const mode_t mode =
        ::stat(path.c_str(), &old_status) == 0 ? (old_status.st_mode & 07777) : new_file_mode();
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

Result<std::vector<std::uint8_t>> read_file_bytes(const std::filesystem::path& path) {
    std::error_code status_error;
    if (std::filesystem::is_directory(path, status_error)) {
        return Error{"\"" + path.string() + "\" is a folder, not a file."};
    }
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return file_error(path, "Cannot open", errno);
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[1 << 16];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool failed = std::ferror(file) != 0;
    const int saved_errno = errno;
    std::fclose(file);
    if (failed) return file_error(path, "Cannot read", saved_errno);
    return bytes;
}

}  // namespace tintora
