#include "core/settings/guide_page.hpp"

#include <system_error>

namespace tintora {

std::vector<std::filesystem::path> guide_page_candidates(const std::filesystem::path& program_dir,
                                                         std::string_view language) {
    const char* page = language == "rus" ? "guide_ru.html" : "guide_en.html";
    return {program_dir / "guide" / page,
            program_dir.parent_path() / "share" / "tintora" / "guide" / page};
}

std::filesystem::path find_guide_page(const std::filesystem::path& program_dir,
                                      std::string_view language) {
    for (const std::filesystem::path& candidate : guide_page_candidates(program_dir, language)) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

}  // namespace tintora
