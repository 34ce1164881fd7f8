#include "core/composition/mesh_drag.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace tintora {
namespace {

using Axis = std::array<std::int32_t, kGridPointCount>;

// Corners at (10, 20), (100, 20), (10, 80), (100, 80) with the middles off
// their bilinear places, shown at scale 1: markers where the points are.
CorrectionGrid uneven_mesh() {
    CorrectionGrid grid;
    grid.area_x = {10, 50, 100, 12, 70, 97, 10, 58, 100};
    grid.area_y = {20, 25, 20, 50, 30, 55, 80, 77, 80};
    return grid;
}

struct CornerDrag {
    const char* name;
    PicturePoint pressed, released;
    int corner;
    Axis expected_x, expected_y;
};

// The middles lie on the means of the corners after the drag, truncated
// toward zero also past the background's top left edge.
const CornerDrag kCornerDrags[] = {
    {"BottomRight",
     {101, 81},
     {112, 96},
     8,
     {10, 55, 100, 10, 57, 105, 10, 60, 111},
     {20, 20, 20, 50, 53, 57, 80, 87, 95}},
    {"TopLeftPastTheEdge",
     {10, 20},
     {-15, -27},
     0,
     {-15, 42, 100, -2, 48, 100, 10, 55, 100},
     {-27, -3, 20, 26, 38, 50, 80, 80, 80}},
};

class ShiftCornerDrag : public testing::TestWithParam<CornerDrag> {};

TEST_P(ShiftCornerDrag, KeepsTheMeshTheBilinearGridOfItsCorners) {
    const CornerDrag& drag = GetParam();
    CorrectionGrid grid = uneven_mesh();
    grid.cur_point = 4;
    MeshDrag gesture;
    gesture.press(grid, 1.0, drag.pressed.x, drag.pressed.y, {.shift = true}, true);
    ASSERT_TRUE(gesture.active());
    EXPECT_EQ(grid.cur_point, drag.corner);
    EXPECT_TRUE(gesture.move(grid, 1.0, drag.released.x, drag.released.y));
    gesture.release();
    EXPECT_EQ(grid.area_x, drag.expected_x);
    EXPECT_EQ(grid.area_y, drag.expected_y);
}

INSTANTIATE_TEST_SUITE_P(Corners, ShiftCornerDrag, testing::ValuesIn(kCornerDrags),
                         [](const testing::TestParamInfo<CornerDrag>& info) {
                             return std::string(info.param.name);
                         });

TEST(ShiftPress, TakesNothingButACornerMarker) {
    struct Case {
        const char* name;
        int x, y;
        HeldKeys keys;
        bool markers_shown;
    };
    const Case cases[] = {
        {"centre marker", 70, 30, {.shift = true}, true},
        {"edge middle marker", 50, 25, {.shift = true}, true},
        {"off every marker", 30, 60, {.shift = true}, true},
        {"corner with Ctrl too", 100, 80, {.shift = true, .ctrl = true}, true},
        {"corner without markers", 100, 80, {.shift = true}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CorrectionGrid grid = uneven_mesh();
        grid.cur_point = 4;
        const CorrectionGrid before = grid;
        MeshDrag gesture;
        EXPECT_FALSE(gesture.press(grid, 1.0, c.x, c.y, c.keys, c.markers_shown));
        EXPECT_FALSE(gesture.move(grid, 1.0, 5, 5));
        EXPECT_FALSE(gesture.active());
        EXPECT_TRUE(grid == before);
    }
}

// Every field is a whole number on the 300 by 200 background, or the first
// that is not is named and the grid keeps all nine points.
TEST(TypedAreaPoints, AreTakenAllOrNone) {
    struct Case {
        const char* name;
        int point;
        bool y;
        std::string text;
        std::optional<int> taken;
    };
    const Case cases[] = {
        {"highest Y", 4, true, "199", 199},
        {"first X", 0, false, "0", 0},
        {"blanks around", 6, false, " 42 ", 42},
        {"X past the width", 2, false, "300", std::nullopt},
        {"Y past the height", 4, true, "200", std::nullopt},
        {"negative", 8, true, "-1", std::nullopt},
        {"empty", 3, false, "", std::nullopt},
        {"letters after", 5, true, "4x", std::nullopt},
        {"exponent", 1, false, "1e2", std::nullopt},
        {"beyond an int", 7, false, "99999999999", std::nullopt},
    };
    const AreaBounds bounds{300, 200};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CorrectionGrid grid = uneven_mesh();
        const CorrectionGrid before = grid;
        TypedAreaPoints typed = typed_area_points(grid);
        typed.x[5] = "150";
        (c.y ? typed.y : typed.x)[c.point] = c.text;
        const std::optional<AreaPointField> refused = first_refused_field(typed, bounds);
        const bool changed = set_typed_area_points(grid, typed, bounds);
        if (c.taken) {
            EXPECT_FALSE(refused);
            EXPECT_TRUE(changed);
            EXPECT_EQ((c.y ? grid.area_y : grid.area_x)[c.point], *c.taken);
            EXPECT_EQ(grid.area_x[5], 150);
        } else {
            ASSERT_TRUE(refused);
            EXPECT_EQ(refused->point, c.point);
            EXPECT_EQ(refused->y, c.y);
            EXPECT_FALSE(changed);
            EXPECT_TRUE(grid == before);
        }
    }
}

}  // namespace
}  // namespace tintora
