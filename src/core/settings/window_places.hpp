#pragma once

#include <array>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace tintora {

// A rectangle on the desktop, in the window system's logical pixels.
struct ScreenRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const ScreenRect&, const ScreenRect&) = default;
};

struct ScreenSize {
    int width = 0;
    int height = 0;
};

// The windows whose places the program keeps, in the order they are laid
// out from the left at a first start.
enum class PlacedWindow { Main, Palette, Video };
inline constexpr int kPlacedWindowCount = 3;

// A window's place as the window system moves and sizes it: where the top
// left corner of its frame lies, and the size of its inside.
using WindowPlace = ScreenRect;

// What the settings file remembers of the windows: each one's place and
// whether the palette was open, each only once known.
struct WindowPlaces {
    std::array<std::optional<WindowPlace>, kPlacedWindowCount> windows;
    std::optional<bool> palette_open;
};

// The room the screens leave for windows (without panels and docks).
struct Screens {
    ScreenRect primary;           // the primary screen's
    std::vector<ScreenRect> all;  // every screen's, the primary's among them
};

// A window as it is about to be placed: its inside, the least inside it is
// still of use with, and what its frame adds (as the window system says, or
// as much as a title bar and borders take when it has not said yet).
struct WindowToPlace {
    ScreenSize inside;
    ScreenSize least;
    ScreenSize frame;
};

// A window's outer size (frame included) as it would be, and the least it
// may be made.
struct OuterSizes {
    ScreenSize preferred;
    ScreenSize least;
};

// Windows of these outer sizes, in PlacedWindow order, laid out from the
// room's top left corner without overlapping: all in a row, or the first
// with the other two beside it one above the other (either way up). Where
// the preferred sizes do not fit, windows are made smaller, each toward its
// least in proportion to what it can give; of the layouts that fit, the one
// that keeps the most area is taken, the earlier on a tie. Where not even
// the least sizes fit, the windows keep their preferred sizes, moved into
// the room as far as they fit (one larger than the room starts at its
// corner), in the layout whose windows overlap least. Returns the outer
// rectangles.
std::array<ScreenRect, kPlacedWindowCount> side_by_side(
    const std::array<OuterSizes, kPlacedWindowCount>& sizes, ScreenRect room);

// Whether the user can still take the window at this place by its title:
// at least kGripWidth by kGripHeight pixels of its top kTitleHeight pixels
// lie on one screen.
inline constexpr int kTitleHeight = 24;
inline constexpr int kGripWidth = 60;
inline constexpr int kGripHeight = 8;
bool reachable(const WindowPlace& place, std::span<const ScreenRect> screens);

// A remembered place that no screen shows any more (a monitor unplugged, the
// resolution lowered) moved into the primary screen's room as side_by_side
// moves a window; a reachable place as it is.
WindowPlace onto_a_screen(const WindowPlace& place, const Screens& screens);

// Where each window goes at start: its remembered place, brought onto a
// screen; a window without one (every window at a first start) where
// side_by_side lays it out, at the size it lays it out with.
std::array<WindowPlace, kPlacedWindowCount> start_places(
    const WindowPlaces& remembered, const std::array<WindowToPlace, kPlacedWindowCount>& windows,
    const Screens& screens);

// A place as the settings file holds it, "x,y,width,height", and back.
// Nothing for any other text, or for a size below 1 or above kMaxWindowSide,
// or a corner further than that from the desktop's origin.
inline constexpr int kMaxWindowSide = 100000;
std::string window_place_text(const WindowPlace& place);
std::optional<WindowPlace> parse_window_place(std::string_view text);

}  // namespace tintora
