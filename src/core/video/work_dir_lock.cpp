#include "core/video/work_dir_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "core/common/file_io.hpp"
#include "core/video/video_texts.hpp"

namespace tintora {

std::filesystem::path work_dir_lock_path(const std::filesystem::path& work_dir) {
    return work_dir / ".tintora.lock";
}

WorkDirLock::WorkDirLock(const std::filesystem::path& work_dir) : folder_(work_dir) {
    std::error_code created;
    std::filesystem::create_directories(work_dir, created);
    if (created) {
        error_ = file_error(work_dir, "Cannot create the folder", created.value()).message;
        return;
    }
    const std::filesystem::path path = work_dir_lock_path(work_dir);
    // Not through a link: the lock is WorkDir's own file.
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        error_ = file_error(path, "Cannot open", errno).message;
        return;
    }
    int locked;
    do {
        locked = ::flock(fd, LOCK_EX | LOCK_NB);
    } while (locked != 0 && errno == EINTR);
    if (locked != 0) {
        in_use_ = errno == EWOULDBLOCK;
        if (!in_use_) error_ = file_error(path, "Cannot lock", errno).message;
        ::close(fd);
        return;
    }
    fd_ = fd;
}

WorkDirLock::~WorkDirLock() {
    if (fd_ >= 0) ::close(fd_);  // closing the file releases the lock
}

bool WorkDirLock::holds(const std::filesystem::path& work_dir) const {
    if (!held()) return false;
    std::error_code error;
    return folder_ == work_dir || std::filesystem::equivalent(folder_, work_dir, error);
}

std::shared_ptr<WorkDirLock> lock_for(const std::filesystem::path& work_dir,
                                      std::shared_ptr<WorkDirLock> held) {
    if (held && held->holds(work_dir)) return held;
    // A lock of this process on the folder makes a second one fail: let it go first.
    held.reset();
    return std::make_shared<WorkDirLock>(work_dir);
}

std::string work_dir_lock_refusal(const WorkDirLock& lock, const std::filesystem::path& work_dir,
                                  std::string_view language) {
    if (lock.in_use()) {
        return fill_in(message_text(message_texts::kWorkDirInUse, language), {work_dir.string()});
    }
    return lock.error();
}

}  // namespace tintora
