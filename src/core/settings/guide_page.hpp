#pragma once

#include <filesystem>
#include <string_view>
#include <vector>

namespace tintora {

// The guide's pages: its main page, and the page on hotspots in panorama
// viewers (what the Service menu's hotspot items open).
enum class GuidePage { Main, Hotspots };

// The guide's page for the interface language (Russian for exactly "rus",
// as the help page chooses), in the order it is looked for: beside the
// program (guide/, where the build puts it), then where an installation
// puts it (../share/tintora/guide/).
std::vector<std::filesystem::path> guide_page_candidates(const std::filesystem::path& program_dir,
                                                         std::string_view language,
                                                         GuidePage page = GuidePage::Main);

// The first of the candidates that is a file; empty when none is.
std::filesystem::path find_guide_page(const std::filesystem::path& program_dir,
                                      std::string_view language,
                                      GuidePage page = GuidePage::Main);

}  // namespace tintora
