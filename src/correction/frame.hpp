#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
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
    // Changes the size for a caller that writes every pixel itself: the
    // pixels are left unset (only the row padding is zeroed), which spares a
    // pass over the whole picture. Out of memory as resize.
    void resize_for_overwrite(int width, int height);

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
    // Value-initialising a vector would zero every byte; pictures are filled
    // by whoever sizes them, so new elements are left as they come.
    template <class T>
    struct UninitializedAllocator : std::allocator<T> {
        template <class U>
        struct rebind {
            using other = UninitializedAllocator<U>;
        };
        UninitializedAllocator() = default;
        template <class U>
        UninitializedAllocator(const UninitializedAllocator<U>&) noexcept {}
        template <class U>
        void construct(U* place) noexcept {
            ::new (static_cast<void*>(place)) U;
        }
        template <class U, class... Args>
        void construct(U* place, Args&&... args) {
            ::new (static_cast<void*>(place)) U(std::forward<Args>(args)...);
        }
    };

    void allocate(int width, int height);

    std::vector<std::uint8_t, UninitializedAllocator<std::uint8_t>> data_;
    int width_ = 0;
    int height_ = 0;
    std::ptrdiff_t stride_ = 0;
};

}  // namespace tintora
