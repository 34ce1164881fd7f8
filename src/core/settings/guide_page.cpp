#include "core/settings/guide_page.hpp"

#include <string>
#include <system_error>

#include "core/settings/settings_file.hpp"

namespace tintora {

std::vector<std::filesystem::path> guide_page_candidates(const std::filesystem::path& program_dir,
                                                         std::string_view language,
                                                         GuidePage page) {
    const std::string stem = page == GuidePage::Hotspots ? "hotspots" : "guide";
    const std::string name = stem + (language == "rus" ? "_ru.html" : "_en.html");
    return {program_dir / "guide" / name, installed_data_dir(program_dir) / "guide" / name};
}

std::filesystem::path find_guide_page(const std::filesystem::path& program_dir,
                                      std::string_view language, GuidePage page) {
    for (const std::filesystem::path& candidate :
         guide_page_candidates(program_dir, language, page)) {
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate;
    }
    return {};
}

}  // namespace tintora
