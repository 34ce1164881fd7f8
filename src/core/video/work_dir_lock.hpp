#pragma once

#include <filesystem>
#include <memory>
#include <string>

namespace tintora {

// The advisory lock that gives WorkDir to one user at a time: whoever
// imports a clip or runs an export there holds it, in this program or in
// another. Taken without waiting; released when the object goes.
class WorkDirLock {
public:
    // Tries once, creating WorkDir and its lock file when they are missing.
    explicit WorkDirLock(const std::filesystem::path& work_dir);
    ~WorkDirLock();
    WorkDirLock(const WorkDirLock&) = delete;
    WorkDirLock& operator=(const WorkDirLock&) = delete;

    bool held() const { return fd_ >= 0; }
    // The folder it was taken for.
    const std::filesystem::path& folder() const { return folder_; }
    // Whether it holds `work_dir` (the same folder, whatever the spelling).
    bool holds(const std::filesystem::path& work_dir) const;
    // Not held because another holder has it.
    bool in_use() const { return in_use_; }
    // Why it could not be taken otherwise (the folder or the file cannot be made).
    const std::string& error() const { return error_; }

private:
    std::filesystem::path folder_;
    int fd_ = -1;
    bool in_use_ = false;
    std::string error_;
};

// The lock file in WorkDir.
std::filesystem::path work_dir_lock_path(const std::filesystem::path& work_dir);

// The lock of `work_dir`: `held` when it already holds that folder (a
// workspace holds its frames' folder while its clip is open), else a new
// one, taken without waiting. Either way check held() before use.
std::shared_ptr<WorkDirLock> lock_for(const std::filesystem::path& work_dir,
                                      std::shared_ptr<WorkDirLock> held);

// Why the lock was not taken, for the user: "… is in use by another Tintora"
// in the interface language, or the error.
std::string work_dir_lock_refusal(const WorkDirLock& lock, const std::filesystem::path& work_dir,
                                  std::string_view language);

}  // namespace tintora
