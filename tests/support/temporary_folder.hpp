#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace tintora::test {

// A fresh folder under the system's temporary folder, removed with
// everything in it when the object goes.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

    // Every name in the folder, so a test can see leftovers.
    std::set<std::string> names() const;

private:
    std::filesystem::path path_;
};

}  // namespace tintora::test
