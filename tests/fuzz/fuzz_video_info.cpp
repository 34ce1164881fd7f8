// The encoder's description of a clip, as the import reads it from 1.tmp.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "core/video/video_import.hpp"
#include "fuzz_check.hpp"

using namespace tintora;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // Only digits and points stand before " fps,", so a rate is never
    // negative and never infinite.
    const std::optional<double> rate = parse_input_fps(text);
    if (rate) FUZZ_CHECK(std::isfinite(*rate) && *rate >= 0.0);

    const std::optional<int> frames = expected_frame_count(text);
    if (frames) {
        FUZZ_CHECK(rate.has_value());
        FUZZ_CHECK(*frames >= 1 && *frames <= kMaxImportedFrames);
    }
    (void)has_audio_stream(text);
    return 0;
}
