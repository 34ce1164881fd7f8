#pragma once

namespace tintora {

// A rectangle in pixels of a view or a window. Width and height may be zero
// or negative, as while the user drags a rectangle up or left.
struct PixelRect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;

    bool contains(int x, int y) const {
        return x >= left && y >= top && x - left < width && y - top < height;
    }
};

}  // namespace tintora
