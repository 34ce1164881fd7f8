#pragma once

#include "core/correction/frame.hpp"

namespace tintora {

// Whole-picture pixel copies without filtering. Each writes a destination
// distinct from its source (the same object is tolerated: the source is
// copied first) and sets the destination's size itself, except
// resample_frame, which fills the size the caller gave the destination.
// Empty frames are accepted everywhere; nothing is ever read or written
// outside a frame.

// Turns by 0, 90 (clockwise), 180 or 270 degrees; any other angle leaves the
// destination as it was.
void rotate_frame(const Frame& source, Frame& destination, int angle);

// The w by h rectangle at (x, y) of the source. A rectangle reaching outside
// the source is clipped to it, so the destination may come out smaller.
void cut_frame(const Frame& source, int x, int y, int w, int h, Frame& destination);

// Nearest neighbour: dst(r, c) = src(r (Hs - 1) div (Hd - 1), c (Ws - 1) div (Wd - 1)).
// A destination one pixel wide (high) takes the source's first column (row);
// an empty source gives a black destination.
void resample_frame(const Frame& source, Frame& destination);

// A cut, a resample and the two mirrors in one pass, byte for byte what
// cut_frame, resample_frame, mirror_rows and mirror_columns give one after
// the other: the destination keeps the size the caller gave it and takes,
// nearest neighbour, from the rectangle (clipped to the source), upside down
// and left-right swapped as asked. An empty rectangle gives black.
struct RegionSampling {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool mirror_rows = false;
    bool mirror_columns = false;
};
void sample_region(const Frame& source, const RegionSampling& region, Frame& destination);

// Upside down: the "horizontally" mirror.
void mirror_rows(const Frame& source, Frame& destination);

// Left and right exchanged: the "vertically" mirror.
void mirror_columns(const Frame& source, Frame& destination);

void copy_frame(const Frame& source, Frame& destination);

// Every pixel becomes its intensity (B + G + R) div 3 in all three bytes.
void to_grayscale(Frame& frame);

// Every byte v becomes 255 - v.
void invert_frame(Frame& frame);

}  // namespace tintora
