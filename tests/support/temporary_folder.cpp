#include "support/temporary_folder.hpp"

#include <stdlib.h>

#include <stdexcept>
#include <system_error>

namespace tintora::test {

TemporaryFolder::TemporaryFolder() {
    std::string name = (std::filesystem::temp_directory_path() / "tintora-test-XXXXXX").string();
    if (::mkdtemp(name.data()) == nullptr)
        throw std::runtime_error("cannot make a temporary folder");
    path_ = name;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::set<std::string> TemporaryFolder::names() const {
    std::set<std::string> found;
    for (const std::filesystem::directory_entry& entry :
         std::filesystem::directory_iterator(path_)) {
        found.insert(entry.path().filename().string());
    }
    return found;
}

}  // namespace tintora::test
