#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace tintora {

// A frame's size in pixels.
struct FrameSize {
    int width = 0;
    int height = 0;
};

// A 24-bit picture: rows from the top, each pixel the bytes B, G, R. Rows are
// padded to a multiple of four bytes so the buffer can be handed to a
// QImage (Format_BGR888) or a bitmap without converting.
class Frame {
public:
    Frame() = default;
    // A black frame; negative sizes give an empty frame.
    Frame(int width, int height);
    // A copy that runs out of memory throws and leaves the target as it was.
    Frame(const Frame& other);
    Frame& operator=(const Frame& other);
    Frame(Frame&& other) noexcept = default;
    Frame& operator=(Frame&& other) noexcept = default;

    int width() const { return width_; }
    int height() const { return height_; }
    std::ptrdiff_t stride() const { return stride_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }

    // Changes the size; every byte becomes 0. Out of memory, it throws and
    // leaves the frame as it was.
    void resize(int width, int height);
    // Changes the size for a caller that writes every pixel itself: the
    // pixels are left unset (only the row padding is zeroed), so no page of
    // the picture is touched before its rows are written. Out of memory as
    // resize.
    void resize_for_overwrite(int width, int height);

    // Keeps the top-left width by height pixels where they are: the rows
    // keep their stride, so no byte moves (the part left over lies in the
    // rows' padding from then on). Sizes beyond the frame's are held to it.
    void crop_to_top_left(int width, int height);

    std::uint8_t* row(int r) { return data_.get() + r * stride_; }
    const std::uint8_t* row(int r) const { return data_.get() + r * stride_; }
    std::uint8_t* pixel(int r, int c) { return row(r) + 3 * static_cast<std::ptrdiff_t>(c); }
    const std::uint8_t* pixel(int r, int c) const {
        return row(r) + 3 * static_cast<std::ptrdiff_t>(c);
    }

    std::uint8_t* data() { return data_.get(); }
    const std::uint8_t* data() const { return data_.get(); }

    // Equal sizes and equal pixel bytes; row padding is not compared.
    friend bool operator==(const Frame& a, const Frame& b);

private:
    struct FreeBytes {
        void operator()(std::uint8_t* bytes) const noexcept;
    };

    // Out of memory it throws before anything changes.
    void allocate(int width, int height, bool zeroed);
    std::size_t byte_count() const {
        return static_cast<std::size_t>(stride_) * static_cast<std::size_t>(height_);
    }

    // Held bare rather than in a vector, which visits every byte on each
    // resize, one call at a time in unoptimised builds.
    std::unique_ptr<std::uint8_t[], FreeBytes> data_;
    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t stride_ = 0;
};

}  // namespace tintora
