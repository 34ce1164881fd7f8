// The JPEG loader on any bytes: backgrounds and frame files come from disk.
#include <cstddef>
#include <cstdint>

#include "core/correction/jpeg_codec.hpp"
#include "fuzz_check.hpp"

using namespace tintora;

namespace {

// The largest picture any start-of-frame marker in the data claims. Coded
// data stuffs every 0xFF byte, so a marker pattern found anywhere is either
// a real header or one the library may still take for one: counting them all
// errs on the safe side.
std::uint64_t largest_claimed_pixels(const std::uint8_t* data, std::size_t size) {
    std::uint64_t largest = 0;
    for (std::size_t i = 0; i + 9 <= size; ++i) {
        if (data[i] != 0xFF) continue;
        const std::uint8_t marker = data[i + 1];
        // SOF0..SOF15 without DHT (C4), JPG (C8) and DAC (CC).
        if (marker < 0xC0 || marker > 0xCF || marker == 0xC4 || marker == 0xC8 || marker == 0xCC) {
            continue;
        }
        const std::uint64_t height = (std::uint64_t{data[i + 5]} << 8) | data[i + 6];
        const std::uint64_t width = (std::uint64_t{data[i + 7]} << 8) | data[i + 8];
        if (width * height > largest) largest = width * height;
    }
    return largest;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // A few header bytes can claim a picture of hundreds of megabytes, and
    // the decoder sizes the frame before it finds the data missing; such
    // inputs would spend the run in allocating and clearing memory. A
    // Huffman-coded 8 by 8 block takes at least one bit, so whole data of
    // this length holds no more pixels than this (arithmetic coding can, but
    // leaving out its largest pictures costs the search little).
    const std::uint64_t limit = 65536 + 512 * static_cast<std::uint64_t>(size);
    if (largest_claimed_pixels(data, size) > limit) return -1;

    const Result<Frame> decoded = decode_jpeg(size == 0 ? nullptr : data, size);
    if (!decoded) {
        FUZZ_CHECK(!decoded.error().empty());
        return 0;
    }
    const Frame& frame = decoded.value();
    FUZZ_CHECK(!frame.empty());
    FUZZ_CHECK(static_cast<std::uint64_t>(frame.width()) * frame.height() <=
               (std::uint64_t{1} << 29));
    FUZZ_CHECK(frame.stride() >= 3 * static_cast<std::ptrdiff_t>(frame.width()));
    FUZZ_CHECK(frame.stride() % 4 == 0);
    // Every row is there to read: a short buffer shows up under the address
    // sanitizer here.
    std::uint32_t sum = 0;
    for (int r = 0; r < frame.height(); ++r) {
        sum += frame.row(r)[0] + frame.row(r)[3 * frame.width() - 1];
    }
    (void)sum;
    return 0;
}
