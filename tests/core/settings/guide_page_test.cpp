// Where Help > Guide finds its page: beside the program first, then where
// an installation puts it, in the language the help page would take.
#include "core/settings/guide_page.hpp"

#include <gtest/gtest.h>

#include <fstream>

#include "support/temporary_folder.hpp"

namespace tintora {
namespace {

namespace fs = std::filesystem;

TEST(GuidePage, FoundBesideTheProgramThenWhereInstalledInTheInterfaceLanguage) {
    test::TemporaryFolder folder;
    const fs::path program_dir = folder / "bin";
    const fs::path installed = folder / "share" / "tintora" / "guide";
    fs::create_directories(program_dir / "guide");
    fs::create_directories(installed);
    std::ofstream(installed / "guide_en.html") << "installed";
    std::ofstream(installed / "guide_ru.html") << "installed";
    std::ofstream(program_dir / "guide" / "guide_ru.html") << "beside";

    EXPECT_EQ(find_guide_page(program_dir, "rus"), program_dir / "guide" / "guide_ru.html");
    EXPECT_EQ(find_guide_page(program_dir, "eng"), installed / "guide_en.html");
    // Only exactly "rus" is Russian, as for the help page.
    EXPECT_EQ(find_guide_page(program_dir, "ru"), installed / "guide_en.html");
    fs::remove(installed / "guide_en.html");
    EXPECT_TRUE(find_guide_page(program_dir, "eng").empty());
    EXPECT_EQ(guide_page_candidates(program_dir, "eng").size(), 2u);
}

}  // namespace
}  // namespace tintora
