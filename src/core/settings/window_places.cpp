#include "core/settings/window_places.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace tintora {
namespace {

using Layout = std::array<ScreenRect, kPlacedWindowCount>;

std::int64_t right_of(const ScreenRect& r) { return std::int64_t{r.x} + r.width; }
std::int64_t bottom_of(const ScreenRect& r) { return std::int64_t{r.y} + r.height; }

// The area two rectangles share.
std::int64_t shared_area(const ScreenRect& a, const ScreenRect& b) {
    const std::int64_t width = std::min(right_of(a), right_of(b)) - std::max(a.x, b.x);
    const std::int64_t height = std::min(bottom_of(a), bottom_of(b)) - std::max(a.y, b.y);
    return width > 0 && height > 0 ? width * height : 0;
}

std::int64_t overlap_of(const Layout& layout) {
    std::int64_t total = 0;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        for (std::size_t j = i + 1; j < layout.size(); ++j) {
            total += shared_area(layout[i], layout[j]);
        }
    }
    return total;
}

// The rectangle moved into the room, as far as it fits: one larger than the
// room keeps its size and starts at the room's corner, where its title is.
ScreenRect held_in(ScreenRect r, const ScreenRect& room) {
    r.x = std::max(room.x, std::min(r.x, room.x + room.width - r.width));
    r.y = std::max(room.y, std::min(r.y, room.y + room.height - r.height));
    return r;
}

}  // namespace

Layout side_by_side(const std::array<ScreenSize, kPlacedWindowCount>& outer_sizes,
                    ScreenRect room) {
    room.width = std::max(room.width, 1);
    room.height = std::max(room.height, 1);
    const ScreenSize first = outer_sizes[0];
    const ScreenSize second = outer_sizes[1];
    const ScreenSize third = outer_sizes[2];
    struct Corner {
        int x;
        int y;
    };
    // Where each window's corner goes from the room's, the preferred first.
    const std::array<std::array<Corner, kPlacedWindowCount>, 6> candidates{{
        {{{0, 0}, {first.width, 0}, {first.width + second.width, 0}}},
        {{{0, 0}, {first.width, 0}, {first.width, second.height}}},
        {{{0, 0}, {first.width, third.height}, {first.width, 0}}},
        {{{0, 0}, {first.width + third.width, 0}, {first.width, 0}}},
        {{{0, 0}, {0, first.height}, {first.width, 0}}},
        {{{0, 0}, {first.width, 0}, {0, first.height}}},
    }};
    Layout best{};
    std::int64_t least = -1;
    for (const auto& corners : candidates) {
        Layout layout;
        for (std::size_t i = 0; i < layout.size(); ++i) {
            layout[i] =
                held_in({room.x + corners[i].x, room.y + corners[i].y,
                         std::max(outer_sizes[i].width, 1), std::max(outer_sizes[i].height, 1)},
                        room);
        }
        const std::int64_t overlap = overlap_of(layout);
        if (least < 0 || overlap < least) {
            best = layout;
            least = overlap;
        }
    }
    return best;
}

bool reachable(const WindowPlace& place, std::span<const ScreenRect> screens) {
    const ScreenRect title{place.x, place.y, place.width, std::min(place.height, kTitleHeight)};
    return std::any_of(screens.begin(), screens.end(), [&title](const ScreenRect& screen) {
        const std::int64_t width =
            std::min(right_of(title), right_of(screen)) - std::max(title.x, screen.x);
        const std::int64_t height =
            std::min(bottom_of(title), bottom_of(screen)) - std::max(title.y, screen.y);
        return width >= std::min(kGripWidth, title.width) &&
               height >= std::min(kGripHeight, title.height);
    });
}

WindowPlace onto_a_screen(const WindowPlace& place, const Screens& screens) {
    const bool room_known = screens.primary.width > 0 && screens.primary.height > 0;
    if (!room_known || reachable(place, screens.all)) return place;
    return held_in(place, screens.primary);
}

std::array<WindowPlace, kPlacedWindowCount> start_places(
    const WindowPlaces& remembered, const std::array<WindowToPlace, kPlacedWindowCount>& windows,
    const Screens& screens) {
    std::array<ScreenSize, kPlacedWindowCount> outer_sizes;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        outer_sizes[i] = {windows[i].inside.width + windows[i].frame.width,
                          windows[i].inside.height + windows[i].frame.height};
    }
    const Layout laid_out = side_by_side(outer_sizes, screens.primary);
    std::array<WindowPlace, kPlacedWindowCount> places;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const std::optional<WindowPlace>& known = remembered.windows[i];
        places[i] = known ? onto_a_screen(*known, screens)
                          : WindowPlace{laid_out[i].x, laid_out[i].y, windows[i].inside.width,
                                        windows[i].inside.height};
    }
    return places;
}

std::string window_place_text(const WindowPlace& place) {
    return std::to_string(place.x) + "," + std::to_string(place.y) + "," +
           std::to_string(place.width) + "," + std::to_string(place.height);
}

std::optional<WindowPlace> parse_window_place(std::string_view text) {
    std::array<int, 4> numbers{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != ',') return std::nullopt;
            ++at;
        }
        const std::from_chars_result read = std::from_chars(at, end, numbers[i]);
        if (read.ec != std::errc() || read.ptr == at) return std::nullopt;
        at = read.ptr;
    }
    if (at != end) return std::nullopt;
    const WindowPlace place{numbers[0], numbers[1], numbers[2], numbers[3]};
    const auto within = [](int v, int low) { return v >= low && v <= kMaxWindowSide; };
    if (!within(place.width, 1) || !within(place.height, 1) || !within(place.x, -kMaxWindowSide) ||
        !within(place.y, -kMaxWindowSide)) {
        return std::nullopt;
    }
    return place;
}

}  // namespace tintora
