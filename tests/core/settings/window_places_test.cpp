// Where the windows go: side by side at a first start, as far as the screen
// allows, and remembered places brought back onto a screen.
#include "core/settings/window_places.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

namespace tintora {
namespace {

// The main window, the palette and the video window with their frames: as
// they open, and the least they may be made.
constexpr std::array<OuterSizes, kPlacedWindowCount> kWindowSizes{
    OuterSizes{{730, 818}, {488, 520}}, OuterSizes{{857, 560}, {568, 300}},
    OuterSizes{{988, 740}, {788, 420}}};

std::int64_t shared_area(const ScreenRect& a, const ScreenRect& b) {
    const std::int64_t width = std::min(a.x + a.width, b.x + b.width) - std::max(a.x, b.x);
    const std::int64_t height = std::min(a.y + a.height, b.y + b.height) - std::max(a.y, b.y);
    return width > 0 && height > 0 ? width * height : 0;
}

// What the room leaves of the windows.
enum class Sizes { Preferred, Smaller, PreferredOverlapping };

struct RoomCase {
    const char* name;
    ScreenRect room;
    Sizes sizes;
};

class SideBySideTest : public testing::TestWithParam<RoomCase> {};

TEST_P(SideBySideTest, WindowsShrinkToTheRoomBeforeTheyOverlap) {
    const ScreenRect room = GetParam().room;
    const Sizes expected = GetParam().sizes;
    const auto laid_out = side_by_side(kWindowSizes, room);
    std::int64_t overlap = 0;
    for (std::size_t i = 0; i < laid_out.size(); ++i) {
        const ScreenRect& r = laid_out[i];
        const ScreenSize preferred = kWindowSizes[i].preferred;
        const ScreenSize least = kWindowSizes[i].least;
        // Its title in the room, always.
        EXPECT_TRUE(r.x >= room.x && r.y >= room.y) << i;
        if (expected == Sizes::Smaller) {
            EXPECT_TRUE(r.width >= least.width && r.width <= preferred.width &&
                        r.height >= least.height && r.height <= preferred.height)
                << i << ": " << window_place_text(r);
        } else {
            EXPECT_TRUE(r.width == preferred.width && r.height == preferred.height) << i;
        }
        if (expected != Sizes::PreferredOverlapping) {
            EXPECT_LE(r.x + r.width, room.x + room.width) << i;
            EXPECT_LE(r.y + r.height, room.y + room.height) << i;
        }
        for (std::size_t j = i + 1; j < laid_out.size(); ++j) {
            overlap += shared_area(r, laid_out[j]);
        }
    }
    EXPECT_EQ(overlap > 0, expected == Sizes::PreferredOverlapping);
}

INSTANTIATE_TEST_SUITE_P(
    Rooms, SideBySideTest,
    testing::Values(
        RoomCase{"WideEnoughForARow", {0, 0, 2600, 1100}, Sizes::Preferred},
        RoomCase{"TallEnoughForTwoBesideTheMain", {0, 0, 1800, 1400}, Sizes::Preferred},
        RoomCase{"BesidePanelsOnAMonitorOnTheRight", {1980, 32, 1800, 1400}, Sizes::Preferred},
        RoomCase{"FullHd", {0, 0, 1920, 1050}, Sizes::Smaller},
        RoomCase{"Laptop", {0, 0, 1366, 740}, Sizes::Smaller},
        RoomCase{"SmallerThanTheMainWindow", {0, 0, 640, 480}, Sizes::PreferredOverlapping}),
    [](const testing::TestParamInfo<RoomCase>& info) { return std::string(info.param.name); });

TEST(WindowPlaces, APlaceNoScreenShowsComesBackOntoThePrimaryScreen) {
    const ScreenRect primary{0, 0, 1920, 1050};
    const ScreenRect left_monitor{-1280, 0, 1280, 1024};
    const Screens screens{primary, {primary, left_monitor}};
    // On either screen, even mostly off it: the user can still take it.
    for (const WindowPlace& kept :
         {WindowPlace{100, 100, 800, 600}, WindowPlace{-1000, 200, 800, 600},
          WindowPlace{1800, 900, 800, 600}}) {
        EXPECT_EQ(onto_a_screen(kept, screens), kept);
    }
    // Its title above every screen, or on a monitor gone: into the primary's room.
    for (const WindowPlace& lost :
         {WindowPlace{100, -400, 800, 600}, WindowPlace{-3000, 100, 800, 600},
          WindowPlace{2500, 1200, 800, 600}}) {
        const WindowPlace back = onto_a_screen(lost, screens);
        EXPECT_TRUE(back.x >= 0 && back.y >= 0 && back.x + back.width <= primary.width &&
                    back.y + back.height <= primary.height)
            << window_place_text(back);
        EXPECT_EQ(back.width, lost.width);
    }
}

TEST(WindowPlaces, SettingsTextsOtherThanFourWholeNumbersAreNoPlace) {
    EXPECT_EQ(parse_window_place(window_place_text({-12, 34, 849, 520})),
              (WindowPlace{-12, 34, 849, 520}));
    for (const char* text : {"", "1,2,3", "1,2,3,4,5", "1, 2,3,4", "1,2,0,4", "1,2,3,-4", "a,2,3,4",
                             "1,2,3,4x", "99999999999,0,10,10", "0,0,100001,10"}) {
        EXPECT_FALSE(parse_window_place(text)) << text;
    }
}

}  // namespace
}  // namespace tintora
