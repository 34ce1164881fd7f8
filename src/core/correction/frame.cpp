#include "core/correction/frame.hpp"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tintora {

void Frame::FreeBytes::operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }

Frame::Frame(int width, int height) { resize(width, height); }

Frame::Frame(const Frame& other)
    : width_(other.width_), height_(other.height_), stride_(other.stride_) {
    if (other.data_ == nullptr) return;
    data_.reset(static_cast<std::uint8_t*>(std::malloc(byte_count())));
    if (data_ == nullptr) throw std::bad_alloc();
    std::memcpy(data_.get(), other.data_.get(), byte_count());
}

Frame& Frame::operator=(const Frame& other) {
    // The copy is made first, so running out of memory changes nothing.
    if (this != &other) *this = Frame(other);
    return *this;
}

void Frame::allocate(int width, int height, bool zeroed) {
    if (width <= 0 || height <= 0) {
        data_.reset();
        width_ = height_ = 0;
        stride_ = 0;
        return;
    }
    const std::ptrdiff_t stride = (3 * static_cast<std::ptrdiff_t>(width) + 3) & ~std::ptrdiff_t{3};
    const std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(height);
    // calloc knows memory fresh from the system is zero and leaves its pages
    // untouched; only reused memory is cleared.
    void* memory = zeroed ? std::calloc(size, 1) : std::malloc(size);
    if (memory == nullptr) throw std::bad_alloc();
    data_.reset(static_cast<std::uint8_t*>(memory));
    width_ = width;
    height_ = height;
    stride_ = stride;
}

void Frame::resize(int width, int height) { allocate(width, height, true); }

void Frame::resize_for_overwrite(int width, int height) {
    // The padding is never written by anyone, so it must be defined. Zeroing
    // it row by row would touch every page of a narrow picture before a pixel
    // is decoded; zeroed memory spares that, and rows without padding need
    // nothing at all.
    const bool padded = width > 0 && (3 * static_cast<std::ptrdiff_t>(width)) % 4 != 0;
    allocate(width, height, padded);
}

void Frame::crop_to_top_left(int width, int height) {
    if (width <= 0 || height <= 0) {
        *this = Frame();
        return;
    }
    width_ = std::min(width, width_);
    height_ = std::min(height, height_);
}

bool operator==(const Frame& a, const Frame& b) {
    if (a.width_ != b.width_ || a.height_ != b.height_) return false;
    const std::size_t row_bytes = 3 * static_cast<std::size_t>(a.width_);
    for (int r = 0; r < a.height_; ++r) {
        if (std::memcmp(a.row(r), b.row(r), row_bytes) != 0) return false;
    }
    return true;
}

}  // namespace tintora
