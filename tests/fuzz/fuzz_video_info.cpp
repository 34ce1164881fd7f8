// The encoder's words: its description of a clip, as the import reads it
// from 1.tmp, its error output, as a failure message quotes it, and its
// progress report, as the encoding stage follows it.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/video/encoder_report.hpp"
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

    // The reason is one line of the text, as it stands or its start cut
    // at a character's boundary and marked with an ellipsis.
    const std::string reason = failure_reason(text);
    FUZZ_CHECK(reason.find_first_of("\r\n") == std::string::npos);
    const std::string_view ellipsis = "…";
    const bool cut = text.find(reason) == std::string_view::npos && reason.ends_with(ellipsis);
    const std::string_view quoted =
        cut ? std::string_view(reason).substr(0, reason.size() - ellipsis.size()) : reason;
    FUZZ_CHECK(quoted.size() <= kMaxQuotedLine);
    FUZZ_CHECK(text.find(quoted) != std::string_view::npos);

    EncodeProgress progress;
    progress.read(text.substr(0, size / 2));
    progress.read(text.substr(size / 2));
    FUZZ_CHECK(progress.frames() >= 0);
    FUZZ_CHECK(std::isfinite(progress.seconds()) && progress.seconds() >= 0.0);
    return 0;
}
