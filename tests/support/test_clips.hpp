#pragma once

#include <filesystem>
#include <string>

namespace tintora::test {

// The encoder the tests run: TINTORA_FFMPEG (else "ffmpeg") found along PATH;
// empty when there is none.
std::filesystem::path find_encoder();

// A clip of the encoder's moving test picture (and a tone when with_sound),
// made on first use and kept for the rest of the test program. Empty when it
// could not be made.
std::filesystem::path test_clip(const std::string& rate, const std::string& seconds,
                                bool with_sound, const std::string& size = "64x48");

}  // namespace tintora::test
