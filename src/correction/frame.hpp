#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tintora {

// A 24-bit picture: rows from the top, each pixel the bytes B, G, R. Rows are
// padded to a multiple of four bytes so the buffer can be handed to a
// QImage (Format_BGR888) or a bitmap without converting.
class Frame {
public:
    Frame() = default;
    // A black frame; negative sizes give an empty frame.
    Frame(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return stride_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }

    // Changes the size; every byte becomes 0. Out of memory, it throws and
    // leaves the frame as it was.
    void resize(int width, int height);

    std::uint8_t* row(int r) { return data_.data() + r * stride_; }
    const std::uint8_t* row(int r) const { return data_.data() + r * stride_; }
    std::uint8_t* pixel(int r, int c) { return row(r) + 3 * static_cast<std::ptrdiff_t>(c); }
    const std::uint8_t* pixel(int r, int c) const {
        return row(r) + 3 * static_cast<std::ptrdiff_t>(c);
    }

    std::uint8_t* data() { return data_.data(); }
    const std::uint8_t* data() const { return data_.data(); }

    // Equal sizes and equal pixel bytes; row padding is not compared.
    friend bool operator==(const Frame& a, const Frame& b);

private:
    // The pixels come first, so a copy that runs out of memory throws before
    // any size is changed and the frame stays whole.
    std::vector<std::uint8_t> data_;
    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t stride_ = 0;
};

}  // namespace tintora
