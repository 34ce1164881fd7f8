#include "core/settings/window_places.hpp"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <optional>

namespace tintora {
namespace {

using Layout = std::array<ScreenRect, kPlacedWindowCount>;
using Sizes = std::array<OuterSizes, kPlacedWindowCount>;

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

// One side of a window: as it would be, and the least it may be made.
struct Extent {
    int preferred;
    int least;
};

// At least a pixel, and the least no more than the preferred.
Extent extent(int preferred, int least) {
    preferred = std::max(preferred, 1);
    return {preferred, std::clamp(least, 1, preferred)};
}

Extent width_of(const OuterSizes& sizes) {
    return extent(sizes.preferred.width, sizes.least.width);
}

Extent height_of(const OuterSizes& sizes) {
    return extent(sizes.preferred.height, sizes.least.height);
}

// Lengths for windows that share `room` along one line: the preferred ones
// when they fit, else each made shorter toward its least in proportion to
// what it can give (rounded so that they fit); nothing when not even the
// least fit.
template <std::size_t N>
std::optional<std::array<int, N>> share(const std::array<Extent, N>& extents, int room) {
    std::int64_t excess = -std::int64_t{room};
    std::int64_t spare = 0;
    for (const Extent& extent : extents) {
        excess += extent.preferred;
        spare += extent.preferred - extent.least;
    }
    if (excess > spare) return std::nullopt;
    std::array<int, N> lengths;
    for (std::size_t i = 0; i < N; ++i) {
        const std::int64_t given = std::int64_t{extents[i].preferred} - extents[i].least;
        const std::int64_t taken = excess <= 0 ? 0 : (given * excess + spare - 1) / spare;
        lengths[i] = static_cast<int>(extents[i].preferred - taken);
    }
    return lengths;
}

std::optional<int> fitted_length(const Extent& extent, int room) {
    const std::optional<std::array<int, 1>> length = share<1>({extent}, room);
    return length ? std::optional<int>((*length)[0]) : std::nullopt;
}

// All three in a row, each as high as the room lets it be.
std::optional<Layout> in_a_row(const Sizes& sizes, const ScreenRect& room) {
    const std::optional<std::array<int, kPlacedWindowCount>> widths = share<kPlacedWindowCount>(
        {width_of(sizes[0]), width_of(sizes[1]), width_of(sizes[2])}, room.width);
    if (!widths) return std::nullopt;
    Layout layout;
    int x = room.x;
    for (std::size_t i = 0; i < layout.size(); ++i) {
        const std::optional<int> height = fitted_length(height_of(sizes[i]), room.height);
        if (!height) return std::nullopt;
        layout[i] = {x, room.y, (*widths)[i], *height};
        x += (*widths)[i];
    }
    return layout;
}

// The first window, and beside it the other two, `upper` above `lower`.
std::optional<Layout> beside_the_first(const Sizes& sizes, const ScreenRect& room,
                                       std::size_t upper, std::size_t lower) {
    const Extent upper_width = width_of(sizes[upper]);
    const Extent lower_width = width_of(sizes[lower]);
    const Extent column{std::max(upper_width.preferred, lower_width.preferred),
                        std::max(upper_width.least, lower_width.least)};
    const std::optional<std::array<int, 2>> widths =
        share<2>({width_of(sizes[0]), column}, room.width);
    const std::optional<int> first_height = fitted_length(height_of(sizes[0]), room.height);
    const std::optional<std::array<int, 2>> heights =
        share<2>({height_of(sizes[upper]), height_of(sizes[lower])}, room.height);
    if (!widths || !first_height || !heights) return std::nullopt;
    const int column_x = room.x + (*widths)[0];
    Layout layout;
    layout[0] = {room.x, room.y, (*widths)[0], *first_height};
    layout[upper] = {column_x, room.y, std::min(upper_width.preferred, (*widths)[1]),
                     (*heights)[0]};
    layout[lower] = {column_x, room.y + (*heights)[0],
                     std::min(lower_width.preferred, (*widths)[1]), (*heights)[1]};
    return layout;
}

std::int64_t area_of(const Layout& layout) {
    std::int64_t area = 0;
    for (const ScreenRect& r : layout) area += std::int64_t{r.width} * r.height;
    return area;
}

// The windows at their preferred sizes, each pushed into the room as far as
// it fits, in the layout whose windows overlap least.
Layout least_overlapping(const Sizes& sizes, const ScreenRect& room) {
    const ScreenSize first{width_of(sizes[0]).preferred, height_of(sizes[0]).preferred};
    const ScreenSize second{width_of(sizes[1]).preferred, height_of(sizes[1]).preferred};
    const ScreenSize third{width_of(sizes[2]).preferred, height_of(sizes[2]).preferred};
    const std::array<ScreenSize, kPlacedWindowCount> outer{first, second, third};
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
            layout[i] = held_in(
                {room.x + corners[i].x, room.y + corners[i].y, outer[i].width, outer[i].height},
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

}  // namespace

Layout side_by_side(const Sizes& sizes, ScreenRect room) {
    room.width = std::max(room.width, 1);
    room.height = std::max(room.height, 1);
    std::optional<Layout> best;
    for (const std::optional<Layout>& fitted :
         {in_a_row(sizes, room), beside_the_first(sizes, room, 1, 2),
          beside_the_first(sizes, room, 2, 1)}) {
        if (fitted && (!best || area_of(*fitted) > area_of(*best))) best = fitted;
    }
    return best ? *best : least_overlapping(sizes, room);
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
    const auto framed = [](ScreenSize inside, ScreenSize frame) {
        return ScreenSize{inside.width + frame.width, inside.height + frame.height};
    };
    Sizes sizes;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        sizes[i] = {framed(windows[i].inside, windows[i].frame),
                    framed(windows[i].least, windows[i].frame)};
    }
    const Layout laid_out = side_by_side(sizes, screens.primary);
    std::array<WindowPlace, kPlacedWindowCount> places;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        const std::optional<WindowPlace>& known = remembered.windows[i];
        const ScreenRect& outer = laid_out[i];
        places[i] =
            known ? onto_a_screen(*known, screens)
                  : WindowPlace{outer.x, outer.y, std::max(outer.width - windows[i].frame.width, 1),
                                std::max(outer.height - windows[i].frame.height, 1)};
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
