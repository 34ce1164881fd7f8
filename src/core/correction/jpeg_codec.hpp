#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/common/result.hpp"
#include "core/correction/frame.hpp"

namespace tintora {

// Quality of every JPEG frame the program writes.
inline constexpr int kJpegQuality = 90;

// Decodes any JPEG the library reads (baseline, progressive, greyscale,
// CMYK, YCCK) into a B,G,R frame. Truncated or corrupt data is an error, not
// a partly grey picture.
Result<Frame> decode_jpeg(const std::uint8_t* data, std::size_t size);
Result<Frame> load_jpeg(const std::filesystem::path& path);

// The same decoded at 1 / reduction of the size (reduction 1..8, as the
// library scales: each side rounded up), for a look over many frames.
Result<Frame> decode_jpeg_reduced(const std::uint8_t* data, std::size_t size, int reduction);
Result<Frame> load_jpeg_reduced(const std::filesystem::path& path, int reduction);

// Encodes with the library's defaults (baseline, 4:2:0) at the given quality.
Result<std::vector<std::uint8_t>> encode_jpeg(const Frame& frame, int quality = kJpegQuality);
Status save_jpeg(const Frame& frame, const std::filesystem::path& path, int quality = kJpegQuality);

}  // namespace tintora
