#include "correction/frame.hpp"

#include <cstring>

namespace tintora {

Frame::Frame(int width, int height) { resize(width, height); }

void Frame::allocate(int width, int height) {
    if (width <= 0 || height <= 0) {
        data_.clear();
        width_ = height_ = 0;
        stride_ = 0;
        return;
    }
    const std::ptrdiff_t stride = (3 * static_cast<std::ptrdiff_t>(width) + 3) & ~std::ptrdiff_t{3};
    decltype(data_) pixels(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    data_.swap(pixels);
    width_ = width;
    height_ = height;
    stride_ = stride;
}

void Frame::resize(int width, int height) {
    allocate(width, height);
    if (!data_.empty()) std::memset(data_.data(), 0, data_.size());
}

void Frame::resize_for_overwrite(int width, int height) {
    allocate(width, height);
    // The padding is never written by anyone: keep it defined.
    const std::size_t row_bytes = 3 * static_cast<std::size_t>(width_);
    const std::size_t padding = static_cast<std::size_t>(stride_) - row_bytes;
    if (padding == 0) return;
    for (int r = 0; r < height_; ++r) std::memset(row(r) + row_bytes, 0, padding);
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
