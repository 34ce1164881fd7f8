#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/video/video_session.hpp"

namespace tintora {

// The Parameters tab's free-text fields. The texts are what the user typed:
// the preview and the exports read them again, the project file stores them,
// and each field's exit rule turns its text into a stored value.
enum class ParameterField {
    CutX,
    CutY,
    CutWidth,
    CutHeight,
    ResampleWidth,
    ResampleHeight,
    OutputFps,
    Volume,
    StartFrame,
    StopFrame,
    InputFps,
    StaticFrame,
    Count,
};
inline constexpr int kParameterFieldCount = 13;

// The fixed lists of the tab, item texts in order.
inline constexpr std::array<std::string_view, 4> kRotationButtons{"0", "90", "180", "270"};
inline constexpr std::array<int, 4> kRotationAngles{0, 90, 180, 270};
inline constexpr std::array<std::string_view, 12> kResampleItems{
    "No resampling", "Custom",  "320x240",  "240x320",  "640x480",   "480x640",
    "800x600",       "600x800", "1280x960", "960x1280", "1920x1080", "1080x1920"};
inline constexpr std::array<std::string_view, 3> kColorTransformationItems{"No transformation",
                                                                           "Grayscale", "Inverse"};
inline constexpr std::array<std::string_view, 11> kVideoBitrateItems{
    "256", "384", "512", "768", "1024", "1200", "1600", "2400", "5000", "10000", "16000"};
inline constexpr std::array<std::string_view, 3> kChannelItems{"No audio", "Mono", "Stereo"};
inline constexpr std::array<std::string_view, 4> kRateItems{"22050", "44100", "24000", "48000"};
inline constexpr std::array<std::string_view, 9> kAudioBitrateItems{
    "24", "32", "64", "96", "128", "192", "224", "256", "320"};
// How MP4 and WebM spend their bits (FLV keeps the Bitrate list): a
// constant quality, or the Bitrate list's bitrate as FLV. The project file
// stores these texts; the window shows them in the interface language.
inline constexpr std::array<std::string_view, 5> kQualityItems{"Automatic", "High", "Medium",
                                                               "Small", "Bitrate list"};
enum class WebQuality { Automatic, High, Medium, Small, BitrateList };

// The text of a list's item, or empty for an index outside the list (no selection).
template <std::size_t N>
std::string item_text(const std::array<std::string_view, N>& items, int index) {
    return index >= 0 && index < static_cast<int>(N)
               ? std::string(items[static_cast<std::size_t>(index)])
               : std::string();
}

inline constexpr int kNoResampling = 0;
inline constexpr int kCustomResampling = 1;
inline constexpr int kGrayscale = 1;
inline constexpr int kInverse = 2;

// Everything the Parameters tab holds: the field texts, list choices and
// check states, as plain data the windows mirror.
struct VideoParameters {
    std::array<std::string, kParameterFieldCount> texts;  // empty when the window is created

    int rotation_index = 0;            // into kRotationButtons
    bool mirror_horizontally = false;  // rows reversed: upside down
    bool mirror_vertically = false;    // columns reversed: left and right swapped
    int resample_index = kNoResampling;
    int color_transformation_index = 0;
    bool ping_pong = false;
    int video_bitrate_index = 2;  // "512"
    int channels_index = 1;       // "Mono"
    int rate_index = 0;           // "22050"
    int audio_bitrate_index = 2;  // "64"
    // A video export also writes its first frame as NAME.jpg beside it.
    bool poster_image = false;
    int quality_index = 0;  // into kQualityItems: "Automatic"
    // The output rate an import put into its field, the clip's own: while the
    // field still shows it, nobody has chosen another.
    std::string output_fps_from_clip;
    // What the last exit rule has to tell the user (a rate it could not
    // take), in the interface language of the caller; empty when nothing.
    std::string exit_message;

    std::string& text(ParameterField field) { return texts[static_cast<std::size_t>(field)]; }
    const std::string& text(ParameterField field) const {
        return texts[static_cast<std::size_t>(field)];
    }
    int rotation_angle() const;
};

// A whole number as typed: optional blanks around an optional sign and
// decimal digits, within 32 bits; anything else (empty, letters, a decimal
// fraction such as 29.97) is nothing.
std::optional<std::int32_t> parse_whole_number(std::string_view text);
// The whole number of the text, or fallback when it is none.
std::int32_t read_whole_number(std::string_view text, std::int32_t fallback);

// A rate as a field shows it: shortest general notation with up to 15
// significant digits (25 for 25.0, 29.97 for 29.97).
std::string format_rate(double value);
// A frame rate as typed: a decimal number with an optional fraction ("25",
// "29.97", "29,97"), blanks around it allowed; nothing for any other text.
std::optional<double> parse_rate(std::string_view text);
// printf's "%g": at most six significant digits.
std::string format_g(double value);

// What New project puts into the output FPS field. A field that still holds
// it, nothing, or the rate an import put there has not been chosen: an
// import makes it the clip's own rate, so that no frame is dropped or doubled.
inline constexpr std::string_view kNewProjectOutputFps = "18";
bool output_fps_untouched(const VideoParameters& parameters);

// What a field's exit rule asks for next.
enum class AfterExit { Nothing, DrawSelection };

// The exit rule of a field: reads its text (and a partner field's where the
// rule needs it) with the rule's default, clamps in the rule's order, stores
// the value into the session and writes the clamped texts back. The two
// rate fields take decimals (a clip's 29.97 stays 29.97); a rate that is no
// number keeps the rate before, and one out of range is brought into it,
// either way with a word for the user in parameters.exit_message.
AfterExit apply_exit_rule(ParameterField field, VideoSession& session, VideoParameters& parameters,
                          std::string_view language = "eng");

// Picking an item of the resample list: fills (or empties) the two resample
// fields only; FrameWidth and FrameHeight are the defaults of "Custom".
void choose_resample_item(int index, const VideoSession& session, VideoParameters& parameters);

// What "New project" resets of the Parameters tab (the poster check with
// the output's lists). Ping-pong, static frame, count and the input rate
// keep their state.
void reset_parameters_for_new_project(VideoParameters& parameters);

}  // namespace tintora
